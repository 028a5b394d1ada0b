#include "zamgate/station_times.h"

#include <algorithm>
#include <cmath>

namespace zamgate {
namespace {

constexpr size_t kKept = 100;
constexpr int32_t kNoReply = 2;

}  // namespace

std::optional<double> Quantile(std::deque<double> values, double q) {
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(values.size())));
  return values[rank == 0 ? 0 : rank - 1];
}

void StationTimes::Record(int32_t station, int32_t status, double milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  Times &times = stations_[station];
  if (status == kNoReply) return;
  times.lastReply = WallClock::now();
  times.recent.push_back(milliseconds);
  if (times.recent.size() > kKept) times.recent.pop_front();
}

void StationTimes::Fill(StationState *state) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = stations_.find(state->station);
  if (found == stations_.end()) return;
  state->medianMs = Quantile(found->second.recent, 0.5);
  state->p95Ms = Quantile(found->second.recent, 0.95);
  state->lastReply = found->second.lastReply;
}

}  // namespace zamgate
