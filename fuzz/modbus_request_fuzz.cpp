// A Modbus TCP frame as zamgate's server hands it on: the request handler
// over the gateway's own write checks (GatewayModbusSource and the write
// queue) and a map of every table, for any bytes after the MBAP header.
//
// Input:
//   0      settings: bit 0 little-endian word order, bit 1 answer writes when done
//   1...   the frame (MBAP header and PDU)
// The checks: the decision is a reply, an exception with a Modbus exception
// code, or writes queued; nothing is queued but whole values of writable
// gates; a read answers from the scratch mapping within its size.
#include <stdio.h>

#include <memory>
#include <string>
#include <toml++/toml.h>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "tests/support/modbus_gate_rows.h"
#include "zamgate/core/gate_store.h"
#include "zamgate/modbus/modbus_config.h"
#include "zamgate/modbus/modbus_gateway_source.h"
#include "zamgate/modbus/modbus_requests.h"
#include "zamgate/core/write_queue.h"

namespace {

using namespace zamgate;

constexpr GateRow kGates[] = {
    {"temp", kGateReal, false},    {"count", kGateInt32, false}, {"raw", kGateUInt16, false},
    {"setpoint", kGateReal, true}, {"total", kGateInt32, true},  {"offset", kGateInt16, true},
    {"fan", kGateDigital, true},   {"alarm", kGateDigital, false},
};

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
gate = "alarm"
table = "discrete_input"
address = 0
[[modbus.map]]
gate = "fan"
table = "discrete_input"
address = 1
)";

struct Rig {
  explicit Rig(int settings) {
    const GateRowParts parts = PartsOfGateRows(kGates);
    store = std::make_unique<GateStore>("fuzz", parts.states);
    queue = std::make_unique<WriteQueue>(parts.gates, parts.writable, 4);
    std::string text = std::string("[modbus]\nlisten = \"127.0.0.1:0\"\n") +
                       ((settings & 1) ? "word_order = \"little\"\n" : "") +
                       ((settings & 2) ? "reply_writes = \"done\"\n" : "") + kMap;
    toml::table root = toml::parse(text, std::string("fuzz.toml"));
    std::string error;
    FUZZ_CHECK(ReadModbusSection(root, "fuzz.toml", parts.infos, &config, &error), "the map: %s", error.c_str());
    source = std::make_unique<GatewayModbusSource>(*store, *queue);
    handler = std::make_unique<ModbusRequestHandler>(config, *source);
  }
  ModbusConfig config;
  std::unique_ptr<GateStore> store;
  std::unique_ptr<WriteQueue> queue;
  std::unique_ptr<GatewayModbusSource> source;
  std::unique_ptr<ModbusRequestHandler> handler;
};

bool IsModbusException(uint8_t code) { return code == 1 || code == 2 || code == 3 || code == 4 || code == 6 || code == 0x0A || code == 0x0B; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  static Rig *rigs[4] = {new Rig(0), new Rig(1), new Rig(2), new Rig(3)};
  Rig &rig = *rigs[data[0] & 3];
  const int length = static_cast<int>(size - 1);
  // The server's own copy: Handle may read the whole frame, no further.
  std::unique_ptr<uint8_t[]> frame(new uint8_t[size]);
  memcpy(frame.get(), data + 1, size - 1);
  RequestDecision decision = rig.handler->Handle(length > 0 ? frame.get() : nullptr, length, [](WriteCompletion) {},
                                                 "127.0.0.1:1");
  switch (decision.kind) {
    case RequestDecision::kReply:
      break;
    case RequestDecision::kException:
      FUZZ_CHECK(IsModbusException(decision.exception), "exception code %d", decision.exception);
      break;
    case RequestDecision::kAfterWrites:
      FUZZ_CHECK(rig.config.writeReply == WriteReply::kWhenDone, "an answer after the writes, though not configured");
      break;
    default:
      FUZZ_CHECK(false, "decision %d", static_cast<int>(decision.kind));
  }
  // Every queued write is of a writable gate; the queue is emptied for the next input.
  while (std::optional<QueuedWrite> write = rig.queue->Take()) {
    FUZZ_CHECK(kGates[write->gateIndex].writable, "a write of read-only gate %s queued", kGates[write->gateIndex].name);
  }
  return 0;
}
