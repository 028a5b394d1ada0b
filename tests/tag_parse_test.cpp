// Gate address parsing for System 91 stations, as the host runs it: commands 3
// and 4 through ZamMain on a channel whose station types come from its
// station-type file, with every output of the parse block and every log line.
#include "n2/tag_parse.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/support/driver_channel.h"

namespace {

// Channel 1 with station 10 an XT9100, 20 a TC9100, 5 an N2 Open station and
// every other station a DX9100. The "NUL" port needs no device.
class ParseChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("ZAMKT01.int", "010 = XT9100\n020 = TC9100\n005 = N2OPEN\n");
    ASSERT_EQ(channel_.Init("NUL"), 0);
    ASSERT_TRUE(log_.Contains("ZAMKT01: ReadInitFile() PLC #010 set to type 'XT9100'"));
    log_.Clear();
  }

  TempWorkDir dir_;
  LogCapture log_;
  DriverChannel channel_{1};
};

struct Outputs {
  int32_t station;
  int32_t region;
  int32_t element;
  int32_t bit;
  int32_t width;
};

void ExpectOutputs(const ParseBlock &block, const Outputs &want, const std::string &gas) {
  EXPECT_EQ(block.station, want.station) << gas;
  EXPECT_EQ(block.region, want.region) << gas;
  EXPECT_EQ(block.element, want.element) << gas;
  EXPECT_EQ(block.bit, want.bit) << gas;
  EXPECT_EQ(block.width, want.width) << gas;
}

std::vector<std::string> Expected(const std::string &message) {
  if (message.empty()) return {};
  return {message};
}

// ---- command 3 ------------------------------------------------------------------

struct ParseCase {
  std::string gas;
  int32_t dataType;
  int32_t status;
  Outputs out;
  std::string message;  // the one line logged, empty for none
};

const std::string k31 = "001XT01XTDIC1" + std::string(18, 'Z');  // 31 characters
const std::string k32 = k31 + "Z";                               // 32 characters

const ParseCase kParseCases[] = {
    // Station address: three digits, 1..255.
    {"000GCDI1", 6, 1, {0, 0, 0, 255, 16}, "ZAMKT: SingleParse()  illegal PLC Address. Tag address '000GCDI1'."},
    {"256GCDI1", 6, 1, {256, 0, 0, 255, 16}, "ZAMKT: SingleParse()  illegal PLC Address. Tag address '256GCDI1'."},
    {"01GCDI1", 6, 1, {0, 0, 0, 255, 16}, "ZAMKT: SingleParse() illegal PLC Address. Tag address '01GCDI1'."},
    {"A01GCDI1", 6, 1, {0, 0, 0, 255, 16}, "ZAMKT: SingleParse() illegal PLC Address. Tag address 'A01GCDI1'."},
    {"", 6, 1, {0, 0, 0, 255, 16}, "ZAMKT: SingleParse() illegal PLC Address. Tag address ''."},
    {"255GCDI1", 6, 0, {255, 0, 6, 0, 16}, ""},
    // DX9100 points: base + offset, the bit, width by data type.
    {"001GCDI1", 6, 0, {1, 0, 6, 0, 16}, ""},
    {"001GCLRS33", 6, 0, {1, 0, 44, 0, 16}, ""},
    {"001AI01HR", 3, 0, {1, 0, 1217, 255, 32}, ""},
    {"002PM02LSP", 3, 0, {2, 0, 186, 255, 32}, ""},
    {"012PM03K0", 3, 0, {12, 0, 282, 255, 32}, ""},
    {"001GCCNTR1", 5, 0, {1, 0, 13, 255, 32}, ""},
    {"001DO03DO@", 0, 0, {1, 0, 1377, 255, 16}, ""},
    {"001XT01XTDIC1X", 5, 0, {1, 0, 1533, 255, 32}, ""},
    // Schedule periods and clock values: special kind and offset alone.
    {"001TS02START1", 5, 0, {1, 84, 5, 255, 32}, ""},
    {"001TS01START8", 5, 0, {1, 84, 26, 255, 32}, ""},
    {"001TS02TSOUT", 6, 0, {1, 0, 2134, 1, 16}, ""},
    {"001RTCLTIME", 5, 0, {1, 82, 5, 255, 32}, ""},
    {"001RTCLCENT", 5, 0, {1, 82, 0, 255, 32}, ""},
    // XT9100 and TC9100 stations.
    {"010XP02DI3", 6, 0, {10, 0, 10, 2, 16}, ""},
    {"010XP01DOPT", 0, 0, {10, 0, 68, 255, 16}, ""},
    {"020TCP2ACT", 3, 0, {20, 0, 55, 255, 32}, ""},
    {"020TCGCMIN", 0, 0, {20, 0, 158, 255, 16}, ""},
    // Unknown module or mnemonic.
    {"001AI01HRX", 3, 1, {1, 0, 0, 255, 16}, "ZAMKT:Illegal Tag Name. GAS = 001AI01HRX"},
    {"001PM01HR", 3, 1, {1, 0, 0, 255, 16}, "ZAMKT:Illegal Tag Name. GAS = 001PM01HR"},
    {"001GC", 6, 1, {1, 0, 0, 255, 16}, "ZAMKT:Illegal Tag Name. GAS = 001GC"},
    {"001ai01hr", 3, 1, {1, 0, 0, 255, 16}, "ZAMKT:Illegal Module Name. GAS = 001ai01hr"},
    {"001G", 6, 1, {1, 0, 0, 255, 16}, "ZAMKT:Illegal Module Name. GAS = 001G"},
    {"001", 6, 1, {1, 0, 0, 255, 16}, "ZAMKT:Illegal Module Name. GAS = 001"},
    {"010GCDI1", 6, 1, {10, 0, 0, 255, 16}, "ZAMKT:Illegal Module Name. GAS = 010GCDI1"},
    {"010TCGCMIN", 0, 1, {10, 0, 0, 255, 16}, "ZAMKT:Illegal Module Name. GAS = 010TCGCMIN"},
    {"020XP01AI1", 3, 1, {20, 0, 0, 255, 16}, "ZAMKT:Illegal Module Name. GAS = 020XP01AI1"},
    // Data type that does not suit the point: refused silently, address kept.
    {"001AI01HR", 6, 1, {1, 0, 1217, 255, 16}, ""},
    {"001GCACO1", 1, 1, {1, 0, 34, 255, 16}, ""},
    {"001GCCNTR1", 0, 1, {1, 0, 13, 255, 16}, ""},
    {"001GCDI1", 0, 1, {1, 0, 6, 0, 16}, ""},
    // Length: 31 characters is the longest GAS.
    {k31, 5, 0, {1, 0, 1533, 255, 32}, ""},
    {k32, 5, 1, {0, 0, 0, 255, 16},
     "ZAMKT: SingleParse() Tag address longer than 31 characters. Tag address '" + k31 + "...'."},
};

TEST_F(ParseChannel, Command3GivesTheAddressAndLogsExactlyAsDocumented) {
  for (const ParseCase &c : kParseCases) {
    log_.Clear();
    ParseBlock out;
    EXPECT_EQ(channel_.Parse(c.gas, c.dataType, &out), c.status) << c.gas;
    ExpectOutputs(out, c.out, c.gas);
    EXPECT_EQ(log_.Messages(), Expected(c.message)) << c.gas;
  }
}

TEST_F(ParseChannel, Command3LogsAtTheDriverLevel) {
  channel_.Parse("001ai01hr", 3);
  EXPECT_EQ(log_.Lines(), std::vector<std::string>{"32\tZAMKT:Illegal Module Name. GAS = 001ai01hr"});
}

TEST_F(ParseChannel, Command3OverwritesStaleOutputsOfAnEarlierGate) {
  ParseBlock block;
  memset(&block, 0, sizeof block);
  block.gas = "A01GCDI1";
  block.dataType = 6;
  block.station = 77;
  block.region = 84;
  block.bit = 3;
  block.width = 32;
  EXPECT_EQ(channel_.Call(kCmdSingleParse, &block), 1);
  ExpectOutputs(block, {0, 0, 0, 255, 16}, block.gas);
}

TEST_F(ParseChannel, MissingGasIsRefusedByBothParseCommands) {
  for (int32_t command : {kCmdSingleParse, kCmdBlockParse}) {
    log_.Clear();
    ParseBlock block;
    memset(&block, 0, sizeof block);
    block.dataType = 3;
    block.itemCount = 1;
    EXPECT_EQ(channel_.Call(command, &block), 1) << command;
    EXPECT_EQ(log_.Messages(), std::vector<std::string>{"ZAMKT: SingleParse() missing Tag address."});
    EXPECT_FALSE(TypeCheckSwitchOn());
  }
}

TEST_F(ParseChannel, OverlongGasIsNeverReadPastItsLimit) {
  // A long GAS whose tail would name a valid point must not be cut into one.
  const std::string gas = "001AI01HR" + std::string(200, ' ');
  ParseBlock out;
  EXPECT_EQ(channel_.Parse(gas, 3, &out), 1);
  EXPECT_EQ(channel_.BlockCheck(gas, 3, 1, &out), 1);
  ASSERT_EQ(log_.Messages().size(), 2u);
  EXPECT_EQ(log_.Messages()[0],
            "ZAMKT: SingleParse() Tag address longer than 31 characters. Tag address '" + gas.substr(0, 31) + "...'.");
}

// ---- command 4 ------------------------------------------------------------------

struct BlockCase {
  std::string gas;
  int32_t dataType;
  int32_t items;
  int32_t status;
  Outputs out;
  std::string message;
};

const BlockCase kBlockCases[] = {
    {"001GCACO1", 3, 32, 0, {1, 0, 34, 255, 16}, ""},
    {"001GCACO1", 3, 33, 1, {1, 0, 34, 255, 16}, ""},
    {"255GCACO1", 3, 1, 0, {255, 0, 34, 255, 16}, ""},
    // A single bit is never read in a block.
    {"001GCDI1", 6, 1, 1, {1, 0, 6, 0, 16}, ""},
    // No type check: the width stays 16 and a mismatched type passes.
    {"001AI01HR", 3, 1, 0, {1, 0, 1217, 255, 16}, ""},
    {"001AI01HR", 6, 1, 0, {1, 0, 1217, 255, 16}, ""},
    // Schedule and clock points: base + offset, no special kind.
    {"001TS02START1", 5, 1, 0, {1, 0, 2133, 255, 16}, ""},
    {"001RTCLTIME", 5, 1, 0, {1, 0, 4100, 255, 16}, ""},
    // Only DX9100 stations.
    {"010XP01AI1", 3, 1, 1, {10, 0, 12, 255, 16}, ""},
    {"020TCP1LSP", 3, 1, 1, {20, 0, 39, 255, 16}, ""},
    {"005AO012", 3, 1, 1, {5, 1003, 12, 255, 32}, ""},
    // Invalid gates, with the parse's message.
    {"000GCACO1", 3, 1, 1, {0, 0, 0, 255, 16}, "ZAMKT: SingleParse()  illegal PLC Address. Tag address '000GCACO1'."},
    {"001XX01HR", 3, 1, 1, {1, 0, 0, 255, 16}, "ZAMKT:Illegal Module Name. GAS = 001XX01HR"},
    {"001GCACO9", 3, 1, 1, {1, 0, 0, 255, 16}, "ZAMKT:Illegal Tag Name. GAS = 001GCACO9"},
};

TEST_F(ParseChannel, Command4AllowsWholeDx9100ItemsUpTo32) {
  for (const BlockCase &c : kBlockCases) {
    log_.Clear();
    ParseBlock out;
    EXPECT_EQ(channel_.BlockCheck(c.gas, c.dataType, c.items, &out), c.status) << c.gas << " x" << c.items;
    ExpectOutputs(out, c.out, c.gas);
    EXPECT_EQ(log_.Messages(), Expected(c.message)) << c.gas;
    EXPECT_FALSE(TypeCheckSwitchOn()) << c.gas;
  }
}

TEST_F(ParseChannel, Command3TypeChecksAgainAfterAnyCommand4) {
  // Whatever command 4 returned, the next command 3 makes its full check:
  // a real gate refused as digital, and given width 32 as a real.
  const struct {
    std::string gas;
    int32_t status;
  } command4[] = {
      {"001XX01HR", 1}, {"000GCDI1", 1}, {k32, 1}, {"005AO012", 1},
      {"010XP01AI1", 1}, {"001GCDI1", 1}, {"001GCACO1", 0},
  };
  for (const auto &c : command4) {
    EXPECT_EQ(channel_.BlockCheck(c.gas, 3, 1), c.status) << c.gas;
    EXPECT_FALSE(TypeCheckSwitchOn()) << c.gas;
    ParseBlock out;
    EXPECT_EQ(channel_.Parse("001AI01HR", 6, &out), 1) << "after " << c.gas;
    EXPECT_EQ(channel_.Parse("001TS02START1", 5, &out), 0) << "after " << c.gas;
    EXPECT_EQ(out.width, 32) << "after " << c.gas;
    EXPECT_EQ(out.region, 84) << "after " << c.gas;
  }
}

// ---- LookupTag ------------------------------------------------------------------

TEST_F(ParseChannel, LookupTagFillsEveryFieldFromTheModuleAndPointRows) {
  const struct {
    const char *gas;
    ParsedTag want;
  } cases[] = {
      {"255GCDI1", {"GC", "DI1", 40, 0, 6, 'R', 0}},
      {"012PM03K0", {"PM03", "K0", 30, 256, 26, 'W', 255}},
      {"001XT01XTDIC1X", {"XT01", "XTDIC1", 60, 1472, 61, 'W', 255}},
      {"001RTCLTIME", {"RTCL", "TIME", 60, 4095, 5, 'W', 255}},
      {"010XP02DI3", {"XP02", "DI3", 40, 0, 10, 'R', 2}},
      {"020TCP6RA2", {"TCP6", "RA2", 80, 94, 15, 'W', 15}},
  };
  DriverRequest request{};
  request.context = channel_.context();
  for (const auto &c : cases) {
    ParsedTag tag;
    memset(&tag, 0x5A, sizeof tag);
    ASSERT_TRUE(LookupTag(&request, &tag, c.gas)) << c.gas;
    EXPECT_STREQ(tag.module, c.want.module) << c.gas;
    EXPECT_STREQ(tag.mnemonic, c.want.mnemonic) << c.gas;
    // ParsedTag is packed: compare copies, never references to its fields.
    EXPECT_EQ(int{tag.type}, int{c.want.type}) << c.gas;
    EXPECT_EQ(int{tag.base}, int{c.want.base}) << c.gas;
    EXPECT_EQ(int{tag.offset}, int{c.want.offset}) << c.gas;
    EXPECT_EQ(tag.access, c.want.access) << c.gas;
    EXPECT_EQ(int{tag.bit}, int{c.want.bit}) << c.gas;
  }
  EXPECT_TRUE(log_.Messages().empty());
}

TEST_F(ParseChannel, LookupTagFailsWithTheModuleMessageForAnyStationOutsideTheTable) {
  // Leading characters that name no station 0..255, and stations without
  // point tables: the lookup fails without reading outside the table.
  const char *cases[] = {"abcGCDI1", "999GCDI1", "256GCDI1", "-01GCDI1", " 01GCDI1",
                         "",         "0",        "00",       "005AO012", "005GCDI1"};
  DriverRequest request{};
  request.context = channel_.context();
  for (const char *gas : cases) {
    log_.Clear();
    ParsedTag tag;
    EXPECT_FALSE(LookupTag(&request, &tag, gas)) << gas;
    EXPECT_EQ(log_.Messages(), std::vector<std::string>{std::string("ZAMKT:Illegal Module Name. GAS = ") + gas});
  }
}

// ---- TypeMatchesGate ------------------------------------------------------------

TEST(TypeMatchesGate, EachPointTypeAcceptsExactlyOneGateDataType) {
  constexpr int32_t kNone = 1000;
  const struct {
    uint16_t type;
    int32_t accepted;  // kNone: no data type at all
  } cases[] = {
      {30, 3},   {40, 6},   {80, 6},   {60, 5},   {50, 0},   {70, 0},   {90, 0},
      {100, 0},  {110, 0},  {120, 0},  {130, 0},  {140, 0},  {150, 0},  {160, 0},
      {170, 0},  {180, 0},  {0, kNone}, {20, kNone}, {35, kNone}, {190, kNone}, {255, kNone},
  };
  for (const auto &c : cases) {
    for (int32_t dataType : {-1, 0, 1, 2, 3, 4, 5, 6, 7}) {
      EXPECT_EQ(TypeMatchesGate(dataType, c.type), dataType == c.accepted)
          << "type " << c.type << " data type " << dataType;
    }
  }
}

}  // namespace
