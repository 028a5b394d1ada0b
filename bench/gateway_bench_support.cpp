#include "bench/gateway_bench_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace bench {

namespace {

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

}  // namespace

bool ParseGatewayBenchOptions(int argc, char **argv, const std::string &program, GatewayBenchOptions *options) {
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
      fprintf(stderr, "usage: %s [--cycles N] [--clients N] [--client-pause-ms N] [--baud N] [--report_out=FILE]\n",
              program.c_str());
      return false;
    }
  }
  return options->cycles > 0 && options->clients > 0;
}

std::string ReadText(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::pair<std::string, std::string>> BenchPlantGates() {
  std::istringstream lines(ReadText(ZAMKT_SOURCE_DIR "/bench/plant/gates.csv"));
  std::map<std::string, int> seen;
  std::vector<std::pair<std::string, std::string>> gates;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#' || line.rfind("name,", 0) == 0) continue;
    size_t comma = line.find(',');
    std::string name = line.substr(0, comma);
    if (++seen[name] > 1) name += " (" + std::to_string(seen[name]) + ")";
    gates.emplace_back(name, line.substr(comma));
  }
  return gates;
}

std::string MakeBenchFolder(const std::string &program) {
  std::string folderTemplate = "/tmp/" + program + "_XXXXXX";
  return mkdtemp(&folderTemplate[0]);
}

bool StartBenchGateway(BenchGateway *run, int baud, const std::string &facePrefix) {
  const std::string &folder = run->folder;
  std::vector<std::string> simArgs = {ZAMKT_BUILD_DIR "/n2sim", "--plant", ZAMKT_SOURCE_DIR "/bench/plant/bench.plant",
                                      "--link", folder + "/bus", "--station-types", "1"};
  if (baud == 0) simArgs.insert(simArgs.end(), {"--set", "pacing off"});
  if (baud > 0) simArgs.insert(simArgs.end(), {"--baud", std::to_string(baud)});
  run->sim = Spawn(simArgs, folder, folder + "/n2sim.log");
  for (int i = 0; i < 100 && access((folder + "/bus").c_str(), F_OK) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  run->gateway = Spawn({ZAMKT_BUILD_DIR "/zamgate", "--config", folder + "/zamgate.toml"}, folder,
                       folder + "/zamgate.log");
  for (int i = 0; i < 200 && (run->httpPort == 0 || run->facePort == 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string log = ReadText(folder + "/zamgate.log");
    run->httpPort = PortAfter(log, "HTTP on http://127.0.0.1:");
    run->facePort = PortAfter(log, facePrefix);
  }
  return run->httpPort != 0 && run->facePort != 0;
}

int FinishBenchGateway(const BenchGateway &run, int code) {
  Stop(run.gateway);
  Stop(run.sim);
  if (code != 0) fprintf(stderr, "%s: the log is kept in %s\n", run.program.c_str(), run.folder.c_str());
  if (code == 0) (void)!system(("rm -rf '" + run.folder + "'").c_str());
  return code;
}

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

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t index = static_cast<size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

}  // namespace bench
