#include "zamgate/mqtt/ha_discovery.h"

#include <ctype.h>

#include <map>
#include <set>

#include "host/common/gate_types.h"
#include "host/common/version.h"

namespace zamgate {
namespace {

using nlohmann::json;

// The gateway's status: available while online with its port open.
constexpr const char *kStatusAvailable =
    "{{ 'online' if value_json.state == 'online' and value_json.port == 'open' else 'offline' }}";
// A gate: available unless its read failed (a stale value stays shown).
constexpr const char *kGateAvailable = "{{ 'offline' if value_json.quality == 'failed' else 'online' }}";
// The number; empty (which Home Assistant ignores) when there is none.
constexpr const char *kValueTemplate = "{{ value_json.value if value_json.value is not none else '' }}";
// The value in the user's terms (07:30, Mon-Fri, 2024-05-01): the part of
// "text" in parentheses.
constexpr const char *kMeaningTemplate =
    "{{ value_json.text.split(' (', 1)[1][:-1] if value_json.text is string and ' (' in value_json.text else '' }}";

// The device classes of measurements and the units Home Assistant accepts
// for each; a gate whose unit is not among them gets no device class.
struct MeasureClass {
  const char *kind;
  const char *deviceClass;
  std::set<std::string> units;
};
const MeasureClass kMeasureClasses[] = {
    {"temperature", "temperature", {"°C", "°F", "K"}},
    {"humidity", "humidity", {"%"}},
    {"pressure", "pressure", {"Pa", "hPa", "kPa", "bar", "cbar", "mbar", "mmHg", "inHg", "psi", "mmH₂O", "inH₂O"}},
    {"power", "power", {"W", "kW", "MW", "mW", "GW", "TW", "BTU/h"}},
    {"energy", "energy", {"Wh", "kWh", "MWh", "GWh", "TWh", "J", "kJ", "MJ", "GJ", "cal", "kcal", "Mcal", "Gcal"}},
    {"voltage", "voltage", {"V", "mV", "µV", "kV", "MV"}},
    {"current", "current", {"A", "mA"}},
    {"frequency", "frequency", {"Hz", "kHz", "MHz", "GHz"}},
    {"flow", "volume_flow_rate", {"m³/h", "m³/s", "ft³/min", "L/h", "L/min", "L/s", "gal/min", "mL/s"}},
    {"illuminance", "illuminance", {"lx"}},
    {"carbon_dioxide", "carbon_dioxide", {"ppm"}},
    {"speed", "speed", {"m/s", "km/h", "mph", "ft/s", "mm/s", "in/s", "in/h", "mm/h", "mm/d", "in/d", "kn"}},
    {"duration", "duration", {"d", "h", "min", "s", "ms", "µs"}},
};
// The binary sensor classes of digital kinds.
const std::map<std::string, std::string> kStateClasses = {
    {"occupancy", "occupancy"}, {"running", "running"}, {"problem", "problem"}, {"opening", "opening"},
    {"heat", "heat"},           {"cold", "cold"},       {"power_state", "power"}};

std::string ObjectLevel(const std::string &text) {
  std::string out;
  for (char c : text) out += isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80 ? c : '_';
  return out;
}

const char *MeasureDeviceClass(const GateState &gate) {
  for (const MeasureClass &measure : kMeasureClasses) {
    if (gate.meta.kind == measure.kind && measure.units.count(gate.meta.unit) > 0) return measure.deviceClass;
  }
  return nullptr;
}

// The range a number entity offers: the gate's min and max, or its type's.
void NumberRange(const GateState &gate, double *low, double *high) {
  if (gate.typeName == "int16") {
    *low = -32768, *high = 32767;
  } else if (gate.typeName == "uint16") {
    *low = 0, *high = 65535;
  } else if (gate.typeName == "int32") {
    *low = -2147483648.0, *high = 2147483647.0;
  } else {
    *low = -1e9, *high = 1e9;
  }
  if (gate.meta.min) *low = *gate.meta.min;
  if (gate.meta.max) *high = *gate.meta.max;
}

json GatewayDevice(const std::string &gatewayId) {
  return {{"identifiers", json::array({DiscoveryNode(gatewayId)})},
          {"name", "zamgate " + gatewayId},
          {"manufacturer", "ZAMKT"},
          {"model", "zamgate N2 gateway"},
          {"sw_version", n2host::VersionText()}};
}

json StationDevice(const std::string &gatewayId, int32_t station) {
  const std::string node = DiscoveryNode(gatewayId);
  return {{"identifiers", json::array({node + "_station_" + std::to_string(station)})},
          {"name", gatewayId + " N2 station " + std::to_string(station)},
          {"manufacturer", "Johnson Controls"},
          {"model", "N2 station"},
          {"via_device", node}};
}

json Origin() { return {{"name", "zamgate"}, {"sw_version", n2host::VersionText()}}; }

json GatePayload(const std::string &gatewayId, const std::string &statusTopic, const GateState &gate,
                 const std::string &gateTopic, const std::string &uniqueId, const std::string &component) {
  json out;
  out["name"] = gate.name;
  out["unique_id"] = uniqueId;
  out["state_topic"] = gateTopic;
  out["availability"] = json::array({{{"topic", statusTopic}, {"value_template", kStatusAvailable}},
                                     {{"topic", gateTopic}, {"value_template", kGateAvailable}}});
  out["availability_mode"] = "all";
  out["device"] = StationDevice(gatewayId, gate.station);
  out["origin"] = Origin();
  const bool plain = gate.meaning.kind == n2host::PointKind::kPlain;
  out["value_template"] = plain || gate.meaning.kind == n2host::PointKind::kDigital ||
                                  gate.meaning.kind == n2host::PointKind::kOverride
                              ? kValueTemplate
                              : kMeaningTemplate;
  if (component == "sensor" || component == "number") {
    if (plain && !gate.meta.unit.empty()) out["unit_of_measurement"] = gate.meta.unit;
    if (const char *deviceClass = plain ? MeasureDeviceClass(gate) : nullptr) out["device_class"] = deviceClass;
  }
  if (component == "sensor" && plain) {
    out["state_class"] = gate.meta.kind == "energy" && out.contains("device_class") ? "total_increasing" : "measurement";
    if (gate.meta.decimals) out["suggested_display_precision"] = *gate.meta.decimals;
  }
  if (component == "binary_sensor" || component == "switch") {
    if (component == "binary_sensor") {
      auto stateClass = kStateClasses.find(gate.meta.kind);
      if (stateClass != kStateClasses.end()) out["device_class"] = stateClass->second;
      out["payload_on"] = "1";
      out["payload_off"] = "0";
    } else {
      out["payload_on"] = "1";
      out["payload_off"] = "0";
      out["state_on"] = "1";
      out["state_off"] = "0";
    }
  }
  if (component == "number" || component == "switch" || component == "text") {
    out["command_topic"] = gateTopic + "/set";
    out["retain"] = false;
  }
  if (component == "number") {
    double low, high;
    NumberRange(gate, &low, &high);
    out["min"] = low;
    out["max"] = high;
    out["step"] = gate.meta.step ? *gate.meta.step : (gate.typeName == "real" ? 0.1 : 1.0);
    out["mode"] = gate.meta.min && gate.meta.max ? "slider" : "box";
  }
  if (component == "text") {
    if (gate.meaning.kind == n2host::PointKind::kScheduleTime) out["pattern"] = "^([01]?[0-9]|2[0-3]):[0-5][0-9]$";
    out["max"] = 40;
  }
  out["json_attributes_topic"] = gateTopic;  // quality, age, GAS as attributes
  return out;
}

}  // namespace

std::string DiscoveryNode(const std::string &gatewayId) {
  std::string node = "zamgate_";
  for (char c : gatewayId) {
    node += isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80 ? c : (c == '-' ? '-' : '_');
  }
  return node;
}

std::string DiscoveryComponent(const GateState &gate) {
  using n2host::PointKind;
  const PointKind kind = gate.meaning.kind;
  const bool digital = kind == PointKind::kDigital || kind == PointKind::kOverride;
  if (!gate.writable || kind == PointKind::kOverride) return digital ? "binary_sensor" : "sensor";
  if (digital) return "switch";
  if (kind == PointKind::kPlain) return "number";
  return "text";  // schedule times and days, the clock
}

std::vector<DiscoveryMessage> DiscoveryMessages(const HomeAssistantConfig &config, const std::string &gatewayId,
                                                const std::string &statusTopic, const std::vector<GateState> &gates,
                                                const std::vector<std::string> &gateTopics) {
  const std::string node = DiscoveryNode(gatewayId);
  std::vector<DiscoveryMessage> messages;

  DiscoveryMessage connectivity;
  connectivity.component = "binary_sensor";
  connectivity.topic = config.prefix + "/binary_sensor/" + node + "/connectivity/config";
  connectivity.payload = {{"name", "Bus connection"},
                          {"unique_id", node + "_connectivity"},
                          {"state_topic", statusTopic},
                          {"value_template", "{{ 'ON' if value_json.state == 'online' and value_json.port == 'open' else 'OFF' }}"},
                          {"device_class", "connectivity"},
                          {"entity_category", "diagnostic"},
                          {"device", GatewayDevice(gatewayId)},
                          {"origin", Origin()}};
  messages.push_back(connectivity);

  std::map<std::string, int> seen;  // object ids taken: a GAS listed twice gets a number
  for (size_t i = 0; i < gates.size() && i < gateTopics.size(); ++i) {
    const GateState &gate = gates[i];
    std::string object = ObjectLevel(gate.gas);
    if (int count = ++seen[object]; count > 1) object += "_" + std::to_string(count);
    DiscoveryMessage message;
    message.component = DiscoveryComponent(gate);
    message.topic = config.prefix + "/" + message.component + "/" + node + "/" + object + "/config";
    message.payload = GatePayload(gatewayId, statusTopic, gate, gateTopics[i], node + "_" + object, message.component);
    messages.push_back(message);
  }
  return messages;
}

std::string DiscoverySubscription(const HomeAssistantConfig &config, const std::string &gatewayId) {
  return config.prefix + "/+/" + DiscoveryNode(gatewayId) + "/+/config";
}

}  // namespace zamgate
