// zamgate: an unattended N2 gateway. One process serves one serial port:
//   zamgate --config FILE          run until SIGTERM or SIGINT
//   zamgate --check-config FILE    check the file and every gate, touching neither port nor broker
//   zamgate --print-map FILE       the Modbus register map as CSV, then the BACnet objects
//   zamgate --version              the version and the commit it was built from
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <string>

#include "host/common/version.h"
#include "zamgate/bacnet/face.h"
#include "zamgate/core/config.h"
#include "zamgate/core/gateway.h"
#include "zamgate/modbus/modbus_face.h"

namespace {

std::atomic<bool> g_stop{false};

void RequestStop(int) { g_stop = true; }

int Usage(FILE *out, int code) {
  fprintf(out,
          "usage: zamgate --config FILE        run the gateway the file describes\n"
          "       zamgate --check-config FILE  check the file and parse every gate through the driver\n"
          "       zamgate --print-map FILE     print the Modbus register map as CSV and the BACnet objects\n"
          "       zamgate --version            print the version and the commit zamgate was built from\n"
          "       zamgate --help               print this text\n");
  return code;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) return Usage(stdout, 0);
  if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    printf("zamgate %s\n", n2host::VersionText());
    return 0;
  }
  if (argc != 3 || (strcmp(argv[1], "--config") != 0 && strcmp(argv[1], "--check-config") != 0 &&
                    strcmp(argv[1], "--print-map") != 0)) {
    return Usage(stderr, zamgate::kGatewayConfig);
  }
  zamgate::GatewayConfig config;
  std::string error;
  if (!zamgate::LoadConfig(argv[2], &config, &error)) {
    fprintf(stderr, "zamgate: %s\n", error.c_str());
    return zamgate::kGatewayConfig;
  }
  if (strcmp(argv[1], "--check-config") == 0) return zamgate::CheckGatewayConfig(config);
  if (strcmp(argv[1], "--print-map") == 0) {
    if (config.bacnet.enabled && !config.modbus.enabled) {
      zamgate::PrintBacnetMap(config, stdout);
      return 0;
    }
    const int code = zamgate::PrintModbusMap(config, stdout, stderr);
    zamgate::PrintBacnetMap(config, stdout);
    return code;
  }

  // A request in progress finishes (the driver retries through interrupted
  // waits); the gateway stops before the next one.
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a closed broker or browser socket is an error, not an end
  return zamgate::RunGateway(config, g_stop);
}
