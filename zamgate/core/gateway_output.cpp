#include "zamgate/core/gateway_output.h"

namespace zamgate {

void GatewayOutput::Request(const n2host::PollRequest &request, int32_t status,
                            const std::vector<n2host::GateReading> &readings) {
  if (status != 0) return;
  for (int index : request.gates) {
    const n2host::GateReading &reading = readings[static_cast<size_t>(index)];
    if (reading.hasValue) {
      store_.UpdateGate(static_cast<size_t>(index), reading.status, reading.value, false, reading.readAt,
                        reading.startedAt);
    }
  }
}

void GatewayOutput::Start(const std::vector<std::string> &planLines) {
  for (const std::string &line : planLines) EventLog::Note("poll plan: " + line);
}

void GatewayOutput::Cycle(const n2host::CycleView &view) {
  const std::vector<n2host::GateReading> &readings = *view.readings;
  const std::vector<n2host::Gate> &gates = *view.gates;
  const bool portOpen = view.port == nullptr || !view.port->lost();
  const bool portChanged = portOpen != portOpen_;
  portOpen_ = portOpen;
  if (portChanged) store_.SetPort(portOpen, portOpen ? "" : view.port->status().reason);
  for (size_t i = 0; i < readings.size() && i < store_.gateCount(); ++i) {
    const n2host::GateReading &reading = readings[i];
    if (!reading.readThisCycle) continue;
    std::optional<n2host::GateValue> value;
    if (reading.hasValue) value = reading.value;
    // A demoted station's gates, and every gate while the port is lost, show
    // their last good value as stale.
    const bool held = view.health->Demoted(gates[i].station) || !portOpen;
    // Stamped with the read's own time, and dropped when a write of the gate
    // was answered after the read went out.
    store_.UpdateGate(i, reading.status, value, held, reading.readAt, reading.startedAt);
  }
  AgeOut(view.intervalMs);
  std::vector<StationState> stations;
  for (const auto &[station, stats] : view.health->stations()) {
    StationState state;
    state.station = station;
    state.demoted = stats.demoted;
    state.requests = stats.requests;
    state.failures = stats.failures;
    state.goodShare = stats.requests > 0 ? std::optional<double>(n2host::GoodShare(stats)) : std::nullopt;
    const double median = n2host::ResponsePercentileMs(stats, 50), p95 = n2host::ResponsePercentileMs(stats, 95);
    if (median >= 0) state.medianMs = median;
    if (p95 >= 0) state.p95Ms = p95;
    state.lastReply = stats.lastReply;
    if (families_) state.family = families_(station);
    stations.push_back(state);
  }
  store_.SetStations(std::move(stations));
  if (after_) after_(view, portChanged);
}

void GatewayOutput::AgeOut(int intervalMs) {
  // interval_ms = 0 polls as fast as the line goes: no interval to age by.
  if (intervalMs <= 0) return;
  store_.AgeOut(WallClock::now(), std::chrono::milliseconds(static_cast<long long>(intervalMs) * kStaleAfterIntervals));
}

void GatewayOutput::Event(const std::string &, const std::string &text) { events_.Add(text); }

}  // namespace zamgate
