// zamgate's BACnet/IP face under load: zamgate polls the benchmark plant
// (bench/plant/) through n2sim on a paced line, and BACnet clients send
// ReadProperty requests for the Present_Value of the gates' objects over and
// over, each waiting for its answer. Measured: the time a client waits for
// each answer (median and 99th percentile, against 1 ms and 5 ms), and the
// poll cycle with the clients against the cycle without them (the BACnet
// face must not slow the poll by more than 2 %). Meanwhile a subscriber
// takes COV notifications of the DX9100's clock time (001RTCLTIME), which
// n2sim keeps on the host's clock: the value names the second it became
// current, so its arrival less that second is the time from a value
// changing in n2sim to its notification (against one cycle + 10 ms).
//
//   zamgate_bacnet_bench [--cycles N] [--clients N] [--client-pause-ms N]
//                        [--baud N] [--report_out FILE]
//
// The requests are written out octet by octet here, not with zamgate's own
// codec, so that the bench does not share a mistake with what it measures.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/figure_rows.h"
#include "bench/gateway_bench_support.h"

namespace {

using bench::Clock;

// The benchmark plant's gate list with unique names, each gate an Analog
// Input numbered from 1 in the order of the list (digital ones Binary Inputs).
struct Mapped {
  int type;
  int instance;
};
std::string Configuration(const std::string &folder, std::vector<Mapped> *objects) {
  // The clock probe first, as object analog-input 1.
  std::string csv = "Clock probe,001RTCLTIME,auto\n", map = "[[bacnet.map]]\ngate = \"Clock probe\"\ninstance = 1\n";
  objects->push_back({0, 1});
  for (const auto &[name, line] : bench::BenchPlantGates()) {
    csv += name + line + "\n";
    const int instance = static_cast<int>(objects->size()) + 1;
    objects->push_back({line.find(",digital") != std::string::npos ? 3 : 0, instance});
    map += "[[bacnet.map]]\ngate = \"" + name + "\"\ninstance = " + std::to_string(instance) + "\n";
  }
  std::ofstream(folder + "/gates.csv") << csv;
  return "[gateway]\nid = \"bench\"\n[line]\nport = \"" + folder + "/bus\"\ntimeout_ms = 200\n"
         "station_types_file = \"ZAMKT01.int\"\n[poll]\ninterval_ms = 0\n[gates]\ncsv = \"gates.csv\"\n"
         "[mqtt]\nport = 9\nreconnect_max_s = 60\n[http]\nlisten = \"127.0.0.1:0\"\n"
         "[bacnet]\nlisten = \"127.0.0.1:0\"\ndevice_instance = 1\nrequests_per_s = 100000\n" + map;
}

// ReadProperty of an object's Present_Value as a BACnet/IP datagram.
std::vector<uint8_t> ReadRequest(Mapped object, uint8_t invokeId) {
  const uint32_t id = static_cast<uint32_t>(object.type) << 22 | static_cast<uint32_t>(object.instance);
  return {0x81, 0x0A, 0x00, 0x11, 0x01, 0x04, 0x00, 0x05, invokeId, 0x0C, 0x0C, static_cast<uint8_t>(id >> 24),
          static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0x19, 0x55};
}

// Sends the request and waits up to a second for its Complex-ACK.
bool Ask(int fd, const sockaddr_in &to, const std::vector<uint8_t> &request) {
  if (sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) < 0) return false;
  uint8_t answer[1600];
  const auto deadline = Clock::now() + std::chrono::seconds(1);
  while (Clock::now() < deadline) {
    pollfd in = {fd, POLLIN, 0};
    if (poll(&in, 1, 100) != 1) continue;
    ssize_t size = recv(fd, answer, sizeof answer, 0);
    // 81 0A len | 01 00 | 30 invoke 0C ...: the answer to this request.
    if (size > 8 && answer[6] == 0x30 && answer[7] == request[8]) return true;
  }
  return false;
}

// Local seconds since midnight, now.
double LocalSecondsOfDay() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + now.tv_nsec / 1e9;
}

// Subscribes (unconfirmed, no lifetime) to analog-input 1 and keeps, per
// notification after the first, its arrival less the second its value names.
void Subscriber(const sockaddr_in &to, const std::atomic<bool> &stop, std::vector<double> *latencies) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const std::vector<uint8_t> subscribe = {0x81, 0x0A, 0x00, 0x15, 0x01, 0x04, 0x00, 0x05, 0x01, 0x05, 0x09,
                                          0x01, 0x1C, 0x00, 0x00, 0x00, 0x01, 0x29, 0x00, 0x39, 0x00};
  sendto(fd, subscribe.data(), subscribe.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
  int seen = 0;
  while (!stop) {
    pollfd in = {fd, POLLIN, 0};
    if (poll(&in, 1, 100) != 1) continue;
    uint8_t answer[1600];
    ssize_t size = recv(fd, answer, sizeof answer, 0);
    const double arrival = LocalSecondsOfDay();
    // An unconfirmed COV notification: Present_Value (09 55), opening 2, a REAL.
    if (size < 8 || answer[6] != 0x10 || answer[7] != 0x02) continue;
    for (ssize_t i = 8; i + 8 < size; ++i) {
      if (answer[i] != 0x09 || answer[i + 1] != 0x55 || answer[i + 2] != 0x2E || answer[i + 3] != 0x44) continue;
      uint32_t bits = uint32_t{answer[i + 4]} << 24 | uint32_t{answer[i + 5]} << 16 | uint32_t{answer[i + 6]} << 8 |
                      answer[i + 7];
      float value;
      memcpy(&value, &bits, sizeof value);
      double late = arrival - value;
      if (late < -43200) late += 86400;
      if (++seen > 1) latencies->push_back(late);
      break;
    }
  }
  close(fd);
}

}  // namespace

int main(int argc, char **argv) {
  bench::GatewayBenchOptions options;
  if (!bench::ParseGatewayBenchOptions(argc, argv, "zamgate_bacnet_bench", &options)) return 2;
  bench::BenchGateway run;
  run.program = "zamgate_bacnet_bench";
  run.folder = bench::MakeBenchFolder(run.program);
  const std::string &folder = run.folder;
  std::vector<Mapped> objects;
  std::ofstream(folder + "/zamgate.toml") << Configuration(folder, &objects);
  const bool started = bench::StartBenchGateway(&run, options.baud, "BACnet/IP on 127.0.0.1:");
  const int httpPort = run.httpPort, bacnetPort = run.facePort;
  auto finish = [&](int code) { return bench::FinishBenchGateway(run, code); };
  if (!started || objects.empty()) {
    fprintf(stderr, "zamgate_bacnet_bench: zamgate did not start\n");
    return finish(1);
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<uint16_t>(bacnetPort));

  bench::MeanCycle(httpPort, 2);  // past the first cycle, with the N2 Open station's initialisation

  printf("poll cycle without BACnet clients, mean of %d: ", options.cycles);
  fflush(stdout);
  const double alone = bench::MeanCycle(httpPort, options.cycles);
  printf("%s\n", bench::Duration(alone).c_str());

  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::vector<double> latencies;
  std::atomic<int> failures{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < options.clients; ++c) {
    clients.emplace_back([&, c] {
      int fd = socket(AF_INET, SOCK_DGRAM, 0);
      std::vector<double> mine;
      uint8_t invoke = 0;
      for (size_t k = static_cast<size_t>(c); !stop; ++k) {
        const auto request = ReadRequest(objects[k % objects.size()], invoke++);
        auto start = Clock::now();
        if (Ask(fd, to, request)) {
          mine.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        } else {
          ++failures;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(options.clientPauseMs));
      }
      close(fd);
      std::lock_guard<std::mutex> lock(mutex);
      latencies.insert(latencies.end(), mine.begin(), mine.end());
    });
  }
  std::vector<double> covLatencies;
  std::thread subscriber([&] { Subscriber(to, stop, &covLatencies); });
  printf("poll cycle with %d BACnet clients, mean of %d: ", options.clients, options.cycles);
  fflush(stdout);
  const double loaded = bench::MeanCycle(httpPort, options.cycles);
  stop = true;
  for (std::thread &client : clients) client.join();
  subscriber.join();
  printf("%s\n", bench::Duration(loaded).c_str());

  const double median = bench::Percentile(latencies, 0.5), p99 = bench::Percentile(latencies, 0.99);
  printf("BACnet ReadProperty of Present_Value: %zu, failed %d; median %s, p99 %s, slowest %s\n", latencies.size(),
         failures.load(), bench::Duration(median).c_str(), bench::Duration(p99).c_str(),
         bench::Duration(bench::Percentile(latencies, 1.0)).c_str());
  printf("cycle with clients / without: %.4f\n", loaded / alone);
  const double covMedian = bench::Percentile(covLatencies, 0.5), covWorst = bench::Percentile(covLatencies, 1.0);
  printf("value change in n2sim to COV notification: %zu, median %s, worst %s (one cycle + 10 ms: %s)\n",
         covLatencies.size(), bench::Duration(covMedian).c_str(), bench::Duration(covWorst).c_str(),
         bench::Duration(loaded + 0.010).c_str());

  if (!options.reportOut.empty()) {
    const std::string clientsText = std::to_string(options.clients) + " clients";
    std::vector<bench::FigureRow> rows = {
        bench::TimedRow("BACnet ReadProperty during the paced poll, " + clientsText + ", median", median, 0.001,
                        "target", 1.0),
        bench::TimedRow("BACnet ReadProperty during the paced poll, " + clientsText + ", p99", p99, 0.005, "target",
                        1.0),
        bench::TimedRow("Paced poll cycle of the benchmark plant in zamgate with " + clientsText + " reading BACnet",
                        loaded, alone, "the same without BACnet clients", 1.02),
        bench::TimedRow("BACnet: value change in n2sim to COV notification, median of " +
                            std::to_string(covLatencies.size()),
                        covMedian, loaded + 0.010, "one cycle + 10 ms", 1.0),
        bench::TimedRow("BACnet: value change in n2sim to COV notification, worst", covWorst, loaded + 0.010,
                        "one cycle + 10 ms", 1.0),
    };
    if (!bench::AppendRows(options.reportOut, rows)) return finish(1);
  }
  return finish(failures == 0 && alone > 0 && loaded > 0 ? 0 : 1);
}
