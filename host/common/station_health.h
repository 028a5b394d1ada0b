// Per-station bookkeeping of a poll: requests and failures, and demotion. A
// station that gave no reply to several requests in a row is demoted: it is
// polled only every few cycles, and then with one request, until it answers
// again. One dead station thus costs one request's time-outs (five attempts
// in the driver) every few cycles instead of stalling every cycle.
#ifndef ZAMKT_HOST_COMMON_STATION_HEALTH_H
#define ZAMKT_HOST_COMMON_STATION_HEALTH_H

#include <stdint.h>

#include <map>
#include <string>

namespace n2host {

struct StationStats {
  int requests = 0;   // requests sent to the driver for the station
  int failures = 0;   // of those, the ones that did not return 0
  int silentInARow = 0;
  bool demoted = false;
  int demotedInCycle = 0;
};

class StationHealth {
 public:
  // demoteAfter: replies missed in a row that demote a station (at least 1);
  // retryEvery: a demoted station is polled every so many cycles (at least 1).
  StationHealth(int demoteAfter, int retryEvery);

  // Whether the station is polled in this cycle (cycles count from 1).
  bool Due(int32_t station, int cycle) const;
  bool Demoted(int32_t station) const;

  // Records one request's status (0 done, 1 bad reply, 2 no reply). Returns
  // the change of the station's state in words, or "" when it did not change.
  std::string Record(int32_t station, int cycle, int32_t status);

  const std::map<int32_t, StationStats> &stations() const { return stations_; }
  // Makes sure the station appears in the statistics.
  void Add(int32_t station) { stations_[station]; }

 private:
  int demoteAfter_;
  int retryEvery_;
  std::map<int32_t, StationStats> stations_;
};

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_STATION_HEALTH_H
