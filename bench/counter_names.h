// Names of the counters the benchmarks set and bench_main.cpp turns into
// figures. Every counter holds seconds.
#ifndef ZAMKT_BENCH_COUNTER_NAMES_H
#define ZAMKT_BENCH_COUNTER_NAMES_H

namespace bench {

constexpr char kPerParse[] = "per_parse";          // time per gate parse, over every point
constexpr char kMedianRequest[] = "median";        // median wall time of one request
constexpr char kCpuPerRequest[] = "cpu_per_req";   // median CPU time of the calling thread per request
constexpr char kMeanCpuPerRequest[] = "cpu_mean";   // the same, mean

}  // namespace bench

#endif  // ZAMKT_BENCH_COUNTER_NAMES_H
