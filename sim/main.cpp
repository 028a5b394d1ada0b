// n2sim: plays a whole N2 bus on a pseudo-terminal. The first line on
// standard output is the port name the driver should open ("pts/7"); all
// else goes to standard error. Serves until SIGINT, SIGTERM or SIGHUP;
// SIGUSR1 prints the exchange counts.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/common/version.h"
#include "sim/plant.h"
#include "sim/pty_server.h"
#include "sim/simulator.h"

namespace {

constexpr const char *kUsage =
    "usage: n2sim [options]\n"
    "Plays an N2 bus on a pseudo-terminal; prints the port name (pts/N) as the\n"
    "first line on standard output, then serves until stopped.\n"
    "  --plant FILE         serve the plant in FILE instead of the built-in one\n"
    "  --set LINE           one more plant statement, after the plant (repeatable)\n"
    "  --link PATH          also make PATH a symbolic link to the terminal\n"
    "  --station-types N    write the station-type file ZAMKT<NN>.int of channel N\n"
    "                       for the plant into the current directory, then serve\n"
    "  --trace              print every exchange decoded on standard error\n"
    "  --stats              print the exchange counts on exit (SIGUSR1 prints\n"
    "                       them at any time)\n"
    "  --pacing             pace the line at 9600 baud\n"
    "  --baud N             pace the line at N baud\n"
    "  --static             analog inputs hold still and counters do not count\n"
    "  --seed N             seed of the fault draws (default 1)\n"
    "  --print-plant        print the built-in plant and exit\n"
    "  --version            the version and the commit n2sim was built from\n"
    "  --help               this text\n";

struct Options {
  std::string plantFile;
  std::vector<std::string> extraLines;
  std::string link;
  int stationTypesChannel = -1;
  bool trace = false;
  bool stats = false;
  int baud = -1;
  bool freeze = false;
  unsigned seed = 1;
  bool printPlant = false;
};

int UsageError(const std::string &why) {
  fprintf(stderr, "n2sim: %s\n%s", why.c_str(), kUsage);
  return 2;
}

bool ToNumber(const char *text, long low, long high, long *value) {
  char *end = nullptr;
  errno = 0;
  *value = strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && *value >= low && *value <= high;
}

// 0 to go on, or the exit status.
int ParseOptions(int argc, char **argv, Options *options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    long number = 0;
    if (arg == "--help" || arg == "-h") {
      fputs(kUsage, stdout);
      return -1;
    } else if (arg == "--version") {
      printf("n2sim %s\n", n2host::VersionText());
      return -1;
    } else if (arg == "--trace") {
      options->trace = true;
    } else if (arg == "--stats") {
      options->stats = true;
    } else if (arg == "--pacing") {
      options->baud = n2sim::kDefaultBaud;
    } else if (arg == "--static") {
      options->freeze = true;
    } else if (arg == "--print-plant") {
      options->printPlant = true;
    } else if (arg != "--plant" && arg != "--set" && arg != "--link" && arg != "--station-types" &&
               arg != "--baud" && arg != "--seed") {
      return UsageError(arg.rfind("-", 0) == 0 ? "unknown option " + arg : "unexpected argument " + arg);
    } else if (!hasValue) {
      return UsageError("option " + arg + " needs a value");
    } else if (arg == "--plant") {
      options->plantFile = argv[++i];
    } else if (arg == "--set") {
      options->extraLines.push_back(argv[++i]);
    } else if (arg == "--link") {
      options->link = argv[++i];
    } else if (arg == "--station-types") {
      if (!ToNumber(argv[++i], 0, 99, &number)) return UsageError("--station-types takes a channel 0..99");
      options->stationTypesChannel = static_cast<int>(number);
    } else if (arg == "--baud") {
      if (!ToNumber(argv[++i], 50, 1000000, &number)) return UsageError("--baud takes 50..1000000");
      options->baud = static_cast<int>(number);
    } else if (arg == "--seed") {
      if (!ToNumber(argv[++i], 0, 0x7FFFFFFF, &number)) return UsageError("--seed takes a number");
      options->seed = static_cast<unsigned>(number);
    }
  }
  return 0;
}

bool ReadFile(const std::string &path, std::string *text) {
  std::ifstream in(path);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  *text = content.str();
  return true;
}

int CountLines(const std::string &text) {
  int lines = 1;
  for (char c : text) lines += c == '\n';
  return lines;
}

// Replaces a symbolic link at path (never anything else) with one to target.
// A link that still leads to a terminal belongs to a simulator that is still
// running (a pseudo-terminal lives as long as its server): it is left alone.
bool MakeLink(const std::string &path, const std::string &target, std::string *error) {
  struct stat info;
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode)) {
      *error = path + " exists and is not a symbolic link";
      return false;
    }
    struct stat leadsTo;
    if (stat(path.c_str(), &leadsTo) == 0) {
      char buffer[512];
      const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
      *error = path + " is in use: it leads to " + std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0) +
               ", which a running simulator (or another program) still holds; stop it or choose another --link";
      return false;
    }
    unlink(path.c_str());
  }
  if (symlink(target.c_str(), path.c_str()) != 0) {
    *error = "symlink " + path + ": " + strerror(errno);
    return false;
  }
  return true;
}

void RemoveLink(const std::string &path, const std::string &target) {
  char buffer[512];
  const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
  if (n > 0 && std::string(buffer, static_cast<size_t>(n)) == target) unlink(path.c_str());
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  if (int status = ParseOptions(argc, argv, &options); status != 0) return status < 0 ? 0 : status;
  if (options.printPlant) {
    fputs(n2sim::DefaultPlantText(), stdout);
    return 0;
  }

  std::string plantText = n2sim::DefaultPlantText();
  if (!options.plantFile.empty() && !ReadFile(options.plantFile, &plantText)) {
    fprintf(stderr, "n2sim: cannot read plant file %s\n", options.plantFile.c_str());
    return 2;
  }
  n2sim::PlantSpec plant;
  std::string error;
  bool ok = n2sim::ParsePlant(plantText, &plant, &error);
  // --set lines count as lines appended to the plant; an error names the
  // statement as the user typed it.
  int nextLine = CountLines(plantText) + 1;
  for (size_t i = 0; ok && i < options.extraLines.size(); ++i) {
    ok = n2sim::ParsePlant(options.extraLines[i], &plant, &error, nextLine++);
    if (!ok) {
      const size_t colon = error.rfind("line ", 0) == 0 ? error.find(": ") : std::string::npos;
      fprintf(stderr, "n2sim: --set '%s': %s\n", options.extraLines[i].c_str(),
              colon == std::string::npos ? error.c_str() : error.c_str() + colon + 2);
      return 2;
    }
  }
  if (options.baud >= 0) plant.baud = options.baud;
  if (options.freeze) {
    plant.dynamics = false;
    for (n2sim::StationSpec &station : plant.stations) station.dynamics = 0;
  }
  n2sim::Simulator simulator;
  simulator.SetSeed(options.seed);
  if (ok && !simulator.LoadPlant(plant, &error)) {
    // An error on a line of --set names the statement as typed.
    const int line = error.rfind("line ", 0) == 0 ? atoi(error.c_str() + 5) : 0;
    const int first = CountLines(plantText) + 1;
    if (line >= first && line - first < static_cast<int>(options.extraLines.size())) {
      fprintf(stderr, "n2sim: --set '%s': %s\n", options.extraLines[static_cast<size_t>(line - first)].c_str(),
              error.c_str() + error.find(": ") + 2);
      return 2;
    }
    ok = false;
  }
  if (!ok) {
    fprintf(stderr, "n2sim: %s: %s\n", options.plantFile.empty() ? "plant" : options.plantFile.c_str(),
            error.c_str());
    return 2;
  }
  if (options.trace) {
    simulator.SetObserver([](const n2sim::ExchangeRecord &record) {
      fprintf(stderr, "n2sim: %s\n", n2sim::Simulator::FormatTrace(record).c_str());
    });
  }

  if (options.stationTypesChannel >= 0) {
    const std::string name = n2sim::StationTypesFileName(options.stationTypesChannel);
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << n2sim::StationTypesFileText(plant);
    if (!out.good()) {
      fprintf(stderr, "n2sim: cannot write %s\n", name.c_str());
      return 1;
    }
    fprintf(stderr, "n2sim: wrote %s\n", name.c_str());
  }

  // The signals are taken by sigwait below; the serving thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  n2sim::PtyServer server(&simulator);
  if (!server.Start(&error)) {
    fprintf(stderr, "n2sim: %s\n", error.c_str());
    return 1;
  }
  if (!options.link.empty() && !MakeLink(options.link, server.slavePath(), &error)) {
    fprintf(stderr, "n2sim: %s\n", error.c_str());
    return 1;
  }
  printf("%s\n", server.portName().c_str());
  fflush(stdout);
  fprintf(stderr, "n2sim: serving %zu stations on %s%s%s%s\n", plant.stations.size(), server.slavePath().c_str(),
          options.link.empty() ? "" : " (link ", options.link.c_str(), options.link.empty() ? "" : ")");

  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (received == SIGUSR1) {
      fprintf(stderr, "n2sim: counts %s\n", simulator.FormatCounts().c_str());
      continue;
    }
    break;
  }
  server.Stop();
  if (!options.link.empty()) RemoveLink(options.link, server.slavePath());
  if (options.stats) fprintf(stderr, "n2sim: counts %s\n", simulator.FormatCounts().c_str());
  fprintf(stderr, "n2sim: stopped\n");
  return 0;
}
