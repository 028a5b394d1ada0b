// Fault injection: which faults hit one exchange (by script step or by
// probability, per station and for the whole bus) and what they make of the
// reply on the wire.
#ifndef ZAMKT_SIM_FAULTS_H
#define ZAMKT_SIM_FAULTS_H

#include <stddef.h>

#include <random>
#include <string>
#include <vector>

#include "sim/plant.h"
#include "sim/station.h"

namespace n2sim {

// How one answer goes out.
struct Delivery {
  bool silent = false;    // nothing is sent
  std::string noise;      // bytes sent before the reply
  std::string line;       // the reply line without CR, after nak and badsum
  size_t sendBytes = 0;   // bytes of line + CR that go out (fewer when cut)
  int delayMs = 0;        // pause before the first byte
  int dribbleMs = 0;      // pause between bytes (0: all at once, or paced)
  FaultSet faults = 0;    // the faults applied

  // Exactly the bytes that go on the wire, in order.
  std::string Wire() const;
};

// The fault state of one scope (a station or the bus): its probabilities,
// parameters and its place in its script.
class FaultInjector {
 public:
  explicit FaultInjector(const FaultScope &scope = FaultScope()) : scope_(scope) {}

  // The faults of the next exchange of this scope: the script's next step
  // together with every kind drawn by its probability.
  FaultSet Draw(std::mt19937 &random);
  const FaultParams &params() const { return scope_.params; }
  // Replaces the script: its first step goes with the next exchange.
  void SetScript(const std::vector<FaultSet> &steps, bool repeats) {
    scope_.script = steps;
    scope_.scriptRepeats = repeats;
    step_ = 0;
  }

 private:
  FaultScope scope_;
  size_t step_ = 0;
};

// Applies the faults to a station's reply. A fault from the station's set
// takes the station's parameters, one only from the bus's set the bus's.
// Silence and reset win over all (a reset station sends nothing; the
// simulator has restarted it instead of letting it answer); nak replaces the
// line with "N" + code; badsum
// changes the frame sum of a reply that has one (others are left alone);
// noise puts bytes (never CR or LF) before the reply; cut keeps part of the
// line and never the CR; delay and dribble only set the timing.
Delivery Shape(const StationReply &reply, FaultSet stationFaults, const FaultParams &stationParams,
               FaultSet busFaults, const FaultParams &busParams, std::mt19937 &random);

// "nak+delay", or "" for none.
std::string FaultSetName(FaultSet set);

}  // namespace n2sim

#endif  // ZAMKT_SIM_FAULTS_H
