// zamhost poll: reads a gate list every interval, in block reads where the
// gates allow, until Ctrl-C or --cycles; demotes stations that stop
// answering so that they do not stall the cycle.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "host/zamhost/command_support.h"
#include "host/zamhost/commands.h"
#include "host/zamhost/exit_codes.h"
#include "host/zamhost/gate_resolver.h"
#include "host/zamhost/poll_plan.h"

namespace zamhost {
namespace {

std::atomic<bool> g_stop{false};

void RequestStop(int) { g_stop = true; }

// Installs the Ctrl-C (and SIGTERM) handler for the poll's lifetime. A
// request in progress finishes (the driver retries through interrupted waits);
// the poll stops before the next one.
class StopSignals {
 public:
  StopSignals() {
    g_stop = false;
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
  }

 private:
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
};

// Waits until the deadline or a stop request.
void SleepUntil(std::chrono::steady_clock::time_point deadline) {
  while (!g_stop) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return;
    auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    timespec pause = {0, static_cast<long>(std::min<long long>(rest, 50)) * 1000000L};
    nanosleep(&pause, nullptr);
  }
}

class Poller {
 public:
  Poller(Channel &channel, std::vector<Gate> gates, const PollOptions &options, PollOutput &output)
      : channel_(channel),
        gates_(std::move(gates)),
        options_(options),
        output_(output),
        health_(options.demoteAfter, options.retryEvery),
        readings_(gates_.size()) {
    plan_ = PlanPoll(gates_, options.blocks);
    for (const Gate &gate : gates_) health_.Add(gate.station);
  }

  void Run() {
    output_.Start(DescribePlan(plan_, gates_));
    auto next = std::chrono::steady_clock::now();
    for (int cycle = 1; !g_stop && (options_.cycles == 0 || cycle <= options_.cycles); ++cycle) {
      next += std::chrono::milliseconds(options_.intervalMs);
      RunCycle(cycle);
      lastCycle_ = cycle;
      if (options_.cycles != 0 && cycle == options_.cycles) break;
      if (std::chrono::steady_clock::now() > next) next = std::chrono::steady_clock::now();
      SleepUntil(next);
    }
    output_.Finish(View(lastCycle_, TimeStamp()));
  }

 private:
  CycleView View(int cycle, const std::string &time) const {
    CycleView view;
    view.cycle = cycle;
    view.time = time;
    view.gates = &gates_;
    view.readings = &readings_;
    view.health = &health_;
    return view;
  }

  void RunCycle(int cycle) {
    for (GateReading &reading : readings_) reading.readThisCycle = false;
    std::string cycleTime = TimeStamp();
    size_t i = 0;
    while (i < plan_.size() && !g_stop) {
      const int32_t station = plan_[i].station;
      size_t end = i;
      while (end < plan_.size() && plan_[end].station == station) ++end;
      const bool due = health_.Due(station, cycle);
      bool sent = false;
      for (; i < end; ++i) {
        // A demoted station gets one request on its cycles: more only once it answers.
        if (!due || (health_.Demoted(station) && sent) || g_stop) {
          MarkWaiting(plan_[i]);
          continue;
        }
        Execute(plan_[i], cycle);
        sent = true;
      }
    }
    output_.Cycle(View(cycle, cycleTime));
  }

  void MarkWaiting(const PollRequest &request) {
    std::string time = TimeStamp();
    for (int index : request.gates) {
      GateReading &reading = readings_[index];
      reading.status = "waiting";
      reading.hasValue = false;
      reading.readThisCycle = true;
      reading.time = time;
      reading.via = ViaOf(request);
    }
  }

  static std::string ViaOf(const PollRequest &request) {
    return request.block ? "block " + std::to_string(request.blockNumber) : "single";
  }

  void Execute(const PollRequest &request, int cycle) {
    ValueBuffer buffer;
    const Gate &leader = gates_[request.leader];
    int32_t status = request.block ? channel_.BlockRead(leader, request.items, &buffer) : channel_.Read(leader, &buffer);
    std::string time = TimeStamp();
    std::string change = health_.Record(request.station, cycle, status);
    if (!change.empty()) output_.Event(time, change);
    for (int index : request.gates) {
      GateReading &reading = readings_[index];
      reading.readThisCycle = true;
      reading.time = time;
      reading.via = ViaOf(request);
      reading.status = StatusWord(status);
      reading.hasValue = status == 0;
      if (status != 0) continue;
      const Gate &gate = gates_[index];
      reading.value = request.block ? buffer.Item(gate.type, gate.element - request.firstAddress)
                                    : buffer.Single(gate.type);
    }
  }

  Channel &channel_;
  std::vector<Gate> gates_;
  const PollOptions &options_;
  PollOutput &output_;
  StationHealth health_;
  std::vector<GateReading> readings_;
  std::vector<PollRequest> plan_;
  int lastCycle_ = 0;
};

}  // namespace

int RunPoll(const GlobalOptions &global, const PollOptions &options) {
  Session session(global);
  if (!session.Start()) return kExitDriver;
  std::vector<GateSpec> specs;
  if (!LoadGates(options.gates, &specs)) return kExitUsage;

  const bool terminal = isatty(fileno(session.out())) != 0;
  std::unique_ptr<PollOutput> output = MakePollOutput(options.format, session.out(), terminal);
  Channel channel(session.driver(), session.log());
  MessageSink usual = session.DefaultSink();
  const bool showMessages = !global.quiet && !session.log().UserFile();
  PollOutput *shown = output.get();
  channel.SetSink([usual, shown, showMessages](const DriverMessage &message) {
    if (showMessages && shown->Message(message)) return;
    usual(message);
  });
  int code = kExitOk;
  if (!OpenChannel(channel, options.channel, &code)) return code;

  std::vector<Gate> valid;
  for (Gate &gate : ResolveGates(channel, specs)) {
    if (gate.valid) {
      valid.push_back(gate);
    } else {
      ReportInvalidGate(gate);
    }
  }
  if (valid.empty()) return Fail(kExitInvalidGate, "no valid gate to poll");

  StopSignals signals;
  Poller poller(channel, std::move(valid), options, *output);
  poller.Run();
  return kExitOk;
}

}  // namespace zamhost
