#include "zamgate/core/gate_metrics.h"

#include <stdio.h>

#include <chrono>

#include "host/common/gate_types.h"

namespace zamgate {
namespace {

std::string Number(double value) {
  char text[40];
  snprintf(text, sizeof text, "%.17g", value);
  return text;
}

bool Graphable(const GateState &gate) {
  using n2host::PointKind;
  return gate.meaning.kind == PointKind::kPlain || gate.meaning.kind == PointKind::kDigital ||
         gate.meaning.kind == PointKind::kOverride;
}

int QualityCode(Quality quality) {
  switch (quality) {
    case Quality::kGood: return 0;
    case Quality::kStale: return 1;
    case Quality::kFailed: break;
  }
  return 2;
}

}  // namespace

std::string PromLabelValue(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string GateMetricsText(const StoreSnapshot &snapshot, WallClock::time_point now) {
  std::string values, qualities, ages;
  const std::string gateway = "gateway=\"" + PromLabelValue(snapshot.gatewayId) + "\"";
  for (const GateState &gate : snapshot.gates) {
    if (!Graphable(gate)) continue;
    const std::string labels = gateway + ",gate=\"" + PromLabelValue(gate.name) + "\",gas=\"" +
                               PromLabelValue(gate.gas) + "\",station=\"" + std::to_string(gate.station) + "\"";
    qualities += "zamgate_gate_quality{" + labels + "} " + std::to_string(QualityCode(gate.quality)) + "\n";
    if (!gate.hasValue) continue;
    // A failed gate's last good value would read as current: only its age.
    if (gate.quality != Quality::kFailed) {
      const double value = gate.value.type == kGateReal ? gate.value.real : static_cast<double>(gate.value.integer);
      values += "zamgate_gate_value{" + labels + ",unit=\"" + PromLabelValue(gate.meta.unit) + "\"} " + Number(value) + "\n";
    }
    const double age = std::chrono::duration<double>(now - gate.goodAt).count();
    ages += "zamgate_gate_age_seconds{" + labels + "} " + Number(age < 0 ? 0 : age) + "\n";
  }
  return "# HELP zamgate_gate_value The gate's last good value (numeric and digital gates)\n"
         "# TYPE zamgate_gate_value gauge\n" +
         values +
         "# HELP zamgate_gate_quality The gate's quality: 0 good, 1 stale (its station demoted), 2 failed\n"
         "# TYPE zamgate_gate_quality gauge\n" +
         qualities +
         "# HELP zamgate_gate_age_seconds Seconds since the gate's value was read\n"
         "# TYPE zamgate_gate_age_seconds gauge\n" +
         ages;
}

}  // namespace zamgate
