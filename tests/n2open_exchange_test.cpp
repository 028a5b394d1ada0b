// The N2 Open exchange end to end: station initialisation, item reads with
// their error texts and value decoding, and item writes, driven through
// ZamMain (commands 5 and 7) against a scripted N2 Open station 5.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "driver/requests.h"
#include "n2open/item_exchange.h"
#include "tests/support/exchange_fixture.h"
#include "tests/support/expected_frames.h"

namespace {

using Messages = std::vector<std::string>;

// The examples of the station-5 frames.
const std::string kIdentify = ">0504C9";
const std::string kStatus = ">05FAB";
const std::string kItemRead = ">05130B029D";  // 005AO012
const std::string kTenPointZero = "A0041200000E7";

std::vector<DeviceStep> Times(int count, const DeviceStep &step) { return std::vector<DeviceStep>(count, step); }

std::vector<DeviceStep> Then(std::vector<DeviceStep> first, const std::vector<DeviceStep> &second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

class N2OpenExchangeTest : public ExchangeFixture {
 protected:
  N2OpenExchangeTest() : ExchangeFixture("005 = N2OPEN\n") {}

  void MarkInitialised() { channel_.context()->n2openInitialised[5] = 1; }

  Outcome Read(const std::string &gas, int32_t dataType, ValueBuffer *value, std::vector<DeviceStep> script) {
    return Exchange(std::move(script), [&] { return channel_.Read(gas, dataType, value->bytes); });
  }

  Outcome Write(const std::string &gas, int32_t dataType, ValueBuffer *value, std::vector<DeviceStep> script) {
    return Exchange(std::move(script), [&] { return channel_.Write(gas, dataType, value->bytes); });
  }
};

TEST(N2OpenFrames, ReferenceFramesMatchTheDocumentedExamples) {
  EXPECT_EQ(N2OpenFrame({0x05, 0x04}), kIdentify);
  EXPECT_EQ(N2OpenTextFrame("05F"), kStatus);
  EXPECT_EQ(N2OpenFrame({0x05, 0x13, 0x0B, 0x02}), kItemRead);
  EXPECT_EQ(N2OpenFrame({0x05, 0x72, 0x06, 0x02, 0x12, 0x34}), ">05720602123460");
  EXPECT_EQ(N2OpenFrame({0x05, 0x73, 0x03, 0x0B}), ">0573030BA4");
}

// ---- initialisation ---------------------------------------------------------------

struct InitRow {
  const char *what;
  std::vector<DeviceStep> script;
  int32_t status;  // of the read, which returns a failed initialisation's result
  Messages log;
};

TEST_F(N2OpenExchangeTest, InitialisationRunsBothExchangesAndReportsTheLastFailure) {
  const std::string noReply = "ZAMKT01: N2OPEN_InitStation() failed to read response. Station 5";
  const std::string initialising = "ZAMKT01: SingleRead() Initializing 'N2OPEN' station 5";
  const std::string initialised = "ZAMKT01: SingleRead() 'N2OPEN' station 5 initialized successfully";
  const DeviceStep item = Answer(kItemRead, kTenPointZero);
  const InitRow rows[] = {
      {"answered at once", {Answer(kIdentify, "A"), Answer(kStatus, "A"), item}, 0, {initialising, initialised}},
      {"each frame answered only at its second attempt",
       {Silence(kIdentify), Answer(kIdentify, "A"), Silence(kStatus), Answer(kStatus, "A"), item},
       0,
       {initialising, noReply, noReply, initialised}},
      {"each frame refused once",
       {Answer(kIdentify, "N00"), Answer(kIdentify, "A"), Answer(kStatus, "N03"), Answer(kStatus, "A"), item},
       0,
       {initialising, "ZAMKT01: N2OPEN_InitStation() failed. Station 5 Device is reset",
        "ZAMKT01: N2OPEN_InitStation() failed. Station 5 Input buffer overrun", initialised}},
      {"first frame never answered, second frame still sent",
       Then(Times(5, Silence(kIdentify)), {Answer(kStatus, "A")}),
       2,
       {initialising, noReply, noReply, noReply, noReply, noReply,
        "ZAMKT01: SingleRead() Failed to Initialize 'N2OPEN' station 5 rc = 2"}},
      {"first frame always refused", Then(Times(5, Answer(kIdentify, "N12")), {Answer(kStatus, "A")}), 1, {}},
      {"second exchange silent after a refused first",
       Then(Times(5, Answer(kIdentify, "N00")), Times(5, Silence(kStatus))),
       2,
       {}},
      {"second exchange refused after a silent first",
       Then(Times(5, Silence(kIdentify)), Times(5, Answer(kStatus, "N05"))),
       1,
       {}},
      {"second exchange silent after a good first", Then({Answer(kIdentify, "A")}, Times(5, Silence(kStatus))), 2, {}},
  };
  for (const InitRow &row : rows) {
    SCOPED_TRACE(row.what);
    channel_.context()->n2openInitialised[5] = 0;
    log_.Clear();
    ValueBuffer value;
    Outcome outcome = Read("005AO012", kGateReal, &value, row.script);
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(outcome.sent.size(), row.script.size());
    EXPECT_TRUE(outcome.mismatches.empty()) << outcome.mismatches.front();
    EXPECT_EQ(channel_.context()->n2openInitialised[5], row.status == 0 ? 1 : 0);
    if (!row.log.empty()) {
      EXPECT_EQ(log_.Messages(), row.log);
    }
    if (row.status != 0) {
      char rc[80];
      snprintf(rc, sizeof rc, "ZAMKT01: SingleRead() Failed to Initialize 'N2OPEN' station 5 rc = %d", row.status);
      EXPECT_TRUE(log_.Contains(rc));
      EXPECT_TRUE(value.Untouched(0, sizeof value.bytes));
    }
  }
}

// ---- item read replies ------------------------------------------------------------

struct ReplyRow {
  const char *what;
  std::vector<std::string> badReplies;  // each answered to one attempt, then a good reply
  Messages log;
};

TEST_F(N2OpenExchangeTest, RefusedItemReadsAreLoggedWithTheErrorText) {
  MarkInitialised();
  const std::string prefix = "ZAMKT01: MigDoReadItem() failed. Tag address 005AO012: ";
  const ReplyRow rows[] = {
      {"N00", {"N00"}, {prefix + "Device is reset"}},
      {"N01", {"N01"}, {prefix + "Undefined Command"}},
      {"N02", {"N02"}, {prefix + "Checksum error"}},
      {"N03", {"N03"}, {prefix + "Input buffer overrun"}},
      {"N04", {"N04"}, {prefix + " "}},
      {"N05", {"N05"}, {prefix + "Data field error"}},
      {"N06", {"N06"}, {prefix + " "}},
      {"N09", {"N09"}, {prefix + " "}},
      {"N10", {"N10"}, {prefix + "Invalid Data (Point doesn't exist)"}},
      {"N11", {"N11"}, {prefix + "Invalid command for data type"}},
      {"N12", {"N12"}, {prefix + "Command rejected: device problem"}},
      {"N13", {"N13"}, {prefix + "Invalid error response"}},
      {"N99", {"N99"}, {prefix + "Invalid error response"}},
      {"NXY", {"NXY"}, {prefix + "Invalid error response"}},
      {"one digit", {"N1"}, {prefix + "Undefined Command"}},
      {"bare N", {"N"}, {"ZAMKT: N2_TestAckNak() invalid response 'N'", prefix}},
      {"empty line", {""}, {"ZAMKT: N2_TestAckNak() invalid response ''", prefix}},
      {"unrecognised line", {"XY"}, {prefix}},
      {"unrecognised line after a refusal keeps the earlier text",
       {"N10", "XY"},
       {prefix + "Invalid Data (Point doesn't exist)", prefix + "Invalid Data (Point doesn't exist)"}},
      {"bare acknowledgement", {"A"}, {"ZAMKT: N2OPEN_DoReadItem() response string too short 'A'"}},
      {"data too short for the region",
       {N2OpenDataReply("0041")},
       {"ZAMKT01: N2OPEN_StoreData. Tag '005AO012' response string too short '" + N2OpenDataReply("0041") + "'"}},
      {"bad frame sum",
       {"A0041200000E8"},
       {"ZAMKT: Checksum Error. Plc String A0041200000E8 ",
        "ZAMKT01: MigDoReadItem() failed. Tag address 005AO012. Bad checksum: A0041200000E8"}},
  };
  for (const ReplyRow &row : rows) {
    SCOPED_TRACE(row.what);
    log_.Clear();
    std::vector<DeviceStep> script;
    for (const std::string &reply : row.badReplies) script.push_back(Answer(kItemRead, reply));
    script.push_back(Answer(kItemRead, kTenPointZero));
    ValueBuffer value;
    Outcome outcome = Read("005AO012", kGateReal, &value, script);
    EXPECT_EQ(outcome.status, 0) << "a good reply on a later attempt wins";
    EXPECT_EQ(outcome.sent.size(), script.size());
    EXPECT_TRUE(outcome.mismatches.empty()) << outcome.mismatches.front();
    EXPECT_EQ(value.Real(), 10.0f);
    EXPECT_EQ(log_.Messages(), row.log);
  }
}

TEST_F(N2OpenExchangeTest, ItemReadStatusIsThatOfTheLastAttempt) {
  MarkInitialised();
  ValueBuffer value;
  // Refused four times, then silent: 2, and no re-initialisation.
  Outcome silentLast =
      Read("005AO012", kGateReal, &value, Then(Times(4, Answer(kItemRead, "N10")), {Silence(kItemRead)}));
  EXPECT_EQ(silentLast.status, 2);
  EXPECT_EQ(silentLast.sent.size(), 5u);
  EXPECT_TRUE(log_.Contains("ZAMKT01: N2OPEN_DoReadItem() failed GAS=005AO012"));
  EXPECT_TRUE(log_.Contains("ZAMKT01: SingleRead() Failed to read N2OPEN Tag Address '005AO012' rc = 2"));

  // Silent four times, then refused: 1, and the station is initialised again.
  log_.Clear();
  Outcome refusedLast = Read(
      "005AO012", kGateReal, &value,
      Then(Times(4, Silence(kItemRead)), {Answer(kItemRead, "N10"), Answer(kIdentify, "A"), Answer(kStatus, "A")}));
  EXPECT_EQ(refusedLast.status, 1);
  EXPECT_EQ(refusedLast.sent.size(), 7u);
  EXPECT_TRUE(refusedLast.mismatches.empty()) << refusedLast.mismatches.front();
  EXPECT_TRUE(log_.Contains("ZAMKT01: SingleRead() Failed to read N2OPEN Tag Address '005AO012' rc = 1"));
  EXPECT_TRUE(value.Untouched(0, sizeof value.bytes));
}

// ---- value decoding by region -----------------------------------------------------

enum class Kind { kReal, kWord };

struct RegionRow {
  const char *gas;
  int32_t dataType;
  std::vector<uint8_t> message;
  std::string reply;
  Kind kind;
  double expected;
};

TEST_F(N2OpenExchangeTest, ItemReadsAddressTheRegionAndDecodeItsValue) {
  MarkInitialised();
  const RegionRow rows[] = {
      {"005AI001", kGateReal, {0x05, 0x11, 0x00, 0x02}, "A0041200000E7", Kind::kReal, 10.0},
      {"005AO012", kGateReal, {0x05, 0x13, 0x0B, 0x02}, N2OpenDataReply("00C1200000"), Kind::kReal, -10.0},
      {"005AF100", kGateReal, {0x05, 0x15, 0x63, 0x02}, N2OpenDataReply("003FC00000"), Kind::kReal, 1.5},
      {"005AO256", kGateReal, {0x05, 0x13, 0xFF, 0x02}, N2OpenDataReply("0041200000"), Kind::kReal, 10.0},
      {"005BI002", kGateDigital, {0x05, 0x12, 0x01, 0x02}, N2OpenDataReply("40"), Kind::kWord, 1},
      {"005BI002", kGateDigital, {0x05, 0x12, 0x01, 0x02}, N2OpenDataReply("BF"), Kind::kWord, 0},
      {"005BO003", kGateDigital, {0x05, 0x14, 0x02, 0x02}, N2OpenDataReply("40"), Kind::kWord, 1},
      {"005AD005", kGateInt16, {0x05, 0x16, 0x04, 0x02}, "A1234CA", Kind::kWord, 0x1234},
      {"005AD005", kGateUInt16, {0x05, 0x16, 0x04, 0x02}, N2OpenDataReply("FFFE"), Kind::kWord, 0xFFFE},
      {"005BD006", kGateInt16, {0x05, 0x17, 0x05, 0x02}, N2OpenDataReply("12AB"), Kind::kWord, 0xAB},
      {"005AO007_O", kGateDigital, {0x05, 0x13, 0x06, 0x02}, N2OpenDataReply("02"), Kind::kWord, 1},
      {"005AO007_O", kGateDigital, {0x05, 0x13, 0x06, 0x02}, N2OpenDataReply("FD"), Kind::kWord, 0},
      {"005BO008_O", kGateDigital, {0x05, 0x14, 0x07, 0x02}, N2OpenDataReply("02"), Kind::kWord, 1},
      {"005AF009_O", kGateDigital, {0x05, 0x15, 0x08, 0x02}, N2OpenDataReply("02"), Kind::kWord, 1},
      {"005AD010_O", kGateDigital, {0x05, 0x16, 0x09, 0x02}, N2OpenDataReply("02"), Kind::kWord, 1},
      {"005BD011_O", kGateDigital, {0x05, 0x17, 0x0A, 0x02}, N2OpenDataReply("02"), Kind::kWord, 1},
  };
  for (const RegionRow &row : rows) {
    SCOPED_TRACE(std::string(row.gas) + " " + row.reply);
    ValueBuffer value;
    std::string frame = N2OpenFrame(row.message);
    Outcome outcome = Read(row.gas, row.dataType, &value, {Answer(frame, row.reply)});
    ASSERT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.sent, std::vector<std::string>{frame});
    if (row.kind == Kind::kReal) {
      EXPECT_EQ(value.Real(), static_cast<float>(row.expected));
    } else {
      EXPECT_EQ(value.Word(), static_cast<uint16_t>(row.expected));
      EXPECT_TRUE(value.Untouched(0, 2));
    }
    EXPECT_TRUE(value.Untouched(4, sizeof value.bytes));
  }
  EXPECT_TRUE(log_.Messages().empty());
}

struct ShortRow {
  const char *gas;
  int32_t dataType;
  std::vector<uint8_t> message;
  std::string reply;
};

TEST_F(N2OpenExchangeTest, ReplyLinesTooShortForTheRegionAreRefusedAndStoreNothing) {
  MarkInitialised();
  const ShortRow rows[] = {
      {"005AI001", kGateReal, {0x05, 0x11, 0x00, 0x02}, N2OpenDataReply("00412000")},  // 11 of 13
      {"005AO001", kGateReal, {0x05, 0x13, 0x00, 0x02}, N2OpenDataReply("0041")},      // 7 of 13
      {"005AD001", kGateInt16, {0x05, 0x16, 0x00, 0x02}, N2OpenDataReply("12")},       // 5 of 7
      {"005BD001", kGateInt16, {0x05, 0x17, 0x00, 0x02}, N2OpenDataReply("12")},       // 5 of 7
      {"005BI001", kGateDigital, {0x05, 0x12, 0x00, 0x02}, N2OpenDataReply("4")},      // 4 of 5
      {"005AO001_O", kGateDigital, {0x05, 0x13, 0x00, 0x02}, N2OpenDataReply("2")},    // 4 of 5
  };
  for (const ShortRow &row : rows) {
    SCOPED_TRACE(row.gas);
    log_.Clear();
    ValueBuffer value;
    std::string frame = N2OpenFrame(row.message);
    // Each attempt gets the short reply; then the station is initialised again.
    Outcome outcome = Read(row.gas, row.dataType, &value,
                           Then(Times(5, Answer(frame, row.reply)), {Answer(kIdentify, "A"), Answer(kStatus, "A")}));
    EXPECT_EQ(outcome.status, 1);
    std::vector<std::string> sent(5, frame);
    sent.insert(sent.end(), {kIdentify, kStatus});
    EXPECT_EQ(outcome.sent, sent);
    EXPECT_TRUE(value.Untouched(0, sizeof value.bytes));
    EXPECT_TRUE(log_.Contains("ZAMKT01: N2OPEN_StoreData. Tag '" + std::string(row.gas) +
                              "' response string too short '" + row.reply + "'"));
  }
}

// ---- item writes ------------------------------------------------------------------

struct WriteRow {
  const char *gas;
  int32_t dataType;
  float real;
  uint16_t word;
  std::vector<uint8_t> message;
};

TEST_F(N2OpenExchangeTest, ItemWritesSendTheRegionsDataMostSignificantByteFirst) {
  MarkInitialised();
  const WriteRow rows[] = {
      {"005AD003", kGateInt16, 0, 0x1234, {0x05, 0x72, 0x06, 0x02, 0x12, 0x34}},
      {"005AO012_O", kGateDigital, 0, 1, {0x05, 0x73, 0x03, 0x0B}},
      {"005BO010_O", kGateDigital, 0, 0, {0x05, 0x73, 0x04, 0x09}},
      {"005BD256_O", kGateDigital, 0, 0, {0x05, 0x73, 0x07, 0xFF}},
      {"005AO012", kGateReal, 10.0f, 0, {0x05, 0x72, 0x03, 0x0B, 0x41, 0x20, 0x00, 0x00}},
      {"005AF001", kGateReal, -2.5f, 0, {0x05, 0x72, 0x05, 0x00, 0xC0, 0x20, 0x00, 0x00}},
      {"005BO001", kGateDigital, 0, 1, {0x05, 0x72, 0x04, 0x00, 0x01}},
      {"005BO001", kGateDigital, 0, 256, {0x05, 0x72, 0x04, 0x00, 0x00}},
      {"005BO001", kGateDigital, 0, 0x12, {0x05, 0x72, 0x04, 0x00, 0x12}},
      {"005BD002", kGateUInt16, 0, 0x01FF, {0x05, 0x72, 0x07, 0x01, 0xFF}},
  };
  for (const WriteRow &row : rows) {
    SCOPED_TRACE(row.gas);
    ValueBuffer value;
    value.SetReal(row.real);
    if (row.dataType != kGateReal) value.SetWord(row.word);
    std::string frame = N2OpenFrame(row.message);
    Outcome outcome = Write(row.gas, row.dataType, &value, {Answer(frame, "A")});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.sent, std::vector<std::string>{frame});
  }
}

TEST_F(N2OpenExchangeTest, InputRegionsCannotBeWrittenAndNothingIsSent) {
  MarkInitialised();
  for (const char *gas : {"005AI001", "005BI001"}) {
    SCOPED_TRACE(gas);
    log_.Clear();
    ValueBuffer value;
    value.SetReal(1.0f);
    Outcome outcome = Write(gas, std::string(gas).substr(3, 2) == "AI" ? kGateReal : kGateDigital, &value, {});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.sent.empty());
    EXPECT_TRUE(
        log_.Contains("ZAMKT01: N2OPEN_DoWriteItem() failed. Tag " + std::string(gas) + " Write not supported"));
    EXPECT_TRUE(log_.Contains("ZAMKT01: N2OPEN_DoWriteItem() failed GAS=" + std::string(gas)));
  }
}

TEST_F(N2OpenExchangeTest, WriteStatusIsThatOfTheLastAttempt) {
  MarkInitialised();
  const std::string frame = ">05720602123460";
  ValueBuffer value;
  value.SetWord(0x1234);

  Outcome refused = Write("005AD003", kGateInt16, &value,
                          Then(Times(5, Answer(frame, "N11")), {Answer(kIdentify, "A"), Answer(kStatus, "A")}));
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.mismatches.empty()) << refused.mismatches.front();
  EXPECT_TRUE(
      log_.Contains("ZAMKT01: N2OPEN_DoWriteItem() failed. Tag address 005AD003: "
                    "Invalid command for data type"));
  EXPECT_TRUE(log_.Contains("ZAMKT01: N2OPEN_DoWriteItem() failed GAS=005AD003"));

  log_.Clear();
  Outcome silent = Write("005AD003", kGateInt16, &value, Times(5, Silence(frame)));
  EXPECT_EQ(silent.status, 2);
  EXPECT_EQ(silent.sent.size(), 5u);
  EXPECT_EQ(log_.Messages()[0], "ZAMKT01: N2OPEN_DoWriteItem() failed GAS=005AD003");

  log_.Clear();
  Outcome late = Write("005AD003", kGateInt16, &value, {Silence(frame), Answer(frame, "N05"), Answer(frame, "A")});
  EXPECT_EQ(late.status, 0) << "a write acknowledgement is a bare A";
  EXPECT_EQ(late.sent.size(), 3u);
  EXPECT_EQ(log_.Messages(), Messages{"ZAMKT01: N2OPEN_DoWriteItem() failed. Tag address 005AD003: Data field error"});
}

TEST_F(N2OpenExchangeTest, ItemWritesBeyondTheFramesFieldsAreRefusedWithoutAWriteFrame) {
  MarkInitialised();
  struct Row {
    const char *gas;
    int32_t region;
    int32_t element;
  };
  const Row rows[] = {{"005AO257", 1003, 257}, {"005AO000", 1003, 0}, {"005AO012", 1013, 12}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.gas);
    log_.Clear();
    ValueBuffer value;
    value.SetReal(1.0f);
    ReadWriteBlock block = HostBlock(row.gas, 5, row.region, row.element, kGateReal, value.bytes);
    // The write handler refuses such a gate before anything goes out.
    Outcome outcome =
        Exchange({Answer("", "A"), Answer("", "A")}, [&] { return channel_.Call(kCmdSingleWrite, &block); });
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.sent.empty()) << outcome.sent.front();
    char refusal[120];
    snprintf(refusal, sizeof refusal, "ZAMKT01: SingleWrite() invalid N2OPEN region %d element %d. GAS=%s",
             row.region, row.element, row.gas);
    EXPECT_TRUE(log_.Contains(refusal)) << refusal;

    // The item write itself refuses them too, whoever calls it.
    log_.Clear();
    DriverRequest request;
    memset(&request, 0, sizeof request);
    request.context = channel_.context();
    request.parameters = &block;
    EXPECT_EQ(N2OPEN_DoWriteItem(&request), 1);
    if (row.region == 1013) {
      EXPECT_TRUE(log_.Contains("ZAMKT01: N2OPEN_DoWriteItem() failed. Tag 005AO012 Write not supported"));
    } else {
      snprintf(refusal, sizeof refusal,
               "ZAMKT01: N2OPEN_DoWriteItem() invalid station 5 region 1003 element %d. GAS=%s", row.element, row.gas);
      EXPECT_TRUE(log_.Contains(refusal)) << refusal;
    }
  }
}

}  // namespace
