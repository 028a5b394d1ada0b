// Encoding of host values into the forms System 91 devices keep: N2 reals,
// packed BCD times and dates, schedule day masks. Pure computation.
#ifndef ZAMKT_N2_ENCODE_H
#define ZAMKT_N2_ENCODE_H

#include <stdint.h>

// Encodes the float on its decimal digits. False (word 0, "ZAMKT: Value out
// of range. Write failed" logged) when the integer part exceeds 32750 or the
// value is not finite; true after logging "16 Bit Value = %x " at level 8.
bool RealToN2Float(float value, uint16_t *word);

// F in units of 1/10000 to a 16-bit binary fraction (bit 15 worth 1/2).
uint16_t DecimalFractionToBinary(uint16_t fraction);

// Number of significant bits of a 16-bit value; 0 for 0.
uint16_t BitLength(uint16_t value);

// Packed BCD of a byte value (tens in the high nibble).
uint8_t ToBcd(uint8_t value);

// Decimal digits listing days to a schedule day mask.
uint8_t EncodeDays(int32_t value);

struct CalendarDate {
  uint8_t year;   // two digits, 80..99 for 1980..1999, 0.. from 2000
  uint8_t month;  // 1..12
  uint8_t day;    // 1..31
};

// The date n days after 31 December 1979 (day 1 = 1 January 1980). Exact for
// any int32 day number; the year byte is (year - 1900) mod 256, less 100 when
// above 99.
CalendarDate EncodeDate(int32_t dayNumber);

// Schedule time of v minutes: BCD minutes then BCD hours, 23:59 sent as 24:00.
// False for v above 1440 (nothing encoded, nothing logged here).
bool EncodeScheduleTime(uint32_t minutes, uint8_t bytes[2]);

// Clock time of v seconds: BCD hours, minutes, seconds (no range check here:
// writes refuse what ClockTimeInRange refuses).
void EncodeClockTime(uint32_t seconds, uint8_t bytes[3]);

// Clock date of a day number: BCD year, month, day (no range check here:
// writes refuse what ClockDateInRange refuses).
void EncodeClockDate(int32_t dayNumber, uint8_t bytes[3]);

// The clock values a write may send. A time of day is 0..86399 seconds: from
// 86400 on the hours byte would be 24..99, or no BCD at all. A date must be
// one the device's two-digit year and the read side can give back: day 1
// (1 January 1980) to day 21550 (31 December 2038).
constexpr uint32_t kSecondsPerDay = 86400;
constexpr int32_t kFirstClockDay = 1;
constexpr int32_t kLastClockDay = 21550;
inline bool ClockTimeInRange(uint32_t seconds) { return seconds < kSecondsPerDay; }
inline bool ClockDateInRange(int32_t dayNumber) { return dayNumber >= kFirstClockDay && dayNumber <= kLastClockDay; }

#endif  // ZAMKT_N2_ENCODE_H
