#include "host/common/gate_list.h"

#include <ctype.h>

#include <fstream>
#include <sstream>

#include "host/common/gate_types.h"
#include "host/common/text_util.h"

namespace n2host {
namespace {



bool SetType(std::string_view typeName, GateSpec *gate, std::string *error) {
  std::optional<int> type = GateTypeFromName(Trim(typeName));
  if (!type) {
    *error = "unknown type '" + std::string(Trim(typeName)) + "' (use int16, uint16, real, int32, digital or auto)";
    return false;
  }
  gate->type = *type;
  return true;
}

bool HasBlank(std::string_view text) {
  for (char c : text) {
    if (isspace(static_cast<unsigned char>(c))) return true;
  }
  return false;
}

}  // namespace

bool ParseGateArgument(std::string_view text, GateSpec *gate, std::string *error) {
  text = Trim(text);
  size_t colon = text.find(':');
  std::string_view gas = Trim(text.substr(0, colon));
  if (gas.empty()) {
    *error = "no gate address in '" + std::string(text) + "'";
    return false;
  }
  if (HasBlank(gas)) {
    *error = "a gate address holds no blanks: '" + std::string(gas) + "'";
    return false;
  }
  gate->gas = std::string(gas);
  gate->name = gate->gas;
  gate->type = kAutoType;
  if (colon == std::string_view::npos) return true;
  return SetType(text.substr(colon + 1), gate, error);
}

bool ParseWriteArgument(std::string_view text, WriteSpec *spec, std::string *error) {
  size_t equals = text.find('=');
  if (!ParseGateArgument(text.substr(0, equals), &spec->gate, error)) return false;
  spec->value.reset();
  if (equals != std::string_view::npos) {
    std::string_view value = Trim(text.substr(equals + 1));
    if (value.empty()) {
      *error = "no value after '=' in '" + std::string(text) + "'";
      return false;
    }
    spec->value = std::string(value);
  }
  return true;
}

std::vector<std::string> SplitCsvRecord(std::string_view line) {
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  bool wasQuoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        field.push_back('"');
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field.push_back(c);
      }
    } else if (c == '"' && Trim(field).empty()) {
      quoted = true;
      wasQuoted = true;
      field.clear();
    } else if (c == ',') {
      fields.push_back(wasQuoted ? field : std::string(Trim(field)));
      field.clear();
      wasQuoted = false;
    } else if (!(wasQuoted && isspace(static_cast<unsigned char>(c)))) {
      field.push_back(c);
    }
  }
  fields.push_back(wasQuoted ? field : std::string(Trim(field)));
  return fields;
}

bool ParseGateList(std::string_view text, const std::string &fileName, std::vector<GateSpec> *gates,
                   std::string *error) {
  int lineNumber = 0;
  bool firstRecord = true;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view content = Trim(line);
    if (content.empty() || content.front() == '#') continue;

    std::vector<std::string> fields = SplitCsvRecord(line);
    const bool header = firstRecord && fields.size() >= 2 && EqualsIgnoringCase(fields[0], "name") &&
                        EqualsIgnoringCase(fields[1], "gas");
    firstRecord = false;
    if (header) continue;

    std::string where = fileName + ":" + std::to_string(lineNumber);
    if (fields.size() > 3) {
      *error = where + ": expected name, GAS, type; found " + std::to_string(fields.size()) + " fields";
      return false;
    }
    GateSpec gate;
    gate.origin = where;
    std::string gas = fields.size() == 1 ? fields[0] : fields[1];
    if (gas.empty() || HasBlank(gas)) {
      *error = where + ": '" + gas + "' is not a gate address";
      return false;
    }
    gate.gas = gas;
    gate.name = fields.size() >= 2 && !fields[0].empty() ? fields[0] : gas;
    std::string typeError;
    if (fields.size() == 3 && !SetType(fields[2], &gate, &typeError)) {
      *error = where + ": " + typeError;
      return false;
    }
    gates->push_back(gate);
  }
  return true;
}

bool LoadGateList(const std::string &path, std::vector<GateSpec> *gates, std::string *error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the gate list '" + path + "'";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseGateList(text.str(), path, gates, error);
}

bool NamesGateList(std::string_view argument) {
  if (argument.find('/') != std::string_view::npos) return true;
  return argument.size() > 4 && EqualsIgnoringCase(argument.substr(argument.size() - 4), ".csv");
}

bool CollectGates(const std::vector<std::string> &arguments, std::vector<GateSpec> *gates, std::string *error) {
  int position = 0;
  for (const std::string &argument : arguments) {
    ++position;
    if (NamesGateList(argument)) {
      if (!LoadGateList(argument, gates, error)) return false;
      continue;
    }
    GateSpec gate;
    if (!ParseGateArgument(argument, &gate, error)) return false;
    gate.origin = "argument " + std::to_string(position);
    gates->push_back(gate);
  }
  return true;
}

}  // namespace n2host
