// Command 2 end to end: a warm start of each station family through ZamMain,
// with a scripted station on a pseudo-terminal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/requests.h"
#include "tests/support/driver_channel.h"
#include "tests/support/pty.h"
#include "tests/support/scripted_device.h"

namespace {

using Messages = std::vector<std::string>;

// The initialisation frames of N2 Open station 5.
const std::string kIdentify = ">0504C9";
const std::string kStatus = ">05FAB";

struct Outcome {
  int32_t status;
  std::vector<std::string> sent;
  std::vector<std::string> mismatches;
};

class WarmStartTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("ZAMKT01.int", "002 = XT9100\n003 = TC9100\n005 = N2OPEN\n");
    ASSERT_EQ(channel_.Init(pty_.portName(), 5), 0);
    log_.Clear();
  }

  Outcome WarmStart(int32_t station, std::vector<DeviceStep> script) {
    ScriptedDevice device(pty_.master());
    device.Run(std::move(script));
    int32_t status = channel_.WarmStartStation(station);
    std::vector<std::string> sent = device.Finish(200);
    return Outcome{status, sent, device.Mismatches()};
  }

  TempWorkDir dir_;
  LogCapture log_;
  PtyPair pty_;
  DriverChannel channel_;
};

TEST_F(WarmStartTest, System91StationsOnlyLogTheirLine) {
  for (int32_t station : {1, 2, 3, 255}) {
    SCOPED_TRACE(station);
    log_.Clear();
    Outcome outcome = WarmStart(station, {});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.sent.empty());
    EXPECT_EQ(log_.Messages(), Messages{"ZAMKT01: WarmStart. Station " + std::to_string(station)});
  }
}

TEST_F(WarmStartTest, StationsOutsideTheBusOnlyLogTheirLine) {
  for (int32_t station : {0, 256, -1, 100000}) {
    SCOPED_TRACE(station);
    log_.Clear();
    Outcome outcome = WarmStart(station, {});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.sent.empty());
    EXPECT_EQ(log_.Messages(), Messages{"ZAMKT01: WarmStart. Station " + std::to_string(station)});
  }
}

TEST_F(WarmStartTest, N2OpenStationIsInitialisedAgainAndItsFlagLeftAlone) {
  for (int32_t flag : {0, 1}) {
    SCOPED_TRACE(flag);
    channel_.context()->n2openInitialised[5] = flag;
    log_.Clear();
    Outcome outcome = WarmStart(5, {Answer(kIdentify, "A"), Answer(kStatus, "A")});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.sent, (std::vector<std::string>{kIdentify, kStatus}));
    EXPECT_EQ(channel_.context()->n2openInitialised[5], flag);
    EXPECT_EQ(log_.Messages(), Messages{"ZAMKT01: WarmStart. Station 5"});
  }
}

TEST_F(WarmStartTest, SilentN2OpenStationStillReturns0AndStaysMarkedInitialised) {
  channel_.context()->n2openInitialised[5] = 1;
  std::vector<DeviceStep> script(5, Silence(kIdentify));
  script.insert(script.end(), 5, Silence(kStatus));
  Outcome outcome = WarmStart(5, script);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.sent.size(), 10u);
  EXPECT_TRUE(outcome.mismatches.empty()) << outcome.mismatches.front();
  EXPECT_EQ(channel_.context()->n2openInitialised[5], 1);
  Messages messages = log_.Messages();
  ASSERT_EQ(messages.size(), 11u);
  EXPECT_EQ(messages[0], "ZAMKT01: WarmStart. Station 5");
  EXPECT_EQ(messages[10], "ZAMKT01: N2OPEN_InitStation() failed to read response. Station 5");
}

TEST_F(WarmStartTest, ClosedPortSkipsTheDiscardButStillTriesTheInitialisation) {
  ASSERT_EQ(channel_.Close(), 0);
  log_.Clear();
  Outcome outcome = WarmStart(5, {});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(outcome.sent.empty());
  Messages messages = log_.Messages();
  ASSERT_EQ(messages.size(), 11u);
  EXPECT_EQ(messages[0], "ZAMKT01: WarmStart. Station 5");
  for (size_t i = 1; i < messages.size(); ++i) {
    EXPECT_EQ(messages[i], "ZAMKT01: N2OPEN_InitStation() failed to read response. Station 5");
  }
}

}  // namespace
