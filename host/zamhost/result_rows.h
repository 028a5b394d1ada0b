// The rows of a command's results in the format the user chose: an aligned
// table for people, CSV for spreadsheets, JSON lines for programs. Every row
// has the same columns (one of them a status) and is printed as soon as it
// is known, so that an interrupted command still shows what it did.
#ifndef ZAMKT_HOST_ZAMHOST_RESULT_ROWS_H
#define ZAMKT_HOST_ZAMHOST_RESULT_ROWS_H

#include <stdio.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/common/value_text.h"

namespace zamhost {

enum class OutputFormat { kTable, kCsv, kJson };

struct Column {
  std::string name;
  int width = 0;  // the table's width for the column; 0: as long as the value
};

class ResultRows {
 public:
  ResultRows(OutputFormat format, FILE *out, std::vector<Column> columns);

  // One row, a value per column: a string, a number or null (shown as "-"
  // in a table, empty in CSV). Non-finite numbers become null.
  void Row(const std::vector<nlohmann::json> &values);

 private:
  void Header();

  OutputFormat format_;
  FILE *out_;
  std::vector<Column> columns_;
  bool headed_ = false;
};

// A CSV field, quoted when it holds a separator, a quote or a line break.
std::string CsvField(const std::string &text);

// The JSON text of a value, never failing: bytes that are not UTF-8 are
// replaced (U+FFFD), so that every line parses.
std::string JsonText(const nlohmann::json &value);

// A real as JSON: the number, or null when it is not finite.
nlohmann::json JsonNumber(double value);

// A gate's raw value as JSON: an integer, or a real written with the
// shortest digits that read back as the same single-precision real (21.7,
// not 21.700000762939453); null for a real that is not finite.
nlohmann::json RawValueJson(const n2host::GateValue &value);

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_RESULT_ROWS_H
