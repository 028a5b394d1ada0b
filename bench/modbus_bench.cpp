// zamgate's Modbus face under load: zamgate polls the benchmark plant
// (bench/plant/) through n2sim on a paced line, and Modbus clients read 100
// holding registers (50 reals) over and over. Measured: the time a client
// waits for each read (median and 99th percentile, against 1 ms and 5 ms),
// and the poll cycle with the clients against the cycle without them (the
// Modbus server must not slow the poll by more than 2 %).
//
//   zamgate_modbus_bench [--cycles N] [--clients N] [--client-pause-ms N]
//                        [--baud N] [--report_out FILE]
//
// The cycle is taken from zamgate's own /metrics (the cycle histogram's sum
// over its count), N cycles without clients, then N cycles with them.
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <modbus/modbus.h>

#include "bench/figure_rows.h"
#include "bench/gateway_bench_support.h"

namespace {

using bench::Clock;

constexpr int kRealsMapped = 50;  // 100 holding registers

// The benchmark plant's gate list with unique names (the plant lists one
// gate twice, which the gateway refuses), and the first reals made writable
// so that they can sit in holding registers (not the inputs: the gateway
// refuses to start with a read-only point listed as writable).
std::string Configuration(const std::string &folder, int *mapped) {
  std::string csv, writable, map;
  *mapped = 0;
  for (const auto &[name, line] : bench::BenchPlantGates()) {
    csv += name + line + "\n";
    const bool input = name.size() > 6 && name.compare(name.size() - 6, 6, " input") == 0;
    if (*mapped < kRealsMapped && line.find(",real") != std::string::npos && !input) {
      writable += std::string(writable.empty() ? "" : ", ") + "\"" + name + "\"";
      map += "[[modbus.map]]\ngate = \"" + name + "\"\ntable = \"holding\"\naddress = " + std::to_string(2 * *mapped) +
             "\n";
      ++*mapped;
    }
  }
  std::ofstream(folder + "/gates.csv") << csv;
  return "[gateway]\nid = \"bench\"\n[line]\nport = \"" + folder + "/bus\"\ntimeout_ms = 200\n"
         "station_types_file = \"ZAMKT01.int\"\n[poll]\ninterval_ms = 0\n[gates]\ncsv = \"gates.csv\"\nwritable = [" +
         writable + "]\n[mqtt]\nport = 9\nreconnect_max_s = 60\n[http]\nlisten = \"127.0.0.1:0\"\n"
         "[modbus]\nlisten = \"127.0.0.1:0\"\nmax_clients = 64\n" + map;
}

}  // namespace

int main(int argc, char **argv) {
  bench::GatewayBenchOptions options;
  if (!bench::ParseGatewayBenchOptions(argc, argv, "zamgate_modbus_bench", &options)) return 2;
  bench::BenchGateway run;
  run.program = "zamgate_modbus_bench";
  run.folder = bench::MakeBenchFolder(run.program);
  const std::string &folder = run.folder;
  int mapped = 0;
  std::ofstream(folder + "/zamgate.toml") << Configuration(folder, &mapped);
  const bool started = bench::StartBenchGateway(&run, options.baud, "Modbus TCP on 127.0.0.1:");
  const int httpPort = run.httpPort, modbusPort = run.facePort;
  auto finish = [&](int code) { return bench::FinishBenchGateway(run, code); };
  if (!started) {
    fprintf(stderr, "zamgate_modbus_bench: zamgate did not start\n");
    return finish(1);
  }

  // Every mapped gate good once: the first cycle (with the N2 Open
  // station's initialisation) is done.
  modbus_t *probe = modbus_new_tcp("127.0.0.1", modbusPort);
  modbus_set_slave(probe, 1);
  uint16_t words[2 * kRealsMapped];
  bool ready = false;
  for (int i = 0; i < 600 && !ready; ++i) {
    ready = modbus_connect(probe) == 0 && modbus_read_registers(probe, 0, 2 * mapped, words) == 2 * mapped;
    modbus_close(probe);
    if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  modbus_free(probe);
  if (!ready) {
    fprintf(stderr, "zamgate_modbus_bench: the mapped gates never became readable\n");
    return finish(1);
  }
  bench::MeanCycle(httpPort, 1);  // to a cycle's start

  printf("poll cycle without Modbus clients, mean of %d: ", options.cycles);
  fflush(stdout);
  const double alone = bench::MeanCycle(httpPort, options.cycles);
  printf("%s\n", bench::Duration(alone).c_str());

  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::vector<double> latencies;
  std::atomic<int> failures{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < options.clients; ++c) {
    clients.emplace_back([&] {
      modbus_t *ctx = modbus_new_tcp("127.0.0.1", modbusPort);
      modbus_set_slave(ctx, 1);
      std::vector<double> mine;
      uint16_t registers[2 * kRealsMapped];
      if (modbus_connect(ctx) == 0) {
        while (!stop) {
          auto start = Clock::now();
          int got = modbus_read_registers(ctx, 0, 2 * mapped, registers);
          auto took = std::chrono::duration<double>(Clock::now() - start).count();
          if (got == 2 * mapped) {
            mine.push_back(took);
          } else {
            ++failures;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(options.clientPauseMs));
        }
      } else {
        ++failures;
      }
      modbus_close(ctx);
      modbus_free(ctx);
      std::lock_guard<std::mutex> lock(mutex);
      latencies.insert(latencies.end(), mine.begin(), mine.end());
    });
  }
  printf("poll cycle with %d Modbus clients, mean of %d: ", options.clients, options.cycles);
  fflush(stdout);
  const double loaded = bench::MeanCycle(httpPort, options.cycles);
  stop = true;
  for (std::thread &client : clients) client.join();
  printf("%s\n", bench::Duration(loaded).c_str());

  const double median = bench::Percentile(latencies, 0.5), p99 = bench::Percentile(latencies, 0.99);
  printf("Modbus reads of %d holding registers: %zu, failed %d; median %s, p99 %s, slowest %s\n", 2 * mapped,
         latencies.size(), failures.load(), bench::Duration(median).c_str(), bench::Duration(p99).c_str(),
         bench::Duration(bench::Percentile(latencies, 1.0)).c_str());
  printf("cycle with clients / without: %.4f\n", loaded / alone);

  if (!options.reportOut.empty()) {
    const std::string clientsText = std::to_string(options.clients) + " clients";
    std::vector<bench::FigureRow> rows = {
        bench::TimedRow("Modbus read of 100 holding registers during the paced poll, " + clientsText + ", median", median,
                        0.001, "target", 1.0),
        bench::TimedRow("Modbus read of 100 holding registers during the paced poll, " + clientsText + ", p99", p99,
                        0.005, "target", 1.0),
        bench::TimedRow("Paced poll cycle of the benchmark plant in zamgate with " + clientsText + " polling Modbus",
                        loaded, alone, "the same without Modbus clients", 1.02),
    };
    if (!bench::AppendRows(options.reportOut, rows)) return finish(1);
  }
  return finish(failures == 0 && alone > 0 && loaded > 0 ? 0 : 1);
}
