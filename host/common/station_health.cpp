#include "host/common/station_health.h"

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

std::string StationHealth::Record(int32_t station, int cycle, int32_t status) {
  StationStats &stats = stations_[station];
  ++stats.requests;
  if (status != 0) ++stats.failures;
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
