#include "host/common/gate_list.h"

#include <ctype.h>
#include <errno.h>
#include <string.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "host/common/gate_types.h"
#include "host/common/text_util.h"

namespace n2host {
namespace {

// The byte-order mark that spreadsheet programs put before UTF-8 text.
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// The length of the UTF-8 sequence at text[at], or 0 when it is not one
// (overlong forms, surrogates and code points above U+10FFFF included).
size_t Utf8SequenceAt(std::string_view text, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return 1;
  size_t length;
  uint32_t point;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    point = (point << 6) | (next & 0x3F);
  }
  if ((length == 3 && (point < 0x800 || (point >= 0xD800 && point <= 0xDFFF))) ||
      (length == 4 && (point < 0x10000 || point > 0x10FFFF))) {
    return 0;
  }
  return length;
}

// The separator of the list: ";" when its first record holds semicolons
// outside quotes and no commas (as spreadsheets save CSV where the comma is
// the decimal mark), otherwise ",".
char SeparatorOf(std::string_view text) {
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    int commas = 0, semicolons = 0;
    bool quoted = false;
    for (char c : line) {
      if (c == '"') quoted = !quoted;
      if (!quoted) commas += c == ',', semicolons += c == ';';
    }
    return semicolons > 0 && commas == 0 ? ';' : ',';
  }
  return ',';
}

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

bool ParseNumber(std::string_view text, double *value) {
  std::string copy(text);
  char *end = nullptr;
  errno = 0;
  double parsed = strtod(copy.c_str(), &end);
  if (copy.empty() || end != copy.c_str() + copy.size() || errno != 0 || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

// The columns of a gate list with a header line: their names in order.
// False with a reason when the header names an unknown column.
bool HeaderColumns(const std::vector<std::string> &fields, std::vector<std::string> *columns, std::string *error) {
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string column = Lower(Trim(fields[i]));
    bool known = i < 2 || column == "type";
    for (const std::string &meta : GateMetaColumns()) known = known || column == meta;
    if (!known) {
      *error = "unknown column '" + std::string(Trim(fields[i])) + "' in the header (name, gas, type, unit, description, "
               "decimals, min, max, step, kind, poll)";
      return false;
    }
    columns->push_back(column);
  }
  return true;
}

}  // namespace

const std::vector<std::string> &GateKinds() {
  static const std::vector<std::string> kinds = {
      // measurements
      "temperature", "humidity", "pressure", "power", "energy", "voltage", "current", "frequency", "flow",
      "illuminance", "carbon_dioxide", "speed", "duration", "percent",
      // states of digital points
      "occupancy", "running", "problem", "opening", "heat", "cold", "power_state"};
  return kinds;
}

const std::vector<std::string> &GateMetaColumns() {
  static const std::vector<std::string> columns = {"unit", "description", "decimals", "min",
                                                   "max",  "step",        "kind",     "poll"};
  return columns;
}

bool SetGateMeta(std::string_view column, std::string_view text, GateMeta *meta, std::string *error) {
  text = Trim(text);
  if (text.empty()) return true;
  if (column == "unit") {
    meta->unit = std::string(text);
  } else if (column == "description") {
    meta->description = std::string(text);
  } else if (column == "kind") {
    std::string kind = Lower(text);
    bool known = false;
    for (const std::string &name : GateKinds()) known = known || name == kind;
    if (!known) {
      std::string all;
      for (const std::string &name : GateKinds()) all += (all.empty() ? "" : ", ") + name;
      *error = "unknown kind '" + std::string(text) + "' (" + all + ")";
      return false;
    }
    meta->kind = kind;
  } else if (column == "poll") {
    for (char c : text) {
      if (!isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') {
        *error = "poll class '" + std::string(text) + "' must be a name of letters, digits, _ and -";
        return false;
      }
    }
    meta->pollClass = std::string(text);
  } else {
    double number = 0;
    if (!ParseNumber(text, &number)) {
      *error = std::string(column) + " '" + std::string(text) + "' is not a number";
      return false;
    }
    if (column == "decimals") {
      if (number < 0 || number > 9 || number != static_cast<int>(number)) {
        *error = "decimals '" + std::string(text) + "' must be a whole number from 0 to 9";
        return false;
      }
      meta->decimals = static_cast<int>(number);
    } else if (column == "min") {
      meta->min = number;
    } else if (column == "max") {
      meta->max = number;
    } else if (column == "step") {
      if (number <= 0) {
        *error = "step '" + std::string(text) + "' must be above 0";
        return false;
      }
      meta->step = number;
    } else {
      *error = "unknown column '" + std::string(column) + "'";
      return false;
    }
  }
  if (meta->min && meta->max && *meta->min > *meta->max) {
    *error = "min is above max";
    return false;
  }
  return true;
}

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

std::vector<std::string> SplitCsvRecord(std::string_view line, char separator) {
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
    } else if (c == separator) {
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

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return out;
}

size_t FirstNonUtf8Byte(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    size_t length = Utf8SequenceAt(text, at);
    if (length == 0) return at;
    at += length;
  }
  return std::string_view::npos;
}

bool ParseGateList(std::string_view text, const std::string &fileName, std::vector<GateSpec> *gates,
                   std::string *error, const GateListOptions &options) {
  std::string converted;
  if (text.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
    text.remove_prefix(kUtf8Mark.size());
  } else if (options.latin1) {
    converted = Latin1ToUtf8(text);
    text = converted;
  }
  const char separator = SeparatorOf(text);
  std::vector<std::string> problems;
  int lineNumber = 0;
  bool firstRecord = true;
  // Without a header: name, GAS, type. Metadata columns need the header
  // that names them, so that a stray field is refused, not taken for a unit.
  std::vector<std::string> columns = {"name", "gas", "type"};
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string where = fileName + ":" + std::to_string(lineNumber);
    if (size_t bad = FirstNonUtf8Byte(line); bad != std::string_view::npos) {
      char byte[8];
      snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(line[bad]));
      problems.push_back(where + ": not UTF-8 (byte " + byte + " at column " + std::to_string(bad + 1) +
                         "): save the list as UTF-8, or give --latin1 if it is Latin-1 (Windows-1252) text");
      continue;
    }
    std::string_view content = Trim(line);
    if (content.empty() || content.front() == '#') continue;

    std::vector<std::string> fields = SplitCsvRecord(line, separator);
    const bool header = firstRecord && fields.size() >= 2 && EqualsIgnoringCase(fields[0], "name") &&
                        EqualsIgnoringCase(fields[1], "gas");
    firstRecord = false;
    if (header) {
      std::string headerError;
      std::vector<std::string> named;
      if (!HeaderColumns(fields, &named, &headerError)) {
        problems.push_back(where + ": " + headerError);
      } else {
        if (named.size() == 2) named.push_back("type");  // "name,gas" over rows that give a type
        columns = named;
      }
      continue;
    }

    if (fields.size() > columns.size()) {
      problems.push_back(where + ": expected name" + separator + " GAS" + separator + " type" +
                         (columns.size() > 3 ? " and the header's columns" : "") + "; found " +
                         std::to_string(fields.size()) + " fields");
      continue;
    }
    GateSpec gate;
    gate.origin = where;
    std::string gas = fields.size() == 1 ? fields[0] : fields[1];
    if (gas.empty() || HasBlank(gas)) {
      problems.push_back(where + ": '" + gas + "' is not a gate address");
      continue;
    }
    gate.gas = gas;
    gate.name = fields.size() >= 2 && !fields[0].empty() ? fields[0] : gas;
    std::string typeError;
    bool good = true;
    for (size_t i = 2; i < fields.size() && good && fields.size() > 1; ++i) {
      if (columns[i] == "type") {
        if (fields.size() == 3 || !Trim(fields[i]).empty()) good = SetType(fields[i], &gate, &typeError);
      } else {
        good = SetGateMeta(columns[i], fields[i], &gate.meta, &typeError);
      }
    }
    if (!good) {
      problems.push_back(where + ": " + typeError);
      continue;
    }
    gates->push_back(gate);
  }
  if (problems.empty()) return true;
  error->clear();
  for (const std::string &problem : problems) *error += (error->empty() ? "" : "\n") + problem;
  return false;
}

bool LoadGateList(const std::string &path, std::vector<GateSpec> *gates, std::string *error,
                  const GateListOptions &options) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the gate list '" + path + "': " + strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseGateList(text.str(), path, gates, error, options);
}

bool NamesGateList(std::string_view argument) {
  if (argument.find('/') != std::string_view::npos) return true;
  return argument.size() > 4 && EqualsIgnoringCase(argument.substr(argument.size() - 4), ".csv");
}

bool CollectGates(const std::vector<std::string> &arguments, std::vector<GateSpec> *gates, std::string *error,
                  const GateListOptions &options) {
  int position = 0;
  for (const std::string &argument : arguments) {
    ++position;
    if (NamesGateList(argument)) {
      if (!LoadGateList(argument, gates, error, options)) return false;
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
