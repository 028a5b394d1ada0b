// The gates of a Modbus rig (the tests of the Modbus server, the request
// fuzz target) given as rows of name, type and writability, and the parts
// the gateway builds from its gate list for them: the store's gate states,
// the write queue's gates, and what the Modbus map needs of each gate.
#ifndef ZAMKT_TESTS_SUPPORT_MODBUS_GATE_ROWS_H
#define ZAMKT_TESTS_SUPPORT_MODBUS_GATE_ROWS_H

#include <stddef.h>

#include <vector>

#include "zamgate/core/gate_store.h"
#include "zamgate/core/write_queue.h"
#include "zamgate/modbus/modbus_config.h"

namespace zamgate {

struct GateRow {
  const char *name;
  int type;
  bool writable;
};

struct GateRowParts {
  std::vector<GateState> states;
  std::vector<n2host::Gate> gates;
  std::vector<bool> writable;
  std::vector<ModbusGateInfo> infos;
};

template <size_t N>
GateRowParts PartsOfGateRows(const GateRow (&rows)[N]) {
  GateRowParts parts;
  for (const GateRow &row : rows) {
    GateState state;
    state.name = row.name;
    state.writable = row.writable;
    parts.states.push_back(state);
    n2host::Gate gate;
    gate.spec.name = row.name;
    gate.spec.type = row.type;
    gate.type = row.type;
    gate.valid = true;
    parts.gates.push_back(gate);
    parts.writable.push_back(row.writable);
    parts.infos.push_back({row.name, row.name, row.type, row.writable});
  }
  return parts;
}

}  // namespace zamgate

#endif  // ZAMKT_TESTS_SUPPORT_MODBUS_GATE_ROWS_H
