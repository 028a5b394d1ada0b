// zamhost check: every gate of a gate list through the driver's parser
// (commands 3 and 4), the invalid ones with the driver's own messages, and
// the block reads that a poll of the list would make.
#include "host/zamhost/command_support.h"
#include "host/zamhost/commands.h"
#include "host/common/exit_codes.h"
#include "host/common/gate_resolver.h"
#include "host/common/gate_types.h"
#include "host/common/poll_plan.h"
#include "host/zamhost/text_table.h"

namespace zamhost {

using namespace n2host;

int RunCheck(const GlobalOptions &global, const CheckOptions &options) {
  Session session(global);
  if (!session.Start()) return kExitDriver;
  std::vector<GateSpec> specs;
  if (!LoadGates(options.gates, &specs, GateListOptions{global.latin1})) return kExitUsage;

  ChannelOptions channelOptions = options.channel;
  if (channelOptions.port.empty()) channelOptions.port = "NUL";  // parsing sends nothing
  Channel channel(session.driver(), session.log());
  channel.SetSink(session.DefaultSink(), !global.verbose);
  int code = kExitOk;
  if (!OpenChannel(channel, channelOptions, &code)) return code;

  std::vector<Gate> gates = ResolveGates(channel, specs);
  FILE *out = session.out();
  std::vector<std::vector<std::string>> rows = {{"name", "gas", "type", "station", "location", "kind", "block"}};
  int invalid = 0;
  for (const Gate &gate : gates) {
    if (!gate.valid) {
      ++invalid;
      rows.push_back({gate.spec.name, gate.spec.gas, GateTypeName(gate.spec.type), "-", "-", "INVALID", "-"});
      continue;
    }
    rows.push_back({gate.spec.name, gate.spec.gas, GateTypeName(gate.type), std::to_string(gate.station),
                    GateLocation(gate), KindName(gate.meaning.kind), BlockCandidate(gate) ? "yes" : "no"});
  }
  for (const std::string &line : AlignRows(rows)) fprintf(out, "%s\n", line.c_str());

  if (invalid > 0) {
    fprintf(out, "\ninvalid gates:\n");
    for (const Gate &gate : gates) {
      if (gate.valid) continue;
      fprintf(out, "  %s%s\n", gate.spec.gas.c_str(), gate.spec.origin.empty() ? "" : (" (" + gate.spec.origin + ")").c_str());
      for (const std::string &problem : gate.problems) fprintf(out, "      %s\n", problem.c_str());
    }
  }

  fprintf(out, "\npoll plan:\n");
  for (const std::string &line : DescribePlan(PlanPoll(gates, true), gates)) fprintf(out, "  %s\n", line.c_str());
  fprintf(out, "\n%d gate%s, %d invalid\n", static_cast<int>(gates.size()), gates.size() == 1 ? "" : "s", invalid);
  fflush(out);
  return invalid > 0 ? kExitInvalidGate : kExitOk;
}

}  // namespace zamhost
