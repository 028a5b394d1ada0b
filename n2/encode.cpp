// Encoding of host values into the forms System 91 devices keep: N2 reals,
// packed BCD times and dates, schedule day masks. Pure computation; the real
// encoder logs its result or its refusal.
#include "n2/encode.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "driver/log.h"

namespace {

// Largest integer part the devices' real format is sent with.
constexpr uint32_t kMaxRealIntegerPart = 32750;

// 10^10: the value is taken to ten decimals. 5^10 and 2^10 make it up.
constexpr uint64_t kTenDecimals = 10000000000ull;
constexpr uint64_t kFivePowTen = 9765625ull;
constexpr int kTwoPowTen = 10;
// 10^6: what lies below the fourth decimal.
constexpr uint64_t kBelowFourDecimals = 1000000ull;

// The magnitude times 10^10, rounded to the nearest integer with halves to
// the even neighbour: the digits that "%.10f" prints for the value, without
// the cost of printing them (a quarter of a microsecond). Exact, because a
// float is m x 2^e with m below 2^24: m x 5^10 is below 2^48, and the power
// of two is a shift whose dropped bits decide the rounding. False for 32768
// and above, whose integer part is out of range in any case.
bool TenDecimals(float magnitude, uint64_t *scaled) {
  if (!(magnitude < 32768.0f)) return false;
  uint32_t bits;
  memcpy(&bits, &magnitude, sizeof bits);
  const uint32_t biased = (bits >> 23) & 0xFF;
  const uint64_t mantissa = biased == 0 ? (bits & 0x7FFFFF) : ((bits & 0x7FFFFF) | 0x800000);
  const int exponent = (biased == 0 ? 1 : static_cast<int>(biased)) - 150;
  const uint64_t product = mantissa * kFivePowTen;  // below 2^48
  const int shift = exponent + kTwoPowTen;
  if (shift >= 0) {
    *scaled = product << shift;  // below 32768 the shift is at most 1
    return true;
  }
  const int drop = -shift;
  if (drop > 48) {  // the product is below half of 2^drop: rounds to 0
    *scaled = 0;
    return true;
  }
  uint64_t quotient = product >> drop;
  const uint64_t rest = product & ((uint64_t{1} << drop) - 1);
  const uint64_t half = uint64_t{1} << (drop - 1);
  if (rest > half || (rest == half && (quotient & 1) != 0)) ++quotient;
  *scaled = quotient;
  return true;
}

bool RefuseReal(uint16_t *word) {
  *word = 0;
  ZamLog(kLogLevel, "ZAMKT: Value out of range. Write failed");
  return false;
}

}  // namespace

bool RealToN2Float(float value, uint16_t *word) {
  *word = 0;
  if (!isfinite(value)) return RefuseReal(word);

  // The devices' own encoder works on the decimal digits of the value, not on
  // the float's binary exponent: integer part and the first four decimals,
  // truncated, after rounding at the tenth decimal.
  const bool negative = value < 0.0f;
  uint64_t scaled = 0;
  if (!TenDecimals(fabsf(value), &scaled)) return RefuseReal(word);
  const uint32_t integerPart = static_cast<uint32_t>(scaled / kTenDecimals);
  if (integerPart > kMaxRealIntegerPart) return RefuseReal(word);
  // The fraction in units of 1/10000: the first four decimals. Below 1 these
  // are also the first four significant digits scaled down by the zeros after
  // the point (0.05 gives 500), and nothing once four zeros lead.
  const uint16_t fraction = static_cast<uint16_t>((scaled % kTenDecimals) / kBelowFourDecimals);

  uint16_t exponent = 0;
  uint16_t mantissa;
  if (integerPart >= 1) {
    exponent = BitLength(static_cast<uint16_t>(integerPart));
    // The integer part fills the mantissa from bit 10 down; its lowest bits
    // are dropped, not rounded, once it has more than 11 of them.
    mantissa = exponent <= 11 ? static_cast<uint16_t>(integerPart << (11 - exponent))
                              : static_cast<uint16_t>(integerPart >> (exponent - 11));
    mantissa = static_cast<uint16_t>(mantissa + (DecimalFractionToBinary(fraction) >> (exponent + 5)));
  } else {
    mantissa = static_cast<uint16_t>(DecimalFractionToBinary(fraction) >> 5);
  }

  uint16_t result = static_cast<uint16_t>(exponent * 4096 + mantissa);
  if (negative) result = static_cast<uint16_t>(result | 0x0800);
  *word = result;
  ZamTraceWord(result);
  return true;
}

uint16_t DecimalFractionToBinary(uint16_t fraction) {
  // Long division of the decimal fraction by powers of two: each doubling
  // that reaches a whole unit sets the next bit, from bit 15 (1/2) down to
  // bit 5 (1/2048). Truncates.
  uint32_t rest = fraction;
  uint16_t result = 0;
  for (int step = 0; step <= 10; ++step) {
    rest *= 2;
    if (rest >= 10000) {
      result = static_cast<uint16_t>(result | (1u << (15 - step)));
      rest -= 10000;
      if (rest == 0) break;
    }
  }
  return result;
}

uint16_t BitLength(uint16_t value) {
  uint16_t bits = 0;
  while (value != 0) {
    ++bits;
    value = static_cast<uint16_t>(value >> 1);
  }
  return bits;
}

uint8_t ToBcd(uint8_t value) {
  // Values above 99 come out with a high nibble above 9 and go out as such.
  return static_cast<uint8_t>((value / 10) * 16 + value % 10);
}

uint8_t EncodeDays(int32_t value) {
  // The host writes the days as digits 1..7 (8 a day class of its own), or 9
  // for Monday to Friday and 0 for every day; those three end the scan and
  // replace what came before.
  char text[16];
  snprintf(text, sizeof text, "%d", static_cast<int>(value));
  uint8_t mask = 0;
  for (const char *c = text; *c != '\0'; ++c) {
    if (*c == '0') return 0x7F;
    if (*c == '9') return 0x1F;
    if (*c == '8') return 0x80;
    if (*c >= '1' && *c <= '7') mask = static_cast<uint8_t>(mask | (1u << (*c - '1')));
  }
  return mask;
}

namespace {

// Days between 1 January 1970 and 1 January 1980.
constexpr int64_t kDaysFrom1970To1980 = 3652;

struct CivilDate {
  int64_t year;
  uint32_t month;
  uint32_t day;
};

// Gregorian date of a count of days since 1 January 1970 (proleptic
// calendar, any 64-bit count): the days are split into 400-year eras of
// 146097 days, then into years of a March-based calendar, so that the leap
// day falls at the end of each year.
CivilDate CivilFromDays(int64_t days) {
  days += 719468;  // from 1970-01-01 to 0000-03-01
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;  // 0..146096
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;  // 0..399
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);  // 0..365
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;  // 0..11
  CivilDate date;
  date.day = static_cast<uint32_t>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  date.month = static_cast<uint32_t>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  date.year = yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

}  // namespace

CalendarDate EncodeDate(int32_t dayNumber) {
  // Day 1 is 1 January 1980. The calendar arithmetic is exact for every
  // int32 day number and does not depend on the machine's time zone.
  const CivilDate civil = CivilFromDays(static_cast<int64_t>(dayNumber) - 1 + kDaysFrom1970To1980);
  uint8_t year = static_cast<uint8_t>((civil.year - 1900) & 0xFF);
  if (year > 99) year = static_cast<uint8_t>(year - 100);
  CalendarDate date;
  date.year = year;
  date.month = static_cast<uint8_t>(civil.month);
  date.day = static_cast<uint8_t>(civil.day);
  return date;
}

bool EncodeScheduleTime(uint32_t minutes, uint8_t bytes[2]) {
  if (minutes > 1440) return false;
  bytes[0] = ToBcd(static_cast<uint8_t>(minutes % 60));
  bytes[1] = ToBcd(static_cast<uint8_t>(minutes / 60));
  // The end of the day is 24:00 on the device.
  if (bytes[1] == 0x23 && bytes[0] == 0x59) {
    bytes[0] = 0x00;
    bytes[1] = 0x24;
  }
  return true;
}

void EncodeClockTime(uint32_t seconds, uint8_t bytes[3]) {
  bytes[0] = ToBcd(static_cast<uint8_t>(seconds / 3600));
  bytes[1] = ToBcd(static_cast<uint8_t>((seconds % 3600) / 60));
  bytes[2] = ToBcd(static_cast<uint8_t>(seconds % 60));
}

void EncodeClockDate(int32_t dayNumber, uint8_t bytes[3]) {
  const CalendarDate date = EncodeDate(dayNumber);
  bytes[0] = ToBcd(date.year);
  bytes[1] = ToBcd(date.month);
  bytes[2] = ToBcd(date.day);
}
