#include "zamgate/core/config.h"

#include <ctype.h>
#include <stdio.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include <toml++/toml.h>

#include "host/common/gate_types.h"
#include "host/common/station_types_file.h"
#include "host/common/text_util.h"
#include "zamgate/bacnet/face.h"
#include "zamgate/modbus/modbus_face.h"
#include "zamgate/core/toml_fields.h"

namespace zamgate {
namespace {

using n2host::GateSpec;

// The keys of the tables read here; the faces' sections keep their own.
const std::vector<TableKeys> kKnownKeys = {
    {"", {"gateway", "line", "poll", "gates", "gate", "writes", "mqtt", "http", "modbus", "bacnet", "clock",
          "homeassistant"}},
    {"gateway", {"id", "driver"}},
    {"line", {"port", "baud", "data_bits", "parity", "stop_bits", "timeout_ms", "station_types_file", "stations"}},
    {"poll", {"interval_ms", "demote_after", "retry_every", "blocks", "reopen_first_ms", "reopen_max_ms", "classes"}},
    {"gates", {"csv", "writable", "deadband"}},
    {"gate", {"name", "gas", "type", "writable", "deadband", "unit", "description", "decimals", "min", "max", "step",
              "kind", "poll"}},
    {"writes", {"queue_size"}},
};

// The parity names of the line and the driver's codes for them.
struct NamedCode {
  const char *name;
  int code;
};
constexpr NamedCode kParities[] = {{"none", 0}, {"odd", 1}, {"even", 2}, {"mark", 3}, {"space", 4}};

// The rates the serial line can be set to.
constexpr int kLineBauds[] = {110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600};

// Gateway topic levels that a gate name may not take.
const char *const kReservedNames[] = {"status", "stations"};

// Typed lookups beyond those of toml_fields.h.
bool GetNumber(const toml::node &node, const std::string &what, double *value, ConfigRefusal &fail) {
  if (node.is_integer()) {
    *value = static_cast<double>(node.as_integer()->get());
  } else if (node.is_floating_point()) {
    *value = node.as_floating_point()->get();
  } else {
    return fail.At(node, what + " must be a number");
  }
  if (*value < 0) return fail.At(node, what + " must not be negative");
  return true;
}

bool ReadGateway(const toml::table &root, GatewayConfig *config, ConfigRefusal &fail) {
  bool ok;
  const toml::table *gateway = SubTable(root, "gateway", kKnownKeys, fail, &ok);
  if (!ok) return false;
  if (gateway == nullptr || gateway->get("id") == nullptr) {
    return fail.File("[gateway] id is missing: name the gateway (e.g. id = \"bus1\"); it is a level of every topic");
  }
  if (!GetString(*gateway, "id", &config->gatewayId, fail)) return false;
  std::string why;
  if (!UsableTopicName(config->gatewayId, &why)) return fail.At(*gateway->get("id"), "[gateway] id " + why);
  if (!GetString(*gateway, "driver", &config->driverPath, fail)) return false;
  config->driverPath = Beside(config->file, config->driverPath);
  return true;
}

bool ReadLine(const toml::table &root, GatewayConfig *config, ConfigRefusal &fail) {
  bool ok;
  const toml::table *line = SubTable(root, "line", kKnownKeys, fail, &ok);
  if (!ok) return false;
  if (line == nullptr || line->get("port") == nullptr) {
    return fail.File("[line] port is missing: name the serial port (e.g. port = \"ttyUSB0\")");
  }
  n2host::ChannelOptions &channel = config->channel;
  if (!GetString(*line, "port", &channel.port, fail)) return false;
  if (channel.port.empty()) return fail.At(*line->get("port"), "[line] port is empty");
  if (!GetInt(*line, "baud", 110, 115200, &channel.baud, fail)) return false;
  if (std::find(std::begin(kLineBauds), std::end(kLineBauds), channel.baud) == std::end(kLineBauds)) {
    std::string rates;
    for (int baud : kLineBauds) rates += (rates.empty() ? "" : ", ") + std::to_string(baud);
    return fail.At(*line->get("baud"), "[line] baud " + std::to_string(channel.baud) +
                                           " is not a rate the serial line runs: one of " + rates);
  }
  if (!GetInt(*line, "data_bits", 5, 8, &channel.dataBits, fail)) return false;
  int stopBits = 1;
  if (!GetInt(*line, "stop_bits", 1, 2, &stopBits, fail)) return false;
  channel.stopBits = stopBits == 2 ? 2 : 0;
  if (!GetInt(*line, "timeout_ms", 10, 60000, &channel.timeoutMs, fail)) return false;
  std::string parity = "none";
  if (!GetString(*line, "parity", &parity, fail)) return false;
  bool known = false;
  for (const NamedCode &named : kParities) {
    if (n2host::Lower(parity) == named.name) {
      channel.parity = named.code;
      known = true;
    }
  }
  if (!known) return fail.At(*line->get("parity"), "parity must be none, odd, even, mark or space, not '" + parity + "'");
  std::string typesFile;
  if (!GetString(*line, "station_types_file", &typesFile, fail)) return false;
  channel.stationTypesFile = Beside(config->file, typesFile);
  if (const toml::node *stations = line->get("stations")) {
    // stations = { 5 = "N2OPEN", 10 = "XT9100" }
    if (!stations->is_table()) return fail.At(*stations, "stations must be a table such as { 5 = \"N2OPEN\" }");
    for (const auto &[key, family] : *stations->as_table()) {
      if (!family.is_string()) return fail.At(family, "the family of station " + std::string(key.str()) + " must be text");
      std::string assignment = std::string(key.str()) + "=" + family.as_string()->get();
      std::string lineText, why;
      if (!n2host::StationTypeLine(assignment, &lineText, &why)) return fail.At(family, why);
      channel.stationTypes.push_back(assignment);
    }
  }
  return true;
}

bool ReadPoll(const toml::table &root, GatewayConfig *config, ConfigRefusal &fail) {
  bool ok;
  const toml::table *poll = SubTable(root, "poll", kKnownKeys, fail, &ok);
  if (!ok || poll == nullptr) return ok;
  n2host::PollSettings &settings = config->poll;
  if (const toml::node *classes = poll->get("classes")) {
    // classes = { fast = 1000, slow = 60000 }: each class's interval in ms
    if (!classes->is_table()) return fail.At(*classes, "classes must be a table such as { fast = 1000, slow = 60000 }");
    for (const auto &[key, value] : *classes->as_table()) {
      std::string name(key.str());
      std::string why;
      n2host::GateMeta probe;
      if (!n2host::SetGateMeta("poll", name, &probe, &why)) return fail.At(value, why);
      if (!value.is_integer() || value.as_integer()->get() < 0 || value.as_integer()->get() > 86400000) {
        return fail.At(value, "the interval of poll class '" + name + "' must be whole milliseconds from 0 to 86400000");
      }
      config->pollClasses[name] = static_cast<int>(value.as_integer()->get());
    }
  }
  return GetInt(*poll, "interval_ms", 0, 3600000, &settings.intervalMs, fail) &&
         GetInt(*poll, "demote_after", 1, 100, &settings.demoteAfter, fail) &&
         GetInt(*poll, "retry_every", 1, 1000, &settings.retryEvery, fail) &&
         GetBool(*poll, "blocks", &settings.blocks, fail) &&
         GetInt(*poll, "reopen_first_ms", 10, 600000, &settings.reopen.firstMs, fail) &&
         GetInt(*poll, "reopen_max_ms", 10, 3600000, &settings.reopen.longestMs, fail);
}

// The index of the gate of that name, or -1.
int FindGate(const GatewayConfig &config, const std::string &name) {
  for (size_t i = 0; i < config.gates.size(); ++i) {
    if (config.gates[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

bool AddGate(GatewayConfig *config, const GateSpec &named, const GateOptions &options, const toml::node *where,
             ConfigRefusal &fail) {
  std::string why;
  auto refuse = [&](const std::string &reason) {
    return where != nullptr ? fail.At(*where, reason) : fail.File(named.origin + ": " + reason);
  };
  if (!UsableTopicName(named.name, &why)) return refuse("gate name '" + named.name + "' " + why);
  if (FindGate(*config, named.name) >= 0) return refuse("gate name '" + named.name + "' is used twice");
  config->gates.push_back(named);
  config->gateOptions.push_back(options);
  return true;
}

bool ReadInlineGates(const toml::table &root, GatewayConfig *config, ConfigRefusal &fail) {
  const toml::node *list = root.get("gate");
  if (list == nullptr) return true;
  if (!list->is_array_of_tables()) return fail.At(*list, "gates inline are written [[gate]] tables");
  for (const toml::node &node : *list->as_array()) {
    const toml::table &table = *node.as_table();
    if (!CheckKeys(table, "gate", kKnownKeys, fail)) return false;
    GateSpec named;
    GateOptions options;
    std::string typeName;
    if (!GetString(table, "gas", &named.gas, fail) || !GetString(table, "name", &named.name, fail) ||
        !GetString(table, "type", &typeName, fail) || !GetBool(table, "writable", &options.writable, fail)) {
      return false;
    }
    if (named.gas.empty()) return fail.At(table, "[[gate]] without gas");
    if (named.name.empty()) named.name = named.gas;
    std::optional<int> type = n2host::GateTypeFromName(typeName);
    if (!type) {
      return fail.At(*table.get("type"), "unknown gate type '" + typeName + "': int16, uint16, real, int32, digital or auto");
    }
    named.type = *type;
    if (const toml::node *deadband = table.get("deadband")) {
      if (!GetNumber(*deadband, "deadband", &options.deadband, fail)) return false;
    }
    for (const std::string &column : n2host::GateMetaColumns()) {
      const toml::node *field = table.get(column);
      if (field == nullptr) continue;
      std::string text, why;
      if (field->is_string()) {
        text = field->as_string()->get();
      } else if (field->is_integer()) {
        char number[24];
        snprintf(number, sizeof number, "%lld", static_cast<long long>(field->as_integer()->get()));
        text = number;
      } else if (field->is_floating_point()) {
        char number[40];
        snprintf(number, sizeof number, "%.17g", field->as_floating_point()->get());
        text = number;
      } else {
        return fail.At(*field, column + " must be text or a number");
      }
      if (!n2host::SetGateMeta(column, text, &named.meta, &why)) return fail.At(*field, why);
    }
    named.origin = config->file + ":" + std::to_string(table.source().begin.line);
    if (!AddGate(config, named, options, &table, fail)) return false;
  }
  return true;
}

bool ReadGates(const toml::table &root, GatewayConfig *config, ConfigRefusal &fail) {
  bool ok;
  const toml::table *gates = SubTable(root, "gates", kKnownKeys, fail, &ok);
  if (!ok) return false;
  if (gates != nullptr && gates->get("csv") != nullptr) {
    std::string csv;
    if (!GetString(*gates, "csv", &csv, fail)) return false;
    std::vector<GateSpec> listed;
    std::string why;
    if (!n2host::LoadGateList(Beside(config->file, csv), &listed, &why)) return fail.At(*gates->get("csv"), InGatewayTerms(why));
    for (const GateSpec &named : listed) {
      if (!AddGate(config, named, GateOptions{}, nullptr, fail)) return false;
    }
  }
  if (!ReadInlineGates(root, config, fail)) return false;
  if (config->gates.empty()) return fail.File("no gates: give [gates] csv = \"FILE\" or [[gate]] tables");
  if (gates == nullptr) return true;

  if (const toml::node *writable = gates->get("writable")) {
    if (!writable->is_array()) return fail.At(*writable, "writable must be a list of gate names");
    for (const toml::node &name : *writable->as_array()) {
      if (!name.is_string()) return fail.At(name, "writable must list gate names in quotes");
      int index = FindGate(*config, name.as_string()->get());
      if (index < 0) return fail.At(name, "writable names '" + name.as_string()->get() + "', which is no gate");
      config->gateOptions[static_cast<size_t>(index)].writable = true;
    }
  }
  if (const toml::node *deadbands = gates->get("deadband")) {
    if (!deadbands->is_table()) return fail.At(*deadbands, "deadband must be a table such as { \"Room temperature\" = 0.2 }");
    for (const auto &[key, value] : *deadbands->as_table()) {
      int index = FindGate(*config, std::string(key.str()));
      if (index < 0) return fail.At(value, "deadband names '" + std::string(key.str()) + "', which is no gate");
      if (!GetNumber(value, "deadband", &config->gateOptions[static_cast<size_t>(index)].deadband, fail)) return false;
    }
  }
  return true;
}

// Every gate's topic level is usable and its own; every poll class a gate
// names is defined under [poll] classes.
bool CheckGateTopicsAndClasses(const toml::table &root, GatewayConfig *config, ConfigRefusal &fail) {
  std::map<std::string, std::string> taken;  // level -> gate name
  for (const GateSpec &gate : config->gates) {
    std::string level = GateTopicLevel(gate, config->mqtt.topics), why;
    if (!UsableTopicName(level, &why)) {
      return fail.File(gate.origin + ": the topic of gate '" + gate.name + "' (" + level + ") " + why);
    }
    auto [at, fresh] = taken.emplace(level, gate.name);
    if (!fresh) {
      return fail.File(gate.origin + ": gates '" + at->second + "' and '" + gate.name + "' share the topic '" + level +
                       "' (topics = \"" + config->mqtt.topics + "\")");
    }
    if (!gate.meta.pollClass.empty() && config->pollClasses.count(gate.meta.pollClass) == 0) {
      return fail.File(gate.origin + ": gate '" + gate.name + "' names the poll class '" + gate.meta.pollClass +
                       "', which [poll] classes does not define");
    }
  }
  (void)root;
  return true;
}

bool ReadWrites(const toml::table &root, GatewayConfig *config, ConfigRefusal &fail) {
  bool ok;
  const toml::table *writes = SubTable(root, "writes", kKnownKeys, fail, &ok);
  if (!ok || writes == nullptr) return ok;
  return GetInt(*writes, "queue_size", 1, 10000, &config->writeQueueSize, fail);
}

}  // namespace

bool UsableTopicName(const std::string &name, std::string *why) {
  if (name.empty()) {
    *why = "is empty";
    return false;
  }
  if (name.find_first_of("/+#") != std::string::npos) {
    *why = "holds '/', '+' or '#', which an MQTT topic level cannot";
    return false;
  }
  for (const char *reserved : kReservedNames) {
    if (name == reserved) {
      *why = "is a topic of the gateway's own";
      return false;
    }
  }
  return true;
}

std::string InGatewayTerms(const std::string &text) {
  static const std::pair<std::regex, const char *> kTerms[] = {
      {std::regex(R"(--station (\d+)=(\w+) or a station-type file \(--station-types FILE\))"),
       "[line] stations = { $1 = \"$2\" } or a station-type file ([line] station_types_file)"},
      {std::regex(R"(--station-types FILE)"), "[line] station_types_file"},
      {std::regex(R"(--station-types)"), "[line] station_types_file"},
      {std::regex(R"(--station\b)"), "[line] stations"},
      {std::regex(R"(--driver PATH)"), "[gateway] driver = \"PATH\""},
      {std::regex(R"(--driver)"), "[gateway] driver"},
      {std::regex(R"(check --baud, --data-bits, --parity and --stop-bits)"),
       "check baud, data_bits, parity and stop_bits in [line]"},
      {std::regex(R"(, or give --latin1 if it is Latin-1 \(Windows-1252\) text)"), ""},
  };
  std::string out = text;
  if (out.find("--") == std::string::npos) return out;
  for (const auto &[pattern, replacement] : kTerms) out = std::regex_replace(out, pattern, replacement);
  return out;
}

bool ParseConfig(const std::string &text, const std::string &fileName, GatewayConfig *config, std::string *error) {
  *config = GatewayConfig{};
  config->file = fileName;
  ConfigRefusal fail(fileName, error);
  toml::table root;
  try {
    root = toml::parse(text, fileName);
  } catch (const toml::parse_error &problem) {
    *error = fileName + ":" + std::to_string(problem.source().begin.line) + ": " + std::string(problem.description());
    return false;
  }
  return CheckKeys(root, "", kKnownKeys, fail) && ReadGateway(root, config, fail) && ReadLine(root, config, fail) &&
         ReadPoll(root, config, fail) && ReadGates(root, config, fail) && ReadWrites(root, config, fail) &&
         ReadMqtt(root, config->file, config->gatewayId, &config->mqtt, fail) &&
         ReadHomeAssistant(root, &config->homeAssistant, fail) &&
         CheckGateTopicsAndClasses(root, config, fail) && ReadHttp(root, &config->http, fail) &&
         ReadClockSection(root, &config->clock, fail) &&
         ReadModbusSection(root, fileName, ModbusGates(*config), &config->modbus, error) &&
         bacnet::ReadBacnetSection(root, fileName, BacnetGates(*config), config->gatewayId, &config->bacnet, error);
}

bool LoadConfig(const std::string &path, GatewayConfig *config, std::string *error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot read the configuration file";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseConfig(text.str(), path, config, error);
}

}  // namespace zamgate
