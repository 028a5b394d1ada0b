// zamkt_bench: runs the benchmarks as Google Benchmark does and, with
// --report_out=FILE, appends the figures of docs/PERFORMANCE.md to FILE
// (bench.sh collects them). Exits 1 when a benchmark reported an error.
#include <benchmark/benchmark.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "bench/counter_names.h"
#include "bench/figure_rows.h"

namespace {

using Run = benchmark::BenchmarkReporter::Run;

// Shows the runs on the console as usual and keeps them by name.
class KeepingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      runs_[run.benchmark_name()] = run;
      failed_ = failed_ || run.error_occurred;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  const Run *Find(const std::string &name) const {
    auto it = runs_.find(name);
    return it == runs_.end() || it->second.error_occurred ? nullptr : &it->second;
  }
  bool failed() const { return failed_; }

 private:
  std::map<std::string, Run> runs_;
  bool failed_ = false;
};

double Seconds(const Run &run) { return run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit); }

double Counter(const Run &run, const char *name) {
  auto it = run.counters.find(name);
  return it == run.counters.end() ? 0 : it->second.value;
}

bench::FigureRow Reference(const std::string &figure, double seconds) {
  bench::FigureRow row;
  row.figure = figure;
  row.value = bench::Duration(seconds);
  return row;
}

constexpr double kTargetParse = 2e-6;
constexpr double kTargetCodec = 100e-9;
constexpr double kPause = 4e-3;
constexpr double kPauseLimit = 1.10;
constexpr double kTargetCpu = 50e-6;

std::vector<bench::FigureRow> Figures(const KeepingReporter &runs) {
  std::vector<bench::FigureRow> rows;
  if (const Run *run = runs.Find("BM_ParseEveryPoint")) {
    rows.push_back(Reference("Gate parse, mean over every point of every table (" + run->report_label + ")",
                             Counter(*run, bench::kPerParse)));
  }
  if (const Run *run = runs.Find("BM_ParseWorstRow")) {
    rows.push_back(bench::TimedRow("Gate parse, slowest row (" + run->report_label + ")", Seconds(*run),
                                   kTargetParse, "target", 1.0));
  }
  if (const Run *run = runs.Find("BM_EncodeN2Real")) {
    rows.push_back(bench::TimedRow("RealToN2Float, level-8 trace dropped by the host (QORPRO_LEVEL=32)",
                                   Seconds(*run), kTargetCodec, "target", 1.0));
  }
  if (const Run *run = runs.Find("BM_EncodeN2RealTraceWritten")) {
    rows.push_back(Reference("RealToN2Float, level-8 trace written (to /dev/null), for reference", Seconds(*run)));
  }
  if (const Run *run = runs.Find("BM_DecodeN2Real")) {
    rows.push_back(bench::TimedRow("N2FloatToReal", Seconds(*run), kTargetCodec, "target", 1.0));
  }
  if (const Run *run = runs.Find("BM_BuildMemoryReadFrame")) {
    rows.push_back(Reference("Request frame assembly (memory read, full address)", Seconds(*run)));
  }
  if (const Run *run = runs.Find("BM_CheckSingleReadReply")) {
    rows.push_back(Reference("Reply checks of a single read (CheckAckNak, CheckReplySum)", Seconds(*run)));
  }
  if (const Run *run = runs.Find("BM_CheckReplySumOfABlockReply")) {
    rows.push_back(Reference("Frame sum check of a 32-item block reply", Seconds(*run)));
  }
  if (const Run *run = runs.Find("BM_StoreBlockOf32Reals")) {
    rows.push_back(Reference("Decoding a block of 32 reals (StoreData)", Seconds(*run)));
  }
  if (const Run *run = runs.Find("BM_SingleReadOfARealPoint/real_time")) {
    rows.push_back(bench::TimedRow("Single read through ZamMain against n2sim, unpaced, median",
                                   Counter(*run, bench::kMedianRequest), kPause, "the mandated pause", kPauseLimit));
    rows.push_back(bench::TimedRow("Driver CPU per exchange (single read, getrusage of the calling thread), median",
                                   Counter(*run, bench::kCpuPerRequest), kTargetCpu, "target", 1.0));
    rows.push_back(Reference("Driver CPU per exchange (single read), mean", Counter(*run, bench::kMeanCpuPerRequest)));
  }
  if (const Run *run = runs.Find("BM_SingleReadOfARealPointPerByte/real_time")) {
    bench::FigureRow row = Reference("The same single read on the old read path (ZAMKT_PORT_READS=per-byte), median",
                                     Counter(*run, bench::kMedianRequest));
    row.bound = bench::Duration(kPause) + " (the mandated pause)";
    row.ratio = Counter(*run, bench::kMedianRequest) / kPause;
    rows.push_back(row);
    rows.push_back(Reference("Driver CPU per exchange (single read) on the old read path, median",
                             Counter(*run, bench::kCpuPerRequest)));
  }
  if (const Run *run = runs.Find("BM_SingleReadWithProcessorsAwake/real_time")) {
    bench::FigureRow row = Reference("The same single read with the processors kept from halting (a SCHED_IDLE "
                                     "spinner), median",
                                     Counter(*run, bench::kMedianRequest));
    row.bound = bench::Duration(kPause) + " (the mandated pause)";
    row.ratio = Counter(*run, bench::kMedianRequest) / kPause;
    rows.push_back(row);
    rows.push_back(Reference("Driver CPU per exchange with the processors kept from halting, median",
                             Counter(*run, bench::kCpuPerRequest)));
  }
  if (const Run *run = runs.Find("BM_BlockReadOf32Reals/real_time")) {
    bench::FigureRow row = Reference("Block read of 32 reals against n2sim, unpaced, median",
                                     Counter(*run, bench::kMedianRequest));
    row.bound = bench::Duration(kPause) + " (the mandated pause)";
    row.ratio = Counter(*run, bench::kMedianRequest) / kPause;
    rows.push_back(row);
    rows.push_back(Reference("Driver CPU per exchange (block read of 32 reals), median",
                             Counter(*run, bench::kCpuPerRequest)));
  }
  if (const Run *run = runs.Find("BM_N2OpenItemRead/real_time")) {
    rows.push_back(Reference("N2 Open item read against n2sim, unpaced, median (no pause)",
                             Counter(*run, bench::kMedianRequest)));
  }
  return rows;
}

}  // namespace

int main(int argc, char **argv) {
  std::string reportPath;
  std::vector<char *> args;
  constexpr char kReportOption[] = "--report_out=";
  for (int i = 0; i < argc; ++i) {
    if (strncmp(argv[i], kReportOption, sizeof kReportOption - 1) == 0) {
      reportPath = argv[i] + sizeof kReportOption - 1;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  KeepingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (!reportPath.empty() && !bench::AppendRows(reportPath, Figures(reporter))) {
    fprintf(stderr, "zamkt_bench: cannot write %s\n", reportPath.c_str());
    return 1;
  }
  return reporter.failed() ? 1 : 0;
}
