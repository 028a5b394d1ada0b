// What a device keeps when it applies a write, as a read gives it back:
// System 91 reals in the 16-bit N2 real (21.7 is kept as 21.6875), schedule
// time 24:00 as 23:59, day digits through the day mask (12345 reads back as
// 9), bits as 0 or 1, byte objects as their low byte. write --verify compares
// the read-back with this, not with the number the user typed.
#ifndef ZAMKT_HOST_COMMON_STORED_VALUE_H
#define ZAMKT_HOST_COMMON_STORED_VALUE_H

#include "host/common/point_meaning.h"
#include "host/common/value_text.h"

namespace n2host {

// The value a read returns after the device applied a write of `written`.
GateValue StoredValue(const PointMeaning &meaning, const GateValue &written);

// True when readBack is what the device keeps for the write. Reals of System
// 91 points may differ by one step of the N2 real at that magnitude.
bool WriteApplied(const PointMeaning &meaning, const GateValue &written, const GateValue &readBack);

// The N2 real a System 91 device keeps for a host real: the devices' encoder
// works on the decimal digits (integer part and four decimals, truncated).
// False for values whose integer part is above 32750 (the driver refuses them).
bool N2RealOf(float value, double *stored, double *step);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_STORED_VALUE_H
