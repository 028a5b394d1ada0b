#include "sim/memory_image.h"

#include <stdlib.h>
#include <string.h>

#include <cmath>

#include "sim/clock_schedule.h"
#include "sim/wire.h"

namespace n2sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDriftAmplitude = 0.5;  // degrees either way
constexpr double kDriftPeriod = 60.0;    // seconds
constexpr long kMinutesPerWeek = 7 * 24 * 60;

bool StartsWith(const char *text, const char *prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

std::string Name(const char *field, size_t size) { return std::string(field, strnlen(field, size)); }

bool IsScheduleArea(const ModuleEntry &module, const PointEntry &point) {
  return StartsWith(module.name, "TS") && point.type == kTypeLong;
}

bool IsClockArea(const ModuleEntry &module) { return StartsWith(module.name, "RTCL"); }

bool IsDriftingInput(const PointEntry &point) {
  return point.type == kTypeN2Real &&
         (StartsWith(point.mnemonic, "AI") || StartsWith(point.mnemonic, "XTAI") ||
          strcmp(point.mnemonic, "TEMP") == 0);
}

// A plausible starting value that differs from address to address, so that a
// block read shows which item went where.
uint32_t InitialValue(const MemoryItem &item) {
  const uint32_t a = item.address;
  if (item.real) {
    if (item.dynamics == Dynamics::kDrift) return EncodeN2Real(21.0 + (a % 8) * 0.25);
    return EncodeN2Real(10.0 + (a % 40) * 0.5);
  }
  if (item.dynamics == Dynamics::kCount) return (a % 100) * 100;
  if (item.width == 1) return (a * 37 + 0x15) & 0xFF;
  return ((a * 40503u) >> 3) & 0xFFFF;
}

// The TC9100 clock word: minutes in bits 0..5, hours in 8..12, weekday in 13..15.
uint32_t ClockWordAt(double now, long offsetMinutes) {
  ClockParts p = ClockAt(now, offsetMinutes * 60);
  return static_cast<uint32_t>(p.minute | (p.hour << 8) | (p.weekday << 13));
}

long WeekMinutesOf(uint32_t word) {
  const long minute = word & 0x3F;
  const long hour = (word >> 8) & 0x1F;
  const long weekday = (word >> 13) & 0x07;
  return ((weekday + 6) % 7) * 24 * 60 + hour * 60 + minute;
}

bool ParseNumber(const std::string &text, long long *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  *value = strtoll(text.c_str(), &end, 0);
  return end != nullptr && *end == '\0';
}

}  // namespace

int ItemWidthOf(uint16_t typeCode) {
  if (typeCode == kTypeBit8 || (typeCode >= kTypeField0 && typeCode <= kTypeField6)) return 1;
  if (typeCode == kTypeLong) return 4;
  return 2;
}

bool FieldOf(uint16_t typeCode, int *shift, uint16_t *mask) {
  switch (typeCode) {
    case kTypeField0: *shift = 0; *mask = 3; return true;
    case kTypeField2: *shift = 2; *mask = 3; return true;
    case kTypeField4: *shift = 4; *mask = 3; return true;
    case kTypeField6: *shift = 6; *mask = 3; return true;
    case kTypeField8: *shift = 8; *mask = 3; return true;
    case kTypeField10: *shift = 10; *mask = 3; return true;
    case kTypeField12: *shift = 12; *mask = 7; return true;
    case kTypeMinutes: *shift = 0; *mask = 0x3F; return true;
    case kTypeHours: *shift = 8; *mask = 0x1F; return true;
    case kTypeWeekday: *shift = 13; *mask = 7; return true;
    default: return false;
  }
}

void MemoryImage::Build(const FamilyTable &family, bool dynamics, double now) {
  family_ = &family;
  items_.clear();
  conflicts_.clear();
  for (uint16_t m = 0; m < family.moduleCount; ++m) {
    const ModuleEntry &module = family.modules[m];
    if (IsClockArea(module)) continue;
    for (uint16_t p = 0; p < module.pointCount; ++p) {
      const PointEntry &point = module.points[p];
      if (IsScheduleArea(module, point)) continue;
      const uint16_t address = static_cast<uint16_t>(module.base + point.offset);
      const int width = ItemWidthOf(point.type);
      auto [it, added] = items_.try_emplace(address);
      MemoryItem &item = it->second;
      if (added) {
        item.address = address;
        item.width = static_cast<uint8_t>(width);
        item.label = Name(module.name, sizeof module.name) + " " + Name(point.mnemonic, sizeof point.mnemonic);
      } else if (item.width != width) {
        conflicts_.push_back(address);
        if (width > item.width) item.width = static_cast<uint8_t>(width);
      }
      if (point.access == 'W') item.writable = true;
      if (point.type == kTypeN2Real) item.real = true;
      if (point.type == kTypeLong) item.dynamics = Dynamics::kCount;
      if (point.type == kTypeMinutes || point.type == kTypeHours || point.type == kTypeWeekday) {
        item.dynamics = Dynamics::kClockWord;
      }
      if (IsDriftingInput(point) && item.dynamics == Dynamics::kNone) item.dynamics = Dynamics::kDrift;
    }
  }
  for (auto &[address, item] : items_) {
    // Only read-only inputs drift: what can be written holds what was written.
    if (item.dynamics == Dynamics::kDrift && item.writable) item.dynamics = Dynamics::kNone;
    item.stored = InitialValue(item);
    item.since = now;
    if (!dynamics && (item.dynamics == Dynamics::kDrift || item.dynamics == Dynamics::kCount)) {
      item.dynamics = Dynamics::kNone;
    }
  }
}

const MemoryItem *MemoryImage::Find(uint16_t address) const {
  auto it = items_.find(address);
  return it == items_.end() ? nullptr : &it->second;
}

MemoryItem *MemoryImage::Find(uint16_t address) {
  auto it = items_.find(address);
  return it == items_.end() ? nullptr : &it->second;
}

uint32_t MemoryImage::ValueAt(const MemoryItem &item, double now) const {
  switch (item.dynamics) {
    case Dynamics::kDrift: {
      const double phase = item.address * 0.7;
      const double value = DecodeN2Real(static_cast<uint16_t>(item.stored)) +
                           kDriftAmplitude * std::sin(2 * kPi * now / kDriftPeriod + phase);
      return EncodeN2Real(value);
    }
    case Dynamics::kCount: {
      const double elapsed = now > item.since ? std::floor(now - item.since) : 0.0;
      return static_cast<uint32_t>(item.stored + static_cast<uint32_t>(std::fmod(elapsed, 4294967296.0)));
    }
    case Dynamics::kClockWord:
      return ClockWordAt(now, item.clockOffsetMinutes);
    case Dynamics::kNone:
      break;
  }
  return item.stored;
}

void MemoryImage::Store(MemoryItem &item, uint32_t value, double now) {
  if (item.width < 4) value &= (1u << (8 * item.width)) - 1;
  if (item.dynamics == Dynamics::kClockWord) {
    // A write sets the clock: keep the distance between the written time of
    // the week and the host's.
    long delta = WeekMinutesOf(value) - WeekMinutesOf(ClockWordAt(now, 0));
    item.clockOffsetMinutes = ((delta % kMinutesPerWeek) + kMinutesPerWeek) % kMinutesPerWeek;
  }
  item.stored = value;
  item.since = now;
}

bool MemoryImage::FindPoint(const std::string &module, const std::string &mnemonic, PointRef *ref) const {
  if (family_ == nullptr) return false;
  for (uint16_t m = 0; m < family_->moduleCount; ++m) {
    const ModuleEntry &entry = family_->modules[m];
    if (module != Name(entry.name, sizeof entry.name)) continue;
    for (uint16_t p = 0; p < entry.pointCount; ++p) {
      const PointEntry &point = entry.points[p];
      if (mnemonic != Name(point.mnemonic, sizeof point.mnemonic)) continue;
      ref->module = &entry;
      ref->point = &point;
      ref->inArea = IsClockArea(entry) || IsScheduleArea(entry, point);
      ref->address = static_cast<uint16_t>(entry.base + point.offset);
      return true;
    }
    return false;
  }
  return false;
}

bool MemoryImage::SetPoint(const PointRef &ref, const std::string &text, double now, std::string *error) {
  MemoryItem *item = Find(ref.address);
  if (ref.inArea || item == nullptr) {
    *error = "not a memory point";
    return false;
  }
  const PointEntry &point = *ref.point;
  uint32_t value = item->stored;
  long long number = 0;
  int shift = 0;
  uint16_t mask = 0;
  if (point.type == kTypeN2Real) {
    char *end = nullptr;
    double real = strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(real) || std::fabs(real) > 32752) {
      *error = "expected a real number up to 32752, not '" + text + "'";
      return false;
    }
    value = EncodeN2Real(real);
  } else if (point.bit != kWholeItem) {
    if (text != "0" && text != "1") {
      *error = "expected 0 or 1 for a bit, not '" + text + "'";
      return false;
    }
    value = text == "1" ? (value | (1u << point.bit)) : (value & ~(1u << point.bit));
  } else if (FieldOf(point.type, &shift, &mask)) {
    if (!ParseNumber(text, &number) || number < 0 || number > mask) {
      *error = "expected a field value 0.." + std::to_string(mask) + ", not '" + text + "'";
      return false;
    }
    value = (value & ~(static_cast<uint32_t>(mask) << shift)) | (static_cast<uint32_t>(number) << shift);
  } else {
    const long long limit = item->width == 4 ? 0xFFFFFFFFll : 0xFFFFll;
    if (!ParseNumber(text, &number) || number < -limit / 2 - 1 || number > limit) {
      *error = "expected an integer for a " + std::to_string(item->width) + "-byte item, not '" + text + "'";
      return false;
    }
    value = static_cast<uint32_t>(number);
  }
  Store(*item, value, now);
  return true;
}

}  // namespace n2sim
