// One poll of a gate list: the plan of requests (poll_plan.h), cycles that
// send them through the driver, the station health that keeps silent
// stations from stalling a cycle, and the readings the output shows after
// every cycle. zamhost poll runs it, the gateway runs it for ever, and the
// poll benchmark times its cycles.
#ifndef ZAMKT_HOST_COMMON_POLLER_H
#define ZAMKT_HOST_COMMON_POLLER_H

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "host/common/channel.h"
#include "host/common/gate.h"
#include "host/common/poll_output.h"
#include "host/common/poll_plan.h"
#include "host/common/port_recovery.h"
#include "host/common/station_health.h"

namespace n2host {

struct PollSettings {
  int intervalMs = 1000;   // from the start of one cycle to the start of the next
  int cycles = 0;          // 0: until stopped
  bool blocks = true;      // group consecutive gates into block reads
  int demoteAfter = 3;     // replies missed in a row that demote a station
  int retryEvery = 5;      // a demoted station is polled every so many cycles
  BackOff reopen;          // waits between reopens of a lost port
};

class Poller {
 public:
  // gates: valid gates only. stop, once set (by a signal handler), ends the
  // poll after the request in progress. A request that finds the port gone
  // ends its cycle; the gates show "port lost" until a reopen succeeds.
  Poller(Channel &channel, std::vector<Gate> gates, const PollSettings &options, PollOutput &output,
         const std::atomic<bool> &stop);

  // The whole poll: the plan, a cycle every interval until stop or the
  // number of cycles, then the per-station totals.
  void Run();

  // The port could not be opened at start (Channel::OpenOrWait): the poll
  // begins with it lost and reopens it with the usual back-off.
  void StartWithPortMissing(const std::string &reason);

  // The steps of Run, for a caller that paces the cycles itself.
  void Start();              // shows the plan
  void RunCycle(int cycle);  // every request due in this cycle, then the cycle's output
  void Finish();             // the per-station totals after the last cycle run

  const std::vector<PollRequest> &plan() const { return plan_; }
  // The port's state: open, or lost and being reopened.
  PortStatus port() const { return port_.status(); }
  const StationHealth &health() const { return health_; }
  const std::vector<GateReading> &readings() const { return readings_; }
  const std::vector<Gate> &gates() const { return gates_; }

  // Which requests a cycle sends (the gateway's poll classes): false leaves
  // a request out of this cycle, its gates keeping their state. Without a
  // filter every request is sent every cycle.
  void SetRequestFilter(std::function<bool(size_t request)> due) { requestFilter_ = std::move(due); }

  // Work the caller does on the poll's thread between two requests and while
  // the poll waits for its next cycle (the gateway's queued writes): the
  // driver takes one request at a time, so it is done here and nowhere else.
  void SetBetweenRequests(std::function<void()> work) { betweenRequests_ = std::move(work); }
  // Sees every request the poll sent once its gates' readings hold the
  // result: its status and how long the driver took (the gateway publishes
  // each value as soon as it is read, not at the cycle's end).
  using RequestObserver = std::function<void(const PollRequest &, int32_t status, std::chrono::nanoseconds took,
                                             const std::vector<GateReading> &readings)>;
  void SetRequestObserver(RequestObserver observer) { requestObserver_ = std::move(observer); }

 private:
  CycleView View(int cycle, const std::string &time) const;
  void Mark(const PollRequest &request, const std::string &status);
  static std::string ViaOf(const PollRequest &request);
  // Sends the request; false when it found the port lost.
  bool Execute(const PollRequest &request, int cycle);
  // While the port is lost: a reopen when due; true once it is open.
  bool PortReady();
  void SleepUntil(std::chrono::steady_clock::time_point deadline) const;

  Channel &channel_;
  std::vector<Gate> gates_;
  std::function<bool(size_t)> requestFilter_;
  const PollSettings &options_;
  PollOutput &output_;
  const std::atomic<bool> &stop_;
  StationHealth health_;
  PortRecovery port_;
  std::vector<GateReading> readings_;
  std::vector<PollRequest> plan_;
  int lastCycle_ = 0;
  double lastDurationMs_ = 0;
  std::function<void()> betweenRequests_;
  RequestObserver requestObserver_;
};

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_POLLER_H
