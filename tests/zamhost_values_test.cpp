// zamhost's value handling without a driver: values shown in the user's terms,
// values typed for writes, what a device keeps of a write (the basis of
// write --verify), the host's value-buffer layout, and the banner's code page.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "driver/requests.h"
// The pure parts of zamhost, compiled into this test.
#include "host/common/calendar.cpp"
#include "host/zamhost/cp437.cpp"
#include "host/common/point_meaning.cpp"
#include "host/common/stored_value.cpp"
#include "host/common/value_buffer.cpp"
#include "host/common/value_text.cpp"

namespace {

using n2host::GateValue;
using n2host::PointKind;
using n2host::PointMeaning;

PointMeaning Meaning(PointKind kind, int32_t region = 0) {
  PointMeaning meaning;
  meaning.kind = kind;
  meaning.region = region;
  meaning.n2open = n2host::IsN2OpenRegion(region);
  return meaning;
}

GateValue Integer(int type, int64_t value) { return GateValue{type, 0, value}; }
GateValue Real(double value) { return GateValue{kGateReal, value, 0}; }

TEST(PointMeaning, FollowsTheParseResultsAndTheMnemonic) {
  struct Case {
    const char *gas;
    int32_t region;
    int type;
    PointKind kind;
  } cases[] = {
      {"001AI01HR", 0, kGateReal, PointKind::kPlain},
      {"001GCDCO1", 0, kGateDigital, PointKind::kDigital},
      {"001TS01START1", 84, kGateInt32, PointKind::kScheduleTime},
      {"001TS08END8", 84, kGateInt32, PointKind::kScheduleTime},
      {"001TS01DAYS1", 84, kGateInt32, PointKind::kScheduleDays},
      {"001RTCLTIME", 82, kGateInt32, PointKind::kClockTime},
      {"001RTCLDATE", 82, kGateInt32, PointKind::kClockDate},
      {"001RTCLWDAY", 82, kGateInt32, PointKind::kPlain},
      {"005AO012", 1003, kGateReal, PointKind::kPlain},
      {"005BI001", 1002, kGateDigital, PointKind::kDigital},
      {"005AO012_O", 1008, kGateDigital, PointKind::kOverride},
      {"005BD003_O", 1012, kGateDigital, PointKind::kOverride},
  };
  for (const Case &c : cases) {
    PointMeaning meaning = n2host::MeaningOf(c.gas, c.region, c.type);
    EXPECT_EQ(meaning.kind, c.kind) << c.gas;
    EXPECT_EQ(meaning.n2open, c.region >= 1001) << c.gas;
  }
}

TEST(MeaningText, ShowsSpecialPointsInTheUsersTerms) {
  struct Case {
    PointKind kind;
    int64_t value;
    const char *text;
  } cases[] = {
      {PointKind::kScheduleTime, 450, "07:30"},     {PointKind::kScheduleTime, 0, "00:00"},
      {PointKind::kScheduleTime, 1439, "23:59"},    {PointKind::kScheduleDays, 9, "Mon-Fri"},
      {PointKind::kScheduleDays, 0, "every day"},   {PointKind::kScheduleDays, 8, "holiday"},
      {PointKind::kScheduleDays, 135, "Mon,Wed,Fri"}, {PointKind::kScheduleDays, 67, "Sat,Sun"},
      {PointKind::kScheduleDays, 1234567, "Mon-Sun"}, {PointKind::kScheduleDays, 12345678, "Mon-Sun,holiday"},
      {PointKind::kScheduleDays, 1, "Mon"},         {PointKind::kScheduleDays, 2356, "Tue,Wed,Fri,Sat"},
      {PointKind::kClockTime, 45045, "12:30:45"},   {PointKind::kClockTime, 0, "00:00:00"},
      {PointKind::kClockDate, 1, "1980-01-01"},     {PointKind::kClockDate, 61, "1980-03-01"},
      {PointKind::kClockDate, 7306, "2000-01-01"},  {PointKind::kClockDate, 7366, "2000-03-01"},
      {PointKind::kClockDate, 7305, "1999-12-31"},  {PointKind::kClockDate, 21204, "2038-01-19"},
      {PointKind::kClockDate, 0, "no date"},        {PointKind::kDigital, 1, "on"},
      {PointKind::kDigital, 0, "off"},              {PointKind::kOverride, 1, "overridden"},
      {PointKind::kOverride, 0, "not overridden"},  {PointKind::kPlain, 42, ""},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(n2host::MeaningText(Meaning(c.kind), Integer(kGateInt32, c.value)), c.text) << c.value;
  }
}

TEST(RawText, GivesTheShortestTextOfTheSingleReal) {
  EXPECT_EQ(n2host::RawText(Real(21.6875)), "21.6875");
  EXPECT_EQ(n2host::RawText(Real(100.0)), "100");
  EXPECT_EQ(n2host::RawText(Real(21.7f)), "21.7");
  EXPECT_EQ(n2host::RawText(Real(-2.5)), "-2.5");
  EXPECT_EQ(n2host::RawText(Integer(kGateInt16, -2)), "-2");
  EXPECT_EQ(n2host::ValueText(Meaning(PointKind::kScheduleTime), Integer(kGateInt32, 405)), "405 (06:45)");
  EXPECT_EQ(n2host::ValueText(Meaning(PointKind::kPlain), Integer(kGateInt32, 405)), "405");
}

TEST(ParseValue, AcceptsTheRawNumberAndTheUsersTerms) {
  struct Case {
    PointKind kind;
    int type;
    const char *text;
    int64_t value;
  } cases[] = {
      {PointKind::kScheduleTime, kGateInt32, "07:30", 450},   {PointKind::kScheduleTime, kGateInt32, "7:05", 425},
      {PointKind::kScheduleTime, kGateInt32, "24:00", 1440},  {PointKind::kScheduleTime, kGateInt32, "90", 90},
      {PointKind::kScheduleDays, kGateInt32, "Mon-Fri", 12345}, {PointKind::kScheduleDays, kGateInt32, "mon,wed,fri", 135},
      {PointKind::kScheduleDays, kGateInt32, "sat+sun", 67},  {PointKind::kScheduleDays, kGateInt32, "Mon-Sun", 0},
      {PointKind::kScheduleDays, kGateInt32, "every day", 0}, {PointKind::kScheduleDays, kGateInt32, "weekdays", 9},
      {PointKind::kScheduleDays, kGateInt32, "holiday", 8},   {PointKind::kScheduleDays, kGateInt32, "Sunday", 7},
      {PointKind::kScheduleDays, kGateInt32, "135", 135},     {PointKind::kClockTime, kGateInt32, "12:34:56", 45296},
      {PointKind::kClockTime, kGateInt32, "12:34", 45240},    {PointKind::kClockTime, kGateInt32, "3600", 3600},
      {PointKind::kClockDate, kGateInt32, "2000-01-01", 7306}, {PointKind::kClockDate, kGateInt32, "1980-01-01", 1},
      {PointKind::kClockDate, kGateInt32, "2024-02-29", 16131}, {PointKind::kClockDate, kGateInt32, "9732", 9732},
      {PointKind::kDigital, kGateDigital, "on", 1},           {PointKind::kDigital, kGateDigital, "OFF", 0},
      {PointKind::kDigital, kGateDigital, "true", 1},         {PointKind::kDigital, kGateDigital, "0", 0},
      {PointKind::kOverride, kGateDigital, "release", 0},     {PointKind::kPlain, kGateInt16, "-1", -1},
      {PointKind::kPlain, kGateInt16, "32767", 32767},        {PointKind::kPlain, kGateUInt16, "010", 10},
      {PointKind::kScheduleTime, kGateInt32, "0730", 730},    {PointKind::kScheduleTime, kGateInt32, "07:30", 450},
      {PointKind::kPlain, kGateInt32, "+12", 12},             {PointKind::kScheduleDays, kGateInt32, "0135", 135},
      {PointKind::kPlain, kGateInt32, "-100000", -100000},
  };
  for (const Case &c : cases) {
    GateValue value;
    std::string error;
    ASSERT_TRUE(n2host::ParseValue(Meaning(c.kind), c.type, c.text, &value, &error)) << c.text << ": " << error;
    EXPECT_EQ(value.integer, c.value) << c.text;
    EXPECT_EQ(value.type, c.type) << c.text;
  }
  GateValue real;
  std::string error;
  ASSERT_TRUE(n2host::ParseValue(Meaning(PointKind::kPlain), kGateReal, "21.7", &real, &error));
  EXPECT_EQ(static_cast<float>(real.real), 21.7f);
}

TEST(ParseValue, RefusesValuesOutsideTheirRangeWithAReason) {
  struct Case {
    PointMeaning meaning;
    int type;
    const char *text;
  } cases[] = {
      {Meaning(PointKind::kScheduleTime), kGateInt32, "24:01"},
      {Meaning(PointKind::kScheduleTime), kGateInt32, "1441"},
      {Meaning(PointKind::kScheduleTime), kGateInt32, "7:60"},
      {Meaning(PointKind::kScheduleTime), kGateInt32, "-1"},
      {Meaning(PointKind::kScheduleDays), kGateInt32, "funday"},
      {Meaning(PointKind::kScheduleDays), kGateInt32, "Mon,holiday"},
      {Meaning(PointKind::kScheduleDays), kGateInt32, "Fri-Mon"},
      {Meaning(PointKind::kClockTime), kGateInt32, "24:00:00"},
      {Meaning(PointKind::kClockTime), kGateInt32, "86400"},
      {Meaning(PointKind::kClockDate), kGateInt32, "2023-02-29"},
      {Meaning(PointKind::kClockDate), kGateInt32, "1979-12-31"},
      {Meaning(PointKind::kClockDate), kGateInt32, "2039-01-01"},
      {Meaning(PointKind::kDigital), kGateDigital, "2"},
      {Meaning(PointKind::kOverride, 1008), kGateDigital, "1"},
      {Meaning(PointKind::kPlain), kGateUInt16, "-1"},
      {Meaning(PointKind::kPlain), kGateInt16, "70000"},
      {Meaning(PointKind::kPlain, 1007), kGateInt16, "256"},
      {Meaning(PointKind::kPlain), kGateInt32, "12abc"},
      {Meaning(PointKind::kPlain), kGateReal, "abc"},
      {Meaning(PointKind::kPlain), kGateReal, "nan"},
      {Meaning(PointKind::kPlain), kGateReal, "inf"},
      {Meaning(PointKind::kPlain), kGateReal, ""},
  };
  for (const Case &c : cases) {
    GateValue value;
    std::string error;
    EXPECT_FALSE(n2host::ParseValue(c.meaning, c.type, c.text, &value, &error)) << c.text;
    EXPECT_FALSE(error.empty()) << c.text;
  }
}

// Numbers are decimal text only: no octal from leading zeros, no hexadecimal
// integers or floats, no inf or nan, no stray spaces or bytes; each type's
// range is named when a number lies outside it.
TEST(ParseValue, ReadsOnlyDecimalNumbersWithinTheTypesRange) {
  struct Case {
    PointMeaning meaning;
    int type;
    std::string text;
    const char *error;
  } cases[] = {
      {Meaning(PointKind::kPlain), kGateUInt16, "0x10", "is not an integer"},
      {Meaning(PointKind::kPlain), kGateInt32, "0X1F", "is not an integer"},
      {Meaning(PointKind::kPlain), kGateInt32, "1e3", "is not an integer"},
      {Meaning(PointKind::kPlain), kGateInt32, "12 ", "is not an integer"},
      {Meaning(PointKind::kPlain), kGateInt32, "-", "is not an integer"},
      {Meaning(PointKind::kPlain), kGateInt32, "+-3", "is not an integer"},
      {Meaning(PointKind::kPlain), kGateInt32, "99999999999999999999999", "is not an integer"},
      {Meaning(PointKind::kPlain), kGateInt16, "40000", "-32768 to 32767"},
      {Meaning(PointKind::kPlain), kGateInt16, "65535", "-32768 to 32767"},
      {Meaning(PointKind::kPlain), kGateInt16, "-32769", "-32768 to 32767"},
      {Meaning(PointKind::kPlain), kGateUInt16, "65536", "0 to 65535"},
      {Meaning(PointKind::kScheduleTime), kGateInt32, "0x1E", "is not a schedule time"},
      {Meaning(PointKind::kClockTime), kGateInt32, "0x10", "is not a time of day"},
      {Meaning(PointKind::kClockDate), kGateInt32, "0x10", "is not a date"},
      {Meaning(PointKind::kScheduleDays), kGateInt32, "99999999999999999999999", "day digits"},
      {Meaning(PointKind::kPlain), kGateReal, "0x1p3", "is not a number"},
      {Meaning(PointKind::kPlain), kGateReal, std::string("0x1p3\0\xff", 7), "is not a number"},
      {Meaning(PointKind::kPlain), kGateReal, std::string("8\0", 2), "is not a number"},
      {Meaning(PointKind::kPlain), kGateReal, "0x10", "is not a number"},
      {Meaning(PointKind::kPlain), kGateReal, "infinity", "is not a number"},
      {Meaning(PointKind::kPlain), kGateReal, "-NaN", "is not a number"},
      {Meaning(PointKind::kPlain), kGateReal, " 21.5", "is not a number"},
      {Meaning(PointKind::kPlain), kGateReal, "21,5", "is not a number"},
      {Meaning(PointKind::kPlain), kGateReal, "1.5.2", "is not a number"},
      {Meaning(PointKind::kPlain), kGateReal, "1e", "is not a number"},
      {Meaning(PointKind::kPlain), kGateReal, ".", "is not a number"},
      {Meaning(PointKind::kPlain), kGateReal, "1e999", "is not a number"},
      {Meaning(PointKind::kPlain), kGateReal, "21.5\xb0""C", "is not a number"},
      {Meaning(PointKind::kDigital), kGateDigital, "0x1", "is not a digital value"},
  };
  for (const Case &c : cases) {
    GateValue value;
    std::string error;
    EXPECT_FALSE(n2host::ParseValue(c.meaning, c.type, c.text, &value, &error)) << c.text;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
    // What was typed is quoted escaped: no control byte reaches the message.
    for (char ch : error) EXPECT_TRUE(static_cast<unsigned char>(ch) >= 0x20) << c.text << ": " << error;
  }
  // The accepted decimal forms of a real.
  for (const char *text : {"21.5", "-3", "+0.25", ".5", "5.", "1e2", "2.5E-1", "0021.5"}) {
    GateValue value;
    std::string error;
    EXPECT_TRUE(n2host::ParseValue(Meaning(PointKind::kPlain), kGateReal, text, &value, &error)) << text << ": " << error;
  }
}

TEST(ParseValue, RefusalsQuoteABoundedExcerpt) {
  GateValue value;
  std::string error;
  std::string payload(5000, '7');
  payload += "x\n";
  EXPECT_FALSE(n2host::ParseValue(Meaning(PointKind::kPlain), kGateInt32, payload, &value, &error));
  EXPECT_LT(error.size(), 120u) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

// The worked values of the devices' real encoder: what a System 91 device
// keeps of a host real.
TEST(StoredValue, SystemNinetyOneRealsAreKeptInTheDevicesSixteenBitFormat) {
  struct Case {
    float written;
    double kept;
  } cases[] = {
      {0.0f, 0.0},          {0.5f, 0.5},        {0.05f, 0.0498046875}, {0.0001f, 0.0},  {1.0f, 1.0},
      {-2.5f, -2.5},        {21.7f, 21.6875},   {100.25f, 100.25},     {2048.0f, 2048}, {4095.5f, 4094},
      {32750.0f, 32736},    {32750.99f, 32736}, {-1.0f, -1.0},
  };
  for (const Case &c : cases) {
    GateValue kept = n2host::StoredValue(Meaning(PointKind::kPlain), Real(c.written));
    EXPECT_DOUBLE_EQ(kept.real, c.kept) << c.written;
    EXPECT_TRUE(n2host::WriteApplied(Meaning(PointKind::kPlain), Real(c.written), Real(c.kept))) << c.written;
  }
  double stored = 0, step = 0;
  EXPECT_FALSE(n2host::N2RealOf(32751.0f, &stored, &step));
  EXPECT_FALSE(n2host::N2RealOf(-32751.0f, &stored, &step));
}

TEST(StoredValue, KeepsWhatTheDeviceReadsBackForEachKindOfPoint) {
  struct Case {
    PointMeaning meaning;
    int type;
    int64_t written;
    int64_t kept;
  } cases[] = {
      {Meaning(PointKind::kScheduleTime), kGateInt32, 1440, 1439},
      {Meaning(PointKind::kScheduleTime), kGateInt32, 1439, 1439},
      {Meaning(PointKind::kScheduleTime), kGateInt32, 90, 90},
      {Meaning(PointKind::kScheduleDays), kGateInt32, 12345, 9},
      {Meaning(PointKind::kScheduleDays), kGateInt32, 1234567, 0},
      {Meaning(PointKind::kScheduleDays), kGateInt32, 531, 135},
      {Meaning(PointKind::kScheduleDays), kGateInt32, 18, 8},
      {Meaning(PointKind::kScheduleDays), kGateInt32, 130, 0},
      {Meaning(PointKind::kDigital), kGateDigital, 5, 1},
      {Meaning(PointKind::kPlain, 1007), kGateInt16, 300, 44},
      {Meaning(PointKind::kPlain), kGateInt16, 65535, -1},
      {Meaning(PointKind::kPlain), kGateUInt16, 65535, 65535},
      {Meaning(PointKind::kPlain), kGateInt32, 4294967295LL, -1},
  };
  for (const Case &c : cases) {
    GateValue kept = n2host::StoredValue(c.meaning, Integer(c.type, c.written));
    EXPECT_EQ(kept.integer, c.kept) << c.written;
  }
}

TEST(WriteApplied, FindsAWriteTheStationDidNotApply) {
  EXPECT_FALSE(n2host::WriteApplied(Meaning(PointKind::kPlain), Real(21.7f), Real(15.0)));
  EXPECT_FALSE(n2host::WriteApplied(Meaning(PointKind::kPlain), Real(21.7f), Real(21.5)));
  EXPECT_FALSE(n2host::WriteApplied(Meaning(PointKind::kPlain, 1003), Real(21.7f), Real(21.6875)));
  EXPECT_TRUE(n2host::WriteApplied(Meaning(PointKind::kPlain, 1003), Real(21.7f), Real(21.7f)));
  EXPECT_FALSE(n2host::WriteApplied(Meaning(PointKind::kPlain), Integer(kGateInt32, 77), Integer(kGateInt32, 76)));
  // The clock runs on between the write and the read-back, also past midnight.
  const PointMeaning clock = Meaning(PointKind::kClockTime);
  EXPECT_TRUE(n2host::WriteApplied(clock, Integer(kGateInt32, 45296), Integer(kGateInt32, 45298)));
  EXPECT_TRUE(n2host::WriteApplied(clock, Integer(kGateInt32, 86399), Integer(kGateInt32, 1)));
  EXPECT_FALSE(n2host::WriteApplied(clock, Integer(kGateInt32, 45296), Integer(kGateInt32, 45306)));
  EXPECT_FALSE(n2host::WriteApplied(clock, Integer(kGateInt32, 45296), Integer(kGateInt32, 45290)));
}

TEST(Calendar, DayNumbersAndDatesConvertBothWays) {
  for (int64_t day = -3651; day <= 25000; day += 7) {
    int64_t back = 0;
    ASSERT_TRUE(n2host::ParseIsoDate(n2host::IsoDateOf(day), &back)) << day;
    EXPECT_EQ(back, day);
  }
  EXPECT_EQ(n2host::DayNumberOf(2006, 8, 23), 9732);
  EXPECT_EQ(n2host::DayNumberOf(1980, 12, 31), 366);
  int64_t unused = 0;
  for (const char *text : {"2023-02-29", "2023-13-01", "2023-1-01", "20230101", "2023-01-01x", ""}) {
    EXPECT_FALSE(n2host::ParseIsoDate(text, &unused)) << text;
  }
}

TEST(ValueBuffer, PutsEachTypeWhereTheDriverReadsIt) {
  n2host::ValueBuffer buffer;
  buffer.Store(Real(21.5));
  float real;
  memcpy(&real, buffer.bytes, sizeof real);
  EXPECT_EQ(real, 21.5f);

  buffer.Store(Integer(kGateInt32, -5));
  int32_t number;
  memcpy(&number, buffer.bytes, sizeof number);
  EXPECT_EQ(number, -5);

  for (int type : {kGateInt16, kGateUInt16, kGateDigital}) {
    buffer.Store(Integer(type, 0x1234));
    uint16_t word;
    memcpy(&word, buffer.bytes + 2, sizeof word);
    EXPECT_EQ(word, 0x1234) << type;
    EXPECT_EQ(buffer.bytes[0], 0) << type;
    EXPECT_EQ(buffer.Single(type).integer, 0x1234) << type;
  }
  uint16_t negative = 0xFFFE;
  memcpy(buffer.bytes + 2, &negative, sizeof negative);
  EXPECT_EQ(buffer.Single(kGateInt16).integer, -2);
  EXPECT_EQ(buffer.Single(kGateUInt16).integer, 65534);
}

TEST(ValueBuffer, GivesTheItemsOfABlockReadAtFourByteSteps) {
  n2host::ValueBuffer buffer;
  const float reals[3] = {1.5f, -2.0f, 100.0f};
  memcpy(buffer.bytes, reals, sizeof reals);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(buffer.Item(kGateReal, i).real, reals[i]);
  const int32_t longs[2] = {1300, 1400};
  memcpy(buffer.bytes, longs, sizeof longs);
  EXPECT_EQ(buffer.Item(kGateInt32, 1).integer, 1400);
}

// The driver's banner as code page 437 bytes: a box drawn with 0xDA, 0xC4,
// 0xBF, 0xB3, 0xC0, 0xD9 and the shades 0xDB, 0xB2, 0xB1, 0xB0.
TEST(Cp437ToUtf8, DrawsTheBannersBoxInUnicode) {
  EXPECT_EQ(zamhost::Cp437ToUtf8("\xDA\xC4\xBF"), "┌─┐");
  EXPECT_EQ(zamhost::Cp437ToUtf8("\xB3 \xDB\xB2\xB1\xB0"), "│ █▓▒░");
  EXPECT_EQ(zamhost::Cp437ToUtf8("\xC0\xD9"), "└┘");
  EXPECT_EQ(zamhost::Cp437ToUtf8("Johnson N2\n"), "Johnson N2\n");
  EXPECT_EQ(zamhost::Cp437ToUtf8("\x80\xE1\xFF"), "Çß\u00A0");
}

}  // namespace
