#include "host/common/commission_files.h"

#include <stdio.h>

#include "host/common/gate_types.h"

namespace n2host {
namespace {

const char *ParityName(int code) {
  constexpr const char *kNames[] = {"none", "odd", "even", "mark", "space"};
  return code >= 0 && code <= 4 ? kNames[code] : "none";
}

}  // namespace

std::string TomlString(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string CsvField(const std::string &text) {
  bool quote = text.find_first_of(",;\"") != std::string::npos ||
               (!text.empty() && (text.front() == ' ' || text.back() == ' ' || text.front() == '#'));
  if (!quote) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

namespace {

// The poll class of a point by its role: what changes by the second (inputs,
// outputs) reads fast; setpoints, schedules and clocks slow.
std::string PollClassOf(const CataloguePoint &point) {
  return point.role == "input" || point.role == "output" || point.role.empty() ? "fast" : "slow";
}

}  // namespace

std::string GateListText(const std::vector<CommissionedStation> &stations) {
  std::string text =
      "# Gates found by zamhost scan --points: the process points that answered.\n"
      "# Rename freely (the name is the MQTT topic level); keep the GAS and the type.\n"
      "# Inputs and outputs poll in the class fast, setpoints, schedules and clocks in\n"
      "# slow ([poll] classes); add unit, min, max and kind columns as the site knows them.\n"
      "name,gas,type,description,poll\n";
  for (const CommissionedStation &station : stations) {
    if (station.points.empty()) continue;
    text += "# station " + std::to_string(station.address) + ": " + station.family + "\n";
    for (const CataloguePoint &point : station.points) {
      text += CsvField(point.name) + "," + point.gas + "," + GateTypeName(point.type) + "," +
              CsvField(point.role.empty() ? station.family : station.family + " " + point.role) + "," +
              PollClassOf(point) + "\n";
    }
  }
  return text;
}

std::string GatewayConfigText(const ChannelOptions &line, const std::vector<CommissionedStation> &stations,
                              const std::string &gateListName, const std::string &gatewayId) {
  std::string text =
      "# zamgate configuration written by zamhost scan: check it with\n"
      "#   zamgate --check-config THIS-FILE\n"
      "# and start the gateway with zamgate --config THIS-FILE.\n"
      "# Relative paths are taken from this file's folder.\n\n";
  text += "[gateway]\nid = " + TomlString(gatewayId) + "    # a level of every MQTT topic\n\n";
  text += "# The serial line as scanned.\n[line]\n";
  text += "port = " + TomlString(line.port) + "\n";
  text += "baud = " + std::to_string(line.baud) + "\n";
  text += "data_bits = " + std::to_string(line.dataBits) + "\n";
  text += "parity = " + TomlString(ParityName(line.parity)) + "\n";
  text += "stop_bits = " + std::string(line.stopBits == 2 ? "2" : "1") + "\n";
  text += "timeout_ms = " + std::to_string(line.timeoutMs) + "\n";
  text += "# The stations' families as the scan identified them (DX9100s need no entry):\n";
  std::string families;
  std::string dx;
  for (const CommissionedStation &station : stations) {
    if (station.family == "DX9100") {
      dx += (dx.empty() ? "" : ", ") + std::to_string(station.address);
    } else if (!station.family.empty()) {
      families += (families.empty() ? "" : ", ") + std::to_string(station.address) + " = " + TomlString(station.family);
    }
  }
  if (!dx.empty()) text += "# DX9100: " + dx + "\n";
  text += "stations = { " + families + (families.empty() ? "}" : " }") + "\n\n";
  text += "[poll]\ninterval_ms = 1000\n";
  text += "# The gate list's poll column: inputs and outputs every second, the rest every minute.\n";
  text += "classes = { fast = 1000, slow = 60000 }\n\n";
  text += "[gates]\ncsv = " + TomlString(gateListName) + "\n";
  text += "# The points the stations let write; remove those the gateway must not touch.\nwritable = [\n";
  for (const CommissionedStation &station : stations) {
    for (const CataloguePoint &point : station.points) {
      if (point.writable) text += "  " + TomlString(point.name) + ",\n";
    }
  }
  text += "]\n\n";
  text += "[mqtt]\nhost = \"127.0.0.1\"\nport = 1883\n";
  text += "topics = \"slug\"    # st1_ai1_input: a topic level that a changed capital or blank leaves alone\n\n";
  text += "[http]\nlisten = \"127.0.0.1:8080\"\n";
  return text;
}

}  // namespace n2host
