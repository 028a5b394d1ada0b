// The gateway's clock keeping: with [clock] sync_every_h set, the clock of
// every polled DX9100 and TC9100 station is set from the host's clock once
// the first cycle has run and then every so many hours, between cycles on
// the poll's own thread (the line has one user at a time). Each outcome is
// an event (logged and shown on the status page) and goes to the observer
// (MQTT publishes it under the station).
#ifndef ZAMKT_ZAMGATE_CLOCK_SYNC_H
#define ZAMKT_ZAMGATE_CLOCK_SYNC_H

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <toml++/toml.h>

#include "host/common/channel.h"
#include "host/common/gate.h"
#include "zamgate/core/event_log.h"
#include "zamgate/core/toml_fields.h"

namespace zamgate {

struct ClockConfig {
  int syncEveryHours = 0;  // 0: the clocks are left alone
};

// One station's clock set, or not.
struct ClockOutcome {
  int station = 0;
  bool set = false;
  std::optional<long> aheadSeconds;  // how far the clock was ahead of the host's, when it could be read
  std::string text;                  // the event's text
  std::chrono::system_clock::time_point at;
};

// Reads the [clock] table, if any. False after the refusal.
bool ReadClockSection(const toml::table &root, ClockConfig *config, ConfigRefusal &fail);

class ClockSync {
 public:
  // The stations are those of the gates.
  ClockSync(n2host::Channel &channel, const std::vector<n2host::Gate> &gates, const ClockConfig &config,
            const EventLog &events);

  // Sets the clocks when a sync is due.
  void AfterCycle();

  // Called on the poll thread with every outcome.
  void SetObserver(std::function<void(const ClockOutcome &)> observer) { observer_ = std::move(observer); }

  // The stations whose clocks are kept, for the start-up line.
  const std::vector<int> &stations() const { return stations_; }

 private:
  n2host::Channel &channel_;
  ClockConfig config_;
  const EventLog &events_;
  std::vector<int> stations_;
  bool due_ = true;
  std::chrono::steady_clock::time_point next_;
  std::function<void(const ClockOutcome &)> observer_;
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_CLOCK_SYNC_H
