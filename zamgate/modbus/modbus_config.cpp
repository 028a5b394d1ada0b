#include "zamgate/modbus/modbus_config.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "driver/requests.h"
#include "host/common/gate_types.h"
#include "host/common/text_util.h"
#include "zamgate/core/toml_fields.h"

namespace zamgate {
namespace {

constexpr const char *kSectionKeys[] = {"listen",         "unit_id",     "word_order",     "when_not_good",
                                        "reply_writes",   "max_clients", "idle_timeout_s", "write_done_timeout_ms",
                                        "map"};
constexpr const char *kEntryKeys[] = {"gate", "table", "address"};

struct NamedTable {
  const char *name;
  ModbusTable table;
  bool bits;
  bool writable;
};
constexpr NamedTable kTables[] = {
    {"coil", ModbusTable::kCoil, true, true},
    {"discrete_input", ModbusTable::kDiscreteInput, true, false},
    {"holding", ModbusTable::kHoldingRegister, false, true},
    {"input", ModbusTable::kInputRegister, false, false},
};

template <typename Choice>
struct NamedChoice {
  const char *name;
  Choice choice;
};
constexpr NamedChoice<WordOrder> kWordOrders[] = {{"big", WordOrder::kHighWordFirst},
                                                  {"little", WordOrder::kLowWordFirst}};
constexpr NamedChoice<NotGoodAnswer> kNotGoodAnswers[] = {{"last_good", NotGoodAnswer::kLastGood},
                                                          {"exception", NotGoodAnswer::kException}};
constexpr NamedChoice<WriteReply> kWriteReplies[] = {{"queued", WriteReply::kWhenQueued},
                                                     {"done", WriteReply::kWhenDone}};

const NamedTable &TableRow(ModbusTable table) {
  for (const NamedTable &row : kTables) {
    if (row.table == table) return row;
  }
  return kTables[0];
}

// Registers a value of this gate type takes; digital gates take one bit.
int WordsOf(int type) { return type == kGateReal || type == kGateInt32 ? 2 : 1; }

bool CheckKeys(const toml::table &table, const char *const *known, size_t count, const std::string &where,
               ConfigRefusal &fail) {
  for (const auto &[key, node] : table) {
    const std::string_view keyText = key.str();  // a structured binding is not captured before C++20
    if (std::find_if(known, known + count, [keyText](const char *name) { return keyText == name; }) == known + count) {
      return fail.At(node, "unknown key '" + std::string(key.str()) + "' in " + where);
    }
  }
  return true;
}

template <typename Choice, size_t N>
bool GetChoice(const toml::table &table, const char *key, const NamedChoice<Choice> (&choices)[N], Choice *value,
               ConfigRefusal &fail) {
  const toml::node *node = table.get(key);
  if (node == nullptr) return true;
  std::string names;
  for (const NamedChoice<Choice> &choice : choices) {
    if (node->is_string() && node->as_string()->get() == choice.name) {
      *value = choice.choice;
      return true;
    }
    names += std::string(names.empty() ? "" : " or ") + "\"" + choice.name + "\"";
  }
  return fail.At(*node, std::string(key) + " must be " + names);
}

bool ReadListen(const toml::table &section, ModbusConfig *config, ConfigRefusal &fail) {
  const toml::node *node = section.get("listen");
  if (node == nullptr) return true;
  std::string listen = node->is_string() ? node->as_string()->get() : "";
  size_t colon = listen.rfind(':');
  std::string portText = colon == std::string::npos ? "" : listen.substr(colon + 1);
  char *end = nullptr;
  long port = strtol(portText.c_str(), &end, 10);
  if (colon == std::string::npos || colon == 0 || portText.empty() || *end != '\0' || port < 0 || port > 65535) {
    return fail.At(*node, "listen must read ADDRESS:PORT (e.g. \"127.0.0.1:1502\"), not '" + listen + "'");
  }
  // libmodbus takes a numeric IPv4 address, and listens on every interface
  // for any text that starts with '0': only an address written as the
  // address it is ("0.0.0.0" for every interface) is taken.
  const std::string address = listen.substr(0, colon);
  in_addr parsed{};
  char canonical[INET_ADDRSTRLEN] = {};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1 ||
      inet_ntop(AF_INET, &parsed, canonical, sizeof canonical) == nullptr || address != canonical) {
    return fail.At(*node, "listen must name an IPv4 address as digits (e.g. \"127.0.0.1:1502\", \"0.0.0.0:502\" "
                          "for every interface), not '" + n2host::Excerpt(address, 64) + "'");
  }
  config->address = address;
  config->port = static_cast<int>(port);
  return true;
}

bool ReadEntry(const toml::table &entry, const std::vector<ModbusGateInfo> &gates, ConfigRefusal &fail,
               ModbusMapEntry *out) {
  if (!CheckKeys(entry, kEntryKeys, std::size(kEntryKeys), "[[modbus.map]]", fail)) return false;
  const toml::node *gateNode = entry.get("gate");
  const toml::node *tableNode = entry.get("table");
  const toml::node *addressNode = entry.get("address");
  if (gateNode == nullptr || tableNode == nullptr || addressNode == nullptr) {
    return fail.At(entry, "a map entry needs gate, table and address");
  }
  if (!gateNode->is_string()) return fail.At(*gateNode, "gate must be a gate's name in quotes");
  const std::string &name = gateNode->as_string()->get();
  auto gate = std::find_if(gates.begin(), gates.end(), [&](const ModbusGateInfo &g) { return g.name == name; });
  if (gate == gates.end()) return fail.At(*gateNode, "the map names '" + name + "', which is no gate");
  out->gate = static_cast<size_t>(gate - gates.begin());

  const NamedTable *table = nullptr;
  for (const NamedTable &row : kTables) {
    if (tableNode->is_string() && tableNode->as_string()->get() == row.name) table = &row;
  }
  if (table == nullptr) return fail.At(*tableNode, "table must be \"coil\", \"discrete_input\", \"holding\" or \"input\"");
  out->table = table->table;

  if (!addressNode->is_integer()) return fail.At(*addressNode, "address must be a whole number");
  int64_t address = addressNode->as_integer()->get();
  if (gate->type == n2host::kAutoType) {
    return fail.At(*gateNode, "gate '" + name + "' has type auto: give it a type, its registers depend on it");
  }
  out->type = gate->type;
  bool digital = gate->type == kGateDigital;
  if (digital != table->bits) {
    return fail.At(*tableNode, "gate '" + name + "' is " + n2host::GateTypeName(gate->type) + ": it belongs in " +
                                   (digital ? "a coil or a discrete_input" : "a holding or an input register") +
                                   ", not " + table->name);
  }
  if (table->writable && !gate->writable) {
    return fail.At(*tableNode, "gate '" + name + "' is not writable: map it to " +
                                   (digital ? "a discrete_input" : "an input register") + ", or make it writable");
  }
  out->words = digital ? 1 : WordsOf(gate->type);
  if (address < 0 || address + out->words - 1 > 65535) {
    return fail.At(*addressNode, "address " + std::to_string(address) + " of gate '" + name + "' (" +
                                     std::to_string(out->words) + (out->words == 1 ? " word" : " words") +
                                     ") lies outside 0..65535");
  }
  out->address = static_cast<uint16_t>(address);
  out->origin = fail.Origin(entry);
  return true;
}

// Refuses two entries that share an address of the same table.
bool CheckOverlaps(const std::vector<ModbusMapEntry> &map, const std::vector<ModbusGateInfo> &gates,
                   const std::vector<const toml::node *> &nodes, ConfigRefusal &fail) {
  std::vector<size_t> order(map.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (map[a].table != map[b].table) return map[a].table < map[b].table;
    if (map[a].address != map[b].address) return map[a].address < map[b].address;
    return a < b;
  });
  for (size_t k = 1; k < order.size(); ++k) {
    const ModbusMapEntry &before = map[order[k - 1]];
    const ModbusMapEntry &after = map[order[k]];
    if (before.table != after.table || before.address + before.words <= after.address) continue;
    size_t later = std::max(order[k - 1], order[k]);
    const ModbusMapEntry &first = map[std::min(order[k - 1], order[k])];
    return fail.At(*nodes[later], std::string(ModbusTableName(after.table)) + " address " +
                                      std::to_string(map[later].address) + " of gate '" + gates[map[later].gate].name +
                                      "' overlaps gate '" + gates[first.gate].name + "' at " +
                                      std::to_string(first.address) + " (" + first.origin + ")");
  }
  return true;
}

}  // namespace

const char *ModbusTableName(ModbusTable table) { return TableRow(table).name; }
bool ModbusTableIsBits(ModbusTable table) { return TableRow(table).bits; }
bool ModbusTableIsWritable(ModbusTable table) { return TableRow(table).writable; }

bool ReadModbusSection(const toml::table &root, const std::string &fileName, const std::vector<ModbusGateInfo> &gates,
                       ModbusConfig *config, std::string *error) {
  *config = ModbusConfig{};
  ConfigRefusal fail(fileName, error);
  const toml::node *node = root.get("modbus");
  if (node == nullptr) return true;
  if (!node->is_table()) return fail.At(*node, "[modbus] must be a table");
  const toml::table &section = *node->as_table();
  if (!CheckKeys(section, kSectionKeys, std::size(kSectionKeys), "[modbus]", fail)) return false;
  config->enabled = true;
  int idleSeconds = config->idleTimeoutMs / 1000;
  if (!ReadListen(section, config, fail) || !GetInt(section, "unit_id", 0, 255, &config->unitId, fail) ||
      !GetChoice(section, "word_order", kWordOrders, &config->wordOrder, fail) ||
      !GetChoice(section, "when_not_good", kNotGoodAnswers, &config->notGood, fail) ||
      !GetChoice(section, "reply_writes", kWriteReplies, &config->writeReply, fail) ||
      !GetInt(section, "max_clients", 1, 1000, &config->maxClients, fail) ||
      !GetInt(section, "idle_timeout_s", 1, 86400, &idleSeconds, fail) ||
      !GetInt(section, "write_done_timeout_ms", 100, 600000, &config->writeDoneTimeoutMs, fail)) {
    return false;
  }
  config->idleTimeoutMs = idleSeconds * 1000;

  const toml::node *map = section.get("map");
  if (map == nullptr) return true;
  if (!map->is_array_of_tables()) return fail.At(*map, "the map is written [[modbus.map]] tables");
  std::vector<const toml::node *> nodes;
  for (const toml::node &entryNode : *map->as_array()) {
    ModbusMapEntry entry;
    if (!ReadEntry(*entryNode.as_table(), gates, fail, &entry)) return false;
    config->map.push_back(entry);
    nodes.push_back(&entryNode);
  }
  return CheckOverlaps(config->map, gates, nodes, fail);
}

std::string ModbusMapCsv(const ModbusConfig &config, const std::vector<ModbusGateInfo> &gates,
                         const std::vector<n2host::GateMeta> &metas) {
  std::vector<ModbusMapEntry> map = config.map;
  std::sort(map.begin(), map.end(), [](const ModbusMapEntry &a, const ModbusMapEntry &b) {
    return a.table != b.table ? a.table < b.table : a.address < b.address;
  });
  auto quoted = [](const std::string &text) {
    if (text.find_first_of(",\"") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
  };
  std::ostringstream out;
  auto limit = [](const std::optional<double> &value) {
    if (!value) return std::string();
    char text[32];
    snprintf(text, sizeof text, "%.15g", *value);
    return std::string(text);
  };
  out << "address,table,gate,gas,type,words,writable,unit,min,max,description\n";
  for (const ModbusMapEntry &entry : map) {
    const ModbusGateInfo &gate = gates.at(entry.gate);
    const n2host::GateMeta meta = entry.gate < metas.size() ? metas[entry.gate] : n2host::GateMeta{};
    out << entry.address << ',' << ModbusTableName(entry.table) << ',' << quoted(gate.name) << ','
        << quoted(gate.gas) << ',' << n2host::GateTypeName(entry.type) << ',' << entry.words << ','
        << (ModbusTableIsWritable(entry.table) ? "yes" : "no") << ',' << quoted(meta.unit) << ','
        << limit(meta.min) << ',' << limit(meta.max) << ',' << quoted(meta.description) << '\n';
  }
  return out.str();
}

}  // namespace zamgate
