#include "sim/n2open_station.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <cmath>
#include <cstring>

#include "n2/protocol.h"
#include "sim/wire.h"

namespace n2sim {

namespace {

constexpr const char *kRegionNames[kN2OpenRegions + 1] = {"", "AI", "BI", "AO", "BO", "AF", "AD", "BD"};
constexpr double kPi = 3.14159265358979323846;

bool IsFloatRegion(int region) { return region == kAI || region == kAO || region == kAF; }
bool IsBinaryRegion(int region) { return region == kBI || region == kBO; }

std::string FloatHex(float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return HexByte(static_cast<uint8_t>(bits >> 24)) + HexByte(static_cast<uint8_t>(bits >> 16)) +
         HexByte(static_cast<uint8_t>(bits >> 8)) + HexByte(static_cast<uint8_t>(bits));
}

std::string ObjectName(int region, int element) {
  char text[16];
  snprintf(text, sizeof text, "%s%03d", N2OpenRegionName(region), element);
  return text;
}

std::string Number(double value) {
  char text[32];
  snprintf(text, sizeof text, "%g", value);
  return text;
}

// A plausible starting value per region that differs from object to object.
double InitialValue(int region, int element) {
  switch (region) {
    case kAI: return 20.0 + 0.5 * element;
    case kBI: return element % 2;
    case kAO: return 10.0 * element;
    case kAF: return 1.5 * element;
    case kAD: return 100.0 * element;
    case kBD: return element;
    default: return 0;  // BO: off
  }
}

}  // namespace

const char *N2OpenRegionName(int region) {
  return region >= 1 && region <= kN2OpenRegions ? kRegionNames[region] : "?";
}

N2OpenStation::N2OpenStation(int address, int objects, bool initRequired, bool dynamics, double now)
    : Station(address, Family::kN2Open), objects_(objects), initRequired_(initRequired), dynamics_(dynamics) {
  (void)now;
  for (int region = 1; region <= kN2OpenRegions; ++region) {
    regions_[region].resize(objects);
    for (int element = 1; element <= objects; ++element) {
      regions_[region][element - 1].own = InitialValue(region, element);
    }
  }
}

const N2OpenStation::Object *N2OpenStation::Find(int region, int element) const {
  if (region < 1 || region > kN2OpenRegions || element < 1 || element > objects_) return nullptr;
  return &regions_[region][element - 1];
}

N2OpenStation::Object *N2OpenStation::FindMutable(int region, int element) {
  return const_cast<Object *>(Find(region, element));
}

double N2OpenStation::ValueOf(int region, int element, double now) const {
  const Object *object = Find(region, element);
  if (object == nullptr) return 0;
  if (object->overridden) return object->forced;
  if (region == kAI && dynamics_) {
    return object->own + 0.5 * std::sin(2 * kPi * now / 60.0 + element * 0.7);
  }
  return object->own;
}

StationReply N2OpenStation::Handle(std::string_view frame, double now) {
  const std::string_view text = frame.substr(1);
  // Smallest frame: the status request, station + "F" + sum.
  if (text.size() < 5) return Refuse(kNakDataField, "frame too short");
  const std::string_view body = text.substr(0, text.size() - 2);
  Bytes sum;
  if (!ParseHex(text.substr(text.size() - 2), &sum)) return Refuse(kNakDataField, "frame sum is not hex");
  if (CharSum(body) != sum[0]) {
    return Refuse(kNakChecksum, "frame sum " + HexByte(sum[0]) + ", expected " + HexByte(CharSum(body)));
  }
  if (body.size() == 3 && body[2] == kN2OpenStatusChar) return Acknowledge("n2open-status", "status poll");
  Bytes message;
  if (!ParseHex(body, &message)) return Refuse(kNakDataField, "not upper-case hex text");
  if (message.size() < 2) return Refuse(kNakDataField, "frame too short");
  const uint8_t command = message[1];
  const size_t n = message.size();
  if (command == kN2OpenIdentify) {
    if (n != 2) return Refuse(kNakDataField, "identify with data");
    identified_ = true;
    return Acknowledge("n2open-identify", "identify");
  }
  const bool isRead = command > kN2OpenReadBase && command <= kN2OpenReadBase + kN2OpenRegions;
  if (!isRead && command != kN2OpenWrite && command != kN2OpenRelease) {
    return Refuse(kNakUndefinedCommand, "unknown command 0x" + HexByte(command));
  }
  if (initRequired_ && !identified_) return Refuse(kNakDeviceReset, "item command before identify");
  if (isRead) {
    if (n != 4) return Refuse(kNakDataField, "item read of " + std::to_string(n) + " bytes");
    if (message[3] != kN2OpenReadAttribute) {
      return Refuse(kNakDataField, "unknown attribute 0x" + HexByte(message[3]));
    }
    return Read(command - kN2OpenReadBase, message[2] + 1, now);
  }
  if (n < 4) return Refuse(kNakDataField, "item command of " + std::to_string(n) + " bytes");
  if (command == kN2OpenRelease) {
    if (n != 4) return Refuse(kNakDataField, "release with data");
    return Release(message[2], message[3] + 1);
  }
  return Write(message[2], message[3] + 1, message.data() + 4, n - 4);
}

void N2OpenStation::Restart() {
  identified_ = false;
  for (std::vector<Object> &region : regions_) {
    for (Object &object : region) object.overridden = false;
  }
}

StationReply N2OpenStation::Read(int region, int element, double now) {
  const Object *object = Find(region, element);
  if (object == nullptr) return Refuse(kNakNoSuchPoint, "no object " + ObjectName(region, element));
  const double value = ValueOf(region, element, now);
  uint8_t status = object->overridden ? 0x02 : 0x00;
  if (IsBinaryRegion(region) && value != 0) status |= 0x40;
  std::string data;
  if (IsFloatRegion(region)) {
    data = HexByte(status) + FloatHex(static_cast<float>(value));
  } else if (IsBinaryRegion(region)) {
    data = HexByte(status);
  } else if (region == kAD) {
    const uint16_t word = static_cast<uint16_t>(value);
    data = HexByte(static_cast<uint8_t>(word >> 8)) + HexByte(static_cast<uint8_t>(word));
  } else {
    data = HexByte(status) + HexByte(static_cast<uint8_t>(value));
  }
  StationReply reply;
  reply.line = N2OpenDataReply(data);
  reply.hasSum = true;
  reply.kind = "n2open-read";
  reply.description = "read " + ObjectName(region, element) + " = " + Number(value) +
                      (object->overridden ? " (overridden)" : "");
  return reply;
}

StationReply N2OpenStation::Write(int region, int element, const uint8_t *data, size_t size) {
  Object *object = FindMutable(region, element);
  if (object == nullptr) return Refuse(kNakNoSuchPoint, "no object " + ObjectName(region, element));
  if (region == kAI || region == kBI) {
    return Refuse(kNakWrongCommand, "inputs cannot be written: " + ObjectName(region, element));
  }
  const size_t wanted = IsFloatRegion(region) ? 4 : region == kAD ? 2 : 1;
  if (size != wanted) {
    return Refuse(kNakDataField, std::to_string(size) + " data bytes for " + ObjectName(region, element));
  }
  double value = 0;
  if (IsFloatRegion(region)) {
    const uint32_t bits = (static_cast<uint32_t>(data[0]) << 24) | (static_cast<uint32_t>(data[1]) << 16) |
                          (static_cast<uint32_t>(data[2]) << 8) | data[3];
    float real = 0;
    std::memcpy(&real, &bits, sizeof real);
    if (!std::isfinite(real)) return Refuse(kNakDataField, "not a finite number");
    value = real;
  } else if (region == kAD) {
    value = (data[0] << 8) | data[1];
  } else if (region == kBO) {
    value = data[0] != 0 ? 1 : 0;
  } else {
    value = data[0];
  }
  object->forced = value;
  object->overridden = true;
  return Acknowledge("n2open-write", "override " + ObjectName(region, element) + " = " + Number(value));
}

StationReply N2OpenStation::Release(int region, int element) {
  Object *object = FindMutable(region, element);
  if (object == nullptr) return Refuse(kNakNoSuchPoint, "no object " + ObjectName(region, element));
  if (region == kAI || region == kBI) {
    return Refuse(kNakWrongCommand, "inputs have no override: " + ObjectName(region, element));
  }
  object->overridden = false;
  return Acknowledge("n2open-release", "release " + ObjectName(region, element));
}

bool N2OpenStation::ApplyValue(const ValueSetting &setting, double now, std::string *error) {
  (void)now;
  int region = 0;
  for (int r = 1; r <= kN2OpenRegions; ++r) {
    if (strcasecmp(setting.first.c_str(), kRegionNames[r]) == 0) region = r;
  }
  char *end = nullptr;
  const long element = strtol(setting.second.c_str(), &end, 10);
  Object *object = region != 0 && !setting.second.empty() && *end == '\0' ? FindMutable(region, static_cast<int>(element)) : nullptr;
  if (object == nullptr) {
    *error = "no N2 Open object " + setting.first + " " + setting.second;
    return false;
  }
  const double value = strtod(setting.value.c_str(), &end);
  bool ok = !setting.value.empty() && *end == '\0' && std::isfinite(value);
  if (IsBinaryRegion(region)) ok = ok && (value == 0 || value == 1);
  if (region == kAD) ok = ok && value >= 0 && value <= 0xFFFF && value == std::floor(value);
  if (region == kBD) ok = ok && value >= 0 && value <= 0xFF && value == std::floor(value);
  if (!ok) {
    *error = "value '" + setting.value + "' does not suit region " + std::string(kRegionNames[region]);
    return false;
  }
  object->own = value;
  return true;
}

}  // namespace n2sim
