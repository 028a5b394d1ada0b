// zamhost scan: what is on the bus. Every address of the range is probed for
// presence with a short time-out (a System 91 read: a reply starts within a
// few milliseconds, and even a refusal shows that a station is there). Each
// station found is then identified with the configured time-out: the test
// points of the point tables that only one family answers (DX9100, then
// TC9100, then XT9100), then the N2 Open initialisation. Its row is printed
// as soon as it is known. With --points the process points that answer are
// listed, and the station-type file, the gate list and a zamgate
// configuration can be written from what was found.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "host/common/commission_files.h"
#include "host/common/exit_codes.h"
#include "host/common/gate_resolver.h"
#include "host/common/gate_types.h"
#include "host/common/point_catalogue.h"
#include "host/common/poll_output.h"
#include "host/common/refusal.h"
#include "host/common/station_file_merge.h"
#include "host/common/station_types_file.h"
#include "host/zamhost/command_support.h"
#include "host/zamhost/commands.h"
#include "host/zamhost/interrupt.h"
#include "host/zamhost/result_rows.h"

namespace zamhost {

using namespace n2host;
namespace {

// An N2 Open object; reading it makes the driver initialise the station first.
constexpr const char *kN2OpenProbe = "AI001";
constexpr const char *kInitFailed = "Failed to Initialize";
// N2 Open objects of a region are probed until this many in a row are
// refused, and never beyond the objects the frames can address.
constexpr int kRefusalRun = 4;
constexpr int kLastN2OpenObject = 256;

// The System 91 families in the order they are tried: the DX9100's and the
// TC9100's test points lie where no other family has memory, the XT9100's
// only where a TC9100 has too.
constexpr const char *kSystem91Order[] = {"DX9100", "TC9100", "XT9100"};

struct N2OpenRegion {
  const char *name;
  int type;
  bool writable;
  const char *role;
};
constexpr N2OpenRegion kN2OpenRegions[] = {
    {"AI", kGateReal, false, "input"},  {"BI", kGateDigital, false, "input"}, {"AO", kGateReal, true, "output"},
    {"BO", kGateDigital, true, "output"}, {"AF", kGateReal, true, "value"},   {"AD", kGateInt16, true, "value"},
    {"BD", kGateInt16, true, "value"},
};

std::string Address(int address) {
  char text[8];
  snprintf(text, sizeof text, "%03d", address);
  return text;
}

// "a DX9100", "an XT9100", "an N2 Open device".
std::string WithArticle(const std::string &family) {
  if (family == "N2OPEN") return "an N2 Open device";
  return (family == "XT9100" ? "an " : "a ") + family;
}

class Progress {
 public:
  Progress() : shown_(isatty(STDERR_FILENO) != 0) {}
  void Show(const std::string &text) const {
    if (!shown_) return;
    fprintf(stderr, "\r\x1b[Kscan: %s", text.c_str());
    fflush(stderr);
  }
  void Clear() const {
    if (shown_) fprintf(stderr, "\r\x1b[K");
  }

 private:
  bool shown_;
};

// The outcome of one read.
struct Probe {
  int32_t status = kStatusNoReply;
  Refusal refusal;
  bool initFailed = false;  // N2 Open: the initialisation did not succeed
  std::string firstMessage;
};

// A channel that takes the stations named as the family given.
class ScanChannel {
 public:
  ScanChannel(Session &session, const ChannelOptions &options) : session_(session), options_(options) {}

  // Starts the channel with the stations as the family (empty: all DX9100).
  bool Open(const std::vector<int> &stations, const std::string &family, int timeoutMs, int *code) {
    channel_ = std::make_unique<Channel>(session_.driver(), session_.log());
    // Probes are meant to fail where nobody is: their messages only with -v.
    if (session_.options().verbose) channel_->SetSink(session_.DefaultSink());
    ChannelOptions options = options_;
    options.timeoutMs = timeoutMs;
    options.stationTypesFile.clear();
    options.stationTypes.clear();
    if (!family.empty() && family != "DX9100") {
      for (int station : stations) options.stationTypes.push_back(std::to_string(station) + "=" + family);
    }
    int why = kExitOk;
    if (OpenChannel(*channel_, options, &why)) return true;
    *code = why;
    return false;
  }

  Probe Read(const std::string &gas, int type, ValueBuffer *value = nullptr) {
    Probe probe;
    GateSpec spec;
    spec.gas = gas;
    spec.type = type;
    Gate gate = ResolveGate(*channel_, spec);
    if (!gate.valid) {
      probe.status = kStatusBadReply;
      probe.firstMessage = gate.problems.empty() ? "invalid gate" : gate.problems.front();
      return probe;
    }
    ValueBuffer buffer;
    probe.status = channel_->Read(gate, value != nullptr ? value : &buffer);
    probe.refusal = RefusalOf(channel_->lastMessages());
    for (const DriverMessage &message : channel_->lastMessages()) {
      probe.initFailed = probe.initFailed || message.text.find(kInitFailed) != std::string::npos;
      if (probe.firstMessage.empty()) probe.firstMessage = message.text;
    }
    return probe;
  }

  void Close() { channel_.reset(); }

 private:
  Session &session_;
  ChannelOptions options_;
  std::unique_ptr<Channel> channel_;
};

// What the scan learnt of a station that answered.
struct Station {
  int address = 0;
  std::string family;  // empty: not identified
  std::string answers; // "System 91", "N2 Open", ...
  std::string detail;
  std::string why;     // not identified: why
  std::vector<CataloguePoint> points;
};

// Takes the station as N2 Open and reads its probe point: the driver
// initialises the station first. False when the channel does not open.
bool ProbeN2Open(ScanChannel &channel, const ChannelOptions &options, int address, Probe *probe, int *code) {
  if (!channel.Open({address}, "N2OPEN", options.timeoutMs, code)) return false;
  *probe = channel.Read(Address(address) + kN2OpenProbe, kGateReal);
  channel.Close();
  return true;
}

// Whether the N2 Open probe found an initialised station; the station is
// then recorded as one.
bool TookN2Open(const Probe &probe, Station *station) {
  if (probe.initFailed || probe.status == kStatusNoReply) return false;
  station->family = "N2OPEN";
  station->answers = "N2 Open";
  station->detail = "initialised";
  return true;
}

// Identifies the station with the configured time-out. False when it did
// not answer again (the presence probe's reply was a line fault).
bool Identify(ScanChannel &channel, const ChannelOptions &options, int address, const Probe &presence, Station *station,
              int *code) {
  std::string refusals;
  bool answered = false;
  // A station that answered the System 91 probe with something other than a
  // System 91 acknowledgement is most likely an N2 Open device: its
  // initialisation is tried first, before three System 91 tests that would
  // each cost it the driver's five attempts.
  if (presence.status != kStatusOk && !presence.refusal.refused) {
    Probe probe;
    if (!ProbeN2Open(channel, options, address, &probe, code)) return false;
    if (TookN2Open(probe, station)) return true;
  }
  for (const char *family : kSystem91Order) {
    if (!channel.Open({address}, family, options.timeoutMs, code)) return false;
    const std::string test = FamilyTestPoint(family);
    Probe probe = channel.Read(Address(address) + test, kAutoType);
    channel.Close();
    if (probe.status == kStatusOk) {
      station->family = family;
      station->answers = "System 91";
      station->detail = "answers the " + std::string(family) + " test point " + test;
      return true;
    }
    if (probe.status == kStatusNoReply && std::string(family) == "DX9100") break;
    answered = true;
    refusals += (refusals.empty() ? "" : ", ") + std::string(family) + " " + test + " " +
                (probe.refusal.refused ? probe.refusal.reason : "bad reply");
  }
  Probe probe;
  if (!ProbeN2Open(channel, options, address, &probe, code)) return false;
  if (TookN2Open(probe, station)) return true;
  if (!answered && probe.status == kStatusNoReply) return false;
  station->answers = "System 91, refused";
  station->why = "refuses the test points (" + refusals + ") and the N2 Open initialisation";
  station->detail = station->why;
  return true;
}

// The process points of a System 91 station that it answers.
void ListSystem91Points(ScanChannel &channel, const ChannelOptions &options, Station *station, int *code) {
  if (!channel.Open({station->address}, station->family, options.timeoutMs, code)) return;
  for (const CataloguePoint &point : ProcessPoints(station->family, station->address)) {
    if (StopRequested()) break;
    Probe probe = channel.Read(point.gas, point.type);
    if (probe.status == kStatusOk) station->points.push_back(point);
    // A station that fell silent would cost every further point the
    // driver's five time-outs.
    if (probe.status == kStatusNoReply) break;
  }
  channel.Close();
}

// The objects of every region of an N2 Open station, each region up to a run
// of refusals.
void ListN2OpenPoints(ScanChannel &channel, const ChannelOptions &options, Station *station, int *code) {
  if (!channel.Open({station->address}, "N2OPEN", options.timeoutMs, code)) return;
  Progress progress;
  for (const N2OpenRegion &region : kN2OpenRegions) {
    int refusedInRow = 0;
    for (int object = 1; object <= kLastN2OpenObject && refusedInRow < kRefusalRun && !StopRequested(); ++object) {
      progress.Show("station " + std::to_string(station->address) + " " + region.name + " object " +
                    std::to_string(object));
      char gas[16];
      snprintf(gas, sizeof gas, "%03d%s%03d", station->address, region.name, object);
      Probe probe = channel.Read(gas, region.type);
      if (probe.status == kStatusNoReply) {
        progress.Clear();
        channel.Close();
        return;
      }
      if (probe.status != kStatusOk) {
        ++refusedInRow;
        continue;
      }
      refusedInRow = 0;
      CataloguePoint point;
      point.name = "st" + std::to_string(station->address) + " " + region.name + std::to_string(object) + " " + region.role;
      point.gas = gas;
      point.type = region.type;
      point.writable = region.writable;
      point.role = region.role;
      station->points.push_back(point);
    }
  }
  progress.Clear();
  channel.Close();
}

bool ReadFile(const std::string &path, std::string *text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return true;
}

bool WriteFile(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

bool Exists(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// "gates.csv" relative to the configuration's folder when both lie in one.
std::string GateListReference(const std::string &configPath, const std::string &gatesPath) {
  size_t slash = configPath.rfind('/');
  std::string folder = slash == std::string::npos ? "" : configPath.substr(0, slash + 1);
  if (!folder.empty() && gatesPath.compare(0, folder.size(), folder) == 0) return gatesPath.substr(folder.size());
  if (folder.empty() && gatesPath.find('/') == std::string::npos) return gatesPath;
  if (!gatesPath.empty() && gatesPath[0] == '/') return gatesPath;
  char *absolute = realpath(".", nullptr);
  std::string path = absolute != nullptr ? std::string(absolute) + "/" + gatesPath : gatesPath;
  free(absolute);
  return path;
}

void PrintPoints(const ScanOptions &options, FILE *out, const Station &station) {
  for (const CataloguePoint &point : station.points) {
    if (options.format == OutputFormat::kJson) {
      nlohmann::json row = {{"station", station.address}, {"point", point.name}, {"gas", point.gas},
                            {"type", GateTypeName(point.type)}, {"writable", point.writable}};
      fprintf(out, "%s\n", row.dump().c_str());
    } else if (options.format == OutputFormat::kCsv) {
      fprintf(out, "point,%d,%s,%s,%s,%s\n", station.address, CsvField(point.name).c_str(), point.gas.c_str(),
              GateTypeName(point.type).c_str(), point.writable ? "writable" : "read-only");
    } else {
      fprintf(out, "    %-26s %-14s %-8s %s\n", point.name.c_str(), point.gas.c_str(), GateTypeName(point.type).c_str(),
              point.writable ? "writable" : "read-only");
    }
  }
  fflush(out);
}

std::string Count(size_t n, const std::string &one, const std::string &many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

int ProbeTimeoutMs(int baud) {
  constexpr int kProbeCharacters = 10;
  constexpr int kBitsPerCharacter = 10;
  constexpr int kTurnaroundMs = 10;
  constexpr int kUnitMs = 10;
  const double lineMs = kProbeCharacters * kBitsPerCharacter * 1000.0 / std::max(baud, 1);
  // To the nearest unit: 20 ms at 9600 baud, 30 ms at 4800.
  const int units = static_cast<int>((lineMs + kTurnaroundMs) / kUnitMs + 0.5);
  return std::max(units, 1) * kUnitMs;
}

int ProbeDrainMs(int baud, int probeTimeoutMs) {
  constexpr int kAttempts = 5;
  constexpr int kCharacters = 40;
  constexpr int kBitsPerCharacter = 10;
  return kAttempts * (probeTimeoutMs + kCharacters * kBitsPerCharacter * 1000 / std::max(baud, 1));
}

int RunScan(const GlobalOptions &global, const ScanOptions &given) {
  ScanOptions options = given;
  if (options.probeTimeoutMs <= 0) options.probeTimeoutMs = ProbeTimeoutMs(options.channel.baud);
  if (options.from < 1 || options.to > 254 || options.from > options.to) {
    return Fail(kExitUsage, "--from and --to name addresses 1 to 254, the first not above the last");
  }
  std::map<int, std::string> claimed;  // address -> family the user named
  for (const std::string &assignment : options.families) {
    std::string line, error;
    if (!StationTypeLine(assignment, &line, &error)) return Fail(kExitUsage, "--family " + error);
    claimed[atoi(line.c_str())] = line.substr(line.find("= ") + 2);
  }
  // An existing file is never lost without --force: checked before the bus
  // is scanned, again when the merge would change one of its lines.
  std::string oldStationFile;
  if (!options.stationFile.empty() && Exists(options.stationFile) && !ReadFile(options.stationFile, &oldStationFile)) {
    return Fail(kExitUsage, "cannot read '" + options.stationFile + "' to merge the scan into it");
  }
  for (const std::string *path : {&options.gatesFile, &options.configFile}) {
    if (!path->empty() && Exists(*path) && !options.force) {
      return Fail(kExitUsage, "'" + *path + "' exists: give --force to replace it");
    }
  }
  const bool wantPoints = options.points || !options.gatesFile.empty() || !options.configFile.empty();

  Session session(global);
  if (!session.Start()) return kExitDriver;
  SetStopGraceMs(options.channel.timeoutMs);
  FILE *out = session.out();

  ResultRows rows(options.format, out, {{"time", 29}, {"station", 7}, {"answers", 20}, {"family", 10}, {"detail"}});
  ScanChannel presence(session, options.channel);
  ScanChannel confirm(session, options.channel);
  int code = kExitOk;
  if (!presence.Open({}, "", options.probeTimeoutMs, &code)) return code;
  const std::string dxTest = FamilyTestPoint("DX9100");
  Progress progress;
  std::vector<Station> stations;
  for (int address = options.from; address <= options.to && !StopRequested(); ++address) {
    progress.Show("station " + std::to_string(address) + " of " + std::to_string(options.from) + ".." +
                  std::to_string(options.to));
    Probe probe = presence.Read(Address(address) + dxTest, kAutoType);
    if (probe.status == kStatusNoReply && !options.all) continue;
    progress.Clear();
    // The presence channel lets go of the port while the station is
    // identified with the configured time-out.
    presence.Close();
    // Replies to the probe's earlier attempts may still be on their way
    // (at 9600 baud a request alone takes longer than the short time-out):
    // they must not be taken for the next request's reply. The driver drops
    // what is waiting before it sends.
    std::this_thread::sleep_for(std::chrono::milliseconds(ProbeDrainMs(options.channel.baud, options.probeTimeoutMs)));
    Station station;
    station.address = address;
    bool found = Identify(confirm, options.channel, address, probe, &station, &code);
    if (code != kExitOk) return code;
    if (found) {
      auto claim = claimed.find(address);
      if (claim != claimed.end() && claim->second != station.family) {
        std::string is = station.family.empty() ? "answers as no family" : "answers as " + WithArticle(station.family);
        Warn("--family " + std::to_string(address) + "=" + claim->second + " is not so: station " +
             std::to_string(address) + " " + is + (station.family.empty() ? "; not written" : "; written as it answers"));
        station.detail += "; not " + WithArticle(claim->second) + " as --family claims";
      } else if (claim != claimed.end()) {
        station.detail += "; --family confirmed";
      }
      if (wantPoints && !station.family.empty()) {
        if (station.family == "N2OPEN") {
          ListN2OpenPoints(confirm, options.channel, &station, &code);
        } else {
          ListSystem91Points(confirm, options.channel, &station, &code);
        }
        station.detail += "; " + Count(station.points.size(), "point answers", "points answer");
      }
      rows.Row({TimeStamp(), address, station.answers,
                station.family.empty() ? nlohmann::json() : nlohmann::json(station.family), station.detail});
      if (options.points) PrintPoints(options, out, station);
      stations.push_back(station);
    }
    if (!presence.Open({}, "", options.probeTimeoutMs, &code)) return code;
  }
  presence.Close();
  progress.Clear();
  for (const auto &[address, family] : claimed) {
    bool seen = false;
    for (const Station &station : stations) seen = seen || station.address == address;
    if (!seen) Warn("--family " + std::to_string(address) + "=" + family + ": station " + std::to_string(address) +
                    " did not answer; not written");
  }
  const int range = options.to - options.from + 1;
  Warn(std::to_string(stations.size()) + " of " + Count(range, "address answers", "addresses answer"));
  if (StopRequested()) return kExitInterrupted;

  if (!options.stationFile.empty()) {
    std::vector<ScannedStation> found;
    for (const Station &station : stations) found.push_back({station.address, station.family, station.why});
    StationFileMerge merge = MergeStationFile(oldStationFile, options.from, options.to, found);
    if (!merge.foreign.empty() && !options.force) {
      return Fail(kExitUsage, "'" + options.stationFile + "' holds lines that are no station types (\"" +
                                  merge.foreign.front().substr(0, 60) + "\"): give --force to replace it");
    }
    if (!merge.conflicts.empty() && !options.force) {
      for (const std::string &change : merge.conflicts) Warn(options.stationFile + ": " + change);
      return Fail(kExitUsage, "not written: the scan changes stations that '" + options.stationFile +
                                  "' names; give --force to write it");
    }
    for (const std::string &change : merge.changes) Warn(options.stationFile + ": " + change);
    if (!WriteFile(options.stationFile, merge.text)) return Fail(kExitUsage, "cannot write '" + options.stationFile + "'");
    Warn("wrote " + options.stationFile + " (" + Count(static_cast<size_t>(merge.assigned), "station", "stations") +
         " assigned a family" + (oldStationFile.empty() ? "" : ", merged with the file that was there") + ")");
  }
  std::vector<CommissionedStation> commissioned;
  size_t gates = 0;
  for (const Station &station : stations) {
    if (station.family.empty()) continue;
    commissioned.push_back({station.address, station.family, station.points});
    gates += station.points.size();
  }
  if (!options.gatesFile.empty()) {
    if (!WriteFile(options.gatesFile, GateListText(commissioned))) {
      return Fail(kExitUsage, "cannot write '" + options.gatesFile + "'");
    }
    Warn("wrote " + options.gatesFile + " (" + Count(gates, "gate", "gates") + ")");
  }
  if (!options.configFile.empty()) {
    std::string gatesName = options.gatesFile;
    if (gatesName.empty()) {
      gatesName = options.configFile.substr(0, options.configFile.rfind('.')) + ".csv";
      if (Exists(gatesName) && !options.force) return Fail(kExitUsage, "'" + gatesName + "' exists: give --force to replace it");
      if (!WriteFile(gatesName, GateListText(commissioned))) return Fail(kExitUsage, "cannot write '" + gatesName + "'");
      Warn("wrote " + gatesName + " (" + Count(gates, "gate", "gates") + ")");
    }
    std::string text = GatewayConfigText(options.channel, commissioned, GateListReference(options.configFile, gatesName),
                                         options.gatewayId);
    if (!WriteFile(options.configFile, text)) return Fail(kExitUsage, "cannot write '" + options.configFile + "'");
    Warn("wrote " + options.configFile + " (check it with: zamgate --check-config " + options.configFile + ")");
  }
  return stations.empty() ? kExitNoReply : kExitOk;
}

}  // namespace zamhost
