// zamhost scan: what is on the bus. Every address of the range gets a
// System 91 read (a DX9100 point, through a channel that takes every station
// for a DX9100) and the N2 Open initialisation (through a channel whose
// station-type file names every address N2OPEN), with a short time-out. An
// address that answers either is listed with how it answered; the
// station-type file for what was found can be written. The initialisation
// goes only to addresses that answered the read, unless --all.
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "host/common/exit_codes.h"
#include "host/common/gate_resolver.h"
#include "host/common/poll_output.h"
#include "host/common/station_types_file.h"
#include "host/zamhost/command_support.h"
#include "host/zamhost/commands.h"
#include "host/zamhost/interrupt.h"
#include "host/zamhost/result_rows.h"

namespace zamhost {

using namespace n2host;
namespace {

// A point every DX9100 has (analog input 1's high range); XT9100 and TC9100
// stations refuse its address, which still shows that they are there.
constexpr const char *kSystem91Probe = "AI01HR";
// An N2 Open object; reading it makes the driver initialise the station first.
constexpr const char *kN2OpenProbe = "AI001";
constexpr const char *kInitFailed = "Failed to Initialize";

struct Finding {
  int32_t system91 = kStatusNoReply;  // status of the DX9100 read
  int32_t n2open = kStatusNoReply;    // 0 initialised, 1 refused, 2 silent
  std::string system91Reason;
};

std::string Address(int address) {
  char text[8];
  snprintf(text, sizeof text, "%03d", address);
  return text;
}

// A station-type file naming nothing but the lines given, in a temporary file.
class TypesFile {
 public:
  explicit TypesFile(const std::string &text) {
    char pattern[] = "/tmp/zamhost-scan-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd < 0) return;
    path_ = pattern;
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) path_.clear();
    close(fd);
  }
  ~TypesFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

class Progress {
 public:
  explicit Progress(int total) : total_(total), shown_(isatty(STDERR_FILENO) != 0) {}
  void Show(const std::string &step, int done) const {
    if (!shown_) return;
    fprintf(stderr, "\r\x1b[Kscan: %s %d/%d", step.c_str(), done, total_);
    fflush(stderr);
  }
  void Clear() const {
    if (shown_) fprintf(stderr, "\r\x1b[K");
  }

 private:
  int total_;
  bool shown_;
};

// One probe over the range through a channel of its own. False after
// printing why the channel would not open.
bool Probe(Session &session, ChannelOptions options, const std::string &typesText, bool n2open, bool everyAddress,
           int from, int to, std::map<int, Finding> *findings, int *code) {
  TypesFile types(typesText);
  options.stationTypesFile = types.path();
  options.stationTypes.clear();
  Channel channel(session.driver(), session.log());
  // Probes are meant to fail where nobody is: their messages only with -v.
  if (session.options().verbose) channel.SetSink(session.DefaultSink());
  if (!OpenChannel(channel, options, code)) return false;
  Progress progress(to - from + 1);
  for (int address = from; address <= to && !StopRequested(); ++address) {
    Finding &finding = (*findings)[address];
    // An N2 Open station refuses a System 91 read, which shows that it is
    // there: the initialisation (five tries, 100 ms apart) is spent only where
    // the read found someone, unless every address is to be tried.
    if (n2open && finding.system91 == kStatusNoReply && !everyAddress) continue;
    progress.Show(n2open ? "N2 Open initialisation" : "System 91 read", address - from + 1);
    GateSpec spec;
    spec.gas = Address(address) + (n2open ? kN2OpenProbe : kSystem91Probe);
    spec.type = kGateReal;
    Gate gate = ResolveGate(channel, spec);
    if (!gate.valid) continue;
    ValueBuffer buffer;
    int32_t status = channel.Read(gate, &buffer);
    if (!n2open) {
      finding.system91 = status;
      finding.system91Reason = channel.lastMessages().empty() ? "" : channel.lastMessages().front().text;
      continue;
    }
    bool initFailed = false;
    for (const DriverMessage &message : channel.lastMessages()) {
      initFailed = initFailed || message.text.find(kInitFailed) != std::string::npos;
    }
    // Initialised: an N2 Open station, whatever became of the read.
    finding.n2open = !initFailed ? 0 : status == kStatusNoReply ? kStatusNoReply : kStatusBadReply;
  }
  progress.Clear();
  return true;
}

}  // namespace

int RunScan(const GlobalOptions &global, const ScanOptions &options) {
  if (options.from < 1 || options.to > 254 || options.from > options.to) {
    return Fail(kExitUsage, "--from and --to name addresses 1 to 254, the first not above the last");
  }
  std::map<int, std::string> confirmed;  // address -> family the user named
  for (const std::string &assignment : options.families) {
    std::string line, error;
    if (!StationTypeLine(assignment, &line, &error)) return Fail(kExitUsage, "--family " + error);
    confirmed[atoi(line.c_str())] = line.substr(line.find("= ") + 2);
  }
  Session session(global);
  if (!session.Start()) return kExitDriver;
  SetStopGraceMs(options.channel.timeoutMs);

  std::map<int, Finding> findings;
  int code = kExitOk;
  if (!Probe(session, options.channel, "", false, false, options.from, options.to, &findings, &code)) return code;
  std::string everyAddressN2Open;
  for (int address = options.from; address <= options.to; ++address) {
    everyAddressN2Open += Address(address) + " = N2OPEN\n";
  }
  if (!Probe(session, options.channel, everyAddressN2Open, true, options.all, options.from, options.to, &findings, &code)) {
    return code;
  }

  ResultRows rows(options.format, session.out(), {{"time", 29}, {"station", 7}, {"answers", 20}, {"family", 10}, {"detail"}});
  std::vector<std::string> fileLines;
  int found = 0;
  for (const auto &[address, finding] : findings) {
    std::string answers, family, detail;
    if (finding.n2open == 0) {
      answers = "N2 Open";
      family = "N2OPEN";
      detail = "initialised";
    } else if (finding.system91 == kStatusOk) {
      answers = "System 91 read";
      family = confirmed.count(address) != 0 ? confirmed[address] : "DX9100";
      detail = std::string("read ") + kSystem91Probe;
    } else if (finding.system91 == kStatusBadReply || finding.n2open == kStatusBadReply) {
      answers = "System 91, refused";
      family = confirmed.count(address) != 0 ? confirmed[address] : "";
      detail = family.empty() ? "not a DX9100 (" + finding.system91Reason + "): an XT9100 or TC9100? confirm with --family " +
                                    std::to_string(address) + "=XT9100 or =TC9100"
                              : "family as confirmed";
    } else {
      continue;
    }
    ++found;
    rows.Row({TimeStamp(), address, answers, family.empty() ? nlohmann::json() : nlohmann::json(family), detail});
    if (!family.empty() && family != "DX9100") {
      std::string line, error;
      if (StationTypeLine(std::to_string(address) + "=" + family, &line, &error)) fileLines.push_back(line);
    }
  }
  Warn(std::to_string(found) + " of " + std::to_string(options.to - options.from + 1) + " addresses answer");
  if (!options.stationFile.empty()) {
    std::ofstream out(options.stationFile, std::ios::trunc);
    out << "# Station types found by zamhost scan; stations not named are DX9100s.\n";
    for (const std::string &line : fileLines) out << line << "\n";
    if (!out) return Fail(kExitUsage, "cannot write '" + options.stationFile + "'");
    Warn("wrote " + options.stationFile + " (" + std::to_string(fileLines.size()) + " stations)");
  }
  if (StopRequested()) return kExitInterrupted;
  return found == 0 ? kExitNoReply : kExitOk;
}

}  // namespace zamhost
