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
  kGood,    // read in the last poll of its station, and lately (kStaleAfterIntervals)
  kStale,   // the station is demoted, the port lost, or the gate not read for
            // kStaleAfterIntervals intervals: the last good value, with its age
  kFailed,  // the last read failed, or no good value yet
};

// "good", "stale", "failed".
const char *QualityName(Quality quality);

using WallClock = std::chrono::system_clock;
using SteadyTime = std::chrono::steady_clock::time_point;

// A good value not read again for this many poll intervals (writes that
// took the line, a cycle that overran) is shown stale, whatever its station's
// state: a value is only good while it keeps being read.
constexpr int kStaleAfterIntervals = 3;

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
  // When the last write of the gate was answered by its station: a poll
  // read that went out before then holds an older value and is dropped.
  SteadyTime writtenAt{};
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
  std::string family;               // "DX9100", "N2OPEN", ...
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
  std::string mqttBroker;   // "host:port"
  std::string mqttReason;   // why it is not connected, when it is not
  int portRetries = 0;      // reopens tried since the port was lost
  double cycleSeconds = -1;   // the last cycle's length; -1 before the first
  double lineShare = 0;       // 0..1: the line's busy share of the last cycle's slot
  int intervalMs = 0;
  WallClock::time_point startedAt{};
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
  // at: when the read came back. readStarted: when the poll's read went
  // out; a read that began before the gate's last write was answered is
  // dropped (its value predates the write). Writes' read-backs leave it at
  // its default.
  void UpdateGate(size_t index, const std::string &status, const std::optional<n2host::GateValue> &value,
                  bool held, WallClock::time_point at, SteadyTime readStarted = SteadyTime::max());
  // Poll thread: the station answered a write of the gate (before its
  // read-back is stored): older poll reads of it are dropped from now on.
  void GateWritten(size_t index);
  // Every good gate whose value was read longer than maxAge before now turns
  // stale ("not read for ..."). The gates changed.
  size_t AgeOut(WallClock::time_point now, std::chrono::milliseconds maxAge);
  void SetStations(std::vector<StationState> stations);
  void SetPort(bool open, const std::string &text);
  void SetMqttConnected(bool connected);
  // The broker's address, and why it is not connected ("" while connected).
  void SetMqttState(const std::string &broker, const std::string &reason);
  void SetPortRetries(int tries);
  void SetCycle(double seconds, double lineShare, int intervalMs);
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
  std::string mqttBroker_;
  std::string mqttReason_;
  int portRetries_ = 0;
  double cycleSeconds_ = -1;
  double lineShare_ = 0;
  int intervalMs_ = 0;
  WallClock::time_point startedAt_ = WallClock::now();
  std::vector<GateListener> listeners_;  // fixed before the poll starts
};

// ISO 8601 in UTC with milliseconds: "2024-05-01T12:03:07.123Z".
std::string IsoTime(WallClock::time_point time);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_GATE_STORE_H
