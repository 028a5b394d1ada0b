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
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <modbus/modbus.h>

#include "bench/figure_rows.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int cycles = 4;
  int clients = 10;
  int clientPauseMs = 10;  // between one client's reads: a SCADA polls, it does not flood
  int baud = -1;           // the plant's own pacing; 0: none
  std::string reportOut;
};

constexpr int kRealsMapped = 50;  // 100 holding registers

std::string ReadText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

pid_t Spawn(const std::vector<std::string> &args, const std::string &folder, const std::string &log) {
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(120);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char *> argv;
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// The port a log line "PREFIX<port>" names, 0 until it is there.
int PortAfter(const std::string &log, const std::string &prefix) {
  size_t at = log.find(prefix);
  return at == std::string::npos ? 0 : atoi(log.c_str() + at + prefix.size());
}

std::string HttpGet(int port, const std::string &path) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  std::string body;
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
    std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
      char buffer[8192];
      ssize_t n;
      while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) body.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fd);
  return body;
}

// The poll cycles so far and their summed time, from /metrics.
struct CycleTotals {
  double count = 0, sum = 0;
};
CycleTotals Cycles(int httpPort) {
  CycleTotals totals;
  std::istringstream lines(HttpGet(httpPort, "/metrics"));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("zamgate_cycle_duration_seconds_count", 0) == 0) totals.count = atof(line.c_str() + line.rfind(' '));
    if (line.rfind("zamgate_cycle_duration_seconds_sum", 0) == 0) totals.sum = atof(line.c_str() + line.rfind(' '));
  }
  return totals;
}

// The mean cycle of the next `cycles` cycles; negative when they do not come.
double MeanCycle(int httpPort, int cycles) {
  CycleTotals start = Cycles(httpPort);
  const auto deadline = Clock::now() + std::chrono::minutes(5);
  CycleTotals now = start;
  while (now.count < start.count + cycles && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    now = Cycles(httpPort);
  }
  return now.count > start.count ? (now.sum - start.sum) / (now.count - start.count) : -1;
}

bool ParseOptions(int argc, char **argv, Options *options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--cycles" && hasValue) {
      options->cycles = atoi(argv[++i]);
    } else if (arg == "--clients" && hasValue) {
      options->clients = atoi(argv[++i]);
    } else if (arg == "--client-pause-ms" && hasValue) {
      options->clientPauseMs = atoi(argv[++i]);
    } else if (arg == "--baud" && hasValue) {
      options->baud = atoi(argv[++i]);
    } else if (arg.rfind("--report_out=", 0) == 0) {
      options->reportOut = arg.substr(strlen("--report_out="));
    } else {
      fprintf(stderr, "usage: zamgate_modbus_bench [--cycles N] [--clients N] [--client-pause-ms N] [--baud N] "
                      "[--report_out=FILE]\n");
      return false;
    }
  }
  return options->cycles > 0 && options->clients > 0;
}

// The benchmark plant's gate list with unique names (the plant lists one
// gate twice, which the gateway refuses), and the first reals made writable
// so that they can sit in holding registers (not the inputs: the gateway
// refuses to start with a read-only point listed as writable).
std::string Configuration(const std::string &folder, int *mapped) {
  std::istringstream lines(ReadText(ZAMKT_SOURCE_DIR "/bench/plant/gates.csv"));
  std::map<std::string, int> seen;
  std::string csv, writable, map;
  *mapped = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#' || line.rfind("name,", 0) == 0) continue;
    size_t comma = line.find(',');
    std::string name = line.substr(0, comma);
    if (++seen[name] > 1) name += " (" + std::to_string(seen[name]) + ")";
    csv += name + line.substr(comma) + "\n";
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

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t index = static_cast<size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return 2;
  char folderTemplate[] = "/tmp/zamgate_modbus_bench_XXXXXX";
  const std::string folder = mkdtemp(folderTemplate);
  int mapped = 0;
  std::ofstream(folder + "/zamgate.toml") << Configuration(folder, &mapped);

  std::vector<std::string> simArgs = {ZAMKT_BUILD_DIR "/n2sim", "--plant", ZAMKT_SOURCE_DIR "/bench/plant/bench.plant",
                                      "--link", folder + "/bus", "--station-types", "1"};
  if (options.baud == 0) simArgs.insert(simArgs.end(), {"--set", "pacing off"});
  if (options.baud > 0) simArgs.insert(simArgs.end(), {"--baud", std::to_string(options.baud)});
  pid_t sim = Spawn(simArgs, folder, folder + "/n2sim.log");
  for (int i = 0; i < 100 && access((folder + "/bus").c_str(), F_OK) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  pid_t gateway = Spawn({ZAMKT_BUILD_DIR "/zamgate", "--config", folder + "/zamgate.toml"}, folder,
                        folder + "/zamgate.log");
  int httpPort = 0, modbusPort = 0;
  for (int i = 0; i < 200 && (httpPort == 0 || modbusPort == 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string log = ReadText(folder + "/zamgate.log");
    httpPort = PortAfter(log, "HTTP on http://127.0.0.1:");
    modbusPort = PortAfter(log, "Modbus TCP on 127.0.0.1:");
  }
  auto finish = [&](int code) {
    Stop(gateway);
    Stop(sim);
    if (code != 0) fprintf(stderr, "zamgate_modbus_bench: the log is kept in %s\n", folder.c_str());
    if (code == 0) (void)!system(("rm -rf '" + folder + "'").c_str());
    return code;
  };
  if (httpPort == 0 || modbusPort == 0) {
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
  MeanCycle(httpPort, 1);  // to a cycle's start

  printf("poll cycle without Modbus clients, mean of %d: ", options.cycles);
  fflush(stdout);
  const double alone = MeanCycle(httpPort, options.cycles);
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
  const double loaded = MeanCycle(httpPort, options.cycles);
  stop = true;
  for (std::thread &client : clients) client.join();
  printf("%s\n", bench::Duration(loaded).c_str());

  const double median = Percentile(latencies, 0.5), p99 = Percentile(latencies, 0.99);
  printf("Modbus reads of %d holding registers: %zu, failed %d; median %s, p99 %s, slowest %s\n", 2 * mapped,
         latencies.size(), failures.load(), bench::Duration(median).c_str(), bench::Duration(p99).c_str(),
         bench::Duration(Percentile(latencies, 1.0)).c_str());
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
