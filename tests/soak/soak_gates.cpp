#include "tests/soak/soak_gates.h"

#include <stdio.h>
#include <string.h>

#include <map>

#include "n2/protocol.h"
#include "sim/n2open_station.h"
#include "sim/system91_station.h"
#include "tests/e2e_fixture.h"

namespace soak {

namespace {

// In the order of Kind.
constexpr const char *kKindNames[kKinds] = {
    "read",           "block-read",     "write-real",  "write-bit",   "write-field",          "write-word",
    "write-counter",  "write-schedule", "write-clock", "n2open-read", "n2open-override-read", "n2open-write",
    "n2open-release", "warm-start",
};

// The longest block the eligibility check admits.
constexpr int kMaxBlockItems = 32;

struct StationFamily {
  int station;
  const char *family;
};
constexpr StationFamily kSystem91Stations[] = {{kDX9100, "DX9100"}, {kXT9100, "XT9100"}, {kTC9100, "TC9100"}};

using Items = std::map<uint16_t, n2sim::MemoryItem>;

Items ItemsOf(n2sim::Simulator &sim, int station) {
  Items items;
  sim.WithSystem91(station, [&](n2sim::System91Station *s) {
    if (s != nullptr) items = s->memory().items();
  });
  return items;
}

// The write request a writable point takes.
Kind WriteKindOf(const ModuleEntry &module, const PointEntry &point) {
  switch (point.type) {
    case kTypeN2Real:
      return Kind::kWriteReal;
    case kTypeBit8:
    case kTypeBit16:
      return Kind::kWriteBit;
    case kTypeWord:
    case kTypeWord70:
      return Kind::kWriteWord;
    case kTypeLong:
      if (e2e::IsSchedulePoint(module, point)) return Kind::kWriteSchedule;
      if (e2e::IsClockPoint(module)) return Kind::kWriteClock;
      return Kind::kWriteCounter;
    default:
      return Kind::kWriteField;
  }
}

// How many consecutive items from address on are like the first (an N2 real,
// a 32-bit item) or, for a 16-bit block, merely exist; at most 32.
int RunFrom(const Items &items, uint16_t address, int32_t dataType) {
  int run = 0;
  while (run < kMaxBlockItems) {
    auto it = items.find(static_cast<uint16_t>(address + run));
    if (it == items.end()) break;
    const n2sim::MemoryItem &item = it->second;
    if (dataType == kGateReal && !(item.real && item.width == 2)) break;
    if (dataType == kGateInt32 && !(item.width == 4 && !item.real)) break;
    ++run;
  }
  return run;
}

void AddSystem91Gates(n2sim::Simulator &sim, std::mt19937 &random, Catalogue *catalogue) {
  for (const StationFamily &sf : kSystem91Stations) {
    const FamilyTable *family = FindFamily(sf.family);
    const Items items = ItemsOf(sim, sf.station);
    for (uint16_t m = 0; m < family->moduleCount; ++m) {
      const ModuleEntry &module = family->modules[m];
      for (uint16_t p = 0; p < module.pointCount; ++p) {
        const PointEntry &point = module.points[p];
        Gate gate;
        gate.station = sf.station;
        gate.module = &module;
        gate.point = &point;
        gate.gas = e2e::GasOf(sf.station, module, point);
        gate.dataType = e2e::DataTypeOf(point.type);
        const bool inArea = e2e::IsSchedulePoint(module, point) || e2e::IsClockPoint(module);
        gate.address = static_cast<uint16_t>(inArea ? point.offset : module.base + point.offset);
        if (!inArea) {
          auto it = items.find(gate.address);
          if (it == items.end()) continue;  // the plant has no item for it: no gate
          gate.clockWord = it->second.dynamics == n2sim::Dynamics::kClockWord;
        }
        gate.kind = Kind::kRead;
        catalogue->gates[static_cast<int>(Kind::kRead)].push_back(gate);
        if (point.access == 'W') {
          gate.kind = WriteKindOf(module, point);
          catalogue->gates[static_cast<int>(gate.kind)].push_back(gate);
        }

        // Block reads: DX9100 whole items, as many of the items from here on
        // as are of the same kind (16-bit blocks store their first item only).
        if (sf.station != kDX9100 || inArea || point.bit != kWholeItem) continue;
        int32_t blockType = -1;
        if (point.type == kTypeN2Real) blockType = kGateReal;
        if (point.type == kTypeLong) blockType = kGateInt32;
        if ((point.type == kTypeWord || point.type == kTypeWord70) && items.at(gate.address).width == 2) {
          blockType = kGateInt16;
        }
        if (blockType < 0) continue;
        const int run = RunFrom(items, gate.address, blockType);
        if (run < 1) continue;
        gate.kind = Kind::kBlockRead;
        gate.dataType = blockType;
        gate.items = std::uniform_int_distribution<int>(1, run)(random);
        catalogue->gates[static_cast<int>(Kind::kBlockRead)].push_back(gate);
      }
    }
  }
}

void AddN2OpenGates(n2sim::Simulator &sim, Catalogue *catalogue) {
  int objects = 0;
  sim.WithN2Open(kN2Open, [&](n2sim::N2OpenStation *s) {
    if (s != nullptr) objects = s->objects();
  });
  for (int region = n2sim::kAI; region <= n2sim::kBD; ++region) {
    const bool output = region != n2sim::kAI && region != n2sim::kBI;
    for (int element = 1; element <= objects; ++element) {
      Gate gate;
      gate.station = kN2Open;
      gate.region = region;
      gate.element = element;
      gate.kind = Kind::kN2OpenRead;
      gate.gas = N2OpenGas(kN2Open, region, element, false);
      gate.dataType = N2OpenDataType(region);
      catalogue->gates[static_cast<int>(Kind::kN2OpenRead)].push_back(gate);
      if (!output) continue;
      gate.kind = Kind::kN2OpenWrite;
      catalogue->gates[static_cast<int>(Kind::kN2OpenWrite)].push_back(gate);

      gate.gas = N2OpenGas(kN2Open, region, element, true);
      gate.dataType = kGateDigital;
      gate.kind = Kind::kN2OpenRelease;
      catalogue->gates[static_cast<int>(Kind::kN2OpenRelease)].push_back(gate);
      // An AD reply carries no status byte, so its override tag cannot show
      // the override flag (a known limit of the driver): not read here.
      if (region == n2sim::kAD) continue;
      gate.kind = Kind::kN2OpenOverrideRead;
      catalogue->gates[static_cast<int>(Kind::kN2OpenOverrideRead)].push_back(gate);
    }
  }
}

}  // namespace

const char *KindName(Kind kind) { return kKindNames[static_cast<int>(kind)]; }

std::string N2OpenGas(int station, int region, int element, bool overrideTag) {
  char text[24];
  snprintf(text, sizeof text, "%03d%s%03d%s", station, n2sim::N2OpenRegionName(region), element,
           overrideTag ? "_O" : "");
  return text;
}

int32_t N2OpenDataType(int region) {
  switch (region) {
    case n2sim::kBI:
    case n2sim::kBO:
      return kGateDigital;
    case n2sim::kAD:
      return kGateInt16;
    case n2sim::kBD:
      return kGateUInt16;
    default:
      return kGateReal;
  }
}

bool BuildCatalogue(DriverChannel &channel, n2sim::Simulator &sim, std::mt19937 &random, Catalogue *catalogue,
                    std::string *error) {
  AddSystem91Gates(sim, random, catalogue);
  AddN2OpenGates(sim, catalogue);
  for (int station : {kDX9100, kN2Open, kXT9100, kTC9100}) {
    Gate gate;
    gate.kind = Kind::kWarmStart;
    gate.station = station;
    catalogue->gates[static_cast<int>(Kind::kWarmStart)].push_back(gate);
  }

  for (std::vector<Gate> &gates : catalogue->gates) {
    for (Gate &gate : gates) {
      if (gate.kind == Kind::kWarmStart) continue;
      const int32_t status = gate.kind == Kind::kBlockRead
                                 ? channel.BlockCheck(gate.gas, gate.dataType, gate.items, &gate.parsed)
                                 : channel.Parse(gate.gas, gate.dataType, &gate.parsed);
      ++catalogue->parsed;
      if (status != 0) {
        *error = std::string(KindName(gate.kind)) + " gate " + gate.gas + " (data type " +
                 std::to_string(gate.dataType) + ", " + std::to_string(gate.items) +
                 " items) does not parse: " + std::to_string(status);
        return false;
      }
      if (gate.parsed.station != gate.station) {
        *error = gate.gas + " parses to station " + std::to_string(gate.parsed.station);
        return false;
      }
    }
  }
  return true;
}

}  // namespace soak
