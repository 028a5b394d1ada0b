#include "host/common/calendar.h"
#include "host/common/text_util.h"

#include <ctype.h>
#include <stdio.h>

#include <vector>

namespace n2host {
namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (the era arithmetic of
// the civil calendar: 400-year eras of 146097 days, years starting in March).
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int64_t *year, int *month, int *day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  *day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  *month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  *year = yearOfEra + era * 400 + (*month <= 2);
}

const int64_t kDayZero = DaysFromCivil(1980, 1, 1) - 1;

constexpr const char *kDayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr const char *kFullDayNames[] = {"monday", "tuesday", "wednesday", "thursday",
                                         "friday", "saturday", "sunday"};



// 1..7 for a day name (three letters or the whole word), 0 otherwise.
int DayOfName(std::string_view name) {
  std::string lower = Lower(Trim(name));
  for (int i = 0; i < 7; ++i) {
    if (lower == Lower(kDayNames[i]) || lower == kFullDayNames[i]) return i + 1;
  }
  return 0;
}

}  // namespace

int64_t DayNumberOf(int year, int month, int day) { return DaysFromCivil(year, month, day) - kDayZero; }

std::string IsoDateOf(int64_t dayNumber) {
  int64_t year;
  int month, day;
  CivilFromDays(dayNumber + kDayZero, &year, &month, &day);
  char text[32];
  snprintf(text, sizeof text, "%04lld-%02d-%02d", static_cast<long long>(year), month, day);
  return text;
}

bool ParseIsoDate(std::string_view text, int64_t *dayNumber) {
  int year, month, day;
  char extra;
  std::string copy(text);
  if (copy.size() != 10 || copy[4] != '-' || copy[7] != '-') return false;
  if (sscanf(copy.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &extra) != 3) return false;
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  int64_t number = DayNumberOf(year, month, day);
  if (IsoDateOf(number) != copy) return false;  // 2023-02-30 and the like
  *dayNumber = number;
  return true;
}

std::string DescribeDays(int64_t value) {
  if (value == 0) return "every day";
  if (value == 9) return "Mon-Fri";
  if (value == 8) return "holiday";
  std::string digits = std::to_string(value);
  bool days[8] = {};
  for (char c : digits) {
    if (c < '1' || c > '8') return "days " + digits;
    days[c - '1'] = true;
  }
  std::string out;
  for (int first = 0; first < 7;) {
    if (!days[first]) {
      ++first;
      continue;
    }
    int last = first;
    while (last + 1 < 7 && days[last + 1]) ++last;
    if (!out.empty()) out += ",";
    out += kDayNames[first];
    if (last - first >= 2) {
      out += std::string("-") + kDayNames[last];
    } else if (last > first) {
      out += std::string(",") + kDayNames[last];
    }
    first = last + 1;
  }
  if (days[7]) out += out.empty() ? "holiday" : ",holiday";
  return out;
}

bool ParseDays(std::string_view text, int64_t *value, std::string *error) {
  std::string lower = Lower(Trim(text));
  if (!lower.empty() && lower.find_first_not_of("0123456789") == std::string::npos) {
    // Day digits, each day at most once: more than nine digits name no days.
    if (lower.size() > 9) {
      *error = Quoted(lower) + " is not a set of day digits (0 to 9, each day once)";
      return false;
    }
    *value = std::stoll(lower);
    return true;
  }
  if (lower == "every day" || lower == "all" || lower == "daily") {
    *value = 0;
    return true;
  }
  if (lower == "weekdays") {
    *value = 9;
    return true;
  }
  if (lower == "holiday" || lower == "holidays") {
    *value = 8;
    return true;
  }
  bool days[7] = {};
  size_t start = 0;
  while (start <= lower.size()) {
    size_t end = lower.find_first_of(",+", start);
    std::string item = lower.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t dash = item.find('-');
    int first = DayOfName(item.substr(0, dash));
    int last = dash == std::string::npos ? first : DayOfName(item.substr(dash + 1));
    if (first == 0 || last == 0 || last < first) {
      if (Trim(item).rfind("hol", 0) == 0) {
        *error = "the holiday class stands alone: write it as 'holiday' or 8";
      } else {
        *error = Quoted(Trim(item)) + " names no day (use Mon..Sun, ranges like Mon-Fri, 'every day' or 'holiday')";
      }
      return false;
    }
    for (int day = first; day <= last; ++day) days[day - 1] = true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::string digits;
  for (int day = 0; day < 7; ++day) {
    if (days[day]) digits += static_cast<char>('1' + day);
  }
  *value = digits == "1234567" ? 0 : std::stoll(digits);
  return true;
}

}  // namespace n2host
