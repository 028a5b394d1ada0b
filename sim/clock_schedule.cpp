#include "sim/clock_schedule.h"

#include <time.h>

#include <cmath>

#include "sim/wire.h"

namespace n2sim {

namespace {

// Seconds of the "device calendar": the host's local wall-clock reading taken
// as if it were UTC, so that clock arithmetic never meets a DST change.
long LocalCalendarSeconds(double hostSeconds) {
  time_t host = static_cast<time_t>(std::floor(hostSeconds));
  struct tm local;
  localtime_r(&host, &local);
  return static_cast<long>(timegm(&local));
}

ClockParts PartsOf(long calendarSeconds) {
  time_t t = static_cast<time_t>(calendarSeconds);
  struct tm parts;
  gmtime_r(&t, &parts);
  ClockParts out;
  out.year = parts.tm_year + 1900;
  out.month = parts.tm_mon + 1;
  out.day = parts.tm_mday;
  out.hour = parts.tm_hour;
  out.minute = parts.tm_min;
  out.second = parts.tm_sec;
  out.weekday = parts.tm_wday == 0 ? 7 : parts.tm_wday;
  return out;
}

bool LeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

std::string TwoDigits(int value) {
  std::string text(2, '0');
  text[0] = static_cast<char>('0' + (value / 10) % 10);
  text[1] = static_cast<char>('0' + value % 10);
  return text;
}

int FromBcd(uint8_t bcd) {
  if ((bcd >> 4) > 9 || (bcd & 0x0F) > 9) return -1;
  return (bcd >> 4) * 10 + (bcd & 0x0F);
}

}  // namespace

ClockParts ClockAt(double hostSeconds, long offsetSeconds) {
  return PartsOf(LocalCalendarSeconds(hostSeconds) + offsetSeconds);
}

int DeviceClock::Item(int item, double hostSeconds) const {
  ClockParts now = Now(hostSeconds);
  switch (item) {
    case 0: return now.year / 100;
    case 1: return now.year % 100;
    case 2: return now.month;
    case 3: return now.day;
    case 4: return now.weekday;
    case 5: return now.hour;
    case 6: return now.minute;
    default: return now.second;
  }
}

std::string DeviceClock::ItemText(int first, int count, double hostSeconds) const {
  std::string text;
  for (int item = first; item < first + count; ++item) text += TwoDigits(Item(item, hostSeconds));
  return text;
}

bool DeviceClock::SetItems(int first, const std::vector<int> &values, double hostSeconds) {
  const long current = LocalCalendarSeconds(hostSeconds) + offset_;
  ClockParts p = PartsOf(current);
  for (size_t i = 0; i < values.size(); ++i) {
    const int item = first + static_cast<int>(i);
    const int v = values[i];
    switch (item) {
      case 1: p.year = v >= 80 ? 1900 + v : 2000 + v; break;
      case 2: p.month = v; break;
      case 3: p.day = v; break;
      case 5: p.hour = v; break;
      case 6: p.minute = v; break;
      case 7: p.second = v; break;
      default: return false;  // century and weekday follow from the date
    }
    if (v < 0 || v > 99) return false;
  }
  if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > DaysInMonth(p.year, p.month)) return false;
  if (p.hour > 23 || p.minute > 59 || p.second > 59) return false;
  struct tm wanted = {};
  wanted.tm_year = p.year - 1900;
  wanted.tm_mon = p.month - 1;
  wanted.tm_mday = p.day;
  wanted.tm_hour = p.hour;
  wanted.tm_min = p.minute;
  wanted.tm_sec = p.second;
  offset_ += static_cast<long>(timegm(&wanted)) - current;
  return true;
}

bool ScheduleBank::Exists(int schedule, int offset) {
  return schedule >= 0 && schedule < kSchedules && offset >= kFirstOffset && offset <= kLastOffset;
}

ScheduleBank::ItemKind ScheduleBank::KindOf(int offset) {
  switch ((offset - kFirstOffset) % 3) {
    case 0: return ItemKind::kStart;
    case 1: return ItemKind::kEnd;
    default: return ItemKind::kDays;
  }
}

std::string ScheduleBank::ItemText(int schedule, int offset) const {
  const int value = values_[schedule][offset];
  if (KindOf(offset) == ItemKind::kDays) return HexByte(static_cast<uint8_t>(value)) + "00";
  return TwoDigits(value % 60) + TwoDigits(value / 60);
}

bool ScheduleBank::Write(int schedule, int offset, uint8_t first, uint8_t second) {
  if (KindOf(offset) == ItemKind::kDays) {
    if (second != 0) return false;
    values_[schedule][offset] = first;
    return true;
  }
  const int minutes = FromBcd(first);
  const int hours = FromBcd(second);
  if (minutes < 0 || hours < 0 || minutes > 59 || hours > 24 || (hours == 24 && minutes != 0)) {
    return false;
  }
  values_[schedule][offset] = hours * 60 + minutes;
  return true;
}

void ScheduleBank::SetMinutes(int schedule, int offset, int minutes) {
  values_[schedule][offset] = minutes;
}

void ScheduleBank::SetMask(int schedule, int offset, uint8_t mask) {
  values_[schedule][offset] = mask;
}

int ScheduleBank::Value(int schedule, int offset) const { return values_[schedule][offset]; }

}  // namespace n2sim
