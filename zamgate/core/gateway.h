// One gateway: the driver loaded, the channel opened, the gates resolved, the
// faces started, and the poll run until a stop is asked for; then a clean end
// (status offline, queued writes cancelled, the port closed). Also the
// configuration check, which parses every gate through the driver on the
// port "NUL" without touching the line or the broker.
#ifndef ZAMKT_ZAMGATE_GATEWAY_H
#define ZAMKT_ZAMGATE_GATEWAY_H

#include <atomic>

#include "zamgate/core/config.h"

namespace zamgate {

// The exit codes of zamgate (those of zamhost where they mean the same).
enum GatewayExit : int {
  kGatewayOk = 0,
  kGatewayConfig = 2,       // the configuration is wrong
  kGatewayInvalidGate = 3,  // the driver refused a gate
  kGatewayPort = 4,         // the port cannot be opened
  kGatewayDriver = 6,       // the driver cannot be loaded
  kGatewayFace = 9,         // the MQTT client or the HTTP listener cannot start
};

// Runs the gateway until stop is set. The exit code.
int RunGateway(const GatewayConfig &config, const std::atomic<bool> &stop);

// --check-config: prints what it found on standard output. The exit code.
int CheckGatewayConfig(const GatewayConfig &config);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_GATEWAY_H
