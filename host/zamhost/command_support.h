// Steps that several commands share: starting the channel, collecting the
// gates, and turning the driver's status codes into words and exit codes.
#ifndef ZAMKT_HOST_ZAMHOST_COMMAND_SUPPORT_H
#define ZAMKT_HOST_ZAMHOST_COMMAND_SUPPORT_H

#include <stdint.h>

#include <string>
#include <vector>

#include "host/common/channel.h"
#include "host/common/gate.h"
#include "host/zamhost/session.h"

namespace zamhost {

using namespace n2host;

// Opens the channel. False after printing why, with the exit code in *code.
bool OpenChannel(Channel &channel, const ChannelOptions &options, int *code);

// Gates from gate lists and GAS[:TYPE] items. False after printing why.
bool LoadGates(const std::vector<std::string> &arguments, std::vector<GateSpec> *specs,
               const GateListOptions &listOptions = {});

// Prints an invalid gate and the reasons on standard error.
void ReportInvalidGate(const Gate &gate);

// The exit code of a read or write status: 0, kExitFailed or kExitNoReply.
int ExitCodeOfStatus(int32_t status);

// What a user can do about a failed read or write of the gate.
std::string FailureAdvice(const Gate &gate, int32_t status, const ChannelOptions &options);

// Where the gate lies: "@1217", "@44 bit 0", "schedule item 5", "clock item 5",
// "AO object 12", "AO object 12 override".
std::string GateLocation(const Gate &gate);

// "number", "digital", "schedule time", ...
std::string KindName(PointKind kind);

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_COMMAND_SUPPORT_H
