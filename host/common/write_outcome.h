// What became of a write (command 7), told from the driver's status and the
// messages it logged for the request. Status 1 alone cannot tell a write the
// driver refused before sending anything from one the station refused with a
// negative acknowledgement; the driver's messages can.
#ifndef ZAMKT_HOST_COMMON_WRITE_OUTCOME_H
#define ZAMKT_HOST_COMMON_WRITE_OUTCOME_H

#include <stdint.h>

#include <string>
#include <vector>

#include "host/common/driver_log.h"

namespace n2host {

enum class WriteResult {
  kWritten,          // acknowledged by the station
  kDriverRefused,    // the driver sent nothing: its checks refused the request
  kStationRefused,   // the station answered with a negative acknowledgement
  kBadReply,         // a reply that was neither an acknowledgement nor a refusal
  kNoReply           // no reply within the time-out, on every attempt
};

struct WriteOutcome {
  WriteResult result = WriteResult::kWritten;
  // "written", "refused by the driver before sending: <its message>",
  // "the station refused (N-code 03)", "the station refused (<N2 Open
  // error text>)", "bad reply: <the driver's message>", "no reply".
  std::string text;
  // The driver's message that gives the reason ("" when none).
  std::string reason;
};

// Judges a write from its status (0, 1 or 2) and the messages the driver
// logged for it (Channel::lastMessages()).
WriteOutcome ClassifyWrite(int32_t status, const std::vector<DriverMessage> &messages);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_WRITE_OUTCOME_H
