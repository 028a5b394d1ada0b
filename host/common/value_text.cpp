#include "host/common/value_text.h"

#include <ctype.h>
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <charconv>

#include "driver/requests.h"
#include "host/common/calendar.h"
#include "host/common/text_util.h"

namespace n2host {
namespace {


std::string TwoDigits(int64_t value) {
  char text[24];
  snprintf(text, sizeof text, "%02lld", static_cast<long long>(value));
  return text;
}

// A whole decimal integer, nothing else: an optional sign and digits. Leading
// zeros are decimal (0730 is 730), never octal, and there is no hexadecimal:
// a value typed by hand or sent by a program means what it says.
bool ParseInteger(std::string_view text, int64_t *value) {
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '+' || negative)) text.remove_prefix(1);
  if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  uint64_t magnitude = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude, 10);
  if (result.ec != std::errc() || magnitude > static_cast<uint64_t>(INT64_MAX)) return false;
  *value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

// A decimal real: sign, digits with an optional point, an optional exponent.
// No hexadecimal floats, no inf or nan, no spaces.
bool ParseDecimalReal(std::string_view text, double *value) {
  size_t at = 0;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  size_t digits = 0;
  while (at < text.size() && isdigit(static_cast<unsigned char>(text[at]))) ++at, ++digits;
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && isdigit(static_cast<unsigned char>(text[at]))) ++at, ++digits;
  }
  if (digits == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    size_t exponent = 0;
    while (at < text.size() && isdigit(static_cast<unsigned char>(text[at]))) ++at, ++exponent;
    if (exponent == 0) return false;
  }
  if (at != text.size() || text.size() > 64) return false;
  std::string copy(text);
  char *end = nullptr;
  errno = 0;
  double real = strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size()) return false;
  *value = real;
  return true;
}

// "H:MM" or "H:MM:SS" into its parts; parts not given stay 0.
bool ParseClockText(std::string_view text, int parts[3], int *count) {
  *count = 0;
  size_t start = 0;
  while (*count < 3) {
    size_t colon = text.find(':', start);
    std::string_view piece = text.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
    if (piece.empty() || piece.size() > 2 || piece.find_first_not_of("0123456789") != std::string_view::npos) return false;
    parts[(*count)++] = std::stoi(std::string(piece));
    if (colon == std::string_view::npos) return *count >= 2;
    start = colon + 1;
  }
  return false;
}

bool RangeError(std::string_view text, const char *range, std::string *error) {
  *error = "value " + Quoted(text) + " is out of range (" + range + ")";
  return false;
}

bool ParseScheduleTime(std::string_view text, GateValue *value, std::string *error) {
  int parts[3] = {};
  int count = 0;
  if (text.find(':') != std::string_view::npos) {
    if (!ParseClockText(text, parts, &count) || count != 2) {
      *error = Quoted(text) + " is not a schedule time (HH:MM or minutes since midnight)";
      return false;
    }
    if (parts[1] > 59 || parts[0] > 24 || (parts[0] == 24 && parts[1] != 0)) {
      return RangeError(text, "00:00 to 24:00", error);
    }
    value->integer = parts[0] * 60 + parts[1];
    return true;
  }
  if (!ParseInteger(text, &value->integer)) {
    *error = Quoted(text) + " is not a schedule time (HH:MM or minutes since midnight)";
    return false;
  }
  if (value->integer < 0 || value->integer > 1440) return RangeError(text, "0 to 1440 minutes", error);
  return true;
}

bool ParseClockTime(std::string_view text, GateValue *value, std::string *error) {
  int parts[3] = {};
  int count = 0;
  if (text.find(':') != std::string_view::npos) {
    if (!ParseClockText(text, parts, &count) || parts[0] > 23 || parts[1] > 59 || parts[2] > 59) {
      *error = Quoted(text) + " is not a time of day (HH:MM:SS)";
      return false;
    }
    value->integer = parts[0] * 3600 + parts[1] * 60 + parts[2];
    return true;
  }
  if (!ParseInteger(text, &value->integer)) {
    *error = Quoted(text) + " is not a time of day (HH:MM:SS or seconds since midnight)";
    return false;
  }
  if (value->integer < 0 || value->integer >= 86400) return RangeError(text, "0 to 86399 seconds", error);
  return true;
}

bool ParseClockDate(std::string_view text, GateValue *value, std::string *error) {
  if (text.find('-') != std::string_view::npos && text.front() != '-') {
    if (!ParseIsoDate(text, &value->integer)) {
      *error = Quoted(text) + " is not a date (YYYY-MM-DD)";
      return false;
    }
  } else if (!ParseInteger(text, &value->integer)) {
    *error = Quoted(text) + " is not a date (YYYY-MM-DD or day number, day 1 = 1980-01-01)";
    return false;
  }
  // The devices keep two-digit years, read back as 1980..2038.
  if (value->integer < 1 || value->integer > DayNumberOf(2038, 12, 31)) {
    return RangeError(text, "1980-01-01 to 2038-12-31", error);
  }
  return true;
}

bool ParseDigital(const PointMeaning &meaning, std::string_view text, GateValue *value, std::string *error) {
  std::string lower = Lower(text);
  if (lower == "1" || lower == "on" || lower == "true") {
    value->integer = 1;
  } else if (lower == "0" || lower == "off" || lower == "false" || lower == "release") {
    value->integer = 0;
  } else {
    *error = Quoted(text) + " is not a digital value (0/1, on/off, true/false)";
    return false;
  }
  if (meaning.kind == PointKind::kOverride && value->integer != 0) {
    *error = "an override tag can only be released: write it without a value";
    return false;
  }
  return true;
}

bool ParseIntegerOfType(const PointMeaning &meaning, int type, std::string_view text, GateValue *value,
                        std::string *error) {
  if (!ParseInteger(text, &value->integer)) {
    *error = Quoted(text) + " is not an integer";
    return false;
  }
  if (meaning.region == kN2OpenByteRegion && (value->integer < 0 || value->integer > 255)) {
    return RangeError(text, "0 to 255: a BD object holds one byte", error);
  }
  switch (type) {
    case kGateInt16:
      // A signed word: 40000 would be sent as -25536 and read back as that.
      if (value->integer < -32768 || value->integer > 32767) return RangeError(text, "-32768 to 32767", error);
      break;
    case kGateUInt16:
      if (value->integer < 0 || value->integer > 65535) return RangeError(text, "0 to 65535", error);
      break;
    default:
      if (value->integer < INT32_MIN || value->integer > UINT32_MAX) return RangeError(text, "32 bits", error);
      break;
  }
  return true;
}

}  // namespace

std::string RawText(const GateValue &value) {
  if (value.type != kGateReal) return std::to_string(value.integer);
  char text[32];
  float real = static_cast<float>(value.real);
  auto result = std::to_chars(text, text + sizeof text, real);
  return std::string(text, result.ptr);
}

std::string MeaningText(const PointMeaning &meaning, const GateValue &value) {
  const int64_t v = value.integer;
  switch (meaning.kind) {
    case PointKind::kPlain:
      return "";
    case PointKind::kDigital:
      return v != 0 ? "on" : "off";
    case PointKind::kOverride:
      return v != 0 ? "overridden" : "not overridden";
    case PointKind::kScheduleTime:
      return TwoDigits(v / 60) + ":" + TwoDigits(v % 60);
    case PointKind::kScheduleDays:
      return DescribeDays(v);
    case PointKind::kClockTime:
      return TwoDigits(v / 3600) + ":" + TwoDigits(v % 3600 / 60) + ":" + TwoDigits(v % 60);
    case PointKind::kClockDate:
      return v >= 1 ? IsoDateOf(v) : "no date";
  }
  return "";
}

std::string ValueText(const PointMeaning &meaning, const GateValue &value) {
  std::string meaningText = MeaningText(meaning, value);
  return meaningText.empty() ? RawText(value) : RawText(value) + " (" + meaningText + ")";
}

bool ParseValue(const PointMeaning &meaning, int type, std::string_view text, GateValue *value,
                std::string *error) {
  value->type = type;
  value->real = 0;
  value->integer = 0;
  if (type == kGateDigital) return ParseDigital(meaning, text, value, error);
  if (type == kGateReal) {
    double real = 0;
    if (!ParseDecimalReal(text, &real) || !isfinite(real)) {
      *error = Quoted(text) + " is not a number (decimal digits only)";
      return false;
    }
    if (fabs(real) > 3.4e38) return RangeError(text, "single-precision real", error);
    value->real = static_cast<float>(real);
    return true;
  }
  switch (meaning.kind) {
    case PointKind::kScheduleTime:
      return ParseScheduleTime(text, value, error);
    case PointKind::kScheduleDays:
      return ParseDays(text, &value->integer, error);
    case PointKind::kClockTime:
      return ParseClockTime(text, value, error);
    case PointKind::kClockDate:
      return ParseClockDate(text, value, error);
    default:
      return ParseIntegerOfType(meaning, type, text, value, error);
  }
}

}  // namespace n2host
