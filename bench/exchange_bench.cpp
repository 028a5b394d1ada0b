// Whole requests through ZamMain against the simulator n2sim on a
// pseudo-terminal, with no line pacing and no device delay: what remains is
// the protocol's 4 ms pause after each successful System 91 read and the
// driver's own overhead. Each request is timed on its own, so that the
// median, not the mean, is reported (a preempted request on a shared machine
// moves the mean, not the median). The CPU time is the calling thread's: the
// driver has no threads, and the simulator serves on a thread of its own.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <string>
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
    ready = channel.Init(server.portName(), 100) == 0;
    // The plant's N2 Open device, as its station-type file would say.
    strcpy(channel.context()->stationTypes[5], "N2OPEN");
    channel.context()->n2openInitialised[5] = 0;
  }
};

Bench &TheBench() {
  static Bench bench;
  return bench;
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
  times.reserve(static_cast<size_t>(state.max_iterations));
  const double cpuStart = bench::ThreadCpuSeconds();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (bench.channel.Call(command, &block) != 0) state.SkipWithError("read failed");
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  const double cpu = bench::ThreadCpuSeconds() - cpuStart;
  if (times.empty()) return;
  std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
  state.counters[bench::kMedianRequest] = times[times.size() / 2];
  state.counters[bench::kCpuPerRequest] = cpu / static_cast<double>(times.size());
  state.SetItemsProcessed(state.iterations() * items);
}

void BM_SingleReadOfARealPoint(benchmark::State &state) { ReadGate(state, "001AI01HR", 3, 1, kCmdSingleRead); }
BENCHMARK(BM_SingleReadOfARealPoint)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BlockReadOf32Reals(benchmark::State &state) { ReadGate(state, "001PM01LSP", 3, 32, kCmdBlockRead); }
BENCHMARK(BM_BlockReadOf32Reals)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_N2OpenItemRead(benchmark::State &state) { ReadGate(state, "005AI001", 3, 1, kCmdSingleRead); }
BENCHMARK(BM_N2OpenItemRead)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
