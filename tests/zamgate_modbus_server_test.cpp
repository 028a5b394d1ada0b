// The Modbus server over the gateway's real gate store and write queue, driven
// by a libmodbus client on a loopback port. The test plays the poll thread:
// it puts values into the store as a poll would, and takes the queued writes
// and completes them.
#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <future>
#include <random>
#include <thread>

#include "driver/requests.h"
#include "tests/zamgate_modbus_client.h"
#include "tests/support/modbus_gate_rows.h"
#include "zamgate/core/gate_store.h"
#include "zamgate/modbus/modbus_face.h"
#include "zamgate/modbus/modbus_gateway_source.h"
#include "zamgate/modbus/modbus_server.h"
#include "zamgate/core/write_queue.h"

namespace zamgate {
namespace {

using zamgate_test::ClosedWithin;
using zamgate_test::ConnectRaw;
using zamgate_test::ModbusClient;

// Index order is the gateway's gate order.
constexpr GateRow kGates[] = {
    {"temp", kGateReal, false},    {"count", kGateInt32, false},  {"raw", kGateUInt16, false},
    {"setpoint", kGateReal, true}, {"total", kGateInt32, true},   {"offset", kGateInt16, true},
    {"fan", kGateDigital, true},   {"pump", kGateDigital, true},  {"alarm", kGateDigital, false},
};
enum { kTemp, kCount, kRaw, kSetpoint, kTotal, kOffset, kFan, kPump, kAlarm };

// input 0-1 temp, 2-3 count, 4 raw; holding 0-1 setpoint, 2-3 total, 4
// offset, nothing from 5 on; coils 0 fan, 1 pump; discrete inputs 0 alarm,
// 1 fan (a gate may appear in more than one table).
const char *const kMap = R"(
[[modbus.map]]
gate = "temp"
table = "input"
address = 0
[[modbus.map]]
gate = "count"
table = "input"
address = 2
[[modbus.map]]
gate = "raw"
table = "input"
address = 4
[[modbus.map]]
gate = "setpoint"
table = "holding"
address = 0
[[modbus.map]]
gate = "total"
table = "holding"
address = 2
[[modbus.map]]
gate = "offset"
table = "holding"
address = 4
[[modbus.map]]
gate = "fan"
table = "coil"
address = 0
[[modbus.map]]
gate = "pump"
table = "coil"
address = 1
[[modbus.map]]
gate = "alarm"
table = "discrete_input"
address = 0
[[modbus.map]]
gate = "fan"
table = "discrete_input"
address = 1
)";

n2host::GateValue Real(double v) { return {kGateReal, v, 0}; }
n2host::GateValue Integer(int type, int64_t v) { return {type, 0, v}; }

// The store, the queue and the server, as the gateway wires them.
class Rig {
 public:
  explicit Rig(const std::string &settings, size_t queueSize = 16) {
    const GateRowParts parts = PartsOfGateRows(kGates);
    store_ = std::make_unique<GateStore>("test", parts.states);
    queue_ = std::make_unique<WriteQueue>(parts.gates, parts.writable, queueSize);
    std::string error;
    toml::table root = toml::parse("[modbus]\nlisten = \"127.0.0.1:0\"\n" + settings + kMap, std::string("t.toml"));
    ok_ = ReadModbusSection(root, "t.toml", parts.infos, &config_, &error);
    EXPECT_TRUE(ok_) << error;
    source_ = std::make_unique<GatewayModbusSource>(*store_, *queue_);
    server_ = std::make_unique<ModbusServer>(config_, *source_);
    ok_ = ok_ && server_->Start(&error);
    EXPECT_TRUE(ok_) << error;
  }
  ~Rig() {
    server_->Stop();
    queue_->Close();
  }

  // As a poll read of the gate: "ok" with a value, or failed.
  void Poll(size_t gate, std::optional<n2host::GateValue> value, bool demoted = false) {
    store_->UpdateGate(gate, value ? "ok" : "no reply", value, demoted, WallClock::now());
  }
  void PollAll() {
    Poll(kTemp, Real(21.5));
    Poll(kCount, Integer(kGateInt32, -123456));
    Poll(kRaw, Integer(kGateUInt16, 60000));
    Poll(kSetpoint, Real(19.25));
    Poll(kTotal, Integer(kGateInt32, 70000));
    Poll(kOffset, Integer(kGateInt16, -5));
    Poll(kFan, Integer(kGateDigital, 1));
    Poll(kPump, Integer(kGateDigital, 0));
    Poll(kAlarm, Integer(kGateDigital, 1));
  }
  // As the poll thread between reads: every queued write, completed.
  std::vector<QueuedWrite> Carry(WriteOutcome outcome = WriteOutcome::kVerified) {
    std::vector<QueuedWrite> taken;
    while (std::optional<QueuedWrite> write = queue_->Take()) {
      write->result.outcome = outcome;
      if (write->done) write->done(write->result);
      taken.push_back(std::move(*write));
    }
    return taken;
  }

  int port() const { return server_->port(); }
  WriteQueue &queue() { return *queue_; }
  const ModbusCounters &counters() const { return server_->counters(); }
  bool ok() const { return ok_; }

 private:
  ModbusConfig config_;
  std::unique_ptr<GateStore> store_;
  std::unique_ptr<WriteQueue> queue_;
  std::unique_ptr<GatewayModbusSource> source_;
  std::unique_ptr<ModbusServer> server_;
  bool ok_ = false;
};

// Both word orders, each with libmodbus's own reading of a float in that
// order (high word first is ABCD, low word first CDAB).
struct OrderCase {
  const char *setting;
  float (*readFloat)(const uint16_t *);
  bool highFirst;
};
const OrderCase kOrders[] = {{"big", modbus_get_float_abcd, true}, {"little", modbus_get_float_cdab, false}};

// A float as two registers in the word order (libmodbus 3.1.6's setters for
// floats depend on the host's byte order, so the test splits it itself).
std::vector<uint16_t> FloatWords(float value, bool highFirst = true) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  uint16_t high = static_cast<uint16_t>(bits >> 16), low = static_cast<uint16_t>(bits);
  return highFirst ? std::vector<uint16_t>{high, low} : std::vector<uint16_t>{low, high};
}

uint32_t Join(const uint16_t *words, bool highFirst) {
  return highFirst ? (uint32_t{words[0]} << 16) | words[1] : (uint32_t{words[1]} << 16) | words[0];
}

TEST(ModbusServer, ReadsEveryTableAndTypeInEitherWordOrder) {
  for (const OrderCase &order : kOrders) {
    SCOPED_TRACE(order.setting);
    Rig rig(std::string("word_order = \"") + order.setting + "\"\n");
    ASSERT_TRUE(rig.ok());
    rig.PollAll();
    ModbusClient client(rig.port());
    ASSERT_TRUE(client.connected());

    std::vector<uint16_t> input = client.Registers(false, 0, 5);
    ASSERT_EQ(input.size(), 5u) << modbus_strerror(client.lastError());
    EXPECT_EQ(order.readFloat(&input[0]), 21.5f);
    EXPECT_EQ(static_cast<int32_t>(Join(&input[2], order.highFirst)), -123456);
    EXPECT_EQ(input[4], 60000);

    std::vector<uint16_t> holding = client.Registers(true, 0, 5);
    ASSERT_EQ(holding.size(), 5u) << modbus_strerror(client.lastError());
    EXPECT_EQ(order.readFloat(&holding[0]), 19.25f);
    EXPECT_EQ(static_cast<int32_t>(Join(&holding[2], order.highFirst)), 70000);
    EXPECT_EQ(static_cast<int16_t>(holding[4]), -5);

    EXPECT_EQ(client.Bits(true, 0, 2), (std::vector<uint8_t>{1, 0}));
    EXPECT_EQ(client.Bits(false, 0, 2), (std::vector<uint8_t>{1, 1}));
  }
}

TEST(ModbusServer, WritesOfEachKindAreQueuedWithTheirValues) {
  for (const OrderCase &order : kOrders) {
    SCOPED_TRACE(order.setting);
    Rig rig(std::string("word_order = \"") + order.setting + "\"\n");
    ASSERT_TRUE(rig.ok());
    ModbusClient client(rig.port());
    std::vector<uint16_t> setpoint = FloatWords(22.75f, order.highFirst);
    uint16_t total[2];
    total[order.highFirst ? 0 : 1] = 0xFFFF;  // -2, across both halves
    total[order.highFirst ? 1 : 0] = 0xFFFE;

    EXPECT_EQ(client.WriteBit(0, true), 0);
    EXPECT_EQ(client.WriteBits(0, {0, 1}), 0);
    EXPECT_EQ(client.WriteRegister(4, 0xFFF0), 0);
    EXPECT_EQ(client.WriteRegisters(0, {setpoint[0], setpoint[1], total[0], total[1], 7}), 0);

    std::vector<QueuedWrite> writes = rig.Carry();
    struct Expected {
      size_t gate;
      double real;
      int64_t integer;
    };
    const Expected expected[] = {{kFan, 0, 1},       {kFan, 0, 0},    {kPump, 0, 1}, {kOffset, 0, -16},
                                 {kSetpoint, 22.75, 0}, {kTotal, 0, -2}, {kOffset, 0, 7}};
    ASSERT_EQ(writes.size(), std::size(expected));
    for (size_t i = 0; i < writes.size(); ++i) {
      EXPECT_EQ(writes[i].gateIndex, expected[i].gate) << i;
      EXPECT_EQ(writes[i].value.real, expected[i].real) << i;
      EXPECT_EQ(writes[i].value.integer, expected[i].integer) << i;
      EXPECT_EQ(writes[i].result.requestId, "modbus");
    }
  }
}

// Each refusal, with the exception it must bring, and nothing queued.
struct ExceptionCase {
  const char *what;
  std::function<int(ModbusClient &)> request;  // errno of the answer
  int expected;
};

TEST(ModbusServer, AnswersEachRefusalWithItsExceptionAndQueuesNothing) {
  Rig rig("");
  ASSERT_TRUE(rig.ok());
  rig.PollAll();
  auto read = [](bool holding, int address, int count) {
    return [=](ModbusClient &c) { return c.Registers(holding, address, count).empty() ? c.lastError() : 0; };
  };
  const ExceptionCase cases[] = {
      {"an unserved function (report server id)", [](ModbusClient &c) {
         uint8_t id[MODBUS_MAX_PDU_LENGTH];
         return modbus_report_slave_id(c.ctx(), sizeof id, id) < 0 ? errno : 0;
       }, EMBXILFUN},
      {"a read past the last mapped register", read(false, 3, 3), EMBXILADD},
      {"a read over a hole", read(true, 4, 2), EMBXILADD},
      {"a read of an unmapped table address", read(true, 100, 1), EMBXILADD},
      {"a read of 126 registers", [](ModbusClient &c) { return c.Raw({0x03, 0x00, 0x00, 0x00, 126}); },
       MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE},
      {"a single register into half a real", [](ModbusClient &c) { return c.WriteRegister(1, 0); }, EMBXILADD},
      {"a single register onto a real's first half", [](ModbusClient &c) { return c.WriteRegister(0, 0); }, EMBXILADD},
      {"registers ending in the middle of a value",
       [](ModbusClient &c) { return c.WriteRegisters(0, {0x41A0, 0, 0}); }, EMBXILADD},
      {"registers starting in the middle of a value",
       [](ModbusClient &c) { return c.WriteRegisters(1, {0, 0, 0}); }, EMBXILADD},
      {"registers running into a hole", [](ModbusClient &c) { return c.WriteRegisters(4, {1, 2}); }, EMBXILADD},
      {"a coil that is not mapped", [](ModbusClient &c) { return c.WriteBit(5, true); }, EMBXILADD},
      {"coils past the last mapped one", [](ModbusClient &c) { return c.WriteBits(0, {1, 1, 1}); }, EMBXILADD},
      {"a real that is not a number", [](ModbusClient &c) { return c.WriteRegisters(0, {0x7FC0, 0}); }, EMBXILVAL},
      {"a coil value other than on or off", [](ModbusClient &c) { return c.Raw({0x05, 0x00, 0x00, 0x12, 0x34}); },
       MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE},
      {"a byte count that does not fit the quantity",
       [](ModbusClient &c) { return c.Raw({0x10, 0x00, 0x04, 0x00, 0x01, 0x04, 0x00, 0x01, 0x00, 0x02}); },
       MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE},
  };
  ModbusClient client(rig.port());
  ASSERT_TRUE(client.connected());
  for (const ExceptionCase &test : cases) {
    EXPECT_EQ(test.request(client), test.expected) << test.what;
    EXPECT_EQ(rig.queue().size(), 0u) << test.what;
  }

  ModbusClient otherUnit(rig.port(), 7);
  EXPECT_TRUE(otherUnit.Registers(true, 0, 2).empty());
  EXPECT_EQ(otherUnit.lastError(), EMBXGPATH);

  // The counters saw every request and every exception.
  ModbusCountersSnapshot counters = rig.counters().Snapshot();
  EXPECT_EQ(counters.requests[MODBUS_FC_REPORT_SLAVE_ID], 1u);
  EXPECT_EQ(counters.exceptions[MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS], 10u);
  EXPECT_EQ(counters.exceptions[MODBUS_EXCEPTION_GATEWAY_PATH], 1u);
  std::string metrics = ModbusMetricsText("test", counters);
  EXPECT_NE(metrics.find("zamgate_modbus_exceptions_total{gateway=\"test\",code=\"2\"} 10\n"), std::string::npos);
  EXPECT_NE(metrics.find("zamgate_modbus_requests_total{gateway=\"test\",function=\"16\"}"), std::string::npos);
}

TEST(ModbusServer, RefusesValuesTheWriteQueueRefusesAndQueuesNoneOfTheGroup) {
  // The gates are System 91 points: the driver cannot encode a real above 32750.
  Rig rig("");
  ASSERT_TRUE(rig.ok());
  ModbusClient client(rig.port());
  std::vector<uint16_t> words = FloatWords(40000.0f);
  EXPECT_EQ(client.WriteRegisters(0, {words[0], words[1]}), EMBXILVAL);
  EXPECT_EQ(client.WriteRegisters(0, {words[0], words[1], 0, 1, 2}), EMBXILVAL);
  EXPECT_EQ(rig.queue().size(), 0u);
  words = FloatWords(32000.5f);
  EXPECT_EQ(client.WriteRegisters(0, {words[0], words[1]}), 0);
  EXPECT_EQ(rig.queue().size(), 1u);
}

TEST(ModbusServer, AFullQueueAnswersBusyAndTakesNoPartOfAGroup) {
  Rig rig("", 2);
  ASSERT_TRUE(rig.ok());
  ModbusClient client(rig.port());
  EXPECT_EQ(client.WriteBit(0, true), 0);
  // Three values do not fit in the one place left: none is queued.
  EXPECT_EQ(client.WriteRegisters(0, {0x41A0, 0, 0, 1, 2}), EMBXSBUSY);
  EXPECT_EQ(rig.queue().size(), 1u);
  EXPECT_EQ(client.WriteBit(1, true), 0);
  EXPECT_EQ(client.WriteBit(0, false), EMBXSBUSY);
  EXPECT_EQ(rig.Carry().size(), 2u);
  EXPECT_EQ(client.WriteBit(0, false), 0);
}

TEST(ModbusServer, AGateWithoutAGoodValueAnswersAsConfigured) {
  {
    Rig rig("when_not_good = \"last_good\"\n");
    ASSERT_TRUE(rig.ok());
    ModbusClient client(rig.port());
    EXPECT_TRUE(client.Registers(false, 0, 2).empty()) << "never read";
    EXPECT_EQ(client.lastError(), EMBXGTAR);
    rig.Poll(kTemp, Real(21.5));
    rig.Poll(kTemp, std::nullopt, true);  // the station demoted: stale
    std::vector<uint16_t> words = client.Registers(false, 0, 2);
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(modbus_get_float_abcd(words.data()), 21.5f);
  }
  {
    Rig rig("when_not_good = \"exception\"\n");
    ASSERT_TRUE(rig.ok());
    ModbusClient client(rig.port());
    rig.Poll(kTemp, Real(21.5));
    EXPECT_EQ(client.Registers(false, 0, 2).size(), 2u);
    rig.Poll(kTemp, std::nullopt, true);
    EXPECT_TRUE(client.Registers(false, 0, 5).empty());
    EXPECT_EQ(client.lastError(), EMBXGTAR);
  }
}

TEST(ModbusServer, AnswersAWriteOnceDoneWhenSoConfigured) {
  struct DoneCase {
    WriteOutcome outcome;
    int expected;
  };
  const DoneCase cases[] = {{WriteOutcome::kVerified, 0},
                            {WriteOutcome::kNoReply, EMBXGTAR},
                            {WriteOutcome::kNotApplied, EMBXSFAIL}};
  Rig rig("reply_writes = \"done\"\n");
  ASSERT_TRUE(rig.ok());
  ModbusClient client(rig.port());
  for (const DoneCase &test : cases) {
    std::future<int> answer = std::async(std::launch::async, [&] { return client.WriteBits(0, {1, 1}); });
    // No answer while the writes wait in the queue.
    EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    std::vector<QueuedWrite> carried;
    for (int i = 0; i < 100 && carried.empty(); ++i) {
      carried = rig.Carry(test.outcome);
      if (carried.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(carried.size(), 2u);
    EXPECT_EQ(answer.get(), test.expected) << OutcomeName(test.outcome);
  }
}

TEST(ModbusServer, AWriteNotDoneInTimeAnswersTargetFailedAndTheClientGoesOn) {
  Rig rig("reply_writes = \"done\"\nwrite_done_timeout_ms = 200\n");
  ASSERT_TRUE(rig.ok());
  rig.PollAll();
  ModbusClient client(rig.port());
  EXPECT_EQ(client.WriteBit(0, true), EMBXGTAR);
  // The write is still queued and is carried out later; its completion
  // finds no one waiting, and the client's next request is answered.
  EXPECT_EQ(rig.Carry().size(), 1u);
  EXPECT_EQ(client.Bits(true, 0, 2).size(), 2u);
}

TEST(ModbusServer, ServesTenClientsAtOnce) {
  Rig rig("max_clients = 10\n");
  ASSERT_TRUE(rig.ok());
  rig.PollAll();
  std::atomic<int> good{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 10; ++c) {
    clients.emplace_back([&] {
      ModbusClient client(rig.port());
      for (int i = 0; i < 50; ++i) {
        std::vector<uint16_t> words = client.Registers(true, 0, 5);
        if (words.size() == 5 && modbus_get_float_abcd(words.data()) == 19.25f) ++good;
      }
    });
  }
  for (std::thread &client : clients) client.join();
  EXPECT_EQ(good.load(), 500);
  EXPECT_EQ(rig.counters().Snapshot().requests[MODBUS_FC_READ_HOLDING_REGISTERS], 500u);
}

TEST(ModbusServer, DropsBadClientsWithoutHoldingUpTheOthers) {
  Rig rig("idle_timeout_s = 1\nmax_clients = 4\n");
  ASSERT_TRUE(rig.ok());
  rig.PollAll();
  ModbusClient good(rig.port());
  ASSERT_EQ(good.Registers(false, 0, 2).size(), 2u);

  int garbage = ConnectRaw(rig.port());
  const char text[] = "GET / HTTP/1.1\r\n\r\n";
  ASSERT_EQ(send(garbage, text, sizeof text - 1, 0), static_cast<ssize_t>(sizeof text - 1));
  EXPECT_TRUE(ClosedWithin(garbage, 2000)) << "a frame that is not Modbus TCP";

  int halfFrame = ConnectRaw(rig.port());
  const uint8_t half[] = {0x00, 0x01, 0x00};
  ASSERT_EQ(send(halfFrame, half, sizeof half, 0), 3);
  int silent = ConnectRaw(rig.port());
  // The good client is answered while the others hang.
  for (int i = 0; i < 20; ++i) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(good.Registers(false, 0, 5).size(), 5u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(ClosedWithin(halfFrame, 5000)) << "a frame left unfinished";
  EXPECT_TRUE(ClosedWithin(silent, 5000)) << "a client that never sends";
  close(garbage);
  close(halfFrame);
  close(silent);
  EXPECT_EQ(rig.counters().Snapshot().dropped, 3u);
}

TEST(ModbusServer, TurnsAwayConnectionsBeyondTheLimit) {
  Rig rig("max_clients = 2\n");
  ASSERT_TRUE(rig.ok());
  rig.PollAll();
  ModbusClient first(rig.port());
  ModbusClient second(rig.port());
  ASSERT_EQ(first.Registers(false, 0, 2).size(), 2u);
  ASSERT_EQ(second.Registers(false, 0, 2).size(), 2u);
  int third = ConnectRaw(rig.port());
  EXPECT_TRUE(ClosedWithin(third, 2000));
  close(third);
  EXPECT_EQ(first.Registers(false, 0, 2).size(), 2u);
  ModbusCountersSnapshot counters = rig.counters().Snapshot();
  EXPECT_EQ(counters.refused, 1u);
  EXPECT_EQ(counters.clients, 2);
}

// Reads a whole Modbus TCP answer from a plain socket; empty when none comes.
std::vector<uint8_t> ReadAnswer(int fd) {
  std::vector<uint8_t> answer;
  auto readExact = [&](size_t count) {
    while (count > 0) {
      pollfd in = {fd, POLLIN, 0};
      if (poll(&in, 1, 2000) <= 0) return false;
      uint8_t buffer[300];
      ssize_t got = recv(fd, buffer, std::min(count, sizeof buffer), 0);
      if (got <= 0) return false;
      answer.insert(answer.end(), buffer, buffer + got);
      count -= static_cast<size_t>(got);
    }
    return true;
  };
  if (!readExact(7)) return {};
  if (!readExact(static_cast<size_t>((answer[4] << 8) | answer[5]) - 1)) return {};
  return answer;
}

TEST(ModbusServer, AnswersEveryWellFramedRequestWhateverItsContents) {
  // Frames with a sound header and random contents, biased to the served
  // function codes and to the mapped addresses: each gets an answer of its
  // own transaction and function (or its exception), and the server lives on.
  Rig rig("");
  ASSERT_TRUE(rig.ok());
  rig.PollAll();
  int fd = ConnectRaw(rig.port());
  ASSERT_GE(fd, 0);
  std::mt19937 random(16);
  const uint8_t functions[] = {1, 2, 3, 4, 5, 6, 15, 16, 7, 0x2B, 0x80};
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> pdu = {functions[random() % std::size(functions)], 0, static_cast<uint8_t>(random() % 8)};
    size_t extra = random() % 12;
    for (size_t k = 0; k < extra; ++k) pdu.push_back(static_cast<uint8_t>(random() % 4 == 0 ? random() : random() % 8));
    std::vector<uint8_t> frame = {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), 0, 0, 0,
                                  static_cast<uint8_t>(pdu.size() + 1), 1};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    ASSERT_EQ(send(fd, frame.data(), frame.size(), 0), static_cast<ssize_t>(frame.size()));
    std::vector<uint8_t> answer = ReadAnswer(fd);
    ASSERT_GE(answer.size(), 9u) << "request " << i;
    EXPECT_EQ(answer[0], frame[0]);
    EXPECT_EQ(answer[1], frame[1]);
    EXPECT_EQ(answer[7] & 0x7F, pdu[0] & 0x7F) << "request " << i;
    rig.Carry();
  }
  close(fd);
  ModbusClient client(rig.port());
  EXPECT_EQ(client.Registers(false, 0, 5).size(), 5u);
}

TEST(ModbusServer, APortInUseIsRefusedWithItsAddress) {
  Rig first("");
  ASSERT_TRUE(first.ok());
  ModbusConfig config;
  config.port = first.port();
  GateStore store("test", {});
  WriteQueue queue({}, {}, 1);
  GatewayModbusSource source(store, queue);
  ModbusServer second(config, source);
  std::string error;
  EXPECT_FALSE(second.Start(&error));
  EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(first.port())), std::string::npos) << error;
}

}  // namespace
}  // namespace zamgate
