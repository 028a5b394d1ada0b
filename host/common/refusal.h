// A station's refusal of a read, told from the driver's messages: the
// System 91 negative acknowledgement ("Read failed! ErrorCode 10 H ") and
// the N2 Open one ("...: Invalid Data (Point doesn't exist)"). A definite
// refusal (the station has no such point, or not of that kind) is the
// station's answer, not a line fault: showing it once, with its reason, says
// all there is.
#ifndef ZAMKT_HOST_COMMON_REFUSAL_H
#define ZAMKT_HOST_COMMON_REFUSAL_H

#include <string>
#include <vector>

#include "host/common/driver_log.h"

namespace n2host {

struct Refusal {
  bool refused = false;   // the station answered with a negative acknowledgement
  bool definite = false;  // the point is not there (code 10) or not of that kind (code 11)
  int code = -1;          // the System 91 error code, -1 when the text names none
  std::string reason;     // "no such point (N2 error 10)"
};

// The refusal among the messages of one read; refused false when there is none.
Refusal RefusalOf(const std::vector<DriverMessage> &messages);

// Runs of identical messages as one, the count behind it: five attempts that
// each got the same refusal are one line "... (5 times)".
std::vector<DriverMessage> CollapseRepeats(const std::vector<DriverMessage> &messages);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_REFUSAL_H
