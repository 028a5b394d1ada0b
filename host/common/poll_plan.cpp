#include "host/common/poll_plan.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "driver/requests.h"
#include "host/common/gate_types.h"
#include "host/common/point_meaning.h"
#include "host/common/value_buffer.h"

namespace n2host {
namespace {

// Requests of one station before they are put in order.
struct Pending {
  PollRequest request;
  int position;  // smallest list index among its gates
};

// What makes two single reads the same request with the same value: the
// parse results and the type, and for the points whose value the parse
// results do not fix, the GAS. A 16-bit System 91 gate may be one field of a
// word that other fields share (TC9100 MIN, HOUR and WDAY), and schedule
// points of different schedules share their item numbers. Bits, reals,
// 32-bit items and N2 Open objects are fixed by address, bit and region.
struct ReadKey {
  int32_t station, region, element, bit;
  int type;
  std::string gas;
  auto operator<=>(const ReadKey &) const = default;
};

ReadKey ReadKeyOf(const Gate &gate) {
  const bool needsName = !IsN2OpenRegion(gate.region) &&
                         (gate.region == kSpecialSchedule || gate.region == kSpecialClock ||
                          gate.type == kGateInt16 || gate.type == kGateUInt16);
  return ReadKey{gate.station, gate.region, gate.element, gate.bit, gate.type, needsName ? gate.spec.gas : ""};
}

}  // namespace

bool BlockCandidate(const Gate &gate) {
  return gate.valid && gate.blockEligible && gate.region == 0 && (gate.type == kGateReal || gate.type == kGateInt32);
}

std::vector<PollRequest> PlanPoll(const std::vector<Gate> &gates, bool useBlocks) {
  std::vector<int32_t> stationOrder;
  std::map<int32_t, std::vector<Pending>> byStation;
  // Candidates by station, type and poll class (a block reads its gates
  // together, so they must share a class), then by device address.
  std::map<std::tuple<int32_t, int, std::string>, std::map<int32_t, std::vector<int>>> candidates;

  // Single reads already planned, by what they read (with grouping on).
  std::map<ReadKey, size_t> singles;

  for (int i = 0; i < static_cast<int>(gates.size()); ++i) {
    const Gate &gate = gates[i];
    if (!gate.valid) continue;
    if (std::find(stationOrder.begin(), stationOrder.end(), gate.station) == stationOrder.end()) {
      stationOrder.push_back(gate.station);
    }
    if (useBlocks && BlockCandidate(gate)) {
      candidates[{gate.station, gate.type, gate.spec.meta.pollClass}][gate.element].push_back(i);
      continue;
    }
    if (useBlocks) {
      // A gate that repeats a read already planned (the same gate listed
      // twice, another name of the same bit) takes its value from that read.
      auto [it, added] = singles.try_emplace(ReadKeyOf(gate), byStation[gate.station].size());
      if (!added) {
        byStation[gate.station][it->second].request.gates.push_back(i);
        continue;
      }
    }
    Pending pending;
    pending.request.station = gate.station;
    pending.request.type = gate.type;
    pending.request.leader = i;
    pending.request.firstAddress = gate.element;
    pending.request.gates = {i};
    pending.position = i;
    byStation[gate.station].push_back(pending);
  }

  for (const auto &[key, addresses] : candidates) {
    // Split the sorted addresses into runs of consecutive ones, at most
    // kMaxBlockItems long.
    std::vector<std::vector<int32_t>> runs;
    int32_t previous = 0;
    for (const auto &[address, indices] : addresses) {
      if (runs.empty() || address != previous + 1 || static_cast<int>(runs.back().size()) == kMaxBlockItems) {
        runs.emplace_back();
      }
      runs.back().push_back(address);
      previous = address;
    }
    for (const std::vector<int32_t> &run : runs) {
      Pending pending;
      pending.request.station = std::get<0>(key);
      pending.request.type = std::get<1>(key);
      pending.request.block = run.size() > 1;
      pending.request.firstAddress = run.front();
      pending.request.items = static_cast<int>(run.size());
      pending.request.leader = addresses.at(run.front()).front();
      pending.position = static_cast<int>(gates.size());
      for (int32_t address : run) {
        for (int index : addresses.at(address)) {
          pending.request.gates.push_back(index);
          pending.position = std::min(pending.position, index);
        }
      }
      if (!pending.request.block) pending.request.items = 1;
      byStation[std::get<0>(key)].push_back(pending);
    }
  }

  std::vector<PollRequest> plan;
  int blockNumber = 0;
  for (int32_t station : stationOrder) {
    std::vector<Pending> &pending = byStation[station];
    std::stable_sort(pending.begin(), pending.end(),
                     [](const Pending &a, const Pending &b) { return a.position < b.position; });
    for (Pending &entry : pending) {
      if (entry.request.block) entry.request.blockNumber = ++blockNumber;
      plan.push_back(entry.request);
    }
  }
  return plan;
}

std::vector<std::string> DescribePlan(const std::vector<PollRequest> &plan, const std::vector<Gate> &gates) {
  std::vector<std::string> lines;
  int singles = 0;
  int singleGates = 0;
  for (const PollRequest &request : plan) {
    if (!request.block) {
      ++singles;
      singleGates += static_cast<int>(request.gates.size());
      continue;
    }
    lines.push_back("station " + std::to_string(request.station) + ": block " +
                    std::to_string(request.blockNumber) + " reads " + std::to_string(request.items) + " " +
                    GateTypeName(request.type) + " items at " + std::to_string(request.firstAddress) + ".." +
                    std::to_string(request.firstAddress + request.items - 1) + " for " +
                    std::to_string(request.gates.size()) + (request.gates.size() == 1 ? " gate (" : " gates (") + gates[request.leader].spec.gas + " ...)");
  }
  lines.push_back(std::to_string(singles) + " single read" + (singles == 1 ? "" : "s") + " for " +
                  std::to_string(singleGates) + " gate" + (singleGates == 1 ? "" : "s") + "; " +
                  std::to_string(plan.size()) + " request" + (plan.size() == 1 ? "" : "s") + " per cycle");
  return lines;
}

}  // namespace n2host
