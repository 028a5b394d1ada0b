// The subcommands of zamhost. Each returns the process's exit code
// (exit_codes.h) and prints its own results and problems.
#ifndef ZAMKT_HOST_ZAMHOST_COMMANDS_H
#define ZAMKT_HOST_ZAMHOST_COMMANDS_H

#include <string>
#include <vector>

#include "host/common/channel.h"
#include "host/common/poller.h"
#include "host/zamhost/poll_output.h"
#include "host/zamhost/result_rows.h"
#include "host/zamhost/session.h"

namespace zamhost {

using namespace n2host;

// The driver's self-description (command 14) and its banner in UTF-8.
int RunInfo(const GlobalOptions &global);

struct CheckOptions {
  ChannelOptions channel;           // port "NUL" unless given: parsing needs no line
  std::vector<std::string> gates;   // gate lists and GAS[:TYPE] items
};
// Parses every gate (commands 3 and 4), reports the invalid ones with the
// driver's messages, and shows the block reads a poll would make.
int RunCheck(const GlobalOptions &global, const CheckOptions &options);

struct ReadOptions {
  ChannelOptions channel;
  std::vector<std::string> gates;
  OutputFormat format = OutputFormat::kTable;
  bool all = false;  // read a silent station's remaining gates too
};
// One read of each gate.
int RunRead(const GlobalOptions &global, const ReadOptions &options);

struct WriteOptions {
  ChannelOptions channel;
  std::vector<std::string> assignments;  // GAS[:TYPE]=VALUE
  bool verify = false;                   // read back and compare after each write
  OutputFormat format = OutputFormat::kTable;
};
// One write per assignment; nothing is written when any assignment is invalid.
int RunWrite(const GlobalOptions &global, const WriteOptions &options);

struct PollOptions : PollSettings {
  ChannelOptions channel;
  std::vector<std::string> gates;
  PollFormat format = PollFormat::kTable;
};
// Polls the gates every interval.
int RunPoll(const GlobalOptions &global, const PollOptions &options);

struct ScanOptions {
  ChannelOptions channel;              // the time-out defaults short for a scan
  int from = 1;
  int to = 254;
  std::string stationFile;             // write the station-type file of what was found
  std::vector<std::string> families;   // "ADDR=TYPE" the user confirms for System 91 stations
  bool all = false;                    // identify at addresses silent to the presence probe too
  int probeTimeoutMs = 0;              // the presence probe's reply time-out; 0: ProbeTimeoutMs()
  bool points = false;                 // list the points that answer
  std::string gatesFile;               // write the gate list of those points
  std::string configFile;              // write a zamgate configuration that uses it
  std::string gatewayId = "bus1";      // the configuration's [gateway] id
  bool force = false;                  // replace files that exist
  OutputFormat format = OutputFormat::kTable;
};
// The presence probe's time-out on a line of the baud rate: the driver's
// time-out runs from the moment the request is handed to the port, so it
// covers the request's own time on the line (about 10 characters) and 10 ms
// for the station to start its reply, to the nearest of the driver's units
// of 10 ms (20 ms at 9600 baud). A shorter probe misses stations on a real
// line, and the replies it gave up on arrive during the next address's probe
// and are taken for that station's.
int ProbeTimeoutMs(int baud);
// Long enough after a probe that got a reply for the replies to its other
// attempts to have arrived: the driver's five attempts, each the probe's
// time-out and a request and reply of about 40 characters on the line. The
// driver drops what is waiting before it sends, so the next request's reply
// is its own.
int ProbeDrainMs(int baud, int probeTimeoutMs);

// Tries every address with a System 91 read and the N2 Open initialisation.
int RunScan(const GlobalOptions &global, const ScanOptions &options);

struct ClockOptions {
  ChannelOptions channel;
  std::vector<int> stations;  // empty: every address is probed for a clock
  bool sync = false;          // set the clocks from the host's first
  int probeTimeoutMs = 0;     // the presence probe's reply time-out; 0: ProbeTimeoutMs()
  OutputFormat format = OutputFormat::kTable;
};
// The clocks of DX9100 and TC9100 stations against the host's; --sync sets them.
int RunClock(const GlobalOptions &global, const ClockOptions &options);

struct DemoOptions {
  std::string simulator;   // empty: n2sim beside zamhost
  bool keepFolder = false; // leave the demo's folder (station-type file, gate list)
};
// Starts the simulator's default plant and runs the scripted tour.
int RunDemo(const GlobalOptions &global, const DemoOptions &options);

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_COMMANDS_H
