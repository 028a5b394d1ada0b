// Command 7 end to end: the checks before any traffic, the five attempts and
// the status they add up to, the read-back of read-modify-write points, and
// the N2 Open item write, against a scripted station on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/write_test_helpers.h"

namespace {

using write_test::Concat;
using write_test::HostValue;
using write_test::Repeat;
using write_test::WriteOutcome;

class SingleWriteTest : public write_test::WriteChannelTest {};

// The station received every request of the script, as scripted, and the
// write ended with the status and the messages given.
void ExpectScriptPlayed(const WriteOutcome &out, const std::vector<DeviceStep> &steps, int32_t status,
                        const std::vector<std::string> &messages) {
  EXPECT_EQ(out.status, status);
  std::vector<std::string> expected;
  for (const DeviceStep &step : steps) expected.push_back(step.expect);
  EXPECT_EQ(out.sent, expected);
  EXPECT_TRUE(out.mismatches.empty()) << ::testing::PrintToString(out.mismatches);
  EXPECT_EQ(out.messages, messages);
}

// ACO1 (address 34) with 1.0, the frame of every attempt below.
const char kAco1Frame[] = ">01C02200148582D4";
const char kAco1Failed[] = "ZAMKT: Single Write failed! GAS=001GCACO1";
const char kAco1Nak[] = "ZAMKT:Gate 001GCACO1: Write failed! ErrorCode 03 H ";

TEST_F(SingleWriteTest, ReadOnlyPointsAreRefusedBeforeAnyTraffic) {
  struct Case {
    const char *gas;
    int32_t dataType;
    HostValue value;
  };
  const Case cases[] = {
      {"001GCDI1", kGateDigital, HostValue::Word(1)},   {"001GCLRS33", kGateDigital, HostValue::Word(0)},
      {"001AI01AI", kGateReal, HostValue::Real(1.0f)},  {"030XP01AI1", kGateReal, HostValue::Real(0.0f)},
      {"045TCGCMODS", kGateInt16, HostValue::Word(1)},  {"001RTCLCENT", kGateInt32, HostValue::Long(20)},
      {"001RTCLWDAY", kGateInt32, HostValue::Long(3)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.gas);
    WriteOutcome out = Write(c.gas, c.dataType, c.value, {});
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(out.sent.empty());
    EXPECT_EQ(out.messages, std::vector<std::string>{"ZAMKT: Error. Writing to read only Gate " +
                                                      std::string(c.gas) + "!"});
  }
}

// A missing reply on any attempt outranks refusals: 2 over 1 for writes.
TEST_F(SingleWriteTest, StatusRanksANoReplyAttemptAboveARefusedOne) {
  const std::string kNoReply;  // marks a silent attempt
  struct Case {
    const char *name;
    std::vector<std::string> replies;
    int32_t status;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"acknowledged", {"A"}, 0, {}},
      {"refused then acknowledged", {"N03", "A"}, 0, {kAco1Nak}},
      {"silent then acknowledged", {kNoReply, "A"}, 0, {}},
      {"acknowledged with a damaged rest of line", {"AXYZ"}, 0, {}},
      {"silent then refused four times", {kNoReply, "N03", "N03", "N03", "N03"}, 2,
       Concat<std::string>({Repeat(kAco1Nak, 4), {kAco1Failed}})},
      {"refused four times then silent", {"N03", "N03", "N03", "N03", kNoReply}, 2,
       Concat<std::string>({Repeat(kAco1Nak, 4), {kAco1Failed}})},
      {"refused five times", Repeat("N03", 5), 1, Concat<std::string>({Repeat(kAco1Nak, 5), {kAco1Failed}})},
      {"silent five times", Repeat(kNoReply, 5), 2, {kAco1Failed}},
      {"unrecognised five times", Repeat("XY", 5), 1,
       Concat<std::string>({Repeat("ZAMKT:Write failed! Unrecognized reply from PLC", 5), {kAco1Failed}})},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<DeviceStep> steps;
    for (const std::string &reply : c.replies) {
      steps.push_back(reply.empty() ? Silence(kAco1Frame) : Answer(kAco1Frame, reply));
    }
    WriteOutcome out = Write("001GCACO1", kGateReal, HostValue::Real(1.0f), steps);
    EXPECT_EQ(out.status, c.status);
    EXPECT_EQ(out.sent, Repeat(kAco1Frame, static_cast<int>(c.replies.size())));
    EXPECT_TRUE(out.mismatches.empty()) << ::testing::PrintToString(out.mismatches);
    EXPECT_EQ(out.messages, c.messages);
  }
}

TEST_F(SingleWriteTest, RealIsEncodedOnceBeforeTheAttemptsAndAgainInEach) {
  WriteOutcome out =
      Write("001GCACO1", kGateReal, HostValue::Real(1.0f), {Answer(kAco1Frame, "N03"), Answer(kAco1Frame, "A")});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.traces, Repeat("16 Bit Value = 1400 ", 3));
}

TEST_F(SingleWriteTest, RealsTheDeviceCannotHoldAreRefusedBeforeAnyTraffic) {
  const float cases[] = {32751.0f,
                         -32751.0f,
                         1e30f,
                         std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
  for (float value : cases) {
    SCOPED_TRACE(value);
    WriteOutcome out = Write("001GCACO1", kGateReal, HostValue::Real(value), {});
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(out.sent.empty());
    EXPECT_EQ(out.messages, (std::vector<std::string>{"ZAMKT: Value out of range. Write failed",
                                                      "ZAMKT: Writing a value out of range! GAS = 001GCACO1"}));
  }
}

TEST_F(SingleWriteTest, RealsAtTheEdgeOfTheRangeAreWritten) {
  struct Case {
    float value;
    uint8_t low, high;  // the N2 real, low byte first
  };
  const Case cases[] = {{32750.99f, 0xFE, 0xF7}, {-32750.0f, 0xFE, 0xFF}, {-2.5f, 0x00, 0x2D}, {0.0f, 0x00, 0x00}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    const std::string frame = System91Frame({0x01, 0xC0, 0x22, c.low, c.high});
    WriteOutcome out = Write("001GCACO1", kGateReal, HostValue::Real(c.value), {Answer(frame, "A")});
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.sent, std::vector<std::string>{frame});
  }
}

// No System 91 point takes the data types 1, 2 or 4: refused before any
// attempt, with the reason and the failure line.
TEST_F(SingleWriteTest, GateDataTypesNoPointTakesSendNothing) {
  for (int32_t dataType : {1, 2, 4}) {
    SCOPED_TRACE(dataType);
    HostValue value = HostValue::Long(1);
    ReadWriteBlock block = ParsedBlock("001GCACO1", kGateReal, value.bytes);
    block.gas = "001GCACO1";
    block.dataType = dataType;
    WriteOutcome out = WriteBlock(block, {});
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(out.sent.empty());
    EXPECT_EQ(out.messages, (std::vector<std::string>{
                                "ZAMKT: SingleWrite() invalid data type " + std::to_string(dataType) + ". GAS=001GCACO1",
                                kAco1Failed}));
  }
}

// DCO1 is bit 0 of the word at 10; HDC1 bit 0 of the byte at 134.
TEST_F(SingleWriteTest, FailedReadBackSendsNoWriteFrameOnThatAttempt) {
  const std::string kNoReply;
  const std::string read = System91Frame({0x01, 0x80, 0x0A});
  const std::string write = System91Frame({0x01, 0xC0, 0x0A, 0x01, 0x00});
  const std::string failed = "ZAMKT: Single Write failed! GAS=001GCDCO1";
  const std::string tooShort9 = "ZAMKT: ReadBackWord() response string too short '" + DataReply("00") + "'";
  struct Case {
    const char *name;
    const char *gas;
    std::vector<DeviceStep> steps;
    int32_t status;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"read-back silent every time", "001GCDCO1", std::vector<DeviceStep>(5, Silence(read)), 1, {failed}},
      {"bare acknowledgement", "001GCDCO1", std::vector<DeviceStep>(5, Answer(read, "A")), 1,
       Concat<std::string>({Repeat("ZAMKT: ReadBackWord() response string too short 'A'", 5), {failed}})},
      {"one data byte for a word", "001GCDCO1", std::vector<DeviceStep>(5, Answer(read, DataReply("00"))), 1,
       Concat<std::string>({Repeat(tooShort9, 5), {failed}})},
      {"short line for a byte", "001PM01HDC1",
       std::vector<DeviceStep>(5, Answer(System91Frame({0x01, 0x80, 0x86}), "A0100")), 1,
       Concat<std::string>({Repeat("ZAMKT: ReadBackWord() response string too short 'A0100'", 5),
               {"ZAMKT: Single Write failed! GAS=001PM01HDC1"}})},
      {"bad checksum", "001GCDCO1", std::vector<DeviceStep>(5, Answer(read, "A0000000000")), 1,
       Concat<std::string>({Repeat("ZAMKT: Checksum Error. Plc String A0000000000 ", 5), {failed}})},
      {"read-back refused", "001GCDCO1", std::vector<DeviceStep>(5, Answer(read, "N05")), 1,
       Concat<std::string>({Repeat("ZAMKT:Gate 001GCDCO1: Read failed! ErrorCode 05 H ", 5), {failed}})},
      {"read-back silent once", "001GCDCO1",
       {Silence(read), Answer(read, DataReply("0000")), Answer(write, "A")}, 0, {}},
      {"write silent once", "001GCDCO1",
       {Answer(read, DataReply("0000")), Silence(write), Answer(read, DataReply("0000")), Answer(write, "A")}, 0,
       {}},
      {"write silent, then read-backs silent", "001GCDCO1",
       {Answer(read, DataReply("0000")), Silence(write), Silence(read), Silence(read), Silence(read),
        Silence(read)},
       2, {failed}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ExpectScriptPlayed(Write(c.gas, kGateDigital, HostValue::Word(1), c.steps), c.steps, c.status, c.messages);
  }
}

// Requests no station can be addressed with end with 1 and no traffic.
TEST_F(SingleWriteTest, RequestsThatCannotBeSentAreRefusedWithoutTraffic) {
  HostValue value = HostValue::Word(1);
  const ReadWriteBlock good = [&] {
    ReadWriteBlock block = ParsedBlock("001GCDCO1", kGateDigital, value.bytes);
    block.gas = "001GCDCO1";
    return block;
  }();
  const std::string failed = "ZAMKT: Single Write failed! GAS=001GCDCO1";
  const std::string longGas = "001GCDCO1" + std::string(23, 'X');  // 32 characters
  struct Case {
    const char *name;
    ReadWriteBlock block;
    std::vector<std::string> messages;
  };
  auto with = [&](auto change) {
    ReadWriteBlock block = good;
    change(block);
    return block;
  };
  const Case cases[] = {
      {"station 0", with([](ReadWriteBlock &b) { b.station = 0; }),
       {"ZAMKT: SingleWrite() invalid station 0. GAS=001GCDCO1", failed}},
      {"station 256", with([](ReadWriteBlock &b) { b.station = 256; }),
       {"ZAMKT: SingleWrite() invalid station 256. GAS=001GCDCO1", failed}},
      {"negative station", with([](ReadWriteBlock &b) { b.station = -1; }),
       {"ZAMKT: SingleWrite() invalid station -1. GAS=001GCDCO1", failed}},
      {"bit 16", with([](ReadWriteBlock &b) { b.bit = 16; }), {"ZAMKT: SingleWrite() invalid bit 16. GAS=001GCDCO1", failed}},
      {"no bit", with([](ReadWriteBlock &b) { b.bit = 255; }), {"ZAMKT: SingleWrite() invalid bit 255. GAS=001GCDCO1", failed}},
      {"no value buffer", with([](ReadWriteBlock &b) { b.value = nullptr; }),
       {"ZAMKT: SingleWrite() no value buffer. GAS=001GCDCO1", failed}},
      {"no GAS", with([](ReadWriteBlock &b) { b.gas = nullptr; }),
       {"ZAMKT: SingleWrite() no GAS given", "ZAMKT: Single Write failed! GAS="}},
      {"GAS of 32 characters", with([&](ReadWriteBlock &b) { b.gas = longGas.c_str(); }),
       {"ZAMKT: SingleWrite() GAS longer than 31 characters. GAS=" + longGas.substr(0, 31),
        "ZAMKT: Single Write failed! GAS=" + longGas.substr(0, 31)}},
      {"point not in the tables", with([](ReadWriteBlock &b) { b.gas = "001GCNOPE"; }),
       {"ZAMKT:Illegal Tag Name. GAS = 001GCNOPE", "ZAMKT: Single Write failed! GAS=001GCNOPE"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    WriteOutcome out = WriteBlock(c.block, {});
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(out.sent.empty());
    EXPECT_EQ(out.messages, c.messages);
  }
}

// The block must say what command 3 gave for its GAS: a write built from
// another data type, bit, special kind or address would change another item
// (a 16-bit real written as 4 bytes overwrote its neighbour; special kind 0
// on a schedule time sent a memory write to address 5). Refused before
// anything goes out, naming the field.
TEST_F(SingleWriteTest, BlocksThatDisagreeWithTheirPointAreRefusedWithoutTraffic) {
  struct Case {
    const char *gas;
    int32_t dataType;  // the type the gate is parsed with
    void (*change)(ReadWriteBlock &);
    std::string message;
  };
  const Case cases[] = {
      {"001AI01HR", kGateReal, [](ReadWriteBlock &b) { b.dataType = kGateInt32; },
       "ZAMKT: SingleWrite() data type 5 does not match the point (type code 30). GAS=001AI01HR"},
      {"001AI01HR", kGateReal, [](ReadWriteBlock &b) { b.dataType = 0x100 | kGateInt16; },
       "ZAMKT: SingleWrite() data type 0 does not match the point (type code 30). GAS=001AI01HR"},
      {"001PM01LOCM", kGateDigital, [](ReadWriteBlock &b) { b.bit = 12; },
       "ZAMKT: SingleWrite() bit 12 does not match the point (0). GAS=001PM01LOCM"},
      {"001GCDCO1", kGateDigital, [](ReadWriteBlock &b) { b.bit = 1; },
       "ZAMKT: SingleWrite() bit 1 does not match the point (0). GAS=001GCDCO1"},
      {"001TS01START1", kGateInt32, [](ReadWriteBlock &b) { b.region = 0; },
       "ZAMKT: SingleWrite() region 0 does not match the point (84). GAS=001TS01START1"},
      {"001AI01HR", kGateReal, [](ReadWriteBlock &b) { b.region = 7; },
       "ZAMKT: SingleWrite() region 7 does not match the point (0). GAS=001AI01HR"},
      {"001AI01HR", kGateReal, [](ReadWriteBlock &b) { b.element = 1218; },
       "ZAMKT: SingleWrite() element 1218 does not match the point (1217). GAS=001AI01HR"},
      {"001TS01START1", kGateInt32, [](ReadWriteBlock &b) { b.element = 6; },
       "ZAMKT: SingleWrite() element 6 does not match the point (5). GAS=001TS01START1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message);
    HostValue value = HostValue::Long(1);
    ReadWriteBlock block = ParsedBlock(c.gas, c.dataType, value.bytes);
    block.gas = c.gas;
    c.change(block);
    WriteOutcome out = WriteBlock(block, {});
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(out.sent.empty());
    EXPECT_EQ(out.messages,
              (std::vector<std::string>{c.message, std::string("ZAMKT: Single Write failed! GAS=") + c.gas}));
  }
}

TEST_F(SingleWriteTest, GasIsLookedUpAndReportedInUpperCase) {
  HostValue value = HostValue::Real(1.0f);
  ReadWriteBlock block = ParsedBlock("001GCACO1", kGateReal, value.bytes);
  block.gas = "001gcaco1";
  WriteOutcome out = WriteBlock(block, std::vector<DeviceStep>(5, Answer(kAco1Frame, "N03")));
  EXPECT_EQ(out.status, 1);
  EXPECT_EQ(out.sent, Repeat(kAco1Frame, 5));
  EXPECT_EQ(out.messages, Concat<std::string>({Repeat(kAco1Nak, 5), {kAco1Failed}}));
}

// ---- N2 Open station 5 ------------------------------------------------------

const char kInitFirst[] = ">0504C9";
const char kInitSecond[] = ">05FAB";
const char kWriteAd003[] = ">05720602123460";  // 0x1234 to 005AD003

class N2OpenWriteTest : public write_test::WriteChannelTest {
 protected:
  // The first write of the channel initialises the station.
  void InitialiseStation() {
    WriteOutcome out = Write("005AD003", kGateInt16, HostValue::Word(0x1234),
                             {Answer(kInitFirst, "A"), Answer(kInitSecond, "A"), Answer(kWriteAd003, "A")});
    ASSERT_EQ(out.status, 0);
    ASSERT_TRUE(out.mismatches.empty()) << ::testing::PrintToString(out.mismatches);
  }
};

TEST_F(N2OpenWriteTest, FirstWriteInitialisesTheStationAndLaterOnesDoNot) {
  WriteOutcome first = Write("005AD003", kGateInt16, HostValue::Word(0x1234),
                             {Answer(kInitFirst, "A"), Answer(kInitSecond, "A"), Answer(kWriteAd003, "A")});
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.sent, (std::vector<std::string>{kInitFirst, kInitSecond, kWriteAd003}));
  EXPECT_EQ(first.messages, (std::vector<std::string>{
                                "ZAMKT01: SingleWrite() Initializing 'N2OPEN' station 5",
                                "ZAMKT01: SingleWrite() 'N2OPEN' station 5 initialized successfully",
                            }));
  EXPECT_EQ(channel_.context()->n2openInitialised[5], 1);

  WriteOutcome second = Write("005AD003", kGateInt16, HostValue::Word(0x1234), {Answer(kWriteAd003, "A")});
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.sent, std::vector<std::string>{kWriteAd003});
  EXPECT_TRUE(second.messages.empty());
}

TEST_F(N2OpenWriteTest, ItemWritesCarryTheirRegionsData) {
  ASSERT_NO_FATAL_FAILURE(InitialiseStation());
  struct Case {
    const char *gas;
    int32_t dataType;
    HostValue value;
    std::vector<uint8_t> message;
  };
  const Case cases[] = {
      {"005AO012_O", kGateDigital, HostValue::Word(1), {0x05, 0x73, 0x03, 0x0B}},  // >0573030BA4
      {"005AO012", kGateReal, HostValue::Real(10.0f), {0x05, 0x72, 0x03, 0x0B, 0x41, 0x20, 0x00, 0x00}},
      {"005AF003", kGateReal, HostValue::Real(-1.5f), {0x05, 0x72, 0x05, 0x02, 0xBF, 0xC0, 0x00, 0x00}},
      {"005BO001", kGateDigital, HostValue::Word(1), {0x05, 0x72, 0x04, 0x00, 0x01}},
      {"005BO001", kGateDigital, HostValue::Word(256), {0x05, 0x72, 0x04, 0x00, 0x00}},
      {"005BD002", kGateInt16, HostValue::Word(0x01FF), {0x05, 0x72, 0x07, 0x01, 0xFF}},
      {"005BO001_O", kGateDigital, HostValue::Word(0), {0x05, 0x73, 0x04, 0x00}},
      {"005AD003_O", kGateDigital, HostValue::Word(0), {0x05, 0x73, 0x06, 0x02}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.gas);
    const std::string frame = N2OpenFrame(c.message);
    WriteOutcome out = Write(c.gas, c.dataType, c.value, {Answer(frame, "A")});
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.sent, std::vector<std::string>{frame});
    EXPECT_TRUE(out.messages.empty()) << ::testing::PrintToString(out.messages);
  }
  EXPECT_EQ(N2OpenFrame({0x05, 0x73, 0x03, 0x0B}), ">0573030BA4");
}

// Inputs cannot be written; the refusal is the gate's, so the station is not
// initialised again and nothing at all goes out.
TEST_F(N2OpenWriteTest, InputRegionsAreRefusedWithoutAnyFrame) {
  ASSERT_NO_FATAL_FAILURE(InitialiseStation());
  struct Case {
    const char *gas;
    int32_t dataType;
  };
  for (const Case &c : {Case{"005AI001", kGateReal}, Case{"005BI002", kGateDigital}}) {
    SCOPED_TRACE(c.gas);
    WriteOutcome out = Write(c.gas, c.dataType, HostValue::Long(0), {});
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(out.sent.empty());
    const std::string gas = c.gas;
    EXPECT_EQ(out.messages, (std::vector<std::string>{
                                "ZAMKT01: N2OPEN_DoWriteItem() failed. Tag " + gas + " Write not supported",
                                "ZAMKT01: N2OPEN_DoWriteItem() failed GAS=" + gas,
                                "ZAMKT01: SingleWrite() Failed to Write to N2OPEN Tag Address '" + gas +
                                    "' rc = 1",
                            }));
  }
}

// A gate whose element the element byte cannot carry, or whose region code
// is not an N2 Open region, is refused before the station's initialisation:
// nothing at all goes out.
TEST_F(N2OpenWriteTest, UnaddressableGatesAreRefusedBeforeTheInitialisation) {
  struct Case {
    int32_t region;
    int32_t element;
  };
  for (const Case &c : {Case{1003, 0}, Case{1003, 257}, Case{1006, 999}, Case{1000, 1}, Case{1013, 1}}) {
    SCOPED_TRACE(c.element);
    HostValue value = HostValue::Word(1);
    ReadWriteBlock block = ParsedBlock("005AD003", kGateInt16, value.bytes);
    block.gas = "005AD003";
    block.region = c.region;
    block.element = c.element;
    WriteOutcome out = WriteBlock(block, {});
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(out.sent.empty()) << ::testing::PrintToString(out.sent);
    EXPECT_EQ(out.messages, std::vector<std::string>{"ZAMKT01: SingleWrite() invalid N2OPEN region " +
                                                     std::to_string(c.region) + " element " +
                                                     std::to_string(c.element) + ". GAS=005AD003"});
  }
}

// A failed item write ends the request with a nonzero status; a refused one
// re-initialises the station, and a failed re-initialisation's status wins.
// No System 91 step follows: nothing but N2 Open frames goes out.
TEST_F(N2OpenWriteTest, FailedItemWritesEndWithANonzeroStatus) {
  ASSERT_NO_FATAL_FAILURE(InitialiseStation());
  const std::string refused = "ZAMKT01: N2OPEN_DoWriteItem() failed. Tag address 005AD003: "
                              "Invalid Data (Point doesn't exist)";
  const std::string itemFailed = "ZAMKT01: N2OPEN_DoWriteItem() failed GAS=005AD003";
  struct Case {
    const char *name;
    std::vector<DeviceStep> steps;
    int32_t status;
    std::vector<std::string> messages;
  };
  std::vector<DeviceStep> refusedFiveTimes(5, Answer(kWriteAd003, "N10"));
  const Case cases[] = {
      {"refused, station answers the re-initialisation",
       Concat<DeviceStep>({refusedFiveTimes, {Answer(kInitFirst, "A"), Answer(kInitSecond, "A")}}), 1,
       Concat<std::string>({Repeat(refused, 5),
               {itemFailed, "ZAMKT01: SingleWrite() Failed to Write to N2OPEN Tag Address '005AD003' rc = 1"}})},
      {"refused, re-initialisation refused",
       Concat<DeviceStep>({refusedFiveTimes, std::vector<DeviceStep>(5, Answer(kInitFirst, "N00")),
                           std::vector<DeviceStep>(5, Answer(kInitSecond, "N00"))}),
       1,
       Concat<std::string>({Repeat(refused, 5),
               {itemFailed, "ZAMKT01: SingleWrite() Failed to Write to N2OPEN Tag Address '005AD003' rc = 1"},
               Repeat("ZAMKT01: N2OPEN_InitStation() failed. Station 5 Device is reset", 10)})},
      {"silent", std::vector<DeviceStep>(5, Silence(kWriteAd003)), 2,
       {itemFailed, "ZAMKT01: SingleWrite() Failed to Write to N2OPEN Tag Address '005AD003' rc = 2"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ExpectScriptPlayed(Write("005AD003", kGateInt16, HostValue::Word(0x1234), c.steps), c.steps, c.status, c.messages);
  }
}

TEST_F(N2OpenWriteTest, FailedInitialisationEndsTheRequestAndIsTriedAgainNextTime) {
  WriteOutcome out = Write("005AD003", kGateInt16, HostValue::Word(0x1234),
                           Concat<DeviceStep>({std::vector<DeviceStep>(5, Silence(kInitFirst)),
                                               std::vector<DeviceStep>(5, Silence(kInitSecond))}));
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(out.sent, Concat<std::string>({Repeat(kInitFirst, 5), Repeat(kInitSecond, 5)}));
  EXPECT_EQ(out.messages.front(), "ZAMKT01: SingleWrite() Initializing 'N2OPEN' station 5");
  EXPECT_EQ(out.messages.back(), "ZAMKT01: SingleWrite() Failed to Initialize 'N2OPEN' station 5 rc = 2");
  EXPECT_EQ(channel_.context()->n2openInitialised[5], 0);

  WriteOutcome again = Write("005AD003", kGateInt16, HostValue::Word(0x1234),
                             {Answer(kInitFirst, "A"), Answer(kInitSecond, "A"), Answer(kWriteAd003, "A")});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.sent, (std::vector<std::string>{kInitFirst, kInitSecond, kWriteAd003}));
}

}  // namespace
