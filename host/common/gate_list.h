// Gates as the user names them: command-line arguments "GAS[:TYPE]" and
// "GAS[:TYPE]=VALUE", and gate lists, small CSV files of name, GAS and type.
#ifndef ZAMKT_HOST_COMMON_GATE_LIST_H
#define ZAMKT_HOST_COMMON_GATE_LIST_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace n2host {

// What a gate means in engineering terms, for the tools that show it (the
// page, Home Assistant, Prometheus) and for the limits of writes. Every field
// is optional: a gate list without these columns leaves them empty.
struct GateMeta {
  std::string unit;         // "°C", "%", "kW" ...
  std::string description;  // free text
  std::optional<int> decimals;  // digits after the point to show
  std::optional<double> min;    // writes below are refused
  std::optional<double> max;    // writes above are refused
  std::optional<double> step;   // the step a slider or field offers
  std::string kind;         // what it measures: one of GateKinds(), or ""
  std::string pollClass;    // the poll class that sets how often it is read; "" the default
};

// The kinds a gate may declare: measurements (temperature, humidity ...) and
// states (occupancy, running, ...).
const std::vector<std::string> &GateKinds();

// The metadata columns a gate list's header may name after name and GAS.
const std::vector<std::string> &GateMetaColumns();

// Sets one metadata field from its column text (blank leaves it unset).
// False with a reason for a bad number or an unknown kind.
bool SetGateMeta(std::string_view column, std::string_view text, GateMeta *meta, std::string *error);

struct GateSpec {
  std::string name;    // shown in tables; the GAS when none is given
  std::string gas;     // passed to the driver exactly as written
  int type = -1;       // gate data type, or kAutoType
  std::string origin;  // where the gate was named, for messages: "gates.csv:4"
  GateMeta meta;       // unit, description, limits ...
};

// How a gate list's text is read.
struct GateListOptions {
  bool latin1 = false;  // the file is Latin-1 text (without a UTF-8 mark): converted to UTF-8
};

struct WriteSpec {
  GateSpec gate;
  std::optional<std::string> value;  // absent: "GAS" alone (an override release)
};

// "GAS" or "GAS:TYPE". False with a message when the GAS is empty or the type
// unknown.
bool ParseGateArgument(std::string_view text, GateSpec *gate, std::string *error);

// "GAS[:TYPE]=VALUE", or "GAS[:TYPE]" without a value. The value may itself
// hold colons (07:30); only the first "=" separates it.
bool ParseWriteArgument(std::string_view text, WriteSpec *spec, std::string *error);

// One CSV record: fields separated by the separator, double quotes around a
// field that holds it, "" for a quote inside one; blanks around fields dropped.
std::vector<std::string> SplitCsvRecord(std::string_view line, char separator = ',');

// Latin-1 text as UTF-8.
std::string Latin1ToUtf8(std::string_view text);
// The offset of the first byte that is not part of valid UTF-8; npos if none.
size_t FirstNonUtf8Byte(std::string_view text);

// Parses a gate list. One gate per line: name, GAS, type (the type may be
// left out or empty for auto; a line of one field is a GAS alone), separated
// by commas, or by semicolons when the first record uses them. A UTF-8
// byte-order mark is skipped. Blank lines and lines starting with "#" are
// skipped, and so is a header line whose first two fields read "name" and
// "gas". Metadata columns (GateMetaColumns) need a header line that names
// them (in any order after name and gas); a header naming an unknown column
// is refused. A line that is not UTF-8 is refused unless options.latin1. False
// when any line is bad, with one "FILE:LINE: reason" line per bad line.
bool ParseGateList(std::string_view text, const std::string &fileName, std::vector<GateSpec> *gates,
                   std::string *error, const GateListOptions &options = {});

// Reads and parses the file; a file that cannot be read is named with the
// system's reason.
bool LoadGateList(const std::string &path, std::vector<GateSpec> *gates, std::string *error,
                  const GateListOptions &options = {});

// True when a command-line argument names a gate list file rather than a
// gate: it ends in ".csv" or holds a "/" (no GAS does either).
bool NamesGateList(std::string_view argument);

// Gates from arguments that mix gate lists and "GAS[:TYPE]" items, in order.
bool CollectGates(const std::vector<std::string> &arguments, std::vector<GateSpec> *gates, std::string *error,
                  const GateListOptions &options = {});

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_GATE_LIST_H
