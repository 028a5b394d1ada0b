// Fields of a gateway configuration file read with toml++. Every refusal
// names the file and the line of the value at fault, so that a site
// engineer goes straight to it.
#ifndef ZAMKT_ZAMGATE_TOML_FIELDS_H
#define ZAMKT_ZAMGATE_TOML_FIELDS_H

#include <string>

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

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_TOML_FIELDS_H
