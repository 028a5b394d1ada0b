#include "sim/pacing.h"

namespace n2sim {

void LinePacer::SetBaud(int baud) {
  baud_ = baud > 0 ? baud : 0;
  byteTime_ = baud_ > 0 ? std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL / baud_))
                        : Clock::duration(0);
}

LinePacer::Clock::time_point LinePacer::Next(Clock::time_point earliest) {
  if (baud_ == 0) return earliest;
  const Clock::time_point start = earliest > lineFree_ ? earliest : lineFree_;
  lineFree_ = start + byteTime_;
  return lineFree_;
}

}  // namespace n2sim
