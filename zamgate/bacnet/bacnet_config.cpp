#include "zamgate/bacnet/bacnet_config.h"

#include <arpa/inet.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "driver/requests.h"
#include "zamgate/core/toml_fields.h"

namespace bacnet {
namespace {

using zamgate::ConfigRefusal;
using zamgate::GetInt;
using zamgate::GetString;

constexpr const char *kSectionKeys[] = {"listen",   "device_instance", "device_name",      "location",
                                        "bbmd",     "bbmd_ttl_s",      "max_subscriptions", "requests_per_s",
                                        "map"};
constexpr const char *kEntryKeys[] = {"gate", "type", "instance", "name", "cov_increment", "relinquish_default"};

struct NamedType {
  const char *name;
  uint16_t type;
};
constexpr NamedType kTypes[] = {{"analog-input", kAnalogInput},
                                {"analog-value", kAnalogValue},
                                {"binary-input", kBinaryInput},
                                {"binary-value", kBinaryValue}};

bool CheckKeys(const toml::table &table, const char *const *known, size_t count, const std::string &where,
               ConfigRefusal &fail) {
  for (const auto &[key, node] : table) {
    // A plain copy for the lambda: clang 14 cannot capture a structured binding.
    const std::string_view keyText = key.str();
    if (std::find_if(known, known + count, [&](const char *name) { return keyText == name; }) == known + count) {
      return fail.At(node, "unknown key '" + std::string(keyText) + "' in " + where);
    }
  }
  return true;
}

// ADDRESS:PORT with a dotted IPv4 address.
bool SplitAddress(const std::string &text, std::string *address, int *port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string portText = text.substr(colon + 1);
  char *end = nullptr;
  long number = strtol(portText.c_str(), &end, 10);
  if (portText.empty() || *end != '\0' || number < 0 || number > 65535) return false;
  in_addr parsed{};
  if (inet_pton(AF_INET, text.substr(0, colon).c_str(), &parsed) != 1) return false;
  *address = text.substr(0, colon);
  *port = static_cast<int>(number);
  return true;
}

uint16_t DefaultType(const GateInfo &gate) {
  const bool digital = gate.type == kGateDigital;
  if (digital) return gate.writable ? kBinaryValue : kBinaryInput;
  return gate.writable ? kAnalogValue : kAnalogInput;
}

bool IsBinary(uint16_t type) { return type == kBinaryInput || type == kBinaryValue; }

bool GetNumber(const toml::table &table, const char *key, double *value, ConfigRefusal &fail) {
  const toml::node *node = table.get(key);
  if (node == nullptr) return true;
  if (node->is_integer()) {
    *value = static_cast<double>(node->as_integer()->get());
  } else if (node->is_floating_point()) {
    *value = node->as_floating_point()->get();
  } else {
    return fail.At(*node, std::string(key) + " must be a number");
  }
  if (!(*value == *value) || *value > 3.4e38 || *value < -3.4e38) return fail.At(*node, std::string(key) + " is out of range");
  return true;
}

bool ReadEntry(const toml::table &entry, const std::vector<GateInfo> &gates, ConfigRefusal &fail, MapEntry *out) {
  if (!CheckKeys(entry, kEntryKeys, std::size(kEntryKeys), "[[bacnet.map]]", fail)) return false;
  const toml::node *gateNode = entry.get("gate");
  if (gateNode == nullptr) return fail.At(entry, "a map entry needs a gate");
  if (!gateNode->is_string()) return fail.At(*gateNode, "gate must be a gate's name in quotes");
  const std::string &name = gateNode->as_string()->get();
  auto gate = std::find_if(gates.begin(), gates.end(), [&](const GateInfo &g) { return g.name == name; });
  if (gate == gates.end()) return fail.At(*gateNode, "the map names '" + name + "', which is no gate");
  out->gate = static_cast<size_t>(gate - gates.begin());
  out->type = DefaultType(*gate);
  out->name = gate->name;
  out->instance = InstanceOfGas(gate->gas);
  if (const toml::node *typeNode = entry.get("type")) {
    const NamedType *found = nullptr;
    for (const NamedType &row : kTypes) {
      if (typeNode->is_string() && typeNode->as_string()->get() == row.name) found = &row;
    }
    if (found == nullptr) {
      return fail.At(*typeNode, "type must be \"analog-input\", \"analog-value\", \"binary-input\" or \"binary-value\"");
    }
    if (IsBinary(found->type) != (gate->type == kGateDigital)) {
      return fail.At(*typeNode, "gate '" + name + "' is " + (gate->type == kGateDigital ? "digital" : "numeric") +
                                    ": it cannot be " + found->name);
    }
    if ((found->type == kAnalogValue || found->type == kBinaryValue) != gate->writable) {
      return fail.At(*typeNode, "gate '" + name + "' is " + (gate->writable ? "" : "not ") + "writable: its type is " +
                                    (gate->writable ? (IsBinary(found->type) ? "binary-value" : "analog-value")
                                                    : (IsBinary(found->type) ? "binary-input" : "analog-input")));
    }
    out->type = found->type;
  }
  int instance = static_cast<int>(out->instance);
  if (!GetInt(entry, "instance", 0, static_cast<int>(kMaxInstance), &instance, fail)) return false;
  out->instance = static_cast<uint32_t>(instance);
  if (!GetString(entry, "name", &out->name, fail)) return false;
  if (out->name.empty() || out->name.size() > 255) {
    return fail.At(entry.get("name") != nullptr ? *entry.get("name") : entry, "name must hold 1 to 255 characters");
  }
  double increment = 0;
  if (!GetNumber(entry, "cov_increment", &increment, fail)) return false;
  if (increment < 0) return fail.At(*entry.get("cov_increment"), "cov_increment must not be negative");
  out->covIncrement = static_cast<float>(increment);
  if (entry.get("relinquish_default") != nullptr) {
    double value = 0;
    if (!GetNumber(entry, "relinquish_default", &value, fail)) return false;
    if (!gate->writable) return fail.At(*entry.get("relinquish_default"), "gate '" + name + "' is not writable");
    out->relinquishDefault = value;
  }
  out->origin = fail.Origin(entry);
  return true;
}

}  // namespace

const char *ObjectTypeName(uint16_t type) {
  for (const NamedType &row : kTypes) {
    if (row.type == type) return row.name;
  }
  return type == kDevice ? "device" : "unknown";
}

uint32_t InstanceOfGas(const std::string &gas) {
  // FNV-1a over the GAS in upper case, folded onto the instance numbers
  // 0..4194302 (4194303 is reserved).
  uint32_t hash = 2166136261u;
  for (char c : gas) {
    const unsigned char upper = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    hash = (hash ^ upper) * 16777619u;
  }
  return hash % kMaxInstance;
}

bool ReadBacnetSection(const toml::table &root, const std::string &fileName, const std::vector<GateInfo> &gates,
                       const std::string &gatewayId, BacnetConfig *config, std::string *error) {
  *config = BacnetConfig{};
  ConfigRefusal fail(fileName, error);
  const toml::node *node = root.get("bacnet");
  if (node == nullptr) return true;
  if (!node->is_table()) return fail.At(*node, "[bacnet] must be a table");
  const toml::table &section = *node->as_table();
  if (!CheckKeys(section, kSectionKeys, std::size(kSectionKeys), "[bacnet]", fail)) return false;
  config->enabled = true;
  config->deviceName = "zamgate-" + gatewayId;
  if (const toml::node *listen = section.get("listen")) {
    const std::string text = listen->is_string() ? listen->as_string()->get() : "";
    if (!SplitAddress(text, &config->address, &config->port)) {
      return fail.At(*listen, "listen must read IPV4-ADDRESS:PORT (e.g. \"127.0.0.1:47808\"), not '" + text + "'");
    }
  }
  int instance = -1;
  if (!GetInt(section, "device_instance", 0, static_cast<int>(kMaxInstance) - 1, &instance, fail)) return false;
  if (instance < 0) return fail.At(section, "[bacnet] needs device_instance (0 to 4194302), unique on the BACnet internetwork");
  config->deviceInstance = static_cast<uint32_t>(instance);
  if (!GetString(section, "device_name", &config->deviceName, fail) ||
      !GetString(section, "location", &config->location, fail) ||
      !GetInt(section, "bbmd_ttl_s", 30, 65535, &config->bbmdTtlSeconds, fail) ||
      !GetInt(section, "max_subscriptions", 0, 10000, &config->maxSubscriptions, fail) ||
      !GetInt(section, "requests_per_s", 1, 100000, &config->requestsPerSecond, fail)) {
    return false;
  }
  if (config->deviceName.empty() || config->deviceName.size() > 255) {
    return fail.At(section.get("device_name") != nullptr ? *section.get("device_name") : section,
                   "device_name must hold 1 to 255 characters");
  }
  if (const toml::node *bbmd = section.get("bbmd")) {
    const std::string text = bbmd->is_string() ? bbmd->as_string()->get() : "";
    if (!SplitAddress(text, &config->bbmdAddress, &config->bbmdPort) || config->bbmdPort == 0) {
      return fail.At(*bbmd, "bbmd must read IPV4-ADDRESS:PORT (e.g. \"10.0.0.5:47808\"), not '" + text + "'");
    }
  } else if (section.get("bbmd_ttl_s") != nullptr) {
    return fail.At(*section.get("bbmd_ttl_s"), "bbmd_ttl_s without bbmd: name the BBMD to register with");
  }

  std::vector<const toml::node *> nodes;
  const toml::node *map = section.get("map");
  if (map != nullptr) {
    if (!map->is_array_of_tables()) return fail.At(*map, "the map is written [[bacnet.map]] tables");
    config->automaticMap = false;
    for (const toml::node &item : *map->as_array()) {
      MapEntry entry;
      if (!ReadEntry(*item.as_table(), gates, fail, &entry)) return false;
      config->map.push_back(entry);
      nodes.push_back(&item);
    }
  } else {
    // Every gate, in the order of the configuration; a GAS whose number is
    // taken moves to the next free one.
    std::map<std::pair<uint16_t, uint32_t>, size_t> taken;
    for (size_t i = 0; i < gates.size(); ++i) {
      MapEntry entry;
      entry.gate = i;
      entry.type = DefaultType(gates[i]);
      entry.name = gates[i].name;
      entry.instance = InstanceOfGas(gates[i].gas);
      while (taken.count({entry.type, entry.instance}) != 0) entry.instance = (entry.instance + 1) % kMaxInstance;
      taken[{entry.type, entry.instance}] = i;
      config->map.push_back(entry);
    }
  }

  // No two objects of a type share an instance, no two objects a name, no
  // gate has two objects, and no object takes the device's name.
  std::map<std::pair<uint16_t, uint32_t>, size_t> ids;
  std::map<std::string, size_t> names;
  std::map<size_t, size_t> mapped;
  for (size_t k = 0; k < config->map.size(); ++k) {
    const MapEntry &entry = config->map[k];
    const toml::node &at = nodes.empty() ? section : *nodes[k];
    auto id = ids.emplace(std::make_pair(entry.type, entry.instance), k);
    if (!id.second) {
      return fail.At(at, std::string(ObjectTypeName(entry.type)) + " " + std::to_string(entry.instance) + " of gate '" +
                             gates[entry.gate].name + "' is taken by gate '" +
                             gates[config->map[id.first->second].gate].name + "' (" +
                             config->map[id.first->second].origin + ")");
    }
    if (!mapped.emplace(entry.gate, k).second) {
      return fail.At(at, "gate '" + gates[entry.gate].name + "' is mapped twice (" +
                             config->map[mapped[entry.gate]].origin + ")");
    }
    auto name = names.emplace(entry.name, k);
    if (!name.second || entry.name == config->deviceName) {
      return fail.At(at, "object name '" + entry.name + "' is used twice: object names are unique in a device");
    }
  }
  return true;
}

std::string MapText(const BacnetConfig &config, const std::vector<GateInfo> &gates) {
  std::ostringstream out;
  out << "# BACnet device " << config.deviceInstance << " '" << config.deviceName << "', " << config.map.size()
      << " objects (" << (config.automaticMap ? "automatic map" : "explicit map") << ")\n";
  for (const MapEntry &entry : config.map) {
    const GateInfo &gate = gates.at(entry.gate);
    out << "[[bacnet.map]]  # " << gate.gas << "\ngate = \"" << gate.name << "\"\ntype = \""
        << ObjectTypeName(entry.type) << "\"\ninstance = " << entry.instance << "\n";
    if (entry.name != gate.name) out << "name = \"" << entry.name << "\"\n";
    if (entry.covIncrement != 0) out << "cov_increment = " << entry.covIncrement << "\n";
    if (entry.relinquishDefault) out << "relinquish_default = " << *entry.relinquishDefault << "\n";
  }
  return out.str();
}

}  // namespace bacnet
