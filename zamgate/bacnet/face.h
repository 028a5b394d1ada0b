// The BACnet/IP face as the gateway runs it: the server over the gate store
// and the write queue, started when the configuration has a [bacnet]
// section, and the object map for --print-map.
#ifndef ZAMKT_ZAMGATE_BACNET_FACE_H
#define ZAMKT_ZAMGATE_BACNET_FACE_H

#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "zamgate/bacnet/server.h"
#include "zamgate/core/config.h"
#include "zamgate/core/gate_store.h"
#include "zamgate/core/write_queue.h"

namespace zamgate {

// The configured gates as the object map sees them.
std::vector<bacnet::GateInfo> BacnetGates(const GatewayConfig &config);

// --print-map: the BACnet objects, as [[bacnet.map]] entries; nothing
// without a [bacnet] section.
void PrintBacnetMap(const GatewayConfig &config, FILE *out);

class BacnetFace {
 public:
  // Before the poll starts: the face listens to the store.
  BacnetFace(const bacnet::BacnetConfig &config, GateStore &store, WriteQueue &queue);

  bool Start(std::string *error);
  void Stop();
  int port() const { return server_->port(); }
  const bacnet::ServerCounters &counters() const { return server_->counters(); }

 private:
  std::unique_ptr<bacnet::Server> server_;
};

// The counters in the Prometheus text format, labelled with the gateway.
std::string BacnetMetricsText(const std::string &gatewayId, const bacnet::ServerCounters &counters);

// The counters as a section of the status page.
std::string BacnetStatusHtml(const bacnet::BacnetConfig &config, int port, const bacnet::ServerCounters &counters);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_BACNET_FACE_H
