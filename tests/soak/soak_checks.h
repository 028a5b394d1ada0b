// One request of the soak: the value a write sends and what it must leave in
// the plant, and the invariants checked once the driver has answered:
// - a read with status 0 holds exactly what the station held, and a failed
//   read leaves the host's buffer as it was; no read changes the plant;
// - a write with status 0 is in the station; after a failed write the point
//   holds its old or its new value, never a third;
// - no request changes anything but its own bit, field, item, schedule item,
//   clock or object;
// - the status is the one the driver's rules rank for the exchanges (oracle).
#ifndef ZAMKT_TESTS_SOAK_SOAK_CHECKS_H
#define ZAMKT_TESTS_SOAK_SOAK_CHECKS_H

#include <stdint.h>

#include <random>
#include <string>
#include <vector>

#include "tests/e2e_fixture.h"
#include "tests/soak/soak_gates.h"
#include "tests/soak/soak_oracle.h"
#include "tests/soak/soak_plant.h"

namespace soak {

struct Request {
  const Gate *gate = nullptr;
  e2e::HostValue value;  // the host's value buffer: the value to write, or 0xEE where a read stores
  std::string target;    // writes: what the point must hold afterwards (see TargetOf)
  std::string written;   // writes: the value as the host gave it, for reports
  // N2 Open writes: what the object holds when a restart released its
  // override, before or after the write landed.
  std::vector<std::string> released;
};

// A request of the gate with a fresh value for a write, drawn to suit the
// point; before is the plant as it stands.
Request MakeRequest(const Gate &gate, const PlantState &before, std::mt19937 &random);

// The procedure the driver's rules run for the request; initialised: the
// channel's N2 Open flag of the station before the request.
Plan PlanOf(const Gate &gate, bool initialised);

// What the request may change in the plant.
Allowance AllowanceOf(const Gate &gate, bool resetSeen);

// What the point of a write holds in the plant, in a form that compares
// equal exactly when the point's value is the same: the N2 real's value, the
// bits of the bit or field, the item, the schedule value, the clock reading,
// the N2 Open object's override.
std::string TargetOf(const Gate &gate, const PlantState &state);

// How the request went: the driver's status, the oracle's verdict, the plant
// before and after, and what a read of the gate gives by each.
struct Outcome {
  int32_t status;
  const Verdict &verdict;
  const PlantState &before;
  const PlantState &after;
  e2e::Reading readingBefore;
  e2e::Reading readingAfter;
};

// What the driver did wrong on the request, one line each; empty when nothing.
std::vector<std::string> CheckRequest(const Request &request, const Outcome &outcome);

}  // namespace soak

#endif  // ZAMKT_TESTS_SOAK_SOAK_CHECKS_H
