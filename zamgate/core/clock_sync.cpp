#include "zamgate/core/clock_sync.h"

#include <time.h>

#include <set>

#include "host/common/station_clock.h"

namespace zamgate {

bool ReadClockSection(const toml::table &root, ClockConfig *config, ConfigRefusal &fail) {
  const toml::node *node = root.get("clock");
  if (node == nullptr) return true;
  const toml::table *clock = node->as_table();
  if (clock == nullptr) return fail.At(*node, "[clock] must be a table");
  for (const auto &[key, value] : *clock) {
    if (key.str() != "sync_every_h") return fail.At(value, "unknown key '" + std::string(key.str()) + "' in [clock]");
  }
  // At most four weeks apart: a clock left longer drifts past any use.
  return GetInt(*clock, "sync_every_h", 0, 24 * 28, &config->syncEveryHours, fail);
}

ClockSync::ClockSync(n2host::Channel &channel, const std::vector<n2host::Gate> &gates, const ClockConfig &config,
                     const EventLog &events)
    : channel_(channel), config_(config), events_(events) {
  if (config_.syncEveryHours <= 0) return;
  std::set<int> stations;
  for (const n2host::Gate &gate : gates) {
    if (gate.valid && !gate.meaning.n2open) stations.insert(gate.station);
  }
  for (int station : stations) {
    if (!n2host::ClockFamily(channel_, station).empty()) stations_.push_back(station);
  }
}

void ClockSync::AfterCycle() {
  if (config_.syncEveryHours <= 0 || stations_.empty()) return;
  const auto now = std::chrono::steady_clock::now();
  if (!due_ && now < next_) return;
  due_ = false;
  next_ = now + std::chrono::hours(config_.syncEveryHours);
  for (int station : stations_) {
    n2host::StationClock before;
    std::string why;
    const time_t host = time(nullptr);
    ClockOutcome outcome;
    outcome.station = station;
    std::string was;
    if (n2host::ReadStationClock(channel_, station, &before, &why) == n2host::kStatusOk) {
      outcome.aheadSeconds = n2host::ClockOffsetSeconds(before, n2host::HostClock(before.family, host));
      was = " (it was " + std::to_string(*outcome.aheadSeconds) + " s ahead)";
    }
    outcome.set = n2host::SetStationClock(channel_, station, time(nullptr), &why) == n2host::kStatusOk;
    outcome.text = "clock of station " + std::to_string(station) +
                   (outcome.set ? " set from the host's clock" + was : " not set: " + why);
    outcome.at = std::chrono::system_clock::now();
    events_.Add(outcome.text);
    if (observer_) observer_(outcome);
  }
}

}  // namespace zamgate
