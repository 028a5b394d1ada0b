#include "bench/minimum_exchanges.h"

#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "driver/requests.h"
#include "n2/protocol.h"

namespace bench {
namespace {

bool SharesBlocks(const ParsedGate &gate) {
  return gate.blockAdmitted && gate.region == 0 && (gate.dataType == kGateReal || gate.dataType == kGateInt32);
}

// Whether the parse results alone fix the value a single read returns.
bool ValueNeedsName(const ParsedGate &gate) {
  if (gate.region >= kRegionAI) return false;  // N2 Open regions
  return gate.region == kSpecialSchedule || gate.region == kSpecialClock || gate.dataType == kGateInt16 ||
         gate.dataType == kGateUInt16;
}

}  // namespace

ExchangeCount MinimumExchanges(const std::vector<ParsedGate> &gates) {
  std::map<std::pair<int32_t, int>, std::set<int32_t>> blockAddresses;  // (station, type) -> addresses
  std::set<std::tuple<int32_t, int32_t, int32_t, int32_t, int, std::string>> singleReads;
  for (const ParsedGate &gate : gates) {
    if (SharesBlocks(gate)) {
      blockAddresses[{gate.station, gate.dataType}].insert(gate.element);
    } else {
      singleReads.emplace(gate.station, gate.region, gate.element, gate.bit, gate.dataType,
                          ValueNeedsName(gate) ? gate.gas : std::string());
    }
  }
  ExchangeCount count;
  count.singleReads = static_cast<int>(singleReads.size());
  for (const auto &[key, addresses] : blockAddresses) {
    // Walk the runs of consecutive addresses.
    int run = 0;
    int32_t previous = 0;
    // A run is read in pieces of 32 items; a piece of one item is a single read.
    auto closeRun = [&count](int length) {
      count.blockReads += length / kMaxBlockItems;
      const int rest = length % kMaxBlockItems;
      if (rest > 1) ++count.blockReads;
      if (rest == 1) ++count.singleReads;
    };
    for (int32_t address : addresses) {
      if (run > 0 && address == previous + 1) {
        ++run;
      } else {
        closeRun(run);
        run = 1;
      }
      previous = address;
    }
    closeRun(run);
  }
  return count;
}

}  // namespace bench
