// The gateway's current picture of its bus, shared by every face (MQTT, HTTP,
// and later others): each gate's value, quality and time, each station's
// health, the port's state and the last events. The poll thread writes it;
// any thread reads it. Every call takes one lock and copies, so a reader never
// sees half an update and never holds up the poll.
#ifndef ZAMKT_ZAMGATE_GATE_STORE_H
#define ZAMKT_ZAMGATE_GATE_STORE_H

#include <stdint.h>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/common/gate.h"
#include "host/common/value_text.h"

namespace zamgate {

enum class Quality {
  kGood,    // read in the last poll of its station
  kStale,   // the station is demoted: the last good value, with its age
  kFailed,  // the last read failed, or no good value yet
};

// "good", "stale", "failed".
const char *QualityName(Quality quality);

using WallClock = std::chrono::system_clock;

// One gate as every face sees it.
struct GateState {
  std::string name;
  std::string gas;
  std::string typeName;  // "real", "int32", ...
  n2host::PointMeaning meaning;
  int32_t station = 0;
  bool writable = false;
  double deadband = 0;
  n2host::GateMeta meta;  // unit, description, limits, kind, poll class

  bool hasValue = false;  // a good value was read at least once
  n2host::GateValue value;  // the last good value
  Quality quality = Quality::kFailed;
  std::string status = "not read";  // the last read: "ok", "no reply", "bad reply", "waiting"
  WallClock::time_point readAt{};   // the last read attempt
  WallClock::time_point goodAt{};   // when the value was read
  uint64_t version = 0;             // grows when value or quality changes
};

// One station's health.
struct StationState {
  int32_t station = 0;
  bool demoted = false;
  long requests = 0;
  long failures = 0;
  std::optional<double> goodShare;  // 0..1 of requests that returned 0; none before the first
  std::optional<double> medianMs;   // response time of its recent requests
  std::optional<double> p95Ms;
  std::string lastReply;            // ISO 8601 time stamp; "" when it never answered
};

struct GatewayEvent {
  WallClock::time_point time;
  std::string text;
};

// Everything at one moment.
struct StoreSnapshot {
  std::string gatewayId;
  bool portOpen = true;
  std::string portText;  // why the port is lost, when it is
  bool mqttConnected = false;
  std::vector<GateState> gates;
  std::vector<StationState> stations;
  std::vector<GatewayEvent> events;  // oldest first
};

class GateStore {
 public:
  // Called after a gate's value or quality changed, outside the lock, on the
  // thread that changed it.
  using GateListener = std::function<void(const GateState &)>;

  GateStore(std::string gatewayId, std::vector<GateState> gates, size_t eventsKept = 50);

  size_t gateCount() const { return gateCount_; }
  // -1 when no gate has that name.
  int IndexOf(const std::string &name) const;

  // Poll thread: a gate's read. held: the station is demoted or the port
  // lost, so that a failed read shows the last good value as stale. A changed
  // value or quality bumps the version and tells the listeners.
  void UpdateGate(size_t index, const std::string &status, const std::optional<n2host::GateValue> &value,
                  bool held, WallClock::time_point at);
  void SetStations(std::vector<StationState> stations);
  void SetPort(bool open, const std::string &text);
  void SetMqttConnected(bool connected);
  // Keeps the event (the oldest drop out) and returns it.
  GatewayEvent AddEvent(const std::string &text);

  void AddGateListener(GateListener listener);

  GateState Gate(size_t index) const;
  StoreSnapshot Snapshot() const;

 private:
  mutable std::mutex mutex_;
  std::string gatewayId_;
  std::vector<GateState> gates_;
  const size_t gateCount_;
  std::vector<StationState> stations_;
  std::deque<GatewayEvent> events_;
  size_t eventsKept_;
  bool portOpen_ = true;
  std::string portText_;
  bool mqttConnected_ = false;
  std::vector<GateListener> listeners_;  // fixed before the poll starts
};

// ISO 8601 in UTC with milliseconds: "2024-05-01T12:03:07.123Z".
std::string IsoTime(WallClock::time_point time);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_GATE_STORE_H
