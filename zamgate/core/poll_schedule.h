// Poll classes: each gate is read at its class's interval ([poll] classes,
// e.g. fast = 1000, slow = 60000; a gate without a class at interval_ms).
// The gateway runs a cycle every tick (the shortest interval in use) and
// sends in it only the requests that are due. A request serves the gates of
// one class (blocks are planned within a class); a read shared by gates of
// two classes goes at the shorter interval. After the first cycle, which
// reads every gate, the requests of a slow class are spread over its
// interval, so that the fast gates' cycles stay short instead of one cycle
// in sixty reading every setpoint at once.
#ifndef ZAMKT_ZAMGATE_CORE_POLL_SCHEDULE_H
#define ZAMKT_ZAMGATE_CORE_POLL_SCHEDULE_H

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "host/common/gate.h"
#include "host/common/poll_plan.h"

namespace zamgate {

class PollSchedule {
 public:
  using Clock = std::chrono::steady_clock;

  // defaultMs: the interval of gates without a class; classes: name -> ms.
  PollSchedule(const std::vector<n2host::PollRequest> &plan, const std::vector<n2host::Gate> &gates, int defaultMs,
               const std::map<std::string, int> &classes);

  // The time between cycle starts.
  int tickMs() const { return tickMs_; }
  // True when any gate has a class of its own interval: otherwise every
  // request is due every cycle and the schedule need not be asked.
  bool active() const { return active_; }

  // Whether the request is due in the cycle that started at cycleStart; when
  // it is, it counts as sent then.
  bool TakeIfDue(size_t request, Clock::time_point cycleStart);

  // Per class ("" the default), the mean and the longest time between two
  // reads of its requests so far, in seconds, and the class's interval.
  struct ClassFigures {
    double intervalSeconds = 0;
    double meanPeriodSeconds = 0;
    double longestPeriodSeconds = 0;
    long periods = 0;
  };
  std::map<std::string, ClassFigures> Figures() const;

  // The Prometheus text of Figures.
  std::string MetricsText(const std::string &gatewayId) const;

 private:
  struct Entry {
    std::string pollClass;
    int intervalMs = 0;
    size_t rank = 0;   // its place among its class's requests
    size_t of = 1;     // how many its class has
    bool sent = false;
    long sends = 0;
    Clock::time_point lastSent{};
    Clock::time_point nextDue{};
  };
  std::vector<Entry> entries_;
  int tickMs_ = 1000;
  bool active_ = false;
  mutable std::mutex mutex_;
  std::map<std::string, ClassFigures> figures_;  // sums until Figures() divides
  std::map<std::string, double> periodSums_;
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_CORE_POLL_SCHEDULE_H
