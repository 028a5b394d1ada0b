// zamhost poll: reads a gate list every interval, in block reads where the
// gates allow, until Ctrl-C or --cycles; demotes stations that stop
// answering so that they do not stall the cycle.
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "host/zamhost/command_support.h"
#include "host/zamhost/commands.h"
#include "host/common/exit_codes.h"
#include "host/common/gate_resolver.h"
#include "host/common/poller.h"

namespace zamhost {

using namespace n2host;
namespace {

std::atomic<bool> g_stop{false};

void RequestStop(int) { g_stop = true; }

// Installs the Ctrl-C (and SIGTERM) handler for the poll's lifetime. A
// request in progress finishes (the driver retries through interrupted waits);
// the poll stops before the next one.
class StopSignals {
 public:
  StopSignals() {
    g_stop = false;
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
  }

 private:
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
};

}  // namespace

int RunPoll(const GlobalOptions &global, const PollOptions &options) {
  Session session(global);
  if (!session.Start()) return kExitDriver;
  std::vector<GateSpec> specs;
  if (!LoadGates(options.gates, &specs)) return kExitUsage;

  const bool terminal = isatty(fileno(session.out())) != 0;
  std::unique_ptr<PollOutput> output = MakePollOutput(options.format, session.out(), terminal);
  Channel channel(session.driver(), session.log());
  MessageSink usual = session.DefaultSink();
  const bool showMessages = !global.quiet && !session.log().UserFile();
  PollOutput *shown = output.get();
  channel.SetSink([usual, shown, showMessages](const DriverMessage &message) {
    if (showMessages && shown->Message(message)) return;
    usual(message);
  });
  int code = kExitOk;
  if (!OpenChannel(channel, options.channel, &code)) return code;

  std::vector<Gate> valid;
  for (Gate &gate : ResolveGates(channel, specs)) {
    if (gate.valid) {
      valid.push_back(gate);
    } else {
      ReportInvalidGate(gate);
    }
  }
  if (valid.empty()) return Fail(kExitInvalidGate, "no valid gate to poll");

  StopSignals signals;
  Poller poller(channel, std::move(valid), options, *output, g_stop);
  poller.Run();
  return kExitOk;
}

}  // namespace zamhost
