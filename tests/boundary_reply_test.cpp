// Reply lines at the limits, end to end through ZamMain against a scripted
// station: lines at the 999 characters a reply may hold and past them, NUL
// bytes, data that is no upper-case hex, a right frame sum over wrong data or
// over data too short for the point. No malformed line may end as a value in
// the host's buffer; each is refused with its message and retried.
#include <gtest/gtest.h>
#include <poll.h>
#include <string.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "driver/requests.h"
#include "tests/support/exchange_fixture.h"
#include "tests/support/expected_frames.h"

namespace {

using Messages = std::vector<std::string>;

// A System 91 data reply from its parts: "A", the data, the four check
// characters, the frame sum over both (the sum is right whatever they hold).
std::string Reply(const std::string &data, const std::string &check = "0000") {
  return "A" + data + check + FrameSumHex(data + check);
}

template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

std::vector<DeviceStep> Times(int count, const DeviceStep &step) { return std::vector<DeviceStep>(count, step); }

std::vector<DeviceStep> Then(std::vector<DeviceStep> first, const std::vector<DeviceStep> &second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

Messages Repeat(const std::string &message, int count) { return Messages(static_cast<size_t>(count), message); }

Messages Then(Messages first, const Messages &second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

class ReplyBoundary : public ExchangeFixture {
 protected:
  ReplyBoundary() : ExchangeFixture("020 = TC9100\n005 = N2OPEN\n") {}
};

// 001AI01HR: the full-address memory read of the item at 1217, a real.
const std::string kHighRange = System91Frame({0x01, 0x84, 0xC1, 0x04});
const std::string kReadFailed1 = "ZAMKT: Single Read failed! GAS=001AI01HR rc = 1";
const std::string kReadFailed2 = "ZAMKT: Single Read failed! GAS=001AI01HR rc = 2";
const std::string kCrNotFound = "ZAMKT: Error. CR not found in PLC Reply!";

std::string NotHex(const std::string &reply) {
  return "ZAMKT: SingleRead() response data not upper-case hex '" + reply + "'";
}
std::string TooShort(const std::string &reply) { return "ZAMKT: SingleRead() response string too short '" + reply + "'"; }

struct HighRangeRow {
  const char *what;
  std::vector<DeviceStep> script;
  int32_t status;
  Messages messages;  // every message of the read, in order
};

// A line of exactly `length` characters that is a good reply of 100.0 (the
// data field padded with zero digits).
std::string GoodReplyOfLength(size_t length) { return Reply("64B0" + std::string(length - 11, '0')); }

TEST_F(ReplyBoundary, HighRangeReadTakesOnlyWellFormedRepliesAsItsValue) {
  const std::string good = Reply("64B0");  // 100.0
  const DeviceStep silent = Silence(kHighRange);
  const std::string long999 = GoodReplyOfLength(999);
  std::string long999BadSum = long999;
  long999BadSum.back() = long999BadSum.back() == '0' ? '1' : '0';
  const std::string long1000 = GoodReplyOfLength(1000);
  const std::string nulAfter = good + Bytes("\0ZZ");
  const std::string nulAfterSeen = good + "?ZZ";
  // A NUL inside the data, with a frame sum that is right over the line as
  // the checks see it.
  const std::string nulInside = "A64" + Bytes("\0") + "00000" + FrameSumHex("64?00000");
  const std::string nulInsideSeen = "A64?00000" + FrameSumHex("64?00000");
  const std::string lowerCase = Reply("64b0");
  const std::string notHex = Reply("64G0");
  const std::string oneByte = Reply("64");
  const std::string threeDigits = Reply("64B");

  const HighRangeRow rows[] = {
      {"a reply of 999 characters is read whole, its sum checked over all of it",
       {Answer(kHighRange, long999)}, 0, {}},
      {"a reply of 999 characters with a wrong sum is refused",
       Then({Answer(kHighRange, long999BadSum)}, Times(4, silent)), 1,
       {"ZAMKT: Checksum Error. Plc String " + long999BadSum + " ", kReadFailed1}},
      {"a line of 1000 characters is no reply, however often it comes",
       Times(5, Answer(kHighRange, long1000)), 2, Then(Repeat(kCrNotFound, 5), {kReadFailed2})},
      {"a line of 1000 characters, then a good reply", {Answer(kHighRange, long1000), Answer(kHighRange, good)}, 0,
       {kCrNotFound}},
      {"a NUL behind a good reply does not hide the bytes after it",
       Then({Answer(kHighRange, nulAfter)}, Times(4, silent)), 1,
       {"ZAMKT: Checksum Error. Plc String " + nulAfterSeen + " ", kReadFailed1}},
      {"a NUL inside the data is no hex digit", Then({Answer(kHighRange, nulInside)}, Times(4, silent)), 1,
       {NotHex(nulInsideSeen), kReadFailed1}},
      {"lower-case hex digits under a right sum", Then({Answer(kHighRange, lowerCase)}, Times(4, silent)), 1,
       {NotHex(lowerCase), kReadFailed1}},
      {"a non-hex character under a right sum", Then({Answer(kHighRange, notHex)}, Times(4, silent)), 1,
       {NotHex(notHex), kReadFailed1}},
      {"one data byte for a 16-bit item under a right sum", Then({Answer(kHighRange, oneByte)}, Times(4, silent)), 1,
       {TooShort(oneByte), kReadFailed1}},
      {"three data digits for a 16-bit item under a right sum",
       Then({Answer(kHighRange, threeDigits)}, Times(4, silent)), 1, {TooShort(threeDigits), kReadFailed1}},
      {"a refused reply, then a good one", {Answer(kHighRange, lowerCase), Answer(kHighRange, good)}, 0,
       {NotHex(lowerCase)}},
      // The four check characters before the frame sum are not examined: the
      // frame sum alone vouches for the line.
      {"wrong Fletcher check characters under a right sum", {Answer(kHighRange, Reply("64B0", "FFFF"))}, 0, {}},
      {"more data than the item needs: the first item is taken", {Answer(kHighRange, Reply("64B01234"))}, 0, {}},
      {"an empty line", Then({Answer(kHighRange, "")}, Times(4, silent)), 1,
       {"ZAMKT: CheckAckNak() invalid response ''", kReadFailed1}},
  };
  for (const HighRangeRow &row : rows) {
    SCOPED_TRACE(row.what);
    log_.Clear();
    ValueBuffer value;
    Outcome outcome = Exchange(row.script, [&] { return channel_.Read("001AI01HR", kGateReal, value.bytes); });
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(outcome.sent.size(), row.script.size());
    EXPECT_TRUE(outcome.mismatches.empty()) << ::testing::PrintToString(outcome.mismatches);
    EXPECT_EQ(log_.Messages(), row.messages);
    if (row.status == 0) {
      EXPECT_EQ(value.Real(), 100.0f);
      EXPECT_TRUE(value.Untouched(4, sizeof value.bytes));
    } else {
      EXPECT_TRUE(value.Untouched(0, sizeof value.bytes)) << "a failed read leaves the buffer alone";
    }
  }
}

// ---- data too short for the point, by kind of point ------------------------------

struct ShortRow {
  const char *gas;
  int32_t dataType;
  std::vector<uint8_t> request;
  std::string data;  // under a right frame sum
  int32_t status;    // 1: too short for the point, 0: enough
};

void PrintTo(const ShortRow &row, std::ostream *out) { *out << row.gas << " with data '" << row.data << "'"; }

TEST_F(ReplyBoundary, DataShorterThanThePointNeedsIsRefusedNeverFilledUp) {
  const ShortRow rows[] = {
      // A 32-bit counter needs its four bytes.
      {"001GCCNTR1", kGateInt32, {0x01, 0x80, 0x0D}, "102700", 1},
      {"001GCCNTR1", kGateInt32, {0x01, 0x80, 0x0D}, "10270000", 0},
      // A bit of a 16-bit item needs the word, a bit of an 8-bit item one byte.
      {"001GCLRS10", kGateDigital, {0x01, 0x80, 0x08}, "02", 1},
      {"001GCLRS10", kGateDigital, {0x01, 0x80, 0x08}, "0002", 0},
      {"001GCDI2", kGateDigital, {0x01, 0x80, 0x06}, "02", 0},
      // A field of the high byte needs the word; one of the low byte, or a
      // whole word that the station keeps in one byte, may come as one byte.
      {"020TCGCHOUR", kGateInt16, {0x14, 0x80, 0x9E}, "17", 1},
      {"020TCGCHOUR", kGateInt16, {0x14, 0x80, 0x9E}, "0017", 0},
      {"020TCGCMIN", kGateInt16, {0x14, 0x80, 0x9E}, "3B", 0},
      // Clock time and date need all six digits; a schedule time four; the
      // day mask one byte.
      {"001RTCLTIME", kGateInt32, {0x01, 0x98, 0x01, 0x05, 0x02}, "1230", 1},
      {"001RTCLTIME", kGateInt32, {0x01, 0x98, 0x01, 0x05, 0x02}, "123045", 0},
      {"001RTCLDATE", kGateInt32, {0x01, 0x98, 0x01, 0x01, 0x02}, "8001", 1},
      {"001TS01START1", kGateInt32, {0x01, 0x98, 0x10, 0x05, 0x00, 0x00}, "30", 1},
      {"001TS01START1", kGateInt32, {0x01, 0x98, 0x10, 0x05, 0x00, 0x00}, "3008", 0},
      {"001TS01DAYS1", kGateInt32, {0x01, 0x98, 0x10, 0x07, 0x00, 0x00}, "01", 0},
  };
  for (const ShortRow &row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row));
    log_.Clear();
    ValueBuffer value;
    const std::string request = System91Frame(row.request);
    const std::string reply = Reply(row.data);
    const std::vector<DeviceStep> script =
        row.status == 0 ? std::vector<DeviceStep>{Answer(request, reply)} : Times(5, Answer(request, reply));
    Outcome outcome = Exchange(script, [&] { return channel_.Read(row.gas, row.dataType, value.bytes); });
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_TRUE(outcome.mismatches.empty()) << ::testing::PrintToString(outcome.mismatches);
    if (row.status != 0) {
      EXPECT_TRUE(value.Untouched(0, sizeof value.bytes));
      EXPECT_TRUE(log_.Contains(TooShort(reply)));
      EXPECT_TRUE(log_.Contains(std::string("ZAMKT: Single Read failed! GAS=") + row.gas + " rc = 1"));
    } else {
      EXPECT_TRUE(log_.Messages().empty()) << ::testing::PrintToString(log_.Messages());
    }
  }
}

TEST_F(ReplyBoundary, BlockReadNeedsTheDataOfEveryItem) {
  const std::string request = System91Frame({0x01, 0xA8, 0x22, 0x03});  // GC ACO1..ACO4
  const std::string threeItems = Reply("64B064B864B0");
  ValueBuffer value;
  ReadWriteBlock block = HostBlock("001GCACO1", 1, 0, 34, kGateReal, value.bytes, 4);
  Outcome outcome = Exchange(Times(5, Answer(request, threeItems)), [&] { return channel_.Call(kCmdBlockRead, &block); });
  EXPECT_EQ(outcome.status, 1);
  EXPECT_TRUE(value.Untouched(0, sizeof value.bytes));
  EXPECT_EQ(log_.Messages(), Then(Repeat("ZAMKT: BlockRead() response string too short '" + threeItems + "'", 5),
                                  {"ZAMKT: Block Read failed! GAS=001GCACO1 rc = 1"}));

  log_.Clear();
  outcome = Exchange({Answer(request, Reply("64B064B864B00004"))}, [&] { return channel_.Call(kCmdBlockRead, &block); });
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(value.At<float>(12), 0.5f);
}

// A bit write puts the word it read back into the device again: a read-back
// that is no hex would change the other bits of the word.
TEST_F(ReplyBoundary, ReadBackThatIsNoHexSendsNoWriteFrame) {
  const std::string read = System91Frame({0x01, 0x80, 0x0A});  // GC DCO1..DCO16
  const std::string lowerCase = Reply("00ff");
  uint8_t on[8] = {0, 0, 1, 0};
  Outcome outcome =
      Exchange(Times(5, Answer(read, lowerCase)), [&] { return channel_.Write("001GCDCO1", kGateDigital, on); });
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.sent, std::vector<std::string>(5, read)) << "no write frame went out";
  EXPECT_EQ(log_.Messages(), Then(Repeat("ZAMKT: ReadBackWord() response data not upper-case hex '" + lowerCase + "'", 5),
                                  {"ZAMKT: Single Write failed! GAS=001GCDCO1"}));
}

TEST_F(ReplyBoundary, N2OpenItemReadThatIsNoHexIsRefused) {
  channel_.context()->n2openInitialised[5] = 1;
  const std::string request = N2OpenFrame({0x05, 0x13, 0x0B, 0x02});  // 005AO012
  const std::string lowerCase = N2OpenDataReply("0041200a00");
  const std::vector<DeviceStep> script = Then(Times(5, Answer(request, lowerCase)),
                                              {Answer(N2OpenFrame({0x05, 0x04}), "A"), Answer(N2OpenTextFrame("05F"), "A")});
  ValueBuffer value;
  Outcome outcome = Exchange(script, [&] { return channel_.Read("005AO012", kGateReal, value.bytes); });
  EXPECT_EQ(outcome.status, 1);
  EXPECT_TRUE(outcome.mismatches.empty()) << ::testing::PrintToString(outcome.mismatches);
  EXPECT_TRUE(value.Untouched(0, sizeof value.bytes));
  EXPECT_TRUE(log_.Contains("ZAMKT01: N2OPEN_DoReadItem() response data not upper-case hex '" + lowerCase + "'"));
  EXPECT_TRUE(log_.Contains("ZAMKT01: SingleRead() Failed to read N2OPEN Tag Address '005AO012' rc = 1"));
}

// An overlong line whose tail comes late, after the driver has stopped at
// 1000 characters: the tail is dropped, never taken for the reply to the next
// attempt. The station here plays it by hand: 1000 characters, a pause of
// 100 ms, longer than the 50 ms gap that ends the request in hand, then a
// tail that would read as a good reply of 1.5. The next attempt's frame waits
// for a quiet line, so the tail is dropped before it goes out, and the next
// request gets the true reply, 100.0.
TEST_F(ReplyBoundary, TailOfAnOverlongLineIsNotTakenForTheNextReply) {
  // A per-byte time-out well above the station's pause.
  ASSERT_EQ(channel_.Close(), 0);
  ASSERT_EQ(channel_.Init(pty_.portName(), 100), 0);
  log_.Clear();

  std::vector<std::string> requests;
  std::thread station([&] {
    requests.push_back(pty_.ReadUntil('\r', 5000));
    pty_.Write(std::string(1000, 'X'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty_.Write(Reply("0016") + "\r");  // 1.5
    requests.push_back(pty_.ReadUntil('\r', 5000));
    pty_.Write(Reply("64B0") + "\r");  // 100.0
  });
  ValueBuffer value;
  const int32_t status = channel_.Read("001AI01HR", kGateReal, value.bytes);
  station.join();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(value.Real(), 100.0f);
  EXPECT_EQ(requests, std::vector<std::string>(2, kHighRange + "\r"));
  EXPECT_EQ(log_.Messages(), Messages{kCrNotFound});
}

}  // namespace
