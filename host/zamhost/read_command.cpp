// zamhost read: one read of each gate (command 5), with the value in the
// user's terms beside the raw number.
#include <set>

#include "host/zamhost/command_support.h"
#include "host/zamhost/commands.h"
#include "host/common/exit_codes.h"
#include "host/common/gate_resolver.h"
#include "host/common/gate_types.h"
#include "host/zamhost/text_table.h"

namespace zamhost {

using namespace n2host;

int RunRead(const GlobalOptions &global, const ReadOptions &options) {
  Session session(global);
  if (!session.Start()) return kExitDriver;
  std::vector<GateSpec> specs;
  if (!LoadGates(options.gates, &specs)) return kExitUsage;
  Channel channel(session.driver(), session.log());
  channel.SetSink(session.DefaultSink());
  int code = kExitOk;
  if (!OpenChannel(channel, options.channel, &code)) return code;

  // The code of the first failure decides the exit code.
  int exitCode = kExitOk;
  std::vector<std::vector<std::string>> rows;
  std::set<int32_t> silentStations;
  for (const GateSpec &spec : specs) {
    Gate gate = ResolveGate(channel, spec);
    if (!gate.valid) {
      ReportInvalidGate(gate);
      if (exitCode == kExitOk) exitCode = kExitInvalidGate;
      continue;
    }
    ValueBuffer buffer;
    int32_t status = channel.Read(gate, &buffer);
    if (status != 0) {
      rows.push_back({gate.spec.gas, GateTypeName(gate.type), "-", StatusWord(status)});
      if (status != 2 || silentStations.insert(gate.station).second) {
        Warn(FailureAdvice(gate, status, options.channel));
      }
      if (exitCode == kExitOk) exitCode = ExitCodeOfStatus(status);
      continue;
    }
    GateValue value = buffer.Single(gate.type);
    rows.push_back({gate.spec.gas, GateTypeName(gate.type), RawText(value), MeaningText(gate.meaning, value)});
  }
  FILE *out = session.out();
  for (const std::string &line : AlignRows(rows)) fprintf(out, "%s\n", line.c_str());
  fflush(out);
  return exitCode;
}

}  // namespace zamhost
