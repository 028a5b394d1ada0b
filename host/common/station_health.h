// Per-station bookkeeping of a poll: requests and failures, and demotion. A
// station that gave no reply to several requests in a row is demoted: it is
// polled only every few cycles, and then with one request, until it answers
// again. One dead station thus costs one request's time-outs (five attempts
// in the driver) every few cycles instead of stalling every cycle.
#ifndef ZAMKT_HOST_COMMON_STATION_HEALTH_H
#define ZAMKT_HOST_COMMON_STATION_HEALTH_H

#include <stdint.h>

#include <deque>
#include <map>
#include <string>

namespace n2host {

struct StationStats {
  int requests = 0;   // requests sent to the driver for the station
  int failures = 0;   // of those, the ones that did not return 0
  int silentInARow = 0;
  bool demoted = false;
  int demotedInCycle = 0;
  // Response times of the requests that got a reply (good or refused), in
  // milliseconds, the latest kResponseWindow of them.
  std::deque<double> responseMs;
  std::string lastReply;  // time stamp of the last reply; "" when none yet
};

// How many response times a station keeps for its percentiles.
constexpr size_t kResponseWindow = 1000;

// Share of requests that returned 0, from 0 to 1; 0 when none was sent.
double GoodShare(const StationStats &stats);
// The p-th percentile (0..100) of the kept response times, nearest rank;
// -1 when there are none.
double ResponsePercentileMs(const StationStats &stats, double p);
// "98.5% good, median 12 ms, p95 40 ms, last reply 2024-05-01T14:03:07.123Z",
// or the parts known so far.
std::string DescribeStats(const StationStats &stats);

class StationHealth {
 public:
  // demoteAfter: replies missed in a row that demote a station (at least 1);
  // retryEvery: a demoted station is polled every so many cycles (at least 1).
  StationHealth(int demoteAfter, int retryEvery);

  // Whether the station is polled in this cycle (cycles count from 1).
  bool Due(int32_t station, int cycle) const;
  bool Demoted(int32_t station) const;

  // Records one request's status (0 done, 1 bad reply, 2 no reply), how long
  // it took and when it ended. Returns the change of the station's state in
  // words, or "" when it did not change.
  std::string Record(int32_t station, int cycle, int32_t status, double elapsedMs = -1,
                     const std::string &time = "");

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
