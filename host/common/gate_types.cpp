#include "host/common/gate_types.h"
#include "host/common/text_util.h"

namespace n2host {
namespace {

struct TypeName {
  const char *name;
  int type;
};

constexpr TypeName kTypeNames[] = {
    {"int16", kGateInt16}, {"uint16", kGateUInt16}, {"real", kGateReal},
    {"int32", kGateInt32}, {"digital", kGateDigital}, {"auto", kAutoType},
};


}  // namespace

std::optional<int> GateTypeFromName(std::string_view name) {
  if (name.empty()) return kAutoType;
  for (const TypeName &entry : kTypeNames) {
    if (EqualsIgnoringCase(name, entry.name)) return entry.type;
  }
  return std::nullopt;
}

std::string GateTypeName(int type) {
  for (const TypeName &entry : kTypeNames) {
    if (entry.type == type) return entry.name;
  }
  return "type " + std::to_string(type);
}

}  // namespace n2host
