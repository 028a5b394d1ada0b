// What the zamgate face benchmarks (Modbus, BACnet) share: their options,
// zamgate polling the benchmark plant through n2sim in a folder of its own,
// the poll cycle read from zamgate's /metrics, and percentiles.
#ifndef ZAMKT_BENCH_GATEWAY_BENCH_SUPPORT_H
#define ZAMKT_BENCH_GATEWAY_BENCH_SUPPORT_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

struct GatewayBenchOptions {
  int cycles = 4;
  int clients = 10;
  int clientPauseMs = 10;  // between one client's reads: a SCADA polls, it does not flood
  int baud = -1;           // the plant's own pacing; 0: none
  std::string reportOut;
};

// [--cycles N] [--clients N] [--client-pause-ms N] [--baud N]
// [--report_out=FILE]; false (after the usage on stderr) on anything else.
bool ParseGatewayBenchOptions(int argc, char **argv, const std::string &program, GatewayBenchOptions *options);

std::string ReadText(const std::string &path);

// The benchmark plant's gates (bench/plant/gates.csv) as name and the rest
// of the line from its first comma on, the names made unique (the plant
// lists one gate twice, which the gateway refuses): "name (2)".
std::vector<std::pair<std::string, std::string>> BenchPlantGates();

// n2sim with the benchmark plant and zamgate on the zamgate.toml the caller
// wrote into `folder`, their logs beside it.
struct BenchGateway {
  std::string program;  // for messages: "zamgate_modbus_bench"
  std::string folder;
  pid_t sim = -1;
  pid_t gateway = -1;
  int httpPort = 0;
  int facePort = 0;  // the port the face's log line names
};

// A fresh folder under /tmp named after the program.
std::string MakeBenchFolder(const std::string &program);

// Starts both; false when zamgate has not named its HTTP port and the face's
// port (the log line "<facePrefix><port>") within ten seconds.
bool StartBenchGateway(BenchGateway *run, int baud, const std::string &facePrefix);

// Stops both; the folder is removed on success and kept (and named) on
// failure. Returns code.
int FinishBenchGateway(const BenchGateway &run, int code);

// The mean cycle of the next `cycles` cycles from /metrics; negative when
// they do not come within five minutes.
double MeanCycle(int httpPort, int cycles);

// The value at `share` (0..1) of the sorted values; 0 when there are none.
double Percentile(std::vector<double> values, double share);

}  // namespace bench

#endif  // ZAMKT_BENCH_GATEWAY_BENCH_SUPPORT_H
