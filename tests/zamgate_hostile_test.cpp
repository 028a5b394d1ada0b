// zamgate against what anyone on the broker or the network may send: set
// payloads that are not text, too long, nested without end or meant to forge
// log lines; numbers in forms a program might send by mistake; retained sets;
// gate names that are HTML; a second gateway on the same HTTP address; HTTP
// requests that are too large or too slow. A real broker, the simulator and
// real HTTP clients; nothing reaches the line that should not.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <thread>

#include "tests/zamgate_modbus_client.h"
#include "tests/zamgate_test_helpers.h"

namespace {

using namespace zamgate_test;

const std::vector<std::string> kPlant = {"--static", "--set", "value 1 PM01 LSP 23.25", "--set",
                                         "value 1 TS01 START1 07:45", "--set", "value 5 AO 3 12.5"};

const std::string kGates =
    "[[gate]]\nname = \"Setpoint\"\ngas = \"001PM01LSP\"\ntype = \"real\"\nwritable = true\n"
    "[[gate]]\nname = \"Start\"\ngas = \"001TS01START1\"\ntype = \"int32\"\nwritable = true\n"
    "[[gate]]\nname = \"Word\"\ngas = \"005AD002\"\ntype = \"int16\"\nwritable = true\n"
    "[[gate]]\nname = \"AO3 override\"\ngas = \"005AO003_O\"\ntype = \"digital\"\nwritable = true\n";

int WritesOnTheLine(const std::string &simLog) {
  return CountOf(simLog, "mem-write:") + CountOf(simLog, "area-write:") + CountOf(simLog, "n2open-write:") +
         CountOf(simLog, "n2open-release:");
}

class ZamgateHostile : public ::testing::Test {
 protected:
  ZamgateHostile() : sim_(kPlant) {}
  void StartGateway(const std::string &id = "bus1") {
    ASSERT_FALSE(sim_.port().empty()) << sim_.Log();
    gateway_ = std::make_unique<Gateway>(GatewayConfigText(id, sim_, broker_.port(), kGates));
    ASSERT_GT(gateway_->httpPort(), 0) << gateway_->Log();
  }
  std::string Topic(const std::string &gate) const { return "test/bus1/" + gate; }
  std::string Get(const std::string &path) {
    httplib::Client client("127.0.0.1", gateway_->httpPort());
    client.set_read_timeout(10, 0);
    auto response = client.Get(path.c_str());
    return response && response->status == 200 ? response->body : "";
  }

  Broker broker_;
  Simulator sim_;
  std::unique_ptr<Gateway> gateway_;
};

// Each payload once crashed the gateway, wrote to the line, or was echoed
// whole into the result, the log and the kept events.
TEST_F(ZamgateHostile, HostileSetPayloadsAreRefusedBoundedAndTheGatewayLives) {
  StartGateway();
  ASSERT_TRUE(WaitOnline(broker_.port(), "bus1")) << gateway_->Log();
  Subscriber results(broker_.port(), "test/bus1/+/set/result");
  struct Hostile {
    const char *what;
    const char *gate;
    std::string payload;
    const char *reason;
  };
  const Hostile hostile[] = {
      {"a Latin-1 degree sign", "Setpoint", "21.5\xb0" "C", "not UTF-8 text (byte 0xB0"},
      {"the same to a gate that is not there", "Loop 1 setpoint", "21.5\xb0" "C", "not UTF-8 text"},
      {"a hex float, a NUL and a stray byte", "Setpoint", std::string("0x1p3\0\xff", 7), "not UTF-8 text (byte 0x00"},
      {"70,000 levels of JSON", "Setpoint", std::string(70000, '[') + std::string(70000, ']'), "at most 1024"},
      {"500 levels of JSON", "Setpoint", std::string(500, '[') + std::string(500, ']'), "nests deeper"},
      {"a megabyte", "Setpoint", std::string(1 << 20, '7'), "1048576 bytes, at most 1024"},
      {"a forged log line", "Setpoint", "21\n2026-01-01T00:00:00.000Z zamgate: forged line", "is not a number"},
      {"a forged line in JSON", "Setpoint", "{\"value\": \"21\\n2026-01-01T00:00:00.000Z zamgate: forged json\"}",
       "is not a number"},
  };
  for (const Hostile &row : hostile) results.Publish(Topic(row.gate) + "/set", row.payload);
  ASSERT_TRUE(WaitUntil([&] { return results.Messages().size() >= std::size(hostile); }, 15000))
      << results.Messages().size() << gateway_->Log();
  std::vector<Message> answers = results.Messages();
  for (size_t i = 0; i < std::size(hostile); ++i) {
    SCOPED_TRACE(hostile[i].what);
    EXPECT_EQ(answers[i].topic, Topic(hostile[i].gate) + "/set/result");
    EXPECT_LT(answers[i].payload.size(), 1024u);
    json answer = json::parse(answers[i].payload);
    EXPECT_EQ(answer["outcome"], "rejected") << answer;
    EXPECT_TRUE(Contains(answer["text"].get<std::string>(), hostile[i].reason)) << answer;
  }
  EXPECT_FALSE(gateway_->Exited()) << gateway_->Log();
  // Still taking sets, and nothing of the above reached the line.
  results.Publish(Topic("Setpoint") + "/set", "{\"value\": 21.5, \"id\": \"after\"}");
  ASSERT_TRUE(results.WaitFor(Topic("Setpoint") + "/set/result", [](const json &m) { return m.value("id", "") == "after"; }))
      << gateway_->Log();
  EXPECT_EQ(results.Last(Topic("Setpoint") + "/set/result")["outcome"], "verified");
  EXPECT_EQ(WritesOnTheLine(sim_.Log()), 1) << sim_.Log();

  // One line per event: the newlines were escaped, no line was forged.
  const std::string log = gateway_->Log();
  for (const std::string &line : LinesWith(log, "forged")) {
    EXPECT_EQ(line.rfind("2026-01-01T00:00:00.000Z", 0), std::string::npos) << line;
  }
  EXPECT_LT(log.size(), 64u * 1024) << "the log echoes payloads";
  // The kept events are bounded excerpts too.
  const std::string state = Get("/api/state");
  ASSERT_FALSE(state.empty());
  EXPECT_LT(state.size(), 64u * 1024);
  EXPECT_NO_THROW(json::parse(state));
  EXPECT_LT(Get("/").size(), 64u * 1024);
}

// Numbers mean what they say in decimal; each type takes only its range, and
// a JSON boolean only a digital gate.
TEST_F(ZamgateHostile, SetNumbersAreDecimalAndWithinTheirTypesRange) {
  StartGateway();
  ASSERT_TRUE(WaitOnline(broker_.port(), "bus1")) << gateway_->Log();
  Subscriber results(broker_.port(), "test/bus1/+/set/result");
  const RefusedSet refused[] = {
      {"Setpoint", "true", "is not a number"},
      {"Setpoint", "0x1p3", "is not a number"},
      {"Setpoint", "0x10", "is not a number"},
      {"Setpoint", "inf", "is not a number"},
      {"Setpoint", "\"nan\"", "is not a number"},
      {"Start", "0x1E", "is not a schedule time"},
      {"Word", "40000", "-32768 to 32767"},
      {"Word", "0x10", "is not an integer"},
      {"Word", "{\"value\": true}", "is not an integer"},
  };
  ASSERT_TRUE(ExpectSetsRefused(results, Topic(""), refused)) << results.Messages().size() << gateway_->Log();
  EXPECT_EQ(WritesOnTheLine(sim_.Log()), 0) << sim_.Log();
  // A leading zero is decimal: 0730 minutes is 12:10, not octal 07:52.
  results.Clear();
  results.Publish(Topic("Start") + "/set", "0730");
  ASSERT_TRUE(results.WaitFor(Topic("Start") + "/set/result", [](const json &) { return true; })) << gateway_->Log();
  json start = results.Last(Topic("Start") + "/set/result");
  EXPECT_EQ(start["outcome"], "verified") << start;
  EXPECT_EQ(start["read_back"], 730) << start;
}

// A retained set is the broker's memory of an old command: it is answered
// "ignored" and never written, at start and while running; clearing it does
// nothing to the device.
TEST_F(ZamgateHostile, RetainedSetsAreNeverCarriedOut) {
  Subscriber results(broker_.port(), "test/bus1/+/set/result");
  results.Publish(Topic("Setpoint") + "/set", "19", true);
  StartGateway();
  ASSERT_TRUE(results.WaitFor(Topic("Setpoint") + "/set/result", [](const json &m) { return m["outcome"] == "ignored"; }))
      << gateway_->Log();
  json ignored = results.Last(Topic("Setpoint") + "/set/result");
  EXPECT_EQ(ignored["text"], "retained") << ignored;
  EXPECT_EQ(ignored["value"], "19") << ignored;
  EXPECT_TRUE(Contains(gateway_->Log(), "ignored: retained")) << gateway_->Log();

  // Published retained while the gateway runs: ignored too. Clearing a
  // retained set on an override gate releases nothing.
  results.Publish(Topic("Setpoint") + "/set", "18", true);
  results.Publish(Topic("AO3 override") + "/set", "", true);
  ASSERT_TRUE(results.WaitFor(Topic("Setpoint") + "/set/result", [](const json &m) { return m["value"] == "18"; }))
      << gateway_->Log();
  EXPECT_EQ(results.Last(Topic("Setpoint") + "/set/result")["outcome"], "ignored");
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(WritesOnTheLine(sim_.Log()), 0) << sim_.Log();
  EXPECT_TRUE(results.On(Topic("AO3 override") + "/set/result").empty());
  EXPECT_TRUE(Contains(gateway_->Log(), "cleared: nothing is done")) << gateway_->Log();

  // A restart under the retained set writes nothing either; a live set still works.
  gateway_.reset();
  results.Clear();
  StartGateway();
  ASSERT_TRUE(results.WaitFor(Topic("Setpoint") + "/set/result", [](const json &m) { return m["outcome"] == "ignored"; }))
      << gateway_->Log();
  results.Publish(Topic("Setpoint") + "/set", "{\"value\": 17, \"id\": \"live\"}");
  ASSERT_TRUE(results.WaitFor(Topic("Setpoint") + "/set/result", [](const json &m) { return m.value("id", "") == "live"; }));
  EXPECT_EQ(results.Last(Topic("Setpoint") + "/set/result")["outcome"], "verified");
  EXPECT_EQ(WritesOnTheLine(sim_.Log()), 1) << sim_.Log();
  // Answered once per start, not at every look.
  EXPECT_EQ(results.On(Topic("Setpoint") + "/set/result").size(), 2u);
}

// Gate names reach the events from any set topic: the page shows them as
// text, never as markup.
TEST_F(ZamgateHostile, ThePageEscapesGateNamesAndEvents) {
  StartGateway();
  ASSERT_TRUE(WaitOnline(broker_.port(), "bus1")) << gateway_->Log();
  Subscriber results(broker_.port(), "test/bus1/+/set/result");
  results.Publish("test/bus1/<img src=x onerror=alert(1)>/set", "<b>1</b>");
  ASSERT_TRUE(results.WaitFor("test/bus1/<img src=x onerror=alert(1)>/set/result", [](const json &) { return true; }));
  ASSERT_TRUE(WaitUntil([&] { return Contains(Get("/"), "onerror"); }, 5000));
  const std::string page = Get("/");
  EXPECT_FALSE(Contains(page, "<img")) << page;
  EXPECT_FALSE(Contains(page, "<b>1")) << page;
  EXPECT_TRUE(Contains(page, "&lt;img src=x onerror=alert(1)&gt;")) << page;
}

// Label values are escaped in /metrics: a gateway id with a quote and a
// backslash still gives valid Prometheus text (promtool checks it when
// installed).
TEST_F(ZamgateHostile, MetricsEscapeTheGatewayId) {
  TempFolder folder;
  std::string config = GatewayConfigText("bus\\\"7\\\\", sim_, broker_.port(), kGates);
  config += "[modbus]\nlisten = \"127.0.0.1:0\"\n[[modbus.map]]\ngate = \"Setpoint\"\ntable = \"input\"\naddress = 0\n";
  gateway_ = std::make_unique<Gateway>(config);
  ASSERT_GT(gateway_->httpPort(), 0) << gateway_->Log();
  std::string metrics;
  ASSERT_TRUE(WaitUntil([&] { return Contains(metrics = Get("/metrics"), "zamgate_modbus_clients"); }, 10000))
      << gateway_->Log();
  for (const std::string &line : LinesWith(metrics, "gateway=")) {
    EXPECT_TRUE(Contains(line, "gateway=\"bus\\\"7\\\\\"")) << line;
  }
  if (access("/usr/bin/promtool", X_OK) == 0) {
    WriteFile(folder.File("metrics.txt"), metrics);
    RunResult check = RunProgram("/bin/sh", {"-c", "/usr/bin/promtool check metrics < " + folder.File("metrics.txt")});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  }
}

// One gateway per HTTP address: a second one with the same listen address
// ends with exit code 9 instead of sharing the port.
TEST_F(ZamgateHostile, ASecondGatewayOnTheSameHttpAddressExitsNine) {
  StartGateway();
  const int port = gateway_->httpPort();
  Simulator other(kPlant);
  TempFolder folder;
  std::string config = GatewayConfigText("bus2", other, broker_.port(), kGates);
  const std::string any = "listen = \"127.0.0.1:0\"";
  config.replace(config.find(any), any.size(), "listen = \"127.0.0.1:" + std::to_string(port) + "\"");
  WriteFile(folder.File("bus2.toml"), config);
  pid_t second = Spawn(kZamgate, {"--config", folder.File("bus2.toml")}, folder.File("bus2.log"));
  int status = 0;
  ASSERT_TRUE(WaitUntil([&] { return waitpid(second, &status, WNOHANG) == second; }, 15000))
      << ReadFile(folder.File("bus2.log"));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << ReadFile(folder.File("bus2.log"));
  EXPECT_TRUE(Contains(ReadFile(folder.File("bus2.log")), "cannot listen for HTTP"));
  EXPECT_TRUE(Contains(Get("/metrics"), "gateway=\"bus1\""));
}

// A Modbus write names its client in the log; a refused one is logged and
// counted as a rejected write like a refused MQTT set.
TEST_F(ZamgateHostile, ModbusWritesNameTheirClientAndRefusalsAreCounted) {
  std::string config = GatewayConfigText("bus1", sim_, broker_.port(), kGates);
  config += "[modbus]\nlisten = \"127.0.0.1:0\"\n"
            "[[modbus.map]]\ngate = \"Setpoint\"\ntable = \"holding\"\naddress = 0\n"
            "[[modbus.map]]\ngate = \"Start\"\ntable = \"holding\"\naddress = 2\n";
  gateway_ = std::make_unique<Gateway>(config);
  ASSERT_GT(gateway_->httpPort(), 0) << gateway_->Log();
  const std::string log = gateway_->Log();
  const size_t at = log.find("Modbus TCP on 127.0.0.1:");
  ASSERT_NE(at, std::string::npos) << log;
  ModbusClient client(atoi(log.c_str() + at + strlen("Modbus TCP on 127.0.0.1:")));
  ASSERT_TRUE(client.connected());
  // Start takes 0..1440 minutes: 2000 is refused before the queue.
  EXPECT_EQ(client.WriteRegisters(2, {0, 2000}), EMBXILVAL);
  EXPECT_EQ(client.WriteRegisters(2, {0, 600}), 0);
  ASSERT_TRUE(WaitUntil([&] { return Contains(gateway_->Log(), "write Start = 600"); }, 10000)) << gateway_->Log();
  EXPECT_EQ(LinesWith(gateway_->Log(), "modbus write from 127.0.0.1:").size(), 2u) << gateway_->Log();
  EXPECT_EQ(LinesWith(gateway_->Log(), "to Start refused: value '2000' is out of range").size(), 1u) << gateway_->Log();
  EXPECT_TRUE(Contains(Get("/metrics"), "zamgate_writes_total{gateway=\"bus1\",outcome=\"rejected\"} 1"))
      << Get("/metrics");
}

// Bounded body and headers; slow clients cannot block the scrapes.
TEST_F(ZamgateHostile, HttpBoundsBodiesHeadersAndSlowClients) {
  StartGateway();
  httplib::Client client("127.0.0.1", gateway_->httpPort());
  client.set_read_timeout(10, 0);
  // A large body is refused on its length, not read.
  auto post = client.Post("/", std::string(1 << 20, 'x'), "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 413);
  // A hundred headers are too many.
  httplib::Headers many;
  for (int i = 0; i < 100; ++i) many.emplace("X-H" + std::to_string(i), "v");
  auto crowded = client.Get("/metrics", many);
  ASSERT_TRUE(crowded);
  EXPECT_EQ(crowded->status, 431);

  // Twelve clients that send a header byte now and then: /metrics still answers.
  std::vector<int> slow;
  for (int i = 0; i < 12; ++i) {
    int fd = ConnectRaw(gateway_->httpPort());
    ASSERT_GE(fd, 0);
    const char *start = "GET /metrics HTTP/1.1\r\nHost: x\r\n";
    ASSERT_GT(send(fd, start, strlen(start), MSG_NOSIGNAL), 0);
    slow.push_back(fd);
  }
  // Each sends a byte a second, well within every read time-out.
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (int i = 0; i < 60 && !done; ++i) {
      for (int fd : slow) send(fd, "X", 1, MSG_NOSIGNAL);  // never ends its headers
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  });
  bool answered = false;
  const auto deadline = Clock::now() + std::chrono::seconds(40);
  while (!answered && Clock::now() < deadline) answered = !Get("/metrics").empty();
  done = true;
  feeder.join();
  EXPECT_TRUE(answered) << "slow clients blocked /metrics";
  for (int fd : slow) close(fd);
}

}  // namespace
