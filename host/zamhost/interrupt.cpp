#include "host/zamhost/interrupt.h"

#include <poll.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <thread>

#include "host/common/exit_cleanup.h"

namespace zamhost {
namespace {

// Margin beyond the grace for the driver's pause after a request.
constexpr int kGraceMarginMs = 300;

std::atomic<bool> g_stop{false};
std::atomic<int> g_signals{0};
std::atomic<int> g_graceMs{1000 + kGraceMarginMs};
int g_wake[2] = {-1, -1};

void Say(const char *text) {
  ssize_t ignored = write(STDERR_FILENO, text, strlen(text));
  (void)ignored;
}

void EndNow() {
  n2host::RunExitCleanup();
  Say("zamhost: stopped\n");
  _exit(kExitInterrupted);
}

void OnSignal(int) {
  if (g_signals.fetch_add(1) > 0) EndNow();
  g_stop = true;
  Say("zamhost: stopping... (Ctrl-C again ends at once)\n");
  char byte = 1;
  ssize_t ignored = write(g_wake[1], &byte, 1);
  (void)ignored;
}

// Waits for the first signal, then gives the command its grace to finish.
void Watchdog() {
  char byte;
  while (read(g_wake[0], &byte, 1) < 0) {
  }
  pollfd none = {-1, 0, 0};
  poll(&none, 0, g_graceMs.load());
  EndNow();
}

}  // namespace

void InstallInterruptHandlers() {
  if (pipe(g_wake) != 0) return;
  std::thread(Watchdog).detach();
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

const std::atomic<bool> &StopRequested() { return g_stop; }

void SetStopGraceMs(int ms) { g_graceMs = ms + kGraceMarginMs; }

}  // namespace zamhost
