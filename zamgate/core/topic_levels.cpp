// A gate's topic level under [mqtt] topics, apart from the rest of the
// configuration so that the MQTT face links it alone.
#include <ctype.h>

#include "zamgate/core/config.h"

namespace zamgate {

std::string Slug(const std::string &name) {
  std::string slug;
  bool gap = false;
  for (char c : name) {
    if (isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80) {
      if (gap && !slug.empty()) slug += '_';
      gap = false;
      slug += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    } else {
      gap = true;
    }
  }
  return slug.empty() ? "gate" : slug;
}

std::string GateTopicLevel(const n2host::GateSpec &gate, const std::string &mode) {
  if (mode == "slug") return Slug(gate.name);
  if (mode == "gas") return gate.gas;
  return gate.name;
}

}  // namespace zamgate
