// zamgate's Modbus TCP server: one thread of its own that accepts clients,
// reads their frames without ever blocking on one of them, answers reads from
// the values the poller holds and hands writes to the gateway's write queue.
// It never waits on the serial line, so a client's answer does not depend on
// what the N2 bus is doing.
//
// A client is dropped when it sends a frame that is not Modbus TCP, leaves a
// frame unfinished for a second, stays silent for idle_timeout_s, or cannot
// take its answer; the others are not held up. Beyond max_clients a new
// connection is closed at once.
#ifndef ZAMKT_ZAMGATE_MODBUS_SERVER_H
#define ZAMKT_ZAMGATE_MODBUS_SERVER_H

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "zamgate/modbus/modbus_config.h"
#include "zamgate/modbus/modbus_counters.h"
#include "zamgate/modbus/modbus_data_source.h"

namespace zamgate {

struct ModbusCompletionMailbox;

class ModbusServer {
 public:
  using Logger = std::function<void(const std::string &)>;

  // config and source must outlive the server.
  ModbusServer(const ModbusConfig &config, ModbusDataSource &source, Logger logger = nullptr);
  ~ModbusServer();
  ModbusServer(const ModbusServer &) = delete;
  ModbusServer &operator=(const ModbusServer &) = delete;

  // Binds the configured address and port and starts the thread. False, with
  // the reason, when the address cannot be bound.
  bool Start(std::string *error);
  // Closes every connection and joins the thread. Safe to call twice.
  void Stop();

  // The port bound (the one the system chose when the config says 0).
  int port() const { return port_; }
  const ModbusCounters &counters() const { return counters_; }

 private:
  struct Client;
  void Run();

  const ModbusConfig &config_;
  ModbusDataSource &source_;
  Logger logger_;
  ModbusCounters counters_;
  std::shared_ptr<ModbusCompletionMailbox> mailbox_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_MODBUS_SERVER_H
