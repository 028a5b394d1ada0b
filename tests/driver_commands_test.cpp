// The entry point and the small command handlers, through ZamMain as the
// host calls them.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "driver/zam_main.h"
#include "serial/port.h"
#include "tests/support/driver_channel.h"
#include "tests/support/pty.h"

namespace {

TEST(ZamMain, CodesWithoutAHandlerReturnOneAndTouchNothing) {
  LogCapture log;
  DriverChannel channel;
  ChannelContext before;
  memcpy(&before, channel.context(), sizeof before);
  unsigned char parameters[64];
  memset(parameters, 0xA5, sizeof parameters);
  for (int32_t command : {0, 8, 9, -1, 16, 255, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(channel.Call(command, parameters), 1) << "command " << command;
  }
  EXPECT_EQ(memcmp(&before, channel.context(), sizeof before), 0);
  for (unsigned char byte : parameters) ASSERT_EQ(byte, 0xA5);
  EXPECT_TRUE(log.Messages().empty());
  EXPECT_EQ(ZamMain(nullptr), 1);
}

TEST(ZamMain, BlockWriteIsAlwaysRefusedWithItsMessage) {
  LogCapture log;
  DriverChannel channel;
  ReadWriteBlock block{};
  EXPECT_EQ(channel.Call(kCmdBlockWrite, &block), 1);
  EXPECT_EQ(channel.Call(kCmdBlockWrite, nullptr), 1);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"32\tZAMKT: Block Write not allowed!",
                                                   "32\tZAMKT: Block Write not allowed!"}));
}

// The install banner as the host shows it, in code page 437.
std::string ExpectedBanner() {
  std::string bar = "\xB3 " + std::string(5, '\xDB') + std::string(6, '\xB2') + std::string(6, '\xB1') +
                    std::string(6, '\xB0') + " Z A M K T " + std::string(6, '\xB0') + std::string(6, '\xB1') +
                    std::string(6, '\xB2') + std::string(5, '\xDB') + "  \xB3";
  return "\n\xDA" + std::string(60, '\xC4') + "\xBF\n" + bar + "\n" + "\xB3" + std::string(15, ' ') +
         "Johnson System 91 Driver installed." + std::string(10, ' ') + "\xB3\n" + "\xB3" + std::string(19, ' ') +
         "Johnson N2 Network Protocol." + std::string(13, ' ') + "\xB3\n" + "\xC0" + std::string(60, '\xC4') +
         "\xD9\n";
}

TEST(ZamMain, DriverInfoDescribesTheDriver) {
  DriverChannel channel;
  DriverInfoBlock info;
  memset(&info, 0, sizeof info);
  EXPECT_EQ(channel.Call(kCmdDriverInfo, &info), 0);
  EXPECT_EQ(info.driverId, 82);
  EXPECT_STREQ(info.catalogueText, "KT-Johnson N2 series");
  EXPECT_EQ(std::string(info.banner), ExpectedBanner());
  EXPECT_EQ(info.recordSize, static_cast<int32_t>(sizeof(ChannelContext)));
  EXPECT_EQ(info.constant4, 4);
  EXPECT_EQ(info.defaults.baud, 9600);
  EXPECT_EQ(info.defaults.dataBits, 8);
  EXPECT_EQ(info.defaults.stopBits, 0);
  EXPECT_EQ(info.defaults.parity, 0);
  EXPECT_EQ(info.constant3, 3);

  DriverInfoBlock again;
  channel.Call(kCmdDriverInfo, &again);
  EXPECT_EQ(again.catalogueText, info.catalogueText);
  EXPECT_EQ(again.banner, info.banner);
}

TEST(PortCommands, CloseOfAClosedPortSucceedsAndChangesNothing) {
  DriverChannel channel;
  for (int32_t command : {kCmdClosePort, kCmdClosePortAlt}) {
    EXPECT_EQ(channel.Call(command, nullptr), 0);
    EXPECT_EQ(channel.context()->port, nullptr);
  }
}

TEST(PortCommands, CloseThenReopenKeepsTheStationTable) {
  TempWorkDir dir;
  dir.WriteFile("ZAMKT01.int", "5 = N2OPEN\n");
  PtyPair pty;
  DriverChannel channel;
  ASSERT_EQ(channel.Init(pty.portName()), 0);
  ASSERT_NE(channel.context()->port, nullptr);
  EXPECT_EQ(channel.Call(kCmdClosePortAlt, nullptr), 0);
  EXPECT_EQ(channel.context()->port, nullptr);
  channel.context()->enabled = 0;
  EXPECT_EQ(channel.Call(kCmdReopenPort, nullptr), 0);
  EXPECT_NE(channel.context()->port, nullptr);
  EXPECT_EQ(channel.context()->enabled, 1u);
  EXPECT_STREQ(channel.context()->stationTypes[5], "N2OPEN");
  // Reopening a port that is still open fails on the exclusive open; the old
  // handle stays.
  PortHandle held = channel.context()->port;
  EXPECT_EQ(channel.Call(kCmdReopenPort, nullptr), 2);
  EXPECT_EQ(channel.context()->port, held);
  EXPECT_EQ(channel.Close(), 0);
}

TEST(PortCommands, ReopenOverAPortThatStillOpensLetsTheOldHandleGo) {
  // "NUL" opens as often as asked, as a device that went away and came back
  // under its name does: every reopen must free the handle it replaces, or
  // the port table runs out after a few dozen.
  DriverChannel channel;
  ASSERT_EQ(channel.Init("NUL"), 0);
  for (int reopen = 0; reopen < 200; ++reopen) {
    ASSERT_EQ(channel.Call(kCmdReopenPort, nullptr), 0) << "reopen " << reopen;
    ASSERT_NE(channel.context()->port, nullptr);
  }
  EXPECT_EQ(channel.Close(), 0);
}

ChangePortBlock ChangeTo(const std::string &name, int32_t timeout) {
  ChangePortBlock block;
  memset(&block, 0, sizeof block);
  memcpy(block.portName, name.c_str(), std::min(name.size(), sizeof block.portName));
  block.timeout = timeout;
  block.settings = PortSettings{19200, 7, 2, 2};
  return block;
}

TEST(PortCommands, ChangePortMovesTheChannelToTheNewPort) {
  TempWorkDir dir;
  PtyPair first, second;
  DriverChannel channel;
  ASSERT_EQ(channel.Init(first.portName(), 20), 0);
  EXPECT_EQ(channel.context()->timeout, 100);

  ChangePortBlock block = ChangeTo(second.portName(), 0);
  EXPECT_EQ(channel.Call(kCmdChangePort, &block), 0);
  EXPECT_EQ(channel.context()->timeout, 100) << "0 keeps the stored time-out";
  EXPECT_STREQ(channel.context()->portName, second.portName().c_str());
  EXPECT_EQ(channel.context()->settings.baud, 19200);
  EXPECT_EQ(channel.context()->settings.parity, 2);
  // The first port was closed: it opens again elsewhere.
  DriverChannel other;
  EXPECT_EQ(other.Init(first.portName()), 0);
  other.Close();

  block = ChangeTo(second.portName(), 50);
  // Same name while open: the second exclusive open fails, handle kept.
  PortHandle held = channel.context()->port;
  EXPECT_EQ(channel.Call(kCmdChangePort, &block), 2);
  EXPECT_EQ(channel.context()->port, held);
  EXPECT_EQ(channel.context()->timeout, 50) << "no floor of 100 here";

  for (int32_t timeout : {-7, INT32_MAX}) {
    block = ChangeTo(second.portName(), timeout);
    channel.Call(kCmdChangePort, &block);
    EXPECT_GE(channel.context()->timeout, 0);
    EXPECT_LE(channel.context()->timeout, 8640000);
  }
  channel.Close();
}

TEST(PortCommands, ChangeToAPortThatCannotOpenKeepsTheNewNameAndReturnsTwo) {
  TempWorkDir dir;
  PtyPair pty;
  DriverChannel channel;
  ASSERT_EQ(channel.Init(pty.portName()), 0);
  ChangePortBlock block = ChangeTo("ttyNOPE7", 0);
  EXPECT_EQ(channel.Call(kCmdChangePort, &block), 2);
  EXPECT_EQ(channel.context()->port, nullptr);
  EXPECT_STREQ(channel.context()->portName, "ttyNOPE7");
  EXPECT_EQ(channel.context()->settings.baud, 19200);
}


// A record's port field holds whatever the host's memory held until the
// record's own port is opened. A channel started disabled opens nothing and
// keeps no such number: a later command of that record never touches
// another channel's port through it.
TEST(PortOwnership, ChannelStartedDisabledKeepsNoStrayPort) {
  TempWorkDir dir;
  LogCapture quiet;
  PtyPair ptyA, ptyB;
  DriverChannel a(1), b(2);
  ASSERT_EQ(a.Init(ptyA.portName()), 0);
  b.context()->port = a.context()->port;
  ASSERT_EQ(b.Init(ptyB.portName(), 10, 0), 0);
  EXPECT_EQ(b.context()->port, nullptr) << "the stray number stayed in the disabled record";
  ChangePortBlock block;
  memset(&block, 0, sizeof block);
  memcpy(block.portName, ptyB.portName().c_str(), std::min(ptyB.portName().size(), sizeof block.portName));
  block.settings = PortSettings{9600, 8, 0, 0};
  ASSERT_EQ(b.Call(kCmdChangePort, &block), 0);
  EXPECT_NE(b.context()->port, a.context()->port) << "two channels hold one handle";
  EXPECT_TRUE(PortOpenedFor(a.context()->port, a.context())) << "channel A's port was closed";
  EXPECT_EQ(a.Close(), 0);
  EXPECT_EQ(b.Close(), 0);
}

// Every command that closes or replaces a port closes only a port opened for
// its own record; another channel's handle found in the record is dropped
// without closing anything.
struct StrayCase {
  const char *name;
  int32_t command;
  bool opensItsOwn;  // the command leaves a port of the record's own
};

class StrayHandle : public ::testing::TestWithParam<StrayCase> {};

TEST_P(StrayHandle, AnotherChannelsPortIsNeverClosed) {
  const StrayCase &c = GetParam();
  TempWorkDir dir;
  LogCapture quiet;
  PtyPair ptyA;
  DriverChannel a(1), b(2);
  ASSERT_EQ(a.Init(ptyA.portName()), 0);
  ASSERT_EQ(b.Init("NUL", 10, 0), 0);
  memcpy(b.context()->portName, "NUL", 4);
  b.context()->settings = PortSettings{9600, 8, 0, 0};
  b.context()->lineOptions = kLineOptionsDefault;
  b.context()->port = a.context()->port;  // a number the record's own port never had

  ChangePortBlock block;
  memset(&block, 0, sizeof block);
  memcpy(block.portName, "NUL", 4);
  block.settings = PortSettings{9600, 8, 0, 0};
  memset(b.context()->portName, 0, sizeof b.context()->portName);  // a name change for 15
  if (c.command == kCmdReopenPort) memcpy(b.context()->portName, "NUL", 4);
  EXPECT_EQ(b.Call(c.command, c.command == kCmdChangePort ? &block : nullptr), 0);

  EXPECT_TRUE(PortOpenedFor(a.context()->port, a.context())) << "channel A's port was closed";
  EXPECT_NE(b.context()->port, a.context()->port);
  EXPECT_EQ(b.context()->port != nullptr, c.opensItsOwn);
  // Channel A's port still carries its frames.
  uint32_t written = 0;
  EXPECT_EQ(PortWrite(a.context()->port, ">\r", 2, &written), kPortOk);
  EXPECT_EQ(ptyA.ReadUntil('\r', 2000), ">\r");
  EXPECT_EQ(a.Close(), 0);
  EXPECT_EQ(b.Close(), 0);
}

INSTANTIATE_TEST_SUITE_P(Commands, StrayHandle,
                         ::testing::Values(StrayCase{"Close11", kCmdClosePort, false},
                                           StrayCase{"Close12", kCmdClosePortAlt, false},
                                           StrayCase{"Reopen13", kCmdReopenPort, true},
                                           StrayCase{"ChangePort15", kCmdChangePort, true}),
                         [](const ::testing::TestParamInfo<StrayCase> &info) { return std::string(info.param.name); });

// Ports opened by commands 13 and 15 are recorded as the record's own, so
// that the next start of the channel lets them go: more rounds than the port
// table holds, and another channel still opens.
TEST(PortOwnership, PortsOfReopenAndChangePortAreLetGoByTheNextStart) {
  TempWorkDir dir;
  LogCapture quiet;
  for (int32_t command : {kCmdReopenPort, kCmdChangePort}) {
    DriverChannel channel;
    ChangePortBlock block;
    memset(&block, 0, sizeof block);
    memcpy(block.portName, "NUL", 4);
    block.settings = PortSettings{9600, 8, 0, 0};
    ASSERT_EQ(channel.Init("NUL"), 0);
    for (int round = 1; round <= kMaxOpenPorts + 6; ++round) {
      ASSERT_EQ(channel.Call(command, command == kCmdChangePort ? &block : nullptr), 0)
          << "command " << command << " round " << round;
      ASSERT_EQ(channel.Init("NUL"), 0) << "command " << command << " round " << round;
    }
    DriverChannel other(2);
    EXPECT_EQ(other.Init("NUL"), 0) << "the port table is full";
    EXPECT_EQ(other.Close(), 0);
    EXPECT_EQ(channel.Close(), 0);
  }
}

}  // namespace
