// The Modbus server's counters: requests by function code, exceptions sent by
// code, clients connected now, and clients dropped or refused. The server
// thread counts; the metrics and the status page read them from any thread.
#ifndef ZAMKT_ZAMGATE_MODBUS_COUNTERS_H
#define ZAMKT_ZAMGATE_MODBUS_COUNTERS_H

#include <stdint.h>

#include <array>
#include <atomic>
#include <map>

namespace zamgate {

struct ModbusCountersSnapshot {
  std::map<int, uint64_t> requests;    // by function code, only those seen
  std::map<int, uint64_t> exceptions;  // by exception code, only those sent
  int clients = 0;                     // connected now
  uint64_t dropped = 0;  // dropped for silence, a malformed frame or an unsent answer
  uint64_t refused = 0;  // turned away at max_clients
};

class ModbusCounters {
 public:
  void Request(uint8_t function) { requests_[function].fetch_add(1, std::memory_order_relaxed); }
  void Exception(uint8_t code) { exceptions_[code].fetch_add(1, std::memory_order_relaxed); }
  void Connected() { clients_.fetch_add(1, std::memory_order_relaxed); }
  void Disconnected() { clients_.fetch_sub(1, std::memory_order_relaxed); }
  void Dropped() { dropped_.fetch_add(1, std::memory_order_relaxed); }
  void Refused() { refused_.fetch_add(1, std::memory_order_relaxed); }

  ModbusCountersSnapshot Snapshot() const {
    ModbusCountersSnapshot out;
    for (size_t code = 0; code < requests_.size(); ++code) {
      if (uint64_t n = requests_[code].load(std::memory_order_relaxed)) out.requests[static_cast<int>(code)] = n;
      if (uint64_t n = exceptions_[code].load(std::memory_order_relaxed)) out.exceptions[static_cast<int>(code)] = n;
    }
    out.clients = clients_.load(std::memory_order_relaxed);
    out.dropped = dropped_.load(std::memory_order_relaxed);
    out.refused = refused_.load(std::memory_order_relaxed);
    return out;
  }

 private:
  std::array<std::atomic<uint64_t>, 256> requests_{};
  std::array<std::atomic<uint64_t>, 256> exceptions_{};
  std::atomic<int> clients_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> refused_{0};
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_MODBUS_COUNTERS_H
