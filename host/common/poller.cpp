#include "host/common/poller.h"

#include <time.h>

#include <algorithm>
#include <chrono>


namespace n2host {

Poller::Poller(Channel &channel, std::vector<Gate> gates, const PollSettings &options, PollOutput &output,
               const std::atomic<bool> &stop)
    : channel_(channel),
      gates_(std::move(gates)),
      options_(options),
      output_(output),
      stop_(stop),
      health_(options.demoteAfter, options.retryEvery),
      port_(channel, channel.options().port, channel.options().timeoutMs, options.reopen),
      readings_(gates_.size()) {
  plan_ = PlanPoll(gates_, options.blocks);
  for (const Gate &gate : gates_) health_.Add(gate.station);
}

void Poller::Run() {
  Start();
  auto next = std::chrono::steady_clock::now();
  for (int cycle = 1; !stop_ && (options_.cycles == 0 || cycle <= options_.cycles); ++cycle) {
    next += std::chrono::milliseconds(options_.intervalMs);
    RunCycle(cycle);
    if (options_.cycles != 0 && cycle == options_.cycles) break;
    if (std::chrono::steady_clock::now() > next) next = std::chrono::steady_clock::now();
    SleepUntil(next);
  }
  Finish();
}

void Poller::StartWithPortMissing(const std::string &reason) {
  port_.StartLost(reason);
  output_.Event(TimeStamp(), port_.event());
}

void Poller::Start() { output_.Start(DescribePlan(plan_, gates_)); }

void Poller::Finish() { output_.Finish(View(lastCycle_, TimeStamp())); }

// Waits until the deadline or a stop request.
void Poller::SleepUntil(std::chrono::steady_clock::time_point deadline) const {
  while (!stop_) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return;
    if (betweenRequests_) {
      betweenRequests_();
      now = std::chrono::steady_clock::now();
      if (now >= deadline) return;
    }
    auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    timespec pause = {0, static_cast<long>(std::min<long long>(rest, 50)) * 1000000L};
    nanosleep(&pause, nullptr);
  }
}

CycleView Poller::View(int cycle, const std::string &time) const {
  CycleView view;
  view.cycle = cycle;
  view.time = time;
  view.gates = &gates_;
  view.readings = &readings_;
  view.health = &health_;
  view.port = &port_;
  view.durationMs = lastDurationMs_;
  view.intervalMs = options_.intervalMs;
  return view;
}

bool Poller::PortReady() {
  if (!port_.lost()) return true;
  if (!port_.TryReopen()) return false;
  output_.Event(TimeStamp(), port_.event());
  // N2 Open stations restarted with the line: initialise them again now,
  // so that their next read is not refused once.
  std::vector<int32_t> initialised;
  for (const Gate &gate : gates_) {
    if (!gate.meaning.n2open) continue;
    if (std::find(initialised.begin(), initialised.end(), gate.station) != initialised.end()) continue;
    initialised.push_back(gate.station);
    channel_.WarmStart(gate.station);
  }
  return true;
}

void Poller::RunCycle(int cycle) {
  for (GateReading &reading : readings_) reading.readThisCycle = false;
  const auto started = std::chrono::steady_clock::now();
  std::string cycleTime = TimeStamp();
  bool portOpen = PortReady();
  size_t i = 0;
  while (i < plan_.size()) {
    const int32_t station = plan_[i].station;
    size_t end = i;
    while (end < plan_.size() && plan_[end].station == station) ++end;
    const bool due = health_.Due(station, cycle);
    bool sent = false;
    for (; i < end; ++i) {
      if (!portOpen) {
        Mark(plan_[i], "port lost");
        continue;
      }
      // Stopped: the gates keep their last cycle's state and are not shown.
      if (stop_) continue;
      // A demoted station gets one request on its cycles: more only once it answers.
      if (!due || (health_.Demoted(station) && sent)) {
        Mark(plan_[i], "waiting");
        continue;
      }
      if (requestFilter_ && !requestFilter_(i)) continue;
      if (betweenRequests_) {
        betweenRequests_();
        if (stop_) continue;
      }
      portOpen = Execute(plan_[i], cycle);
      sent = true;
    }
  }
  lastCycle_ = cycle;
  lastDurationMs_ = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  output_.Cycle(View(cycle, cycleTime));
}

void Poller::Mark(const PollRequest &request, const std::string &status) {
  std::string time = TimeStamp();
  const auto steadyNow = std::chrono::steady_clock::now();
  const auto wallNow = std::chrono::system_clock::now();
  for (int index : request.gates) {
    GateReading &reading = readings_[index];
    reading.startedAt = steadyNow;
    reading.readAt = wallNow;
    reading.status = status;
    reading.hasValue = false;
    reading.readThisCycle = true;
    reading.time = time;
    reading.via = ViaOf(request);
  }
}

std::string Poller::ViaOf(const PollRequest &request) {
  return request.block ? "block " + std::to_string(request.blockNumber) : "single";
}

bool Poller::Execute(const PollRequest &request, int cycle) {
  ValueBuffer buffer;
  const Gate &leader = gates_[request.leader];
  const auto started = std::chrono::steady_clock::now();
  int32_t status = request.block ? channel_.BlockRead(leader, request.items, &buffer) : channel_.Read(leader, &buffer);
  const auto elapsed = std::chrono::steady_clock::now() - started;
  const auto returnedAt = std::chrono::system_clock::now();
  std::string time = TimeStamp();
  if (port_.Observe(status, elapsed)) {
    // Not the station's fault: its health and demotion are left alone.
    output_.Event(time, port_.event());
    Mark(request, "port lost");
    return false;
  }
  std::string change =
      health_.Record(request.station, cycle, status, std::chrono::duration<double, std::milli>(elapsed).count(), time);
  if (!change.empty()) output_.Event(time, change);
  for (int index : request.gates) {
    GateReading &reading = readings_[index];
    reading.readThisCycle = true;
    reading.time = time;
    reading.startedAt = started;
    reading.readAt = returnedAt;
    reading.via = ViaOf(request);
    reading.status = StatusWord(status);
    reading.hasValue = status == 0;
    if (status != 0) continue;
    const Gate &gate = gates_[index];
    reading.value = request.block ? buffer.Item(gate.type, gate.element - request.firstAddress)
                                  : buffer.Single(gate.type);
    reading.hasLastGood = true;
    reading.lastGood = reading.value;
    reading.lastGoodTime = time;
    reading.lastGoodAt = std::chrono::steady_clock::now();
  }
  if (requestObserver_) requestObserver_(request, status, elapsed, readings_);
  return true;
}

}  // namespace n2host
