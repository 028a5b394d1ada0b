// zamgate's poll, writes and stops on a live line, against the simulator and
// a real broker: a write is never undone by a read that went out before it,
// values carry the time of their own read, a flood of writes to a silent
// station leaves the other stations their reads, the stop is bounded in
// every state (writes queued, broker stuck, request under way), the reply
// time-out survives a port reopen, a port missing at start is waited for,
// and the write outcomes, deadband and refresh a user relies on.
#include <gtest/gtest.h>
#include <httplib.h>
#include <time.h>

#include <regex>
#include <set>

#include "tests/support/pty.h"
#include "tests/support/scripted_device.h"
#include "tests/zamgate_modbus_client.h"
#include "tests/zamgate_test_helpers.h"

namespace {

using namespace zamgate_test;

const std::string kSetpoint = "[[gate]]\nname = \"Setpoint\"\ngas = \"001PM01LSP\"\ntype = \"real\"\nwritable = true\n";
const std::string kOpenAo3 = "[[gate]]\nname = \"Open AO3\"\ngas = \"005AO003\"\ntype = \"real\"\nwritable = true\n";
const std::string kXtInput = "[[gate]]\nname = \"XT input\"\ngas = \"010XP01AI1\"\ntype = \"real\"\n";

std::string Topic(const std::string &gate) { return "test/bus1/" + gate; }

// n steps of the same kind, for a station's fault script.
std::string Steps(const std::string &step, int n) {
  std::string steps;
  for (int i = 0; i < n; ++i) steps += step + " ";
  return steps;
}

// The configuration with one line's value replaced (the helpers' defaults).
std::string With(std::string config, const std::string &from, const std::string &to) {
  size_t at = config.find(from);
  if (at != std::string::npos) config.replace(at, from.size(), to);
  return config;
}

// Milliseconds since the epoch of "2024-05-01T12:03:07.123Z".
long long EpochMs(const std::string &iso) {
  tm utc{};
  int ms = 0;
  if (sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour, &utc.tm_min,
             &utc.tm_sec, &ms) != 7) {
    return -1;
  }
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  return static_cast<long long>(timegm(&utc)) * 1000 + ms;
}

json ApiState(int httpPort) {
  httplib::Client client("127.0.0.1", httpPort);
  auto response = client.Get("/api/state");
  if (!response || response->status != 200) return json();
  return json::parse(response->body, nullptr, false);
}

json GateOf(const json &state, const std::string &name) {
  if (!state.is_object()) return json();
  for (const json &gate : state["gates"]) {
    if (gate["name"] == name) return gate;
  }
  return json();
}

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Fault 5: a set that lands after its gate's read in a cycle. Stations 5 and
// 10 answer late, so each cycle runs on well past the Setpoint's read and
// about half the sets are carried out in that stretch; the read that went out
// before the write must not put the old value back.
TEST(ZamgatePollSafety, AVerifiedWriteIsNeverUndoneByAReadThatWentOutBeforeIt) {
  Broker broker;
  Simulator sim({"--static", "--set", "value 1 PM01 LSP 23.25", "--set", "fault 5 delay 1 ms=150", "--set",
                 "fault 10 delay 1 ms=150"});
  ASSERT_FALSE(sim.port().empty());
  Gateway gateway(With(GatewayConfigText("bus1", sim, broker.port(), kSetpoint + kOpenAo3 + kXtInput),
                       "timeout_ms = 60", "timeout_ms = 600"));
  Subscriber live(broker.port(), "test/bus1/#");
  ASSERT_TRUE(live.WaitFor(Topic("Setpoint"), [](const json &m) { return m["quality"] == "good"; })) << gateway.Log();
  int checked = 0;
  for (const char *value : {"20.5", "21.25", "22", "22.5", "19.75", "21", "20", "23"}) {
    live.Clear();
    live.Publish(Topic("Setpoint") + "/set", value);
    ASSERT_TRUE(live.WaitFor(Topic("Setpoint") + "/set/result", [](const json &) { return true; }, 10000)) << value;
    json result = live.Last(Topic("Setpoint") + "/set/result");
    ASSERT_EQ(result["outcome"], "verified") << result;
    const json written = result["read_back"];
    // Three cycles and more: every read that was under way has come back.
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    std::vector<Message> values = live.On(Topic("Setpoint"));
    size_t first = 0;
    while (first < values.size() && json::parse(values[first].payload)["value"] != written) ++first;
    ASSERT_LT(first, values.size()) << "the written value was never published: " << value;
    for (size_t i = first; i < values.size(); ++i) {
      EXPECT_EQ(json::parse(values[i].payload)["value"], written) << "written " << value << ", then published "
                                                                  << values[i].payload;
    }
    // The page and Modbus read the same store.
    EXPECT_EQ(GateOf(ApiState(gateway.httpPort()), "Setpoint")["value"], written);
    ++checked;
  }
  EXPECT_EQ(checked, 8);
}

// Fault 12: a value's time is that of its own read. The XT9100's read comes
// back at least 150 ms after the Setpoint's in each cycle; stamped at the
// cycle's end, both would carry the same time.
TEST(ZamgatePollSafety, EachValueCarriesTheTimeOfItsOwnRead) {
  Broker broker;
  Simulator sim({"--static", "--set", "fault 10 delay 1 ms=150"});
  ASSERT_FALSE(sim.port().empty());
  std::string config = GatewayConfigText("bus1", sim, broker.port(), kSetpoint + kXtInput);
  config = With(With(config, "timeout_ms = 60", "timeout_ms = 600"), "interval_ms = 200", "interval_ms = 1500");
  Gateway gateway(config);
  long long best = -1000000;
  WaitUntil(
      [&] {
        json state = ApiState(gateway.httpPort());
        json setpoint = GateOf(state, "Setpoint"), xt = GateOf(state, "XT input");
        if (setpoint.is_null() || xt.is_null() || setpoint["quality"] != "good" || xt["quality"] != "good") return false;
        best = std::max(best, EpochMs(xt["time"]) - EpochMs(setpoint["time"]));
        return best >= 100;
      },
      8000);
  EXPECT_GE(best, 100) << "the XT9100's value is stamped " << best << " ms after the Setpoint's\n" << gateway.Log();
}

// Fault 7: five sets a second to a gate of a station that has gone silent,
// and two Modbus writes a second to it. The other stations keep their
// reads, the silent station's gates do not stay good, and the writes are
// refused once the station is demoted.
TEST(ZamgatePollSafety, AFloodOfWritesToASilentStationLeavesTheOtherStationsTheirReads) {
  Broker broker;
  // Station 1 answers a few cycles, then stays silent.
  Simulator sim({"--static", "--set", "script 1 " + Steps("ok", 6) + Steps("silence", 1500)});
  ASSERT_FALSE(sim.port().empty());
  const std::string modbus =
      "[modbus]\nlisten = \"127.0.0.1:0\"\n[[modbus.map]]\ngate = \"Setpoint\"\ntable = \"holding\"\naddress = 0\n";
  Gateway gateway(GatewayConfigText("bus1", sim, broker.port(), kSetpoint + kOpenAo3 + kXtInput, modbus));
  Subscriber live(broker.port(), "test/bus1/#");
  ASSERT_TRUE(live.WaitFor(Topic("Setpoint"), [](const json &m) { return m["quality"] == "good"; })) << gateway.Log();
  std::string log = gateway.Log();
  size_t at = log.find("Modbus TCP on 127.0.0.1:");
  ASSERT_NE(at, std::string::npos) << log;
  ModbusClient client(atoi(log.c_str() + at + strlen("Modbus TCP on 127.0.0.1:")));
  ASSERT_TRUE(client.connected());

  const long before = CountOf(sim.Log(), "station 5 N2OPEN");
  const auto start = Clock::now();
  for (int i = 0; i < 30 && MsSince(start) < 12000; ++i) {  // 6 s of sets at 5 a second
    live.Publish(Topic("Setpoint") + "/set", std::to_string(20 + i % 5));
    if (i % 5 == 0 || i % 5 == 3) {  // two a second
      client.WriteRegisters(0, {static_cast<uint16_t>(0x41A0), 0});  // 20.0, answered or refused
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  const long readsOfStation5 = CountOf(sim.Log(), "station 5 N2OPEN") - before;
  RecordProperty("station_5_exchanges_in_6_s", static_cast<int>(readsOfStation5));
  // About 30 cycles ran in those 6 s; starved, station 5 got one or two.
  EXPECT_GE(readsOfStation5, 8) << gateway.Log();
  json state = ApiState(gateway.httpPort());
  EXPECT_NE(GateOf(state, "Setpoint")["quality"], "good") << GateOf(state, "Setpoint");
  EXPECT_EQ(GateOf(state, "Open AO3")["quality"], "good") << GateOf(state, "Open AO3");
  EXPECT_EQ(GateOf(state, "XT input")["quality"], "good") << GateOf(state, "XT input");
  EXPECT_NE(live.Last(Topic("Setpoint"))["quality"], "good");
  bool refusedAtOnce = false;
  for (const Message &message : live.On(Topic("Setpoint") + "/set/result")) {
    json result = json::parse(message.payload);
    refusedAtOnce = refusedAtOnce || Contains(result["text"].get<std::string>(), "does not answer its polls");
  }
  EXPECT_TRUE(refusedAtOnce) << gateway.Log();
}

// Fault 7, the other half: a good value that stops being read turns stale
// after three intervals. Here every cycle waits 400 ms on the XT9100, so the
// Setpoint is read every 400 ms and more against a 100 ms interval.
TEST(ZamgatePollSafety, AGoodValueNotReadForThreeIntervalsIsStale) {
  Broker broker;
  Simulator sim({"--static", "--set", "fault 10 delay 1 ms=400"});
  ASSERT_FALSE(sim.port().empty());
  std::string config = GatewayConfigText("bus1", sim, broker.port(), kSetpoint + kXtInput);
  config = With(With(config, "interval_ms = 200", "interval_ms = 100"), "timeout_ms = 60", "timeout_ms = 800");
  Gateway gateway(config);
  Subscriber live(broker.port(), "test/bus1/#");
  ASSERT_TRUE(live.WaitFor(Topic("Setpoint"), [](const json &m) { return m["quality"] == "good"; })) << gateway.Log();
  ASSERT_TRUE(live.WaitFor(Topic("Setpoint"), [](const json &m) { return m["quality"] == "stale"; }, 10000))
      << gateway.Log();
  for (const Message &message : live.On(Topic("Setpoint"))) {
    json m = json::parse(message.payload);
    if (m["quality"] != "stale") continue;
    EXPECT_TRUE(Contains(m["status"].get<std::string>(), "not read for")) << m;
    EXPECT_TRUE(m["value"].is_number()) << m;
    EXPECT_GE(m["age_s"].get<double>(), 0.3) << m;
    break;
  }
}

// Fault 8: writes queued behind a slow station when SIGTERM comes. Each is
// answered (cancelled, or carried out when it was on the line), "offline"
// with the stop's time arrives before an orderly disconnect, and the stop
// takes no longer than one reply time-out and a second.
TEST(ZamgatePollSafety, SigtermCancelsQueuedWritesAndSaysOfflineInOrder) {
  Broker broker("allow_anonymous true\nlog_type all\n");
  Simulator sim({"--static", "--set", "fault 1 delay 1 ms=250"});
  ASSERT_FALSE(sim.port().empty());
  std::string config = With(GatewayConfigText("bus1", sim, broker.port(), kSetpoint), "timeout_ms = 60",
                            "timeout_ms = 500");
  Gateway gateway(config);
  Subscriber live(broker.port(), "test/bus1/#");
  ASSERT_TRUE(live.WaitFor(Topic("Setpoint"), [](const json &m) { return m["quality"] == "good"; })) << gateway.Log();
  ASSERT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["state"] == "online"; }));
  const int kSets = 12;
  for (int i = 0; i < kSets; ++i) {
    live.Publish(Topic("Setpoint") + "/set", "{\"value\": " + std::to_string(20 + i % 4) + ", \"id\": \"w" +
                                                 std::to_string(i) + "\"}");
  }
  ASSERT_TRUE(live.WaitFor(Topic("Setpoint") + "/set/result", [](const json &) { return true; }, 10000));
  const long long stopMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  const auto stopping = Clock::now();
  EXPECT_EQ(gateway.Stop(), 0) << gateway.Log();
  const long long took = MsSince(stopping);
  RecordProperty("stop_ms", static_cast<int>(took));
  // One reply time-out and a second, with room for a loaded machine.
  EXPECT_LT(took, 500 + 1000 + 1500) << gateway.Log();

  ASSERT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["state"] == "offline"; }, 5000));
  std::vector<Message> results = live.On(Topic("Setpoint") + "/set/result");
  std::set<std::string> answered;
  int cancelled = 0;
  for (const Message &message : results) {
    json result = json::parse(message.payload);
    answered.insert(result["id"].get<std::string>());
    cancelled += result["outcome"] == "cancelled" ? 1 : 0;
  }
  EXPECT_EQ(answered.size(), static_cast<size_t>(kSets)) << gateway.Log();
  EXPECT_GE(cancelled, 1);
  // The clean offline, stamped at the stop (the will carries the start's time).
  json offline = live.Last("test/bus1/status");
  EXPECT_EQ(offline["state"], "offline");
  EXPECT_GE(EpochMs(offline["time"]), stopMs - 1000) << offline;
  // An orderly disconnect: the broker did not see the connection just close.
  EXPECT_TRUE(WaitUntil([&] { return Contains(broker.Log(), "Received DISCONNECT from zamgate-bus1"); }, 3000))
      << broker.Log();
  EXPECT_FALSE(Contains(broker.Log(), "zamgate-bus1 closed its connection")) << broker.Log();
}

// Fault 8: a broker that takes the connection and never answers (a listening
// socket nobody accepts on). The stop is as quick, and the port released.
TEST(ZamgatePollSafety, SigtermEndsTheGatewayWhileTheBrokerIsStuck) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  socklen_t size = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size);
  // Connections of the test's own fill the backlog: the kernel then drops
  // the gateway's SYNs, and its connect hangs as towards a blackhole.
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    fillers.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Simulator sim({"--static"});
  ASSERT_FALSE(sim.port().empty());
  Gateway gateway(GatewayConfigText("bus1", sim, ntohs(address.sin_port), kSetpoint));
  ASSERT_GT(gateway.httpPort(), 0) << gateway.Log();
  ASSERT_TRUE(WaitUntil([&] { return GateOf(ApiState(gateway.httpPort()), "Setpoint")["quality"] == "good"; }, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the client is waiting for its CONNACK
  const auto stopping = Clock::now();
  EXPECT_EQ(gateway.Stop(), 0) << gateway.Log();
  EXPECT_LT(MsSince(stopping), 60 + 1000 + 1500) << gateway.Log();
  for (int fd : fillers) close(fd);
  close(listener);
  RunResult read = RunZamhost({"--quiet", "read", "--port", sim.port(), "--timeout", "500",
                               "--station-types", sim.stationTypes(), "001PM01LSP"});
  EXPECT_EQ(read.exitCode, 0) << read.err;
}

// Fault 8: SIGTERM while a request to a silent station is under way (the
// driver tries it five times, 5 s here): the gateway does not wait for it.
TEST(ZamgatePollSafety, SigtermDuringARequestToASilentStationIsNotHeldUpByIt) {
  Broker broker;
  Simulator sim({"--static"});
  ASSERT_FALSE(sim.port().empty());
  std::string config = GatewayConfigText(
      "bus1", sim, broker.port(), "[[gate]]\nname = \"Absent\"\ngas = \"030AI01HR\"\ntype = \"real\"\n");
  config = With(With(config, "timeout_ms = 60", "timeout_ms = 1000"), "demote_after = 2", "demote_after = 100");
  Gateway gateway(config);
  ASSERT_TRUE(WaitOnline(broker.port(), "bus1"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // inside a 5 s request
  const auto stopping = Clock::now();
  EXPECT_EQ(gateway.Stop(), 0) << gateway.Log();
  EXPECT_LT(MsSince(stopping), 1000 + 1000 + 1000) << gateway.Log();
  RunResult read = RunZamhost({"--quiet", "read", "--port", sim.port(), "--timeout", "500",
                               "--station-types", sim.stationTypes(), "001PM01LSP"});
  EXPECT_EQ(read.exitCode, 0) << read.err;
}

// A port missing at start is waited for (port lost, retried), and polled once
// it appears; a stop while waiting is as clean.
TEST(ZamgatePollSafety, APortMissingAtStartIsWaitedFor) {
  TempFolder folder;
  const std::string link = folder.File("bus");
  Broker broker;
  Simulator types({"--static"});  // only for its station-type file and config text
  std::string config = GatewayConfigText("bus1", types, broker.port(), kSetpoint);
  config = With(config, "port = \"" + types.port() + "\"", "port = \"" + link + "\"");
  Subscriber live(broker.port(), "test/bus1/#");
  Gateway gateway(config);
  ASSERT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["port"] == "lost"; }, 10000))
      << gateway.Log();
  EXPECT_FALSE(gateway.Exited()) << gateway.Log();
  EXPECT_TRUE(Contains(gateway.Log(), "port lost")) << gateway.Log();

  Simulator sim({"--static", "--set", "value 1 PM01 LSP 23.25", "--link", link});
  ASSERT_FALSE(sim.port().empty()) << sim.Log();
  EXPECT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["port"] == "open"; }, 20000))
      << gateway.Log();
  EXPECT_TRUE(live.WaitFor(Topic("Setpoint"), [](const json &m) { return m["value"] == 23.25; }, 10000))
      << gateway.Log();
  EXPECT_EQ(gateway.Stop(), 0);
}

// Fault 9: the reply time-out after a port reopen. Station 30 is absent: with
// 200 ms its request costs the driver five tries, about 1 s; with the
// driver's default of 1000 ms that a plain reopen leaves, 5 s.
TEST(ZamgatePollSafety, TheReplyTimeoutSurvivesAPortReopen) {
  TempFolder folder;
  const std::string link = folder.File("bus");
  Broker broker;
  auto sim = std::make_unique<Simulator>(std::vector<std::string>{"--static", "--link", link});
  ASSERT_FALSE(sim->port().empty());
  std::string config = GatewayConfigText(
      "bus1", *sim, broker.port(), kSetpoint + "[[gate]]\nname = \"Absent\"\ngas = \"030AI01HR\"\ntype = \"real\"\n");
  config = With(With(config, "port = \"" + sim->port() + "\"", "port = \"" + link + "\""), "timeout_ms = 60",
                "timeout_ms = 200");
  config = With(config, "demote_after = 2", "demote_after = 100");
  Gateway gateway(config);
  Subscriber live(broker.port(), "test/bus1/#");
  ASSERT_TRUE(live.WaitFor(Topic("Setpoint"), [](const json &m) { return m["quality"] == "good"; })) << gateway.Log();
  sim->Stop();
  ASSERT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["port"] == "lost"; }, 15000))
      << gateway.Log();
  Simulator back({"--static", "--link", link});
  ASSERT_FALSE(back.port().empty());
  ASSERT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["port"] == "open"; }, 30000))
      << gateway.Log();
  // The line's own view: station 30's tries after the reopen. At 200 ms a
  // try, 6 s hold some thirty (five per request); at 1000 ms, six.
  ASSERT_TRUE(WaitUntil([&] { return CountOf(back.Log(), "station 30") >= 1; }, 10000)) << gateway.Log();
  const long before = CountOf(back.Log(), "station 30");
  std::this_thread::sleep_for(std::chrono::milliseconds(6000));
  EXPECT_GE(CountOf(back.Log(), "station 30") - before, 15) << gateway.Log();
}

// The outcomes a write can have that only the device can cause: a station
// that acknowledges and keeps its own value, a read-back that fails, no
// reply at all. A gateway that compared the read-back with the value it
// sent, or trusted the acknowledgement, would say "verified". The driver's
// trace of a failed write is logged once, not once per try.
TEST(ZamgatePollSafety, WritesTheStationDidNotApplyOrWhoseReadBackFailedAreSaid) {
  const std::vector<DeviceStep> fiveSilences = {Silence(""), Silence(""), Silence(""), Silence(""), Silence("")};
  std::vector<DeviceStep> ackThenSilence = {Answer("", "A")};
  ackThenSilence.insert(ackThenSilence.end(), fiveSilences.begin(), fiveSilences.end());
  struct Case {
    const char *what;
    std::vector<DeviceStep> afterRead;  // the write, then its read-back
    const char *outcome;
    const char *text;
  } cases[] = {
      {"not applied", {Answer("", "A"), Answer("", DataReply("8047"))}, "not applied", "reads back 15 instead of 21.5"},
      {"read-back failed", ackThenSilence, "read-back failed", "the read-back failed"},
      {"no reply", fiveSilences, "no reply", ""},
  };
  for (const Case &c : cases) {
    Broker broker;
    PtyPair pty;
    ScriptedDevice device(pty.master());
    std::vector<DeviceStep> steps = {Answer("", DataReply("8047"))};  // the poll's read
    steps.insert(steps.end(), c.afterRead.begin(), c.afterRead.end());
    device.Run(steps);
    // One cycle a minute: the first cycle's read, then only the write.
    Gateway gateway("[gateway]\nid = \"bus1\"\n[line]\nport = \"" + pty.slavePath() +
                    "\"\ntimeout_ms = 100\n[poll]\ninterval_ms = 60000\n" + kSetpoint +
                    "[mqtt]\nhost = \"127.0.0.1\"\nport = " + std::to_string(broker.port()) +
                    "\nprefix = \"test\"\n[http]\nlisten = \"127.0.0.1:0\"\n");
    Subscriber live(broker.port(), "test/bus1/#");
    ASSERT_TRUE(live.WaitFor(Topic("Setpoint"), [](const json &m) { return m["quality"] == "good"; })) << c.what
                                                                                                       << gateway.Log();
    live.Publish(Topic("Setpoint") + "/set", "21.5");
    ASSERT_TRUE(live.WaitFor(Topic("Setpoint") + "/set/result", [](const json &) { return true; }, 10000)) << c.what;
    json result = live.Last(Topic("Setpoint") + "/set/result");
    EXPECT_EQ(result["outcome"], c.outcome) << c.what << ": " << result;
    EXPECT_TRUE(Contains(result["text"].get<std::string>(), c.text)) << c.what << ": " << result;
    EXPECT_LE(CountOf(gateway.Log(), "16 Bit Value ="), 1) << c.what << ": " << gateway.Log();
    gateway.Stop();
    device.Finish(500);
  }
}

// The deadband: a move of at least the band is published, measured from the
// value last published, so that a slow drift gets out in the end.
TEST(ZamgatePollSafety, TheDeadbandPublishesAMoveOfAtLeastTheBandFromTheLastPublishedValue) {
  Broker broker;
  Simulator sim({"--static", "--set", "value 5 AO 3 12.5"});
  ASSERT_FALSE(sim.port().empty());
  Gateway gateway(GatewayConfigText("bus1", sim, broker.port(), kOpenAo3 + "deadband = 0.5\n"));
  Subscriber live(broker.port(), "test/bus1/#");
  ASSERT_TRUE(live.WaitFor(Topic("Open AO3"), [](const json &m) { return m["value"] == 12.5; })) << gateway.Log();
  struct Step {
    const char *set;
    bool published;
    const char *why;
  } steps[] = {
      {"13", true, "a move of exactly the band"},
      {"13.25", false, "a quarter band from 13"},
      {"13.5", true, "half a band from 13.25 but the whole band from 13, the value last published"},
      {"13.75", false, "a quarter band"},
      {"13.625", false, "less than the band either way"},
  };
  for (const Step &step : steps) {
    live.Clear();
    live.Publish(Topic("Open AO3") + "/set", step.set);
    ASSERT_TRUE(live.WaitFor(Topic("Open AO3") + "/set/result", [](const json &) { return true; }, 10000));
    ASSERT_EQ(live.Last(Topic("Open AO3") + "/set/result")["outcome"], "verified");
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // a few cycles
    const double value = atof(step.set);
    bool seen = false;
    for (const Message &message : live.On(Topic("Open AO3"))) seen = seen || json::parse(message.payload)["value"] == value;
    EXPECT_EQ(seen, step.published) << step.set << ": " << step.why;
  }
}

// refresh_s: an unchanged value is published again every refresh interval.
TEST(ZamgatePollSafety, AnUnchangedValueIsPublishedAgainEveryRefreshInterval) {
  Broker broker;
  Simulator sim({"--static"});
  ASSERT_FALSE(sim.port().empty());
  Gateway gateway(With(GatewayConfigText("bus1", sim, broker.port(), kSetpoint), "refresh_s = 60", "refresh_s = 1"));
  Subscriber live(broker.port(), "test/bus1/Setpoint");
  ASSERT_TRUE(live.WaitFor(Topic("Setpoint"), [](const json &m) { return m["quality"] == "good"; })) << gateway.Log();
  live.Clear();
  EXPECT_TRUE(WaitUntil([&] { return live.On(Topic("Setpoint")).size() >= 2; }, 6000)) << gateway.Log();
  for (const Message &message : live.On(Topic("Setpoint"))) EXPECT_EQ(json::parse(message.payload)["quality"], "good");
}

// when_not_good = "exception": a gate that was good and then went stale is
// answered with the exception, not its old value.
TEST(ZamgatePollSafety, ModbusRaisesTheExceptionForAGateThatWasGoodAndWentStale) {
  Broker broker;
  Simulator sim({"--static", "--set", "script 10 " + Steps("ok", 4) + Steps("silence", 1500)});
  ASSERT_FALSE(sim.port().empty());
  const std::string modbus = "[modbus]\nlisten = \"127.0.0.1:0\"\nwhen_not_good = \"exception\"\n"
                             "[[modbus.map]]\ngate = \"XT input\"\ntable = \"input\"\naddress = 0\n";
  Gateway gateway(GatewayConfigText("bus1", sim, broker.port(), kXtInput, modbus));
  Subscriber live(broker.port(), "test/bus1/#");
  std::string log = gateway.Log();
  size_t at = log.find("Modbus TCP on 127.0.0.1:");
  ASSERT_NE(at, std::string::npos) << log;
  ModbusClient client(atoi(log.c_str() + at + strlen("Modbus TCP on 127.0.0.1:")));
  ASSERT_TRUE(client.connected());
  // Good first: served.
  ASSERT_TRUE(live.WaitFor(Topic("XT input"), [](const json &m) { return m["quality"] == "good"; }));
  ASSERT_TRUE(live.WaitFor(Topic("XT input"), [](const json &m) { return m["quality"] == "stale"; }, 15000))
      << gateway.Log();
  std::vector<uint16_t> words = client.Registers(false, 0, 2);
  EXPECT_TRUE(words.empty()) << "a stale value served as good";
  EXPECT_EQ(client.lastError(), EMBXGTAR) << modbus_strerror(client.lastError());
}

// A write while the port is lost is answered so, at once: nothing was sent.
TEST(ZamgatePollSafety, AWriteWhileThePortIsLostIsAnsweredWithThePort) {
  TempFolder folder;
  const std::string link = folder.File("bus");
  Broker broker;
  Simulator types({"--static"});
  std::string config = GatewayConfigText("bus1", types, broker.port(), kSetpoint);
  config = With(config, "port = \"" + types.port() + "\"", "port = \"" + link + "\"");
  Subscriber live(broker.port(), "test/bus1/#");
  Gateway gateway(config);
  ASSERT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["port"] == "lost"; }, 10000));
  live.Publish(Topic("Setpoint") + "/set", "21.5");
  ASSERT_TRUE(live.WaitFor(Topic("Setpoint") + "/set/result", [](const json &) { return true; }, 5000));
  json result = live.Last(Topic("Setpoint") + "/set/result");
  EXPECT_EQ(result["outcome"], "rejected") << result;
  EXPECT_TRUE(Contains(result["text"].get<std::string>(), "the port is lost")) << result;
  // A stop while the port is lost is as quick and as clean.
  const auto stopping = Clock::now();
  EXPECT_EQ(gateway.Stop(), 0) << gateway.Log();
  EXPECT_LT(MsSince(stopping), 60 + 1000 + 1500) << gateway.Log();
  EXPECT_TRUE(live.WaitFor("test/bus1/status", [](const json &m) { return m["state"] == "offline"; }, 5000));
}

// Fault 8: no broker at all (its port refuses): the stop is as quick.
TEST(ZamgatePollSafety, SigtermEndsTheGatewayWithNoBrokerAtAll) {
  Simulator sim({"--static"});
  ASSERT_FALSE(sim.port().empty());
  Gateway gateway(GatewayConfigText("bus1", sim, FreePort(), kSetpoint));
  ASSERT_GT(gateway.httpPort(), 0) << gateway.Log();
  ASSERT_TRUE(WaitUntil([&] { return Contains(gateway.Log(), "cannot reach the MQTT broker"); }, 10000))
      << gateway.Log();
  const auto stopping = Clock::now();
  EXPECT_EQ(gateway.Stop(), 0) << gateway.Log();
  EXPECT_LT(MsSince(stopping), 60 + 1000 + 1500) << gateway.Log();
}

}  // namespace
