// Gates through the driver's parser: command 3 with the gate's type, or with
// each type in turn for auto; command 4 for block-read eligibility.
#ifndef ZAMKT_HOST_COMMON_GATE_RESOLVER_H
#define ZAMKT_HOST_COMMON_GATE_RESOLVER_H

#include <vector>

#include "host/common/channel.h"
#include "host/common/gate.h"
#include "host/common/gate_list.h"

namespace n2host {

// Parses the gate. For auto, the first type of kAutoTypeOrder that command 3
// accepts; the refused tries leave no message. An invalid gate carries the
// driver's messages, or, for a type the point does not take (the driver says
// nothing then), zamhost's own naming the type it does take.
Gate ResolveGate(Channel &channel, const GateSpec &spec);

// Resolves every gate and asks command 4 about each valid one.
std::vector<Gate> ResolveGates(Channel &channel, const std::vector<GateSpec> &specs);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_GATE_RESOLVER_H
