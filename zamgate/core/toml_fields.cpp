#include "zamgate/core/toml_fields.h"

namespace zamgate {

bool ConfigRefusal::At(const toml::node &node, const std::string &reason) {
  int line = static_cast<int>(node.source().begin.line);
  *out_ = file_ + (line > 0 ? ":" + std::to_string(line) : "") + ": " + reason;
  return false;
}

bool ConfigRefusal::File(const std::string &reason) {
  *out_ = file_ + ": " + reason;
  return false;
}

std::string ConfigRefusal::Origin(const toml::node &node) const {
  return file_ + ":" + std::to_string(node.source().begin.line);
}

bool GetString(const toml::table &table, const char *key, std::string *value, ConfigRefusal &fail) {
  const toml::node *node = table.get(key);
  if (node == nullptr) return true;
  if (!node->is_string()) return fail.At(*node, std::string(key) + " must be text in quotes");
  *value = node->as_string()->get();
  return true;
}

bool GetInt(const toml::table &table, const char *key, int low, int high, int *value, ConfigRefusal &fail) {
  const toml::node *node = table.get(key);
  if (node == nullptr) return true;
  if (!node->is_integer()) return fail.At(*node, std::string(key) + " must be a whole number");
  int64_t number = node->as_integer()->get();
  if (number < low || number > high) {
    return fail.At(*node, std::string(key) + " must lie between " + std::to_string(low) + " and " +
                              std::to_string(high) + ", not " + std::to_string(number));
  }
  *value = static_cast<int>(number);
  return true;
}

}  // namespace zamgate
