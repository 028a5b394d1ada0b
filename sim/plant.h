// The plant description: which stations sit on the simulated bus, their
// families, initial values and injected faults, read from a plain-text file.
//
// One statement per line; "#" starts a comment; words are separated by blanks;
// keywords and family names are not case-sensitive. Every line stands alone
// (it names the station it concerns), so lines can be appended to a plant
// from the command line:
//
//   station <addr> <family> [objects=<n>] [init=required|optional]
//                           [dynamics=on|off] [clock=<seconds>]
//       family: DX9100, XT9100, TC9100 or N2OPEN. objects: N2 Open objects per
//       region (default 16). init=required: N2 Open item commands are refused
//       with "N00" until the station has been identified (the default).
//       clock: offset of the station's real-time clock from the host's clock.
//   value <addr> <module> <mnemonic> <value>     System 91 point, e.g.
//       value 1 AI01 HR 100.0 / value 1 GC DCO3 1 / value 1 TS01 START1 07:30 /
//       value 1 TS01 DAYS1 12345 (days 1..7, or 0x1F for the mask)
//   value <addr> @<device address> <number>      raw System 91 item
//   value <addr> <region> <element> <value>      N2 Open object, e.g. value 5 AO 3 12.5
//   fault <addr>|bus <kind> <probability> [code=<n>] [bytes=<n>] [keep=<n>] [ms=<n>]
//       kind: silence, nak (code=, default 12), badsum, noise (bytes=, default
//       3), cut (keep= bytes of the reply sent, default half), dribble (ms=
//       between bytes, default 10), delay (ms= before the reply, default 300),
//       reset (the station restarts: the request is lost, no reply, and the
//       station forgets its session state).
//       A probability of 0 only sets the parameters for scripts.
//   script <addr>|bus [repeat] <step> <step> ...
//       One step per exchange of that station (or of the bus): "ok" or fault
//       kinds joined by "+" (noise+delay). Without "repeat" the script runs
//       once and then only the probabilities apply.
//   pacing <baud>|on|off   line speed (on: 9600): each byte takes its wire
//                          time (10 bits) in both directions
//   dynamics on|off        analog inputs drift and counters count (default on)
#ifndef ZAMKT_SIM_PLANT_H
#define ZAMKT_SIM_PLANT_H

#include <stdint.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace n2sim {

enum class Family { kDX9100, kXT9100, kTC9100, kN2Open };

// "DX9100", "XT9100", "TC9100", "N2OPEN".
const char *FamilyName(Family family);
// Case-insensitive; false for any other name.
bool FamilyFromName(std::string_view name, Family *family);

enum class FaultKind { kSilence, kNak, kBadSum, kNoise, kCut, kDribble, kDelay, kReset };
constexpr int kFaultKinds = 8;
// "silence", "nak", "badsum", "noise", "cut", "dribble", "delay", "reset".
const char *FaultKindName(FaultKind kind);
bool FaultKindFromName(std::string_view name, FaultKind *kind);

// A set of fault kinds, bit (1 << kind).
using FaultSet = uint16_t;

// The line speed of "pacing on" and of n2sim --pacing.
constexpr int kDefaultBaud = 9600;
constexpr FaultSet FaultBit(FaultKind kind) { return static_cast<FaultSet>(1u << static_cast<int>(kind)); }

struct FaultParams {
  int nakCode = 12;
  int noiseBytes = 3;
  int cutKeep = -1;  // bytes of the reply that go out; -1: half of it
  int dribbleMs = 10;
  int delayMs = 300;
};

// The faults of one scope: one station, or the whole bus.
struct FaultScope {
  std::array<double, kFaultKinds> probability{};
  FaultParams params;
  std::vector<FaultSet> script;  // one entry per exchange; 0 = ok
  bool scriptRepeats = false;
};

// An initial value, kept as written; the simulator resolves it against the
// station's family when it builds the station.
struct ValueSetting {
  int line = 0;
  std::string first;   // module, "@address" or N2 Open region
  std::string second;  // mnemonic or element; empty for "@address"
  std::string value;
};

struct StationSpec {
  int address = 0;
  Family family = Family::kDX9100;
  int objects = 16;
  bool initRequired = true;
  int dynamics = -1;  // -1: as the plant; 0 off; 1 on
  long clockOffsetSeconds = 0;
  std::vector<ValueSetting> values;
  FaultScope faults;
};

struct PlantSpec {
  std::vector<StationSpec> stations;
  FaultScope busFaults;
  int baud = 0;  // 0: no pacing
  bool dynamics = true;

  StationSpec *Find(int address);
  const StationSpec *Find(int address) const;
};

// Parses the text and adds its statements to plant. False on the first bad
// line, with "line N: reason" in error (N counted from firstLine).
bool ParsePlant(std::string_view text, PlantSpec *plant, std::string *error, int firstLine = 1);

// The built-in plant: a DX9100 at 1, an N2 Open station at 5, an XT9100 at 10
// and a TC9100 at 20 (the text of sim/default.plant).
const char *DefaultPlantText();

// "ZAMKT%02d.int" for the channel.
std::string StationTypesFileName(int channel);
// The station-type file that matches the plant: one "%03d = FAMILY" line per
// station that is not a DX9100 (the driver's default, which the file cannot
// name), stations 1..254 only, no blank line.
std::string StationTypesFileText(const PlantSpec &plant);

}  // namespace n2sim

#endif  // ZAMKT_SIM_PLANT_H
