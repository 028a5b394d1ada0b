#include "tests/soak/soak_plant.h"

#include <stdio.h>
#include <stdlib.h>

#include "sim/n2open_station.h"
#include "sim/system91_station.h"

namespace soak {

namespace {

std::string Hex(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%X", value);
  return text;
}

std::string Describe(const N2OpenObject &o) {
  char text[96];
  snprintf(text, sizeof text, "own %g forced %g%s", o.own, o.forced, o.overridden ? " overridden" : "");
  return text;
}

bool SameClock(const ClockState &a, const ClockState &b) { return a.offset == b.offset; }

}  // namespace

bool operator==(const N2OpenObject &a, const N2OpenObject &b) {
  return a.own == b.own && a.forced == b.forced && a.overridden == b.overridden;
}

int ScheduleOf(const ModuleEntry &module) { return atoi(module.name + 2) - 1; }

PlantState Capture(n2sim::Simulator &sim, double now) {
  PlantState state;
  for (int station : {kDX9100, kXT9100, kTC9100}) {
    sim.WithSystem91(station, [&](n2sim::System91Station *s) {
      if (s == nullptr) return;
      std::map<uint16_t, uint32_t> &items = state.items[station];
      for (const auto &[address, item] : s->memory().items()) items[address] = s->memory().ValueAt(item, now);
      if (!s->hasAreas()) return;
      std::vector<int> &schedules = state.schedules[station];
      schedules.assign(ScheduleSlot(n2sim::ScheduleBank::kSchedules, 0), 0);
      for (int schedule = 0; schedule < n2sim::ScheduleBank::kSchedules; ++schedule) {
        for (int offset = n2sim::ScheduleBank::kFirstOffset; offset <= n2sim::ScheduleBank::kLastOffset; ++offset) {
          schedules[ScheduleSlot(schedule, offset)] = s->schedules().Value(schedule, offset);
        }
      }
      state.clocks[station] = ClockState{s->clock().offset(), s->clock().Now(now)};
    });
  }
  sim.WithN2Open(kN2Open, [&](n2sim::N2OpenStation *s) {
    if (s == nullptr) return;
    for (int region = n2sim::kAI; region <= n2sim::kBD; ++region) {
      for (int element = 1; element <= s->objects(); ++element) {
        const n2sim::N2OpenStation::Object *o = s->Find(region, element);
        state.objects[{region, element}] = N2OpenObject{o->own, o->forced, o->overridden};
      }
    }
  });
  return state;
}

std::vector<std::string> ChangesOutside(const PlantState &before, const PlantState &after, const Allowance &allowance) {
  std::vector<std::string> changes;
  for (const auto &[station, items] : before.items) {
    const std::map<uint16_t, uint32_t> &now = after.items.at(station);
    for (const auto &[address, value] : items) {
      uint32_t changed = value ^ now.at(address);
      if (station == allowance.station && address == allowance.address) changed &= ~allowance.mask;
      if (changed != 0) {
        changes.push_back("station " + std::to_string(station) + " item " + std::to_string(address) + ": " +
                          Hex(value) + " -> " + Hex(now.at(address)));
      }
    }
  }
  for (const auto &[station, values] : before.schedules) {
    const std::vector<int> &now = after.schedules.at(station);
    for (size_t slot = 0; slot < values.size(); ++slot) {
      const bool allowed =
          station == allowance.station && static_cast<int>(slot) == ScheduleSlot(allowance.schedule, allowance.offset);
      if (!allowed && values[slot] != now[slot]) {
        changes.push_back("station " + std::to_string(station) + " schedule TS0" + std::to_string(slot / 32 + 1) +
                          " offset " + std::to_string(slot % 32) + ": " + std::to_string(values[slot]) + " -> " +
                          std::to_string(now[slot]));
      }
    }
  }
  for (const auto &[station, clock] : before.clocks) {
    const bool allowed = station == allowance.station && allowance.clock;
    if (!allowed && !SameClock(clock, after.clocks.at(station))) {
      changes.push_back("station " + std::to_string(station) + " clock offset " + std::to_string(clock.offset) +
                        " -> " + std::to_string(after.clocks.at(station).offset));
    }
  }
  for (const auto &[key, object] : before.objects) {
    if (key.first == allowance.region && key.second == allowance.element) continue;
    const N2OpenObject &now = after.objects.at(key);
    N2OpenObject released = object;
    released.overridden = false;
    if (now == object || (allowance.releases && now == released)) continue;
    changes.push_back("N2 Open " + N2OpenGas(kN2Open, key.first, key.second, false) + ": " + Describe(object) + " -> " +
                      Describe(now));
  }
  return changes;
}

e2e::Reading ExpectedReading(n2sim::Simulator &sim, const Gate &gate, double now) {
  e2e::Reading reading;
  if (gate.station != kN2Open) {
    sim.WithSystem91(gate.station, [&](n2sim::System91Station *s) {
      if (s != nullptr) reading = e2e::ExpectedReading(*s, *gate.module, *gate.point, now);
    });
    return reading;
  }
  sim.WithN2Open(kN2Open, [&](n2sim::N2OpenStation *s) {
    const n2sim::N2OpenStation::Object *o = s != nullptr ? s->Find(gate.region, gate.element) : nullptr;
    if (o == nullptr) return;
    const double value = s->ValueOf(gate.region, gate.element, now);
    if (gate.kind == Kind::kN2OpenOverrideRead) {
      reading.number = o->overridden ? 1 : 0;
    } else if (gate.dataType == kGateReal) {
      reading.real = static_cast<float>(value);
    } else if (gate.dataType == kGateDigital) {
      reading.number = value != 0 ? 1 : 0;
    } else if (gate.region == n2sim::kAD) {
      reading.number = static_cast<uint16_t>(value);
    } else {
      reading.number = static_cast<uint8_t>(value);
    }
  });
  return reading;
}

}  // namespace soak
