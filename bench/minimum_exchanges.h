// The fewest exchanges one poll cycle of a gate list can make, counted from
// what the driver says about each gate (commands 3 and 4) and the rules of
// its interface, apart from any planner that groups the reads:
//
// - A block read (command 6) returns one value per item only for reals and
//   32-bit integers, and command 4 admits only whole items of a DX9100 to
//   it, at most 32 consecutive device addresses from the first. Gates of one
//   station and type at consecutive addresses of ordinary points (special
//   kind 0) can therefore share block reads: a run of L addresses needs
//   L / 32 of them, rounded up. Gates at one address count once.
// - Every other gate needs a read of its own (command 5), unless another
//   gate makes exactly the same read with the same value: same station,
//   region code, address, bit and type, and, where those do not fix the
//   value (a 16-bit System 91 item may be one field of a shared word, and
//   schedule points of different schedules share item numbers), the same GAS.
#ifndef ZAMKT_BENCH_MINIMUM_EXCHANGES_H
#define ZAMKT_BENCH_MINIMUM_EXCHANGES_H

#include <stdint.h>

#include <string>
#include <vector>

namespace bench {

struct ParsedGate {
  std::string gas;
  int dataType = 0;        // the host's gate data type: 0, 1, 3, 5, 6
  int32_t station = 0;     // command 3's outputs
  int32_t region = 0;      // special kind (System 91) or region code 1001..1012 (N2 Open)
  int32_t element = 0;     // device address or object number
  int32_t bit = 255;
  bool blockAdmitted = false;  // command 4 returned 0
};

struct ExchangeCount {
  int blockReads = 0;   // exchanges that read two items or more
  int singleReads = 0;  // exchanges that read one item
  int total() const { return blockReads + singleReads; }
};

ExchangeCount MinimumExchanges(const std::vector<ParsedGate> &gates);

}  // namespace bench

#endif  // ZAMKT_BENCH_MINIMUM_EXCHANGES_H
