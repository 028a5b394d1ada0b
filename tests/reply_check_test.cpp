// The acknowledgement check and the frame-sum check of System 91 reply
// lines, with the exact log lines they write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "n2/frame.h"
#include "n2/reply_check.h"
#include "tests/support/driver_channel.h"

namespace {

// "A" + body + frame sum of body: a well-formed data reply line.
std::string WithSum(const std::string &body) {
  const uint8_t sum = FrameSum(body.data(), static_cast<uint16_t>(body.size()));
  char digits[2];
  BytesToHex(&sum, digits, 1);
  return "A" + body + std::string(digits, 2);
}

TEST(CheckAckNak, ClassifiesEachReplyFormAndLogsWhy) {
  struct Row {
    std::string reply;
    uint8_t writeFlag;
    bool accepted;
    std::vector<std::string> log;  // exact messages, level 32
  };
  const std::string gas = "001AI01HR";
  const Row rows[] = {
      // Anything starting with "A" is an acknowledge, without a log line.
      {"A", 0, true, {}},
      {"A123400008A", 0, true, {}},
      {"Agarbage", 1, true, {}},
      // Under two characters: invalid response.
      {"", 0, false, {"ZAMKT: CheckAckNak() invalid response ''"}},
      {"X", 0, false, {"ZAMKT: CheckAckNak() invalid response 'X'"}},
      {"N", 0, false, {"ZAMKT: CheckAckNak() invalid response 'N'"}},
      {"N", 1, false, {"ZAMKT: CheckAckNak() invalid response 'N'"}},
      // Negative acknowledge: everything after the "N" is the error code.
      {"N03", 0, false, {"ZAMKT:Gate 001AI01HR: Read failed! ErrorCode 03 H "}},
      {"N03", 1, false, {"ZAMKT:Gate 001AI01HR: Write failed! ErrorCode 03 H "}},
      {"N1A2B", 0, false, {"ZAMKT:Gate 001AI01HR: Read failed! ErrorCode 1A2B H "}},
      // Anything else, lower-case "a" and "n" included, is unrecognised; the
      // text is the same for reads and writes.
      {"XY", 0, false, {"ZAMKT:Write failed! Unrecognized reply from PLC"}},
      {"a1234", 0, false, {"ZAMKT:Write failed! Unrecognized reply from PLC"}},
      {"n03", 1, false, {"ZAMKT:Write failed! Unrecognized reply from PLC"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE("'" + row.reply + "' write flag " + std::to_string(row.writeFlag));
    LogCapture log;
    EXPECT_EQ(CheckAckNak(row.reply.c_str(), row.writeFlag, gas.c_str()), row.accepted);
    EXPECT_EQ(log.Messages(), row.log);
    for (const std::string &line : log.Lines()) EXPECT_EQ(line.substr(0, 3), "32\t");
  }
}

TEST(CheckReplySum, AcceptsLinesWhoseLastTwoCharactersAreTheFrameSum) {
  struct Row {
    std::string reply;
    bool accepted;
  };
  const Row rows[] = {
      {"A123400008A", true},       // "12340000" sums to 394, 0x8A
      {"A123400008B", false},      // wrong sum
      {"A123400008a", false},      // the sum in lower-case hex digits
      {"A341200008A", true},       // the sum never includes the leading "A"
      {"N341200008A", true},       // ... whatever that first character is
      {"AFF00004C", true},         // shortest data reply, 9 characters
      {"AFF00014C", false},        // the unchecked characters still count in the sum
      {"A00", true},               // 3 characters: nothing to sum, sum "00"
      {"A01", false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.reply);
    LogCapture log;
    EXPECT_EQ(CheckReplySum(row.reply.c_str()), row.accepted);
    if (row.accepted) {
      EXPECT_TRUE(log.Messages().empty());
    } else {
      EXPECT_EQ(log.Lines(), std::vector<std::string>{"32\tZAMKT: Checksum Error. Plc String " + row.reply + " "});
    }
  }
}

TEST(CheckReplySum, TreatsALineUnderThreeCharactersAsAChecksumError) {
  for (const std::string reply : {"", "A", "A0"}) {
    SCOPED_TRACE("'" + reply + "'");
    LogCapture log;
    EXPECT_FALSE(CheckReplySum(reply.c_str()));
    EXPECT_EQ(log.Messages(), std::vector<std::string>{"ZAMKT: Checksum Error. Plc String " + reply + " "});
  }
}

TEST(CheckReplySum, ChecksLinesLongerThan499CharactersInFull) {
  // A block reply of 32 items is far shorter, but a reply line may reach 999
  // characters; such a line is summed over its whole length, so a fault near
  // its end is still caught.
  for (size_t dataChars : {492u, 493u, 600u, 992u}) {
    SCOPED_TRACE(dataChars);
    std::string body(dataChars, '7');
    body += "0000";
    const std::string good = WithSum(body);
    LogCapture log;
    EXPECT_TRUE(CheckReplySum(good.c_str()));
    std::string bad = good;
    bad[bad.size() - 5] = '8';  // one data character near the end
    EXPECT_FALSE(CheckReplySum(bad.c_str()));
    EXPECT_EQ(log.Messages(), std::vector<std::string>{"ZAMKT: Checksum Error. Plc String " + bad + " "});
  }
}

}  // namespace
