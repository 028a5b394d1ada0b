// Encoding of host values for System 91 writes: N2 reals on decimal digits,
// BCD times and dates, schedule day masks; and the round trips through the
// read-side decoders.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "n2/decode.h"
#include "n2/encode.h"
#include "tests/support/driver_channel.h"

namespace {

// The word as the device sends it back: hex text, low byte first.
float DeviceValue(uint16_t word) {
  char text[5];
  snprintf(text, sizeof text, "%02X%02X", word & 0xFF, word >> 8);
  return N2FloatToReal(text);
}

std::string Hex(unsigned value) {
  char text[16];
  snprintf(text, sizeof text, "%x", value);
  return text;
}

// ---- N2 reals ------------------------------------------------------------------

TEST(RealToN2Float, EncodesTheWorkedValuesAndLogsTheWord) {
  struct Row {
    float value;
    uint16_t word;
    float device;  // what the device holds afterwards
  };
  const Row rows[] = {
      {0.0f, 0x0000, 0.0f},
      {0.5f, 0x0400, 0.5f},
      {0.05f, 0x0066, 0.0498046875f},
      {0.0001f, 0x0000, 0.0f},
      {0.00005f, 0x0000, 0.0f},  // less than one ten-thousandth
      {1.0f, 0x1400, 1.0f},
      {-1.0f, 0x1C00, -1.0f},
      {-2.5f, 0x2D00, -2.5f},
      {21.7f, 0x556C, 21.6875f},
      {100.25f, 0x7644, 100.25f},
      {2048.0f, 0xC400, 2048.0f},
      {4095.5f, 0xC7FF, 4094.0f},  // fraction and lowest integer bit truncated
      {32750.0f, 0xF7FE, 32736.0f},
      {32750.99f, 0xF7FE, 32736.0f},
      {-32750.0f, 0xFFFE, -32736.0f},
      {-0.0f, 0x0000, 0.0f},  // minus zero is not negative
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.value);
    LogCapture log;
    uint16_t word = 0xEEEE;
    EXPECT_TRUE(RealToN2Float(row.value, &word));
    EXPECT_EQ(word, row.word) << std::hex << word;
    EXPECT_EQ(DeviceValue(word), row.device);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"8\t16 Bit Value = " + Hex(row.word) + " "});
  }
}

TEST(RealToN2Float, RefusesValuesOutOfRangeAndNonFiniteValues) {
  const float rows[] = {
      32751.0f,
      -32751.0f,
      32750.9999f,  // the float nearest is 32751
      1.0e6f,
      FLT_MAX,
      -FLT_MAX,  // the longest decimal text a float has
      std::numeric_limits<float>::infinity(),
      -std::numeric_limits<float>::infinity(),
      std::numeric_limits<float>::quiet_NaN(),
      -std::numeric_limits<float>::quiet_NaN(),
  };
  for (float value : rows) {
    SCOPED_TRACE(value);
    LogCapture log;
    uint16_t word = 0xEEEE;
    EXPECT_FALSE(RealToN2Float(value, &word));
    EXPECT_EQ(word, 0);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"32\tZAMKT: Value out of range. Write failed"});
  }
}

TEST(RealToN2Float, TruncatesByLessThanOneMantissaStepOverTheWholeRange) {
  // The device value never exceeds the host's in magnitude, keeps its sign,
  // and falls short by less than one step of the mantissa (plus the 1/10000
  // the decimal fraction is cut to; the whole fraction once the integer part
  // alone fills the mantissa).
  LogCapture log;  // keeps the trace lines out of the test output
  for (double x = -32750.0; x <= 32750.0; x += 0.713) {
    const float value = static_cast<float>(x);
    uint16_t word = 0;
    ASSERT_TRUE(RealToN2Float(value, &word)) << value;
    const float device = DeviceValue(word);
    const double magnitude = std::fabs(static_cast<double>(value));
    const double kept = std::fabs(static_cast<double>(device));
    const uint16_t bits = BitLength(static_cast<uint16_t>(magnitude));
    const double step = std::ldexp(1.0, bits - 11);
    const double slack = bits <= 11 ? 1e-4 : 1.0;
    ASSERT_LE(kept, magnitude + 1e-9) << value;
    ASSERT_LT(magnitude - kept, step + slack) << value;
    if (device != 0.0f) {
      ASSERT_EQ(std::signbit(device), std::signbit(value)) << value;
    }
  }
}

// The encoder's integer part and four decimals as the decimal text of the
// value shows them: printed with ten decimals, cut after the fourth.
bool PrintedDigits(float value, uint32_t *integerPart, uint32_t *fraction) {
  char digits[64];
  const int length = snprintf(digits, sizeof digits, "%.10f", std::fabs(static_cast<double>(value)));
  int integerDigits = 0;
  while (digits[integerDigits] >= '0' && digits[integerDigits] <= '9') ++integerDigits;
  if (integerDigits > 5) return false;
  *integerPart = static_cast<uint32_t>(strtoul(std::string(digits, integerDigits).c_str(), nullptr, 10));
  *fraction = static_cast<uint32_t>(strtoul(std::string(digits + length - 10, 4).c_str(), nullptr, 10));
  return *integerPart <= 32750;
}

// The word built from printed digits, as the devices' own encoder does.
bool WordFromPrintedDigits(float value, uint16_t *word) {
  uint32_t integerPart = 0, fraction = 0;
  if (!PrintedDigits(value, &integerPart, &fraction)) return false;
  const uint16_t binary = DecimalFractionToBinary(static_cast<uint16_t>(fraction));
  uint16_t exponent = BitLength(static_cast<uint16_t>(integerPart));
  uint16_t mantissa = integerPart == 0 ? static_cast<uint16_t>(binary >> 5)
                      : exponent <= 11 ? static_cast<uint16_t>((integerPart << (11 - exponent)) + (binary >> (exponent + 5)))
                                       : static_cast<uint16_t>((integerPart >> (exponent - 11)) + (binary >> (exponent + 5)));
  *word = static_cast<uint16_t>(exponent * 4096 + mantissa + (value < 0.0f ? 0x0800 : 0));
  return true;
}

TEST(RealToN2Float, TakesTheSameDigitsAsTheValuePrintedWithTenDecimals) {
  // Every 4093rd float below 32768 in magnitude (subnormals, the halves that
  // round to even at the tenth decimal, the edge of the range), both signs.
  LogCapture log;
  setenv("QORPRO_LEVEL", "32", 1);  // drop the trace line of every value
  const float limit = 32768.0f;
  uint32_t limitBits = 0;
  memcpy(&limitBits, &limit, sizeof limitBits);
  std::vector<float> values = {0.00005f, 0.00015f, 1.00005f, 4095.00005f, 32750.0f, 32750.999f, 32751.0f};
  for (uint32_t bits = 0; bits < limitBits; bits += 4093) {
    float value = 0.0f;
    memcpy(&value, &bits, sizeof value);
    values.push_back(value);
  }
  for (float magnitude : values) {
    for (float value : {magnitude, -magnitude}) {
      uint16_t expected = 0, word = 0xEEEE;
      const bool accepted = WordFromPrintedDigits(value, &expected);
      ASSERT_EQ(RealToN2Float(value, &word), accepted) << value;
      ASSERT_EQ(word, accepted ? expected : 0) << std::hexfloat << value;
    }
  }
  unsetenv("QORPRO_LEVEL");
  EXPECT_TRUE(log.Contains("ZAMKT: Value out of range. Write failed"));
}

TEST(DecimalFractionToBinary, ExpandsTenThousandthsIntoElevenBinaryPlaces) {
  struct Row {
    uint16_t fraction;
    uint16_t binary;
  };
  const Row rows[] = {
      {0, 0x0000},    {5000, 0x8000}, {2500, 0x4000}, {7500, 0xC000}, {7000, 0xB320},
      {500, 0x0CC0},  {1, 0x0000},    {5, 0x0020},    {9999, 0xFFE0}, {1250, 0x2000},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.fraction);
    EXPECT_EQ(DecimalFractionToBinary(row.fraction), row.binary);
  }
}

TEST(BitLength, CountsSignificantBits) {
  struct Row {
    uint16_t value, bits;
  };
  const Row rows[] = {{0, 0}, {1, 1}, {2, 2}, {3, 2}, {21, 5}, {2047, 11}, {2048, 12}, {32750, 15}, {0xFFFF, 16}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.value);
    EXPECT_EQ(BitLength(row.value), row.bits);
  }
}

// ---- BCD and day masks -------------------------------------------------------

TEST(ToBcd, PutsTensInTheHighNibble) {
  struct Row {
    uint8_t value, bcd;
  };
  const Row rows[] = {{0, 0x00}, {9, 0x09}, {10, 0x10}, {23, 0x23}, {59, 0x59}, {99, 0x99}, {100, 0xA0}, {255, 0x95}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.value);
    EXPECT_EQ(ToBcd(row.value), row.bcd);
  }
}

TEST(EncodeDays, TurnsDayDigitsIntoAMask) {
  struct Row {
    int32_t value;
    uint8_t mask;
  };
  const Row rows[] = {
      {1234567, 0x7F}, {9, 0x1F},   {8, 0x80},   {1, 0x01},   {7, 0x40},
      {0, 0x7F},       {135, 0x15}, {130, 0x7F}, {18, 0x80},  {1239, 0x1F},
      {100, 0x7F},     {11, 0x01},  {-13, 0x05}, {12345678, 0x80},
      {INT32_MIN, 0x80},  // "-2147483648": 2, 1, 4, 7, 4, then 8 ends the scan
      {INT32_MAX, 0x80},  // "2147483647": the 8 ends it as well
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.value);
    EXPECT_EQ(EncodeDays(row.value), row.mask);
  }
}

TEST(EncodeDays, GivesBackEveryMaskTheReadSideReports) {
  // Every mask of days 1..7, and the day class 0x80 alone, survives a read
  // followed by a write of the value read.
  for (unsigned mask = 0x01; mask <= 0x80; ++mask) {
    if (mask > 0x7F && mask != 0x80) continue;
    SCOPED_TRACE(mask);
    const int32_t value = DecodeDays(static_cast<uint8_t>(mask));
    EXPECT_EQ(EncodeDays(value), mask);
    EXPECT_EQ(DecodeDays(EncodeDays(value)), value);
  }
}

// ---- dates -----------------------------------------------------------------------

TEST(EncodeDate, GivesTheCalendarDateOfADayNumber) {
  struct Row {
    int32_t day;
    CalendarDate date;
  };
  const Row rows[] = {
      {1, {80, 1, 1}},
      {60, {80, 2, 29}},
      {61, {80, 3, 1}},
      {366, {80, 12, 31}},
      {367, {81, 1, 1}},
      {7305, {99, 12, 31}},
      {7306, {0, 1, 1}},
      {7365, {0, 2, 29}},
      {7366, {0, 3, 1}},
      {9732, {6, 8, 23}},
      {21203, {38, 1, 18}},
      {21204, {38, 1, 19}},
      {21550, {38, 12, 31}},
      {0, {79, 12, 31}},
      {-3651, {70, 1, 1}},
      // Beyond the devices' years: the Gregorian date, year byte
      // (year - 1900) mod 256, less 100 above 99.
      {-3652, {69, 12, 31}},
      {-29159, {0, 3, 1}},      // 1 March 1900
      {-138732, {112, 2, 29}},  // 29 February 1600
      {-722813, {49, 1, 1}},    // 1 January of year 1
      {43890, {100, 3, 1}},     // 1 March 2100
      {2929245, {63, 12, 31}},  // 31 December 9999
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.day);
    const CalendarDate date = EncodeDate(row.day);
    EXPECT_EQ(date.year, row.date.year);
    EXPECT_EQ(date.month, row.date.month);
    EXPECT_EQ(date.day, row.date.day);
  }
}

bool IsNextDay(const CalendarDate &before, const CalendarDate &after) {
  if (after.month == before.month) return after.day == before.day + 1;
  return after.day == 1 && before.day >= 28 && after.month == before.month % 12 + 1;
}

TEST(EncodeDate, GivesAValidDateForEveryInt32DayNumber) {
  // Sampled over the whole int32 range, and at both ends of it: each day
  // number gives a real month and day, and the following number the next day.
  std::vector<int64_t> starts = {INT32_MIN, INT32_MAX - 1, -1, 0};
  for (int64_t n = INT32_MIN; n < INT32_MAX; n += 1000003) starts.push_back(n);
  for (int64_t start : starts) {
    const int32_t n = static_cast<int32_t>(start);
    const CalendarDate today = EncodeDate(n);
    const CalendarDate tomorrow = EncodeDate(n + 1);
    SCOPED_TRACE(n);
    ASSERT_GE(today.month, 1);
    ASSERT_LE(today.month, 12);
    ASSERT_GE(today.day, 1);
    ASSERT_LE(today.day, 31);
    ASSERT_LE(today.year, 155);
    ASSERT_TRUE(IsNextDay(today, tomorrow));
  }
}

TEST(EncodeDate, DoesNotDependOnTheMachinesTimeZone) {
  const char *previous = getenv("TZ");
  const std::string saved = previous != nullptr ? previous : "";
  for (const char *zone : {"UTC", "<+14>-14", "<-12>12", "America/St_Johns"}) {
    SCOPED_TRACE(zone);
    setenv("TZ", zone, 1);
    tzset();
    const CalendarDate date = EncodeDate(9732);
    EXPECT_EQ(date.year, 6);
    EXPECT_EQ(date.month, 8);
    EXPECT_EQ(date.day, 23);
  }
  if (previous != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(EncodeDate, IsUndoneByTheReadSideOverTheDevicesWholeSpan) {
  // 1 January 1980 to 31 December 2038, the years the devices' two-digit
  // year stands for.
  for (int32_t day = 1; day <= 21550; ++day) {
    const CalendarDate date = EncodeDate(day);
    char text[16];
    snprintf(text, sizeof text, "%02u%02u%02u", date.year, date.month, date.day);
    ASSERT_EQ(DecodeDate(text), day) << text;
  }
}

// ---- schedule and clock ---------------------------------------------------------

TEST(EncodeScheduleTime, SendsBcdMinutesThenHoursWithTheDaysEndAs2400) {
  struct Row {
    uint32_t minutes;
    bool encoded;
    std::vector<uint8_t> bytes;
  };
  const Row rows[] = {
      {0, true, {0x00, 0x00}},
      {90, true, {0x30, 0x01}},
      {720, true, {0x00, 0x12}},
      {1438, true, {0x58, 0x23}},
      {1439, true, {0x00, 0x24}},
      {1440, true, {0x00, 0x24}},
      {1441, false, {0xEE, 0xEE}},
      {UINT32_MAX, false, {0xEE, 0xEE}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.minutes);
    LogCapture log;
    std::vector<uint8_t> bytes = {0xEE, 0xEE};
    EXPECT_EQ(EncodeScheduleTime(row.minutes, bytes.data()), row.encoded);
    EXPECT_EQ(bytes, row.bytes);
    EXPECT_TRUE(log.Lines().empty());  // the write routine reports a refusal
  }
}

TEST(EncodeClockTime, SendsBcdHoursMinutesSecondsWithoutRangeCheck) {
  struct Row {
    uint32_t seconds;
    std::vector<uint8_t> bytes;
  };
  const Row rows[] = {
      {0, {0x00, 0x00, 0x00}},
      {45296, {0x12, 0x34, 0x56}},
      {86399, {0x23, 0x59, 0x59}},
      {86400, {0x24, 0x00, 0x00}},
      {359999, {0x99, 0x59, 0x59}},
      {360000, {0xA0, 0x00, 0x00}},            // 100 hours
      {UINT32_MAX, {0x86, 0x28, 0x15}},        // 1193046 hours, low byte 86
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.seconds);
    std::vector<uint8_t> bytes(3, 0xEE);
    EncodeClockTime(row.seconds, bytes.data());
    EXPECT_EQ(bytes, row.bytes);
  }
}

TEST(EncodeClockDate, SendsBcdYearMonthDay) {
  struct Row {
    int32_t day;
    std::vector<uint8_t> bytes;
  };
  const Row rows[] = {
      {1, {0x80, 0x01, 0x01}},
      {7306, {0x00, 0x01, 0x01}},
      {9732, {0x06, 0x08, 0x23}},
      {21204, {0x38, 0x01, 0x19}},
      {-3651, {0x70, 0x01, 0x01}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.day);
    std::vector<uint8_t> bytes(3, 0xEE);
    EncodeClockDate(row.day, bytes.data());
    EXPECT_EQ(bytes, row.bytes);
  }
}

}  // namespace
