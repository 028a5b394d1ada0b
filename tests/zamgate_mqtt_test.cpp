// zamgate against a real broker and the simulator: the plant's values
// published retained with their quality and time, sets written and verified,
// sets refused without a frame on the line, a station demoted and its values
// stale, the broker restarted under the gateway, and a clean stop.
#include <gtest/gtest.h>

#include <regex>

#include "tests/zamgate_test_helpers.h"

namespace {

using namespace zamgate_test;

// Plant values the test sets, so that every published value is checked
// against what the simulator holds.
const std::vector<std::string> kPlant = {
    "--static",
    "--set", "value 1 PM01 LSP 23.25",
    "--set", "value 1 TS01 START1 07:45",
    "--set", "value 1 GC DCO3 0",
    "--set", "value 5 AO 3 12.5",
    // The XT9100 answers its first requests, then is silent for a while.
    "--set", "script 10 ok ok ok " + [] {
      std::string steps;
      for (int i = 0; i < 60; ++i) steps += "silence ";
      return steps;
    }(),
};

const std::string kGates =
    "[[gate]]\nname = \"Setpoint\"\ngas = \"001PM01LSP\"\ntype = \"real\"\nwritable = true\n"
    "[[gate]]\nname = \"Start\"\ngas = \"001TS01START1\"\nwritable = true\n"
    "[[gate]]\nname = \"Output 3\"\ngas = \"001GCDCO3\"\ntype = \"digital\"\n"
    "[[gate]]\nname = \"Open AO3\"\ngas = \"005AO003\"\ntype = \"real\"\nwritable = true\n"
    "[[gate]]\nname = \"XT input\"\ngas = \"010XP01AI1\"\ntype = \"real\"\n";

const std::regex kIsoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d))");

int WritesOnTheLine(const std::string &simLog) {
  return CountOf(simLog, "mem-write:") + CountOf(simLog, "area-write:") + CountOf(simLog, "n2open-write:");
}

class ZamgateMqtt : public ::testing::Test {
 protected:
  ZamgateMqtt() : sim_(kPlant) {}
  void SetUp() override {
    ASSERT_FALSE(sim_.port().empty()) << sim_.Log();
    gateway_ = std::make_unique<Gateway>(GatewayConfigText("bus1", sim_, broker_.port(), kGates));
    ASSERT_GT(gateway_->httpPort(), 0) << gateway_->Log();
  }
  std::string Topic(const std::string &gate) const { return "test/bus1/" + gate; }

  Broker broker_;
  Simulator sim_;
  std::unique_ptr<Gateway> gateway_;
};

TEST_F(ZamgateMqtt, PublishesThePlantsValuesRetainedWithQualityAndTime) {
  struct Expected {
    const char *gate;
    json value;
    const char *text;
    const char *type;
  };
  const Expected expected[] = {
      {"Setpoint", 23.25, "23.25", "real"},
      {"Start", 465, "465 (07:45)", "int32"},
      {"Output 3", 0, "0 (off)", "digital"},
      {"Open AO3", 12.5, "12.5", "real"},
  };
  Subscriber live(broker_.port(), "test/bus1/#");
  for (const Expected &row : expected) {
    ASSERT_TRUE(live.WaitFor(Topic(row.gate), [](const json &m) { return m["quality"] == "good"; })) << row.gate;
    json message = live.Last(Topic(row.gate));
    EXPECT_EQ(message["value"], row.value) << row.gate;
    EXPECT_EQ(message["text"], row.text) << row.gate;
    EXPECT_EQ(message["type"], row.type) << row.gate;
    EXPECT_TRUE(std::regex_match(message["time"].get<std::string>(), kIsoTime)) << message;
  }
  ASSERT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["state"] == "online"; }));
  ASSERT_TRUE(live.WaitFor("test/bus1/stations/1", [](const json &m) { return m["state"] == "up"; }));
  json station = live.Last("test/bus1/stations/1");
  EXPECT_EQ(station["good_share"], 1.0);
  EXPECT_TRUE(station["median_ms"].is_number() && station["p95_ms"].is_number()) << station;
  EXPECT_TRUE(std::regex_match(station["last_reply"].get<std::string>(), kIsoTime)) << station;

  // A client that comes later gets the current values from the broker at
  // once: once it has the retained status, the broker has given it every
  // retained message it holds, so a gate without one was not retained.
  Subscriber late(broker_.port(), "test/bus1/+");
  ASSERT_TRUE(WaitUntil([&] { return !late.On("test/bus1/status").empty(); }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::vector<Message> setpoint = late.On(Topic("Setpoint"));
  ASSERT_FALSE(setpoint.empty()) << "the gate's state was not published retained";
  EXPECT_TRUE(setpoint.front().retained) << "the gate's state was not published retained";
  EXPECT_EQ(late.Last(Topic("Setpoint"))["value"], 23.25);
}

TEST_F(ZamgateMqtt, RefusedSetsNeverReachTheLine) {
  Subscriber results(broker_.port(), "test/bus1/+/set/result");
  const RefusedSet refused[] = {
      {"Setpoint", "{\"value\": ", "malformed"},
      {"Setpoint", "[1,2]", "malformed"},
      {"Setpoint", "abc", "not a number"},
      {"Setpoint", "99999", "out of range"},
      {"Start", "25:61", ""},
      {"No such gate", "1", "no gate named"},
      {"Output 3", "1", "not writable"},
      {"Setpoint", "", "no value"},
  };
  ASSERT_TRUE(WaitOnline(broker_.port(), "bus1"));
  ASSERT_TRUE(ExpectSetsRefused(results, Topic(""), refused)) << results.Messages().size();
  // Several cycles later, still nothing written.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(WritesOnTheLine(sim_.Log()), 0) << sim_.Log();
}

TEST_F(ZamgateMqtt, SetsAreWrittenVerifiedAndPublished) {
  Subscriber live(broker_.port(), "test/bus1/#");
  ASSERT_TRUE(live.WaitFor(Topic("Setpoint"), [](const json &m) { return m["quality"] == "good"; }));
  struct Accepted {
    const char *gate;
    const char *payload;
    json readBack;
  };
  const Accepted accepted[] = {
      {"Setpoint", "21.5", 21.5},
      {"Start", "{\"value\": \"08:15\", \"id\": \"r2\"}", 495},
      {"Open AO3", "7.25", 7.25},
  };
  for (const Accepted &row : accepted) {
    live.Publish(Topic(row.gate) + "/set", row.payload);
    ASSERT_TRUE(live.WaitFor(Topic(row.gate) + "/set/result", [](const json &) { return true; })) << row.gate;
    json result = live.Last(Topic(row.gate) + "/set/result");
    EXPECT_EQ(result["outcome"], "verified") << result;
    EXPECT_EQ(result["read_back"], row.readBack) << result;
    // The new value is published at once, without waiting for a poll.
    EXPECT_TRUE(live.WaitFor(Topic(row.gate), [&](const json &m) { return m["value"] == row.readBack; }, 3000));
  }
  EXPECT_EQ(live.Last(Topic("Start") + "/set/result")["id"], "r2");
  EXPECT_EQ(CountOf(sim_.Log(), "mem-write:"), 1);
  EXPECT_EQ(CountOf(sim_.Log(), "area-write:"), 1);
  EXPECT_EQ(CountOf(sim_.Log(), "n2open-write:"), 1);
}

TEST_F(ZamgateMqtt, ASilentStationIsDemotedItsValuesStaleThenGoodAgain) {
  Subscriber live(broker_.port(), "test/bus1/#");
  ASSERT_TRUE(live.WaitFor(Topic("XT input"), [](const json &m) { return m["quality"] == "good"; }));
  ASSERT_TRUE(live.WaitFor(Topic("XT input"), [](const json &m) { return m["quality"] == "stale"; }, 20000))
      << gateway_->Log();
  json stale = live.Last(Topic("XT input"));
  EXPECT_TRUE(stale["value"].is_number()) << stale;
  EXPECT_GE(stale["age_s"].get<double>(), 0.0);
  EXPECT_TRUE(live.WaitFor("test/bus1/stations/10", [](const json &m) { return m["state"] == "demoted"; }, 5000));
  // The script runs out: the station answers and its value is good again.
  EXPECT_TRUE(live.WaitFor(Topic("XT input"), [](const json &m) { return m["quality"] == "good"; }, 30000));
  EXPECT_TRUE(Contains(gateway_->Log(), "station 10 gave no reply"));
}

TEST_F(ZamgateMqtt, RepublishesEveryValueToARestartedBroker) {
  {
    Subscriber first(broker_.port(), "test/bus1/#");
    ASSERT_TRUE(first.WaitFor(Topic("Setpoint"), [](const json &m) { return m["quality"] == "good"; }));
  }
  broker_.Stop();  // no persistence: the retained values go with it
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  broker_.Start();
  ASSERT_TRUE(WaitUntil([&] { return Contains(gateway_->Log(), "reconnected to the MQTT broker"); }, 15000))
      << gateway_->Log();
  Subscriber after(broker_.port(), "test/bus1/#");
  for (const char *gate : {"Setpoint", "Start", "Output 3", "Open AO3"}) {
    EXPECT_TRUE(WaitUntil([&] { return !after.On(Topic(gate)).empty(); }, 5000)) << gate;
  }
  EXPECT_EQ(after.Last("test/bus1/status")["state"], "online");
}

TEST_F(ZamgateMqtt, SigtermPublishesOfflineAndEndsCleanly) {
  Subscriber live(broker_.port(), "test/bus1/status");
  ASSERT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["state"] == "online"; }));
  EXPECT_EQ(gateway_->Stop(), 0) << gateway_->Log();
  EXPECT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["state"] == "offline"; }, 5000));
  EXPECT_TRUE(Contains(gateway_->Log(), "stopping"));
  // The port was closed: zamhost opens it at once.
  RunResult read = RunZamhost({"--quiet", "read", "--port", sim_.port(), "--timeout", "100", "001PM01LSP"});
  EXPECT_EQ(read.exitCode, 0) << read.err;
}

TEST(ZamgatePortLoss, ALostPortIsReopenedAndTheStatusSaysSoMeanwhile) {
  TempFolder folder;
  const std::string link = folder.File("bus");
  Broker broker;
  auto sim = std::make_unique<Simulator>(std::vector<std::string>{"--static", "--link", link});
  ASSERT_FALSE(sim->port().empty());
  std::string config = GatewayConfigText("bus1", *sim, broker.port(), kGates);
  config.replace(config.find(sim->port()), sim->port().size(), link);
  Subscriber live(broker.port(), "test/bus1/#");
  Gateway gateway(config);
  ASSERT_TRUE(live.WaitFor("test/bus1/Setpoint", [](const json &m) { return m["quality"] == "good"; }))
      << gateway.Log();

  sim->Stop();  // the other end of the line goes away
  EXPECT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["port"] == "lost"; }, 15000))
      << gateway.Log();
  EXPECT_TRUE(live.WaitFor("test/bus1/Setpoint", [](const json &m) { return m["quality"] == "stale"; }, 5000));
  EXPECT_TRUE(Contains(gateway.Log(), "port lost")) << gateway.Log();

  Simulator back({"--static", "--link", link});
  ASSERT_FALSE(back.port().empty()) << back.Log();
  EXPECT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["port"] == "open"; }, 30000))
      << gateway.Log();
  live.Clear();
  EXPECT_TRUE(live.WaitFor("test/bus1/Setpoint", [](const json &m) { return m["quality"] == "good"; }, 15000))
      << gateway.Log();
  EXPECT_TRUE(Contains(gateway.Log(), "port back")) << gateway.Log();
}

}  // namespace
