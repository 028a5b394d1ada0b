// Whether the driver would send a write at all. Command 7 refuses some
// writes before its first frame: a read-only point, a real its encoder cannot
// put into the devices' 16-bit real, a schedule time past 1440 minutes, an N2
// Open input. A host that checks every write of a batch with WriteRefusal
// before it sends the first one never leaves a batch half written.
#ifndef ZAMKT_HOST_COMMON_WRITE_CHECK_H
#define ZAMKT_HOST_COMMON_WRITE_CHECK_H

#include <optional>
#include <string>

#include "host/common/gate.h"
#include "host/common/value_text.h"

namespace n2host {

// The largest integer part of a real that a System 91 device is sent.
constexpr double kLargestN2Real = 32750.0;

// Empty when the driver would send the write of value to gate; otherwise why
// not, in the user's terms ("001AI01AI is a read-only point"). Checks the
// gate's validity, read-only points, override tags (release only), the range
// of the value for the gate's type and meaning: reals (finite; System 91 at
// most 32750 in magnitude), 16-bit and byte values, digital 0/1, schedule
// times 0..1440, clock time 0..86399, clock date 1980-01-01..2038-12-31.
std::string WriteRefusal(const Gate &gate, const GateValue &value);

// What the user typed for the gate (nothing: an override release) read into
// *value and checked with WriteRefusal. False with the reason.
bool PrepareWrite(const Gate &gate, const std::optional<std::string> &text, GateValue *value, std::string *reason);

// True for a System 91 point that the device tables mark read-only (inputs,
// states, the clock's century and weekday, ...). N2 Open inputs count too.
bool IsReadOnlyPoint(const Gate &gate);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_WRITE_CHECK_H
