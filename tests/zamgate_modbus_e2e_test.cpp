// zamgate's Modbus face end to end: zamgate polls the simulated plant (n2sim)
// and a Modbus client reads and writes it, with libmodbus and with mbpoll as
// an integrator would. Writes must arrive on the N2 line: each is read back
// through Modbus once the gateway has read it back from the simulator.
#include <gtest/gtest.h>

#include <string.h>

#include <httplib.h>

#include "tests/zamgate_modbus_client.h"
#include "tests/zamgate_test_helpers.h"

namespace {

using namespace zamgate_test;

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
name = "Counter 2"
gas = "001GCCNTR2"
type = "int32"
writable = true
[[gate]]
name = "AD1"
gas = "005AD001"
type = "int16"
writable = true
[[gate]]
name = "AD2"
gas = "005AD002"
type = "uint16"
[[gate]]
name = "Output 3"
gas = "001GCDCO3"
type = "digital"
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

std::string Entry(const std::string &gate, const std::string &table, int address) {
  return "[[modbus.map]]\ngate = \"" + gate + "\"\ntable = \"" + table + "\"\naddress = " + std::to_string(address) +
         "\n";
}

std::string ModbusSection(const std::string &settings) {
  return "[modbus]\nlisten = \"127.0.0.1:0\"\n" + settings + Entry("Room", "input", 0) + Entry("AD2", "input", 2) +
         Entry("TC input", "input", 4) + Entry("Setpoint", "holding", 0) + Entry("Counter 2", "holding", 2) +
         Entry("AD1", "holding", 4) + Entry("Output 3", "coil", 0) + Entry("BO1", "coil", 1) +
         Entry("BI1", "discrete_input", 0);
}

const std::vector<std::string> kPlant = {"--static",           "--set", "value 5 AD 1 65531",
                                         "--set",              "value 5 AD 2 60000",
                                         "--set",              "value 1 PM01 LSP 19.5"};

int ModbusPort(const Gateway &gateway) {
  std::string log = gateway.Log();
  size_t at = log.find("Modbus TCP on 127.0.0.1:");
  return at == std::string::npos ? 0 : atoi(log.c_str() + at + strlen("Modbus TCP on 127.0.0.1:"));
}

float FloatOf(const std::vector<uint16_t> &words, size_t at) {
  uint32_t bits = (uint32_t{words[at]} << 16) | words[at + 1];
  float value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

std::vector<uint16_t> WordsOf(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return {static_cast<uint16_t>(bits >> 16), static_cast<uint16_t>(bits)};
}

TEST(ZamgateModbus, ServesThePlantsValuesWhileAStationIsSilent) {
  Broker broker;
  std::vector<std::string> plant = kPlant;
  plant.insert(plant.end(), {"--set", "fault 20 silence 1"});
  Simulator sim(plant);
  ASSERT_FALSE(sim.port().empty());
  Gateway gateway(GatewayConfigText("bus1", sim, broker.port(), kGates, ModbusSection("")));
  const int port = ModbusPort(gateway);
  ASSERT_GT(port, 0) << gateway.Log();
  ModbusClient client(port);
  ASSERT_TRUE(client.connected());

  // The first cycle's values, once the poll has them.
  std::vector<uint16_t> input;
  WaitUntil([&] { return (input = client.Registers(false, 0, 3)).size() == 3; }, 15000);
  ASSERT_EQ(input.size(), 3u) << modbus_strerror(client.lastError()) << gateway.Log();
  EXPECT_EQ(FloatOf(input, 0), 21.5f);
  EXPECT_EQ(input[2], 60000);
  std::vector<uint16_t> holding;
  WaitUntil([&] { return (holding = client.Registers(true, 0, 5)).size() == 5; }, 10000);
  ASSERT_EQ(holding.size(), 5u) << modbus_strerror(client.lastError());
  EXPECT_EQ(FloatOf(holding, 0), 19.5f);
  EXPECT_EQ(static_cast<int16_t>(holding[4]), -5);
  EXPECT_EQ(client.Bits(false, 0, 1), std::vector<uint8_t>{1});

  // Station 20 never answers: its gate has no value to give, and every other
  // gate is answered at once although the poll waits out its time-outs.
  EXPECT_TRUE(client.Registers(false, 4, 2).empty());
  EXPECT_EQ(client.lastError(), EMBXGTAR);
  for (int i = 0; i < 20; ++i) {
    auto start = Clock::now();
    EXPECT_EQ(client.Registers(false, 0, 3).size(), 3u);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(250)) << "a read waited on the line";
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }

  // The counters on /metrics and the status page.
  httplib::Client http("127.0.0.1", gateway.httpPort());
  auto metrics = http.Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_TRUE(Contains(metrics->body, "zamgate_modbus_exceptions_total{gateway=\"bus1\",code=\"11\"} "))
      << metrics->body;
  EXPECT_TRUE(Contains(metrics->body, "zamgate_modbus_clients{gateway=\"bus1\"} 1\n"));
  auto page = http.Get("/");
  ASSERT_TRUE(page);
  EXPECT_TRUE(Contains(page->body, "<h2>Modbus TCP</h2>")) << page->body;
  EXPECT_TRUE(Contains(page->body, "11 gateway target device failed to respond"));
  EXPECT_EQ(gateway.Stop(), 0);
}

TEST(ZamgateModbus, WritesOfEachKindReachTheStationsAndReadBack) {
  Broker broker;
  Simulator sim(kPlant);
  ASSERT_FALSE(sim.port().empty());
  Gateway gateway(GatewayConfigText("bus1", sim, broker.port(), kGates, ModbusSection("reply_writes = \"done\"\n")));
  const int port = ModbusPort(gateway);
  ASSERT_GT(port, 0) << gateway.Log();
  ModbusClient client(port);
  ASSERT_TRUE(WaitUntil([&] { return client.Registers(true, 0, 5).size() == 5; }, 15000)) << gateway.Log();

  // Answered once written and read back: the read-back is the gate's value.
  std::vector<uint16_t> setpoint = WordsOf(22.5f);
  EXPECT_EQ(client.WriteRegisters(0, {setpoint[0], setpoint[1], 0x0001, 0x1170}), 0) << gateway.Log();
  EXPECT_EQ(client.WriteRegister(4, static_cast<uint16_t>(-300)), 0);
  EXPECT_EQ(client.WriteBit(0, true), 0);
  EXPECT_EQ(client.WriteBits(0, {0, 1}), 0);

  std::vector<uint16_t> holding = client.Registers(true, 0, 5);
  ASSERT_EQ(holding.size(), 5u);
  EXPECT_EQ(FloatOf(holding, 0), 22.5f);
  EXPECT_EQ((int32_t{holding[2]} << 16) | holding[3], 70000);
  EXPECT_EQ(static_cast<int16_t>(holding[4]), -300);
  EXPECT_EQ(client.Bits(true, 0, 2), (std::vector<uint8_t>{0, 1}));
  // Each write went out as an N2 write to its station.
  std::string log = gateway.Log();
  for (const char *gate : {"Setpoint = 22.5", "Counter 2 = 70000", "AD1 = -300", "Output 3 = 1", "BO1 = 1"}) {
    EXPECT_TRUE(Contains(log, std::string("write ") + gate)) << gate << "\n" << log;
  }

  // A refused write never reaches the line: a read-only gate's table, and a
  // real the System 91 station cannot hold.
  std::vector<uint16_t> tooLarge = WordsOf(40000.0f);
  EXPECT_EQ(client.WriteRegisters(0, tooLarge), EMBXILVAL);
  EXPECT_FALSE(Contains(gateway.Log(), "Setpoint = 40000"));
  EXPECT_EQ(gateway.Stop(), 0);
}

TEST(ZamgateModbus, MbpollReadsAndWritesAsTheGuideShows) {
  Broker broker;
  Simulator sim(kPlant);
  ASSERT_FALSE(sim.port().empty());
  Gateway gateway(GatewayConfigText("bus1", sim, broker.port(), kGates, ModbusSection("")));
  const std::string port = std::to_string(ModbusPort(gateway));
  ModbusClient client(ModbusPort(gateway));
  ASSERT_TRUE(WaitUntil([&] { return client.Registers(true, 0, 2).size() == 2; }, 15000)) << gateway.Log();

  RunResult read = RunProgram("/usr/bin/mbpoll", {"-m", "tcp", "-p", port, "-a", "1", "-0", "-1", "-q", "-t", "3:float",
                                                  "-B", "-r", "0", "127.0.0.1"});
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_TRUE(Contains(read.out, "[0]: \t21.5")) << read.out;
  RunResult write = RunProgram("/usr/bin/mbpoll", {"-m", "tcp", "-p", port, "-a", "1", "-0", "-1", "-t", "4:float", "-B",
                                                   "-r", "0", "127.0.0.1", "18.25"});
  EXPECT_EQ(write.exitCode, 0) << write.err;
  EXPECT_TRUE(Contains(write.out, "Written 1 references")) << write.out;
  EXPECT_TRUE(WaitUntil(
      [&] {
        std::vector<uint16_t> words = client.Registers(true, 0, 2);
        return words.size() == 2 && FloatOf(words, 0) == 18.25f;
      },
      10000))
      << gateway.Log();
}

TEST(ZamgateModbus, CheckConfigRefusesABadMapWithItsLineAndPrintMapListsAGoodOne) {
  Simulator sim(kPlant);
  TempFolder folder;
  const std::string good = GatewayConfigText("bus1", sim, 1883, kGates, ModbusSection(""));
  WriteFile(folder.File("good.toml"), good);
  RunResult map = RunProgram(kZamgate, {"--print-map", folder.File("good.toml")});
  EXPECT_EQ(map.exitCode, 0) << map.err;
  EXPECT_TRUE(Contains(map.out, "address,table,gate,gas,type,words,writable,unit,min,max,description\n"
                                "0,coil,Output 3,001GCDCO3,digital,1,yes,,,,\n"))
      << map.out;
  EXPECT_TRUE(Contains(map.out, "\n4,input,TC input,020TCGCAI1,real,2,no,,,,\n")) << map.out;
  RunResult check = RunProgram(kZamgate, {"--check-config", folder.File("good.toml")});
  EXPECT_TRUE(Contains(check.out, "Modbus TCP 127.0.0.1:0, unit 1, 9 gates mapped")) << check.out;

  // AD1 placed on the second word of Room.
  std::string bad = good + Entry("AD1", "input", 1);
  WriteFile(folder.File("bad.toml"), bad);
  RunResult refused = RunProgram(kZamgate, {"--check-config", folder.File("bad.toml")});
  EXPECT_EQ(refused.exitCode, 2);
  int line = 1;
  for (char c : good) line += c == '\n' ? 1 : 0;
  EXPECT_TRUE(Contains(refused.err, "bad.toml:" + std::to_string(line) + ": input address 1 of gate 'AD1' overlaps gate 'Room'"))
      << refused.err;
}

}  // namespace
