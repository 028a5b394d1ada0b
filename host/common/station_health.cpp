#include "host/common/station_health.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <vector>

namespace n2host {
namespace {

constexpr int32_t kNoReply = 2;

}  // namespace

StationHealth::StationHealth(int demoteAfter, int retryEvery)
    : demoteAfter_(demoteAfter < 1 ? 1 : demoteAfter), retryEvery_(retryEvery < 1 ? 1 : retryEvery) {}

bool StationHealth::Due(int32_t station, int cycle) const {
  auto found = stations_.find(station);
  if (found == stations_.end() || !found->second.demoted) return true;
  return (cycle - found->second.demotedInCycle) % retryEvery_ == 0;
}

bool StationHealth::Demoted(int32_t station) const {
  auto found = stations_.find(station);
  return found != stations_.end() && found->second.demoted;
}

double GoodShare(const StationStats &stats) {
  return stats.requests == 0 ? 0.0 : static_cast<double>(stats.requests - stats.failures) / stats.requests;
}

double ResponsePercentileMs(const StationStats &stats, double p) {
  if (stats.responseMs.empty()) return -1;
  std::vector<double> sorted(stats.responseMs.begin(), stats.responseMs.end());
  std::sort(sorted.begin(), sorted.end());
  // Nearest rank: the smallest value with at least p% of the values at or below it.
  size_t rank = static_cast<size_t>(ceil(p / 100.0 * static_cast<double>(sorted.size())));
  return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

std::string DescribeStats(const StationStats &stats) {
  char text[160];
  if (stats.requests == 0) return "no requests";
  int n = snprintf(text, sizeof text, "%.1f%% good", 100.0 * GoodShare(stats));
  if (!stats.responseMs.empty()) {
    snprintf(text + n, sizeof text - static_cast<size_t>(n), ", median %.0f ms, p95 %.0f ms",
             ResponsePercentileMs(stats, 50), ResponsePercentileMs(stats, 95));
  }
  std::string out = text;
  out += stats.lastReply.empty() ? ", no reply yet" : ", last reply " + stats.lastReply;
  return out;
}

std::string StationHealth::Record(int32_t station, int cycle, int32_t status, double elapsedMs,
                                  const std::string &time) {
  StationStats &stats = stations_[station];
  ++stats.requests;
  if (status != 0) ++stats.failures;
  if (status != kNoReply) {
    // A response time is the time to a reply; a silent station has none.
    if (elapsedMs >= 0) {
      stats.responseMs.push_back(elapsedMs);
      if (stats.responseMs.size() > kResponseWindow) stats.responseMs.pop_front();
    }
    if (!time.empty()) stats.lastReply = time;
  }
  const std::string name = "station " + std::to_string(station);
  if (status != kNoReply) {
    // Any reply, good or bad, shows that the station is there.
    stats.silentInARow = 0;
    if (!stats.demoted) return "";
    stats.demoted = false;
    return name + " answers again: polled every cycle";
  }
  ++stats.silentInARow;
  if (stats.demoted || stats.silentInARow < demoteAfter_) return "";
  stats.demoted = true;
  stats.demotedInCycle = cycle;
  return name + " gave no reply " + std::to_string(stats.silentInARow) + " times in a row: demoted, polled every " +
         std::to_string(retryEvery_) + " cycles until it answers";
}

}  // namespace n2host
