// The [modbus] section of the gateway's configuration: where the Modbus TCP
// server listens, its unit id, how it answers for a gate whose value is not
// good and when it answers a write, and the register map, which gives each
// mapped gate a table and an address. Loading refuses a map that cannot work
// (overlapping or out-of-range addresses, a type that does not fit its table,
// a writable table for a gate the configuration does not let be written) with
// "FILE:LINE: reason".
#ifndef ZAMKT_ZAMGATE_MODBUS_CONFIG_H
#define ZAMKT_ZAMGATE_MODBUS_CONFIG_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include <toml++/toml.h>

#include "host/common/gate_list.h"

namespace zamgate {

// The four Modbus data tables.
enum class ModbusTable { kCoil, kDiscreteInput, kHoldingRegister, kInputRegister };

// "coil", "discrete_input", "holding", "input": the names the configuration
// and the printed map use.
const char *ModbusTableName(ModbusTable table);
bool ModbusTableIsBits(ModbusTable table);
bool ModbusTableIsWritable(ModbusTable table);

// The order of the two registers of a 32-bit value (reals and int32). Each
// register itself is always sent high byte first.
enum class WordOrder {
  kHighWordFirst,  // "big": the register at the lower address holds the high half
  kLowWordFirst,   // "little"
};

// The answer for a gate whose value is not good (stale or failed).
enum class NotGoodAnswer {
  kLastGood,   // the last good value; the exception when there never was one
  kException,  // exception 0x0B, gateway target device failed to respond
};

// When a write is answered.
enum class WriteReply {
  kWhenQueued,  // as soon as it is checked and queued
  kWhenDone,    // once the station has taken it and it has been read back
};

// One gate's place in the map.
struct ModbusMapEntry {
  size_t gate = 0;  // index in the gateway's gate list
  ModbusTable table = ModbusTable::kHoldingRegister;
  uint16_t address = 0;  // the first, as sent on the wire (0-based)
  int words = 1;         // registers (or bits) it takes: 1 or 2
  int type = 0;          // the gate data type
  std::string origin;    // "FILE:LINE", for messages
};

struct ModbusConfig {
  bool enabled = false;  // a [modbus] section is present
  std::string address = "127.0.0.1";
  int port = 1502;  // 0: any free port (tests)
  int unitId = 1;
  WordOrder wordOrder = WordOrder::kHighWordFirst;
  NotGoodAnswer notGood = NotGoodAnswer::kLastGood;
  WriteReply writeReply = WriteReply::kWhenQueued;
  int maxClients = 8;
  int idleTimeoutMs = 60000;     // a client silent this long is dropped
  int writeDoneTimeoutMs = 10000;  // kWhenDone: the longest a reply waits
  std::vector<ModbusMapEntry> map;
};

// What the map needs to know of each configured gate.
struct ModbusGateInfo {
  std::string name;
  std::string gas;
  int type = -1;  // gate data type; -1 (auto) cannot be mapped
  bool writable = false;
};

// Reads the [modbus] table of a parsed configuration, if there is one.
// False with "FILE:LINE: reason" (or "FILE: reason").
bool ReadModbusSection(const toml::table &root, const std::string &fileName, const std::vector<ModbusGateInfo> &gates,
                       ModbusConfig *config, std::string *error);

// The map for the integrator, as CSV ordered by table and address:
// address,table,gate,gas,type,words,writable (writable: the gate can be
// written through this table).
// metas: the gates' unit, limits and description, one per gate, when known.
std::string ModbusMapCsv(const ModbusConfig &config, const std::vector<ModbusGateInfo> &gates,
                         const std::vector<n2host::GateMeta> &metas = {});

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_MODBUS_CONFIG_H
