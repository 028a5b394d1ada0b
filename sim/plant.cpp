#include "sim/plant.h"

#include <stdio.h>
#include <stdlib.h>

#include <cctype>

namespace n2sim {

namespace {

constexpr const char *kFamilyNames[] = {"DX9100", "XT9100", "TC9100", "N2OPEN"};
constexpr const char *kFaultNames[kFaultKinds] = {"silence", "nak",     "badsum", "noise",
                                                  "cut",     "dribble", "delay",  "reset"};

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) words.emplace_back(line.substr(start, i - start));
  }
  return words;
}

// A whole decimal integer (optional sign); false for anything else.
bool ToInt(const std::string &text, long *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  *value = strtol(text.c_str(), &end, 10);
  return end != nullptr && *end == '\0';
}

bool ToProbability(const std::string &text, double *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  *value = strtod(text.c_str(), &end);
  return end != nullptr && *end == '\0' && *value >= 0.0 && *value <= 1.0;
}

// Splits "key=value"; false when there is no "=".
bool KeyValue(const std::string &word, std::string *key, std::string *value) {
  size_t eq = word.find('=');
  if (eq == std::string::npos) return false;
  *key = Lower(word.substr(0, eq));
  *value = word.substr(eq + 1);
  return true;
}

class LineParser {
 public:
  LineParser(PlantSpec *plant, std::string *error, int lineNumber)
      : plant_(plant), error_(error), line_(lineNumber) {}

  bool Parse(const std::vector<std::string> &w) {
    const std::string keyword = Lower(w[0]);
    if (keyword == "station") return Station(w);
    if (keyword == "value") return Value(w);
    if (keyword == "fault") return Fault(w);
    if (keyword == "script") return Script(w);
    if (keyword == "pacing") return Pacing(w);
    if (keyword == "dynamics") return Dynamics(w);
    return Fail("unknown statement '" + w[0] + "'");
  }

 private:
  bool Fail(const std::string &why) {
    *error_ = "line " + std::to_string(line_) + ": " + why;
    return false;
  }

  bool Address(const std::string &text, long *address) {
    if (!ToInt(text, address) || *address < 1 || *address > 255) {
      return Fail("station address must be 1..255, not '" + text + "'");
    }
    return true;
  }

  // The station named by text, which must already be declared.
  StationSpec *Known(const std::string &text) {
    long address = 0;
    if (!Address(text, &address)) return nullptr;
    StationSpec *station = plant_->Find(static_cast<int>(address));
    if (station == nullptr) Fail("station " + text + " is not declared");
    return station;
  }

  // The fault scope named by text: "bus" or a declared station.
  FaultScope *Scope(const std::string &text) {
    if (Lower(text) == "bus") return &plant_->busFaults;
    StationSpec *station = Known(text);
    return station != nullptr ? &station->faults : nullptr;
  }

  bool Station(const std::vector<std::string> &w) {
    if (w.size() < 3) return Fail("usage: station <addr> <family> [options]");
    StationSpec spec;
    long address = 0;
    if (!Address(w[1], &address)) return false;
    spec.address = static_cast<int>(address);
    if (plant_->Find(spec.address) != nullptr) return Fail("station " + w[1] + " declared twice");
    if (!FamilyFromName(w[2], &spec.family)) return Fail("unknown family '" + w[2] + "'");
    for (size_t i = 3; i < w.size(); ++i) {
      std::string key, value;
      long number = 0;
      if (!KeyValue(w[i], &key, &value)) return Fail("expected key=value, not '" + w[i] + "'");
      if (key == "objects" && ToInt(value, &number) && number >= 1 && number <= 256) {
        spec.objects = static_cast<int>(number);
      } else if (key == "init" && (Lower(value) == "required" || Lower(value) == "optional")) {
        spec.initRequired = Lower(value) == "required";
      } else if (key == "dynamics" && (Lower(value) == "on" || Lower(value) == "off")) {
        spec.dynamics = Lower(value) == "on" ? 1 : 0;
      } else if (key == "clock" && ToInt(value, &number)) {
        spec.clockOffsetSeconds = number;
      } else {
        return Fail("bad station option '" + w[i] + "'");
      }
    }
    plant_->stations.push_back(spec);
    return true;
  }

  bool Value(const std::vector<std::string> &w) {
    StationSpec *station = w.size() >= 2 ? Known(w[1]) : nullptr;
    if (w.size() < 2) return Fail("usage: value <addr> <module> <mnemonic> <value>");
    if (station == nullptr) return false;
    ValueSetting setting;
    setting.line = line_;
    if (w.size() == 4 && w[2].size() > 1 && w[2][0] == '@') {
      setting.first = w[2];
      setting.value = w[3];
    } else if (w.size() == 5) {
      setting.first = w[2];
      setting.second = w[3];
      setting.value = w[4];
    } else {
      return Fail("usage: value <addr> <module> <mnemonic> <value> or value <addr> @<address> <number>");
    }
    station->values.push_back(setting);
    return true;
  }

  bool Fault(const std::vector<std::string> &w) {
    if (w.size() < 4) return Fail("usage: fault <addr>|bus <kind> <probability> [key=value]");
    FaultScope *scope = Scope(w[1]);
    if (scope == nullptr) return false;
    FaultKind kind;
    if (!FaultKindFromName(Lower(w[2]), &kind)) return Fail("unknown fault '" + w[2] + "'");
    double probability = 0;
    if (!ToProbability(w[3], &probability)) return Fail("probability must be 0..1, not '" + w[3] + "'");
    scope->probability[static_cast<int>(kind)] = probability;
    for (size_t i = 4; i < w.size(); ++i) {
      std::string key, value;
      long number = 0;
      if (!KeyValue(w[i], &key, &value) || !ToInt(value, &number) || number < 0) {
        return Fail("expected key=<number>, not '" + w[i] + "'");
      }
      int n = static_cast<int>(number);
      if (key == "code" && kind == FaultKind::kNak && n <= 99) {
        scope->params.nakCode = n;
      } else if (key == "bytes" && kind == FaultKind::kNoise && n >= 1 && n <= 1000) {
        scope->params.noiseBytes = n;
      } else if (key == "keep" && kind == FaultKind::kCut) {
        scope->params.cutKeep = n;
      } else if (key == "ms" && kind == FaultKind::kDribble && n <= 60000) {
        scope->params.dribbleMs = n;
      } else if (key == "ms" && kind == FaultKind::kDelay && n <= 60000) {
        scope->params.delayMs = n;
      } else {
        return Fail("bad parameter '" + w[i] + "' for fault " + w[2]);
      }
    }
    return true;
  }

  bool Script(const std::vector<std::string> &w) {
    if (w.size() < 3) return Fail("usage: script <addr>|bus [repeat] <step> ...");
    FaultScope *scope = Scope(w[1]);
    if (scope == nullptr) return false;
    size_t first = 2;
    bool repeats = false;
    if (Lower(w[2]) == "repeat") {
      repeats = true;
      first = 3;
    }
    std::vector<FaultSet> steps;
    for (size_t i = first; i < w.size(); ++i) {
      FaultSet set = 0;
      const std::string step = Lower(w[i]);
      if (step != "ok") {
        size_t start = 0;
        while (start <= step.size()) {
          size_t plus = step.find('+', start);
          if (plus == std::string::npos) plus = step.size();
          FaultKind kind;
          if (!FaultKindFromName(step.substr(start, plus - start), &kind)) {
            return Fail("unknown script step '" + w[i] + "'");
          }
          set |= FaultBit(kind);
          start = plus + 1;
        }
      }
      steps.push_back(set);
    }
    if (steps.empty()) return Fail("a script needs at least one step");
    scope->script = steps;
    scope->scriptRepeats = repeats;
    return true;
  }

  bool Pacing(const std::vector<std::string> &w) {
    long baud = 0;
    if (w.size() == 2 && (Lower(w[1]) == "off" || Lower(w[1]) == "on")) {
      plant_->baud = Lower(w[1]) == "on" ? kDefaultBaud : 0;
      return true;
    }
    if (w.size() != 2 || !ToInt(w[1], &baud) || baud < 50 || baud > 1000000) {
      return Fail("usage: pacing <baud 50..1000000>|on|off");
    }
    plant_->baud = static_cast<int>(baud);
    return true;
  }

  bool Dynamics(const std::vector<std::string> &w) {
    if (w.size() != 2 || (Lower(w[1]) != "on" && Lower(w[1]) != "off")) {
      return Fail("usage: dynamics on|off");
    }
    plant_->dynamics = Lower(w[1]) == "on";
    return true;
  }

  PlantSpec *plant_;
  std::string *error_;
  int line_;
};

}  // namespace

const char *FamilyName(Family family) { return kFamilyNames[static_cast<int>(family)]; }

bool FamilyFromName(std::string_view name, Family *family) {
  std::string upper(name);
  for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (int i = 0; i < 4; ++i) {
    if (upper == kFamilyNames[i]) {
      *family = static_cast<Family>(i);
      return true;
    }
  }
  return false;
}

const char *FaultKindName(FaultKind kind) { return kFaultNames[static_cast<int>(kind)]; }

bool FaultKindFromName(std::string_view name, FaultKind *kind) {
  for (int i = 0; i < kFaultKinds; ++i) {
    if (name == kFaultNames[i]) {
      *kind = static_cast<FaultKind>(i);
      return true;
    }
  }
  return false;
}

StationSpec *PlantSpec::Find(int address) {
  for (StationSpec &s : stations) {
    if (s.address == address) return &s;
  }
  return nullptr;
}

const StationSpec *PlantSpec::Find(int address) const {
  return const_cast<PlantSpec *>(this)->Find(address);
}

bool ParsePlant(std::string_view text, PlantSpec *plant, std::string *error, int firstLine) {
  int lineNumber = firstLine;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    std::vector<std::string> words = Words(line);
    if (!words.empty()) {
      LineParser parser(plant, error, lineNumber);
      if (!parser.Parse(words)) return false;
    }
    ++lineNumber;
    start = end + 1;
  }
  return true;
}

std::string StationTypesFileName(int channel) {
  char name[32];
  snprintf(name, sizeof name, "ZAMKT%02d.int", channel);
  return name;
}

std::string StationTypesFileText(const PlantSpec &plant) {
  std::string text;
  for (const StationSpec &s : plant.stations) {
    if (s.family == Family::kDX9100 || s.address > 254) continue;
    char line[32];
    snprintf(line, sizeof line, "%03d = %s\n", s.address, FamilyName(s.family));
    text += line;
  }
  return text;
}

}  // namespace n2sim
