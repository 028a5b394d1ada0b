// Whole requests through ZamMain against the simulator n2sim on a
// pseudo-terminal, with no line pacing and no device delay: what remains is
// the protocol's 4 ms pause after each successful System 91 read and the
// driver's own overhead. Each request is timed on its own, wall time and
// the calling thread's CPU time, so that medians are reported: a request
// preempted, or charged with another program's interrupt work, on a shared
// machine moves the mean, not the median. The CPU time is the calling
// thread's: the driver has no threads, and the simulator serves on a thread
// of its own.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "bench/counter_names.h"
#include "bench/thread_cpu.h"
#include "driver/requests.h"
#include "sim/pty_server.h"
#include "sim/simulator.h"
#include "tests/support/driver_channel.h"

namespace {

struct Bench {
  n2sim::Simulator simulator;
  n2sim::PtyServer server{&simulator};
  DriverChannel channel;
  bool ready = false;

  Bench() {
    setenv("QORPRO_LOG", "/dev/null", 1);
    std::string error;
    if (!simulator.LoadPlant(n2sim::DefaultPlantText(), &error) || !server.Start(&error)) return;
    Start();
  }
  void Start() {
    ready = channel.Init(server.portName(), 100) == 0;
    // The plant's N2 Open device, as its station-type file would say.
    strcpy(channel.context()->stationTypes[5], "N2OPEN");
    channel.context()->n2openInitialised[5] = 0;
  }
  // Starts the channel again on the old read path (one wake-up per reply
  // byte) or on the planned reads, for the comparison.
  void Restart(bool perByte) {
    channel.Close();
    if (perByte) {
      setenv("ZAMKT_PORT_READS", "per-byte", 1);
    } else {
      unsetenv("ZAMKT_PORT_READS");
    }
    Start();
  }
};

Bench &TheBench() {
  static Bench bench;
  return bench;
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

void ReadGate(benchmark::State &state, const char *gas, int32_t dataType, int32_t items, int32_t command) {
  Bench &bench = TheBench();
  if (!bench.ready) {
    state.SkipWithError("simulator not started");
    return;
  }
  ParseBlock parsed;
  if (command == kCmdBlockRead) {
    bench.channel.BlockCheck(gas, dataType, items, &parsed);
  } else {
    bench.channel.Parse(gas, dataType, &parsed);
  }
  float values[32];
  ReadWriteBlock block = DriverChannel::BlockFromParse(parsed, gas, dataType, values, items);
  // A first read outside the measurement: an N2 Open station is initialised
  // by it.
  bench.channel.Call(command, &block);

  std::vector<double> times;
  std::vector<double> cpuTimes;
  times.reserve(static_cast<size_t>(state.max_iterations));
  cpuTimes.reserve(static_cast<size_t>(state.max_iterations));
  for (auto _ : state) {
    const double cpuStart = bench::ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    if (bench.channel.Call(command, &block) != 0) state.SkipWithError("read failed");
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    cpuTimes.push_back(bench::ThreadCpuSeconds() - cpuStart);
  }
  if (times.empty()) return;
  state.counters[bench::kMedianRequest] = Median(times);
  state.counters[bench::kCpuPerRequest] = Median(cpuTimes);
  state.counters[bench::kMeanCpuPerRequest] =
      std::accumulate(cpuTimes.begin(), cpuTimes.end(), 0.0) / static_cast<double>(cpuTimes.size());
  state.SetItemsProcessed(state.iterations() * items);
}

void BM_SingleReadOfARealPoint(benchmark::State &state) { ReadGate(state, "001AI01HR", 3, 1, kCmdSingleRead); }
BENCHMARK(BM_SingleReadOfARealPoint)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same read on the old read path, for the comparison.
void BM_SingleReadOfARealPointPerByte(benchmark::State &state) {
  TheBench().Restart(true);
  ReadGate(state, "001AI01HR", 3, 1, kCmdSingleRead);
  TheBench().Restart(false);
}
BENCHMARK(BM_SingleReadOfARealPointPerByte)->Unit(benchmark::kMillisecond)->UseRealTime();

// A thread that spins at the lowest priority there is (SCHED_IDLE): it runs
// only when nothing else wants a processor, and keeps that processor from
// halting. On a virtual machine whose idle processors halt at once, waking a
// halted one (for the simulator's reply, for the end of the pause) costs
// wall time and CPU time that belong to the machine, not to the driver;
// with the spinner the same reads show what remains.
class IdleSpinner {
 public:
  IdleSpinner() : thread_([this] {
      sched_param param{};
      pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
      while (!stop_.load(std::memory_order_relaxed)) {
      }
    }) {}
  ~IdleSpinner() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void BM_SingleReadWithProcessorsAwake(benchmark::State &state) {
  IdleSpinner spinner;
  ReadGate(state, "001AI01HR", 3, 1, kCmdSingleRead);
}
BENCHMARK(BM_SingleReadWithProcessorsAwake)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BlockReadOf32Reals(benchmark::State &state) { ReadGate(state, "001PM01LSP", 3, 32, kCmdBlockRead); }
BENCHMARK(BM_BlockReadOf32Reals)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_N2OpenItemRead(benchmark::State &state) { ReadGate(state, "005AI001", 3, 1, kCmdSingleRead); }
BENCHMARK(BM_N2OpenItemRead)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
