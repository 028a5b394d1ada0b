#include "host/zamhost/command_support.h"

#include <sstream>

#include "host/common/exit_codes.h"
#include "host/common/point_meaning.h"

namespace zamhost {

using namespace n2host;
namespace {

constexpr int kDriverAttempts = 5;

}  // namespace

bool OpenChannel(Channel &channel, const ChannelOptions &options, int *code) {
  if (options.port.empty()) {
    *code = Fail(kExitUsage, "no port given: name the serial port with --port (e.g. --port ttyUSB0 or --port /dev/ttyS0)");
    return false;
  }
  std::string error;
  if (!channel.Open(options, &error, code)) {
    Fail(*code, error);
    return false;
  }
  return true;
}

bool LoadGates(const std::vector<std::string> &arguments, std::vector<GateSpec> *specs,
               const GateListOptions &listOptions) {
  std::string error;
  if (!CollectGates(arguments, specs, &error, listOptions)) {
    // One line per bad line of a list.
    std::istringstream lines(error);
    std::string line;
    while (std::getline(lines, line)) Warn(line);
    return false;
  }
  if (specs->empty()) {
    Fail(kExitUsage, "no gates given: name gates (e.g. 001AI01HR or 001AI01HR:real) or a gate list (gates.csv)");
    return false;
  }
  return true;
}

void ReportInvalidGate(const Gate &gate) {
  std::string where = gate.spec.origin.empty() ? "" : " (" + gate.spec.origin + ")";
  Warn("invalid gate " + gate.spec.gas + where + ":");
  for (const std::string &problem : gate.problems) fprintf(stderr, "    %s\n", problem.c_str());
  fflush(stderr);
}

int ExitCodeOfStatus(int32_t status) {
  if (status == 0) return kExitOk;
  return status == kStatusNoReply ? kExitNoReply : kExitFailed;
}

std::string FailureAdvice(const Gate &gate, int32_t status, const ChannelOptions &options) {
  std::string station = "station " + std::to_string(gate.station);
  if (status == kStatusNoReply) {
    return station + " does not answer (" + std::to_string(kDriverAttempts) + " attempts, " +
           std::to_string(options.timeoutMs) + " ms each): check the station address, its power and wiring, "
           "and the line settings (--baud, --parity)";
  }
  if (status == kStatusBadReply) {
    return station + " answered, but " + gate.spec.gas +
           " failed: the station refused the request or the reply was damaged (the driver's messages say which)";
  }
  return station + ": " + gate.spec.gas + " failed with driver status " + std::to_string(status);
}

std::string GateLocation(const Gate &gate) {
  if (gate.meaning.n2open) {
    constexpr const char *kRegions[] = {"AI", "BI", "AO", "BO", "AF", "AD", "BD"};
    int32_t region = gate.region >= kFirstOverrideRegion ? gate.region - 1005 : gate.region - 1000;
    std::string name = region >= 1 && region <= 7 ? kRegions[region - 1] : "region " + std::to_string(gate.region);
    return name + " object " + std::to_string(gate.element) + (gate.region >= kFirstOverrideRegion ? " override" : "");
  }
  if (gate.region == kSpecialSchedule) return "schedule item " + std::to_string(gate.element);
  if (gate.region == kSpecialClock) return "clock item " + std::to_string(gate.element);
  std::string location = "@" + std::to_string(gate.element);
  if (gate.bit != 255) location += " bit " + std::to_string(gate.bit);
  return location;
}

std::string KindName(PointKind kind) {
  switch (kind) {
    case PointKind::kPlain: return "number";
    case PointKind::kDigital: return "digital";
    case PointKind::kScheduleTime: return "schedule time";
    case PointKind::kScheduleDays: return "schedule days";
    case PointKind::kClockTime: return "clock time";
    case PointKind::kClockDate: return "clock date";
    case PointKind::kOverride: return "override";
  }
  return "";
}

}  // namespace zamhost
