// The exit codes of zamhost, one per kind of trouble a user can act on.
#ifndef ZAMKT_HOST_COMMON_EXIT_CODES_H
#define ZAMKT_HOST_COMMON_EXIT_CODES_H

namespace n2host {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,          // a station answered, but the read or write failed
  kExitUsage = 2,           // bad command line, gate list or value
  kExitInvalidGate = 3,     // the driver refused a gate address
  kExitPort = 4,            // the port is missing, held by another program or unusable
  kExitNoReply = 5,         // a station did not answer
  kExitDriver = 6,          // the driver library could not be loaded
  kExitNotApplied = 7,      // write --verify: acknowledged, but the device holds another value
  kExitSimulator = 8        // demo: the simulator could not be started
};

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_EXIT_CODES_H
