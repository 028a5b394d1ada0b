// End to end against the simulated plant: writes (command 7) of every kind of
// System 91 point, each followed by a read (command 5) that shows the new
// value, and a look into the device's memory that shows nothing else changed:
// reals as the device stores them, bits and bit fields that change only
// themselves, whole 16-bit words, 32-bit values, time schedules and the
// clock; writes the driver refuses before sending anything; warm starts.
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e_fixture.h"

namespace {

using e2e::HostValue;

// A point of the plant, found by station, module and mnemonic.
struct Point {
  int station = 0;
  const ModuleEntry *module = nullptr;
  const PointEntry *point = nullptr;
  std::string gas;
  uint16_t address = 0;  // base + offset: the memory item
};

const char *FamilyAt(int station) {
  if (station == e2e::kXT9100) return "XT9100";
  if (station == e2e::kTC9100) return "TC9100";
  return "DX9100";
}

Point Resolve(int station, const char *module, const char *mnemonic) {
  Point p;
  p.station = station;
  p.module = e2e::FindModule(FamilyAt(station), module);
  if (p.module == nullptr) {
    ADD_FAILURE() << "no module " << module << " in a " << FamilyAt(station);
    return p;
  }
  p.point = e2e::FindPoint(*p.module, mnemonic);
  if (p.point == nullptr) {
    ADD_FAILURE() << "no point " << mnemonic << " in " << module;
    return p;
  }
  p.gas = e2e::GasOf(station, *p.module, *p.point);
  p.address = static_cast<uint16_t>(p.module->base + p.point->offset);
  return p;
}

class Writes : public e2e::E2eTest {
 protected:
  int32_t Write(const Point &p, HostValue value) {
    return channel().Write(p.gas, e2e::DataTypeOf(p.point->type), value.data());
  }
  // Reads the point with its data type; the status goes to *status.
  HostValue Read(const Point &p, int32_t *status) {
    HostValue value;
    *status = channel().Read(p.gas, e2e::DataTypeOf(p.point->type), value.data());
    return value;
  }
  uint32_t Item(const Point &p) { return bench().Item(p.station, p.address); }
};

// ---- reals ---------------------------------------------------------------------

struct RealCase {
  int station;
  const char *module;
  const char *mnemonic;
  float value;
  float stored;  // what the device keeps of it
};

constexpr RealCase kReals[] = {
    {e2e::kDX9100, "GC", "ACO1", 21.7f, 21.6875f},           // paged address form
    {e2e::kDX9100, "AI01", "HR", 100.25f, 100.25f},          // full address form
    {e2e::kDX9100, "PM01", "LSP", -2.5f, -2.5f},             // sign and magnitude
    {e2e::kDX9100, "PM12", "SP8", 0.05f, 0.0498046875f},     // below 1: truncated binary fraction
    {e2e::kDX9100, "XT01", "XTAO1", 1.0f, 1.0f},
    {e2e::kDX9100, "AO09", "OUT", 4095.5f, 4094.0f},         // 2048 and above lose low bits
    {e2e::kDX9100, "DO08", "OUT", 32750.99f, 32736.0f},      // the largest value accepted
    {e2e::kXT9100, "XP01", "AO7", 0.5f, 0.5f},
    {e2e::kXT9100, "XP01", "AO8", 0.0001f, 0.0f},            // less than one ten-thousandth
    {e2e::kTC9100, "TCGC", "AI1", 2048.0f, 2048.0f},
    {e2e::kTC9100, "TCP6", "BNT2", 12.3f, 12.296875f},
};

class RealWrite : public Writes, public ::testing::WithParamInterface<RealCase> {};

TEST_P(RealWrite, ReadsBackTheValueAsTheDeviceStoresIt) {
  const RealCase &c = GetParam();
  const Point p = Resolve(c.station, c.module, c.mnemonic);
  ASSERT_NE(p.point, nullptr);
  ASSERT_EQ(Write(p, HostValue::Real(c.value)), 0) << p.gas;
  int32_t status = -1;
  const HostValue read = Read(p, &status);
  ASSERT_EQ(status, 0) << p.gas;
  EXPECT_EQ(read.real(), c.stored) << p.gas << " written as " << c.value;
  EXPECT_EQ(n2sim::DecodeN2Real(static_cast<uint16_t>(Item(p))), c.stored) << "the device's item";
}

std::string RealName(const ::testing::TestParamInfo<RealCase> &info) {
  return std::string(info.param.module) + "_" + info.param.mnemonic;
}

INSTANTIATE_TEST_SUITE_P(OfPoint, RealWrite, ::testing::ValuesIn(kReals), RealName);

// ---- bits ---------------------------------------------------------------------

struct BitCase {
  int station;
  const char *module;
  const char *mnemonic;
};

// Bits of 8-bit items (type code 40) and of 16-bit items (80), low and high
// bits, in both address forms, in every family.
constexpr BitCase kBits[] = {
    {e2e::kDX9100, "GC", "SSA"},      {e2e::kDX9100, "GC", "DCO5"},     {e2e::kDX9100, "GC", "DCO32"},
    {e2e::kDX9100, "PM02", "SOFE"},   {e2e::kDX9100, "PM07", "NEXT"},   {e2e::kDX9100, "PM01", "HDC3"},
    {e2e::kDX9100, "PM12", "TDO8"},   {e2e::kDX9100, "AO01", "OUH"},    {e2e::kDX9100, "DO05", "OUH"},
    {e2e::kDX9100, "XT03", "XTDO5"},  {e2e::kDX9100, "XT08", "XTOUH8"}, {e2e::kDX9100, "TS04", "TSOUT"},
    {e2e::kXT9100, "XP01", "DO3"},    {e2e::kXT9100, "XP02", "DO8"},    {e2e::kTC9100, "TCGC", "DO4E"},
    {e2e::kTC9100, "TCGC", "HLD6"},   {e2e::kTC9100, "TCGC", "SUP1"},   {e2e::kTC9100, "TCGC", "RA"},
    {e2e::kTC9100, "TCGC", "RTCR"},   {e2e::kTC9100, "TCGC", "AIO3"},   {e2e::kTC9100, "TCP1", "RA"},
    {e2e::kTC9100, "TCP6", "RA2"},
};

class BitWrite : public Writes, public ::testing::WithParamInterface<BitCase> {};

TEST_P(BitWrite, SetsAndClearsItsBitAndLeavesTheOtherBitsOfTheItem) {
  const BitCase &c = GetParam();
  const Point p = Resolve(c.station, c.module, c.mnemonic);
  ASSERT_NE(p.point, nullptr);
  ASSERT_NE(p.point->bit, kWholeItem);
  const uint32_t mask = 1u << p.point->bit;
  const uint32_t before = Item(p);

  for (uint16_t state : {1, 0, 1}) {
    ASSERT_EQ(Write(p, HostValue::Word(state)), 0) << p.gas << " := " << state;
    int32_t status = -1;
    const HostValue read = Read(p, &status);
    ASSERT_EQ(status, 0) << p.gas;
    EXPECT_EQ(read.word(), state) << p.gas;
    const uint32_t expected = state != 0 ? (before | mask) : (before & ~mask);
    EXPECT_EQ(Item(p), expected) << p.gas << " := " << state << ": the other bits of the item stay as they were";
  }
}

std::string BitName(const ::testing::TestParamInfo<BitCase> &info) {
  return std::string(info.param.module) + "_" + info.param.mnemonic;
}

INSTANTIATE_TEST_SUITE_P(OfPoint, BitWrite, ::testing::ValuesIn(kBits), BitName);

// ---- fields and whole words (gate data type 0) ---------------------------------

struct WordCase {
  int station;
  const char *module;
  const char *mnemonic;
  uint16_t value;
  uint16_t reads;  // the field's value that a read then gives
};

// Fields of the TC9100: the mode bits, the minutes, hours and weekday of its
// clock word, and the day field that shares its word with six day points.
constexpr WordCase kFields[] = {
    {e2e::kTC9100, "TCGC", "MODC", 2, 2},      {e2e::kTC9100, "TCGC", "MODC", 1, 1},
    {e2e::kTC9100, "TCGC", "MODC", 7, 3},      // only the field's two bits are written
    {e2e::kTC9100, "TCGC", "MIN", 45, 45},     {e2e::kTC9100, "TCGC", "MIN", 0, 0},
    {e2e::kTC9100, "TCGC", "HOUR", 23, 23},    {e2e::kTC9100, "TCGC", "HOUR", 6, 6},
    {e2e::kTC9100, "TCGC", "WDAY", 3, 3},      {e2e::kTC9100, "TCGC", "WDAY", 7, 7},
    {e2e::kTC9100, "TCGC", "DST1DY", 5, 5},    {e2e::kTC9100, "TCGC", "DST1DY", 0, 0},
    {e2e::kTC9100, "TCGC", "DST7DY", 7, 7},    {e2e::kTC9100, "TCGC", "DST4DY", 10, 2},
};

class FieldWrite : public Writes, public ::testing::WithParamInterface<WordCase> {};

TEST_P(FieldWrite, ChangesOnlyItsOwnField) {
  const WordCase &c = GetParam();
  const Point p = Resolve(c.station, c.module, c.mnemonic);
  ASSERT_NE(p.point, nullptr);
  int shift = 0;
  uint32_t mask = 0;
  ASSERT_TRUE(e2e::FieldLayoutOf(p.point->type, &shift, &mask)) << p.gas;
  const uint32_t before = Item(p);

  ASSERT_EQ(Write(p, HostValue::Word(c.value)), 0) << p.gas;
  int32_t status = -1;
  const HostValue read = Read(p, &status);
  ASSERT_EQ(status, 0) << p.gas;
  EXPECT_EQ(read.word(), c.reads) << p.gas << " := " << c.value;
  const uint32_t expected = (before & ~(mask << shift)) | (static_cast<uint32_t>(c.reads) << shift);
  EXPECT_EQ(Item(p), expected) << p.gas << ": the rest of the word stays as it was";
}

std::string WordName(const ::testing::TestParamInfo<WordCase> &info) {
  return std::string(info.param.module) + "_" + info.param.mnemonic + "_" + std::to_string(info.param.value);
}

INSTANTIATE_TEST_SUITE_P(OfPoint, FieldWrite, ::testing::ValuesIn(kFields), WordName);

struct WholeWordCase {
  int station;
  const char *module;
  const char *mnemonic;
};

// Type codes 50 and 70 hold whole 16-bit items.
constexpr WholeWordCase kWholeWords[] = {
    {e2e::kXT9100, "XP01", "DOPT"},  {e2e::kXT9100, "XP02", "DOPT"},   {e2e::kDX9100, "DO03", "DO@"},
    {e2e::kDX9100, "DO08", "DO@"},   {e2e::kTC9100, "TCGC", "MIN1"},   {e2e::kTC9100, "TCGC", "DST3M2"},
};

class WholeWordWrite : public Writes, public ::testing::WithParamInterface<WholeWordCase> {};

TEST_P(WholeWordWrite, ReplacesTheWholeWordClearingBitsAsWellAsSettingThem) {
  const WholeWordCase &c = GetParam();
  const Point p = Resolve(c.station, c.module, c.mnemonic);
  ASSERT_NE(p.point, nullptr);
  ASSERT_TRUE(p.point->type == kTypeWord || p.point->type == kTypeWord70) << p.gas;
  const uint16_t before = static_cast<uint16_t>(Item(p));
  // The complement clears every bit that was set: an OR into the word read
  // back could not.
  const uint16_t complement = static_cast<uint16_t>(~before);
  for (uint16_t value : {complement, uint16_t{0x1234}, uint16_t{0}}) {
    ASSERT_EQ(Write(p, HostValue::Word(value)), 0) << p.gas;
    int32_t status = -1;
    const HostValue read = Read(p, &status);
    ASSERT_EQ(status, 0) << p.gas;
    EXPECT_EQ(read.word(), value) << p.gas;
    EXPECT_EQ(Item(p), value) << p.gas;
  }
}

std::string WholeWordName(const ::testing::TestParamInfo<WholeWordCase> &info) {
  std::string name = std::string(info.param.module) + "_" + info.param.mnemonic;
  for (char &ch : name) {
    if (ch == '@') ch = 'A';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(OfPoint, WholeWordWrite, ::testing::ValuesIn(kWholeWords), WholeWordName);

// ---- 32-bit items --------------------------------------------------------------

struct LongCase {
  int station;
  const char *module;
  const char *mnemonic;
  uint32_t value;
};

constexpr LongCase kLongs[] = {
    {e2e::kDX9100, "GC", "CNTR1", 100000},         {e2e::kDX9100, "GC", "CNTR8", 0xFFFFFFFFu},
    {e2e::kDX9100, "PM01", "RT1", 0x12345678},     {e2e::kDX9100, "PM11", "RT8", 0},  // full address form
    {e2e::kDX9100, "XT01", "XTDIC1", 7},           {e2e::kDX9100, "XT08", "XTDIC8", 0x80000000u},
};

class LongWrite : public Writes, public ::testing::WithParamInterface<LongCase> {};

TEST_P(LongWrite, ReadsBackAllFourBytesAndLeavesTheItemsBesideIt) {
  const LongCase &c = GetParam();
  const Point p = Resolve(c.station, c.module, c.mnemonic);
  ASSERT_NE(p.point, nullptr);
  std::vector<std::pair<uint16_t, uint32_t>> beside;
  for (int step : {-1, 1}) {
    const uint16_t address = static_cast<uint16_t>(p.address + step);
    if (bench().HasItem(p.station, address)) beside.emplace_back(address, bench().Item(p.station, address));
  }
  ASSERT_FALSE(beside.empty());

  ASSERT_EQ(Write(p, HostValue::Long(c.value)), 0) << p.gas;
  int32_t status = -1;
  const HostValue read = Read(p, &status);
  ASSERT_EQ(status, 0) << p.gas;
  EXPECT_EQ(read.number(), c.value) << p.gas;
  EXPECT_EQ(Item(p), c.value) << p.gas;
  for (const auto &[address, value] : beside) {
    EXPECT_EQ(bench().Item(p.station, address), value) << "the item at " << address << " beside " << p.gas;
  }
}

std::string LongName(const ::testing::TestParamInfo<LongCase> &info) {
  return std::string(info.param.module) + "_" + info.param.mnemonic;
}

INSTANTIATE_TEST_SUITE_P(OfPoint, LongWrite, ::testing::ValuesIn(kLongs), LongName);

// ---- time schedules ---------------------------------------------------------------

struct ScheduleCase {
  const char *module;
  const char *mnemonic;
  uint32_t value;
  uint32_t reads;
  int stored;  // minutes of the day, or the day mask, in the device
};

constexpr ScheduleCase kSchedules[] = {
    {"TS01", "START1", 450, 450, 450},      // 07:30
    {"TS05", "START4", 90, 90, 90},         // 01:30
    {"TS08", "END8", 0, 0, 0},
    {"TS02", "END3", 1439, 1439, 1440},     // 23:59 is kept as 24:00, and reads as 1439
    {"TS03", "START2", 1440, 1439, 1440},
    {"TS01", "DAYS1", 135, 135, 0x15},      // Monday, Wednesday, Friday
    {"TS02", "DAYS3", 67, 67, 0x60},
    {"TS03", "DAYS1", 9, 9, 0x1F},          // Monday to Friday
    {"TS04", "DAYS2", 0, 0, 0x7F},          // the whole week
    {"TS07", "DAYS8", 1234567, 0, 0x7F},
    {"TS06", "DAYS5", 8, 8, 0x80},          // the day class of its own
};

using ScheduleBankValues = std::vector<int>;

class ScheduleWrite : public Writes, public ::testing::WithParamInterface<ScheduleCase> {
 protected:
  ScheduleBankValues Bank() {
    ScheduleBankValues values;
    bench().WithStation(e2e::kDX9100, [&](n2sim::System91Station &station) {
      for (int s = 0; s < n2sim::ScheduleBank::kSchedules; ++s) {
        for (int offset = n2sim::ScheduleBank::kFirstOffset; offset <= n2sim::ScheduleBank::kLastOffset; ++offset) {
          values.push_back(station.schedules().Value(s, offset));
        }
      }
    });
    return values;
  }
  static size_t IndexOf(int schedule, int offset) {
    const int perSchedule = n2sim::ScheduleBank::kLastOffset - n2sim::ScheduleBank::kFirstOffset + 1;
    return static_cast<size_t>(schedule * perSchedule + offset - n2sim::ScheduleBank::kFirstOffset);
  }
};

TEST_P(ScheduleWrite, ReadsBackAndChangesNoOtherScheduleItem) {
  const ScheduleCase &c = GetParam();
  const Point p = Resolve(e2e::kDX9100, c.module, c.mnemonic);
  ASSERT_NE(p.point, nullptr);
  ScheduleBankValues expected = Bank();
  expected[IndexOf(atoi(c.module + 2) - 1, p.point->offset)] = c.stored;

  ASSERT_EQ(Write(p, HostValue::Long(c.value)), 0) << p.gas;
  int32_t status = -1;
  const HostValue read = Read(p, &status);
  ASSERT_EQ(status, 0) << p.gas;
  EXPECT_EQ(read.number(), c.reads) << p.gas << " := " << c.value;
  EXPECT_EQ(Bank(), expected) << p.gas << " := " << c.value;
}

std::string ScheduleName(const ::testing::TestParamInfo<ScheduleCase> &info) {
  return std::string(info.param.module) + "_" + info.param.mnemonic + "_" + std::to_string(info.param.value);
}

INSTANTIATE_TEST_SUITE_P(OfPoint, ScheduleWrite, ::testing::ValuesIn(kSchedules), ScheduleName);

// ---- the real-time clock -----------------------------------------------------------

struct ClockCase {
  const char *mnemonic;
  uint32_t value;  // seconds of the day, or the day number (1 January 1980 is 1)
};

constexpr ClockCase kClock[] = {
    {"TIME", 45296},  // 12:34:56
    {"TIME", 0},
    {"TIME", 86399},  // 23:59:59
    {"DATE", 9732},   // 23 August 2006
    {"DATE", 7306},   // 1 January 2000
    {"DATE", 7366},   // 1 March 2000, after a leap day
    {"DATE", 16000},  // 21 October 2023
};

class ClockWrite : public Writes, public ::testing::WithParamInterface<ClockCase> {};

TEST_P(ClockWrite, SetsTheDeviceClockAndReadsBack) {
  const ClockCase &c = GetParam();
  const Point p = Resolve(e2e::kDX9100, "RTCL", c.mnemonic);
  ASSERT_NE(p.point, nullptr);
  ASSERT_EQ(Write(p, HostValue::Long(c.value)), 0) << p.gas;
  int32_t status = -1;
  const HostValue read = Read(p, &status);
  ASSERT_EQ(status, 0) << p.gas;
  EXPECT_EQ(read.number(), c.value) << p.gas;
  const e2e::Reading device = bench().Expected(e2e::kDX9100, *p.module, *p.point);
  EXPECT_EQ(device.number, c.value) << "the device's clock";
}

std::string ClockName(const ::testing::TestParamInfo<ClockCase> &info) {
  return std::string(info.param.mnemonic) + "_" + std::to_string(info.param.value);
}

INSTANTIATE_TEST_SUITE_P(OfPoint, ClockWrite, ::testing::ValuesIn(kClock), ClockName);

// ---- writes refused before anything is sent ----------------------------------------

struct RefusalCase {
  int station;
  const char *module;
  const char *mnemonic;
};

// Points whose table access is 'R', of every data type and family.
constexpr RefusalCase kReadOnly[] = {
    {e2e::kDX9100, "AI01", "AI"},     {e2e::kDX9100, "GC", "DI1"},      {e2e::kDX9100, "GC", "LRS33"},
    {e2e::kDX9100, "XT01", "XTAI1"},  {e2e::kDX9100, "XT01", "XTCOM"},  {e2e::kDX9100, "RTCL", "CENT"},
    {e2e::kDX9100, "RTCL", "WDAY"},   {e2e::kDX9100, "PM01", "LS3"},    {e2e::kXT9100, "XP01", "AI1"},
    {e2e::kXT9100, "XP02", "DI3"},    {e2e::kTC9100, "TCGC", "MODS"},   {e2e::kTC9100, "TCGC", "TEMP"},
    {e2e::kTC9100, "TCGC", "WAC"},    {e2e::kTC9100, "TCGC", "DO1"},
};

class ReadOnlyWrite : public Writes, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ReadOnlyWrite, IsRefusedWithStatus1AndNothingSent) {
  const RefusalCase &c = GetParam();
  const Point p = Resolve(c.station, c.module, c.mnemonic);
  ASSERT_NE(p.point, nullptr);
  ASSERT_EQ(p.point->access, 'R');
  LogCapture log;
  const uint64_t requests = bench().Count("requests");
  EXPECT_EQ(Write(p, HostValue::Long(1)), 1) << p.gas;
  EXPECT_EQ(bench().Count("requests"), requests) << p.gas;
  EXPECT_TRUE(log.Contains("ZAMKT: Error. Writing to read only Gate " + p.gas + "!")) << p.gas;
}

std::string RefusalName(const ::testing::TestParamInfo<RefusalCase> &info) {
  return std::string(info.param.module) + "_" + info.param.mnemonic;
}

INSTANTIATE_TEST_SUITE_P(OfPoint, ReadOnlyWrite, ::testing::ValuesIn(kReadOnly), RefusalName);

TEST_F(Writes, OfARealOutOfRangeAreRefusedWithNothingSent) {
  const Point p = Resolve(e2e::kDX9100, "GC", "ACO2");
  const uint32_t before = Item(p);
  for (float value : {32751.0f, -32751.0f, 1.0e9f}) {
    LogCapture log;
    const uint64_t requests = bench().Count("requests");
    EXPECT_EQ(Write(p, HostValue::Real(value)), 1) << value;
    EXPECT_EQ(bench().Count("requests"), requests) << value;
    EXPECT_TRUE(log.Contains("ZAMKT: Value out of range. Write failed")) << value;
    EXPECT_TRUE(log.Contains("ZAMKT: Writing a value out of range! GAS = 001GCACO2")) << value;
  }
  EXPECT_EQ(Item(p), before);
}

TEST_F(Writes, OfAScheduleTimeAbove1440AreRefusedWithNothingSent) {
  const Point p = Resolve(e2e::kDX9100, "TS01", "END2");
  LogCapture log;
  const uint64_t requests = bench().Count("requests");
  EXPECT_EQ(Write(p, HostValue::Long(1441)), 1);
  EXPECT_EQ(bench().Count("requests"), requests);
  int refusals = 0;
  for (const std::string &message : log.Messages()) {
    if (message == "ZAMKT: Value exceeds 1440 sec! Gate 001TS01END2") ++refusals;
  }
  EXPECT_EQ(refusals, 5) << "one per attempt";
  EXPECT_TRUE(log.Contains("ZAMKT: Single Write failed! GAS=001TS01END2"));
}

// ---- warm start ---------------------------------------------------------------------

class WarmStart : public e2e::E2eTest, public ::testing::WithParamInterface<int> {};

TEST_P(WarmStart, OfASystem91StationSucceedsAndSendsNothing) {
  const int station = GetParam();
  LogCapture log;
  const uint64_t requests = bench().Count("requests");
  EXPECT_EQ(channel().WarmStartStation(station), 0);
  EXPECT_EQ(bench().Count("requests"), requests);
  EXPECT_TRUE(log.Contains("ZAMKT01: WarmStart. Station " + std::to_string(station)));
  // The station still answers as before.
  HostValue value;
  const std::string gas = station == e2e::kDX9100 ? "001GCACO3" : station == e2e::kXT9100 ? "010XP01AO7" : "020TCGCWSP1";
  EXPECT_EQ(channel().Read(gas, kGateReal, value.data()), 0) << gas;
}

INSTANTIATE_TEST_SUITE_P(OfTheFamily, WarmStart, ::testing::Values(e2e::kDX9100, e2e::kXT9100, e2e::kTC9100),
                         [](const ::testing::TestParamInfo<int> &station) { return e2e::StationText(station.param); });

}  // namespace
