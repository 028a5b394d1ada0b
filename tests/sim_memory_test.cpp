// The System 91 memory image built from the point tables, its dynamic items,
// and the DX9100's clock and schedule areas.
#include <gtest/gtest.h>
#include <string.h>
#include <time.h>

#include <cmath>

#include "n2/point_tables.h"
#include "sim/clock_schedule.h"
#include "sim/memory_image.h"
#include "sim/system91_station.h"
#include "sim/wire.h"

using n2sim::Dynamics;
using n2sim::MemoryImage;
using n2sim::MemoryItem;
using n2sim::PointRef;

namespace {

constexpr double kT0 = 1700000000.0;  // a fixed host time

MemoryImage Build(const char *family, bool dynamics = true) {
  MemoryImage image;
  for (const FamilyTable &table : kFamilies) {
    if (strcmp(table.name, family) == 0) image.Build(table, dynamics, kT0);
  }
  return image;
}

const MemoryItem &ItemOf(const MemoryImage &image, const char *module, const char *mnemonic) {
  PointRef ref;
  EXPECT_TRUE(image.FindPoint(module, mnemonic, &ref)) << module << " " << mnemonic;
  const MemoryItem *item = image.Find(ref.address);
  EXPECT_NE(item, nullptr) << module << " " << mnemonic;
  static const MemoryItem kNone;
  return item != nullptr ? *item : kNone;
}

TEST(SimMemory, EveryMemoryPointHasAnItemOfTheWidthItsTypeImplies) {
  for (const FamilyTable &table : kFamilies) {
    const MemoryImage image = Build(table.name);
    EXPECT_TRUE(image.conflicts().empty()) << table.name << " has addresses of two widths";
    for (uint16_t m = 0; m < table.moduleCount; ++m) {
      const ModuleEntry &module = table.modules[m];
      for (uint16_t p = 0; p < module.pointCount; ++p) {
        const PointEntry &point = module.points[p];
        PointRef ref;
        ASSERT_TRUE(image.FindPoint(module.name, point.mnemonic, &ref));
        if (ref.inArea) continue;
        const MemoryItem *item = image.Find(static_cast<uint16_t>(module.base + point.offset));
        ASSERT_NE(item, nullptr) << module.name << " " << point.mnemonic;
        EXPECT_EQ(item->width, n2sim::ItemWidthOf(point.type)) << module.name << " " << point.mnemonic;
        if (point.access == 'W') {
          EXPECT_TRUE(item->writable) << module.name << " " << point.mnemonic;
        }
      }
    }
  }
}

TEST(SimMemory, ItemWidthsFollowTheTypeCodes) {
  struct {
    const char *family, *module, *mnemonic;
    int width;
  } cases[] = {
      {"DX9100", "GC", "DI1", 1},      {"DX9100", "GC", "LRS1", 2},    {"DX9100", "GC", "CNTR1", 4},
      {"DX9100", "AI01", "HR", 2},     {"DX9100", "DO03", "DO@", 2},   {"DX9100", "XT01", "XTDIC1", 4},
      {"XT9100", "XP01", "DO1", 1},    {"XT9100", "XP01", "DOPT", 2},  {"TC9100", "TCGC", "MODS", 1},
      {"TC9100", "TCGC", "MODT", 1},   {"TC9100", "TCGC", "MIN", 2},   {"TC9100", "TCGC", "DST1DY", 2},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(ItemOf(Build(c.family), c.module, c.mnemonic).width, c.width) << c.module << " " << c.mnemonic;
  }
}

TEST(SimMemory, ScheduleAndClockPointsLiveOutsideTheImage) {
  const MemoryImage image = Build("DX9100");
  PointRef ref;
  ASSERT_TRUE(image.FindPoint("TS01", "START1", &ref));
  EXPECT_TRUE(ref.inArea);
  ASSERT_TRUE(image.FindPoint("RTCL", "TIME", &ref));
  EXPECT_TRUE(ref.inArea);
  ASSERT_TRUE(image.FindPoint("TS01", "TSOUT", &ref));
  EXPECT_FALSE(ref.inArea);
  EXPECT_EQ(ref.address, 2118);
  EXPECT_EQ(image.Find(4095 + 5), nullptr);
}

TEST(SimMemory, AnItemIsWritableWhenAnyOfItsPointsIs) {
  const MemoryImage dx = Build("DX9100");
  EXPECT_FALSE(ItemOf(dx, "GC", "DI1").writable);
  EXPECT_TRUE(ItemOf(dx, "GC", "DCO1").writable);
  EXPECT_FALSE(ItemOf(dx, "AI01", "AI").writable);
  EXPECT_TRUE(ItemOf(dx, "AI01", "HR").writable);
  EXPECT_FALSE(ItemOf(Build("TC9100"), "TCGC", "MNT").writable);
}

TEST(SimMemory, InitialRealsAreValidAndDifferFromItemToItem) {
  const MemoryImage image = Build("DX9100");
  const MemoryItem &aco1 = ItemOf(image, "GC", "ACO1");
  const MemoryItem &aco2 = ItemOf(image, "GC", "ACO2");
  EXPECT_NE(aco1.stored, aco2.stored);
  for (const MemoryItem *item : {&aco1, &aco2}) {
    const double value = n2sim::DecodeN2Real(static_cast<uint16_t>(item->stored));
    EXPECT_GT(value, 0.0);
    EXPECT_LT(value, 100.0);
  }
}

TEST(SimMemory, AnalogInputsDriftWithinHalfADegree) {
  MemoryImage image = Build("DX9100");
  const MemoryItem &input = ItemOf(image, "AI01", "AI");
  ASSERT_EQ(input.dynamics, Dynamics::kDrift);
  const double centre = n2sim::DecodeN2Real(static_cast<uint16_t>(input.stored));
  bool changed = false;
  for (int second = 0; second < 60; second += 5) {
    const uint32_t raw = image.ValueAt(input, kT0 + second);
    const double value = n2sim::DecodeN2Real(static_cast<uint16_t>(raw));
    EXPECT_NEAR(value, centre, 0.52) << second;
    changed = changed || raw != image.ValueAt(input, kT0);
  }
  EXPECT_TRUE(changed);
  EXPECT_EQ(ItemOf(image, "AI01", "HR").dynamics, Dynamics::kNone);  // writable: holds what is written
}

TEST(SimMemory, CountersCountSecondsFromTheirLastValue) {
  MemoryImage image = Build("DX9100");
  PointRef ref;
  ASSERT_TRUE(image.FindPoint("GC", "CNTR1", &ref));
  MemoryItem &counter = *image.Find(ref.address);
  ASSERT_EQ(counter.dynamics, Dynamics::kCount);
  const uint32_t start = image.ValueAt(counter, kT0);
  EXPECT_EQ(image.ValueAt(counter, kT0 + 10.5), start + 10);
  image.Store(counter, 100000, kT0 + 20);
  EXPECT_EQ(image.ValueAt(counter, kT0 + 20), 100000u);
  EXPECT_EQ(image.ValueAt(counter, kT0 + 23), 100003u);
}

TEST(SimMemory, WithoutDynamicsNothingMovesByItself) {
  MemoryImage image = Build("DX9100", false);
  for (const char *mnemonic : {"CNTR1", "ACO1"}) {
    const MemoryItem &item = ItemOf(image, "GC", mnemonic);
    EXPECT_EQ(image.ValueAt(item, kT0 + 33), image.ValueAt(item, kT0)) << mnemonic;
  }
  const MemoryItem &input = ItemOf(image, "AI01", "AI");
  EXPECT_EQ(image.ValueAt(input, kT0 + 13), image.ValueAt(input, kT0));
}

TEST(SimMemory, TheTc9100ClockWordFollowsTheHostAndKeepsAWrittenTime) {
  MemoryImage image = Build("TC9100");
  PointRef ref;
  ASSERT_TRUE(image.FindPoint("TCGC", "MIN", &ref));
  MemoryItem &word = *image.Find(ref.address);
  ASSERT_EQ(word.dynamics, Dynamics::kClockWord);
  const n2sim::ClockParts now = n2sim::ClockAt(kT0, 0);
  EXPECT_EQ(image.ValueAt(word, kT0), static_cast<uint32_t>(now.minute | now.hour << 8 | now.weekday << 13));
  // Written: Wednesday 10:20; five minutes later it reads 10:25.
  image.Store(word, 20 | 10 << 8 | 3 << 13, kT0);
  EXPECT_EQ(image.ValueAt(word, kT0 + 300), static_cast<uint32_t>(25 | 10 << 8 | 3 << 13));
}

TEST(SimMemory, SetPointChangesOnlyItsBitOrField) {
  MemoryImage image = Build("TC9100", false);
  PointRef ref;
  ASSERT_TRUE(image.FindPoint("TCGC", "MODC", &ref));  // type 90, bits 0..1 of offset 37
  MemoryItem &item = *image.Find(ref.address);
  image.Store(item, 0xFF, kT0);
  std::string error;
  ASSERT_TRUE(image.SetPoint(ref, "1", kT0, &error)) << error;
  EXPECT_EQ(item.stored, 0xFDu);
  ASSERT_TRUE(image.FindPoint("TCGC", "SOFF", &ref));  // type 40, bit 2
  ASSERT_TRUE(image.SetPoint(ref, "0", kT0, &error)) << error;
  EXPECT_EQ(item.stored, 0xF9u);
}

TEST(SimClock, ClockItemsReadAsTwoDecimalDigitsOfTheHostsLocalTime) {
  const time_t host = static_cast<time_t>(kT0);
  struct tm local;
  localtime_r(&host, &local);
  char date[16], time[16];
  strftime(date, sizeof date, "%y%m%d", &local);
  strftime(time, sizeof time, "%H%M%S", &local);
  const n2sim::DeviceClock clock;
  EXPECT_EQ(clock.ItemText(1, 3, kT0), date);
  EXPECT_EQ(clock.ItemText(5, 3, kT0), time);
  EXPECT_EQ(clock.ItemText(0, 1, kT0), std::to_string((local.tm_year + 1900) / 100));
  EXPECT_EQ(clock.Item(4, kT0), local.tm_wday == 0 ? 7 : local.tm_wday);
}

TEST(SimClock, ASetTimeKeepsRunningWithTheHost) {
  n2sim::DeviceClock clock;
  ASSERT_TRUE(clock.SetItems(5, {12, 34, 56}, kT0));
  EXPECT_EQ(clock.ItemText(5, 3, kT0), "123456");
  EXPECT_EQ(clock.ItemText(5, 3, kT0 + 10), "123506");
  ASSERT_TRUE(clock.SetItems(1, {24, 2, 29}, kT0));
  EXPECT_EQ(clock.ItemText(1, 3, kT0), "240229");
  EXPECT_EQ(clock.ItemText(5, 3, kT0), "123456");  // the date write keeps the time
  EXPECT_EQ(clock.Item(4, kT0), 4);                 // 29 February 2024 was a Thursday
}

TEST(SimClock, ImpossibleTimesAndReadOnlyItemsAreRefused) {
  n2sim::DeviceClock clock;
  const std::string before = clock.ItemText(1, 7, kT0);
  EXPECT_FALSE(clock.SetItems(1, {23, 2, 29}, kT0));  // 2023 was no leap year
  EXPECT_FALSE(clock.SetItems(1, {24, 13, 1}, kT0));
  EXPECT_FALSE(clock.SetItems(5, {24, 0, 0}, kT0));
  EXPECT_FALSE(clock.SetItems(6, {60}, kT0));
  EXPECT_FALSE(clock.SetItems(0, {20}, kT0));
  EXPECT_FALSE(clock.SetItems(4, {1}, kT0));
  EXPECT_EQ(clock.ItemText(1, 7, kT0), before);
}

TEST(SimSchedule, TimesAreWrittenInBcdAndReadAsMinutesThenHours) {
  n2sim::ScheduleBank bank;
  struct {
    uint8_t minutes, hours;
    bool ok;
    const char *text;
  } cases[] = {{0x30, 0x07, true, "3007"}, {0x00, 0x24, true, "0024"}, {0x59, 0x23, true, "5923"},
               {0x01, 0x24, false, ""},    {0x60, 0x01, false, ""},    {0x0A, 0x01, false, ""},
               {0x00, 0x25, false, ""}};
  for (const auto &c : cases) {
    EXPECT_EQ(bank.Write(2, 8, c.minutes, c.hours), c.ok) << std::hex << int(c.minutes) << " " << int(c.hours);
    if (c.ok) {
      EXPECT_EQ(bank.ItemText(2, 8), c.text);
    }
  }
}

TEST(SimSchedule, DaysAreAMaskFollowedByZero) {
  n2sim::ScheduleBank bank;
  EXPECT_TRUE(bank.Write(0, 7, 0x1F, 0x00));
  EXPECT_EQ(bank.ItemText(0, 7), "1F00");
  EXPECT_FALSE(bank.Write(0, 7, 0x1F, 0x01));
  EXPECT_EQ(bank.Value(0, 7), 0x1F);
  EXPECT_EQ(n2sim::ScheduleBank::KindOf(5), n2sim::ScheduleBank::ItemKind::kStart);
  EXPECT_EQ(n2sim::ScheduleBank::KindOf(27), n2sim::ScheduleBank::ItemKind::kEnd);
  EXPECT_EQ(n2sim::ScheduleBank::KindOf(28), n2sim::ScheduleBank::ItemKind::kDays);
  EXPECT_FALSE(n2sim::ScheduleBank::Exists(0, 4));
  EXPECT_FALSE(n2sim::ScheduleBank::Exists(0, 29));
  EXPECT_FALSE(n2sim::ScheduleBank::Exists(8, 5));
}

}  // namespace
