// The Modbus face as the gateway runs it: the server over the gate store and
// the write queue, started when the configuration has a [modbus] section;
// the map for --print-map; the counters as Prometheus text and as a section
// of the status page.
#ifndef ZAMKT_ZAMGATE_MODBUS_FACE_H
#define ZAMKT_ZAMGATE_MODBUS_FACE_H

#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "zamgate/core/config.h"
#include "zamgate/core/event_log.h"
#include "zamgate/core/gate_store.h"
#include "zamgate/core/metrics.h"
#include "zamgate/modbus/modbus_gateway_source.h"
#include "zamgate/modbus/modbus_server.h"
#include "zamgate/core/write_queue.h"

namespace zamgate {

// The configured gates as the register map sees them.
std::vector<ModbusGateInfo> ModbusGates(const GatewayConfig &config);

// --print-map: the map as CSV on out; a note on err when there is no map.
// The exit code.
int PrintModbusMap(const GatewayConfig &config, FILE *out, FILE *err);

class ModbusFace {
 public:
  // Before the poll starts: the face listens to the store.
  ModbusFace(const ModbusConfig &config, GateStore &store, WriteQueue &queue);

  // Listens; False with a message.
  bool Start(std::string *error);
  void Stop();
  int port() const { return server_.port(); }
  const ModbusCounters &counters() const { return server_.counters(); }
  // Refused writes logged as events and counted with the MQTT ones; set before Start.
  void SetWriteLog(const EventLog &events, GatewayMetrics &metrics);

 private:
  GatewayModbusSource source_;
  ModbusServer server_;
};

// The counters in the Prometheus text format, labelled with the gateway.
std::string ModbusMetricsText(const std::string &gatewayId, const ModbusCountersSnapshot &counters);

// The counters as a section of the status page.
std::string ModbusStatusHtml(const ModbusConfig &config, int port, const ModbusCountersSnapshot &counters);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_MODBUS_FACE_H
