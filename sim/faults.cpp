#include "sim/faults.h"

#include "sim/wire.h"

namespace n2sim {

namespace {

bool Has(FaultSet set, FaultKind kind) { return (set & FaultBit(kind)) != 0; }

}  // namespace

std::string Delivery::Wire() const {
  if (silent) return std::string();
  const std::string full = line + "\r";
  return noise + full.substr(0, sendBytes);
}

FaultSet FaultInjector::Draw(std::mt19937 &random) {
  FaultSet set = 0;
  if (!scope_.script.empty()) {
    if (step_ < scope_.script.size()) {
      set |= scope_.script[step_];
      ++step_;
      if (step_ == scope_.script.size() && scope_.scriptRepeats) step_ = 0;
    }
  }
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  for (int kind = 0; kind < kFaultKinds; ++kind) {
    const double p = scope_.probability[kind];
    if (p > 0 && uniform(random) < p) set |= FaultBit(static_cast<FaultKind>(kind));
  }
  return set;
}

Delivery Shape(const StationReply &reply, FaultSet stationFaults, const FaultParams &stationParams,
               FaultSet busFaults, const FaultParams &busParams, std::mt19937 &random) {
  const FaultSet all = stationFaults | busFaults;
  auto paramsOf = [&](FaultKind kind) -> const FaultParams & {
    return Has(stationFaults, kind) ? stationParams : busParams;
  };
  Delivery out;
  out.line = reply.line;
  const FaultSet mute = FaultBit(FaultKind::kSilence) | FaultBit(FaultKind::kReset);
  if ((all & mute) != 0) {
    out.silent = true;
    out.faults = all & mute;
    return out;
  }
  out.faults = all;
  bool hasSum = reply.hasSum;
  if (Has(all, FaultKind::kNak)) {
    out.line = NakReply(paramsOf(FaultKind::kNak).nakCode);
    hasSum = false;
  }
  if (Has(all, FaultKind::kBadSum) && hasSum && out.line.size() >= 3) {
    Bytes sum;
    ParseHex(out.line.substr(out.line.size() - 2), &sum);
    out.line.replace(out.line.size() - 2, 2, HexByte(static_cast<uint8_t>(sum[0] + 1)));
  }
  if (Has(all, FaultKind::kNoise)) {
    std::uniform_int_distribution<int> byte(1, 255);
    const int count = paramsOf(FaultKind::kNoise).noiseBytes;
    while (static_cast<int>(out.noise.size()) < count) {
      const char c = static_cast<char>(byte(random));
      if (c != '\r' && c != '\n') out.noise += c;
    }
  }
  out.sendBytes = out.line.size() + 1;
  if (Has(all, FaultKind::kCut)) {
    const int keep = paramsOf(FaultKind::kCut).cutKeep;
    const size_t wanted = keep < 0 ? out.line.size() / 2 : static_cast<size_t>(keep);
    out.sendBytes = wanted < out.line.size() ? wanted : out.line.size();
  }
  if (Has(all, FaultKind::kDelay)) out.delayMs = paramsOf(FaultKind::kDelay).delayMs;
  if (Has(all, FaultKind::kDribble)) out.dribbleMs = paramsOf(FaultKind::kDribble).dribbleMs;
  return out;
}

std::string FaultSetName(FaultSet set) {
  std::string name;
  for (int kind = 0; kind < kFaultKinds; ++kind) {
    if ((set & (1u << kind)) == 0) continue;
    if (!name.empty()) name += "+";
    name += FaultKindName(static_cast<FaultKind>(kind));
  }
  return name;
}

}  // namespace n2sim
