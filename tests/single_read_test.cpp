// Command 5 end to end: the host's read block goes through ZamMain, the
// driver talks to a scripted station on a pseudo-terminal, and the test
// checks every request frame, the value the host gets and the log.
#include <gtest/gtest.h>
#include <math.h>

#include <string>
#include <vector>

#include "driver/requests.h"
#include "tests/support/exchange_fixture.h"
#include "tests/support/expected_frames.h"

namespace {

using Messages = std::vector<std::string>;

class SingleReadTest : public ExchangeFixture {
 protected:
  SingleReadTest() : ExchangeFixture("002 = XT9100\n003 = TC9100\n005 = N2OPEN\n") {}

  Outcome ReadBlock(ReadWriteBlock block, std::vector<DeviceStep> script) {
    return Exchange(std::move(script), [&] { return channel_.Call(kCmdSingleRead, &block); });
  }
};

const std::string kHighRange = System91Frame({0x01, 0x84, 0xC1, 0x04});  // 001AI01HR at 1217

TEST(ReferenceFrames, MatchTheDocumentedExamples) {
  EXPECT_EQ(System91Frame({0x01, 0x80, 0x10}), ">0180105A1405");
  EXPECT_EQ(System91Frame({0x01, 0x83, 0xFF}), ">0183FF710A31");
  EXPECT_EQ(System91Frame({0x01, 0x84, 0x00, 0x04}), ">01840004E09574");
  EXPECT_EQ(System91Frame({0x05, 0xA8, 0x20, 0x0F}), ">05A8200FC55DA7");
  EXPECT_EQ(System91Frame({0x01, 0x98, 0x01, 0x01, 0x02}), ">0198010102F36EEA");
  EXPECT_EQ(N2OpenTextFrame("0504"), ">0504C9");
  EXPECT_EQ(N2OpenTextFrame("05F"), ">05FAB");
}

// ---- request builders -----------------------------------------------------------

struct BuilderRow {
  const char *what;
  const char *gas;
  int32_t station;
  int32_t region;   // special kind
  int32_t element;  // device address, or offset for the special kinds
  int32_t dataType;
  int32_t items;
  std::vector<uint8_t> message;
};

TEST_F(SingleReadTest, EveryReadRequestCarriesItsDocumentedMessageBytes) {
  const BuilderRow rows[] = {
      {"page 0", "001AI01HR", 1, 0, 0x010, kGateReal, 1, {0x01, 0x80, 0x10}},
      {"last address of page 0", "001AI01HR", 1, 0, 255, kGateReal, 1, {0x01, 0x80, 0xFF}},
      {"first address of page 1", "001AI01HR", 1, 0, 256, kGateReal, 1, {0x01, 0x81, 0x00}},
      {"last paged address", "001AI01HR", 1, 0, 1023, kGateReal, 1, {0x01, 0x83, 0xFF}},
      {"first full address", "001AI01HR", 1, 0, 1024, kGateReal, 1, {0x01, 0x84, 0x00, 0x04}},
      {"AI01 HR", "001AI01HR", 1, 0, 1217, kGateReal, 1, {0x01, 0x84, 0xC1, 0x04}},
      {"highest address", "001AI01HR", 1, 0, 0xFFFF, kGateReal, 1, {0x01, 0x84, 0xFF, 0xFF}},
      {"station 255", "255AI01HR", 255, 0, 1217, kGateReal, 1, {0xFF, 0x84, 0xC1, 0x04}},
      {"schedule 1 START1", "001TS01START1", 1, 84, 5, kGateInt32, 1, {0x01, 0x98, 0x10, 0x05, 0x00, 0x00}},
      {"schedule 8 END8", "001TS08END8", 1, 84, 27, kGateInt32, 1, {0x01, 0x98, 0x10, 0x1B, 0x00, 0x07}},
      {"schedule 2 DAYS1", "001TS02DAYS1", 1, 84, 7, kGateInt32, 1, {0x01, 0x98, 0x10, 0x07, 0x00, 0x01}},
      {"schedule of three items", "001TS01START1", 1, 84, 5, kGateInt32, 3, {0x01, 0x98, 0x10, 0x05, 0x02, 0x00}},
      {"clock DATE", "001RTCLDATE", 1, 82, 1, kGateInt32, 1, {0x01, 0x98, 0x01, 0x01, 0x02}},
      {"clock TIME", "001RTCLTIME", 1, 82, 5, kGateInt32, 1, {0x01, 0x98, 0x01, 0x05, 0x02}},
      {"clock WDAY", "001RTCLWDAY", 1, 82, 4, kGateInt32, 1, {0x01, 0x98, 0x01, 0x04, 0x00}},
      {"clock CENT", "001RTCLCENT", 1, 82, 0, kGateInt32, 1, {0x01, 0x98, 0x01, 0x00, 0x00}},
      {"clock point above 1023", "001RTCLTIME", 1, 82, 4100, kGateInt32, 1, {0x01, 0x98, 0x01, 0x05, 0x02}},
      {"schedule point above 1023", "001TS01START1", 1, 84, 2117, kGateInt32, 1, {0x01, 0x98, 0x10, 0x45, 0x00, 0x00}},
      {"lower-case clock GAS", "001rtcltime", 1, 82, 5, kGateInt32, 1, {0x01, 0x98, 0x01, 0x05, 0x02}},
  };
  for (const BuilderRow &row : rows) {
    SCOPED_TRACE(row.what);
    ValueBuffer value;
    std::string frame = System91Frame(row.message);
    Outcome outcome =
        ReadBlock(HostBlock(row.gas, row.station, row.region, row.element, row.dataType, value.bytes, row.items),
                  {Answer(frame, DataReply("000000000000000000000000"))});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.sent, std::vector<std::string>{frame});
    EXPECT_TRUE(outcome.mismatches.empty());
  }
}

// ---- decoding through the whole path ------------------------------------------

enum class Kind { kReal, kWord, kLong };

struct DecodeRow {
  const char *gas;
  int32_t dataType;
  std::vector<uint8_t> message;
  std::string reply;
  Kind kind;
  double expected;
};

TEST_F(SingleReadTest, RepliesAreDecodedByPointTypeAndDataType) {
  const std::vector<uint8_t> highRange = {0x01, 0x84, 0xC1, 0x04};
  const std::vector<uint8_t> tcgcClock = {0x03, 0x80, 0x9E};  // TCGC offset 158
  const std::vector<uint8_t> startTime = {0x01, 0x98, 0x10, 0x05, 0x00, 0x00};
  const std::vector<uint8_t> days = {0x01, 0x98, 0x10, 0x07, 0x00, 0x00};
  const std::vector<uint8_t> clockTime = {0x01, 0x98, 0x01, 0x05, 0x02};
  const std::vector<uint8_t> clockDate = {0x01, 0x98, 0x01, 0x01, 0x02};
  const DecodeRow rows[] = {
      // N2 reals
      {"001AI01HR", kGateReal, highRange, DataReply("64B0"), Kind::kReal, 100.0},
      {"001AI01HR", kGateReal, highRange, DataReply("64B8"), Kind::kReal, -100.0},
      {"001AI01HR", kGateReal, highRange, DataReply("03A0"), Kind::kReal, 1.5},
      {"001AI01HR", kGateReal, highRange, DataReply("0004"), Kind::kReal, 0.5},
      {"001AI01HR", kGateReal, highRange, DataReply("FF07"), Kind::kReal, 0.99951171875},
      {"001AI01HR", kGateReal, highRange, DataReply("FFF7"), Kind::kReal, 32752.0},
      {"001AI01HR", kGateReal, highRange, DataReply("0000"), Kind::kReal, 0.0},
      {"001GCACO1", kGateReal, {0x01, 0x80, 0x22}, DataReply("64B0"), Kind::kReal, 100.0},
      // fields of 16-bit items
      {"003TCGCWDAY", kGateInt16, tcgcClock, DataReply("00E0"), Kind::kWord, 7},
      {"003TCGCMIN", kGateInt16, tcgcClock, DataReply("3B00"), Kind::kWord, 59},
      {"003TCGCHOUR", kGateInt16, tcgcClock, DataReply("0017"), Kind::kWord, 23},
      {"003TCGCMODS", kGateInt16, {0x03, 0x80, 0x20}, DataReply("0600"), Kind::kWord, 2},
      {"003TCGCDST1DY", kGateInt16, {0x03, 0x81, 0x10}, DataReply("0050"), Kind::kWord, 5},
      {"002XP01DOPT", kGateInt16, {0x02, 0x80, 0x44}, DataReply("7F"), Kind::kWord, 127},
      {"001DO03DO@", kGateInt16, {0x01, 0x84, 0x61, 0x05}, DataReply("3412"), Kind::kWord, 0x1234},
      // the four unchecked characters are not data: "1234" is the item
      {"001DO03DO@", kGateInt16, {0x01, 0x84, 0x61, 0x05}, "A123400008A", Kind::kWord, 0x3412},
      // bits
      {"001GCLRS10", kGateDigital, {0x01, 0x80, 0x08}, DataReply("0002"), Kind::kWord, 1},
      {"001GCLRS10", kGateDigital, {0x01, 0x80, 0x08}, DataReply("FFFD"), Kind::kWord, 0},
      {"001GCDI2", kGateDigital, {0x01, 0x80, 0x06}, DataReply("02"), Kind::kWord, 1},
      {"001GCDI2", kGateDigital, {0x01, 0x80, 0x06}, DataReply("FD"), Kind::kWord, 0},
      // 32-bit items
      {"001GCCNTR1", kGateInt32, {0x01, 0x80, 0x0D}, DataReply("10270000"), Kind::kLong, 10000},
      // schedule days and times
      {"001TS01DAYS1", kGateInt32, days, DataReply("0100"), Kind::kLong, 1},
      {"001TS01DAYS1", kGateInt32, days, DataReply("0500"), Kind::kLong, 13},
      {"001TS01DAYS1", kGateInt32, days, DataReply("6000"), Kind::kLong, 67},
      {"001TS01DAYS1", kGateInt32, days, DataReply("8000"), Kind::kLong, 8},
      {"001TS01DAYS1", kGateInt32, days, DataReply("FF00"), Kind::kLong, 12345678},
      {"001TS01DAYS1", kGateInt32, days, DataReply("1F00"), Kind::kLong, 9},
      {"001TS01DAYS1", kGateInt32, days, DataReply("7F00"), Kind::kLong, 0},
      {"001TS01DAYS1", kGateInt32, days, DataReply("0000"), Kind::kLong, 0},
      {"001TS01START1", kGateInt32, startTime, DataReply("3008"), Kind::kLong, 510},
      {"001TS01START1", kGateInt32, startTime, DataReply("0024"), Kind::kLong, 1439},
      {"001TS01START1", kGateInt32, startTime, DataReply("5923"), Kind::kLong, 1439},
      {"001TS01START1", kGateInt32, startTime, DataReply("0000"), Kind::kLong, 0},
      // clock
      {"001RTCLTIME", kGateInt32, clockTime, DataReply("123045"), Kind::kLong, 45045},
      {"001RTCLDATE", kGateInt32, clockDate, DataReply("800101"), Kind::kLong, 1},
      {"001RTCLDATE", kGateInt32, clockDate, DataReply("800301"), Kind::kLong, 61},
      {"001RTCLDATE", kGateInt32, clockDate, DataReply("000101"), Kind::kLong, 7306},
      {"001RTCLDATE", kGateInt32, clockDate, DataReply("000301"), Kind::kLong, 7366},
      {"001RTCLDATE", kGateInt32, clockDate, DataReply("991231"), Kind::kLong, 7305},
      {"001RTCLDATE", kGateInt32, clockDate, DataReply("380119"), Kind::kLong, 21204},
      {"001RTCLDATE", kGateInt32, clockDate, DataReply("390101"), Kind::kLong, 0},
      {"001RTCLWDAY", kGateInt32, {0x01, 0x98, 0x01, 0x04, 0x00}, DataReply("03"), Kind::kLong, 3},
      {"001RTCLCENT", kGateInt32, {0x01, 0x98, 0x01, 0x00, 0x00}, DataReply("19"), Kind::kLong, 19},
  };
  for (const DecodeRow &row : rows) {
    SCOPED_TRACE(std::string(row.gas) + " " + row.reply);
    ValueBuffer value;
    std::string frame = System91Frame(row.message);
    Outcome outcome =
        Exchange({Answer(frame, row.reply)}, [&] { return channel_.Read(row.gas, row.dataType, value.bytes); });
    ASSERT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.mismatches.empty()) << outcome.mismatches.front();
    switch (row.kind) {
      case Kind::kReal:
        EXPECT_EQ(value.Real(), static_cast<float>(row.expected));
        EXPECT_TRUE(value.Untouched(4, 8));
        break;
      case Kind::kWord:
        EXPECT_EQ(value.Word(), static_cast<uint16_t>(row.expected));
        EXPECT_TRUE(value.Untouched(0, 2));
        EXPECT_TRUE(value.Untouched(4, 8));
        break;
      case Kind::kLong:
        EXPECT_EQ(value.Long(), static_cast<int32_t>(row.expected));
        EXPECT_TRUE(value.Untouched(4, 8));
        break;
    }
  }
  EXPECT_TRUE(log_.Messages().empty());
}

TEST_F(SingleReadTest, NegativeZeroKeepsItsSign) {
  ValueBuffer value;
  Outcome outcome = Exchange({Answer(kHighRange, DataReply("0008"))},
                             [&] { return channel_.Read("001AI01HR", kGateReal, value.bytes); });
  ASSERT_EQ(outcome.status, 0);
  EXPECT_EQ(value.Real(), 0.0f);
  EXPECT_TRUE(signbit(value.Real()));
}

// Clock and schedule values travel as decimal digits: a reply whose digits
// are hex, or name a time the day does not have, is a bad reply like any
// other (status 1, nothing stored, the next attempt tried), and a good reply
// to the next attempt is taken. A century without a number once left the
// value as it was with status 0.
struct DecimalRow {
  const char *what;
  const char *gas;
  std::vector<uint8_t> message;
  std::string bad;
  std::string good;
  int32_t expected;
};

TEST_F(SingleReadTest, DecimalValuesWithOtherDigitsAreBadReplies) {
  const std::vector<uint8_t> cent = {0x01, 0x98, 0x01, 0x00, 0x00};
  const std::vector<uint8_t> wday = {0x01, 0x98, 0x01, 0x04, 0x00};
  const std::vector<uint8_t> time = {0x01, 0x98, 0x01, 0x05, 0x02};
  const std::vector<uint8_t> date = {0x01, 0x98, 0x01, 0x01, 0x02};
  const std::vector<uint8_t> start = {0x01, 0x98, 0x10, 0x05, 0x00, 0x00};
  const DecimalRow rows[] = {
      {"century without a number", "001RTCLCENT", cent, "AB", "20", 20},
      {"century with a hex digit", "001RTCLCENT", cent, "1A", "19", 19},
      {"weekday with a hex digit", "001RTCLWDAY", wday, "0C", "03", 3},
      {"time with a hex digit", "001RTCLTIME", time, "1A3045", "123045", 45045},
      {"time at hour 24", "001RTCLTIME", time, "240000", "235959", 86399},
      {"time at minute 60", "001RTCLTIME", time, "126000", "000000", 0},
      {"date with a hex digit", "001RTCLDATE", date, "8001F1", "800101", 1},
      {"schedule time 99:99", "001TS01START1", start, "9999", "0024", 1439},
      {"schedule time at minute 60", "001TS01START1", start, "6008", "3008", 510},
      {"schedule time 24:01", "001TS01START1", start, "0124", "5923", 1439},
      {"schedule time with a hex digit", "001TS01START1", start, "3A08", "0000", 0},
  };
  for (const DecimalRow &row : rows) {
    SCOPED_TRACE(row.what);
    log_.Clear();
    const std::string frame = System91Frame(row.message);
    const std::string bad = DataReply(row.bad);
    ValueBuffer value;
    Outcome outcome = Exchange(std::vector<DeviceStep>(5, Answer(frame, bad)),
                               [&] { return channel_.Read(row.gas, kGateInt32, value.bytes); });
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(value.Untouched(0, sizeof value.bytes));
    Messages expected(5, "ZAMKT: SingleRead() response data not a decimal value '" + bad + "'");
    expected.push_back(std::string("ZAMKT: Single Read failed! GAS=") + row.gas + " rc = 1");
    EXPECT_EQ(log_.Messages(), expected);

    outcome = Exchange({Answer(frame, bad), Answer(frame, DataReply(row.good))},
                       [&] { return channel_.Read(row.gas, kGateInt32, value.bytes); });
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.sent, std::vector<std::string>(2, frame)) << "the bad reply was retried";
    EXPECT_EQ(value.Long(), row.expected);
  }
}

// ---- status rules ---------------------------------------------------------------

struct StatusRow {
  const char *what;
  std::vector<DeviceStep> script;
  int32_t status;
  Messages log;
};

TEST_F(SingleReadTest, StatusRanksAnyReplyOverSilenceAndSuccessOverBoth) {
  const std::string badSum = "A64B00000FF";
  const std::string good = DataReply("64B0");
  const std::string failed1 = "ZAMKT: Single Read failed! GAS=001AI01HR rc = 1";
  const std::string tooShort = "ZAMKT: SingleRead() response string too short 'A'";
  const DeviceStep silent = Silence(kHighRange);
  const StatusRow rows[] = {
      {"checksum error then four silences",
       {Answer(kHighRange, badSum), silent, silent, silent, silent},
       1,
       {"ZAMKT: Checksum Error. Plc String A64B00000FF ", failed1}},
      {"five silences",
       {silent, silent, silent, silent, silent},
       2,
       {"ZAMKT: Single Read failed! GAS=001AI01HR rc = 2"}},
      {"checksum error then a good reply",
       {Answer(kHighRange, badSum), Answer(kHighRange, good)},
       0,
       {"ZAMKT: Checksum Error. Plc String A64B00000FF "}},
      {"silence then a good reply", {silent, Answer(kHighRange, good)}, 0, {}},
      {"four silences then a checksum error",
       {silent, silent, silent, silent, Answer(kHighRange, badSum)},
       1,
       {"ZAMKT: Checksum Error. Plc String A64B00000FF ", failed1}},
      {"negative acknowledgement then silence",
       {Answer(kHighRange, "N03"), silent, silent, silent, silent},
       1,
       {"ZAMKT:Gate 001AI01HR: Read failed! ErrorCode 03 H ", failed1}},
      {"bare acknowledgements",
       {Answer(kHighRange, "A"), Answer(kHighRange, "A"), Answer(kHighRange, "A"), Answer(kHighRange, "A"),
        Answer(kHighRange, "A")},
       1,
       {tooShort, tooShort, tooShort, tooShort, tooShort, failed1}},
      {"acknowledged line of eight characters",
       {Answer(kHighRange, "A64B0000"), silent, silent, silent, silent},
       1,
       {"ZAMKT: SingleRead() response string too short 'A64B0000'", failed1}},
      {"lone N",
       {Answer(kHighRange, "N"), silent, silent, silent, silent},
       1,
       {"ZAMKT: CheckAckNak() invalid response 'N'", failed1}},
      {"unrecognised reply",
       {Answer(kHighRange, "XYZ"), silent, silent, silent, silent},
       1,
       {"ZAMKT:Write failed! Unrecognized reply from PLC", failed1}},
  };
  for (const StatusRow &row : rows) {
    SCOPED_TRACE(row.what);
    log_.Clear();
    ValueBuffer value;
    Outcome outcome = Exchange(row.script, [&] { return channel_.Read("001AI01HR", kGateReal, value.bytes); });
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(outcome.sent.size(), row.script.size());
    EXPECT_TRUE(outcome.mismatches.empty()) << outcome.mismatches.front();
    EXPECT_EQ(log_.Messages(), row.log);
    if (row.status == 0) {
      EXPECT_EQ(value.Real(), 100.0f);
    } else {
      EXPECT_TRUE(value.Untouched(0, sizeof value.bytes)) << "a failed read leaves the buffer alone";
    }
  }
}

// A reply that passes its checks but carries fewer data digits than the
// gate's item takes is refused: the missing digits would otherwise reach the
// host as zeros that the station never sent.
struct DataFieldRow {
  const char *what;
  const char *gas;
  int32_t dataType;
  const char *data;
  int32_t status;
};

TEST_F(SingleReadTest, RepliesShortOfTheItemsDigitsAreRefused) {
  const DataFieldRow rows[] = {
      {"real from two digits", "001AI01HR", kGateReal, "64", 1},
      {"counter from four digits", "001GCCNTR1", kGateInt32, "1027", 1},
      {"schedule time from two digits", "001TS01START1", kGateInt32, "30", 1},
      {"clock time from four digits", "001RTCLTIME", kGateInt32, "1230", 1},
      {"clock date from five digits", "001RTCLDATE", kGateInt32, "99123", 1},
      {"16-bit item from three digits", "001DO03DO@", kGateInt16, "7F1", 1},
      {"bit of a 16-bit item from two digits", "001GCLRS10", kGateDigital, "02", 1},
      {"16-bit item from one whole byte", "001DO03DO@", kGateInt16, "7F", 0},
      {"bit of an 8-bit item from two digits", "001GCDI1", kGateDigital, "01", 0},
      {"schedule days from two digits", "001TS01DAYS1", kGateInt32, "05", 0},
      {"clock century from two digits", "001RTCLCENT", kGateInt32, "19", 0},
  };
  for (const DataFieldRow &row : rows) {
    SCOPED_TRACE(row.what);
    log_.Clear();
    ValueBuffer value;
    const std::string reply = DataReply(row.data);
    Outcome outcome = Exchange({Answer("", reply), Silence(""), Silence(""), Silence(""), Silence("")},
                               [&] { return channel_.Read(row.gas, row.dataType, value.bytes); });
    EXPECT_EQ(outcome.status, row.status);
    if (row.status == 0) {
      EXPECT_TRUE(log_.Messages().empty()) << log_.Messages().front();
      continue;
    }
    EXPECT_EQ(log_.Messages(), (Messages{"ZAMKT: SingleRead() response string too short '" + reply + "'",
                                         std::string("ZAMKT: Single Read failed! GAS=") + row.gas + " rc = 1"}));
    EXPECT_TRUE(value.Untouched(0, sizeof value.bytes));
  }
}

TEST_F(SingleReadTest, MessagesPrintTheUpperCasedGas) {
  ValueBuffer value;
  const DeviceStep silent = Silence(kHighRange);
  Outcome outcome = ReadBlock(HostBlock("001ai01hr", 1, 0, 1217, kGateReal, value.bytes),
                              {Answer(kHighRange, "N10"), silent, silent, silent, silent});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(log_.Messages(), (Messages{"ZAMKT:Gate 001AI01HR: Read failed! ErrorCode 10 H ",
                                       "ZAMKT: Single Read failed! GAS=001AI01HR rc = 1"}));
}

// ---- requests refused before anything is sent ----------------------------------

struct RefusalRow {
  const char *what;
  ReadWriteBlock block;
  Messages log;
};

TEST_F(SingleReadTest, RequestsTheDriverCannotAddressAreRefusedWithoutSending) {
  ValueBuffer value;
  const std::string longGas = "001AI01HR" + std::string(23, 'X');  // 32 characters
  const RefusalRow rows[] = {
      {"station 0",
       HostBlock("001AI01HR", 0, 0, 1217, kGateReal, value.bytes),
       {"ZAMKT: SingleRead() invalid station 0. GAS=001AI01HR"}},
      {"station 256",
       HostBlock("001AI01HR", 256, 0, 1217, kGateReal, value.bytes),
       {"ZAMKT: SingleRead() invalid station 256. GAS=001AI01HR"}},
      {"negative station",
       HostBlock("001AI01HR", -1, 0, 1217, kGateReal, value.bytes),
       {"ZAMKT: SingleRead() invalid station -1. GAS=001AI01HR"}},
      {"bit 16 of a digital gate",
       HostBlock("001GCLRS10", 1, 0, 8, kGateDigital, value.bytes, 1, 16),
       {"ZAMKT: SingleRead() invalid bit 16. GAS=001GCLRS10"}},
      {"digital gate without a bit",
       HostBlock("001GCLRS10", 1, 0, 8, kGateDigital, value.bytes, 1, 255),
       {"ZAMKT: SingleRead() invalid bit 255. GAS=001GCLRS10"}},
      {"no GAS", HostBlock(nullptr, 1, 0, 1217, kGateReal, value.bytes), {"ZAMKT: SingleRead() no GAS given"}},
      {"no value buffer",
       HostBlock("001AI01HR", 1, 0, 1217, kGateReal, nullptr),
       {"ZAMKT: SingleRead() no value buffer. GAS=001AI01HR"}},
      {"no item",
       HostBlock("001AI01HR", 1, 0, 1217, kGateReal, value.bytes, 0),
       {"ZAMKT: SingleRead() invalid item count 0. GAS=001AI01HR"}},
      {"33 items",
       HostBlock("001AI01HR", 1, 0, 1217, kGateReal, value.bytes, 33),
       {"ZAMKT: SingleRead() invalid item count 33. GAS=001AI01HR"}},
      {"a data type no decoding stores",
       HostBlock("001AI01HR", 1, 0, 1217, kGateUInt16, value.bytes),
       {"ZAMKT: SingleRead() invalid data type 1. GAS=001AI01HR"}},
      {"GAS of 32 characters",
       HostBlock(longGas.c_str(), 1, 0, 1217, kGateReal, value.bytes),
       {"ZAMKT: SingleRead() GAS longer than 31 characters. GAS=" + longGas.substr(0, 31)}},
      {"point not in the tables",
       HostBlock("001AI01XX", 1, 0, 1217, kGateReal, value.bytes),
       {"ZAMKT:Illegal Tag Name. GAS = 001AI01XX", "ZAMKT: Single Read failed! GAS=001AI01XX rc = 1"}},
      {"N2 Open region below 1001",
       HostBlock("005AO012", 5, 1000, 12, kGateReal, value.bytes),
       {"ZAMKT01: SingleRead() invalid N2OPEN region 1000 element 12. GAS=005AO012"}},
      {"N2 Open region above 1012",
       HostBlock("005AO012", 5, 1013, 12, kGateReal, value.bytes),
       {"ZAMKT01: SingleRead() invalid N2OPEN region 1013 element 12. GAS=005AO012"}},
      {"N2 Open element 0",
       HostBlock("005AO000", 5, 1003, 0, kGateReal, value.bytes),
       {"ZAMKT01: SingleRead() invalid N2OPEN region 1003 element 0. GAS=005AO000"}},
      {"N2 Open element 257",
       HostBlock("005AO257", 5, 1003, 257, kGateReal, value.bytes),
       {"ZAMKT01: SingleRead() invalid N2OPEN region 1003 element 257. GAS=005AO257"}},
  };
  for (const RefusalRow &row : rows) {
    SCOPED_TRACE(row.what);
    log_.Clear();
    Outcome outcome = ReadBlock(row.block, {});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.sent.empty());
    EXPECT_EQ(log_.Messages(), row.log);
    EXPECT_TRUE(value.Untouched(0, sizeof value.bytes));
  }
  EXPECT_EQ(channel_.context()->n2openInitialised[5], 0) << "no initialisation for a refused gate";
}

// ---- N2 Open stations -----------------------------------------------------------

const std::string kIdentify = ">0504C9";
const std::string kStatus = ">05FAB";
const std::string kItemRead = ">05130B029D";  // 005AO012

TEST_F(SingleReadTest, FirstN2OpenReadInitialisesTheStationOnce) {
  ValueBuffer value;
  Outcome first = Exchange({Answer(kIdentify, "A"), Answer(kStatus, "A"), Answer(kItemRead, "A0041200000E7")},
                           [&] { return channel_.Read("005AO012", kGateReal, value.bytes); });
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.sent, (std::vector<std::string>{kIdentify, kStatus, kItemRead}));
  EXPECT_EQ(value.Real(), 10.0f);
  EXPECT_EQ(channel_.context()->n2openInitialised[5], 1);
  EXPECT_EQ(log_.Messages(), (Messages{"ZAMKT01: SingleRead() Initializing 'N2OPEN' station 5",
                                       "ZAMKT01: SingleRead() 'N2OPEN' station 5 initialized successfully"}));

  Outcome second = Exchange({Answer(kItemRead, N2OpenDataReply("0041A00000"))},
                            [&] { return channel_.Read("005AO012", kGateReal, value.bytes); });
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.sent, std::vector<std::string>{kItemRead});
  EXPECT_EQ(value.Real(), 20.0f);
}

TEST_F(SingleReadTest, FailedInitialisationIsReturnedAndTheItemIsNotRead) {
  ValueBuffer value;
  std::vector<DeviceStep> script;
  for (int i = 0; i < 5; ++i) script.push_back(Answer(kIdentify, "N00"));
  for (int i = 0; i < 5; ++i) script.push_back(Answer(kStatus, "N02"));
  Outcome outcome = Exchange(script, [&] { return channel_.Read("005AO012", kGateReal, value.bytes); });
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.sent.size(), 10u);
  EXPECT_TRUE(outcome.mismatches.empty()) << outcome.mismatches.front();
  EXPECT_EQ(channel_.context()->n2openInitialised[5], 0);
  EXPECT_TRUE(log_.Contains("ZAMKT01: SingleRead() Failed to Initialize 'N2OPEN' station 5 rc = 1"));
  EXPECT_TRUE(value.Untouched(0, sizeof value.bytes));
}

TEST_F(SingleReadTest, FailedN2OpenItemReadReinitialisesAndNeverFallsIntoSystem91) {
  channel_.context()->n2openInitialised[5] = 1;
  ValueBuffer value;
  std::vector<DeviceStep> script(5, Answer(kItemRead, "N10"));
  script.push_back(Answer(kIdentify, "A"));
  script.push_back(Answer(kStatus, "A"));
  Outcome outcome = Exchange(script, [&] { return channel_.Read("005AO012", kGateReal, value.bytes); });
  EXPECT_EQ(outcome.status, 1) << "the item read failed, whatever the re-initialisation gave";
  EXPECT_EQ(outcome.sent.size(), script.size()) << "nothing but the N2 Open frames";
  EXPECT_TRUE(outcome.mismatches.empty()) << outcome.mismatches.front();
  EXPECT_TRUE(log_.Contains("ZAMKT01: SingleRead() Failed to read N2OPEN Tag Address '005AO012' rc = 1"));
  for (const std::string &message : log_.Messages()) {
    EXPECT_EQ(message.find("Single Read failed"), std::string::npos) << message;
    EXPECT_EQ(message.find("Illegal"), std::string::npos) << message;
  }
}

TEST_F(SingleReadTest, FailedReinitialisationAfterABadItemReadGivesItsOwnStatus) {
  channel_.context()->n2openInitialised[5] = 1;
  ValueBuffer value;
  std::vector<DeviceStep> script(5, Answer(kItemRead, "N10"));
  for (int i = 0; i < 5; ++i) script.push_back(Silence(kIdentify));
  for (int i = 0; i < 5; ++i) script.push_back(Silence(kStatus));
  Outcome outcome = Exchange(script, [&] { return channel_.Read("005AO012", kGateReal, value.bytes); });
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.sent.size(), script.size());
  EXPECT_TRUE(outcome.mismatches.empty()) << outcome.mismatches.front();
  EXPECT_EQ(channel_.context()->n2openInitialised[5], 1);
}

TEST_F(SingleReadTest, SilentN2OpenItemReadReturns2WithoutReinitialising) {
  channel_.context()->n2openInitialised[5] = 1;
  ValueBuffer value;
  std::vector<DeviceStep> script(5, Silence(kItemRead));
  Outcome outcome = Exchange(script, [&] { return channel_.Read("005AO012", kGateReal, value.bytes); });
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.sent.size(), 5u);
  EXPECT_TRUE(outcome.mismatches.empty()) << outcome.mismatches.front();
  EXPECT_EQ(log_.Messages(), (Messages{"ZAMKT01: N2OPEN_DoReadItem() failed GAS=005AO012",
                                       "ZAMKT01: SingleRead() Failed to read N2OPEN Tag Address '005AO012' rc = 2"}));
}

}  // namespace
