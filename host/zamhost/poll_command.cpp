// zamhost poll: reads a gate list every interval, in block reads where the
// gates allow, until Ctrl-C or --cycles; demotes stations that stop
// answering so that they do not stall the cycle, and reopens a port that went
// away. Its exit code is read's for the last cycle, so that a cron job can
// tell a failure.
#include <unistd.h>

#include "host/common/exit_codes.h"
#include "host/common/gate_resolver.h"
#include "host/common/poller.h"
#include "host/zamhost/command_support.h"
#include "host/zamhost/commands.h"
#include "host/zamhost/interrupt.h"

namespace zamhost {

using namespace n2host;
namespace {

// The exit code of a gate's status in the last cycle, as read gives it.
constexpr struct {
  const char *status;
  int exitCode;
} kStatusCodes[] = {
    {"ok", kExitOk},          {"waiting", kExitNoReply}, {"no reply", kExitNoReply},
    {"bad reply", kExitFailed}, {"port lost", kExitPort},  {"not read", kExitOk},
};

int ExitCodeOfReading(const GateReading &reading) {
  for (const auto &row : kStatusCodes) {
    if (reading.status == row.status) return row.exitCode;
  }
  return kExitFailed;
}

}  // namespace

int RunPoll(const GlobalOptions &global, const PollOptions &options) {
  Session session(global);
  if (!session.Start()) return kExitDriver;
  std::vector<GateSpec> specs;
  if (!LoadGates(options.gates, &specs, GateListOptions{global.latin1})) return kExitUsage;

  const bool terminal = isatty(fileno(session.out())) != 0;
  std::unique_ptr<PollOutput> output = MakePollOutput(options.format, session.out(), terminal);
  Channel channel(session.driver(), session.log());
  MessageSink usual = session.DefaultSink();
  const bool showMessages = session.ShowsMessages();
  PollOutput *shown = output.get();
  channel.SetSink([usual, shown, showMessages](const DriverMessage &message) {
    if (showMessages && shown->Message(message)) return;
    usual(message);
  }, !global.verbose);
  int code = kExitOk;
  if (!OpenChannel(channel, options.channel, &code)) return code;
  SetStopGraceMs(options.channel.timeoutMs);

  // Invalid gates count first when they come first, as in read.
  std::vector<Gate> valid;
  std::vector<int> order;  // per gate of the list: its index among the valid ones, or -1
  for (Gate &gate : ResolveGates(channel, specs)) {
    if (gate.valid) {
      order.push_back(static_cast<int>(valid.size()));
      valid.push_back(gate);
    } else {
      order.push_back(-1);
      ReportInvalidGate(gate);
    }
  }
  if (valid.empty()) return Fail(kExitInvalidGate, "no valid gate to poll");

  Poller poller(channel, std::move(valid), options, *output, StopRequested());
  poller.Run();
  for (int index : order) {
    int gateCode = index < 0 ? kExitInvalidGate : ExitCodeOfReading(poller.readings()[static_cast<size_t>(index)]);
    if (gateCode != kExitOk) return gateCode;
  }
  return kExitOk;
}

}  // namespace zamhost
