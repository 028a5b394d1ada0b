// zamkt_poll_bench: the poll of zamhost (its Poller, through the driver
// loaded as the host loads it) against the simulator n2sim serving the
// benchmark plant on a pseudo-terminal, the line paced at 9600 baud in both
// directions.
//
// Every cycle is held against the lower bound of its own traffic: the bytes
// the simulator counted each way, 10 bits each at the line's baud rate, and
// the 4 ms pause after every successful System 91 read (N2 Open reads have
// none). The exchanges per cycle are held against the fewest the plant
// allows (bench/minimum_exchanges.h) and against one read per gate.
//
//   zamkt_poll_bench [--plant FILE] [--gates FILE] [--cycles N]
//                    [--single-cycles N] [--baud N] [--report_out FILE]
//                    [--expect-minimum] [--compare-per-byte]
//
// The first cycle initialises the N2 Open station and is not measured. The
// plan and the station totals that zamhost poll prints are left out; each
// cycle's output (CSV rows, to /dev/null) is part of the cycle.
// --baud 0 turns the pacing off (a quick run for CI). --expect-minimum exits
// 1 when a cycle makes more exchanges than the minimum. Exits 1 as well when
// an exchange fails: a measured cycle must be a clean one.
// --compare-per-byte runs every grouped cycle twice, once with the port's
// planned reads and once with the old path of one wake-up per reply byte
// (ZAMKT_PORT_READS=per-byte, the port reopened for each), and reports the
// wake-ups (voluntary context switches of the polling thread) per exchange
// and the host's and driver's CPU per cycle of both side by side.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/figure_rows.h"
#include "bench/minimum_exchanges.h"
#include "bench/thread_cpu.h"
#include "host/zamhost/command_support.h"
#include "host/zamhost/commands.h"
#include "host/common/gate_resolver.h"
#include "host/common/poller.h"
#include "host/zamhost/session.h"
#include "sim/plant.h"
#include "sim/pty_server.h"
#include "sim/simulator.h"

namespace {

constexpr double kPauseSeconds = 0.004;  // after each successful System 91 read
constexpr int kBitsPerByte = 10;         // start bit, 8 data bits, stop bit
constexpr double kCycleLimit = 1.05;

struct Options {
  std::string plant = ZAMKT_SOURCE_DIR "/bench/plant/bench.plant";
  std::string gates = ZAMKT_SOURCE_DIR "/bench/plant/gates.csv";
  int cycles = 3;
  int singleCycles = 1;
  int baud = -1;  // the plant's
  std::string reportPath;
  bool expectMinimum = false;
  bool comparePerByte = false;
};

bool ParseOptions(int argc, char **argv, Options *options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--expect-minimum") {
      options->expectMinimum = true;
    } else if (arg == "--compare-per-byte") {
      options->comparePerByte = true;
    } else if (arg.rfind("--report_out=", 0) == 0) {
      options->reportPath = arg.substr(strlen("--report_out="));
    } else if (!hasValue) {
      fprintf(stderr, "zamkt_poll_bench: %s needs a value (or is unknown)\n", arg.c_str());
      return false;
    } else if (arg == "--plant") {
      options->plant = argv[++i];
    } else if (arg == "--gates") {
      options->gates = argv[++i];
    } else if (arg == "--cycles") {
      options->cycles = std::max(1, atoi(argv[++i]));
    } else if (arg == "--single-cycles") {
      options->singleCycles = std::max(0, atoi(argv[++i]));
    } else if (arg == "--baud") {
      options->baud = std::max(0, atoi(argv[++i]));
    } else if (arg == "--report_out") {
      options->reportPath = argv[++i];
    } else {
      fprintf(stderr, "zamkt_poll_bench: unknown option %s\n", arg.c_str());
      return false;
    }
  }
  return true;
}

bool ReadFile(const std::string &path, std::string *text) {
  std::ifstream in(path);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  *text = content.str();
  return true;
}

// What one cycle cost and put on the line.
struct Cycle {
  double seconds = 0;
  double cpuSeconds = 0;  // the polling thread's: zamhost and the driver
  uint64_t wakeups = 0;   // the polling thread's voluntary context switches
  uint64_t exchanges = 0;
  uint64_t requestBytes = 0;
  uint64_t replyBytes = 0;
  uint64_t pauses = 0;    // successful System 91 reads
  uint64_t failures = 0;  // exchanges that were not clean: no reply, refused, faults

  double LowerBound(int baud) const {
    const double wire = baud > 0 ? static_cast<double>((requestBytes + replyBytes) * kBitsPerByte) / baud : 0.0;
    return wire + kPauseSeconds * static_cast<double>(pauses);
  }
};

uint64_t Delta(const std::map<std::string, uint64_t> &before, const std::map<std::string, uint64_t> &after,
               const std::string &key) {
  auto a = after.find(key);
  auto b = before.find(key);
  return (a == after.end() ? 0 : a->second) - (b == before.end() ? 0 : b->second);
}

Cycle TimeCycle(n2host::Poller &poller, int number, const n2sim::Simulator &simulator) {
  const auto before = simulator.Counts();
  const double cpuStart = bench::ThreadCpuSeconds();
  const unsigned long long wakeupsStart = bench::ThreadWakeups();
  const auto start = std::chrono::steady_clock::now();
  poller.RunCycle(number);
  Cycle cycle;
  cycle.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cycle.cpuSeconds = bench::ThreadCpuSeconds() - cpuStart;
  cycle.wakeups = bench::ThreadWakeups() - wakeupsStart;
  const auto after = simulator.Counts();
  cycle.exchanges = Delta(before, after, "requests");
  cycle.requestBytes = Delta(before, after, "request-bytes");
  cycle.replyBytes = Delta(before, after, "reply-bytes");
  cycle.pauses = Delta(before, after, "mem-read") + Delta(before, after, "block-read") + Delta(before, after, "area-read");
  cycle.failures = cycle.exchanges - Delta(before, after, "answered");
  for (const char *kind : {"refused", "garbled", "unaddressed"}) cycle.failures += Delta(before, after, kind);
  for (const auto &[key, count] : after) {
    if (key.rfind("fault-", 0) == 0) cycle.failures += Delta(before, after, key);
  }
  return cycle;
}

// The cycle of median duration.
Cycle MedianCycle(std::vector<Cycle> cycles) {
  std::sort(cycles.begin(), cycles.end(), [](const Cycle &a, const Cycle &b) { return a.seconds < b.seconds; });
  return cycles[cycles.size() / 2];
}

// The median over the cycles of one of their figures.
double MedianOf(const std::vector<Cycle> &cycles, double (*figure)(const Cycle &)) {
  std::vector<double> values;
  for (const Cycle &cycle : cycles) values.push_back(figure(cycle));
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

double WakeupsPerExchange(const Cycle &cycle) {
  return static_cast<double>(cycle.wakeups) / static_cast<double>(std::max<uint64_t>(1, cycle.exchanges));
}

double CpuOf(const Cycle &cycle) { return cycle.cpuSeconds; }

// The port's read path for the ports opened from here on: the old one of
// one wake-up per reply byte, or the planned reads.
void ChooseReadPath(zamhost::Channel &channel, bool perByte) {
  if (perByte) {
    setenv("ZAMKT_PORT_READS", "per-byte", 1);
  } else {
    unsetenv("ZAMKT_PORT_READS");
  }
  channel.Reopen();
}

std::string Number(double value, int decimals = 0) {
  char text[64];
  snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

bench::FigureRow CycleRow(const std::string &figure, const Cycle &cycle, int baud, bool target) {
  const double bound = cycle.LowerBound(baud);
  bench::FigureRow row = bench::TimedRow(figure, cycle.seconds, bound,
                                         "wire lower bound: " + Number(static_cast<double>(cycle.requestBytes)) +
                                             " + " + Number(static_cast<double>(cycle.replyBytes)) +
                                             " bytes, " + Number(static_cast<double>(cycle.pauses)) + " pauses",
                                         kCycleLimit);
  if (!target) row.target.clear();
  return row;
}

bench::FigureRow CountRow(const std::string &figure, uint64_t exchanges, int minimum, bool target) {
  bench::FigureRow row;
  row.figure = figure;
  row.value = Number(static_cast<double>(exchanges));
  row.bound = Number(minimum) + " (fewest the plant allows)";
  row.ratio = static_cast<double>(exchanges) / minimum;
  if (target) row.target = std::string(exchanges == static_cast<uint64_t>(minimum) ? "met" : "missed") + ": = minimum";
  return row;
}

void PrintCycle(const char *what, int number, const Cycle &cycle, int baud) {
  printf("%s cycle %d: %.1f ms, bound %.1f ms (ratio %.3f), %llu exchanges, %llu + %llu bytes, %llu pauses, "
         "CPU %.2f ms, %.1f wake-ups per exchange\n",
         what, number, cycle.seconds * 1e3, cycle.LowerBound(baud) * 1e3, cycle.seconds / cycle.LowerBound(baud),
         static_cast<unsigned long long>(cycle.exchanges), static_cast<unsigned long long>(cycle.requestBytes),
         static_cast<unsigned long long>(cycle.replyBytes), static_cast<unsigned long long>(cycle.pauses),
         cycle.cpuSeconds * 1e3, WakeupsPerExchange(cycle));
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return 2;

  // The simulated bus.
  std::string plantText;
  if (!ReadFile(options.plant, &plantText)) {
    fprintf(stderr, "zamkt_poll_bench: cannot read %s\n", options.plant.c_str());
    return 2;
  }
  n2sim::PlantSpec plant;
  std::string error;
  if (!n2sim::ParsePlant(plantText, &plant, &error)) {
    fprintf(stderr, "zamkt_poll_bench: %s: %s\n", options.plant.c_str(), error.c_str());
    return 2;
  }
  if (options.baud >= 0) plant.baud = options.baud;
  const int baud = plant.baud;
  n2sim::Simulator simulator;
  n2sim::PtyServer server(&simulator);
  if (!simulator.LoadPlant(plant, &error) || !server.Start(&error)) {
    fprintf(stderr, "zamkt_poll_bench: simulator: %s\n", error.c_str());
    return 1;
  }
  char folder[] = "/tmp/zamkt_poll_bench.XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string typesFile = std::string(folder) + "/" + n2sim::StationTypesFileName(1);
  std::ofstream(typesFile) << n2sim::StationTypesFileText(plant);

  // The host: zamhost's session, channel and gates.
  zamhost::GlobalOptions global;
  global.quiet = true;
  zamhost::Session session(global);
  if (!session.Start()) return 1;
  std::vector<zamhost::GateSpec> specs;
  if (!zamhost::LoadGates({options.gates}, &specs)) return 2;
  zamhost::Channel channel(session.driver(), session.log());
  // The driver's messages: a clean cycle has none (the N2 Open station's
  // initialisation in the first cycle reports itself).
  std::vector<std::string> driverMessages;
  channel.SetSink([&driverMessages](const zamhost::DriverMessage &message) { driverMessages.push_back(message.text); });
  zamhost::ChannelOptions channelOptions;
  channelOptions.port = server.slavePath();
  channelOptions.stationTypesFile = typesFile;
  int code = 0;
  const bool opened = zamhost::OpenChannel(channel, channelOptions, &code);
  unlink(typesFile.c_str());
  rmdir(folder);
  if (!opened) return 1;
  std::vector<zamhost::Gate> gates = zamhost::ResolveGates(channel, specs);
  std::vector<bench::ParsedGate> parsed;
  for (const zamhost::Gate &gate : gates) {
    if (!gate.valid) {
      zamhost::ReportInvalidGate(gate);
      return 1;
    }
    parsed.push_back(bench::ParsedGate{gate.spec.gas, gate.type, gate.station, gate.region, gate.element, gate.bit,
                                       gate.blockEligible});
  }
  const bench::ExchangeCount minimum = bench::MinimumExchanges(parsed);

  zamhost::PollOptions pollOptions;
  pollOptions.channel = channelOptions;
  pollOptions.intervalMs = 0;
  pollOptions.format = zamhost::PollFormat::kCsv;
  FILE *sink = fopen("/dev/null", "w");
  std::atomic<bool> stop{false};
  printf("%zu gates; fewest exchanges per cycle %d (%d block reads, %d single reads); line %s\n", gates.size(),
         minimum.total(), minimum.blockReads, minimum.singleReads,
         baud > 0 ? (std::to_string(baud) + " baud").c_str() : "not paced");

  // With block grouping, as zamhost poll runs by default.
  std::vector<Cycle> grouped;
  std::vector<Cycle> perByte;  // the same cycles with the old read path
  uint64_t exchangesAboveMinimum = 0;
  uint64_t failures = 0;
  {
    auto output = zamhost::MakePollOutput(zamhost::PollFormat::kCsv, sink, false);
    n2host::Poller poller(channel, gates, pollOptions, *output, stop);
    poller.RunCycle(1);  // initialises the N2 Open station
    driverMessages.clear();
    for (int i = 0; i < options.cycles; ++i) {
      // With the comparison, the two paths take turns, so that a change in
      // the machine's load falls on both alike.
      if (options.comparePerByte) ChooseReadPath(channel, false);
      grouped.push_back(TimeCycle(poller, i + 2, simulator));
      PrintCycle("grouped", i + 2, grouped.back(), baud);
      failures += grouped.back().failures;
      if (grouped.back().exchanges > static_cast<uint64_t>(minimum.total())) ++exchangesAboveMinimum;
      if (options.comparePerByte) {
        ChooseReadPath(channel, true);
        perByte.push_back(TimeCycle(poller, i + 2, simulator));
        PrintCycle("grouped, per-byte reads", i + 2, perByte.back(), baud);
        failures += perByte.back().failures;
      }
    }
    if (options.comparePerByte) ChooseReadPath(channel, false);
  }
  // One read per gate (zamhost poll --no-blocks).
  std::vector<Cycle> singles;
  if (options.singleCycles > 0) {
    zamhost::PollOptions singleOptions = pollOptions;
    singleOptions.blocks = false;
    auto output = zamhost::MakePollOutput(zamhost::PollFormat::kCsv, sink, false);
    n2host::Poller poller(channel, gates, singleOptions, *output, stop);
    for (int i = 0; i < options.singleCycles; ++i) {
      singles.push_back(TimeCycle(poller, i + 1, simulator));
      PrintCycle("single", i + 1, singles.back(), baud);
      failures += singles.back().failures;
    }
  }
  fclose(sink);

  const Cycle median = MedianCycle(grouped);
  std::vector<bench::FigureRow> rows;
  const std::string plantName = std::to_string(gates.size()) + " gates, " + std::to_string(median.exchanges) +
                                " exchanges";
  if (baud > 0) {
    rows.push_back(CycleRow("Paced poll cycle, benchmark plant (" + plantName + ", " + std::to_string(baud) +
                                " baud), median of " + std::to_string(grouped.size()),
                            median, baud, true));
  }
  rows.push_back(CountRow("Exchanges per poll cycle with block grouping", median.exchanges, minimum.total(), true));
  if (!singles.empty()) {
    const Cycle single = MedianCycle(singles);
    rows.push_back(CountRow("Exchanges per poll cycle, all single reads (--no-blocks)", single.exchanges,
                            minimum.total(), false));
    if (baud > 0) rows.push_back(CycleRow("Paced poll cycle, all single reads", single, baud, false));
  }
  bench::FigureRow cpu;
  cpu.figure = std::string("Host and driver CPU per exchange during the ") + (baud > 0 ? "paced" : "unpaced") +
               " poll (zamhost's Poller included)";
  cpu.value = bench::Duration(median.cpuSeconds / static_cast<double>(std::max<uint64_t>(1, median.exchanges)));
  rows.push_back(cpu);
  {
    const char *pace = baud > 0 ? "paced" : "unpaced";
    bench::FigureRow wakeups;
    wakeups.figure = std::string("Wake-ups (voluntary context switches of the polling thread) per exchange, ") +
                     pace + " poll, planned reads, median";
    const double perExchange = MedianOf(grouped, WakeupsPerExchange);
    wakeups.value = Number(perExchange, 1);
    wakeups.bound = "5 (target)";
    wakeups.ratio = perExchange / 5.0;
    wakeups.target = std::string(perExchange <= 5.0 ? "met" : "missed") + ": ≤ 5";
    rows.push_back(wakeups);
    if (!perByte.empty()) {
      bench::FigureRow old;
      old.figure = std::string("The same with the old read path (ZAMKT_PORT_READS=per-byte), median");
      old.value = Number(MedianOf(perByte, WakeupsPerExchange), 1);
      rows.push_back(old);
      const double cpuNew = MedianOf(grouped, CpuOf);
      const double cpuOld = MedianOf(perByte, CpuOf);
      rows.push_back(bench::TimedRow(std::string("Host and driver CPU per ") + pace +
                                         " poll cycle, planned reads against the old read path, median",
                                     cpuNew, cpuOld, "the old read path", 0.45));
      bench::FigureRow oldCpu;
      oldCpu.figure = std::string("Host and driver CPU per ") + pace + " poll cycle, old read path, median";
      oldCpu.value = bench::Duration(cpuOld);
      rows.push_back(oldCpu);
    }
  }
  if (!options.reportPath.empty() && !bench::AppendRows(options.reportPath, rows)) {
    fprintf(stderr, "zamkt_poll_bench: cannot write %s\n", options.reportPath.c_str());
    return 1;
  }
  if (failures > 0 || !driverMessages.empty()) {
    fprintf(stderr, "zamkt_poll_bench: %llu exchanges failed, %zu driver messages: the cycles are not clean\n",
            static_cast<unsigned long long>(failures), driverMessages.size());
    for (const std::string &message : driverMessages) fprintf(stderr, "  %s\n", message.c_str());
    return 1;
  }
  if (options.expectMinimum && exchangesAboveMinimum > 0) {
    fprintf(stderr, "zamkt_poll_bench: %llu cycles made more exchanges than the %d the plant needs\n",
            static_cast<unsigned long long>(exchangesAboveMinimum), minimum.total());
    return 1;
  }
  return 0;
}
