#include "bench/minimum_exchanges.h"

#include <map>
#include <set>
#include <tuple>
#include <utility>

namespace bench {
namespace {

constexpr int kReal = 3;
constexpr int kInt32 = 5;
constexpr int kInt16 = 0;
constexpr int kUInt16 = 1;
constexpr int32_t kSchedule = 84;  // 'T'
constexpr int32_t kClock = 82;     // 'R'
constexpr int32_t kFirstN2OpenRegion = 1001;
constexpr int kMaxBlockItems = 32;

bool SharesBlocks(const ParsedGate &gate) {
  return gate.blockAdmitted && gate.region == 0 && (gate.dataType == kReal || gate.dataType == kInt32);
}

// Whether the parse results alone fix the value a single read returns.
bool ValueNeedsName(const ParsedGate &gate) {
  if (gate.region >= kFirstN2OpenRegion) return false;
  return gate.region == kSchedule || gate.region == kClock || gate.dataType == kInt16 || gate.dataType == kUInt16;
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
