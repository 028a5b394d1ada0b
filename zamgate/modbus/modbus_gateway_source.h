// The Modbus server's view of the gateway: reads come from the gate store
// (the values the poller holds), writes go to the one write queue that MQTT
// sets share, as the same text an MQTT set would carry, so they pass the same
// checks and are carried out, read back and reported the same way.
#ifndef ZAMKT_ZAMGATE_MODBUS_GATEWAY_SOURCE_H
#define ZAMKT_ZAMGATE_MODBUS_GATEWAY_SOURCE_H

#include <mutex>
#include <vector>

#include "zamgate/core/gate_store.h"
#include "zamgate/modbus/modbus_data_source.h"
#include "zamgate/core/write_queue.h"

namespace zamgate {

class GatewayModbusSource : public ModbusDataSource {
 public:
  // Registers a listener on the store: construct before the poll starts.
  GatewayModbusSource(GateStore &store, WriteQueue &queue);

  // From a copy of each gate's value and quality that the store's listener
  // keeps up to date: a read of many gates takes one short lock of its own
  // and never contends with the poll for the store's lock.
  void Read(const std::vector<size_t> &gates, std::vector<ModbusReading> *readings) override;

  // A group of writes (one Modbus request over several gates) is checked
  // whole first, against the queue's own rules and its free room, so that
  // none is queued when one would be refused. The queue checks each again
  // as it takes it. Another face filling the queue between the check and the
  // last submit can still leave the group part queued; the answer is then
  // "busy" and the queued part is carried out.
  // Each write is logged with the client that sent it; a refusal is logged
  // and counted as a rejected write, like a refused MQTT set.
  WriteAdmission Submit(const std::string &client, const std::vector<ModbusWrite> &writes,
                        std::function<void(WriteCompletion)> done, std::string *reason) override;

  // Where writes and refusals are told; set before the server starts.
  void SetWriteLog(std::function<void(const std::string &)> log, std::function<void()> refused) {
    log_ = std::move(log);
    refused_ = std::move(refused);
  }

 private:
  WriteAdmission Refuse(const std::string &client, const std::string &gateName, WriteAdmission admission,
                        const std::string &reason);

  std::function<void(const std::string &)> log_;
  std::function<void()> refused_;
  const GateStore &store_;
  WriteQueue &queue_;
  std::mutex mutex_;
  std::vector<ModbusReading> readings_;  // one per gate, in store order
};

// The text a write of this value is submitted as: the raw number, which
// the queue's check reads back to the same value.
std::string ModbusWriteText(const n2host::GateValue &value);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_MODBUS_GATEWAY_SOURCE_H
