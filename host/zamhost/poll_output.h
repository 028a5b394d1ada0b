// How a poll shows its results: a table that refreshes in place on a
// terminal (and is printed once per cycle otherwise), CSV rows, or JSON
// lines, each with time stamps, the status of every gate and the requests
// and failures of every station.
#ifndef ZAMKT_HOST_ZAMHOST_POLL_OUTPUT_H
#define ZAMKT_HOST_ZAMHOST_POLL_OUTPUT_H

#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "host/zamhost/driver_log.h"
#include "host/zamhost/gate.h"
#include "host/zamhost/station_health.h"
#include "host/zamhost/value_text.h"

namespace zamhost {

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

enum class PollFormat { kTable, kCsv, kJson };

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

// terminal: standard output is a terminal (the table refreshes in place).
std::unique_ptr<PollOutput> MakePollOutput(PollFormat format, FILE *out, bool terminal);

// Local time with milliseconds, ISO 8601: "2024-05-01T14:03:07.123+02:00".
std::string TimeStamp();

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string &text);
// A JSON string literal.
std::string JsonString(const std::string &text);

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_POLL_OUTPUT_H
