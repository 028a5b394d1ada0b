// The value buffer of a read or write request, laid out as the driver reads
// and fills it: a 16-bit value (integer or digital gate) at byte offset 2, a
// real or a 32-bit integer at offset 0, and in block reads one real or 32-bit
// integer per item at offsets 0, 4, 8, ...
#ifndef ZAMKT_HOST_COMMON_VALUE_BUFFER_H
#define ZAMKT_HOST_COMMON_VALUE_BUFFER_H

#include <stdint.h>

#include "host/common/value_text.h"

namespace n2host {

// The most items one block read carries.
constexpr int kMaxBlockItems = 32;

struct ValueBuffer {
  alignas(8) uint8_t bytes[kMaxBlockItems * 4] = {};

  // The value of a single gate of the type.
  GateValue Single(int type) const;
  // Item i of a block read of reals or 32-bit integers.
  GateValue Item(int type, int index) const;
  // Puts a value for a write where the driver takes it from.
  void Store(const GateValue &value);
};

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_VALUE_BUFFER_H
