// zamhost info: what the driver says about itself through command 14.
#include <string>

#include "host/zamhost/commands.h"
#include "host/zamhost/cp437.h"
#include "host/common/exit_codes.h"
#include "host/zamhost/text_table.h"

namespace zamhost {

using namespace n2host;
namespace {

std::string ParityName(int code) {
  constexpr const char *kNames[] = {"no parity", "odd parity", "even parity", "mark parity", "space parity"};
  return code >= 0 && code <= 4 ? kNames[code] : "parity code " + std::to_string(code);
}

std::string StopBitsName(int code) {
  constexpr const char *kNames[] = {"1 stop bit", "1.5 stop bits", "2 stop bits"};
  return code >= 0 && code <= 2 ? kNames[code] : "stop-bits code " + std::to_string(code);
}

}  // namespace

int RunInfo(const GlobalOptions &global) {
  Session session(global);
  if (!session.Start()) return kExitDriver;
  DriverInfoBlock info = session.driver().Info();
  const PortSettings &serial = info.defaults;
  std::string settings = std::to_string(serial.baud) + " baud, " + std::to_string(serial.dataBits & 0xFF) +
                         " data bits, " + ParityName(serial.parity & 0xFF) + ", " + StopBitsName(serial.stopBits & 0xFF);
  std::vector<std::vector<std::string>> rows = {
      {"driver", session.driver().path()},
      {"catalogue", info.catalogueText != nullptr ? info.catalogueText : "(none)"},
      {"driver id", std::to_string(info.driverId)},
      {"record size", std::to_string(info.recordSize) + " bytes per channel (ChannelContext)"},
      {"serial defaults", settings},
      {"host constants", std::to_string(info.constant4) + ", " + std::to_string(info.constant3)},
  };
  FILE *out = session.out();
  for (const std::string &line : AlignRows(rows)) fprintf(out, "%s\n", line.c_str());
  fprintf(out, "banner:%s", Cp437ToUtf8(info.banner != nullptr ? info.banner : "\n").c_str());
  fflush(out);
  return kExitOk;
}

}  // namespace zamhost
