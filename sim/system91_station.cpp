#include "sim/system91_station.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "n2/protocol.h"

namespace n2sim {

namespace {

// Smallest frame: station, command and the two check bytes as hex, and the sum.
constexpr size_t kMinFrameText = 2 * 4 + 2;

StationReply Data(const char *kind, const std::string &dataText, const std::string &description) {
  StationReply reply;
  reply.line = System91DataReply(dataText);
  reply.hasSum = true;
  reply.kind = kind;
  reply.description = description;
  return reply;
}

// The item as its bytes go on the wire: low byte first.
std::string ItemHex(uint32_t value, int width) {
  std::string text;
  for (int i = 0; i < width; ++i) text += HexByte(static_cast<uint8_t>(value >> (8 * i)));
  return text;
}

uint32_t ItemFromBytes(const uint8_t *bytes, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  return value;
}

// "1217 AI01 HR=0x64B0 (100)": an item and its value for the trace.
std::string DescribeItem(const MemoryItem &item, uint32_t value) {
  char text[96];
  snprintf(text, sizeof text, "%u %s=0x%0*X", item.address, item.label.c_str(), item.width * 2, value);
  std::string out = text;
  if (item.real) {
    snprintf(text, sizeof text, " (%g)", DecodeN2Real(static_cast<uint16_t>(value)));
    out += text;
  }
  return out;
}

std::string Hex4(const uint8_t *bytes) { return HexByte(bytes[0]) + HexByte(bytes[1]); }

int FromBcd(uint8_t bcd) {
  if ((bcd >> 4) > 9 || (bcd & 0x0F) > 9) return -1;
  return (bcd >> 4) * 10 + (bcd & 0x0F);
}

bool StartsWith(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

// "HH:MM" -> minutes of the day 0..1440.
bool ParseTimeOfDay(const std::string &text, int *minutes) {
  int hours = 0, mins = 0;
  char extra = 0;
  if (sscanf(text.c_str(), "%d:%d%c", &hours, &mins, &extra) != 2) return false;
  if (hours < 0 || mins < 0 || mins > 59 || hours * 60 + mins > 1440) return false;
  *minutes = hours * 60 + mins;
  return true;
}

// "0x1F" as a mask, or day digits "12345" (1 Monday .. 7 Sunday, 8 the
// holiday class of bit 7).
bool ParseDays(const std::string &text, uint8_t *mask) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    char *end = nullptr;
    unsigned long value = strtoul(text.c_str(), &end, 16);
    if (*end != '\0' || value > 0xFF) return false;
    *mask = static_cast<uint8_t>(value);
    return true;
  }
  if (text.empty()) return false;
  uint8_t bits = 0;
  for (char c : text) {
    if (c < '1' || c > '8') return false;
    bits |= static_cast<uint8_t>(1u << (c - '1'));
  }
  *mask = bits;
  return true;
}

}  // namespace

const FamilyTable *TableOf(Family family) {
  for (const FamilyTable &table : kFamilies) {
    if (strcmp(table.name, FamilyName(family)) == 0) return &table;
  }
  return nullptr;
}

System91Station::System91Station(int address, Family family, bool dynamics, long clockOffsetSeconds,
                                 double now)
    : Station(address, family), clock_(clockOffsetSeconds) {
  const FamilyTable *table = TableOf(family);
  if (table != nullptr) memory_.Build(*table, dynamics, now);
}

StationReply System91Station::Handle(std::string_view frame, double now) {
  const std::string_view text = frame.substr(1);
  if (text.size() < kMinFrameText) return Refuse(kNakDataField, "frame too short");
  const std::string_view body = text.substr(0, text.size() - 2);
  Bytes sum;
  if (!ParseHex(text.substr(text.size() - 2), &sum)) return Refuse(kNakDataField, "frame sum is not hex");
  if (CharSum(body) != sum[0]) {
    return Refuse(kNakChecksum, "frame sum " + HexByte(sum[0]) + ", expected " + HexByte(CharSum(body)));
  }
  Bytes message;
  if (!ParseHex(body, &message)) return Refuse(kNakDataField, "not upper-case hex text");
  if (message.size() < 4) return Refuse(kNakDataField, "frame too short");
  const uint8_t *check = &message[message.size() - 2];
  message.resize(message.size() - 2);
  uint8_t expected[2];
  FletcherBytes(message.data(), message.size(), expected);
  if (check[0] != expected[0] || check[1] != expected[1]) {
    return Refuse(kNakChecksum, "Fletcher check " + Hex4(check) + ", expected " + Hex4(expected));
  }

  const uint8_t command = message[1];
  const size_t n = message.size();
  const uint16_t page = static_cast<uint16_t>((command & 0x03) << 8);
  if (command >= kCmdMemReadPaged && command <= kCmdMemReadPaged + 3) {
    if (n != 3) return Refuse(kNakDataField, "memory read of " + std::to_string(n) + " bytes");
    return ReadItems(static_cast<uint16_t>(page | message[2]), 1, "mem-read", now);
  }
  if (command == kCmdMemReadFull) {
    if (n != 4) return Refuse(kNakDataField, "memory read of " + std::to_string(n) + " bytes");
    return ReadItems(static_cast<uint16_t>(message[2] | (message[3] << 8)), 1, "mem-read", now);
  }
  if (command >= kCmdBlockReadPaged && command <= kCmdBlockReadPaged + 3) {
    if (n != 4) return Refuse(kNakDataField, "block read of " + std::to_string(n) + " bytes");
    return ReadItems(static_cast<uint16_t>(page | message[2]), message[3] + 1, "block-read", now);
  }
  if (command == kCmdBlockReadFull) {
    if (n != 5) return Refuse(kNakDataField, "block read of " + std::to_string(n) + " bytes");
    return ReadItems(static_cast<uint16_t>(message[2] | (message[3] << 8)), message[4] + 1, "block-read",
                     now);
  }
  if (command >= kCmdMemWritePaged && command <= kCmdMemWritePaged + 3) {
    if (n < 4) return Refuse(kNakDataField, "memory write without data");
    return WriteItems(static_cast<uint16_t>(page | message[2]), &message[3], n - 3, "mem-write", now);
  }
  if (command == kCmdMemWriteFull) {
    if (n < 5) return Refuse(kNakDataField, "memory write without data");
    return WriteItems(static_cast<uint16_t>(message[2] | (message[3] << 8)), &message[4], n - 4, "mem-write",
                      now);
  }
  if (command == kCmdAreaRead) return AreaRead(message, now);
  if (command == kCmdAreaWrite) return AreaWrite(message, now);
  return Refuse(kNakUndefinedCommand, "unknown command 0x" + HexByte(command));
}

StationReply System91Station::ReadItems(uint16_t address, int count, const char *kind, double now) {
  std::string data;
  std::string description = strcmp(kind, "block-read") == 0 ? "block read " : "memory read ";
  if (count > 1) description += std::to_string(count) + " items: ";
  for (int i = 0; i < count; ++i) {
    const uint32_t at = static_cast<uint32_t>(address) + static_cast<uint32_t>(i);
    const MemoryItem *item = at <= 0xFFFF ? memory_.Find(static_cast<uint16_t>(at)) : nullptr;
    if (item == nullptr) return Refuse(kNakNoSuchPoint, "no item at address " + std::to_string(at));
    const uint32_t value = memory_.ValueAt(*item, now);
    data += ItemHex(value, item->width);
    description += (i > 0 ? ", " : "") + DescribeItem(*item, value);
  }
  return Data(kind, data, description);
}

StationReply System91Station::WriteItems(uint16_t address, const uint8_t *data, size_t size, const char *kind,
                                         double now) {
  // Check the whole write before changing anything.
  std::vector<MemoryItem *> targets;
  size_t used = 0;
  uint32_t at = address;
  while (used < size) {
    MemoryItem *item = at <= 0xFFFF ? memory_.Find(static_cast<uint16_t>(at)) : nullptr;
    if (item == nullptr) return Refuse(kNakNoSuchPoint, "no item at address " + std::to_string(at));
    if (!item->writable) return Refuse(kNakWrongCommand, "item " + item->label + " is read only");
    if (used + item->width > size) {
      return Refuse(kNakDataField, std::to_string(size) + " data bytes do not fill the " +
                                       std::to_string(item->width) + "-byte item at " + std::to_string(at));
    }
    targets.push_back(item);
    used += item->width;
    ++at;
  }
  std::string description = "memory write ";
  used = 0;
  for (MemoryItem *item : targets) {
    const uint32_t value = ItemFromBytes(data + used, item->width);
    memory_.Store(*item, value, now);
    description += (used > 0 ? ", " : "") + DescribeItem(*item, value);
    used += item->width;
  }
  return Acknowledge(kind, description);
}

StationReply System91Station::AreaRead(const Bytes &message, double now) {
  const size_t n = message.size();
  if (n < 3) return Refuse(kNakDataField, "area read without area code");
  const uint8_t area = message[2];
  if (area == kAreaTimeSchedule) {
    if (n != 6) return Refuse(kNakDataField, "schedule read of " + std::to_string(n) + " bytes");
    const int offset = message[3], count = message[4] + 1, schedule = message[5];
    if (!hasAreas()) return Refuse(kNakNoSuchPoint, "no time schedules in a " + std::string(FamilyName(family())));
    std::string data;
    for (int i = 0; i < count; ++i) {
      if (!ScheduleBank::Exists(schedule, offset + i)) {
        return Refuse(kNakNoSuchPoint, "no schedule item TS0" + std::to_string(schedule + 1) + " offset " +
                                           std::to_string(offset + i));
      }
      data += schedules_.ItemText(schedule, offset + i);
    }
    return Data("area-read", data,
                "schedule read TS0" + std::to_string(schedule + 1) + " offset " + std::to_string(offset) +
                    " x" + std::to_string(count) + " = " + data);
  }
  if (area == kAreaRealTimeClock) {
    if (n != 5) return Refuse(kNakDataField, "clock read of " + std::to_string(n) + " bytes");
    const int first = message[3], count = message[4] + 1;
    if (!hasAreas()) return Refuse(kNakNoSuchPoint, "no real-time clock in a " + std::string(FamilyName(family())));
    if (first + count > kClockItems) {
      return Refuse(kNakNoSuchPoint, "no clock items " + std::to_string(first) + ".." + std::to_string(first + count - 1));
    }
    const std::string data = clock_.ItemText(first, count, now);
    return Data("area-read", data,
                "clock read items " + std::to_string(first) + " x" + std::to_string(count) + " = " + data);
  }
  return Refuse(kNakDataField, "unknown area 0x" + HexByte(area));
}

StationReply System91Station::AreaWrite(const Bytes &message, double now) {
  const size_t n = message.size();
  if (n < 3) return Refuse(kNakDataField, "area write without area code");
  const uint8_t area = message[2];
  if (area == kAreaTimeSchedule) {
    if (n < 6) return Refuse(kNakDataField, "schedule write of " + std::to_string(n) + " bytes");
    const int offset = message[3], count = message[4] + 1, schedule = message[5];
    if (!hasAreas()) return Refuse(kNakNoSuchPoint, "no time schedules in a " + std::string(FamilyName(family())));
    if (n - 6 != static_cast<size_t>(2 * count)) {
      return Refuse(kNakDataField, std::to_string(n - 6) + " data bytes for " + std::to_string(count) + " schedule items");
    }
    ScheduleBank updated = schedules_;
    std::string description = "schedule write TS0" + std::to_string(schedule + 1);
    for (int i = 0; i < count; ++i) {
      if (!ScheduleBank::Exists(schedule, offset + i)) {
        return Refuse(kNakNoSuchPoint, "no schedule item offset " + std::to_string(offset + i));
      }
      const uint8_t a = message[6 + 2 * i], b = message[7 + 2 * i];
      if (!updated.Write(schedule, offset + i, a, b)) {
        return Refuse(kNakDataField, "bad schedule data " + HexByte(a) + HexByte(b));
      }
      description += " offset " + std::to_string(offset + i) + " = " + updated.ItemText(schedule, offset + i);
    }
    schedules_ = updated;
    return Acknowledge("area-write", description);
  }
  if (area == kAreaRealTimeClock) {
    if (n < 5) return Refuse(kNakDataField, "clock write of " + std::to_string(n) + " bytes");
    const int first = message[3], count = message[4] + 1;
    if (!hasAreas()) return Refuse(kNakNoSuchPoint, "no real-time clock in a " + std::string(FamilyName(family())));
    if (n - 5 != static_cast<size_t>(count)) {
      return Refuse(kNakDataField, std::to_string(n - 5) + " data bytes for " + std::to_string(count) + " clock items");
    }
    if (first + count > kClockItems) return Refuse(kNakNoSuchPoint, "no such clock items");
    std::vector<int> values;
    for (int i = 0; i < count; ++i) {
      const int item = first + i;
      if (item == 0 || item == 4) return Refuse(kNakWrongCommand, "clock item " + std::to_string(item) + " is read only");
      const int value = FromBcd(message[5 + i]);
      if (value < 0) return Refuse(kNakDataField, "clock value " + HexByte(message[5 + i]) + " is not BCD");
      values.push_back(value);
    }
    if (!clock_.SetItems(first, values, now)) return Refuse(kNakDataField, "no such date or time");
    return Acknowledge("area-write", "clock write items " + std::to_string(first) + " x" +
                                         std::to_string(count) + ", clock now " + clock_.ItemText(1, 3, now) +
                                         " " + clock_.ItemText(5, 3, now));
  }
  return Refuse(kNakDataField, "unknown area 0x" + HexByte(area));
}

bool System91Station::ApplyValue(const ValueSetting &setting, double now, std::string *error) {
  if (!setting.first.empty() && setting.first[0] == '@') {
    char *end = nullptr;
    const unsigned long address = strtoul(setting.first.c_str() + 1, &end, 0);
    MemoryItem *item = address <= 0xFFFF && *end == '\0' ? memory_.Find(static_cast<uint16_t>(address)) : nullptr;
    if (item == nullptr) {
      *error = "no item at " + setting.first;
      return false;
    }
    const unsigned long long value = strtoull(setting.value.c_str(), &end, 0);
    if (setting.value.empty() || *end != '\0' || (item->width < 4 && value >> (8 * item->width)) ||
        value > 0xFFFFFFFFull) {
      *error = "expected a " + std::to_string(item->width) + "-byte item value, not '" + setting.value + "'";
      return false;
    }
    memory_.Store(*item, static_cast<uint32_t>(value), now);
    return true;
  }
  PointRef ref;
  if (!memory_.FindPoint(setting.first, setting.second, &ref)) {
    *error = "no point " + setting.first + " " + setting.second + " in a " + FamilyName(family());
    return false;
  }
  if (ref.inArea) return ApplyAreaValue(ref, setting.value, now, error);
  return memory_.SetPoint(ref, setting.value, now, error);
}

bool System91Station::ApplyAreaValue(const PointRef &ref, const std::string &text, double now,
                                     std::string *error) {
  (void)now;
  const std::string module(ref.module->name);
  if (!StartsWith(module, "TS")) {
    *error = "the clock follows the host; set its offset with station ... clock=<seconds>";
    return false;
  }
  const int schedule = atoi(module.c_str() + 2) - 1;
  const int offset = ref.point->offset;
  if (!ScheduleBank::Exists(schedule, offset)) {
    *error = "no such schedule item";
    return false;
  }
  if (ScheduleBank::KindOf(offset) == ScheduleBank::ItemKind::kDays) {
    uint8_t mask = 0;
    if (!ParseDays(text, &mask)) {
      *error = "expected day digits 1..8 or a 0x mask, not '" + text + "'";
      return false;
    }
    schedules_.SetMask(schedule, offset, mask);
    return true;
  }
  int minutes = 0;
  if (!ParseTimeOfDay(text, &minutes)) {
    *error = "expected HH:MM up to 24:00, not '" + text + "'";
    return false;
  }
  schedules_.SetMinutes(schedule, offset, minutes);
  return true;
}

}  // namespace n2sim
