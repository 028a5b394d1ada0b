#include "tests/soak/soak_checks.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>

#include "n2/protocol.h"
#include "sim/n2open_station.h"
#include "sim/wire.h"

namespace soak {

namespace {

using e2e::HostValue;

int64_t Uniform(std::mt19937 &random, int64_t low, int64_t high) {
  return std::uniform_int_distribution<int64_t>(low, high)(random);
}

std::string Format(const char *format, double value) {
  char text[64];
  snprintf(text, sizeof text, format, value);
  return text;
}

std::string MemoryToken(uint32_t raw, uint32_t mask) {
  char text[32];
  snprintf(text, sizeof text, "0x%X", raw & mask);
  return text;
}

std::string RealToken(double value) { return Format("%.9g", value); }

std::string ClockToken(const n2sim::ClockParts &p) {
  char text[48];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
  return text;
}

std::string ObjectToken(const N2OpenObject &o) {
  char text[96];
  snprintf(text, sizeof text, "own %.9g forced %.9g%s", o.own, o.forced, o.overridden ? " overridden" : "");
  return text;
}

// The bits of the item a memory write may change.
uint32_t MaskOf(const Gate &gate) {
  int shift = 0;
  uint32_t field = 0;
  switch (gate.kind) {
    case Kind::kWriteBit:
      return 1u << gate.point->bit;
    case Kind::kWriteField:
      e2e::FieldLayoutOf(gate.point->type, &shift, &field);
      return field << shift;
    case Kind::kWriteCounter:
      return 0xFFFFFFFFu;
    default:
      return 0xFFFF;  // reals and whole words
  }
}

uint32_t ItemOf(const PlantState &state, const Gate &gate) { return state.items.at(gate.station).at(gate.address); }

// A real the N2 real format holds exactly, so that the device keeps the very
// value the host wrote: sixteenths below 128, quarters below 512, whole
// numbers up to 2047, and zero.
float ExactReal(std::mt19937 &random) {
  switch (Uniform(random, 0, 3)) {
    case 0:
      return static_cast<float>(Uniform(random, -2047, 2047)) / 16;
    case 1:
      return static_cast<float>(Uniform(random, -2047, 2047)) / 4;
    case 2:
      return static_cast<float>(Uniform(random, -2047, 2047));
    default:
      return 0.0f;
  }
}

// A TC9100 clock word holds a valid time of the week only: minutes 0..59 in
// bits 0..5, hours 0..23 in 8..12, weekday 1..7 in 13..15.
uint16_t ClockFieldValue(uint16_t type, std::mt19937 &random) {
  switch (type) {
    case kTypeMinutes:
      return static_cast<uint16_t>(Uniform(random, 0, 59));
    case kTypeHours:
      return static_cast<uint16_t>(Uniform(random, 0, 23));
    default:
      return static_cast<uint16_t>(Uniform(random, 1, 7));
  }
}

uint16_t ClockWordValue(std::mt19937 &random) {
  return static_cast<uint16_t>(ClockFieldValue(kTypeMinutes, random) | ClockFieldValue(kTypeHours, random) << 8 |
                               ClockFieldValue(kTypeWeekday, random) << 13);
}

// The calendar date of a host day number (1 January 1980 is day 1).
void DateOfDayNumber(uint32_t day, n2sim::ClockParts *parts) {
  struct tm epoch = {};
  epoch.tm_year = 80;
  epoch.tm_mday = 1;
  const time_t t = timegm(&epoch) + static_cast<time_t>(day - 1) * 86400;
  struct tm date;
  gmtime_r(&t, &date);
  parts->year = date.tm_year + 1900;
  parts->month = date.tm_mon + 1;
  parts->day = date.tm_mday;
}

const N2OpenObject &ObjectOf(const PlantState &state, const Gate &gate) {
  return state.objects.at({gate.region, gate.element});
}

bool IsRead(Kind kind) { return kind == Kind::kRead || kind == Kind::kN2OpenRead || kind == Kind::kN2OpenOverrideRead; }
bool IsWrite(Kind kind) { return !IsRead(kind) && kind != Kind::kBlockRead && kind != Kind::kWarmStart; }

// The bytes of the host's buffer that a good read fills.
void FilledBytes(const Gate &gate, size_t *first, size_t *end) {
  const bool wide = gate.dataType == kGateReal || gate.dataType == kGateInt32;
  if (gate.kind == Kind::kBlockRead && wide) {
    *first = 0;
    *end = 4 * static_cast<size_t>(gate.items);
  } else if (wide) {
    *first = 0;
    *end = 4;
  } else {
    *first = 2;
    *end = 4;
  }
}

void CheckUntouched(const HostValue &value, size_t first, size_t end, const char *what,
                    std::vector<std::string> *problems) {
  for (size_t i = 0; i < sizeof value.bytes; ++i) {
    if ((i < first || i >= end) && value.bytes[i] != 0xEE) {
      problems->push_back(std::string(what) + ": byte " + std::to_string(i) + " of the host's buffer changed");
      return;
    }
  }
}

void CheckBlock(const Request &request, const Outcome &outcome, std::vector<std::string> *problems) {
  const Gate &gate = *request.gate;
  if (gate.dataType == kGateInt16) {
    const e2e::Reading got = e2e::ReadingOf(request.value, gate.dataType);
    if (!e2e::SameReading(got, outcome.readingAfter, gate.dataType)) {
      problems->push_back("block read gave " + e2e::Describe(got, gate.dataType) + ", the station holds " +
                          e2e::Describe(outcome.readingAfter, gate.dataType));
    }
    return;
  }
  const std::map<uint16_t, uint32_t> &items = outcome.after.items.at(gate.station);
  for (int i = 0; i < gate.items; ++i) {
    const uint32_t raw = items.at(static_cast<uint16_t>(gate.address + i));
    e2e::Reading expected;
    if (gate.dataType == kGateReal) {
      expected.real = static_cast<float>(n2sim::DecodeN2Real(static_cast<uint16_t>(raw)));
    } else {
      expected.number = raw;
    }
    e2e::Reading got;
    got.real = request.value.real(i);
    got.number = request.value.number(i);
    if (!e2e::SameReading(got, expected, gate.dataType)) {
      problems->push_back("block read item " + std::to_string(i) + " gave " + e2e::Describe(got, gate.dataType) +
                          ", the station holds " + e2e::Describe(expected, gate.dataType));
    }
  }
}

void CheckWrite(const Request &request, const Outcome &outcome, std::vector<std::string> *problems) {
  const Gate &gate = *request.gate;
  const std::string now = TargetOf(gate, outcome.after);
  const std::string old = TargetOf(gate, outcome.before);
  std::vector<std::string> fits;
  if (outcome.status == 0) {
    fits = {request.target};
  } else {
    fits = {old, request.target};
  }
  // A restart releases N2 Open overrides, the one just written among them:
  // the object then shows its own value again. After a late acknowledgement
  // the driver may even have taken another exchange's "A" for the write's.
  if (outcome.verdict.resetSeen && (outcome.status != 0 || outcome.verdict.loose)) {
    fits.insert(fits.end(), request.released.begin(), request.released.end());
    if (outcome.status == 0) fits.push_back(old);
  }
  if (std::find(fits.begin(), fits.end(), now) != fits.end()) return;
  if (outcome.status == 0) {
    problems->push_back("write of " + request.written + " acknowledged (status 0), but the station holds " + now +
                        " instead of " + request.target);
  } else {
    problems->push_back("failed write of " + request.written + " (status " + std::to_string(outcome.status) +
                        ") left " + now + ", neither the old " + old + " nor the new " + request.target);
  }
}

}  // namespace

Request MakeRequest(const Gate &gate, const PlantState &before, std::mt19937 &random) {
  Request request;
  request.gate = &gate;
  uint32_t raw = 0;
  switch (gate.kind) {
    case Kind::kWriteReal: {
      const float v = ExactReal(random);
      request.value = HostValue::Real(v);
      request.written = RealToken(v);
      request.target = RealToken(v);
      return request;
    }
    case Kind::kWriteBit: {
      static constexpr uint16_t kWords[] = {0, 1, 0x100, 0xFFFF};  // any nonzero word sets the bit
      const uint16_t w = kWords[Uniform(random, 0, 3)];
      const uint32_t mask = MaskOf(gate);
      raw = (ItemOf(before, gate) & ~mask) | (w != 0 ? mask : 0);
      request.value = HostValue::Word(w);
      request.written = std::to_string(w);
      request.target = MemoryToken(raw, mask);
      return request;
    }
    case Kind::kWriteField: {
      int shift = 0;
      uint32_t field = 0;
      e2e::FieldLayoutOf(gate.point->type, &shift, &field);
      // Bits beyond the field go too: only the field's own may land.
      uint16_t w = static_cast<uint16_t>(Uniform(random, 0, 0xFFFF));
      if (gate.clockWord) {
        w = static_cast<uint16_t>((w & ~field) | ClockFieldValue(gate.point->type, random));
      }
      const uint32_t mask = MaskOf(gate);
      raw = (ItemOf(before, gate) & ~mask) | ((w & field) << shift);
      request.value = HostValue::Word(w);
      request.written = std::to_string(w);
      request.target = MemoryToken(raw, mask);
      return request;
    }
    case Kind::kWriteWord: {
      const uint16_t w = gate.clockWord ? ClockWordValue(random) : static_cast<uint16_t>(Uniform(random, 0, 0xFFFF));
      request.value = HostValue::Word(w);
      request.written = std::to_string(w);
      request.target = MemoryToken(w, MaskOf(gate));
      return request;
    }
    case Kind::kWriteCounter: {
      const uint32_t v = static_cast<uint32_t>(Uniform(random, 0, 0xFFFFFFFFll));
      request.value = HostValue::Long(v);
      request.written = std::to_string(v);
      request.target = MemoryToken(v, MaskOf(gate));
      return request;
    }
    case Kind::kWriteSchedule: {
      uint32_t v = 0;
      int kept = 0;
      if (n2sim::ScheduleBank::KindOf(gate.point->offset) == n2sim::ScheduleBank::ItemKind::kDays) {
        // Days 1..7 in any mix, or the day class of bit 7 alone (which the
        // host's numbers cannot combine with days).
        const uint8_t mask = Uniform(random, 0, 9) == 0 ? 0x80 : static_cast<uint8_t>(Uniform(random, 1, 0x7F));
        v = e2e::DayDigits(mask);
        kept = mask;
      } else {
        // Minutes of the day; 23:59 goes out as 24:00.
        const int64_t pick = Uniform(random, 0, 9);
        v = static_cast<uint32_t>(pick == 0 ? 1439 : pick == 1 ? 1440 : pick == 2 ? 0 : Uniform(random, 0, 1440));
        kept = v == 1439 ? 1440 : static_cast<int>(v);
      }
      request.value = HostValue::Long(v);
      request.written = std::to_string(v);
      request.target = std::to_string(kept);
      return request;
    }
    case Kind::kWriteClock: {
      n2sim::ClockParts parts = before.clocks.at(gate.station).parts;
      uint32_t v = 0;
      if (strncmp(gate.point->mnemonic, "TIME", 4) == 0) {
        v = static_cast<uint32_t>(Uniform(random, 0, 86399));
        parts.hour = static_cast<int>(v / 3600);
        parts.minute = static_cast<int>(v / 60 % 60);
        parts.second = static_cast<int>(v % 60);
      } else {
        v = static_cast<uint32_t>(Uniform(random, e2e::DayNumber(2000, 1, 1), e2e::DayNumber(2037, 12, 31)));
        DateOfDayNumber(v, &parts);
      }
      request.value = HostValue::Long(v);
      request.written = std::to_string(v);
      request.target = ClockToken(parts);
      return request;
    }
    case Kind::kN2OpenWrite: {
      N2OpenObject object = ObjectOf(before, gate);
      object.overridden = true;
      if (gate.dataType == kGateReal) {
        const float v = Uniform(random, 0, 9) == 0 ? 1.0e6f : static_cast<float>(Uniform(random, -80000, 80000)) / 8;
        request.value = HostValue::Real(v);
        request.written = RealToken(v);
        object.forced = v;
      } else {
        static constexpr uint16_t kBinary[] = {0, 1, 2, 0x100};  // the low byte goes out
        const uint16_t w = gate.region == n2sim::kBO ? kBinary[Uniform(random, 0, 3)]
                                                     : static_cast<uint16_t>(Uniform(random, 0, 0xFFFF));
        request.value = HostValue::Word(w);
        request.written = std::to_string(w);
        if (gate.region == n2sim::kAD) object.forced = w;
        if (gate.region == n2sim::kBD) object.forced = w & 0xFF;
        if (gate.region == n2sim::kBO) object.forced = (w & 0xFF) != 0 ? 1 : 0;
      }
      request.target = ObjectToken(object);
      object.overridden = false;
      N2OpenObject released = ObjectOf(before, gate);
      released.overridden = false;
      request.released = {ObjectToken(object), ObjectToken(released)};
      return request;
    }
    case Kind::kN2OpenRelease: {
      N2OpenObject object = ObjectOf(before, gate);
      object.overridden = false;
      request.value = HostValue::Word(1);
      request.written = "release";
      request.target = ObjectToken(object);
      request.released = {request.target};
      return request;
    }
    default:
      return request;  // reads and warm starts: the buffer keeps its 0xEE pattern
  }
}

Plan PlanOf(const Gate &gate, bool initialised) {
  Plan plan;
  plan.station = gate.station;
  plan.initialised = initialised;
  const bool inArea = gate.parsed.region == kSpecialSchedule || gate.parsed.region == kSpecialClock;
  switch (gate.kind) {
    case Kind::kRead:
      plan.procedure = Procedure::kSystem91Read;
      plan.frame = inArea ? Frame::kAreaRead : Frame::kMemRead;
      break;
    case Kind::kBlockRead:
      plan.procedure = Procedure::kSystem91Read;
      plan.frame = Frame::kBlockRead;
      break;
    case Kind::kWriteReal:
    case Kind::kWriteCounter:
      plan.procedure = Procedure::kSystem91Write;
      plan.frame = Frame::kMemWrite;
      break;
    case Kind::kWriteSchedule:
    case Kind::kWriteClock:
      plan.procedure = Procedure::kSystem91Write;
      plan.frame = Frame::kAreaWrite;
      break;
    case Kind::kWriteBit:
    case Kind::kWriteField:
    case Kind::kWriteWord:
      plan.procedure = Procedure::kReadModifyWrite;
      plan.frame = Frame::kMemWrite;
      break;
    case Kind::kN2OpenRead:
    case Kind::kN2OpenOverrideRead:
      plan.procedure = Procedure::kN2OpenRead;
      plan.frame = Frame::kItemRead;
      break;
    case Kind::kN2OpenWrite:
      plan.procedure = Procedure::kN2OpenWrite;
      plan.frame = Frame::kItemWrite;
      break;
    case Kind::kN2OpenRelease:
      plan.procedure = Procedure::kN2OpenWrite;
      plan.frame = Frame::kRelease;
      break;
    case Kind::kWarmStart:
      plan.procedure = gate.station == kN2Open ? Procedure::kN2OpenInit : Procedure::kNone;
      break;
  }
  return plan;
}

Allowance AllowanceOf(const Gate &gate, bool resetSeen) {
  Allowance allowance;
  allowance.releases = resetSeen;
  if (!IsWrite(gate.kind)) return allowance;
  allowance.station = gate.station;
  switch (gate.kind) {
    case Kind::kWriteSchedule:
      allowance.schedule = ScheduleOf(*gate.module);
      allowance.offset = gate.point->offset;
      break;
    case Kind::kWriteClock:
      allowance.clock = true;
      break;
    case Kind::kN2OpenWrite:
    case Kind::kN2OpenRelease:
      allowance.region = gate.region;
      allowance.element = gate.element;
      break;
    default:
      allowance.address = gate.address;
      allowance.mask = MaskOf(gate);
      break;
  }
  return allowance;
}

std::string TargetOf(const Gate &gate, const PlantState &state) {
  switch (gate.kind) {
    case Kind::kWriteReal:
      return RealToken(n2sim::DecodeN2Real(static_cast<uint16_t>(ItemOf(state, gate))));
    case Kind::kWriteSchedule:
      return std::to_string(
          state.schedules.at(gate.station)[ScheduleSlot(ScheduleOf(*gate.module), gate.point->offset)]);
    case Kind::kWriteClock:
      return ClockToken(state.clocks.at(gate.station).parts);
    case Kind::kN2OpenWrite:
    case Kind::kN2OpenRelease:
      return ObjectToken(ObjectOf(state, gate));
    default:
      return MemoryToken(ItemOf(state, gate), MaskOf(gate));
  }
}

std::vector<std::string> CheckRequest(const Request &request, const Outcome &outcome) {
  std::vector<std::string> problems;
  const Gate &gate = *request.gate;
  const Verdict &verdict = outcome.verdict;
  if (!verdict.problem.empty()) problems.push_back("exchanges: " + verdict.problem);
  if (std::find(verdict.allowed.begin(), verdict.allowed.end(), outcome.status) == verdict.allowed.end()) {
    std::string allowed;
    for (int32_t s : verdict.allowed) allowed += (allowed.empty() ? "" : " or ") + std::to_string(s);
    problems.push_back("status " + std::to_string(outcome.status) + ", the rules give " +
                       (allowed.empty() ? "none" : allowed) + (verdict.loose ? " (late reply)" : ""));
  }
  for (const std::string &change :
       ChangesOutside(outcome.before, outcome.after, AllowanceOf(gate, verdict.resetSeen))) {
    problems.push_back("changed beyond the request: " + change);
  }

  size_t first = 0, end = 0;
  FilledBytes(gate, &first, &end);
  if (IsRead(gate.kind) || gate.kind == Kind::kBlockRead) {
    if (outcome.status != 0) {
      CheckUntouched(request.value, 0, 0, "failed read", &problems);
    } else {
      CheckUntouched(request.value, first, end, "read", &problems);
      if (gate.kind == Kind::kBlockRead) {
        CheckBlock(request, outcome, &problems);
      } else {
        const e2e::Reading got = e2e::ReadingOf(request.value, gate.dataType);
        if (!e2e::SameReading(got, outcome.readingBefore, gate.dataType) &&
            !e2e::SameReading(got, outcome.readingAfter, gate.dataType)) {
          problems.push_back("read gave " + e2e::Describe(got, gate.dataType) + ", the station holds " +
                             e2e::Describe(outcome.readingAfter, gate.dataType));
        }
      }
    }
  }
  if (IsWrite(gate.kind)) CheckWrite(request, outcome, &problems);
  return problems;
}

}  // namespace soak
