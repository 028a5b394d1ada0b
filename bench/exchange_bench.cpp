// Cost of whole requests through ZamMain against the simulated plant on a
// pseudo-terminal: the line, the reply checks, the decoding and the protocol's
// 4 ms pause after each successful System 91 read.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "driver/zam_main.h"
#include "sim/pty_server.h"
#include "sim/simulator.h"

namespace {

struct Bench {
  n2sim::Simulator simulator;
  n2sim::PtyServer server{&simulator};
  ChannelContext context;
  bool ready = false;

  Bench() {
    setenv("QORPRO_LOG", "/dev/null", 1);
    std::string error;
    if (!simulator.LoadPlant(n2sim::DefaultPlantText(), &error) || !server.Start(&error)) return;
    memset(&context, 0, sizeof context);
    InitChannelBlock block;
    memset(&block, 0, sizeof block);
    std::string port = server.portName();
    memcpy(block.portName, port.c_str(), std::min(port.size(), sizeof block.portName - 1));
    block.enabled = 1;
    block.timeout = 100;
    block.settings = PortSettings{9600, 8, 0, 0};
    ready = Call(kCmdInitChannel, &block) == 0;
    // The plant's N2 Open device, as its station-type file would say.
    strcpy(context.stationTypes[5], "N2OPEN");
    context.n2openInitialised[5] = 0;
  }

  int32_t Call(int32_t command, void *parameters) {
    DriverRequest request;
    memset(&request, 0, sizeof request);
    request.context = &context;
    request.command = command;
    request.parameters = parameters;
    return ZamMain(&request);
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
  memset(&parsed, 0, sizeof parsed);
  parsed.gas = gas;
  parsed.dataType = dataType;
  parsed.itemCount = items;
  bench.Call(command == kCmdBlockRead ? kCmdBlockParse : kCmdSingleParse, &parsed);
  float values[32];
  ReadWriteBlock block;
  memset(&block, 0, sizeof block);
  block.gas = gas;
  block.station = parsed.station;
  block.region = parsed.region;
  block.element = parsed.element;
  block.bit = parsed.bit;
  block.dataType = dataType;
  block.itemCount = items;
  block.value = values;
  for (auto _ : state) {
    if (bench.Call(command, &block) != 0) state.SkipWithError("read failed");
  }
  state.SetItemsProcessed(state.iterations() * items);
}

void BM_SingleReadOfARealPoint(benchmark::State &state) { ReadGate(state, "001AI01HR", 3, 1, kCmdSingleRead); }
BENCHMARK(BM_SingleReadOfARealPoint)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BlockReadOf32Reals(benchmark::State &state) { ReadGate(state, "001PM01LSP", 3, 32, kCmdBlockRead); }
BENCHMARK(BM_BlockReadOf32Reals)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_N2OpenItemRead(benchmark::State &state) { ReadGate(state, "005AI001", 3, 1, kCmdSingleRead); }
BENCHMARK(BM_N2OpenItemRead)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
