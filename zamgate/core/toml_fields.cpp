#include "zamgate/core/toml_fields.h"

#include <sys/stat.h>

#include <fstream>

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

bool GetBool(const toml::table &table, const char *key, bool *value, ConfigRefusal &fail) {
  const toml::node *node = table.get(key);
  if (node == nullptr) return true;
  if (!node->is_boolean()) return fail.At(*node, std::string(key) + " must be true or false");
  *value = node->as_boolean()->get();
  return true;
}

bool CheckKeys(const toml::table &table, const std::string &name, const std::vector<TableKeys> &known,
               ConfigRefusal &fail) {
  for (const TableKeys &row : known) {
    if (name != row.table) continue;
    for (const auto &[key, node] : table) {
      if (row.keys.count(std::string(key.str())) == 0) {
        return fail.At(node, "unknown key '" + std::string(key.str()) + "'" +
                                 (name.empty() ? "" : " in [" + name + "]"));
      }
    }
  }
  return true;
}

const toml::table *SubTable(const toml::table &root, const char *key, const std::vector<TableKeys> &known,
                            ConfigRefusal &fail, bool *ok) {
  *ok = true;
  const toml::node *node = root.get(key);
  if (node == nullptr) return nullptr;
  if (!node->is_table()) {
    *ok = fail.At(*node, std::string("[") + key + "] must be a table");
    return nullptr;
  }
  *ok = CheckKeys(*node->as_table(), key, known, fail);
  return node->as_table();
}

bool IsPemFile(const std::string &path, std::string *why) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    *why = "does not exist";
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *why = S_ISDIR(info.st_mode) ? "is a folder, not a file" : "is not a plain file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = "cannot be read";
    return false;
  }
  std::string head(65536, '\0');
  in.read(&head[0], static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<size_t>(in.gcount()));
  if (head.find("-----BEGIN ") == std::string::npos) {
    *why = "is not in PEM form (no \"-----BEGIN\" line)";
    return false;
  }
  return true;
}

namespace {

std::string FolderOf(const std::string &file) {
  size_t slash = file.rfind('/');
  return slash == std::string::npos ? "." : file.substr(0, slash);
}

}  // namespace

std::string Beside(const std::string &configFile, const std::string &path) {
  if (path.empty() || path[0] == '/') return path;
  return FolderOf(configFile) + "/" + path;
}

}  // namespace zamgate
