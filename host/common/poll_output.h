// Where a poll's results go: the state of every gate after each request, the
// changes of the stations' states, and the driver's messages. zamhost shows
// them as a table, CSV or JSON lines; the gateway publishes them.
#ifndef ZAMKT_HOST_COMMON_POLL_OUTPUT_H
#define ZAMKT_HOST_COMMON_POLL_OUTPUT_H

#include <string>
#include <vector>

#include <chrono>

#include "host/common/driver_log.h"
#include "host/common/gate.h"
#include "host/common/port_recovery.h"
#include "host/common/station_health.h"
#include "host/common/value_text.h"

namespace n2host {

// The last state of one gate.
struct GateReading {
  bool hasValue = false;
  GateValue value;
  // "ok", "no reply", "bad reply", "waiting" (station demoted), "port lost"
  std::string status = "not read";
  std::string via;                   // "block N" or "single"
  std::string time;                  // when it was last read
  // When the read that gave this reading went out, and when it came back
  // (or the gate was marked): a value is stamped with its own read's time,
  // and a later user can tell a read that began before some other event.
  std::chrono::steady_clock::time_point startedAt{};
  std::chrono::system_clock::time_point readAt{};
  bool readThisCycle = false;
  // The last value read with status ok, kept while later reads fail: a
  // demoted station's gates show it with its age.
  bool hasLastGood = false;
  GateValue lastGood;
  std::string lastGoodTime;
  std::chrono::steady_clock::time_point lastGoodAt;
};

// Seconds since the reading's last good value; -1 when it has none.
double LastGoodAgeSeconds(const GateReading &reading);

struct CycleView {
  int cycle = 0;
  std::string time;
  const std::vector<Gate> *gates = nullptr;        // valid gates only
  const std::vector<GateReading> *readings = nullptr;
  const StationHealth *health = nullptr;
  const PortRecovery *port = nullptr;  // the port's state
  double durationMs = 0;               // how long the cycle's requests took
  int intervalMs = 0;                  // the interval the cycles should keep
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

// Local time with milliseconds and the offset, ISO 8601:
// "2024-05-01T14:03:07.123+02:00".
std::string TimeStamp();

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_POLL_OUTPUT_H
