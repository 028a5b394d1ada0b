// Each station's recent response times and its last reply, from the requests
// the poll sends: the median and 95th percentile of the last 100 requests
// that got a reply.
#ifndef ZAMKT_ZAMGATE_STATION_TIMES_H
#define ZAMKT_ZAMGATE_STATION_TIMES_H

#include <stdint.h>

#include <deque>
#include <map>
#include <mutex>

#include "zamgate/gate_store.h"

namespace zamgate {

class StationTimes {
 public:
  // status: the driver's; a request without reply (2) has no response time.
  void Record(int32_t station, int32_t status, double milliseconds);
  // Fills the station's median, 95th percentile and last reply.
  void Fill(StationState *state) const;

 private:
  struct Times {
    std::deque<double> recent;
    WallClock::time_point lastReply{};
  };
  mutable std::mutex mutex_;
  std::map<int32_t, Times> stations_;
};

// The q-quantile (0..1) of the values, nearest rank; nothing for none.
std::optional<double> Quantile(std::deque<double> values, double q);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_STATION_TIMES_H
