// From an empty folder to a gateway publishing the plant, with nothing typed
// but the scan: zamhost scan --points writes the gate list and the zamgate
// configuration, zamgate --check-config accepts them, and the values the
// gateway publishes on a real broker are the plant's.
#include <gtest/gtest.h>

#include "tests/zamgate_test_helpers.h"
#include "zamgate/core/config.h"

namespace {

using namespace zamhost_test;
using namespace zamgate_test;

struct Expected {
  const char *gate;
  double value;
};

std::string Replaced(std::string text, const std::string &from, const std::string &to) {
  size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

void Commission(const std::vector<std::string> &simulatorArgs, const std::vector<Expected> &expected) {
  Simulator sim(simulatorArgs);
  ASSERT_FALSE(sim.port().empty());
  TempFolder folder;
  RunResult scan = RunZamhost({"scan", "--port", sim.port(), "--points", "--write-station-file", "plant.int",
                               "--write-gates", "gates.csv", "--write-config", "zamgate.toml"},
                              RunOptions{folder.path(), {}, 120000, "", -1});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  RunResult check = RunProgram(kZamgate, {"--check-config", "zamgate.toml"}, RunOptions{folder.path(), {}, 60000, "", -1});
  ASSERT_EQ(check.exitCode, 0) << check.out << check.err;
  EXPECT_TRUE(Contains(check.out, "configuration ok")) << check.out;

  // The broker and the HTTP port of the test; everything else as written.
  Broker broker;
  std::string config = ReadFile(folder.File("zamgate.toml"));
  config = Replaced(config, "[mqtt]\nhost = \"127.0.0.1\"\nport = 1883\n",
                    "[mqtt]\nhost = \"127.0.0.1\"\nport = " + std::to_string(broker.port()) + "\nprefix = \"test\"\n");
  config = Replaced(config, "listen = \"127.0.0.1:8080\"", "listen = \"127.0.0.1:0\"");
  WriteFile(folder.File("test.toml"), config);
  Subscriber live(broker.port(), "test/bus1/#");
  pid_t gateway = Spawn(kZamgate, {"--config", folder.File("test.toml")}, folder.File("zamgate.log"));
  for (const Expected &row : expected) {
    // scan's configuration names topics by the gate names' slugs.
    const std::string topic = std::string("test/bus1/") + zamgate::Slug(row.gate);
    ASSERT_TRUE(live.WaitFor(topic, [](const json &m) { return m["quality"] == "good"; }, 30000))
        << row.gate << "\n" << ReadFile(folder.File("zamgate.log"));
    EXPECT_NEAR(live.Last(topic)["value"].get<double>(), row.value, 0.01) << row.gate;
  }
  EXPECT_EQ(StopProcess(gateway), 0) << ReadFile(folder.File("zamgate.log"));
}

TEST(ZamgateCommission, TheDefaultPlantIsPublishedFromTheScansFilesAlone) {
  Commission({"--static", "--set", "value 10 XP01 AI1 7.5", "--set", "value 20 TCGC TEMP 23.5"},
             {{"st1 AI1 input", 21.5},
              {"st1 TS1 start 1", 450},
              {"st5 AO1 output", 50.0},
              {"st5 BI1 input", 1},
              {"st10 AI1 input", 7.5},
              {"st20 room temperature", 23.5}});
}

TEST(ZamgateCommission, APlantWithGapsAndEveryFamilyIsPublishedFromTheScansFilesAlone) {
  Commission({"--static", "--plant", std::string(ZAMKT_SOURCE_DIR) + "/sim/commission.plant"},
             {{"st3 AI2 input", 18.25},
              {"st3 PM1 setpoint", 21.5},
              {"st3 TS2 start 1", 375},
              {"st17 AI2 input", 12.5},
              {"st17 BO3 output", 1},
              {"st64 AI3 input", 7.75},
              {"st130 room temperature", 22.0},
              {"st130 loop 2 setpoint", 19.5},
              {"st254 AF20 value", 3.5}});
}

}  // namespace

namespace {

using namespace zamhost_test;
using namespace zamgate_test;

// Station 1's clock as zamhost clock reports it: seconds ahead of the host's.
long AheadOfHost(const Simulator &sim, int station, const std::string &args = "") {
  std::vector<std::string> command = {"clock", "--port", sim.port(), "--station", "20=TC9100", "-f", "json"};
  if (!args.empty()) command.push_back(args);
  command.push_back(std::to_string(station));
  RunResult clock = RunZamhost(command);
  std::vector<std::string> rows = LinesWith(clock.out, "\"station\":" + std::to_string(station));
  if (clock.exitCode != 0 || rows.empty()) {
    ADD_FAILURE() << clock.out << clock.err;
    return 99999;
  }
  return json::parse(rows.back())["ahead_s"].get<long>();
}

TEST(ZamgateClock, ZamhostShowsAndSetsTheClocksAndTheGatewayKeepsThem) {
  TempFolder folder;
  WriteFile(folder.File("clock.plant"), "station 1 DX9100 clock=-3600\nstation 20 TC9100\n");
  Simulator sim({"--plant", folder.File("clock.plant")});
  ASSERT_FALSE(sim.port().empty());
  EXPECT_NEAR(AheadOfHost(sim, 1), -3600, 5) << "an hour behind";
  EXPECT_NEAR(AheadOfHost(sim, 1, "--sync"), 0, 5);
  EXPECT_NEAR(AheadOfHost(sim, 20, "--sync"), 0, 60) << "a TC9100 counts whole minutes";

  // Put station 1 behind again; the gateway sets it after its first cycle.
  RunResult back = RunZamhost({"write", "--port", sim.port(), "001RTCLTIME=00:00:01"});
  ASSERT_EQ(back.exitCode, 0) << back.err;
  Broker broker;
  WriteFile(folder.File("gates.csv"), "a,001AI01AI,real\nt,020TCGCTEMP,real\n");
  WriteFile(folder.File("zamgate.toml"), "[gateway]\nid = \"bus1\"\n[line]\nport = \"" + sim.port() +
                                             "\"\ntimeout_ms = 200\nstations = { 20 = \"TC9100\" }\n[gates]\ncsv = "
                                             "\"gates.csv\"\n[clock]\nsync_every_h = 24\n[mqtt]\nport = " +
                                             std::to_string(broker.port()) + "\n[http]\nlisten = \"\"\n");
  Subscriber clocks(broker.port(), "n2/bus1/stations/+/clock");
  pid_t gateway = Spawn(kZamgate, {"--config", folder.File("zamgate.toml")}, folder.File("zamgate.log"));
  EXPECT_TRUE(WaitUntil([&] { return Contains(ReadFile(folder.File("zamgate.log")), "clock of station 20 set"); }, 20000))
      << ReadFile(folder.File("zamgate.log"));
  // Each outcome is published too, retained, with how far the clock was off.
  EXPECT_TRUE(clocks.WaitFor("n2/bus1/stations/1/clock", [](const json &clock) {
    return clock["outcome"] == "set" && clock["ahead_s"].is_number();
  })) << clocks.Messages().size();
  EXPECT_TRUE(clocks.WaitFor("n2/bus1/stations/20/clock", [](const json &clock) { return clock["outcome"] == "set"; }));
  // Retained: a subscriber that comes later is given it.
  Subscriber later(broker.port(), "n2/bus1/stations/1/clock");
  EXPECT_TRUE(WaitUntil([&] { return !later.On("n2/bus1/stations/1/clock").empty(); }, 5000));
  EXPECT_TRUE(!later.On("n2/bus1/stations/1/clock").empty() && later.On("n2/bus1/stations/1/clock").back().retained);
  EXPECT_EQ(StopProcess(gateway), 0);
  EXPECT_TRUE(Contains(ReadFile(folder.File("zamgate.log")), "clock of station 1 set from the host's clock"))
      << ReadFile(folder.File("zamgate.log"));
  EXPECT_NEAR(AheadOfHost(sim, 1), 0, 5);

  // A sync interval that is no number of hours is refused with its line.
  WriteFile(folder.File("bad.toml"), "[gateway]\nid = \"bus1\"\n[line]\nport = \"NUL\"\n[gates]\ncsv = \"gates.csv\"\n"
                                     "[clock]\nsync_every_h = -2\n");
  RunResult bad = RunProgram(kZamgate, {"--check-config", folder.File("bad.toml")});
  EXPECT_NE(bad.exitCode, 0);
  EXPECT_TRUE(Contains(bad.err + bad.out, "bad.toml:8")) << bad.err << bad.out;
}

}  // namespace
