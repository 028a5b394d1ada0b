// Ctrl-C and SIGTERM for every command. The first asks the command to stop:
// "stopping..." is printed, the flag is set, and the request in progress may
// finish; should it still run after its grace (one exchange's time-out, set
// by the command), the program ends there, as it does at once on a second
// Ctrl-C. Ending early runs the exit cleanup (port links, the simulator,
// the terminal's screen) and exits with 130.
#ifndef ZAMKT_HOST_ZAMHOST_INTERRUPT_H
#define ZAMKT_HOST_ZAMHOST_INTERRUPT_H

#include <atomic>

namespace zamhost {

// The exit code of a program ended by Ctrl-C before it finished (128 + SIGINT).
constexpr int kExitInterrupted = 130;

// Installs the handlers and the watchdog. Call once, early in main.
void InstallInterruptHandlers();

// Set once the user asked to stop.
const std::atomic<bool> &StopRequested();

// How long a stop may wait for the request in progress.
void SetStopGraceMs(int ms);

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_INTERRUPT_H
