// Fields of a gateway configuration file read with toml++. Every refusal
// names the file and the line of the value at fault, so that a site
// engineer goes straight to it.
#ifndef ZAMKT_ZAMGATE_TOML_FIELDS_H
#define ZAMKT_ZAMGATE_TOML_FIELDS_H

#include <set>
#include <string>
#include <vector>

#include <toml++/toml.h>

namespace zamgate {

// Where a refusal goes: "file:line: reason" into the caller's string.
class ConfigRefusal {
 public:
  ConfigRefusal(std::string file, std::string *out) : file_(std::move(file)), out_(out) {}

  // Always false, so that a reader can return it.
  bool At(const toml::node &node, const std::string &reason);
  bool File(const std::string &reason);
  // "file:line" of a value, for later refusals that name where it was set.
  std::string Origin(const toml::node &node) const;

 private:
  std::string file_;
  std::string *out_;
};

// Typed lookups: an absent key leaves the value as it was; a value of the
// wrong kind or out of range is refused.
bool GetString(const toml::table &table, const char *key, std::string *value, ConfigRefusal &fail);
bool GetInt(const toml::table &table, const char *key, int low, int high, int *value, ConfigRefusal &fail);
bool GetBool(const toml::table &table, const char *key, bool *value, ConfigRefusal &fail);

// The keys each table may hold, by the table's name ("" for the file's top
// level): a misspelt key is refused rather than silently left at its default.
// Each section reader keeps the rows of its own tables.
struct TableKeys {
  const char *table;
  std::set<std::string> keys;
};

// Refuses a key of the table called name that the rows for name do not list.
bool CheckKeys(const toml::table &table, const std::string &name, const std::vector<TableKeys> &known,
               ConfigRefusal &fail);
// The table under key in root, its keys checked against known; nullptr when
// there is none. *ok is false when it was refused.
const toml::table *SubTable(const toml::table &root, const char *key, const std::vector<TableKeys> &known,
                            ConfigRefusal &fail, bool *ok);

// True for a readable regular file in PEM form (a "-----BEGIN " line), as
// libmosquitto's TLS takes them; otherwise why not.
bool IsPemFile(const std::string &path, std::string *why);
// A relative path taken from the configuration file's folder.
std::string Beside(const std::string &configFile, const std::string &path);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_TOML_FIELDS_H
