// Where a poll's results go: the state of every gate after each request, the
// changes of the stations' states, and the driver's messages. zamhost shows
// them as a table, CSV or JSON lines; the gateway publishes them.
#ifndef ZAMKT_HOST_COMMON_POLL_OUTPUT_H
#define ZAMKT_HOST_COMMON_POLL_OUTPUT_H

#include <string>
#include <vector>

#include "host/common/driver_log.h"
#include "host/common/gate.h"
#include "host/common/station_health.h"
#include "host/common/value_text.h"

namespace n2host {

// The last state of one gate.
struct GateReading {
  bool hasValue = false;
  GateValue value;
  std::string status = "not read";  // "ok", "no reply", "bad reply", "waiting" (station demoted)
  std::string via;                   // "block N" or "single"
  std::string time;                  // when it was last read
  bool readThisCycle = false;
};

struct CycleView {
  int cycle = 0;
  std::string time;
  const std::vector<Gate> *gates = nullptr;        // valid gates only
  const std::vector<GateReading> *readings = nullptr;
  const StationHealth *health = nullptr;
};

class PollOutput {
 public:
  virtual ~PollOutput() = default;
  // The plan's description, before the first cycle.
  virtual void Start(const std::vector<std::string> &planLines) = 0;
  virtual void Cycle(const CycleView &view) = 0;
  // A change of a station's state.
  virtual void Event(const std::string &time, const std::string &text) = 0;
  // A driver message that the output shows itself; false when it leaves the
  // message to the usual way (standard error).
  virtual bool Message(const DriverMessage &message) = 0;
  // After the last cycle: the per-station totals.
  virtual void Finish(const CycleView &view) = 0;
};

// Local time with milliseconds, ISO 8601: "2024-05-01T14:03:07.123+02:00".
std::string TimeStamp();

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_POLL_OUTPUT_H
