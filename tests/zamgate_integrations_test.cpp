// zamgate in the tools sites run: engineering metadata in gate lists (old
// lists unchanged), limits on sets, Home Assistant discovery (each config
// checked against the keys Home Assistant documents and its templates
// rendered with Jinja against the gateway's real state payloads), topic
// modes, gate values scraped by a real Prometheus server, poll classes, and
// the status page's filter.
#include <gtest/gtest.h>

#include <httplib.h>

#include <fstream>

#include "host/common/gate_list.h"
#include "host/common/poll_plan.h"
#include "tests/zamgate_test_helpers.h"
#include "zamgate/core/config.h"
#include "zamgate/core/gate_metrics.h"
#include "zamgate/mqtt/ha_discovery.h"
#include "zamgate/core/payloads.h"
#include "zamgate/core/poll_schedule.h"
#include "zamgate/http/status_page.h"
#include "zamgate/core/write_queue.h"

namespace {

using namespace zamgate_test;
using zamgate::GateState;
using zamgate::Quality;

const std::string kSource = ZAMKT_SOURCE_DIR;

// ---- the gate list's metadata ----------------------------------------------

struct ListCase {
  const char *what;
  const char *text;
  const char *error;  // "" for a list that parses
};

const ListCase kListCases[] = {
    {"an old list, unchanged", "name,gas,type\nRoom,001AI01AI,real\nOut,001GCDCO3\n", ""},
    {"an old list without a header", "Room,001AI01AI,real\n001GCDCO3\n", ""},
    {"a header of name and gas over rows with a type", "name,gas\nRoom,001AI01AI,real\n", ""},
    {"metadata by the header", "name,gas,type,unit,min,max,kind,poll\nRoom,001AI01AI,real,°C,5,30,temperature,fast\n", ""},
    {"metadata without a header", "Room,001AI01AI,real,°C\n", "x.csv:1: expected name, GAS, type; found 4 fields"},
    {"columns in another order", "name,gas,unit,type\nRoom,001AI01AI,°C,real\n", ""},
    {"an unknown column", "name,gas,type,colour\nRoom,001AI01AI,real,red\n", "x.csv:1: unknown column 'colour'"},
    {"a bad number", "name,gas,min\nRoom,001AI01AI,cold\n", "x.csv:2: min 'cold' is not a number"},
    {"an infinite limit", "name,gas,max\nRoom,001AI01AI,inf\n", "max 'inf' is not a number"},
    {"an unknown kind", "name,gas,kind\nRoom,001AI01AI,weather\n", "x.csv:2: unknown kind 'weather'"},
    {"min above max", "name,gas,min,max\nRoom,001AI01AI,30,5\n", "x.csv:2: min is above max"},
    {"decimals not whole", "name,gas,decimals\nRoom,001AI01AI,1.5\n", "decimals '1.5'"},
    {"a zero step", "name,gas,step\nRoom,001AI01AI,0\n", "step '0' must be above 0"},
    {"a poll class with a blank", "name,gas,poll\nRoom,001AI01AI,very fast\n", "poll class 'very fast'"},
    {"more fields than columns", "name,gas,type\nRoom,001AI01AI,real,°C\n", "found 4 fields"},
};

TEST(GateListMeta, ColumnsAreOptionalAndCheckedWithTheirLine) {
  for (const ListCase &c : kListCases) {
    std::vector<n2host::GateSpec> gates;
    std::string error;
    bool ok = n2host::ParseGateList(c.text, "x.csv", &gates, &error);
    if (std::string(c.error).empty()) {
      EXPECT_TRUE(ok) << c.what << ": " << error;
    } else {
      EXPECT_FALSE(ok) << c.what;
      EXPECT_TRUE(Contains(error, c.error)) << c.what << ": " << error;
    }
  }
}

TEST(GateListMeta, ValuesReachTheGate) {
  std::vector<n2host::GateSpec> gates;
  std::string error;
  // "0,5" is no number: the decimal comma is refused, not read as 0.
  EXPECT_FALSE(n2host::ParseGateList("name;gas;type;unit;description;decimals;min;max;step;kind;poll\n"
                                     "Room;001AI01AI;real;°C;\"Room air; north\";1;5;30;0,5;temperature;fast\n",
                                     "x.csv", &gates, &error));
  EXPECT_TRUE(Contains(error, "x.csv:2: step '0,5' is not a number")) << error;
  gates.clear();
  ASSERT_TRUE(n2host::ParseGateList("name,gas,type,unit,description,decimals,min,max,step,kind,poll\n"
                                    "Room,001AI01AI,,°C,\"Room air, north\",1,5,30,0.5,Temperature,fast\n"
                                    "Old,001GCDCO3\n",
                                    "x.csv", &gates, &error))
      << error;
  ASSERT_EQ(gates.size(), 2u);
  const n2host::GateMeta &meta = gates[0].meta;
  EXPECT_EQ(gates[0].type, -1);  // an empty type is auto
  EXPECT_EQ(meta.unit, "°C");
  EXPECT_EQ(meta.description, "Room air, north");
  EXPECT_EQ(meta.decimals, 1);
  EXPECT_EQ(meta.min, 5);
  EXPECT_EQ(meta.max, 30);
  EXPECT_EQ(meta.step, 0.5);
  EXPECT_EQ(meta.kind, "temperature");
  EXPECT_EQ(meta.pollClass, "fast");
  EXPECT_TRUE(gates[1].meta.unit.empty());
  EXPECT_FALSE(gates[1].meta.min.has_value());
}

// ---- the configuration: topics, classes, Home Assistant ---------------------

struct ConfigCase {
  const char *what;
  std::string more;   // after the gates
  const char *error;  // "" for a configuration that loads
};

std::string ConfigWith(const std::string &gates, const std::string &more) {
  return "[gateway]\nid = \"bus1\"\n[line]\nport = \"NUL\"\n" + gates + more;
}

TEST(ZamgateIntegrationsConfig, TopicModesPollClassesAndDiscoveryAreChecked) {
  const std::string gates =
      "[[gate]]\nname = \"Room temp\"\ngas = \"001AI01AI\"\ntype = \"real\"\nunit = \"°C\"\nmin = 5\nmax = 30.5\n"
      "kind = \"temperature\"\npoll = \"fast\"\n"
      "[[gate]]\nname = \"room-temp\"\ngas = \"001AI02AI\"\ntype = \"real\"\n";
  const ConfigCase cases[] = {
      {"names by default, classes defined", "[poll.classes]\nfast = 1000\n", ""},
      {"slugs that collide", "[poll.classes]\nfast = 1000\n[mqtt]\ntopics = \"slug\"\n",
       "share the topic 'room_temp' (topics = \"slug\")"},
      {"GAS topics", "[poll.classes]\nfast = 1000\n[mqtt]\ntopics = \"gas\"\n", ""},
      {"an unknown mode", "[poll.classes]\nfast = 1000\n[mqtt]\ntopics = \"id\"\n", "topics must be \"name\", \"slug\" or \"gas\""},
      {"an undefined class", "", "names the poll class 'fast', which [poll] classes does not define"},
      {"a class of text", "[poll.classes]\nfast = \"1s\"\n", "must be whole milliseconds"},
      {"discovery on", "[poll.classes]\nfast = 1000\n[homeassistant]\ndiscovery = true\nprefix = \"ha\"\n", ""},
      {"a discovery prefix with a wildcard", "[poll.classes]\nfast = 1000\n[homeassistant]\nprefix = \"ha/#\"\n",
       "[homeassistant] prefix must be topic levels"},
      {"a misspelt key", "[poll.classes]\nfast = 1000\n[homeassistant]\ndiscover = true\n", "unknown key 'discover'"},
  };
  for (const ConfigCase &c : cases) {
    zamgate::GatewayConfig config;
    std::string error;
    bool ok = zamgate::ParseConfig(ConfigWith(gates, c.more), "z.toml", &config, &error);
    if (std::string(c.error).empty()) {
      EXPECT_TRUE(ok) << c.what << ": " << error;
    } else {
      EXPECT_FALSE(ok) << c.what;
      EXPECT_TRUE(Contains(error, c.error)) << c.what << ": " << error;
    }
  }
  zamgate::GatewayConfig config;
  std::string error;
  ASSERT_TRUE(zamgate::ParseConfig(ConfigWith(gates, "[poll.classes]\nfast = 1000\n"), "z.toml", &config, &error));
  EXPECT_EQ(config.gates[0].meta.max, 30.5);
  EXPECT_EQ(config.gates[0].meta.unit, "°C");
  EXPECT_EQ(config.mqtt.topics, "name");
  EXPECT_FALSE(config.homeAssistant.discovery);
  EXPECT_EQ(config.homeAssistant.prefix, "homeassistant");
}

TEST(ZamgateIntegrationsConfig, SlugsAreTopicLevelsUsersCanKeep) {
  const std::pair<const char *, const char *> cases[] = {
      {"Room temp. 1", "room_temp_1"}, {"  AHU/2 + #supply  ", "ahu_2_supply"}, {"Zulüft", "zul_ft"}, {"///", "gate"}};
  for (const auto &[name, slug] : cases) EXPECT_EQ(zamgate::Slug(name), slug) << name;
}

// ---- limits on sets --------------------------------------------------------

TEST(ZamgateLimits, ASetOutsideMinOrMaxIsRefusedNamingTheLimit) {
  n2host::Gate gate;
  gate.spec.name = "Setpoint";
  gate.spec.meta.min = 10;
  gate.spec.meta.max = 30;
  struct Case {
    n2host::GateValue value;
    const char *why;  // "" within
  };
  const Case cases[] = {{{kGateReal, 9.5, 0}, "9.5 is below the gate's min 10"},
                        {{kGateReal, 30.25, 0}, "30.25 is above the gate's max 30"},
                        {{kGateReal, 30, 0}, ""},
                        {{kGateReal, 10, 0}, ""},
                        {{kGateInt16, 0, 31}, "31 is above the gate's max 30"}};
  for (const Case &c : cases) {
    std::string why;
    bool ok = zamgate::WithinLimits(gate, c.value, &why);
    EXPECT_EQ(ok, std::string(c.why).empty()) << c.why;
    EXPECT_EQ(why, c.why);
  }
}

// ---- Prometheus text ---------------------------------------------------------

GateState MakeGate(const std::string &name, const std::string &gas, int32_t station, n2host::PointKind kind,
                   const std::string &typeName, bool writable) {
  GateState gate;
  gate.name = name;
  gate.gas = gas;
  gate.station = station;
  gate.meaning.kind = kind;
  gate.typeName = typeName;
  gate.writable = writable;
  return gate;
}

void SetGood(GateState *gate, n2host::GateValue value, zamgate::WallClock::time_point at) {
  gate->hasValue = true;
  gate->value = value;
  gate->quality = Quality::kGood;
  gate->status = "ok";
  gate->readAt = gate->goodAt = at;
}

TEST(ZamgateGateMetrics, OneSeriesPerGateWithEscapedLabelsAndPromtoolAgrees) {
  const auto now = zamgate::WallClock::now();
  zamgate::StoreSnapshot snapshot;
  snapshot.gatewayId = "bus\"1";
  GateState room = MakeGate("Room \"north\"\\1\nx", "001AI01AI", 1, n2host::PointKind::kPlain, "real", false);
  room.meta.unit = "°C";
  SetGood(&room, {kGateReal, 21.5, 0}, now - std::chrono::seconds(3));
  GateState fan = MakeGate("Fan", "001GCDCO3", 1, n2host::PointKind::kDigital, "digital", true);
  SetGood(&fan, {kGateDigital, 0, 1}, now);
  fan.quality = Quality::kStale;
  GateState never = MakeGate("Never", "010XP01AI1", 10, n2host::PointKind::kPlain, "real", false);
  GateState start = MakeGate("Start", "001TS01START1", 1, n2host::PointKind::kScheduleTime, "int16", true);
  SetGood(&start, {kGateInt16, 0, 450}, now);
  GateState lost = MakeGate("Lost", "001AI02AI", 1, n2host::PointKind::kPlain, "real", false);
  SetGood(&lost, {kGateReal, 7, 0}, now);
  lost.quality = Quality::kFailed;
  snapshot.gates = {room, fan, never, start, lost};
  const std::string text = zamgate::GateMetricsText(snapshot, now);
  EXPECT_TRUE(Contains(text, "zamgate_gate_value{gateway=\"bus\\\"1\",gate=\"Room \\\"north\\\"\\\\1\\nx\",gas=\"001AI01AI\","
                             "station=\"1\",unit=\"°C\"} 21.5\n"))
      << text;
  EXPECT_TRUE(Contains(text, "gate=\"Fan\",gas=\"001GCDCO3\",station=\"1\",unit=\"\"} 1\n")) << text;
  EXPECT_TRUE(Contains(text, "zamgate_gate_quality{gateway=\"bus\\\"1\",gate=\"Fan\",gas=\"001GCDCO3\",station=\"1\"} 1\n"));
  EXPECT_TRUE(Contains(text, "gate=\"Never\",gas=\"010XP01AI1\",station=\"10\"} 2\n")) << text;
  EXPECT_EQ(CountOf(text, "zamgate_gate_value{"), 2) << "no value series for a gate never read, a failed one, a schedule";
  EXPECT_TRUE(Contains(text, "gate=\"Lost\",gas=\"001AI02AI\",station=\"1\"} 2\n")) << text;
  EXPECT_EQ(CountOf(text, "zamgate_gate_age_seconds{"), 3);
  EXPECT_FALSE(Contains(text, "Start"));
  TempFolder folder;
  WriteFile(folder.File("metrics.txt"), text);
  RunResult check = RunProgram("/bin/sh", {"-c", "promtool check metrics < " + folder.File("metrics.txt")});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
}

// ---- poll classes ------------------------------------------------------------

n2host::Gate PlannedGate(int element, const std::string &pollClass) {
  n2host::Gate gate;
  gate.valid = true;
  gate.blockEligible = true;
  gate.type = kGateReal;
  gate.station = 1;
  gate.element = element;
  gate.spec.meta.pollClass = pollClass;
  return gate;
}

TEST(ZamgatePollClasses, BlocksStayWithinAClass) {
  std::vector<n2host::Gate> gates;
  for (int i = 0; i < 6; ++i) gates.push_back(PlannedGate(100 + i, i % 3 == 0 ? "fast" : "slow"));
  std::vector<n2host::PollRequest> plan = n2host::PlanPoll(gates, true);
  for (const n2host::PollRequest &request : plan) {
    for (int index : request.gates) {
      EXPECT_EQ(gates[static_cast<size_t>(index)].spec.meta.pollClass,
                gates[static_cast<size_t>(request.leader)].spec.meta.pollClass);
    }
  }
  // Same class, consecutive addresses: still one block.
  std::vector<n2host::Gate> same;
  for (int i = 0; i < 6; ++i) same.push_back(PlannedGate(100 + i, "slow"));
  EXPECT_EQ(n2host::PlanPoll(same, true).size(), 1u);
}

TEST(ZamgatePollClasses, FastRequestsEveryTickSlowOnesSpreadOverTheirInterval) {
  std::vector<n2host::Gate> gates;
  for (int i = 0; i < 20; ++i) gates.push_back(PlannedGate(100 + 2 * i, i < 2 ? "fast" : ""));
  std::vector<n2host::PollRequest> plan = n2host::PlanPoll(gates, true);
  ASSERT_EQ(plan.size(), 20u);
  zamgate::PollSchedule schedule(plan, gates, 10000, {{"fast", 1000}, {"slow", 60000}});
  EXPECT_TRUE(schedule.active());
  EXPECT_EQ(schedule.tickMs(), 1000);
  // 60 ticks of one second, each cycle a little late as on a busy line.
  const auto start = zamgate::PollSchedule::Clock::now();
  std::vector<int> perCycle;
  std::vector<int> sent(plan.size());
  for (int tick = 0; tick < 60; ++tick) {
    auto at = start + std::chrono::milliseconds(tick * 1000 + (tick % 3) * 40);
    int count = 0;
    for (size_t r = 0; r < plan.size(); ++r) {
      if (schedule.TakeIfDue(r, at)) ++count, ++sent[r];
    }
    perCycle.push_back(count);
  }
  EXPECT_EQ(perCycle[0], 20) << "the first cycle reads every gate";
  for (size_t r = 0; r < plan.size(); ++r) {
    if (r < 2) {
      EXPECT_EQ(sent[r], 60) << "a fast request every tick";
    } else {
      EXPECT_GE(sent[r], 6) << r;
      EXPECT_LE(sent[r], 8) << r << ": a 10 s request in 60 s";
    }
  }
  // Spread: no later cycle carries more than a few default requests.
  for (size_t tick = 1; tick < perCycle.size(); ++tick) EXPECT_LE(perCycle[tick], 2 + 4) << tick;
  auto figures = schedule.Figures();
  EXPECT_NEAR(figures["fast"].meanPeriodSeconds, 1.0, 0.05);
  EXPECT_NEAR(figures[""].meanPeriodSeconds, 10.0, 1.0);
  // Without classes of their own the schedule stands aside.
  zamgate::PollSchedule plain(plan, std::vector<n2host::Gate>(gates.size(), PlannedGate(1, "")), 500, {});
  EXPECT_FALSE(plain.active());
}

// ---- the status page -----------------------------------------------------------

TEST(ZamgateStatusPage, FiltersByStationAndTextAndShowsUnitDescriptionAndWritable) {
  const auto now = zamgate::WallClock::now();
  zamgate::StoreSnapshot snapshot;
  snapshot.gatewayId = "bus1";
  GateState room = MakeGate("Room", "001AI01AI", 1, n2host::PointKind::kPlain, "real", false);
  room.meta.unit = "°C";
  room.meta.description = "North <office>";
  SetGood(&room, {kGateReal, 21.5, 0}, now);
  GateState setpoint = MakeGate("Setpoint", "001PM01LSP", 1, n2host::PointKind::kPlain, "real", true);
  GateState xt = MakeGate("XT input", "010XP01AI1", 10, n2host::PointKind::kPlain, "real", false);
  snapshot.gates = {room, setpoint, xt};

  std::string all = zamgate::StatusPage(snapshot, now);
  EXPECT_TRUE(Contains(all, "<td>21.5 °C</td>")) << all;
  EXPECT_TRUE(Contains(all, "<td>North &lt;office&gt;</td>"));
  EXPECT_EQ(CountOf(all, "<td>writable</td>"), 1);
  EXPECT_TRUE(Contains(all, "3 of 3 gates shown"));

  struct Case {
    zamgate::PageFilter filter;
    const char *shown;
    std::vector<const char *> names;
  };
  const Case cases[] = {
      {{"10", ""}, "1 of 3", {"XT input"}},
      {{"", "office"}, "1 of 3", {"Room"}},    // the description
      {{"", "PM01"}, "1 of 3", {"Setpoint"}},  // the GAS, letter case aside
      {{"1", "xt"}, "0 of 3", {}},
  };
  for (const Case &c : cases) {
    std::string page = zamgate::StatusPage(snapshot, now, c.filter);
    EXPECT_TRUE(Contains(page, std::string(c.shown) + " gates shown")) << c.filter.station << "/" << c.filter.text;
    for (const char *name : c.names) EXPECT_TRUE(Contains(page, std::string("<tr><td>") + name + "</td>"));
  }
  std::string hostile = zamgate::StatusPage(snapshot, now, {"", "\"><script>x</script>"});
  EXPECT_FALSE(Contains(hostile, "<script>"));
  EXPECT_TRUE(Contains(hostile, "value=\"&quot;&gt;&lt;script&gt;x&lt;/script&gt;\""));
}

// ---- end to end: Home Assistant discovery ---------------------------------------

const std::vector<std::string> kPlant = {
    "--static",
    "--set", "value 1 PM01 LSP 23.25",
    "--set", "value 1 TS01 START1 07:45",
    "--set", "value 1 GC DCO3 1",
    // The XT9100 answers its first requests, then is silent: its value goes stale.
    "--set", "script 10 ok ok ok ok " + [] {
      std::string steps;
      for (int i = 0; i < 80; ++i) steps += "silence ";
      return steps;
    }(),
};

const std::string kGates =
    "[[gate]]\nname = \"Room setpoint\"\ngas = \"001PM01LSP\"\ntype = \"real\"\nwritable = true\nunit = \"°C\"\n"
    "min = 10\nmax = 30\nstep = 0.5\nkind = \"temperature\"\ndecimals = 1\ndescription = \"Loop 1, north wing\"\n"
    "[[gate]]\nname = \"Start\"\ngas = \"001TS01START1\"\nwritable = true\n"
    "[[gate]]\nname = \"Output 3\"\ngas = \"001GCDCO3\"\ntype = \"digital\"\nwritable = true\n"
    "[[gate]]\nname = \"Open input\"\ngas = \"005BI001\"\ntype = \"digital\"\nkind = \"occupancy\"\n"
    "[[gate]]\nname = \"XT input\"\ngas = \"010XP01AI1\"\ntype = \"real\"\nunit = \"°C\"\nkind = \"temperature\"\n";

bool PublishRetained(int port, const std::string &topic, const std::string &payload) {
  return RunProgram("/usr/bin/mosquitto_pub", {"-h", "127.0.0.1", "-p", std::to_string(port), "-r", "-t", topic, "-m", payload})
             .exitCode == 0;
}

TEST(ZamgateHomeAssistant, DiscoveryConfigsPassHomeAssistantsRulesAndTheirTemplatesRenderTheRealStates) {
  Broker broker;
  Simulator sim(kPlant);
  ASSERT_FALSE(sim.port().empty()) << sim.Log();
  // A config of a gate that has left the list, retained from an earlier run.
  const std::string gone = "ha/sensor/zamgate_bus1/001AI09AI/config";
  ASSERT_TRUE(PublishRetained(broker.port(), gone, "{\"name\":\"old\"}"));
  Subscriber discovery(broker.port(), "ha/#");
  Subscriber states(broker.port(), "test/bus1/#");
  Gateway gateway(GatewayConfigText("bus1", sim, broker.port(), kGates,
                                    "topics = \"slug\"\n[homeassistant]\ndiscovery = true\nprefix = \"ha\"\n"));
  ASSERT_GT(gateway.httpPort(), 0) << gateway.Log();

  // Every gate's config, the gateway's own, and the old one cleared.
  ASSERT_TRUE(WaitUntil([&] { return discovery.Messages().size() >= 7; }, 15000)) << gateway.Log();
  ASSERT_TRUE(WaitUntil(
      [&] {
        auto found = discovery.On(gone);
        return !found.empty() && found.back().payload.empty();
      },
      15000))
      << "the config of a gate no longer listed is cleared";
  std::map<std::string, json> configs;
  for (const Message &message : discovery.Messages()) {
    if (message.topic == gone) continue;
    ASSERT_FALSE(message.payload.empty()) << message.topic;
    configs[message.topic] = json::parse(message.payload);  // strict JSON
  }
  ASSERT_EQ(configs.size(), 6u);
  const std::pair<const char *, const char *> components[] = {
      {"ha/number/zamgate_bus1/001PM01LSP/config", "Room setpoint"},
      {"ha/text/zamgate_bus1/001TS01START1/config", "Start"},
      {"ha/switch/zamgate_bus1/001GCDCO3/config", "Output 3"},
      {"ha/binary_sensor/zamgate_bus1/005BI001/config", "Open input"},
      {"ha/sensor/zamgate_bus1/010XP01AI1/config", "XT input"},
      {"ha/binary_sensor/zamgate_bus1/connectivity/config", "Bus connection"}};
  for (const auto &[topic, name] : components) {
    ASSERT_EQ(configs.count(topic), 1u) << topic;
    EXPECT_EQ(configs[topic]["name"], name);
  }
  const json &number = configs["ha/number/zamgate_bus1/001PM01LSP/config"];
  EXPECT_EQ(number["unique_id"], "zamgate_bus1_001PM01LSP");
  EXPECT_EQ(number["state_topic"], "test/bus1/room_setpoint");
  EXPECT_EQ(number["unit_of_measurement"], "°C");
  EXPECT_EQ(number["device_class"], "temperature");
  EXPECT_EQ(number["min"], 10);
  EXPECT_EQ(number["max"], 30);
  EXPECT_EQ(number["device"]["via_device"], "zamgate_bus1");
  EXPECT_EQ(number["device"]["identifiers"][0], "zamgate_bus1_station_1");
  // Retained: a client that comes later gets every config, and not the cleared one.
  Subscriber later(broker.port(), "ha/#");
  EXPECT_TRUE(WaitUntil([&] { return later.Messages().size() >= 6; }, 10000));
  for (const Message &message : later.Messages()) {
    EXPECT_TRUE(message.retained) << message.topic;
    EXPECT_NE(message.topic, gone);
  }

  // The real state payloads: good ones, and the XT9100's once it is stale.
  ASSERT_TRUE(states.WaitFor("test/bus1/xt_input", [](const json &m) { return m["quality"] == "stale"; }, 30000))
      << gateway.Log();
  json cases;
  cases["configs"] = json::array();
  for (const auto &[topic, payload] : configs) cases["configs"].push_back({{"topic", topic}, {"payload", payload}});
  cases["status"] = {{"topic", "test/bus1/status"},
                     {"online", zamgate::StatusJson(true, true, "")},
                     {"lost", zamgate::StatusJson(true, false, "the device is gone")},
                     {"offline", zamgate::StatusJson(false, true, "")}};
  cases["states"] = json::object();
  for (const char *level : {"room_setpoint", "start", "output_3", "open_input", "xt_input"}) {
    const std::string topic = std::string("test/bus1/") + level;
    for (const Message &message : states.On(topic)) {
      json state = json::parse(message.payload);
      cases["states"][topic][state["quality"].get<std::string>()] = state;
    }
    ASSERT_TRUE(cases["states"][topic].contains("good")) << topic;
    // A failed read, and a gate never read: the gateway's own payloads.
    GateState gate = MakeGate(level, "001AI01AI", 1, n2host::PointKind::kPlain, "real", false);
    gate.status = "no reply";
    gate.readAt = zamgate::WallClock::now();
    cases["states"][topic]["never"] = zamgate::GateJson(gate, zamgate::WallClock::now());
    gate.hasValue = true;
    gate.value = {kGateReal, 21.5, 0};
    gate.quality = Quality::kFailed;
    cases["states"][topic]["failed"] = zamgate::GateJson(gate, zamgate::WallClock::now());
  }
  EXPECT_EQ(cases["states"]["test/bus1/room_setpoint"]["good"]["unit"], "°C") << "the state carries the unit";
  EXPECT_TRUE(cases["states"]["test/bus1/xt_input"].contains("stale"));
  TempFolder folder;
  WriteFile(folder.File("cases.json"), cases.dump(2));
  RunResult check = RunProgram("/usr/bin/python3", {kSource + "/tests/ha_discovery_check.py", folder.File("cases.json")});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  EXPECT_TRUE(Contains(check.out, " passed, 0 failed")) << check.out;

  // Commands on the number's command topic: outside the limits refused
  // naming the limit, inside written.
  Subscriber results(broker.port(), "test/bus1/room_setpoint/set/result");
  results.Publish("test/bus1/room_setpoint/set", "35");
  ASSERT_TRUE(results.WaitFor("test/bus1/room_setpoint/set/result", [](const json &m) {
    return m["outcome"] == "rejected" && m["text"] == "Room setpoint: 35 is above the gate's max 30";
  })) << results.Messages().size();
  results.Publish("test/bus1/room_setpoint/set", "22.5");
  EXPECT_TRUE(results.WaitFor("test/bus1/room_setpoint/set/result", [](const json &m) { return m["outcome"] == "verified"; }));
  EXPECT_EQ(gateway.Stop(), 0);
}

// ---- end to end: a real Prometheus server scrapes the gate values ------------------

TEST(ZamgatePrometheus, APrometheusServerScrapesThePlantsValueAndPromtoolFindsNoFault) {
  Broker broker;
  Simulator sim(kPlant);
  ASSERT_FALSE(sim.port().empty()) << sim.Log();
  Gateway gateway(GatewayConfigText("bus1", sim, broker.port(), kGates));
  ASSERT_GT(gateway.httpPort(), 0) << gateway.Log();
  httplib::Client client("127.0.0.1", gateway.httpPort());
  std::string metrics;
  ASSERT_TRUE(WaitUntil(
      [&] {
        auto response = client.Get("/metrics");
        metrics = response ? response->body : "";
        return Contains(metrics, "gate=\"Room setpoint\",gas=\"001PM01LSP\",station=\"1\",unit=\"°C\"} 23.25");
      },
      15000))
      << metrics;
  TempFolder folder;
  WriteFile(folder.File("metrics.txt"), metrics);
  RunResult check = RunProgram("/bin/sh", {"-c", "promtool check metrics < " + folder.File("metrics.txt")});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

  const int port = FreePort();
  WriteFile(folder.File("prometheus.yml"), "global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: zamgate\n"
                                           "    static_configs:\n      - targets: ['127.0.0.1:" +
                                               std::to_string(gateway.httpPort()) + "']\n");
  pid_t prometheus = Spawn("/usr/bin/prometheus",
                           {"--config.file=" + folder.File("prometheus.yml"), "--storage.tsdb.path=" + folder.File("data"),
                            "--web.listen-address=127.0.0.1:" + std::to_string(port)},
                           folder.File("prometheus.log"));
  ASSERT_GT(prometheus, 0);
  httplib::Client api("127.0.0.1", port);
  std::string answer;
  bool found = WaitUntil(
      [&] {
        auto response = api.Get("/api/v1/query?query=" +
                                httplib::detail::encode_query_param("zamgate_gate_value{gate=\"Room setpoint\"}"));
        answer = response ? response->body : "";
        if (!response || response->status != 200) return false;
        json parsed = json::parse(answer, nullptr, false);
        if (parsed.is_discarded() || parsed["data"]["result"].empty()) return false;
        const json &series = parsed["data"]["result"][0];
        return series["value"][1] == "23.25" && series["metric"]["unit"] == "°C" && series["metric"]["gas"] == "001PM01LSP";
      },
      60000);
  EXPECT_TRUE(found) << answer << ReadFile(folder.File("prometheus.log")).substr(0, 2000);
  StopProcess(prometheus);
  EXPECT_EQ(gateway.Stop(), 0);
}

}  // namespace
