// The gates' values in Prometheus's text format, for Grafana to graph a
// room temperature from the same scrape as the gateway's health: per gate
// one zamgate_gate_value series (numeric and digital gates with a good or
// stale value; none while failed), its quality (0 good, 1 stale, 2 failed) and the age of its
// value. Labels: gateway, gate, gas, station, and unit on the value; no label
// carries a value, so that a gate is one series.
#ifndef ZAMKT_ZAMGATE_CORE_GATE_METRICS_H
#define ZAMKT_ZAMGATE_CORE_GATE_METRICS_H

#include <string>

#include "zamgate/core/gate_store.h"

namespace zamgate {

std::string GateMetricsText(const StoreSnapshot &snapshot, WallClock::time_point now);

// A label value as the text format quotes it: \ " and newline escaped.
std::string PromLabelValue(const std::string &text);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_CORE_GATE_METRICS_H
