#include "zamgate/core/gate_store.h"

#include <stdio.h>
#include <time.h>

namespace zamgate {

const char *QualityName(Quality quality) {
  switch (quality) {
    case Quality::kGood: return "good";
    case Quality::kStale: return "stale";
    case Quality::kFailed: return "failed";
  }
  return "failed";
}

std::string IsoTime(WallClock::time_point time) {
  auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  time_t seconds = static_cast<time_t>(millis / 1000);
  tm utc;
  gmtime_r(&seconds, &utc);
  char text[40];
  size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(millis % 1000));
  return text;
}

GateStore::GateStore(std::string gatewayId, std::vector<GateState> gates, size_t eventsKept)
    : gatewayId_(std::move(gatewayId)), gates_(std::move(gates)), gateCount_(gates_.size()), eventsKept_(eventsKept) {}

int GateStore::IndexOf(const std::string &name) const {
  // Names never change after construction: no lock needed.
  for (size_t i = 0; i < gates_.size(); ++i) {
    if (gates_[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

void GateStore::UpdateGate(size_t index, const std::string &status, const std::optional<n2host::GateValue> &value,
                           bool held, WallClock::time_point at, SteadyTime readStarted) {
  GateState changed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    GateState &gate = gates_.at(index);
    if (readStarted != SteadyTime::max() && readStarted < gate.writtenAt) return;
    bool differs = false;
    gate.status = status;
    gate.readAt = at;
    if (value) {
      differs = !gate.hasValue || gate.value.real != value->real || gate.value.integer != value->integer;
      gate.hasValue = true;
      gate.value = *value;
      gate.goodAt = at;
    }
    Quality quality = value ? Quality::kGood : (held && gate.hasValue ? Quality::kStale : Quality::kFailed);
    differs = differs || quality != gate.quality;
    gate.quality = quality;
    if (!differs) return;
    ++gate.version;
    changed = gate;
  }
  for (const GateListener &listener : listeners_) listener(changed);
}

void GateStore::GateWritten(size_t index) {
  std::lock_guard<std::mutex> lock(mutex_);
  gates_.at(index).writtenAt = std::chrono::steady_clock::now();
}

size_t GateStore::AgeOut(WallClock::time_point now, std::chrono::milliseconds maxAge) {
  std::vector<GateState> changed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (GateState &gate : gates_) {
      if (gate.quality != Quality::kGood || !gate.hasValue || now - gate.goodAt <= maxAge) continue;
      gate.quality = Quality::kStale;
      char text[64];
      snprintf(text, sizeof text, "not read for %.1f s",
               std::chrono::duration<double>(now - gate.goodAt).count());
      gate.status = text;
      ++gate.version;
      changed.push_back(gate);
    }
  }
  for (const GateState &gate : changed) {
    for (const GateListener &listener : listeners_) listener(gate);
  }
  return changed.size();
}

void GateStore::SetStations(std::vector<StationState> stations) {
  std::lock_guard<std::mutex> lock(mutex_);
  stations_ = std::move(stations);
}

void GateStore::SetPort(bool open, const std::string &text) {
  std::lock_guard<std::mutex> lock(mutex_);
  portOpen_ = open;
  portText_ = text;
}

void GateStore::SetMqttConnected(bool connected) {
  std::lock_guard<std::mutex> lock(mutex_);
  mqttConnected_ = connected;
}

void GateStore::SetMqttState(const std::string &broker, const std::string &reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  mqttBroker_ = broker;
  mqttReason_ = reason;
}

void GateStore::SetPortRetries(int tries) {
  std::lock_guard<std::mutex> lock(mutex_);
  portRetries_ = tries;
}

void GateStore::SetCycle(double seconds, double lineShare, int intervalMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  cycleSeconds_ = seconds;
  lineShare_ = lineShare;
  intervalMs_ = intervalMs;
}

GatewayEvent GateStore::AddEvent(const std::string &text) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back({WallClock::now(), text});
  while (events_.size() > eventsKept_) events_.pop_front();
  return events_.back();
}

void GateStore::AddGateListener(GateListener listener) { listeners_.push_back(std::move(listener)); }

GateState GateStore::Gate(size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return gates_.at(index);
}

StoreSnapshot GateStore::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  StoreSnapshot snapshot;
  snapshot.gatewayId = gatewayId_;
  snapshot.portOpen = portOpen_;
  snapshot.portText = portText_;
  snapshot.mqttConnected = mqttConnected_;
  snapshot.mqttBroker = mqttBroker_;
  snapshot.mqttReason = mqttReason_;
  snapshot.portRetries = portRetries_;
  snapshot.cycleSeconds = cycleSeconds_;
  snapshot.lineShare = lineShare_;
  snapshot.intervalMs = intervalMs_;
  snapshot.startedAt = startedAt_;
  snapshot.gates = gates_;
  snapshot.stations = stations_;
  snapshot.events.assign(events_.begin(), events_.end());
  return snapshot;
}

}  // namespace zamgate
