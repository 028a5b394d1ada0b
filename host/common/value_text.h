// Gate values as text: the raw number as the host's value buffer holds it,
// its meaning in the user's terms (schedule times HH:MM, clock times
// HH:MM:SS, ISO dates, day names, on/off), and the values a user types for a
// write, in either form.
#ifndef ZAMKT_HOST_COMMON_VALUE_TEXT_H
#define ZAMKT_HOST_COMMON_VALUE_TEXT_H

#include <stdint.h>

#include <string>
#include <string_view>

#include "host/common/point_meaning.h"

namespace n2host {

// One gate value as the host keeps it.
struct GateValue {
  int type = 0;         // gate data type
  double real = 0;      // type 3 (a single-precision real widened)
  int64_t integer = 0;  // every other type
};

// The raw number: the shortest text that reads back as the same
// single-precision real, or the integer in decimal.
std::string RawText(const GateValue &value);

// The value in the user's terms, or "" when the raw number says it all.
std::string MeaningText(const PointMeaning &meaning, const GateValue &value);

// RawText, followed by the meaning in parentheses when there is one.
std::string ValueText(const PointMeaning &meaning, const GateValue &value);

// Reads what the user typed for a write of a gate of this meaning and type.
// Accepts the raw number of the type, and for special points also their own
// form: HH:MM (24:00 the end of the day) for schedule times, HH:MM:SS or HH:MM
// for the clock, YYYY-MM-DD for the clock date, day names for schedule days,
// on/off/true/false for digital gates. False, with a message, when the text
// fits neither or lies outside the type's range.
bool ParseValue(const PointMeaning &meaning, int type, std::string_view text, GateValue *value,
                std::string *error);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_VALUE_TEXT_H
