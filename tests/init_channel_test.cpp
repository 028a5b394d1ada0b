// Command 1 and the station-type file, through ZamMain, in a temporary
// working directory that holds the file.
#include <gtest/gtest.h>
#include <string.h>

#include <regex>
#include <string>
#include <vector>

#include "serial/port.h"
#include "tests/support/driver_channel.h"
#include "tests/support/pty.h"

namespace {

const char kBuildLine[] = R"(ZAMKT: ver\. compiled on [A-Z][a-z]{2} [ 0-9]\d \d{4} at \d{2}:\d{2}:\d{2})";
const char kLoaded[] = "ZAMKT: Johnson N2  Driver, loaded successfully.";

std::string Station(DriverChannel &channel, int station) { return channel.context()->stationTypes[station]; }

struct FileCase {
  const char *name;
  std::string file;
  std::vector<std::pair<int, std::string>> types;  // expected station types
  std::vector<std::string> messages;               // expected file messages, in order
};

class StationTypeFileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(StationTypeFileTest, AppliesTheFileLineByLine) {
  const FileCase &c = GetParam();
  TempWorkDir dir;
  dir.WriteFile("ZAMKT03.int", c.file);
  LogCapture log;
  DriverChannel channel(3);
  ASSERT_EQ(channel.Init("NUL"), 0);
  for (const auto &[station, type] : c.types) EXPECT_EQ(Station(channel, station), type) << "station " << station;

  std::vector<std::string> messages = log.Messages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_TRUE(std::regex_match(messages.front(), std::regex(kBuildLine))) << messages.front();
  EXPECT_EQ(messages.back(), kLoaded);
  std::vector<std::string> fileMessages(messages.begin() + 1, messages.end() - 1);
  EXPECT_EQ(fileMessages, c.messages);
  channel.Close();
}

const std::string kFile = "ZAMKT03: ReadInitFile() ";

INSTANTIATE_TEST_SUITE_P(
    Files, StationTypeFileTest,
    ::testing::Values(
        FileCase{"FamiliesInAnyCaseAndSpacing",
                 "1 = n2open\n007=TC9100\n12 = xt9100 extra words\n",
                 {{1, "N2OPEN"}, {7, "TC9100"}, {12, "XT9100"}, {2, "DX9100"}, {0, "DX9100"}, {254, "DX9100"}},
                 {kFile + "PLC #001 set to type 'N2OPEN'", kFile + "PLC #007 set to type 'TC9100'",
                  kFile + "PLC #012 set to type 'XT9100'"}},
        FileCase{"StationRange",
                 "0 = TC9100\n255 = TC9100\n254 = TC9100\n",
                 {{0, "DX9100"}, {254, "TC9100"}},
                 {kFile + "File 'ZAMKT03.int' Line '0 = TC9100' invalid station number",
                  kFile + "File 'ZAMKT03.int' Line '255 = TC9100' invalid station number",
                  kFile + "PLC #254 set to type 'TC9100'"}},
        FileCase{"NumberFieldTakesThreeDigits",
                 "1234 = TC9100\nstation = XT9100\n",
                 {{123, "DX9100"}},
                 {kFile + "File 'ZAMKT03.int' Line '1234 = TC9100' is invalid",
                  kFile + "File 'ZAMKT03.int' Line 'station = XT9100' is invalid"}},
        FileCase{"DefaultFamilyIsNotAssignable",
                 "5 = DX9100\n5 = DX-9100\n",
                 {{5, "DX9100"}},
                 {kFile + "File 'ZAMKT03.int' Line '5 = DX9100' invalid Johnson device type",
                  kFile + "File 'ZAMKT03.int' Line '5 = DX-9100' invalid Johnson device type"}},
        FileCase{"EmptyLineEndsTheFile",
                 "5 = XT9100\n\n6 = XT9100\n",
                 {{5, "XT9100"}, {6, "DX9100"}},
                 {kFile + "PLC #005 set to type 'XT9100'"}},
        FileCase{"LaterLineReplacesEarlierOne",
                 "5 = XT9100\n5 = N2OPEN\n",
                 {{5, "N2OPEN"}},
                 {kFile + "PLC #005 set to type 'XT9100'", kFile + "PLC #005 set to type 'N2OPEN'"}},
        FileCase{"WindowsLineEnds",
                 "5 = XT9100\r\n6 = TC9100\r\n\r\n7 = N2OPEN\r\n",
                 {{5, "XT9100"}, {6, "TC9100"}, {7, "DX9100"}},
                 {kFile + "PLC #005 set to type 'XT9100'", kFile + "PLC #006 set to type 'TC9100'"}}),
    [](const ::testing::TestParamInfo<FileCase> &info) { return std::string(info.param.name); });

TEST(InitChannel, MissingFileLeavesEveryStationADX9100) {
  TempWorkDir dir;
  LogCapture log;
  DriverChannel channel(7);
  ASSERT_EQ(channel.Init("NUL"), 0);
  for (int station = 0; station <= 254; ++station) ASSERT_EQ(Station(channel, station), "DX9100");
  std::vector<std::string> messages = log.Messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[1], "ZAMKT07: ReadInitFile() File 'ZAMKT07.int' not found. All PLC's default to DX9100");
  EXPECT_EQ(messages[2], kLoaded);
  channel.Close();
}

TEST(InitChannel, DisabledChannelOpensNothingAndReadsNoFile) {
  TempWorkDir dir;
  dir.WriteFile("ZAMKT01.int", "5 = N2OPEN\n");
  LogCapture log;
  DriverChannel channel;
  memset(channel.context()->stationTypes, 'x', sizeof channel.context()->stationTypes);
  EXPECT_EQ(channel.Init("NUL", 10, 0), 0);
  EXPECT_EQ(channel.context()->port, nullptr);
  EXPECT_EQ(channel.context()->enabled, 0u);
  EXPECT_EQ(channel.context()->stationTypes[5][0], 'x');
  std::vector<std::string> messages = log.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(std::regex_match(messages[0], std::regex(kBuildLine))) << messages[0];
}

TEST(InitChannel, PortThatCannotOpenReturnsTwoAndLeavesTheRecord) {
  TempWorkDir dir;
  LogCapture log;
  DriverChannel channel;
  memset(channel.context()->stationTypes, 'x', sizeof channel.context()->stationTypes);
  EXPECT_EQ(channel.Init("ttyNOPE3"), 2);
  EXPECT_EQ(channel.context()->port, nullptr);
  EXPECT_EQ(channel.context()->stationTypes[1][0], 'x');
  EXPECT_EQ(log.Messages().back(), "ZAMKT : Fail to open ttyNOPE3");
}

TEST(InitChannel, TimeOutSetsThePortAndIsFlooredInTheRecord) {
  TempWorkDir dir;
  PtyPair pty;
  DriverChannel channel;
  ASSERT_EQ(channel.Init(pty.portName(), 20), 0);
  EXPECT_EQ(channel.context()->timeout, 100);
  EXPECT_EQ(PortSetReadTimeout(channel.context()->port, 20), 20) << "200 ms per read";
  EXPECT_EQ(channel.context()->lineOptions, 8);
  EXPECT_EQ(channel.context()->settings.baud, 9600);
  EXPECT_STREQ(channel.context()->portName, pty.portName().c_str());
  channel.Close();

  ASSERT_EQ(channel.Init(pty.portName(), 250), 0);
  EXPECT_EQ(channel.context()->timeout, 250);
  channel.Close();
}

TEST(InitChannel, NegativeAndHugeTimeOutsStayBounded) {
  TempWorkDir dir;
  PtyPair pty;
  DriverChannel channel;
  ASSERT_EQ(channel.Init(pty.portName(), -5), 0);
  EXPECT_EQ(channel.context()->timeout, 100);
  EXPECT_EQ(PortSetReadTimeout(channel.context()->port, 1), 0);
  channel.Close();
  ASSERT_EQ(channel.Init(pty.portName(), INT32_MAX), 0);
  EXPECT_EQ(channel.context()->timeout, kMaxReadTimeout10ms);
  EXPECT_EQ(PortSetReadTimeout(channel.context()->port, 1), kMaxReadTimeout10ms);
  channel.Close();
}

TEST(InitChannel, ClearsTheInitialisedFlagsOfN2OpenStationsOnly) {
  TempWorkDir dir;
  dir.WriteFile("ZAMKT01.int", "5 = N2OPEN\n6 = XT9100\n");
  DriverChannel channel;
  for (int32_t &flag : channel.context()->n2openInitialised) flag = 1;
  ASSERT_EQ(channel.Init("NUL"), 0);
  EXPECT_EQ(channel.context()->n2openInitialised[5], 0);
  EXPECT_EQ(channel.context()->n2openInitialised[6], 1);
  EXPECT_EQ(channel.context()->channelNumber, 1);
  channel.Close();
}

TEST(InitChannel, TwoChannelsMayBothUseTheNullDevice) {
  TempWorkDir dir;
  DriverChannel first(1), second(2);
  EXPECT_EQ(first.Init("NUL"), 0);
  EXPECT_EQ(second.Init("NUL"), 0);
  EXPECT_EQ(first.Close(), 0);
  EXPECT_EQ(second.Close(), 0);
}

// A host that repeats command 1 on a live channel (or re-plugs its adapter)
// must not lose a port each time: more starts than the port table holds, and
// another channel still opens.
TEST(InitChannel, RepeatedStartsOfAChannelLetItsFormerPortGo) {
  TempWorkDir dir;
  LogCapture quiet;
  DriverChannel channel;
  for (int start = 1; start <= kMaxOpenPorts + 6; ++start) ASSERT_EQ(channel.Init("NUL"), 0) << "start " << start;
  DriverChannel other(2);
  EXPECT_EQ(other.Init("NUL"), 0) << "the port table is full";
  EXPECT_EQ(other.Close(), 0);
  EXPECT_EQ(channel.Close(), 0);
}

// Before its first start a record holds whatever the host's memory held: a
// number there that names another channel's port is not closed.
TEST(InitChannel, StrayHandleInANewRecordLeavesAnotherChannelsPortOpen) {
  TempWorkDir dir;
  LogCapture quiet;
  DriverChannel first(1), second(2);
  ASSERT_EQ(first.Init("NUL"), 0);
  second.context()->port = first.context()->port;
  ASSERT_EQ(second.Init("NUL"), 0);
  EXPECT_NE(second.context()->port, first.context()->port);
  EXPECT_TRUE(PortOpenedFor(first.context()->port, first.context())) << "the first channel's port was closed";
  EXPECT_EQ(first.Close(), 0);
  EXPECT_EQ(second.Close(), 0);
}

}  // namespace
