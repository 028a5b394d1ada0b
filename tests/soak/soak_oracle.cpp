#include "tests/soak/soak_oracle.h"

#include <algorithm>

#include "sim/faults.h"
#include "sim/wire.h"

namespace soak {

namespace {

// Every protocol request is tried this many times.
constexpr int kAttempts = 5;
// The driver reads at most this many bytes for one reply line, its CR
// included; a longer line counts as none.
constexpr size_t kReplyBytesRead = 1000;

constexpr const char *kFrameNames[] = {"memory read", "block read", "area read",    "memory write",
                                       "area write",  "identify",   "status poll",  "item read",
                                       "item write",  "release",    "unknown frame"};

// Plays the driver's attempts over the recorded exchanges, one at a time.
class Player {
 public:
  Player(const std::vector<n2sim::ExchangeRecord> &records, int station, int timeoutMs)
      : records_(records), station_(station), timeoutMs_(timeoutMs) {}

  // The next exchange, which must be one more attempt of the step whose first
  // request line is in *stepLine (empty before the first attempt): the same
  // frame, for the request's station. kNone once the exchanges strayed from
  // the rules; the problem says how.
  Seen Attempt(Frame frame, bool dataReply, std::string *stepLine) {
    if (!problem_.empty()) return Seen::kNone;
    if (next_ >= records_.size()) {
      problem_ = "the rules make another " + std::string(FrameName(frame)) + " after " + std::to_string(next_) +
                 " exchanges; the driver stopped";
      return Seen::kNone;
    }
    const n2sim::ExchangeRecord &record = records_[next_];
    if (record.station != station_ || FrameOf(record) != frame) {
      problem_ = "exchange " + std::to_string(next_ + 1) + " should be a " + FrameName(frame) + " to station " +
                 std::to_string(station_) + ", not a " + FrameName(FrameOf(record)) + " to station " +
                 std::to_string(record.station);
      return Seen::kNone;
    }
    if (stepLine->empty()) {
      *stepLine = record.request;
    } else if (record.request != *stepLine) {
      problem_ = "exchange " + std::to_string(next_ + 1) + " repeats " + *stepLine + " as " + record.request;
      return Seen::kNone;
    }
    ++next_;
    return SeenOf(record, dataReply, timeoutMs_);
  }

  // Notes exchanges the rules do not make.
  void Finish() {
    if (problem_.empty() && next_ < records_.size()) {
      problem_ = std::to_string(records_.size() - next_) + " exchanges more than the rules make, from exchange " +
                 std::to_string(next_ + 1);
    }
  }
  const std::string &problem() const { return problem_; }

 private:
  const std::vector<n2sim::ExchangeRecord> &records_;
  int station_;
  int timeoutMs_;
  size_t next_ = 0;
  std::string problem_;
};

int32_t System91Read(Player &p, Frame frame) {
  int32_t status = 2;
  std::string line;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const Seen seen = p.Attempt(frame, true, &line);
    if (seen == Seen::kGood) return 0;
    if (seen == Seen::kBad) status = 1;
  }
  return status;
}

int32_t System91Write(Player &p, Frame frame) {
  int32_t status = 1;
  std::string line;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const Seen seen = p.Attempt(frame, false, &line);
    if (seen == Seen::kGood) return 0;
    if (seen == Seen::kNone) status = 2;
  }
  return status;
}

int32_t ReadModifyWrite(Player &p) {
  int32_t status = 1;
  std::string readLine, writeLine;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // Without a good read-back nothing is written on this attempt.
    if (p.Attempt(Frame::kMemRead, true, &readLine) != Seen::kGood) continue;
    const Seen seen = p.Attempt(Frame::kMemWrite, false, &writeLine);
    if (seen == Seen::kGood) return 0;
    if (seen == Seen::kNone) status = 2;
  }
  return status;
}

// One of the two exchanges of the initialisation: 0 accepted, else the code of
// the last attempt.
int32_t InitExchange(Player &p, Frame frame) {
  int32_t code = 2;
  std::string line;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const Seen seen = p.Attempt(frame, false, &line);
    if (seen == Seen::kGood) return 0;
    code = seen == Seen::kBad ? 1 : 2;
  }
  return code;
}

int32_t N2OpenInit(Player &p) {
  const int32_t identified = InitExchange(p, Frame::kIdentify);
  const int32_t answered = InitExchange(p, Frame::kStatusPoll);
  return answered != 0 ? answered : identified;
}

// An item read or write: the status of the last attempt; after a bad reply the
// station is initialised again and the request fails all the same.
int32_t N2OpenItem(Player &p, Frame frame, bool dataReply, bool initialised) {
  if (!initialised) {
    const int32_t init = N2OpenInit(p);
    if (init != 0) return init;
  }
  int32_t status = 0;
  std::string line;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const Seen seen = p.Attempt(frame, dataReply, &line);
    if (seen == Seen::kGood) return 0;
    status = seen == Seen::kBad ? 1 : 2;
  }
  if (status != 1) return status;
  const int32_t again = N2OpenInit(p);
  return again != 0 ? again : 1;
}

bool DataReplyOf(Frame frame) {
  return frame == Frame::kMemRead || frame == Frame::kBlockRead || frame == Frame::kAreaRead ||
         frame == Frame::kItemRead;
}

// Frames a request of the plan may send, and how many exchanges at most.
std::vector<Frame> FramesOf(const Plan &plan, size_t *most) {
  switch (plan.procedure) {
    case Procedure::kSystem91Read:
    case Procedure::kSystem91Write:
      *most = kAttempts;
      return {plan.frame};
    case Procedure::kReadModifyWrite:
      *most = 2 * kAttempts;
      return {Frame::kMemRead, Frame::kMemWrite};
    case Procedure::kN2OpenRead:
    case Procedure::kN2OpenWrite:
      *most = 5 * kAttempts;
      return {Frame::kIdentify, Frame::kStatusPoll, plan.frame};
    case Procedure::kN2OpenInit:
      *most = 2 * kAttempts;
      return {Frame::kIdentify, Frame::kStatusPoll};
    case Procedure::kNone:
      break;
  }
  *most = 0;
  return {};
}

// A request with a late reply: the late reply may have been taken by a later
// attempt (as good, or as a bad line when it ran into another reply) or
// missed, so every status is possible (a warm start still ends 0). The frames
// must still be the plan's, and no more than its attempts make.
Verdict JudgeLoosely(const Plan &plan, const std::vector<n2sim::ExchangeRecord> &records) {
  Verdict verdict;
  verdict.loose = true;
  verdict.allowed = plan.procedure == Procedure::kN2OpenInit || plan.procedure == Procedure::kNone
                        ? std::vector<int32_t>{0}
                        : std::vector<int32_t>{0, 1, 2};
  size_t most = 0;
  const std::vector<Frame> frames = FramesOf(plan, &most);
  if (records.size() > most) {
    verdict.problem =
        std::to_string(records.size()) + " exchanges, more than the " + std::to_string(most) + " the rules allow";
  }
  for (const n2sim::ExchangeRecord &record : records) {
    const Frame frame = FrameOf(record);
    if (record.station != plan.station || std::find(frames.begin(), frames.end(), frame) == frames.end()) {
      verdict.problem = std::string("a ") + FrameName(frame) + " to station " + std::to_string(record.station) +
                        " has no place in this request";
    }
  }
  return verdict;
}

}  // namespace

const char *FrameName(Frame frame) { return kFrameNames[static_cast<int>(frame)]; }

Frame FrameOf(const n2sim::ExchangeRecord &record) {
  const std::string &line = record.request;
  if (line.size() < 5 || line[0] != '>') return Frame::kUnknown;
  if (record.family == "N2OPEN" && line[3] == 'F') return Frame::kStatusPoll;
  n2sim::Bytes command;
  if (!n2sim::ParseHex(line.substr(3, 2), &command)) return Frame::kUnknown;
  const uint8_t c = command[0];
  if (record.family == "N2OPEN") {
    if (c == 0x04) return Frame::kIdentify;
    if (c >= 0x11 && c <= 0x17) return Frame::kItemRead;
    if (c == 0x72) return Frame::kItemWrite;
    if (c == 0x73) return Frame::kRelease;
    return Frame::kUnknown;
  }
  if (c >= 0x80 && c <= 0x84) return Frame::kMemRead;
  if (c >= 0xA8 && c <= 0xAC) return Frame::kBlockRead;
  if (c == 0x98) return Frame::kAreaRead;
  if (c >= 0xC0 && c <= 0xC4) return Frame::kMemWrite;
  if (c == 0xD8) return Frame::kAreaWrite;
  return Frame::kUnknown;
}

Seen SeenOf(const n2sim::ExchangeRecord &record, bool dataReply, int timeoutMs) {
  const n2sim::Delivery &d = record.delivery;
  if (d.silent) return Seen::kNone;
  if (d.delayMs > timeoutMs / 4 || d.dribbleMs > timeoutMs / 4) return Seen::kLate;
  // Bytes of a slow reply that come after the driver stopped reading at its
  // limit reach whichever attempt reads next.
  if (d.noise.size() + d.sendBytes > kReplyBytesRead && d.dribbleMs > 0) return Seen::kLate;
  if (d.sendBytes < d.line.size() + 1) return Seen::kNone;  // cut: its CR never comes
  const std::string line = d.noise + d.line;
  if (line.size() + 1 > kReplyBytesRead) return Seen::kNone;
  if (!dataReply) return !line.empty() && line[0] == 'A' ? Seen::kGood : Seen::kBad;
  // The driver checks a data reply's first character, length and frame sum;
  // any change the faults make breaks one of them (noise in front shifts the
  // whole line), and a refusal is no data.
  const n2sim::FaultSet changing = n2sim::FaultBit(n2sim::FaultKind::kNak) | n2sim::FaultBit(n2sim::FaultKind::kBadSum);
  const bool refused = record.kind == "refused" || record.kind == "garbled";
  return d.noise.empty() && (d.faults & changing) == 0 && !refused ? Seen::kGood : Seen::kBad;
}

Verdict Judge(const Plan &plan, const std::vector<n2sim::ExchangeRecord> &records, int timeoutMs) {
  bool late = false, reset = false;
  for (const n2sim::ExchangeRecord &record : records) {
    late |= SeenOf(record, DataReplyOf(FrameOf(record)), timeoutMs) == Seen::kLate;
    reset |= record.kind == "reset";
  }
  Verdict verdict;
  if (late) {
    verdict = JudgeLoosely(plan, records);
    verdict.resetSeen = reset;
    return verdict;
  }
  verdict.resetSeen = reset;
  Player p(records, plan.station, timeoutMs);
  int32_t status = 0;
  switch (plan.procedure) {
    case Procedure::kNone:
      break;
    case Procedure::kSystem91Read:
      status = System91Read(p, plan.frame);
      break;
    case Procedure::kSystem91Write:
      status = System91Write(p, plan.frame);
      break;
    case Procedure::kReadModifyWrite:
      status = ReadModifyWrite(p);
      break;
    case Procedure::kN2OpenRead:
      status = N2OpenItem(p, plan.frame, true, plan.initialised);
      break;
    case Procedure::kN2OpenWrite:
      status = N2OpenItem(p, plan.frame, false, plan.initialised);
      break;
    case Procedure::kN2OpenInit:
      (void)N2OpenInit(p);
      break;
  }
  p.Finish();
  verdict.allowed = {status};
  verdict.problem = p.problem();
  return verdict;
}

}  // namespace soak
