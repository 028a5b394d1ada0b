// The subcommands of zamhost. Each returns the process's exit code
// (exit_codes.h) and prints its own results and problems.
#ifndef ZAMKT_HOST_ZAMHOST_COMMANDS_H
#define ZAMKT_HOST_ZAMHOST_COMMANDS_H

#include <string>
#include <vector>

#include "host/zamhost/channel.h"
#include "host/zamhost/poll_output.h"
#include "host/zamhost/session.h"

namespace zamhost {

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
};
// One read of each gate.
int RunRead(const GlobalOptions &global, const ReadOptions &options);

struct WriteOptions {
  ChannelOptions channel;
  std::vector<std::string> assignments;  // GAS[:TYPE]=VALUE
  bool verify = false;                   // read back and compare after each write
};
// One write per assignment; nothing is written when any assignment is invalid.
int RunWrite(const GlobalOptions &global, const WriteOptions &options);

struct PollOptions {
  ChannelOptions channel;
  std::vector<std::string> gates;
  int intervalMs = 1000;   // from the start of one cycle to the start of the next
  int cycles = 0;          // 0: until Ctrl-C
  PollFormat format = PollFormat::kTable;
  bool blocks = true;      // group consecutive gates into block reads
  int demoteAfter = 3;     // replies missed in a row that demote a station
  int retryEvery = 5;      // a demoted station is polled every so many cycles
};
// Polls the gates every interval.
int RunPoll(const GlobalOptions &global, const PollOptions &options);

struct DemoOptions {
  std::string simulator;   // empty: n2sim beside zamhost
  bool keepFolder = false; // leave the demo's folder (station-type file, gate list)
};
// Starts the simulator's default plant and runs the scripted tour.
int RunDemo(const GlobalOptions &global, const DemoOptions &options);

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_COMMANDS_H
