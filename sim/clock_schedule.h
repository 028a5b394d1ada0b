// The DX9100's two areas outside its memory image: the real-time clock (area
// 0x01), which follows the host's local clock shifted by an offset that clock
// writes adjust, and the eight time schedules (area 0x10).
//
// Times are "host seconds": seconds since the epoch as a double, as the
// simulator's time source gives them.
#ifndef ZAMKT_SIM_CLOCK_SCHEDULE_H
#define ZAMKT_SIM_CLOCK_SCHEDULE_H

#include <stdint.h>

#include <array>
#include <string>
#include <vector>

namespace n2sim {

// A broken-down clock reading.
struct ClockParts {
  int year = 2000;  // four digits
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 1;  // 1 Monday .. 7 Sunday
};

// The host's local time at hostSeconds, shifted by offsetSeconds.
ClockParts ClockAt(double hostSeconds, long offsetSeconds);

// The clock items of area 0x01: 0 century, 1 year (two digits), 2 month,
// 3 day, 4 weekday, 5 hours, 6 minutes, 7 seconds.
constexpr int kClockItems = 8;

class DeviceClock {
 public:
  explicit DeviceClock(long offsetSeconds = 0) : offset_(offsetSeconds) {}

  ClockParts Now(double hostSeconds) const { return ClockAt(hostSeconds, offset_); }
  // The value of clock item 0..7 now.
  int Item(int item, double hostSeconds) const;
  // Two decimal digits per item, items first .. first + count - 1: the data
  // text of an area read ("YYMMDD" for items 1..3, "HHMMSS" for 5..7).
  std::string ItemText(int first, int count, double hostSeconds) const;
  // Sets the writable items (1..3 date, 5..7 time) from plain numbers. False,
  // and nothing changed, when an item is not writable or the resulting date or
  // time does not exist.
  bool SetItems(int first, const std::vector<int> &values, double hostSeconds);
  long offset() const { return offset_; }

 private:
  long offset_;
};

// The schedule area of the eight time-schedule modules TS01..TS08. Each holds
// eight periods n = 1..8 as three items at offsets 3n+2 (START), 3n+3 (END)
// and 3n+4 (DAYS).
class ScheduleBank {
 public:
  static constexpr int kSchedules = 8;
  static constexpr int kFirstOffset = 5;
  static constexpr int kLastOffset = 28;

  enum class ItemKind { kStart, kEnd, kDays };

  static bool Exists(int schedule, int offset);
  static ItemKind KindOf(int offset);

  // START/END: "MMHH" (minutes, then hours, two decimal digits each);
  // DAYS: the day mask as a hex pair, then "00".
  std::string ItemText(int schedule, int offset) const;
  // The two data bytes of an area write: BCD minutes and hours (24:00 is the
  // only time past 23:59), or the day mask and 0x00. False for anything else.
  bool Write(int schedule, int offset, uint8_t first, uint8_t second);
  // Plain setters for the plant: minutes of the day 0..1440, or a mask.
  void SetMinutes(int schedule, int offset, int minutes);
  void SetMask(int schedule, int offset, uint8_t mask);
  // Minutes of the day (START, END) or the mask (DAYS).
  int Value(int schedule, int offset) const;

 private:
  std::array<std::array<int, kLastOffset + 1>, kSchedules> values_{};
};

}  // namespace n2sim

#endif  // ZAMKT_SIM_CLOCK_SCHEDULE_H
