// zamkt_soak: a fault-injection soak of the driver through the simulated N2
// bus. Runs the requests, prints what it did and found, and exits 1 when any
// request broke an invariant (2 on a usage or start-up error).
//
//   build/zamkt_soak --requests 20000 --seed 1 --fault-rate 0.08 --outage-rate 0.01
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <map>
#include <string>

#include "sim/plant.h"
#include "tests/soak/soak_run.h"

namespace {

constexpr const char *kUsage =
    "usage: zamkt_soak [options]\n"
    "Drives the driver through ZamMain against the simulated plant with faults\n"
    "injected, checks every answer, and prints the figures.\n"
    "  --requests N      requests to run (default 20000)\n"
    "  --seed S          seed of the requests, values and fault draws (default 1)\n"
    "  --fault-rate R    chance of a fault drawn for each exchange, 0..1 (default 0.08)\n"
    "  --outage-rate R   chance that a request meets an outage of its station:\n"
    "                    a run of faulty exchanges (default 0.01)\n"
    "  --timeout-ms T    the channel's read time-out, a multiple of 10 (default 200)\n"
    "  --set LINE        one more plant statement after the soak's (repeatable), e.g.\n"
    "                    --set \"fault bus noise 0.02 bytes=1200\"\n"
    "  --reports N       violations described in full (default 20)\n"
    "  --log FILE        keep the driver's log in FILE\n"
    "  --progress N      a progress line on standard error every N requests\n";

bool Number(const char *text, double low, double high, double *value) {
  char *end = nullptr;
  *value = strtod(text, &end);
  return end != text && *end == '\0' && *value >= low && *value <= high;
}

// 0 to go on, else the exit status.
int ParseOptions(int argc, char **argv, soak::Options *options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      fputs(kUsage, stdout);
      return -1;
    }
    double value = 0;
    if (i + 1 >= argc) {
      fprintf(stderr, "zamkt_soak: %s needs a value\n%s", arg.c_str(), kUsage);
      return 2;
    }
    const char *text = argv[++i];
    bool ok = true;
    if (arg == "--requests") {
      ok = Number(text, 1, 1e9, &value) && value == static_cast<long>(value);
      options->requests = static_cast<long>(value);
    } else if (arg == "--seed") {
      ok = Number(text, 0, 4294967295.0, &value) && value == static_cast<uint32_t>(value);
      options->seed = static_cast<uint32_t>(value);
    } else if (arg == "--fault-rate") {
      ok = Number(text, 0, 1, &value);
      options->faultRate = value;
    } else if (arg == "--log") {
      options->logFile = text;
    } else if (arg == "--set") {
      options->extraStatements.push_back(text);
    } else if (arg == "--outage-rate") {
      ok = Number(text, 0, 1, &value);
      options->outageRate = value;
    } else if (arg == "--timeout-ms") {
      ok = Number(text, 10, 100000, &value) && static_cast<long>(value) % 10 == 0;
      options->timeoutMs = static_cast<int>(value);
    } else if (arg == "--reports") {
      ok = Number(text, 0, 1e6, &value);
      options->reportLimit = static_cast<size_t>(value);
    } else if (arg == "--progress") {
      ok = Number(text, 0, 1e9, &value);
      options->progressEvery = static_cast<long>(value);
    } else {
      fprintf(stderr, "zamkt_soak: unknown option %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
    if (!ok) {
      fprintf(stderr, "zamkt_soak: bad value '%s' for %s\n%s", text, arg.c_str(), kUsage);
      return 2;
    }
  }
  return 0;
}

void PrintSummary(const soak::Options &options, soak::Soak &run, double seconds) {
  const soak::Tally &t = run.tally();
  const std::map<std::string, uint64_t> counts = run.sim().Counts();
  auto count = [&](const std::string &key) {
    auto it = counts.find(key);
    return static_cast<unsigned long long>(it == counts.end() ? 0 : it->second);
  };

  printf(
      "ZAMKT soak: %ld requests through ZamMain against n2sim (DX9100 at 1, N2 Open at 5, XT9100 at 10, "
      "TC9100 at 20)\n",
      options.requests);
  printf("seed %u, faults drawn at %.3f per exchange, outages at %.3f per request, read time-out %d ms\n", options.seed,
         options.faultRate, options.outageRate, options.timeoutMs);
  for (const std::string &statement : options.extraStatements) printf("plant statement: %s\n", statement.c_str());
  printf("%d gates parsed (commands 3 and 4)\n\n", run.catalogue().parsed);

  printf("%-22s %9s %9s %9s %9s\n", "requests by kind", "total", "status 0", "status 1", "status 2");
  std::array<unsigned long long, 4> sums{};
  for (int kind = 0; kind < soak::kKinds; ++kind) {
    const auto &s = t.statuses[kind];
    printf("  %-20s %9llu %9llu %9llu %9llu\n", soak::KindName(static_cast<soak::Kind>(kind)),
           static_cast<unsigned long long>(t.requests[kind]), static_cast<unsigned long long>(s[0]),
           static_cast<unsigned long long>(s[1]), static_cast<unsigned long long>(s[2]));
    sums[0] += t.requests[kind];
    for (int i = 0; i < 3; ++i) sums[i + 1] += s[i];
  }
  printf("  %-20s %9llu %9llu %9llu %9llu\n", "all", sums[0], sums[1], sums[2], sums[3]);
  if (t.otherStatuses != 0) printf("  other statuses: %llu\n", static_cast<unsigned long long>(t.otherStatuses));

  printf("\nexchanges: %llu (answered %llu, silent %llu); with a fault: %llu (%.1f%%)\n", count("requests"),
         count("answered"), count("silent"), static_cast<unsigned long long>(t.faultyExchanges),
         t.exchanges == 0 ? 0.0 : 100.0 * static_cast<double>(t.faultyExchanges) / static_cast<double>(t.exchanges));
  printf("faults injected (simulator counts):");
  for (int kind = 0; kind < n2sim::kFaultKinds; ++kind) {
    const std::string name = n2sim::FaultKindName(static_cast<n2sim::FaultKind>(kind));
    printf(" %s %llu", name.c_str(), count("fault-" + name));
  }
  printf("\n  replies beyond the read time-out: delayed %llu, dribbled %llu; requests judged loosely for them: %llu\n",
         static_cast<unsigned long long>(t.lateDelays), static_cast<unsigned long long>(t.lateDribbles),
         static_cast<unsigned long long>(t.loose));
  printf("  requests that met an outage of their station: %llu\n", static_cast<unsigned long long>(t.outages));
  printf("  exchanges per station: 1 %llu, 5 %llu, 10 %llu, 20 %llu\n", count("station-1"), count("station-5"),
         count("station-10"), count("station-20"));

  printf("\ninvariant violations: %llu\n", static_cast<unsigned long long>(t.violations));
  for (const std::string &report : t.reports) printf("%s", report.c_str());
  printf("wall time: %.1f s\n", seconds);
}

}  // namespace

int main(int argc, char **argv) {
  soak::Options options;
  const int parsed = ParseOptions(argc, argv, &options);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;

  const auto start = std::chrono::steady_clock::now();
  soak::Soak run(options);
  std::string error;
  if (!run.Start(&error)) {
    fprintf(stderr, "zamkt_soak: %s\n", error.c_str());
    return 2;
  }
  run.Run();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  PrintSummary(options, run, seconds);
  fflush(stdout);
  return run.tally().violations == 0 ? 0 : 1;
}
