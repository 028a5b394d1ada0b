// Gate address parsing for N2 Open stations, as the host runs it: command 3
// through ZamMain for a station the station-type file makes an N2 Open one,
// with every output of the parse block and every log line.
#include "n2open/tag_parse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/driver_channel.h"

namespace {

// Channel 7 with station 5 an N2 Open station (and station 255 named in the
// file, which command 1 refuses: 255 stays a DX9100).
class N2OpenParseChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("ZAMKT07.int", "005 = N2OPEN\n255 = N2OPEN\n");
    ASSERT_EQ(channel_.Init("NUL"), 0);
    ASSERT_TRUE(log_.Contains("ZAMKT07: ReadInitFile() PLC #005 set to type 'N2OPEN'"));
    log_.Clear();
  }

  TempWorkDir dir_;
  LogCapture log_;
  DriverChannel channel_{7};
};

std::string Line(const std::string &text) { return "ZAMKT07: N2OPEN_ParseTag() " + text; }

struct N2OpenCase {
  std::string gas;
  int32_t dataType;
  int32_t status;
  int32_t region;   // 0: not written
  int32_t element;  // 0: not written
  int32_t width;
  std::vector<std::string> messages;
};

const N2OpenCase kCases[] = {
    // Regions and widths, plain and override forms.
    {"005AI001", 3, 0, 1001, 1, 32, {}},
    {"005AI001_O", 3, 0, 1001, 1, 32, {}},
    {"005BI002", 6, 0, 1002, 2, 1, {}},
    {"005BI002_O", 6, 0, 1002, 2, 1, {}},
    {"005AO012", 3, 0, 1003, 12, 32, {}},
    {"005AO012_O", 6, 0, 1008, 12, 1, {}},
    {"005BO010", 6, 0, 1004, 10, 1, {}},
    {"005BO010_O", 6, 0, 1009, 10, 1, {}},
    {"005AF003", 3, 0, 1005, 3, 32, {}},
    {"005AF003_O", 6, 0, 1010, 3, 1, {}},
    {"005AD005", 0, 0, 1006, 5, 16, {}},
    {"005AD005", 1, 0, 1006, 5, 16, {}},
    {"005AD005_O", 6, 0, 1011, 5, 1, {}},
    {"005BD007", 1, 0, 1007, 7, 16, {}},
    {"005BD007_O", 6, 0, 1012, 7, 1, {}},
    // The element field: three characters, up to the first non-digit.
    {"005AO12X", 3, 0, 1003, 12, 32, {}},
    {"005AO+12", 3, 0, 1003, 12, 32, {}},
    {"005AO256", 3, 0, 1003, 256, 32, {}},
    {"005AO000", 3, 1, 1003, 0, 16, {Line("Tag '005AO000' element address must be between 1..999")}},
    {"005AO-01", 3, 1, 1003, 0, 16, {Line("Tag '005AO-01' element address must be between 1..999")}},
    {"005AOX12", 3, 1, 1003, 0, 16, {Line("Tag '005AOX12' element address must be between 1..999")}},
    {"005AO_12", 3, 1, 1003, 0, 16, {Line("Tag '005AO_12' element address must be between 1..999")}},
    // Elements above 256 do not fit the element byte of a frame.
    {"005AO257", 3, 1, 1003, 0, 16, {Line("Tag '005AO257' element address must be between 1..256")}},
    {"005AO999", 3, 1, 1003, 0, 16, {Line("Tag '005AO999' element address must be between 1..256")}},
    {"005BO300_O", 6, 1, 1009, 0, 16, {Line("Tag '005BO300_O' element address must be between 1..256")}},
    // Length and override marker.
    {"005AO1000", 3, 1, 0, 0, 16, {Line("Invalid Tag Address '005AO1000'")}},
    {"005AO01", 3, 1, 0, 0, 16, {Line("Invalid Tag Address '005AO01'")}},
    {"005AO012_O1", 6, 1, 0, 0, 16, {Line("Invalid Tag Address '005AO012_O1'")}},
    {"005", 3, 1, 0, 0, 16, {Line("Invalid Tag Address '005'")}},
    {"005AO012_X", 6, 1, 0, 0, 16, {Line("Invalid 'Override' Tag Address '005AO012_X'")}},
    {"005AO012_o", 6, 1, 0, 0, 16, {Line("Invalid 'Override' Tag Address '005AO012_o'")}},
    {"005AO012XO", 6, 1, 0, 0, 16, {Line("Invalid 'Override' Tag Address '005AO012XO'")}},
    // Region mnemonic: upper case only.
    {"005ai001", 3, 1, 0, 0, 16, {Line("Tag Address '005ai001' Invalid data type!")}},
    {"005XX001", 3, 1, 0, 0, 16, {Line("Tag Address '005XX001' Invalid data type!")}},
    {"005Ai001", 3, 1, 0, 0, 16, {Line("Tag Address '005Ai001' Invalid data type!")}},
    // Data type against region: the region's message, then "Invalid data type!".
    {"005AI001", 6, 1, 1001, 1, 16,
     {Line("Tag Address '005AI001' Type must be 'Float'"), Line("Tag Address '005AI001' Invalid data type!")}},
    {"005AI001_O", 6, 1, 1001, 1, 16,
     {Line("Tag Address '005AI001_O' Type must be 'Float'"), Line("Tag Address '005AI001_O' Invalid data type!")}},
    {"005BI001", 3, 1, 1002, 1, 16,
     {Line("Tag Address '005BI001' Type must be 'Digital'"), Line("Tag Address '005BI001' Invalid data type!")}},
    {"005AO012", 6, 1, 1003, 12, 16,
     {Line("Tag Address '005AO012' Type must be 'float'"), Line("Tag Address '005AO012' Invalid data type!")}},
    {"005AO012_O", 3, 1, 1008, 12, 16,
     {Line("Tag Address '005AO012_O' Type must be 'Digital'"), Line("Tag Address '005AO012_O' Invalid data type!")}},
    {"005BO010", 5, 1, 1004, 10, 16,
     {Line("Tag Address '005BO010' Type must be 'Digital'"), Line("Tag Address '005BO010' Invalid data type!")}},
    {"005BO010_O", 3, 1, 1009, 10, 16,
     {Line("Tag Address '005BO010_O' Type must be 'Digital'"), Line("Tag Address '005BO010_O' Invalid data type!")}},
    {"005AF003", 5, 1, 1005, 3, 16,
     {Line("Tag Address '005AF003' Type must be 'float'"), Line("Tag Address '005AF003' Invalid data type!")}},
    {"005AF003_O", 0, 1, 1010, 3, 16,
     {Line("Tag Address '005AF003_O' Type must be 'Digital'"), Line("Tag Address '005AF003_O' Invalid data type!")}},
    {"005AD005", 3, 1, 1006, 5, 16,
     {Line("Tag Address '005AD005' Type must be 'Signed/Unsigned 16'"), Line("Tag Address '005AD005' Invalid data type!")}},
    {"005AD005_O", 1, 1, 1011, 5, 16,
     {Line("Tag Address '005AD005_O' Type must be 'Digital'"), Line("Tag Address '005AD005_O' Invalid data type!")}},
    {"005BD007", 6, 1, 1007, 7, 16,
     {Line("Tag Address '005BD007' Type must be 'Signed/Unsigned 16'"), Line("Tag Address '005BD007' Invalid data type!")}},
    {"005BD007_O", 0, 1, 1012, 7, 16,
     {Line("Tag Address '005BD007_O' Type must be 'Digital'"), Line("Tag Address '005BD007_O' Invalid data type!")}},
};

TEST_F(N2OpenParseChannel, Command3ParsesRegionElementAndOverrideWithExactMessages) {
  for (const N2OpenCase &c : kCases) {
    log_.Clear();
    ParseBlock out;
    EXPECT_EQ(channel_.Parse(c.gas, c.dataType, &out), c.status) << c.gas << " type " << c.dataType;
    EXPECT_EQ(out.station, 5) << c.gas;
    EXPECT_EQ(out.region, c.region) << c.gas;
    EXPECT_EQ(out.element, c.element) << c.gas;
    EXPECT_EQ(out.bit, 255) << c.gas;
    EXPECT_EQ(out.width, c.width) << c.gas << " type " << c.dataType;
    EXPECT_EQ(log_.Messages(), c.messages) << c.gas << " type " << c.dataType;
  }
}

TEST_F(N2OpenParseChannel, EveryMessageIsLoggedAtTheDriverLevel) {
  channel_.Parse("005BO010_O", 3);
  for (const std::string &line : log_.Lines()) EXPECT_EQ(line.substr(0, 3), "32\t") << line;
  EXPECT_EQ(log_.Lines().size(), 2u);
}

TEST_F(N2OpenParseChannel, Station255IsNeverAnN2OpenStation) {
  // The file's "255 = N2OPEN" is refused; an N2 Open GAS on 255 is parsed as
  // a DX9100 one (module AO01, mnemonic "2"), and a DX9100 GAS there is valid.
  ParseBlock out;
  EXPECT_EQ(channel_.Parse("255AO012", 3, &out), 1);
  EXPECT_EQ(log_.Messages(), std::vector<std::string>{"ZAMKT:Illegal Tag Name. GAS = 255AO012"});
  EXPECT_EQ(channel_.Parse("255GCACO1", 3, &out), 0);
  EXPECT_EQ(out.element, 34);
}

TEST_F(N2OpenParseChannel, OtherStationsOfTheChannelStayDx9100) {
  ParseBlock out;
  EXPECT_EQ(channel_.Parse("004AO012", 3, &out), 1);
  EXPECT_EQ(log_.Messages(), std::vector<std::string>{"ZAMKT:Illegal Tag Name. GAS = 004AO012"});
  EXPECT_EQ(channel_.Parse("005GCACO1", 3, &out), 1);
  EXPECT_EQ(log_.Messages().back(), "ZAMKT07: N2OPEN_ParseTag() Invalid Tag Address '005GCACO1'");
}

TEST(N2OpenRegionNumber, FramesCarryTheRegionNumberOfEachCode) {
  const struct {
    int32_t code;
    uint8_t number;
  } cases[] = {
      {1001, 1}, {1002, 2}, {1003, 3}, {1004, 4}, {1005, 5}, {1006, 6}, {1007, 7},
      {1008, 3}, {1009, 4}, {1010, 5}, {1011, 6}, {1012, 7},
      {0, 0},    {84, 0},   {1000, 0}, {1013, 0}, {-1001, 0},
  };
  for (const auto &c : cases) EXPECT_EQ(N2OpenRegionNumber(c.code), c.number) << c.code;
}

}  // namespace
