// The simulated plant as the soak sees it: a copy of everything its stations
// hold (memory items, time schedules and clock of the System 91 stations,
// the objects of the N2 Open station), taken before and after each request,
// the changes between two copies, and what a read of a gate must give.
#ifndef ZAMKT_TESTS_SOAK_SOAK_PLANT_H
#define ZAMKT_TESTS_SOAK_SOAK_PLANT_H

#include <stdint.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/clock_schedule.h"
#include "sim/simulator.h"
#include "tests/e2e_fixture.h"
#include "tests/soak/soak_gates.h"

namespace soak {

struct N2OpenObject {
  double own = 0;
  double forced = 0;
  bool overridden = false;
};
bool operator==(const N2OpenObject &a, const N2OpenObject &b);

struct ClockState {
  long offset = 0;
  n2sim::ClockParts parts;  // the reading at the soak's time
};

struct PlantState {
  std::map<int, std::map<uint16_t, uint32_t>> items;    // station -> device address -> raw item
  std::map<int, std::vector<int>> schedules;            // DX9100 -> schedule * 32 + offset -> value
  std::map<int, ClockState> clocks;                     // DX9100 -> its clock
  std::map<std::pair<int, int>, N2OpenObject> objects;  // N2 Open (region, element) -> object
};

// Everything the stations of the plant hold at host time now.
PlantState Capture(n2sim::Simulator &sim, double now);

// What one request may change.
struct Allowance {
  int station = 0;                 // the System 91 station of the item, schedule or clock
  int address = -1;                // its memory item, and
  uint32_t mask = 0;               //   the bits of it that may change
  int schedule = -1, offset = -1;  // a schedule item
  bool clock = false;              // the station's clock
  int region = 0, element = 0;     // an N2 Open object
  bool releases = false;           // a station restarted: N2 Open overrides may be gone
};

// The changes from before to after that the allowance does not cover, one
// line each; empty when there are none.
std::vector<std::string> ChangesOutside(const PlantState &before, const PlantState &after, const Allowance &allowance);

// Index of a schedule item in PlantState::schedules.
inline int ScheduleSlot(int schedule, int offset) { return schedule * 32 + offset; }
// The schedule number 0..7 of a TSnn module.
int ScheduleOf(const ModuleEntry &module);

// What a single read of the gate gives the host, from the plant as it stands.
e2e::Reading ExpectedReading(n2sim::Simulator &sim, const Gate &gate, double now);

}  // namespace soak

#endif  // ZAMKT_TESTS_SOAK_SOAK_PLANT_H
