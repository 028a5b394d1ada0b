// Gate values as Modbus registers and bits, and back. A real is an IEEE 754
// single in two registers, an int32 two registers of two's complement, an
// int16 or uint16 one register, a digital gate one bit. The configured word
// order says which half of a two-register value comes first; within a
// register the high byte always comes first. Pure: no I/O, no locks.
#ifndef ZAMKT_ZAMGATE_MODBUS_VALUES_H
#define ZAMKT_ZAMGATE_MODBUS_VALUES_H

#include <stdint.h>

#include <string>

#include "host/common/value_text.h"
#include "zamgate/modbus/modbus_config.h"

namespace zamgate {

// Registers of a value of this gate type: words[0] goes to the entry's first
// address. Returns how many (1 or 2).
int EncodeRegisters(const n2host::GateValue &value, int type, WordOrder order, uint16_t words[2]);

// The value that registers written by a client stand for. False, with the
// reason, for a value no gate of the type can hold (a real that is not a
// finite number).
bool DecodeRegisters(int type, WordOrder order, const uint16_t *words, n2host::GateValue *value, std::string *why);

// A digital gate's bit, and a bit as a digital gate's value.
bool EncodeBit(const n2host::GateValue &value);
n2host::GateValue DecodeBit(bool on);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_MODBUS_VALUES_H
