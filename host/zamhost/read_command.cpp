// zamhost read: one read of each gate (command 5), with the value in the
// user's terms beside the raw number, each row printed as soon as it is
// read. Once a station has let a read go unanswered, its remaining gates are
// not tried (each would cost the driver's five time-outs) unless --all.
#include <set>

#include "host/common/exit_codes.h"
#include "host/common/gate_resolver.h"
#include "host/common/gate_types.h"
#include "host/common/poll_output.h"
#include "host/common/refusal.h"
#include "host/zamhost/command_support.h"
#include "host/zamhost/commands.h"
#include "host/zamhost/interrupt.h"
#include "host/zamhost/result_rows.h"

namespace zamhost {

using namespace n2host;
namespace {

std::vector<Column> ReadColumns() {
  return {{"time", 29}, {"gas", 14}, {"type", 7}, {"station", 7}, {"status", 10}, {"value", 10}, {"text", 16},
          {"detail", 0}};
}

}  // namespace

int RunRead(const GlobalOptions &global, const ReadOptions &options) {
  Session session(global);
  if (!session.Start()) return kExitDriver;
  std::vector<GateSpec> specs;
  if (!LoadGates(options.gates, &specs, GateListOptions{global.latin1})) return kExitUsage;
  Channel channel(session.driver(), session.log());
  channel.SetSink(session.DefaultSink(), !global.verbose);
  int code = kExitOk;
  if (!OpenChannel(channel, options.channel, &code)) return code;
  // A failed read's messages are shown by the loop below, a run of identical
  // ones (a refusal the driver got on each of its five attempts) once.
  const MessageSink show = session.DefaultSink();
  if (!global.verbose) channel.SetSink({});
  SetStopGraceMs(options.channel.timeoutMs);

  // The code of the first failure decides the exit code.
  int exitCode = kExitOk;
  ResultRows rows(options.format, session.out(), ReadColumns());
  std::set<int32_t> silentStations;
  for (const GateSpec &spec : specs) {
    Gate gate = ResolveGate(channel, spec);
    const std::string type = GateTypeName(gate.type);
    if (!gate.valid) {
      ReportInvalidGate(gate);
      std::string detail;
      for (const std::string &problem : gate.problems) detail += (detail.empty() ? "" : "; ") + problem;
      rows.Row({TimeStamp(), spec.gas, type, gate.station, "invalid gate", nullptr, nullptr, detail});
      if (exitCode == kExitOk) exitCode = kExitInvalidGate;
      continue;
    }
    if (StopRequested()) {
      rows.Row({TimeStamp(), spec.gas, type, gate.station, "not tried", nullptr, nullptr, "stopped by the user"});
      continue;
    }
    if (!options.all && silentStations.count(gate.station) != 0) {
      rows.Row({TimeStamp(), spec.gas, type, gate.station, "not tried", nullptr, nullptr,
                "station " + std::to_string(gate.station) + " silent (--all tries every gate)"});
      continue;
    }
    ValueBuffer buffer;
    int32_t status = channel.Read(gate, &buffer);
    if (status != 0 && !global.verbose && show) {
      for (const DriverMessage &message : CollapseRepeats(channel.lastMessages())) show(message);
    }
    if (status != 0) {
      // The station's own refusal says why; otherwise the driver's last word.
      Refusal refusal = RefusalOf(channel.lastMessages());
      std::string reason = refusal.refused ? "the station refused: " + refusal.reason
                           : channel.lastMessages().empty() ? "" : channel.lastMessages().back().text;
      rows.Row({TimeStamp(), spec.gas, type, gate.station, refusal.definite ? "refused" : StatusWord(status), nullptr,
                nullptr, reason});
      // A definite refusal needs no advice beyond its reason.
      if ((status != kStatusNoReply && !refusal.definite) || (status == kStatusNoReply && silentStations.insert(gate.station).second)) {
        Warn(FailureAdvice(gate, status, options.channel));
      }
      // The driver's reason, with --quiet too.
      if (status != kStatusNoReply && !reason.empty()) Warn(spec.gas + ": " + reason);
      if (exitCode == kExitOk) exitCode = ExitCodeOfStatus(status);
      continue;
    }
    GateValue value = buffer.Single(gate.type);
    nlohmann::json raw = RawValueJson(value);
    std::string meaning = MeaningText(gate.meaning, value);
    rows.Row({TimeStamp(), spec.gas, type, gate.station, "ok", raw, meaning.empty() ? nlohmann::json() : nlohmann::json(meaning),
              raw.is_null() ? "the device holds a value that is not a finite number" : ""});
  }
  if (StopRequested() && exitCode == kExitOk) exitCode = kExitInterrupted;
  return exitCode;
}

}  // namespace zamhost
