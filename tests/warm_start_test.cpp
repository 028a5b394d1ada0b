// Command 2 end to end: a warm start of each station family through ZamMain,
// with a scripted station on a pseudo-terminal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/requests.h"
#include "tests/support/exchange_fixture.h"

namespace {

using Messages = std::vector<std::string>;

// The initialisation frames of N2 Open station 5.
const std::string kIdentify = ">0504C9";
const std::string kStatus = ">05FAB";

class WarmStartTest : public ExchangeFixture {
 protected:
  WarmStartTest() : ExchangeFixture("002 = XT9100\n003 = TC9100\n005 = N2OPEN\n") {}

  Outcome WarmStart(int32_t station, std::vector<DeviceStep> script) {
    return Exchange(std::move(script), [&] { return channel_.WarmStartStation(station); });
  }

  // A warm start that sends nothing, returns 0 and logs only its own line.
  void ExpectOnlyTheWarmStartLine(int32_t station) {
    SCOPED_TRACE(station);
    log_.Clear();
    Outcome outcome = WarmStart(station, {});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.sent.empty());
    EXPECT_EQ(log_.Messages(), Messages{"ZAMKT01: WarmStart. Station " + std::to_string(station)});
  }
};

TEST_F(WarmStartTest, System91StationsOnlyLogTheirLine) {
  for (int32_t station : {1, 2, 3, 255}) ExpectOnlyTheWarmStartLine(station);
}

TEST_F(WarmStartTest, StationsOutsideTheBusOnlyLogTheirLine) {
  for (int32_t station : {0, 256, -1, 100000}) ExpectOnlyTheWarmStartLine(station);
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
