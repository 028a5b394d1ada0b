// The calendar forms of the devices' values: day numbers (day 1 is
// 1 January 1980) as ISO dates, and the day digits of a time schedule
// (1 Monday .. 7 Sunday, 8 the holiday class, 9 Monday to Friday, 0 every
// day) as day names.
#ifndef ZAMKT_HOST_COMMON_CALENDAR_H
#define ZAMKT_HOST_COMMON_CALENDAR_H

#include <stdint.h>

#include <string>
#include <string_view>

namespace n2host {

// Day number of a Gregorian date; 1980-01-01 is 1.
int64_t DayNumberOf(int year, int month, int day);
// "YYYY-MM-DD" of a day number.
std::string IsoDateOf(int64_t dayNumber);
// "YYYY-MM-DD" to a day number; false for text that is not an existing date.
bool ParseIsoDate(std::string_view text, int64_t *dayNumber);

// "Mon-Fri", "Mon,Wed,Fri", "every day", "holiday", ... for a day-digit
// number as the driver reads it; the digits themselves when they name no day.
std::string DescribeDays(int64_t value);
// Day names to the day-digit number the driver writes: "Mon-Fri", "mon,wed,fri",
// "sat+sun", "weekdays", "every day" (also "all", "daily"), "holiday". A plain
// number passes unchanged. False, with a message, for anything else.
bool ParseDays(std::string_view text, int64_t *value, std::string *error);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_CALENDAR_H
