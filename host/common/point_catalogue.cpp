#include "host/common/point_catalogue.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>

#include "driver/requests.h"
#include "n2/point_tables.h"

namespace n2host {
namespace {

// A process point kind of a family: in the modules named `module` (an exact
// name, or a prefix ending in '*'), the mnemonic `mnemonic`, or with
// `count` > 0 the mnemonics mnemonic1 .. mnemonicN that the table holds. The
// label names the point to the user: "#M" is the module's number, "#K" the
// mnemonic's.
struct ProcessRule {
  const char *family;
  const char *module;
  const char *mnemonic;
  int count;
  const char *label;
  const char *role;
};

constexpr ProcessRule kRules[] = {
    // DX9100: analog and digital inputs, counters, outputs, the loops'
    // setpoints, the extension modules' inputs and outputs, the time
    // schedules' first period and output, the real-time clock.
    {"DX9100", "AI*", "AI", 0, "AI#M input", "input"},
    {"DX9100", "GC", "DI", 8, "DI#K input", "input"},
    {"DX9100", "GC", "CNTR", 8, "counter #K", "input"},
    {"DX9100", "AO*", "OUT", 0, "AO#M output", "output"},
    {"DX9100", "DO*", "OUT", 0, "DO#M output", "output"},
    {"DX9100", "PM*", "LSP", 0, "PM#M setpoint", "setpoint"},
    {"DX9100", "XT*", "XTAI", 8, "XT#M AI#K input", "input"},
    {"DX9100", "XT*", "XTAO", 8, "XT#M AO#K output", "output"},
    {"DX9100", "TS*", "START1", 0, "TS#M start 1", "schedule"},
    {"DX9100", "TS*", "END1", 0, "TS#M end 1", "schedule"},
    {"DX9100", "TS*", "DAYS1", 0, "TS#M days 1", "schedule"},
    {"DX9100", "TS*", "TSOUT", 0, "TS#M output", "schedule"},
    {"DX9100", "RTCL", "DATE", 0, "clock date", "clock"},
    {"DX9100", "RTCL", "TIME", 0, "clock time", "clock"},
    {"DX9100", "RTCL", "WDAY", 0, "clock weekday", "clock"},
    // XT9100: the two modules' inputs and outputs.
    {"XT9100", "XP01", "AI", 8, "AI#K input", "input"},
    {"XT9100", "XP01", "DI", 8, "DI#K input", "input"},
    {"XT9100", "XP01", "AO", 8, "AO#K output", "output"},
    {"XT9100", "XP01", "DO", 8, "DO#K output", "output"},
    {"XT9100", "XP02", "DI", 8, "XP2 DI#K input", "input"},
    {"XT9100", "XP02", "DO", 8, "XP2 DO#K output", "output"},
    // TC9100: inputs, room temperature, outputs, setpoints, the clock word.
    {"TC9100", "TCGC", "AI", 4, "AI#K input", "input"},
    {"TC9100", "TCGC", "TEMP", 0, "room temperature", "input"},
    {"TC9100", "TCGC", "OCM", 6, "output #K", "output"},
    {"TC9100", "TCGC", "DO", 7, "DO#K output", "output"},
    {"TC9100", "TCGC", "WSP", 6, "working setpoint #K", "setpoint"},
    {"TC9100", "TCP*", "LSP", 0, "loop #M setpoint", "setpoint"},
    {"TC9100", "TCGC", "MIN", 0, "clock minute", "clock"},
    {"TC9100", "TCGC", "HOUR", 0, "clock hour", "clock"},
    {"TC9100", "TCGC", "WDAY", 0, "clock weekday", "clock"},
};

bool ModuleMatches(const char *pattern, const char *name) {
  size_t length = strlen(pattern);
  if (length > 0 && pattern[length - 1] == '*') return strncmp(pattern, name, length - 1) == 0;
  return strcmp(pattern, name) == 0;
}

// The number in a module's name without leading zeros: "AI03" gives "3".
std::string ModuleNumber(const char *name) {
  const char *digits = name;
  while (*digits != '\0' && (*digits < '0' || *digits > '9')) ++digits;
  if (*digits == '\0') return "";
  return std::to_string(atoi(digits));
}

std::string Label(const char *format, const std::string &module, int number) {
  std::string out;
  for (const char *c = format; *c != '\0'; ++c) {
    if (c[0] == '#' && c[1] == 'M') {
      out += module;
      ++c;
    } else if (c[0] == '#' && c[1] == 'K') {
      out += std::to_string(number);
      ++c;
    } else {
      out += *c;
    }
  }
  return out;
}

const PointEntry *FindPoint(const ModuleEntry &module, const std::string &mnemonic) {
  for (uint16_t i = 0; i < module.pointCount; ++i) {
    if (mnemonic == module.points[i].mnemonic) return &module.points[i];
  }
  return nullptr;
}

// Points of the schedule and clock areas are not items of the memory.
bool InArea(const ModuleEntry &module, const PointEntry &point) {
  return (strncmp(module.name, "TS", 2) == 0 && point.type == kTypeLong) || strcmp(module.name, "RTCL") == 0;
}

std::set<int> MemoryAddresses(const FamilyTable &family) {
  std::set<int> addresses;
  for (uint16_t m = 0; m < family.moduleCount; ++m) {
    const ModuleEntry &module = family.modules[m];
    for (uint16_t p = 0; p < module.pointCount; ++p) {
      if (!InArea(module, module.points[p])) addresses.insert(module.base + module.points[p].offset);
    }
  }
  return addresses;
}

}  // namespace

int GateTypeOfPointType(int pointType) {
  switch (pointType) {
    case kTypeN2Real: return kGateReal;
    case kTypeBit8:
    case kTypeBit16: return kGateDigital;
    case kTypeLong: return kGateInt32;
    default: return kGateInt16;
  }
}

std::vector<CataloguePoint> ProcessPoints(const std::string &familyName, int station) {
  std::vector<CataloguePoint> points;
  const FamilyTable *family = FindFamily(familyName.c_str());
  if (family == nullptr) return points;
  char prefix[8];
  snprintf(prefix, sizeof prefix, "%03d", station);
  const std::string stationName = "st" + std::to_string(station) + " ";
  for (uint16_t m = 0; m < family->moduleCount; ++m) {
    const ModuleEntry &module = family->modules[m];
    for (const ProcessRule &rule : kRules) {
      if (familyName != rule.family || !ModuleMatches(rule.module, module.name)) continue;
      const int last = rule.count == 0 ? 0 : rule.count;
      for (int k = rule.count == 0 ? 0 : 1; k <= last; ++k) {
        std::string mnemonic = rule.mnemonic + (k == 0 ? std::string() : std::to_string(k));
        const PointEntry *point = FindPoint(module, mnemonic);
        if (point == nullptr) continue;
        CataloguePoint out;
        out.name = stationName + Label(rule.label, ModuleNumber(module.name), k);
        // The GAS form of a DX9100's general module is "GC" and the
        // mnemonic right behind it.
        out.gas = prefix + std::string(module.name) + mnemonic;
        out.type = GateTypeOfPointType(point->type);
        out.writable = point->access == 'W';
        out.role = rule.role;
        points.push_back(out);
      }
    }
  }
  return points;
}

std::string FamilyTestPoint(const std::string &familyName) {
  const FamilyTable *family = FindFamily(familyName.c_str());
  if (family == nullptr) return "";
  std::set<int> others;
  for (const FamilyTable &other : kFamilies) {
    if (&other == family) continue;
    std::set<int> addresses = MemoryAddresses(other);
    others.insert(addresses.begin(), addresses.end());
  }
  std::string firstWhole;
  for (uint16_t m = 0; m < family->moduleCount; ++m) {
    const ModuleEntry &module = family->modules[m];
    for (uint16_t p = 0; p < module.pointCount; ++p) {
      const PointEntry &point = module.points[p];
      if (point.bit != kWholeItem || InArea(module, point)) continue;
      std::string name = std::string(module.name) + point.mnemonic;
      if (firstWhole.empty()) firstWhole = name;
      if (others.count(module.base + point.offset) == 0) return name;
    }
  }
  // No address of its own (the XT9100's all lie in the TC9100's memory too):
  // its first whole item, which a station that refused the others' test
  // points answers only if it is of this family.
  return firstWhole;
}

bool HasClock(const std::string &family) { return family == "DX9100" || family == "TC9100"; }

}  // namespace n2host
