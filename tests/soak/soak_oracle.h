// What the driver's rules make of the exchanges of one request. The simulator
// records every exchange: the request line, what the station answered and
// what the injected faults made of it. The oracle works out what the driver
// saw of each reply (a good one, a bad one, none), plays the driver's
// attempts over the exchanges in order, checks that the frames are those the
// rules send, and gives the status the rules rank.
//
// A reply held back beyond the read time-out may reach the driver during a
// later attempt, or be thrown away by the next attempt's discard: which one
// depends on timing the oracle cannot see. A request with such a reply is
// judged loosely: its frames are checked, its status is not ranked (its
// values and writes are still checked by the soak).
#ifndef ZAMKT_TESTS_SOAK_SOAK_ORACLE_H
#define ZAMKT_TESTS_SOAK_SOAK_ORACLE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "sim/simulator.h"

namespace soak {

// What the driver makes of one reply.
enum class Seen {
  kGood,  // a whole reply line the driver accepts
  kBad,   // a whole reply line the driver rejects
  kNone,  // no line: silence, or a reply cut off before its CR
  kLate,  // held back so long that the driver may have stopped waiting for it
};

// The kind of a request frame, from its command byte.
enum class Frame {
  // System 91
  kMemRead,
  kBlockRead,
  kAreaRead,
  kMemWrite,
  kAreaWrite,
  // N2 Open
  kIdentify,
  kStatusPoll,
  kItemRead,
  kItemWrite,
  kRelease,
  kUnknown,
};
const char *FrameName(Frame frame);
Frame FrameOf(const n2sim::ExchangeRecord &record);

// dataReply: the driver takes data from the reply (reads, the read-back of a
// read-modify-write), so only the line exactly as the station sent it is
// good; otherwise (acknowledgements) any line that starts with "A" is.
// A reply that starts later than a quarter of the time-out, or whose bytes
// come further apart, counts as late; one of more than 999 characters before
// its CR (noise included) as none, or as late when its bytes come slowly (the
// rest of it then reaches a later attempt).
Seen SeenOf(const n2sim::ExchangeRecord &record, bool dataReply, int timeoutMs);

// The exchanges a request makes by the driver's rules.
enum class Procedure {
  kNone,             // nothing goes on the line (warm start of a System 91 station)
  kSystem91Read,     // up to 5 attempts of `frame`; a reply line outranks silence
  kSystem91Write,    // up to 5 attempts of `frame`; silence outranks a refusal
  kReadModifyWrite,  // up to 5 attempts of a read-back and, when it is good, the write
  kN2OpenRead,       // initialisation unless done, up to 5 item reads, initialisation again after a bad reply
  kN2OpenWrite,      // the same with item writes (or releases)
  kN2OpenInit,       // the initialisation alone: a warm start; always 0
};

struct Plan {
  Procedure procedure = Procedure::kNone;
  Frame frame = Frame::kUnknown;  // the frame of the attempts (the write frame of a read-modify-write)
  int station = 0;
  bool initialised = false;  // N2 Open: the channel had initialised the station before
};

struct Verdict {
  std::vector<int32_t> allowed;  // the status the rules rank; when loose, every status
  bool loose = false;            // a reply came late
  bool resetSeen = false;        // a station restarted during the request
  std::string problem;           // frames that do not follow the rules; empty when they do
};

Verdict Judge(const Plan &plan, const std::vector<n2sim::ExchangeRecord> &records, int timeoutMs);

}  // namespace soak

#endif  // ZAMKT_TESTS_SOAK_SOAK_ORACLE_H
