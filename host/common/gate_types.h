// The host's gate data types by the names the command line and gate lists
// use: int16, uint16, real, int32, digital, and auto (pick the type the point
// accepts).
#ifndef ZAMKT_HOST_COMMON_GATE_TYPES_H
#define ZAMKT_HOST_COMMON_GATE_TYPES_H

#include <optional>
#include <string>
#include <string_view>

#include "driver/requests.h"

namespace n2host {

// A gate data type of the driver (0, 1, 3, 5, 6), or kAutoType.
constexpr int kAutoType = -1;

// "int16", "uint16", "real", "int32", "digital" or "auto"; not case-sensitive.
// Empty gives auto. Nothing for any other name.
std::optional<int> GateTypeFromName(std::string_view name);

// The name of a gate data type; "type N" for a code without a name.
std::string GateTypeName(int type);

// The order in which auto tries the types on a gate: the first the driver's
// parse accepts is the gate's type. Each point accepts exactly one of them,
// except the 16-bit N2 Open regions, which take both integer types and get
// int16.
constexpr int kAutoTypeOrder[] = {kGateReal, kGateInt32, kGateInt16, kGateDigital, kGateUInt16};

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_GATE_TYPES_H
