// zamgate's BACnet/IP face end to end: zamgate polls the simulated plant
// (n2sim) and an independent BACnet client (the npm package
// @bacnet-js/client, driven by tests/bacnet/client.js) discovers the device,
// reads and writes its objects and subscribes to changes. Writes must reach
// the N2 line and be read back; refused writes must not.
#include <gtest/gtest.h>

#include <poll.h>
#include <string.h>
#include <sys/wait.h>

#include <atomic>
#include <thread>

#include <httplib.h>

#include "tests/zamgate_test_helpers.h"

namespace {

using namespace zamgate_test;

const std::string kNode = "/usr/bin/node";
const std::string kClient = std::string(ZAMKT_SOURCE_DIR) + "/tests/bacnet/client.js";

// Object types and properties by number, as the client takes them.
constexpr int kAnalogInput = 0, kAnalogValue = 2, kBinaryInput = 3, kBinaryValue = 5, kDevice = 8;
constexpr int kPresentValue = 85, kStatusFlags = 111, kReliability = 103, kObjectName = 77, kUnits = 117;

const std::string kGates = R"(
[[gate]]
name = "Room"
gas = "001AI01AI"
type = "real"
[[gate]]
name = "Setpoint"
gas = "001PM01LSP"
type = "real"
writable = true
[[gate]]
name = "AD1"
gas = "005AD001"
type = "int16"
writable = true
[[gate]]
name = "BO1"
gas = "005BO001"
type = "digital"
writable = true
[[gate]]
name = "BI1"
gas = "005BI001"
type = "digital"
[[gate]]
name = "TC input"
gas = "020TCGCAI1"
type = "real"
)";

const std::string kBacnet = R"(
[bacnet]
listen = "127.0.0.1:0"
device_instance = 1234
device_name = "plant-bus1"
[[bacnet.map]]
gate = "Room"
instance = 1
[[bacnet.map]]
gate = "Setpoint"
instance = 2
[[bacnet.map]]
gate = "AD1"
instance = 3
[[bacnet.map]]
gate = "BO1"
instance = 1
[[bacnet.map]]
gate = "BI1"
instance = 1
[[bacnet.map]]
gate = "TC input"
instance = 4
)";

const std::vector<std::string> kPlant = {"--static", "--set", "value 5 AD 1 65531", "--set", "value 1 PM01 LSP 19.5",
                                         "--set", "fault 20 silence 1"};

int BacnetPort(const Gateway &gateway) {
  const std::string log = gateway.Log();
  const char *prefix = "BACnet/IP on 127.0.0.1:";
  size_t at = log.find(prefix);
  return at == std::string::npos ? 0 : atoi(log.c_str() + at + strlen(prefix));
}

// One run of the client; its JSON line (an object with "error" when it failed).
json Client(int port, std::vector<std::string> args) {
  args.insert(args.begin(), {kClient, std::to_string(port), std::to_string(FreePort(SOCK_DGRAM))});
  RunResult run = RunProgram(kNode, args);
  json result = json::parse(run.out, nullptr, false);
  if (result.is_discarded()) return json{{"error", "no JSON from the client: " + run.out + run.err}};
  return result;
}

json Read(int port, int type, int instance, int property) {
  return Client(port, {"read", std::to_string(type), std::to_string(instance), std::to_string(property)});
}

// The first value of a ReadProperty answer; null on an error.
json FirstValue(const json &answer) {
  if (!answer.contains("values") || answer["values"].empty()) return nullptr;
  return answer["values"][0]["value"];
}

json Write(int port, int type, int instance, int tag, const std::string &value, int priority = 16) {
  return Client(port, {"write", std::to_string(type), std::to_string(instance), std::to_string(kPresentValue),
                       std::to_string(tag), value, std::to_string(priority)});
}

std::string ErrorOf(const json &answer) { return answer.value("error", std::string()); }

class ZamgateBacnet : public ::testing::Test {
 protected:
  void StartGateway(const std::vector<std::string> &plant) {
    ASSERT_EQ(access((std::string(ZAMKT_SOURCE_DIR) + "/tests/bacnet/node_modules/@bacnet-js/client").c_str(), F_OK), 0)
        << "run scripts/install-deps.sh: it installs the BACnet client package";
    sim_ = std::make_unique<Simulator>(plant);
    ASSERT_FALSE(sim_->port().empty());
    gateway_ = std::make_unique<Gateway>(GatewayConfigText("bus1", *sim_, broker_.port(), kGates, kBacnet));
    port_ = BacnetPort(*gateway_);
    ASSERT_GT(port_, 0) << gateway_->Log();
    // The first cycle's values, once the poll has them.
    ASSERT_TRUE(WaitUntil([&] { return FirstValue(Read(port_, kAnalogValue, 2, kPresentValue)) == 19.5; }, 20000))
        << gateway_->Log();
  }

  Broker broker_;
  std::unique_ptr<Simulator> sim_;
  std::unique_ptr<Gateway> gateway_;
  int port_ = 0;
};

TEST_F(ZamgateBacnet, DiscoveryAndReadsGiveThePlantsValues) {
  StartGateway(kPlant);

  json heard = Client(port_, {"whois"});
  ASSERT_EQ(heard["iAm"].size(), 1u) << heard.dump();
  EXPECT_EQ(heard["iAm"][0]["deviceId"], 1234);
  EXPECT_EQ(heard["iAm"][0]["maxApdu"], 1476);
  EXPECT_EQ(heard["iAm"][0]["segmentation"], 3);
  EXPECT_EQ(Client(port_, {"whois", "1234", "1234"})["iAm"].size(), 1u);
  EXPECT_EQ(Client(port_, {"whois", "2000", "3000"})["iAm"].size(), 0u) << "outside the range: no answer";

  EXPECT_EQ(FirstValue(Read(port_, kAnalogInput, 1, kPresentValue)), 21.5);
  EXPECT_EQ(FirstValue(Read(port_, kAnalogValue, 3, kPresentValue)), -5);
  EXPECT_EQ(FirstValue(Read(port_, kDevice, 1234, kObjectName)), "plant-bus1");
  EXPECT_EQ(FirstValue(Read(port_, kAnalogInput, 1, kObjectName)), "Room");
  EXPECT_EQ(FirstValue(Read(port_, kAnalogInput, 1, kReliability)), 0);
  json binary = Read(port_, kBinaryInput, 1, kPresentValue);
  EXPECT_TRUE(FirstValue(binary).is_number()) << binary.dump();

  // Station 20 never answers: its object tells of a communication failure.
  EXPECT_EQ(FirstValue(Read(port_, kAnalogInput, 4, kReliability)), 12);
  json flags = FirstValue(Read(port_, kAnalogInput, 4, kStatusFlags));
  EXPECT_EQ(flags["value"][0], 2) << "fault, and only fault: " << flags.dump();

  // ReadPropertyMultiple: the device whole, and properties of two objects.
  json multi = Client(port_, {"readmulti", R"([{"type": 8, "instance": 1234, "properties": [8]},
                                              {"type": 0, "instance": 1, "properties": [85, 111, 117]},
                                              {"type": 2, "instance": 2, "properties": [105]}])"});
  ASSERT_TRUE(multi.contains("values")) << multi.dump();
  ASSERT_EQ(multi["values"].size(), 3u) << multi.dump();
  const std::string text = multi.dump();
  EXPECT_GE(multi["values"][0]["values"].size(), 21u) << "every required property of the device: " << text;
  EXPECT_EQ(multi["values"][1]["values"][0]["value"][0]["value"], 21.5) << text;
  EXPECT_EQ(multi["values"][1]["values"][2]["value"][0]["value"], 95) << text;
  EXPECT_GE(multi["values"][2]["values"].size(), 9u) << "required properties of a commandable object: " << text;

  // Each error class.
  EXPECT_TRUE(Contains(ErrorOf(Read(port_, kAnalogInput, 99, kPresentValue)), "Class:1 - Code:31"));
  EXPECT_TRUE(Contains(ErrorOf(Read(port_, kAnalogInput, 1, 4000)), "Class:2 - Code:32"));
  EXPECT_TRUE(Contains(ErrorOf(Client(port_, {"read", "0", "1", "85", "1"})), "Class:2 - Code:50"));
  EXPECT_TRUE(Contains(ErrorOf(Write(port_, kAnalogInput, 1, 4, "20")), "Class:2 - Code:40"));
  EXPECT_TRUE(Contains(ErrorOf(Write(port_, kBinaryValue, 1, 9, "2")), "Class:2 - Code:37"));
  EXPECT_TRUE(Contains(ErrorOf(Write(port_, kAnalogValue, 2, 9, "1")), "Class:2 - Code:9"));

  // Every object's value and reliability, read at once, equal what the
  // gateway publishes (/api/state, the store MQTT publishes from).
  const std::vector<std::pair<std::string, std::pair<int, int>>> objects = {
      {"Room", {kAnalogInput, 1}}, {"Setpoint", {kAnalogValue, 2}}, {"AD1", {kAnalogValue, 3}},
      {"BO1", {kBinaryValue, 1}},  {"BI1", {kBinaryInput, 1}},      {"TC input", {kAnalogInput, 4}}};
  json accesses = json::array();
  for (const auto &object : objects) {
    accesses.push_back({{"type", object.second.first}, {"instance", object.second.second}, {"properties", {85, 103}}});
  }
  json every = Client(port_, {"readmulti", accesses.dump()});
  httplib::Client http("127.0.0.1", gateway_->httpPort());
  auto state = http.Get("/api/state");
  ASSERT_TRUE(state);
  json published = json::parse(state->body);
  ASSERT_EQ(every["values"].size(), objects.size()) << every.dump();
  for (size_t i = 0; i < objects.size(); ++i) {
    json gate;
    for (const json &one : published["gates"]) {
      if (one["name"] == objects[i].first) gate = one;
    }
    const json &read = every["values"][i]["values"];
    const bool good = gate["quality"] == "good";
    EXPECT_EQ(read[1]["value"][0]["value"], good ? 0 : 12) << objects[i].first << ": " << gate.dump();
    if (!gate["value"].is_null()) {
      EXPECT_EQ(static_cast<float>(read[0]["value"][0]["value"].get<double>()),
                static_cast<float>(gate["value"].get<double>()))
          << objects[i].first << ": " << gate.dump() << " " << read.dump();
    }
  }

  // The answers counted on /metrics and the status page.
  auto metrics = http.Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_TRUE(Contains(metrics->body, "zamgate_bacnet_errors_total{gateway=\"bus1\"} 6\n")) << metrics->body;
  EXPECT_TRUE(Contains(metrics->body, "zamgate_bacnet_rejects_total{gateway=\"bus1\"} 0\n")) << metrics->body;
  auto page = http.Get("/");
  ASSERT_TRUE(page);
  EXPECT_TRUE(Contains(page->body, "<h2>BACnet/IP</h2>\n<p>device 1234 'plant-bus1'")) << page->body;
  EXPECT_EQ(gateway_->Stop(), 0);
}

TEST_F(ZamgateBacnet, WritesReachTheLineAndRefusedOnesDoNot) {
  StartGateway(kPlant);

  EXPECT_EQ(Write(port_, kAnalogValue, 2, 4, "22.5", 8), json({{"ok", true}})) << gateway_->Log();
  EXPECT_EQ(Write(port_, kAnalogValue, 3, 4, "-300"), json({{"ok", true}}));
  EXPECT_EQ(Write(port_, kBinaryValue, 1, 9, "1"), json({{"ok", true}}));
  // Answered once read back: the next read holds the value.
  EXPECT_EQ(FirstValue(Read(port_, kAnalogValue, 2, kPresentValue)), 22.5);
  EXPECT_EQ(FirstValue(Read(port_, kAnalogValue, 3, kPresentValue)), -300);
  EXPECT_EQ(FirstValue(Read(port_, kBinaryValue, 1, kPresentValue)), 1);
  std::string log = gateway_->Log();
  for (const char *write : {"write Setpoint = 22.5", "write AD1 = -300", "write BO1 = 1"}) {
    EXPECT_TRUE(Contains(log, write)) << write << "\n" << log;
  }
  // The command sits in its slot of the priority array.
  json slot = Client(port_, {"read", "2", "2", "87", "8"});
  EXPECT_EQ(FirstValue(slot), 22.5) << slot.dump();

  // A lower priority than the one in command is kept, not written.
  EXPECT_EQ(Write(port_, kAnalogValue, 2, 4, "18", 12), json({{"ok", true}}));
  // Relinquishing priority 8 puts priority 12's value in command.
  EXPECT_EQ(Write(port_, kAnalogValue, 2, 0, "", 8), json({{"ok", true}}));
  EXPECT_EQ(FirstValue(Read(port_, kAnalogValue, 2, kPresentValue)), 18);

  // Refused: beyond an int16, and beyond what a System 91 real holds, even
  // below the command in control. An error answer, nothing on the line.
  EXPECT_TRUE(Contains(ErrorOf(Write(port_, kAnalogValue, 3, 4, "40000")), "Class:2 - Code:37"));
  EXPECT_TRUE(Contains(ErrorOf(Write(port_, kAnalogValue, 2, 4, "40000")), "Class:2 - Code:37"));
  EXPECT_TRUE(Contains(ErrorOf(Write(port_, kAnalogValue, 3, 4, "1.5")), "Class:2 - Code:37"));
  log = gateway_->Log();
  EXPECT_FALSE(Contains(log, "AD1 = 40000"));
  EXPECT_FALSE(Contains(log, "Setpoint = 40000"));
  EXPECT_EQ(FirstValue(Read(port_, kAnalogValue, 3, kPresentValue)), -300);
  EXPECT_EQ(gateway_->Stop(), 0);
}

TEST_F(ZamgateBacnet, ChangesAreNotifiedToSubscribers) {
  StartGateway(kPlant);
  // A subscriber that listens for 10 s, started in the background.
  TempFolder folder;
  const std::string out = folder.File("cov.json");
  pid_t subscriber = Spawn(kNode, {kClient, std::to_string(port_), std::to_string(FreePort(SOCK_DGRAM)), "cov", "2", "2", "1", "60", "10"}, out);
  ASSERT_TRUE(WaitUntil([&] { return Contains(ReadFile(out), "subscribed"); }, 10000)) << ReadFile(out);
  EXPECT_EQ(Write(port_, kAnalogValue, 2, 4, "23.25"), json({{"ok", true}}));
  int status = 0;
  ASSERT_TRUE(WaitUntil([&] { return waitpid(subscriber, &status, WNOHANG) == subscriber; }, 20000));
  const std::string text = ReadFile(out);
  json heard = json::parse(text.substr(text.find('\n') + 1), nullptr, false);
  ASSERT_FALSE(heard.is_discarded()) << text;
  const json &notes = heard["notifications"];
  // The first at once with the value then, one more once the write was read back.
  ASSERT_GE(notes.size(), 2u) << text;
  EXPECT_EQ(notes[0]["values"][0]["value"][0]["value"], 19.5) << text;
  EXPECT_EQ(notes.back()["values"][0]["value"][0]["value"], 23.25) << text;
  EXPECT_EQ(notes.back()["initiatingDeviceId"]["instance"], 1234) << text;
  EXPECT_EQ(gateway_->Stop(), 0);
}

TEST_F(ZamgateBacnet, AMovingValueInTheSimulatorIsNotified) {
  StartGateway({"--set", "value 1 PM01 LSP 19.5"});  // analog inputs move
  TempFolder folder;
  const std::string out = folder.File("cov.json");
  pid_t subscriber = Spawn(kNode, {kClient, std::to_string(port_), std::to_string(FreePort(SOCK_DGRAM)), "cov", "0", "1", "0", "60", "4"}, out);
  int status = 0;
  ASSERT_TRUE(WaitUntil([&] { return waitpid(subscriber, &status, WNOHANG) == subscriber; }, 20000));
  const std::string text = ReadFile(out);
  json heard = json::parse(text.substr(text.find('\n') + 1), nullptr, false);
  ASSERT_FALSE(heard.is_discarded()) << text;
  EXPECT_GE(heard["notifications"].size(), 2u) << text;
}

TEST_F(ZamgateBacnet, AFloodFromOneAddressLeavesOthersAndThePollTheirShare) {
  StartGateway(kPlant);
  // ReadProperty requests from another loopback address, 20000 a second (a
  // hundred times the rate a client is allowed), for as long as the other
  // client's requests take.
  int flood = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(0x7F000002);
  ASSERT_EQ(bind(flood, reinterpret_cast<sockaddr *>(&from), sizeof from), 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<uint16_t>(port_));
  const uint8_t request[] = {0x81, 0x0A, 0x00, 0x11, 0x01, 0x04, 0x00, 0x05, 0x01, 0x0C,
                             0x0C, 0x00, 0x00, 0x00, 0x01, 0x19, 0x55};
  std::atomic<bool> done{false};
  std::thread sender([&] {
    for (int burst = 0; burst < 6000 && !done; ++burst) {
      for (int i = 0; i < 200; ++i) sendto(flood, request, sizeof request, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  // Meanwhile another client is answered, and a write is carried out.
  EXPECT_EQ(FirstValue(Read(port_, kAnalogInput, 1, kPresentValue)), 21.5);
  EXPECT_EQ(Write(port_, kAnalogValue, 2, 4, "20.5"), json({{"ok", true}})) << gateway_->Log();
  done = true;
  sender.join();
  close(flood);
  // And the poll went on: the write's value was read back by it.
  EXPECT_TRUE(WaitUntil([&] { return FirstValue(Read(port_, kAnalogValue, 2, kPresentValue)) == 20.5; }, 10000));
  // The flood was held to its rate.
  httplib::Client http("127.0.0.1", gateway_->httpPort());
  auto metrics = http.Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_FALSE(Contains(metrics->body, "zamgate_bacnet_limited_total{gateway=\"bus1\"} 0\n")) << metrics->body;
  EXPECT_EQ(gateway_->Stop(), 0);
}

TEST(ZamgateBacnetConfig, CheckConfigRefusesAClashWithItsLineAndPrintMapListsTheObjects) {
  Simulator sim(kPlant);
  TempFolder folder;
  const std::string good = GatewayConfigText("bus1", sim, 1883, kGates, kBacnet);
  WriteFile(folder.File("good.toml"), good);
  RunResult check = RunProgram(kZamgate, {"--check-config", folder.File("good.toml")});
  EXPECT_TRUE(Contains(check.out, "BACnet/IP 127.0.0.1:0, device 1234, 7 objects")) << check.out << check.err;
  RunResult map = RunProgram(kZamgate, {"--print-map", folder.File("good.toml")});
  EXPECT_EQ(map.exitCode, 0) << map.err;
  EXPECT_TRUE(Contains(map.out, "# BACnet device 1234 'plant-bus1', 6 objects (explicit map)\n")) << map.out;
  EXPECT_TRUE(Contains(map.out, "[[bacnet.map]]  # 005BO001\ngate = \"BO1\"\ntype = \"binary-value\"\ninstance = 1\n"))
      << map.out;

  // AD1 mapped again, on the instance of Setpoint.
  const std::string bad = good + "[[bacnet.map]]\ngate = \"AD1\"\ninstance = 2\n";
  WriteFile(folder.File("bad.toml"), bad);
  RunResult refused = RunProgram(kZamgate, {"--check-config", folder.File("bad.toml")});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_TRUE(Contains(refused.err, "analog-value 2 of gate 'AD1' is taken by gate 'Setpoint'")) << refused.err;
  int line = 1;
  for (char c : good) line += c == '\n' ? 1 : 0;
  EXPECT_TRUE(Contains(refused.err, "bad.toml:" + std::to_string(line) + ": ")) << refused.err;
}

// Sends one datagram from a socket of its own and waits (bounded) for the answer.
std::vector<uint8_t> Exchange(int port, const std::vector<uint8_t> &datagram) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<uint16_t>(port));
  sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
  pollfd in = {fd, POLLIN, 0};
  std::vector<uint8_t> answer(1600);
  ssize_t size = poll(&in, 1, 3000) == 1 ? recv(fd, answer.data(), answer.size(), 0) : -1;
  close(fd);
  answer.resize(size > 0 ? static_cast<size_t>(size) : 0);
  return answer;
}

TEST_F(ZamgateBacnet, TsharkFindsNoMalformedPacketInTheTraffic) {
  if (access("/usr/bin/tshark", X_OK) != 0 || geteuid() != 0) GTEST_SKIP() << "tshark captures as root";
  StartGateway(kPlant);
  TempFolder folder;
  const std::string capture = folder.File("bacnet.pcapng");
  pid_t tshark = Spawn("/usr/bin/tshark", {"-i", "lo", "-f", "udp port " + std::to_string(port_), "-w", capture},
                       folder.File("tshark.log"));
  ASSERT_TRUE(WaitUntil([&] { return Contains(ReadFile(folder.File("tshark.log")), "Capturing on"); }, 20000));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  // Every kind of answer: I-Am, ReadProperty and ReadPropertyMultiple
  // acknowledgements, Simple-ACK, Errors, COV notifications ...
  Client(port_, {"whois"});
  Read(port_, kAnalogInput, 1, kPresentValue);
  Read(port_, kDevice, 1234, 76);
  Client(port_, {"readmulti", R"([{"type": 8, "instance": 1234, "properties": [8]},
                                  {"type": 2, "instance": 2, "properties": [8]},
                                  {"type": 5, "instance": 1, "properties": [8]},
                                  {"type": 3, "instance": 1, "properties": [8]},
                                  {"type": 0, "instance": 99, "properties": [85]}])"});
  Write(port_, kAnalogValue, 2, 4, "20.5", 8);
  Write(port_, kAnalogInput, 1, 4, "1");
  Read(port_, kAnalogInput, 99, kPresentValue);
  Client(port_, {"cov", "0", "1", "0", "60", "1"});
  // ... Rejects and Aborts.
  const std::vector<std::vector<uint8_t>> raw = {
      {0x81, 0x0A, 0x00, 0x0A, 0x01, 0x04, 0x00, 0x05, 0x01, 0x1A},  // ReadRange: Reject
      {0x81, 0x0A, 0x00, 0x0C, 0x01, 0x04, 0x08, 0x05, 0x02, 0x00, 0x01, 0x0C},  // segmented: Abort
      {0x81, 0x0A, 0x00, 0x10, 0x01, 0x04, 0x00, 0x00, 0x03, 0x0E, 0x0C, 0x02, 0x00, 0x04, 0xD2, 0x1E},
      {0x81, 0x0A, 0x00, 0x13, 0x01, 0x04, 0x00, 0x00, 0x04, 0x0E, 0x0C, 0x02, 0x00, 0x04, 0xD2, 0x1E, 0x09, 0x08,
       0x1F},  // everything of the device, to a client that takes 50 octets: Abort
  };
  for (const auto &datagram : raw) EXPECT_FALSE(Exchange(port_, datagram).empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  kill(tshark, SIGINT);
  int status = 0;
  WaitUntil([&] { return waitpid(tshark, &status, WNOHANG) == tshark; }, 10000);

  // The port is not 47808: tshark is told to decode it as BACnet/IP.
  const std::string decodeAs = "udp.port==" + std::to_string(port_) + ",bvlc";
  RunResult all = RunProgram("/usr/bin/tshark", {"-r", capture, "-d", decodeAs, "-Y", "bacapp || bacnet || bvlc"});
  RunResult bad = RunProgram("/usr/bin/tshark", {"-r", capture, "-d", decodeAs, "-Y",
                                                 "_ws.malformed || _ws.expert.severity >= error"});
  int packets = 0;
  for (char c : all.out) packets += c == '\n' ? 1 : 0;
  EXPECT_GE(packets, 24) << all.out << all.err;
  EXPECT_EQ(bad.out, "") << "malformed packets:\n" << bad.out;
  EXPECT_TRUE(Contains(all.out, "Abort           segmentation-not-supported")) << all.out;
  EXPECT_TRUE(Contains(all.out, "Reject          unrecognized-service")) << all.out;
  EXPECT_TRUE(Contains(all.out, "unconfirmedCOVNotification")) << all.out;
  EXPECT_EQ(gateway_->Stop(), 0);
}

// A UDP socket on a free loopback port, for a BBMD or a client played by the test.
struct UdpPeer {
  UdpPeer() {
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    port = ntohs(address.sin_port);
  }
  ~UdpPeer() { close(fd); }
  // The next datagram within the time, and where it came from; empty when none came.
  std::vector<uint8_t> Receive(int timeoutMs, int *fromPort = nullptr) {
    pollfd in = {fd, POLLIN, 0};
    std::vector<uint8_t> data(1600);
    sockaddr_in from{};
    socklen_t size = sizeof from;
    ssize_t got = poll(&in, 1, timeoutMs) == 1
                      ? recvfrom(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&from), &size)
                      : -1;
    data.resize(got > 0 ? static_cast<size_t>(got) : 0);
    if (fromPort != nullptr) *fromPort = ntohs(from.sin_port);
    return data;
  }
  void Send(int toPort, const std::vector<uint8_t> &data) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(toPort));
    sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
  }
  int fd = -1;
  int port = 0;
};

TEST(ZamgateBacnetBbmd, RegistersAsAForeignDeviceAndAnswersForwardedRequestsAtTheirOrigin) {
  Broker broker;
  Simulator sim(kPlant);
  ASSERT_FALSE(sim.port().empty());
  UdpPeer bbmd, client;
  const std::string section = "\n[bacnet]\nlisten = \"127.0.0.1:0\"\ndevice_instance = 99\nbbmd = \"127.0.0.1:" +
                              std::to_string(bbmd.port) + "\"\nbbmd_ttl_s = 60\n";
  Gateway gateway(GatewayConfigText("bus1", sim, broker.port(), kGates, section));
  const int port = BacnetPort(gateway);
  ASSERT_GT(port, 0) << gateway.Log();

  // Register-Foreign-Device with the time-to-live, then an I-Am for the BBMD to distribute.
  int from = 0;
  EXPECT_EQ(bbmd.Receive(5000, &from), (std::vector<uint8_t>{0x81, 0x05, 0x00, 0x06, 0x00, 0x3C}));
  EXPECT_EQ(from, port);
  const std::vector<uint8_t> announced = bbmd.Receive(5000);
  ASSERT_GE(announced.size(), 8u);
  EXPECT_EQ(announced[1], 0x09) << "Distribute-Broadcast-To-Network";
  EXPECT_EQ(std::vector<uint8_t>(announced.begin() + 6, announced.begin() + 8), (std::vector<uint8_t>{0x10, 0x00}));

  // A Who-Is the BBMD forwards from a client: the I-Am goes to the client.
  const uint8_t high = static_cast<uint8_t>(client.port >> 8), low = static_cast<uint8_t>(client.port);
  bbmd.Send(port, {0x81, 0x04, 0x00, 0x0E, 127, 0, 0, 1, high, low, 0x01, 0x00, 0x10, 0x08});
  const std::vector<uint8_t> iAm = client.Receive(5000);
  ASSERT_GE(iAm.size(), 12u);
  EXPECT_EQ(std::vector<uint8_t>(iAm.begin(), iAm.begin() + 2), (std::vector<uint8_t>{0x81, 0x0A}));
  EXPECT_EQ(std::vector<uint8_t>(iAm.begin() + 6, iAm.begin() + 13),
            (std::vector<uint8_t>{0x10, 0x00, 0xC4, 0x02, 0x00, 0x00, 0x63}));

  // A refusal of the registration is logged.
  bbmd.Send(port, {0x81, 0x00, 0x00, 0x06, 0x00, 0x30});
  EXPECT_TRUE(WaitUntil([&] { return Contains(gateway.Log(), "refused the foreign-device registration"); }, 5000))
      << gateway.Log();
  EXPECT_EQ(gateway.Stop(), 0);
}

}  // namespace
