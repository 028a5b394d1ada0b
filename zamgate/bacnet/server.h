// zamgate's BACnet/IP server: one UDP socket and one thread of its own. It
// reads datagrams without ever waiting on the N2 line, answers them from the
// device (bacnet::Device), and carries the gateway's news to it through a
// mailbox: gate readings from the poll thread, ends of writes from the
// write runner. Each datagram's work is bounded (one request, one answer of
// at most one datagram); a sender over its rate is dropped without being
// decoded, so that a flood from one address leaves the others and the poll
// their share.
#ifndef ZAMKT_ZAMGATE_BACNET_SERVER_H
#define ZAMKT_ZAMGATE_BACNET_SERVER_H

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zamgate/bacnet/device.h"

namespace bacnet {

struct ServerCounters {
  std::atomic<uint64_t> datagrams{0};
  std::atomic<uint64_t> malformed{0};  // not BACnet/IP, or too long
  std::atomic<uint64_t> limited{0};    // dropped: the sender was over its rate
  std::atomic<uint64_t> sent{0};
  // The device's answers, copied after each round of the thread.
  std::atomic<uint64_t> requests{0};
  std::atomic<uint64_t> errors{0};
  std::atomic<uint64_t> rejects{0};
  std::atomic<uint64_t> aborts{0};
  std::atomic<uint64_t> notifications{0};
  std::atomic<uint64_t> subscriptions{0};  // now
};

class Server : public WriteSink {
 public:
  using Logger = std::function<void(const std::string &)>;
  // Queues a write for the gateway; the server's WriteFinished is called when it ends.
  using Submitter = std::function<bool(size_t gate, const std::string &valueText, uint64_t ticket, std::string *reason)>;

  // Checks a value alone (WriteSink::Check).
  using Checker = std::function<bool(size_t gate, const std::string &valueText, std::string *reason)>;

  Server(const BacnetConfig &config, std::vector<GateReading> gates, Submitter submit, Checker check,
         Logger logger = nullptr);
  ~Server() override;
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  // Binds the configured address and port and starts the thread. False with
  // the reason when it cannot bind.
  bool Start(std::string *error);
  void Stop();
  int port() const { return port_; }
  const ServerCounters &counters() const { return counters_; }

  // Any thread: a gate's new reading; a write's end.
  void GateChanged(size_t gate, const GateReading &reading);
  void WriteFinished(uint64_t ticket, WriteEnd end, const std::string &text);

  bool Submit(size_t gate, const std::string &valueText, uint64_t ticket, std::string *reason) override;
  bool Check(size_t gate, const std::string &valueText, std::string *reason) override;

 private:
  struct Mail;
  void Run();
  void Send(const Outgoing &out);
  void SendRaw(uint32_t ip, uint16_t port, const std::vector<uint8_t> &datagram);
  void Receive(std::vector<Outgoing> *out);
  void Register();
  bool Allowed(uint32_t ip, SteadyTime now);
  void Wake();

  const BacnetConfig config_;
  Device device_;
  Submitter submit_;
  Checker check_;
  Logger logger_;
  ServerCounters counters_;
  std::unique_ptr<Mail> mail_;
  int fd_ = -1;
  int wakeRead_ = -1, wakeWrite_ = -1;
  int port_ = 0;
  uint32_t bbmdIp_ = 0;
  SteadyTime nextRegistration_{};
  struct Bucket {
    double tokens = 0;
    SteadyTime at{};
  };
  std::vector<std::pair<uint64_t, Bucket>> buckets_;  // by sender's address, bounded
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace bacnet

#endif  // ZAMKT_ZAMGATE_BACNET_SERVER_H
