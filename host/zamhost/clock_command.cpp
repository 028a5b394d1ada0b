// zamhost clock: the clocks of the stations against the host's, and with
// --sync set from it. Without station addresses every address is probed for
// a clock with the short time-out of the scan, and each station found is
// read with the configured one.
#include <time.h>

#include <chrono>
#include <memory>
#include <thread>

#include "host/common/exit_codes.h"
#include "host/common/poll_output.h"
#include "host/common/station_clock.h"
#include "host/zamhost/command_support.h"
#include "host/zamhost/commands.h"
#include "host/zamhost/interrupt.h"
#include "host/zamhost/result_rows.h"

namespace zamhost {

using namespace n2host;
namespace {

// A channel of the user's station types with the time-out given.
std::unique_ptr<Channel> OpenWith(Session &session, const ChannelOptions &base, int timeoutMs, bool messages, int *code) {
  auto channel = std::make_unique<Channel>(session.driver(), session.log());
  if (messages) channel->SetSink(session.DefaultSink(), !session.options().verbose);
  ChannelOptions options = base;
  options.timeoutMs = timeoutMs;
  int why = kExitOk;
  if (!OpenChannel(*channel, options, &why)) {
    *code = why;
    return nullptr;
  }
  return channel;
}

}  // namespace

int RunClock(const GlobalOptions &global, const ClockOptions &given) {
  ClockOptions options = given;
  if (options.probeTimeoutMs <= 0) options.probeTimeoutMs = ProbeTimeoutMs(options.channel.baud);
  Session session(global);
  if (!session.Start()) return kExitDriver;
  SetStopGraceMs(options.channel.timeoutMs);
  int code = kExitOk;
  std::vector<int> stations = options.stations;
  const bool probe = stations.empty();
  if (probe) {
    for (int address = 1; address <= 254; ++address) stations.push_back(address);
  }
  ResultRows rows(options.format, session.out(),
                  {{"time", 29}, {"station", 7}, {"family", 7}, {"station clock", 24}, {"host clock", 24},
                   {"ahead_s", 8}, {"detail"}});
  int shown = 0;
  int exitCode = kExitOk;
  for (int address : stations) {
    if (StopRequested()) break;
    if (address < 1 || address > 254) return Fail(kExitUsage, "stations are 1 to 254, not " + std::to_string(address));
    if (probe) {
      // Presence first, with the short time-out: a silent address costs the
      // driver's five attempts of it.
      std::unique_ptr<Channel> quick = OpenWith(session, options.channel, options.probeTimeoutMs, false, &code);
      if (!quick) return code;
      StationClock ignored;
      std::string why;
      if (ClockFamily(*quick, address).empty() || ReadStationClock(*quick, address, &ignored, &why) == kStatusNoReply) {
        continue;
      }
      quick.reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(ProbeDrainMs(options.channel.baud, options.probeTimeoutMs)));
    }
    std::unique_ptr<Channel> channel = OpenWith(session, options.channel, options.channel.timeoutMs, true, &code);
    if (!channel) return code;
    if (ClockFamily(*channel, address).empty()) {
      rows.Row({TimeStamp(), address, nullptr, nullptr, nullptr, nullptr,
                "no clock: station " + std::to_string(address) + " is not a DX9100 or TC9100 to the driver"});
      if (exitCode == kExitOk) exitCode = kExitInvalidGate;
      continue;
    }
    std::string detail;
    if (options.sync) {
      std::string why;
      int32_t status = SetStationClock(*channel, address, time(nullptr), &why);
      detail = status == kStatusOk ? "set from the host's clock" : "not set: " + why;
      if (status != kStatusOk && exitCode == kExitOk) exitCode = ExitCodeOfStatus(status);
    }
    StationClock clock;
    std::string why;
    int32_t status = ReadStationClock(*channel, address, &clock, &why);
    const time_t now = time(nullptr);
    if (status != kStatusOk) {
      rows.Row({TimeStamp(), address, clock.family, nullptr, nullptr, nullptr, why});
      if (exitCode == kExitOk) exitCode = ExitCodeOfStatus(status);
      continue;
    }
    ++shown;
    StationClock host = HostClock(clock.family, now);
    rows.Row({TimeStamp(), address, clock.family, ClockText(clock), ClockText(host), ClockOffsetSeconds(clock, host),
              detail});
  }
  if (StopRequested()) return kExitInterrupted;
  if (probe && shown == 0) return Fail(kExitNoReply, "no station with a clock answers");
  return exitCode;
}

}  // namespace zamhost
