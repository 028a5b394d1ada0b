// End to end against the simulated plant: the channel's own commands around
// the reads and writes. Driver information (14), block write refusal (10),
// close (11, 12), reopen (13), change port (15) and a disabled channel (1),
// and what survives a close and reopen: the station table and the N2 Open
// station's initialisation.
#include <string.h>

#include <string>

#include "tests/e2e_fixture.h"

namespace {

using e2e::HostValue;

class Channel : public e2e::E2eTest {
 protected:
  // Every test leaves the channel open on the port, as the next one expects.
  void TearDown() override {
    EXPECT_EQ(bench().Reopen(), 0);
    E2eTest::TearDown();
  }

  static int32_t Command(int32_t command, void *parameters = nullptr) {
    return channel().Call(command, parameters);
  }
  static int32_t ChangePort(const std::string &port, int32_t timeout10ms) {
    ChangePortBlock block;
    memset(&block, 0, sizeof block);
    strncpy(block.portName, port.c_str(), sizeof block.portName - 1);
    block.timeout = timeout10ms;
    block.settings = PortSettings{9600, 8, 0, 0};
    return Command(kCmdChangePort, &block);
  }
  static int32_t ReadReal(const char *gas) {
    HostValue value;
    return channel().Read(gas, kGateReal, value.data());
  }
  uint64_t InitFrames() { return bench().Count("n2open-identify") + bench().Count("n2open-status"); }
};

TEST_F(Channel, DriverInformationGivesTheRecordSizeAndDefaultSettings) {
  DriverInfoBlock info;
  memset(&info, 0, sizeof info);
  ASSERT_EQ(Command(kCmdDriverInfo, &info), 0);
  EXPECT_EQ(info.driverId, 82);
  EXPECT_STREQ(info.catalogueText, "KT-Johnson N2 series");
  EXPECT_EQ(info.recordSize, static_cast<int32_t>(sizeof(ChannelContext)));
  EXPECT_EQ(info.defaults.baud, 9600);
  EXPECT_EQ(info.defaults.dataBits, 8);
}

TEST_F(Channel, BlockWriteIsRefusedAndSendsNothing) {
  LogCapture log;
  const uint64_t requests = bench().Count("requests");
  HostValue value = HostValue::Real(1.0f);
  ParseBlock parsed;
  ASSERT_EQ(channel().Parse("001GCACO1", kGateReal, &parsed), 0);
  ReadWriteBlock block = DriverChannel::BlockFromParse(parsed, "001GCACO1", kGateReal, value.data(), 2);
  EXPECT_EQ(Command(kCmdBlockWrite, &block), 1);
  EXPECT_TRUE(log.Contains("ZAMKT: Block Write not allowed!"));
  EXPECT_EQ(bench().Count("requests"), requests);
}

TEST_F(Channel, ClosedItSendsNothingAndReopenedItKeepsItsStationsAndTheirInitialisation) {
  ASSERT_EQ(ReadReal("005AO001"), 0) << "the N2 Open station is initialised";
  const uint64_t frames = InitFrames();

  for (int32_t close : {kCmdClosePort, kCmdClosePortAlt}) {
    ASSERT_EQ(Command(close), 0) << close;
    EXPECT_EQ(Command(close), 0) << close << " on a closed port";
    const uint64_t requests = bench().Count("requests");
    EXPECT_NE(ReadReal("001GCACO1"), 0) << "read on a closed port";
    EXPECT_EQ(bench().Count("requests"), requests) << "nothing reaches the bus";

    ASSERT_EQ(Command(kCmdReopenPort), 0) << "after " << close;
    EXPECT_EQ(ReadReal("001GCACO1"), 0);
    EXPECT_EQ(ReadReal("010XP01AI1"), 0) << "station 10 is still an XT9100";
    EXPECT_EQ(ReadReal("020TCGCAI1"), 0) << "station 20 is still a TC9100";
    EXPECT_EQ(ReadReal("005AO002"), 0);
    EXPECT_EQ(InitFrames(), frames) << "station 5 is still initialised";
  }
}

TEST_F(Channel, ReopenOfAPortStillOpenFailsAndKeepsTheOpenPort) {
  const PortHandle open = channel().context()->port;
  EXPECT_EQ(Command(kCmdReopenPort), 2);
  EXPECT_EQ(channel().context()->port, open);
  EXPECT_EQ(ReadReal("001GCACO1"), 0);
}

TEST_F(Channel, ChangePortMovesToAnotherPortAndBack) {
  // A port that cannot be opened: the open one is closed first, and the
  // channel is left without a port.
  EXPECT_EQ(ChangePort("pts/4095", 0), 2);
  EXPECT_EQ(channel().context()->port, nullptr);
  EXPECT_NE(ReadReal("001GCACO1"), 0);

  // Back to the simulator's port, with a new time-out stored as given.
  ASSERT_EQ(ChangePort(bench().port(), 30), 0);
  EXPECT_EQ(channel().context()->timeout, 30);
  EXPECT_EQ(ReadReal("001GCACO1"), 0);
  EXPECT_EQ(ReadReal("005AF001"), 0);

  // A time-out of 0 keeps the stored one.
  ASSERT_EQ(Command(kCmdClosePort), 0);
  ASSERT_EQ(ChangePort(bench().port(), 0), 0);
  EXPECT_EQ(channel().context()->timeout, 30);
  EXPECT_EQ(ReadReal("001AI01HR"), 0);
}

TEST_F(Channel, ADisabledChannelOpensNothing) {
  LogCapture log;
  DriverChannel disabled(3);
  EXPECT_EQ(disabled.Init(bench().port(), e2e::kTimeout, 0), 0);
  EXPECT_EQ(disabled.context()->port, nullptr);
  EXPECT_FALSE(log.Contains("ZAMKT: Johnson N2  Driver, loaded successfully."));
  // The port is still the first channel's.
  EXPECT_EQ(ReadReal("001GCACO1"), 0);
}

TEST_F(Channel, StartUpReadsTheStationTypesOfThePlant) {
  LogCapture log;
  ASSERT_EQ(bench().Reopen(), 0);
  EXPECT_TRUE(log.Contains("ZAMKT01: ReadInitFile() PLC #005 set to type 'N2OPEN'"));
  EXPECT_TRUE(log.Contains("ZAMKT01: ReadInitFile() PLC #010 set to type 'XT9100'"));
  EXPECT_TRUE(log.Contains("ZAMKT01: ReadInitFile() PLC #020 set to type 'TC9100'"));
  EXPECT_TRUE(log.Contains("ZAMKT: Johnson N2  Driver, loaded successfully."));
  EXPECT_STREQ(channel().context()->stationTypes[1], "DX9100");
  EXPECT_EQ(channel().context()->timeout, 100) << "command 1 raises a time-out below 100";
}

}  // namespace
