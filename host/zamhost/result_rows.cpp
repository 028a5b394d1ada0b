#include "host/zamhost/result_rows.h"

#include <math.h>

#include <charconv>

#include "driver/requests.h"

namespace zamhost {
namespace {

// A value as a table or CSV shows it: text as it is, reals in their
// shortest form ("100", not "100.0").
std::string Plain(const nlohmann::json &value) {
  if (value.is_null()) return "";
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_float()) {
    char text[32];
    auto result = std::to_chars(text, text + sizeof text, value.get<double>());
    return std::string(text, result.ptr);
  }
  return JsonText(value);
}

}  // namespace

ResultRows::ResultRows(OutputFormat format, FILE *out, std::vector<Column> columns)
    : format_(format), out_(out), columns_(std::move(columns)) {}

void ResultRows::Header() {
  if (headed_) return;
  headed_ = true;
  if (format_ == OutputFormat::kJson) return;
  std::string line;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (format_ == OutputFormat::kCsv) {
      line += (i == 0 ? "" : ",") + columns_[i].name;
    } else {
      std::string name = columns_[i].name;
      if (i + 1 < columns_.size() && static_cast<int>(name.size()) < columns_[i].width) name.resize(columns_[i].width, ' ');
      line += (i == 0 ? "" : "  ") + name;
    }
  }
  fprintf(out_, "%s\n", line.c_str());
}

void ResultRows::Row(const std::vector<nlohmann::json> &values) {
  Header();
  std::string line;
  if (format_ == OutputFormat::kJson) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (size_t i = 0; i < columns_.size(); ++i) {
      const nlohmann::json &value = i < values.size() ? values[i] : nlohmann::json();
      object[columns_[i].name] = value.is_number_float() && !isfinite(value.get<double>()) ? nlohmann::ordered_json() : nlohmann::ordered_json(value);
    }
    line = object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  } else {
    for (size_t i = 0; i < columns_.size(); ++i) {
      std::string text = i < values.size() ? Plain(values[i]) : "";
      if (format_ == OutputFormat::kCsv) {
        line += (i == 0 ? "" : ",") + CsvField(text);
        continue;
      }
      if (text.empty()) text = "-";
      if (i + 1 < columns_.size() && static_cast<int>(text.size()) < columns_[i].width) text.resize(columns_[i].width, ' ');
      line += (i == 0 ? "" : "  ") + text;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
  }
  fprintf(out_, "%s\n", line.c_str());
  fflush(out_);
}

std::string CsvField(const std::string &text) {
  if (text.find_first_of(",;\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string JsonText(const nlohmann::json &value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json JsonNumber(double value) { return isfinite(value) ? nlohmann::json(value) : nlohmann::json(); }

nlohmann::json RawValueJson(const n2host::GateValue &value) {
  if (value.type != kGateReal) return value.integer;
  if (!isfinite(value.real)) return nullptr;
  return std::stod(n2host::RawText(value));
}

}  // namespace zamhost
