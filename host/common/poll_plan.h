// Which requests one poll cycle sends. Gates of one DX9100 station read as
// reals or 32-bit integers, ordinary points (special kind 0) that command 4
// admits, whose device addresses are consecutive, are read together in block
// reads of up to 32 items: only those types give one value per item of a
// block. Gates at one address count once (aliases share the item). Every
// other gate is read on its own, once for all the gates that make the same
// read: the same gate listed twice, names of the same bit, an N2 Open object
// and its "_O" form where they read alike.
#ifndef ZAMKT_HOST_COMMON_POLL_PLAN_H
#define ZAMKT_HOST_COMMON_POLL_PLAN_H

#include <stdint.h>

#include <string>
#include <vector>

#include "host/common/gate.h"

namespace n2host {

struct PollRequest {
  int32_t station = 0;
  int type = 0;
  bool block = false;        // command 6; otherwise command 5
  int blockNumber = 0;       // 1, 2, ... for blocks, in plan order
  int leader = 0;            // the gate whose parse results the request carries
  int32_t firstAddress = 0;  // blocks: device address of item 0
  int items = 1;
  std::vector<int> gates;    // every gate the request serves (indices)
};

// The requests of one cycle, grouped by station in the order the stations
// first appear in the list, and within a station in list order. Invalid gates
// get no request. With useBlocks false every gate is read on its own, with
// no sharing at all.
std::vector<PollRequest> PlanPoll(const std::vector<Gate> &gates, bool useBlocks);

// True for a gate that may share a block read.
bool BlockCandidate(const Gate &gate);

// "station 1: block 1 reads 3 real items at 1217..1219 for 3 gates" and the
// like, one line per block, then a count of the single reads.
std::vector<std::string> DescribePlan(const std::vector<PollRequest> &plan, const std::vector<Gate> &gates);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_POLL_PLAN_H
