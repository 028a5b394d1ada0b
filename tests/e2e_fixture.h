// The bench of the end-to-end programs (tests/e2e_*_test.cpp): the simulator's
// default plant served on a pseudo-terminal inside the test process, one
// driver channel on it opened through ZamMain as a host opens it, and what the
// tests need to say what a read of a point must give.
//
// The plant's clock stands still (kFrozenTime): drifting inputs, counters and
// the real-time clock then hold the same value in the device's memory when the
// test looks and when the driver reads, so every value can be checked exactly.
// The expected values are worked out here from the device's memory image with
// the value layouts of the point types, not with the driver's decoders.
#ifndef ZAMKT_TESTS_E2E_FIXTURE_H
#define ZAMKT_TESTS_E2E_FIXTURE_H

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/requests.h"
#include "n2/point_tables.h"
#include "sim/clock_schedule.h"
#include "sim/n2open_station.h"
#include "sim/plant.h"
#include "sim/pty_server.h"
#include "sim/simulator.h"
#include "tests/support/host_value.h"
#include "sim/system91_station.h"
#include "sim/wire.h"
#include "tests/support/driver_channel.h"

namespace e2e {

using ::HostValue;

// Stations of the default plant, and one address nobody answers.
constexpr int kDX9100 = 1;
constexpr int kN2Open = 5;
constexpr int kXT9100 = 10;
constexpr int kTC9100 = 20;
constexpr int kAbsent = 30;

// 14 November 2023, 22:13:20 UTC: the plant's clock stands still here.
constexpr double kFrozenTime = 1700000000.0;

// Per-byte reply time-out of the channel, units of 10 ms: generous, so that
// a slow sanitizer build never takes a late reply for silence.
constexpr int32_t kTimeout = 50;
// Only for the cases that wait on a silent station on purpose.
constexpr int32_t kShortTimeout = 5;

// The host's gate data type for a point type: the only one the parse accepts.
inline int32_t DataTypeOf(uint16_t pointType) {
  switch (pointType) {
    case kTypeN2Real: return kGateReal;
    case kTypeBit8:
    case kTypeBit16: return kGateDigital;
    case kTypeLong: return kGateInt32;
    default: return kGateInt16;
  }
}

inline std::string NameOf(const char *field, size_t size) { return std::string(field, strnlen(field, size)); }
inline std::string NameOf(const ModuleEntry &module) { return NameOf(module.name, sizeof module.name); }
inline std::string NameOf(const PointEntry &point) { return NameOf(point.mnemonic, sizeof point.mnemonic); }

inline std::string StationText(int station) {
  char text[8];
  snprintf(text, sizeof text, "%03d", station);
  return text;
}

// "001GCDI1", "001AI01HR", "020TCP2ACT": station, module, mnemonic.
inline std::string GasOf(int station, const ModuleEntry &module, const PointEntry &point) {
  return StationText(station) + NameOf(module) + NameOf(point);
}

// The station of the default plant that holds a family.
inline int StationOf(const FamilyTable &family) {
  const std::string name = family.name;
  if (name == "XT9100") return kXT9100;
  if (name == "TC9100") return kTC9100;
  return kDX9100;
}

// Schedule times and day masks live in the schedule area, the clock in its
// own: both are addressed by the point offset alone.
inline bool IsSchedulePoint(const ModuleEntry &module, const PointEntry &point) {
  return strncmp(module.name, "TS", 2) == 0 && point.type == kTypeLong;
}
inline bool IsClockPoint(const ModuleEntry &module) { return strncmp(module.name, "RTCL", 4) == 0; }

// The device address a parse gives: the offset alone for the two areas.
inline int32_t DeviceAddressOf(const ModuleEntry &module, const PointEntry &point) {
  if (IsSchedulePoint(module, point) || IsClockPoint(module)) return point.offset;
  return module.base + point.offset;
}
inline int32_t SpecialKindOf(const ModuleEntry &module, const PointEntry &point) {
  if (IsSchedulePoint(module, point)) return 'T';
  if (IsClockPoint(module)) return 'R';
  return 0;
}

// The field a point of type code 90..180 holds in its item, as the device
// keeps it: shift and mask before shifting. False for whole items and bits.
inline bool FieldLayoutOf(uint16_t pointType, int *shift, uint32_t *mask) {
  struct Row {
    uint16_t type;
    int shift;
    uint32_t mask;
  };
  static constexpr Row kRows[] = {{90, 0, 3},   {100, 2, 3},  {110, 4, 3},    {120, 6, 3},    {130, 8, 3},
                                  {140, 10, 3}, {150, 12, 7}, {160, 0, 0x3F}, {170, 8, 0x1F}, {180, 13, 7}};
  for (const Row &row : kRows) {
    if (row.type != pointType) continue;
    *shift = row.shift;
    *mask = row.mask;
    return true;
  }
  return false;
}

// Days since 1 March of year 0 of the proleptic Gregorian calendar.
inline long CivilDays(int year, int month, int day) {
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yearOfEra = year - era * 400;
  const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra;
}

// The host's day number of a date: 1 January 1980 is day 1.
inline uint32_t DayNumber(int year, int month, int day) {
  return static_cast<uint32_t>(CivilDays(year, month, day) - CivilDays(1980, 1, 1) + 1);
}

// The host's number for a schedule day mask: one digit per day, 9 for Monday
// to Friday, 0 for the whole week.
inline uint32_t DayDigits(uint8_t mask) {
  if (mask == 0x1F) return 9;
  if (mask == 0x7F) return 0;
  uint32_t digits = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (mask & (1u << bit)) digits = digits * 10 + static_cast<uint32_t>(bit + 1);
  }
  return digits;
}

// What a read of a point gives the host: the real of data type 3, or the
// number of the other data types (the 16-bit word of types 0 and 6, the
// 32-bit value of type 5).
struct Reading {
  float real = 0;
  uint32_t number = 0;
};

inline std::string Describe(const Reading &reading, int32_t dataType) {
  char text[48];
  if (dataType == kGateReal) {
    snprintf(text, sizeof text, "%.9g", static_cast<double>(reading.real));
  } else {
    snprintf(text, sizeof text, "%u (0x%X)", reading.number, reading.number);
  }
  return text;
}

// What the host's buffer holds after a single read with the data type.
inline Reading ReadingOf(const HostValue &value, int32_t dataType) {
  Reading reading;
  if (dataType == kGateReal) {
    reading.real = value.real();
  } else if (dataType == kGateInt32) {
    reading.number = value.number();
  } else {
    reading.number = value.word();
  }
  return reading;
}

inline bool SameReading(const Reading &a, const Reading &b, int32_t dataType) {
  if (dataType == kGateReal) return memcmp(&a.real, &b.real, sizeof a.real) == 0;
  return a.number == b.number;
}

// What a read of the point must give, from the station as it stands: the
// item of its memory image, or its schedule or clock item.
inline Reading ExpectedReading(n2sim::System91Station &station, const ModuleEntry &module, const PointEntry &point,
                               double now) {
  Reading reading;
  if (IsClockPoint(module)) {
    const n2sim::ClockParts clock = station.clock().Now(now);
    const std::string mnemonic = NameOf(point);
    if (mnemonic == "CENT") reading.number = static_cast<uint32_t>(clock.year / 100);
    if (mnemonic == "DATE") reading.number = DayNumber(clock.year, clock.month, clock.day);
    if (mnemonic == "WDAY") reading.number = static_cast<uint32_t>(clock.weekday);
    if (mnemonic == "TIME") {
      reading.number = static_cast<uint32_t>(clock.hour * 3600 + clock.minute * 60 + clock.second);
    }
    return reading;
  }
  if (IsSchedulePoint(module, point)) {
    const int schedule = atoi(module.name + 2) - 1;
    const int value = station.schedules().Value(schedule, point.offset);
    if (n2sim::ScheduleBank::KindOf(point.offset) == n2sim::ScheduleBank::ItemKind::kDays) {
      reading.number = DayDigits(static_cast<uint8_t>(value));
    } else {
      reading.number = static_cast<uint32_t>(value == 1440 ? 1439 : value);  // 24:00 reads as 23:59
    }
    return reading;
  }
  const n2sim::MemoryItem *item = station.memory().Find(static_cast<uint16_t>(module.base + point.offset));
  if (item == nullptr) {
    ADD_FAILURE() << "no item at " << module.base + point.offset << " for " << NameOf(module) << " "
                  << NameOf(point);
    return reading;
  }
  const uint32_t raw = station.memory().ValueAt(*item, now);
  int shift = 0;
  uint32_t mask = 0;
  if (point.type == kTypeN2Real) {
    reading.real = static_cast<float>(n2sim::DecodeN2Real(static_cast<uint16_t>(raw)));
  } else if (point.bit != kWholeItem) {
    reading.number = (raw >> point.bit) & 1u;
  } else if (FieldLayoutOf(point.type, &shift, &mask)) {
    reading.number = (raw >> shift) & mask;
  } else if (point.type == kTypeLong) {
    reading.number = raw;
  } else {
    reading.number = raw & 0xFFFF;
  }
  return reading;
}

// A module of a family, for walks and tables.
struct ModuleRef {
  const FamilyTable *family;
  const ModuleEntry *module;
};

inline std::string ModuleRefName(const ::testing::TestParamInfo<ModuleRef> &info) {
  return std::string(info.param.family->name) + "_" + NameOf(*info.param.module);
}

// The first point of the module that names the whole item at an offset, or
// null: block reads are checked against single reads of these.
inline const PointEntry *WholeItemAt(const ModuleEntry &module, uint16_t offset) {
  for (uint16_t p = 0; p < module.pointCount; ++p) {
    if (module.points[p].offset == offset && module.points[p].bit == kWholeItem) return &module.points[p];
  }
  return nullptr;
}

inline const ModuleEntry *FindModule(const char *familyName, const char *moduleName) {
  const FamilyTable *family = FindFamily(familyName);
  for (uint16_t m = 0; family != nullptr && m < family->moduleCount; ++m) {
    if (NameOf(family->modules[m]) == moduleName) return &family->modules[m];
  }
  return nullptr;
}

inline const PointEntry *FindPoint(const ModuleEntry &module, const char *mnemonic) {
  for (uint16_t p = 0; p < module.pointCount; ++p) {
    if (NameOf(module.points[p]) == mnemonic) return &module.points[p];
  }
  return nullptr;
}

// Every module of the three System 91 families that the predicate keeps.
inline std::vector<ModuleRef> ModulesWhere(const std::function<bool(const ModuleRef &)> &keep) {
  std::vector<ModuleRef> modules;
  for (const FamilyTable &family : kFamilies) {
    for (uint16_t m = 0; m < family.moduleCount; ++m) {
      const ModuleRef ref{&family, &family.modules[m]};
      if (keep(ref)) modules.push_back(ref);
    }
  }
  return modules;
}

// The simulated bus of one test program and the driver channel on it.
class Bench {
 public:
  // Started on first use; ok() says whether it runs.
  static Bench &Get() {
    static Bench bench;
    return bench;
  }

  bool ok() const { return error_.empty(); }
  const std::string &error() const { return error_; }
  n2sim::Simulator &sim() { return sim_; }
  DriverChannel &channel() { return *channel_; }
  const std::string &port() const { return port_; }
  uint64_t Count(const std::string &key) const { return sim_.Count(key); }

  // Closes the channel and opens it again on the port (command 11, then 1),
  // which also marks every N2 Open station as not yet initialised. 0 when
  // both went through.
  int32_t Reopen(int32_t timeout10ms = kTimeout) {
    const int32_t closed = channel_->Close();
    channel_ = std::make_unique<DriverChannel>();
    const int32_t opened = channel_->Init(port_, timeout10ms);
    return closed != 0 ? closed : opened;
  }

  // Replaces the plant with the default plant and the extra statements
  // (faults, values), and reopens the channel so that the N2 Open station is
  // initialised afresh. False with the reason in error.
  bool Reload(const std::string &extra, std::string *error, int32_t timeout10ms = kTimeout) {
    if (!sim_.LoadPlant(std::string(n2sim::DefaultPlantText()) + "\n" + extra, error)) return false;
    if (Reopen(timeout10ms) != 0) {
      *error = "the channel did not open again on " + port_;
      return false;
    }
    return true;
  }

  // Writes the station-type file of channel 1 for the plant, with extra
  // lines after it; the next Reopen reads it.
  void WriteStationTypes(const std::string &extra) {
    dir_.WriteFile(n2sim::StationTypesFileName(1), n2sim::StationTypesFileText(sim_.plant()) + extra);
  }

  // Runs fn on a System 91 station of the plant under the simulator's lock.
  template <typename Fn>
  void WithStation(int address, Fn fn) {
    bool found = false;
    sim_.WithSystem91(address, [&](n2sim::System91Station *station) {
      if (station == nullptr) return;
      found = true;
      fn(*station);
    });
    if (!found) ADD_FAILURE() << "no System 91 station " << address << " in the plant";
  }

  // The raw item at a device address of a System 91 station.
  uint32_t Item(int station, uint16_t address) {
    uint32_t value = 0;
    WithStation(station, [&](n2sim::System91Station &s) {
      const n2sim::MemoryItem *item = s.memory().Find(address);
      if (item == nullptr) {
        ADD_FAILURE() << "no item at " << address << " of station " << station;
        return;
      }
      value = s.memory().ValueAt(*item, kFrozenTime);
    });
    return value;
  }

  bool HasItem(int station, uint16_t address) {
    bool found = false;
    WithStation(station, [&](n2sim::System91Station &s) { found = s.memory().Find(address) != nullptr; });
    return found;
  }

  // What a read of the point must give now.
  Reading Expected(int station, const ModuleEntry &module, const PointEntry &point) {
    Reading reading;
    WithStation(station, [&](n2sim::System91Station &s) { reading = ExpectedReading(s, module, point, kFrozenTime); });
    return reading;
  }

  ~Bench() {
    if (channel_) channel_->Close();
    server_.Stop();
  }

 private:
  Bench() {
    sim_.SetTimeSource([] { return kFrozenTime; });
    std::string why;
    if (!sim_.LoadPlant(n2sim::DefaultPlantText(), &why)) {
      error_ = "default plant: " + why;
      return;
    }
    WriteStationTypes("");
    if (!server_.Start(&why)) {
      error_ = "pseudo-terminal: " + why;
      return;
    }
    port_ = server_.portName();
    channel_ = std::make_unique<DriverChannel>();
    if (channel_->Init(port_, kTimeout) != 0) error_ = "command 1 did not open " + port_;
  }

  LogCapture quiet_;  // the driver's log goes to a file, not to the test's output
  TempWorkDir dir_;   // the driver reads the station-type file from here
  n2sim::Simulator sim_;
  n2sim::PtyServer server_{&sim_};
  std::string port_;
  std::unique_ptr<DriverChannel> channel_;
  std::string error_;
};

// Requests that reached a System 91 station within 4 ms of its last clean
// acknowledgement (the simulator's count): a driver that skipped its pause
// after a good reply. A correct driver cannot raise it, since its pause
// starts only once the reply has arrived.
constexpr const char *kEarlyAfterAck = "early-after-ack";

// Tests of the programs derive from this: every test starts on a running
// bench, and fails when a request of it came within a station's pause.
class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench().ok()) << bench().error();
    earlyBefore_ = bench().Count(kEarlyAfterAck);
  }
  void TearDown() override {
    if (!bench().ok()) return;
    EXPECT_EQ(bench().Count(kEarlyAfterAck), earlyBefore_)
        << "requests reached a station less than 4 ms after its good reply: the pause after a good reply is missing";
  }
  static Bench &bench() { return Bench::Get(); }
  static DriverChannel &channel() { return Bench::Get().channel(); }

 private:
  uint64_t earlyBefore_ = 0;
};

// Parses and reads every point of the module on its station of the plant,
// with the point's own data type, and checks the parse results, the status
// and the value against the device, and that the station answered every read.
inline void WalkModule(Bench &bench, const ModuleRef &ref) {
  const ModuleEntry &module = *ref.module;
  const int station = StationOf(*ref.family);
  const uint64_t reads = bench.Count("mem-read") + bench.Count("area-read");
  const uint64_t refused = bench.Count("refused");
  for (uint16_t p = 0; p < module.pointCount; ++p) {
    const PointEntry &point = module.points[p];
    const std::string gas = GasOf(station, module, point);
    const int32_t dataType = DataTypeOf(point.type);

    ParseBlock parsed;
    ASSERT_EQ(bench.channel().Parse(gas, dataType, &parsed), 0) << gas;
    EXPECT_EQ(parsed.station, station) << gas;
    EXPECT_EQ(parsed.region, SpecialKindOf(module, point)) << gas;
    EXPECT_EQ(parsed.element, DeviceAddressOf(module, point)) << gas;
    EXPECT_EQ(parsed.bit, point.bit) << gas;
    EXPECT_EQ(parsed.width, dataType == kGateReal || dataType == kGateInt32 ? 32 : 16) << gas;

    HostValue value;
    ASSERT_EQ(bench.channel().Read(gas, dataType, value.data()), 0) << gas;
    const Reading expected = bench.Expected(station, module, point);
    const Reading got = ReadingOf(value, dataType);
    EXPECT_TRUE(SameReading(got, expected, dataType))
        << gas << " (type code " << point.type << ") read " << Describe(got, dataType) << ", the device holds "
        << Describe(expected, dataType);
    if (dataType == kGateInt16 || dataType == kGateDigital) {
      EXPECT_EQ(value.bytes[0], 0xEE) << gas << ": a 16-bit gate's value lies at offset 2 only";
      EXPECT_EQ(value.bytes[1], 0xEE) << gas;
    }
    EXPECT_EQ(value.bytes[4], 0xEE) << gas << ": nothing past the value";
  }
  EXPECT_EQ(bench.Count("mem-read") + bench.Count("area-read"), reads + module.pointCount)
      << "one exchange per point";
  EXPECT_EQ(bench.Count("refused"), refused) << "the station refused none of the reads";
}

}  // namespace e2e

#endif  // ZAMKT_TESTS_E2E_FIXTURE_H
