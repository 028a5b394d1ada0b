// zamhost demo: starts the simulator's default plant on a pseudo-terminal,
// lets it write the station-type file into a fresh folder, and runs a short
// tour of zamhost against it, each step shown with the command line that
// does the same by hand.
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "host/zamhost/commands.h"
#include "host/common/driver_library.h"
#include "host/common/exit_codes.h"
#include "host/zamhost/sample_gates_text.h"
#include "host/zamhost/simulator_process.h"
#include "host/zamhost/interrupt.h"

namespace zamhost {

using namespace n2host;
namespace {

constexpr int kSimulatorStartMs = 5000;
constexpr int kDemoTimeoutMs = 200;
constexpr int kPollCycles = 3;
constexpr int kPollIntervalMs = 400;
constexpr int kCleanupGraceMs = 3000;

// The exchange counts n2sim logs on SIGUSR1: "n2sim: counts requests=12 ...".
std::map<std::string, long> ReadCounts(const std::string &logPath, int *linesSeen) {
  std::map<std::string, long> counts;
  std::ifstream in(logPath);
  std::string line;
  int seen = 0;
  std::string last;
  while (std::getline(in, line)) {
    if (line.rfind("n2sim: counts ", 0) != 0) continue;
    ++seen;
    last = line.substr(14);
  }
  *linesSeen = seen;
  std::istringstream words(last);
  std::string word;
  while (words >> word) {
    size_t equals = word.find('=');
    if (equals != std::string::npos) counts[word.substr(0, equals)] = atol(word.c_str() + equals + 1);
  }
  return counts;
}

// Asks the simulator for its counts and waits (briefly) for them in its log.
std::map<std::string, long> SimulatorCounts(const SimulatorProcess &simulator, const std::string &logPath) {
  int before = 0;
  ReadCounts(logPath, &before);
  simulator.Signal(SIGUSR1);
  for (int waited = 0; waited < 1000; waited += 20) {
    int seen = 0;
    std::map<std::string, long> counts = ReadCounts(logPath, &seen);
    if (seen > before) return counts;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return {};
}

class Tour {
 public:
  explicit Tour(FILE *out) : out_(out) {}

  void Section(const std::string &title, const std::string &text) {
    fprintf(out_, "\n== %d. %s\n%s\n", ++section_, title.c_str(), text.c_str());
    fflush(out_);
  }

  // Shows the command line, runs the step and notes an unexpected exit code.
  // After Ctrl-C no further step runs: the whole tour ends.
  void Step(const std::string &arguments, int expected, const std::function<int()> &run) {
    if (StopRequested()) return;
    fprintf(out_, "\n$ zamhost %s\n", arguments.c_str());
    fflush(out_);
    int code = run();
    fflush(out_);
    // Time to stop the simulator and remove the demo's folder.
    if (StopRequested()) SetStopGraceMs(kCleanupGraceMs);
    if (StopRequested()) return;
    if (code != expected) {
      failures_.push_back("'zamhost " + arguments + "' exited with " + std::to_string(code) + ", expected " +
                          std::to_string(expected));
    } else if (code != kExitOk) {
      fprintf(out_, "(exit code %d, as expected)\n", code);
    }
  }

  void Note(const std::string &text) {
    fprintf(out_, "%s\n", text.c_str());
    fflush(out_);
  }

  const std::vector<std::string> &failures() const { return failures_; }

 private:
  FILE *out_;
  int section_ = 0;
  std::vector<std::string> failures_;
};

}  // namespace

int RunDemo(const GlobalOptions &global, const DemoOptions &options) {
  FILE *out = global.out;
  auto started = std::chrono::steady_clock::now();

  const char *tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/zamhost-demo-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return Fail(kExitSimulator, "cannot make a folder for the demo");
  const std::string folder = pattern;
  {
    std::ofstream gates(folder + "/gates.csv", std::ios::binary);
    gates << kSampleGatesText;
  }

  // n2sim writes the station-type file for channel 1 into its folder; the
  // driver reads it from the current folder, so the tour runs there.
  const std::string logPath = folder + "/n2sim.log";
  const std::string program = options.simulator.empty() ? ProgramFolder() + "/n2sim" : options.simulator;
  SimulatorProcess simulator;
  std::string error;
  if (!simulator.Start(program, {"--station-types", "1"}, folder, logPath, kSimulatorStartMs, &error)) {
    if (!options.keepFolder) std::filesystem::remove_all(folder);
    return Fail(kExitSimulator, error);
  }
  const std::string port = simulator.portName();
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder);

  GlobalOptions stepGlobal = global;
  // Every step starts its own channel, so the driver repeats its start-up
  // lines and the N2 Open initialisation: each message is shown once.
  std::set<std::string> shownMessages;
  if (!global.sink) {
    stepGlobal.sink = [out, &shownMessages](const DriverMessage &message) {
      if (!shownMessages.insert(message.text).second) return;
      fprintf(out, "    driver: %s\n", message.text.c_str());
    };
  }
  ChannelOptions channel;
  channel.port = port;
  channel.timeoutMs = kDemoTimeoutMs;
  const std::string portArgs = "--port " + port + " --timeout " + std::to_string(kDemoTimeoutMs);

  fprintf(out,
          "zamhost demo: the simulator n2sim plays an N2 bus on %s with a DX9100 at\n"
          "station 1, an N2 Open device at 5, an XT9100 at 10 and a TC9100 at 20.\n"
          "It wrote the station-type file ZAMKT01.int into %s,\n"
          "where the driver reads it. Lines marked 'driver:' are the driver's own messages.\n",
          port.c_str(), folder.c_str());

  Tour tour(out);
  tour.Section("The driver describes itself", "Command 14: catalogue text, record size, serial defaults, banner.");
  tour.Step("info", kExitOk, [&] { return RunInfo(stepGlobal); });

  tour.Section("Checking a gate list",
               "Commands 3 and 4 parse every gate of gates.csv and tell which gates can share block reads.");
  tour.Step("check " + portArgs + " gates.csv", kExitOk, [&] {
    CheckOptions check{channel, {"gates.csv"}};
    return RunCheck(stepGlobal, check);
  });
  tour.Step("check " + portArgs + " 001AI01XX 001AI01HR:int32 005AO001:int16", kExitInvalidGate, [&] {
    CheckOptions check{channel, {"001AI01XX", "001AI01HR:int32", "005AO001:int16"}};
    return RunCheck(stepGlobal, check);
  });

  tour.Section("Polling with block reads",
               "Consecutive DX9100 reals and 32-bit integers go in one block read (command 6);\n"
               "the rest are read singly.");
  std::map<std::string, long> before = SimulatorCounts(simulator, logPath);
  tour.Step("poll " + portArgs + " --cycles " + std::to_string(kPollCycles) + " --interval " +
                std::to_string(kPollIntervalMs) + " gates.csv",
            kExitOk, [&] {
              PollOptions poll;
              poll.channel = channel;
              poll.gates = {"gates.csv"};
              poll.cycles = kPollCycles;
              poll.intervalMs = kPollIntervalMs;
              return RunPoll(stepGlobal, poll);
            });
  std::map<std::string, long> after = SimulatorCounts(simulator, logPath);
  if (!after.empty()) {
    tour.Note("The simulator counted " + std::to_string(after["requests"] - before["requests"]) +
              " exchanges for the poll, " + std::to_string(after["block-read"] - before["block-read"]) +
              " of them block reads.");
  }

  tour.Section("A setpoint write and the read that shows it",
               "The device keeps reals in its own 16-bit format: 21.7 is kept as 21.6875.");
  tour.Step("write " + portArgs + " --verify 001PM01LSP=21.7", kExitOk, [&] {
    WriteOptions write{channel, {"001PM01LSP=21.7"}, true};
    return RunWrite(stepGlobal, write);
  });
  tour.Step("read " + portArgs + " 001PM01LSP 001PM01SP1", kExitOk, [&] {
    ReadOptions read{channel, {"001PM01LSP", "001PM01SP1"}};
    return RunRead(stepGlobal, read);
  });

  tour.Section("A time schedule and the clock",
               "Schedule times are minutes since midnight, days are digits (1 Monday .. 7 Sunday),\n"
               "the clock time is seconds since midnight and the date a day number (day 1 = 1980-01-01).");
  tour.Step("read " + portArgs + " 001TS01START1 001TS01END1 001TS01DAYS1", kExitOk, [&] {
    ReadOptions read{channel, {"001TS01START1", "001TS01END1", "001TS01DAYS1"}};
    return RunRead(stepGlobal, read);
  });
  tour.Step("write " + portArgs + " --verify 001TS01START1=06:45 001TS01DAYS1=Mon-Sat", kExitOk, [&] {
    WriteOptions write{channel, {"001TS01START1=06:45", "001TS01DAYS1=Mon-Sat"}, true};
    return RunWrite(stepGlobal, write);
  });
  tour.Step("read " + portArgs + " 001RTCLTIME 001RTCLDATE", kExitOk, [&] {
    ReadOptions read{channel, {"001RTCLTIME", "001RTCLDATE"}};
    return RunRead(stepGlobal, read);
  });

  tour.Section("An N2 Open station: override and release",
               "A write to an N2 Open output overrides it; a write to its _O tag releases the override.");
  tour.Step("read " + portArgs + " 005AO001 005AO001_O", kExitOk, [&] {
    ReadOptions read{channel, {"005AO001", "005AO001_O"}};
    return RunRead(stepGlobal, read);
  });
  tour.Step("write " + portArgs + " --verify 005AO001=42.5", kExitOk, [&] {
    WriteOptions write{channel, {"005AO001=42.5"}, true};
    return RunWrite(stepGlobal, write);
  });
  tour.Step("read " + portArgs + " 005AO001 005AO001_O", kExitOk, [&] {
    ReadOptions read{channel, {"005AO001", "005AO001_O"}};
    return RunRead(stepGlobal, read);
  });
  tour.Step("write " + portArgs + " 005AO001_O", kExitOk, [&] {
    WriteOptions write{channel, {"005AO001_O"}, false};
    return RunWrite(stepGlobal, write);
  });
  tour.Step("read " + portArgs + " 005AO001 005AO001_O", kExitOk, [&] {
    ReadOptions read{channel, {"005AO001", "005AO001_O"}};
    return RunRead(stepGlobal, read);
  });

  std::filesystem::current_path(previous);
  simulator.Stop();
  if (options.keepFolder) {
    fprintf(out, "\nThe demo's folder stays: %s (gates.csv, ZAMKT01.int, n2sim.log)\n", folder.c_str());
  } else {
    std::filesystem::remove_all(folder);
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (StopRequested()) {
    fprintf(out, "\nDemo stopped after %.1f s; the simulator is stopped.\n", seconds);
    fflush(out);
    return kExitInterrupted;
  }
  if (!tour.failures().empty()) {
    for (const std::string &failure : tour.failures()) Warn("demo step failed: " + failure);
    return kExitFailed;
  }
  fprintf(out, "\nDemo finished in %.1f s. Next: zamhost --help, and docs/zamhost.md.\n", seconds);
  fflush(out);
  return kExitOk;
}

}  // namespace zamhost
