#include "host/common/station_clock.h"

#include <stdio.h>

#include "host/common/calendar.h"
#include "host/common/gate_resolver.h"
#include "host/common/refusal.h"
#include "host/common/value_buffer.h"
#include "host/common/write_check.h"

namespace n2host {
namespace {

constexpr const char *kDayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr long kDaySeconds = 24L * 3600;
constexpr long kWeekSeconds = 7 * kDaySeconds;

std::string Gas(int station, const char *point) {
  char text[24];
  snprintf(text, sizeof text, "%03d%s", station, point);
  return text;
}

Gate GateOf(Channel &channel, int station, const char *point, int type) {
  GateSpec spec;
  spec.gas = Gas(station, point);
  spec.name = spec.gas;
  spec.type = type;
  return ResolveGate(channel, spec);
}

std::string Reason(const Channel &channel, int32_t status, const std::string &gas) {
  Refusal refusal = RefusalOf(channel.lastMessages());
  if (refusal.refused) return gas + ": the station refused: " + refusal.reason;
  return gas + ": " + StatusWord(status);
}

int32_t ReadInteger(Channel &channel, int station, const char *point, int type, int64_t *value, std::string *why) {
  Gate gate = GateOf(channel, station, point, type);
  if (!gate.valid) {
    *why = gate.spec.gas + ": " + (gate.problems.empty() ? "invalid gate" : gate.problems.front());
    return kStatusBadReply;
  }
  ValueBuffer buffer;
  int32_t status = channel.Read(gate, &buffer);
  if (status != kStatusOk) {
    *why = Reason(channel, status, gate.spec.gas);
    return status;
  }
  *value = buffer.Single(gate.type).integer;
  return kStatusOk;
}

int32_t WriteInteger(Channel &channel, int station, const char *point, int type, int64_t value, std::string *why) {
  Gate gate = GateOf(channel, station, point, type);
  if (!gate.valid) {
    *why = gate.spec.gas + ": " + (gate.problems.empty() ? "invalid gate" : gate.problems.front());
    return kStatusBadReply;
  }
  GateValue typed;
  typed.type = gate.type;
  typed.integer = value;
  std::string refusal = WriteRefusal(gate, typed);
  if (!refusal.empty()) {
    *why = refusal;
    return kStatusBadReply;
  }
  ValueBuffer buffer;
  buffer.Store(typed);
  int32_t status = channel.Write(gate, &buffer);
  if (status != kStatusOk) *why = Reason(channel, status, gate.spec.gas);
  return status;
}

}  // namespace

std::string ClockFamily(Channel &channel, int station) {
  if (channel.Parse(Gas(station, "RTCLTIME"), kGateInt32).status == 0) return "DX9100";
  if (channel.Parse(Gas(station, "TCGCMIN"), kGateInt16).status == 0) return "TC9100";
  return "";
}

int32_t ReadStationClock(Channel &channel, int station, StationClock *clock, std::string *why) {
  *clock = StationClock{};
  clock->family = ClockFamily(channel, station);
  int64_t a = 0, b = 0, c = 0;
  int32_t status;
  if (clock->family == "DX9100") {
    if ((status = ReadInteger(channel, station, "RTCLDATE", kGateInt32, &a, why)) != 0 ||
        (status = ReadInteger(channel, station, "RTCLTIME", kGateInt32, &b, why)) != 0 ||
        (status = ReadInteger(channel, station, "RTCLWDAY", kGateInt32, &c, why)) != 0) {
      return status;
    }
    clock->dayNumber = a;
    clock->secondsOfDay = static_cast<int>(b);
    clock->weekday = static_cast<int>(c);
    return kStatusOk;
  }
  if (clock->family == "TC9100") {
    if ((status = ReadInteger(channel, station, "TCGCMIN", kGateInt16, &a, why)) != 0 ||
        (status = ReadInteger(channel, station, "TCGCHOUR", kGateInt16, &b, why)) != 0 ||
        (status = ReadInteger(channel, station, "TCGCWDAY", kGateInt16, &c, why)) != 0) {
      return status;
    }
    clock->secondsOfDay = static_cast<int>(b * 3600 + a * 60);
    clock->weekday = static_cast<int>(c);
    return kStatusOk;
  }
  *why = "station " + std::to_string(station) + " has no clock (not a DX9100 or TC9100 to the driver)";
  return kStatusBadReply;
}

StationClock HostClock(const std::string &family, time_t now) {
  struct tm parts {};
  localtime_r(&now, &parts);
  StationClock clock;
  clock.family = family;
  clock.weekday = parts.tm_wday == 0 ? 7 : parts.tm_wday;
  if (family == "TC9100") {
    clock.secondsOfDay = parts.tm_hour * 3600 + parts.tm_min * 60;
  } else {
    clock.dayNumber = DayNumberOf(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
    clock.secondsOfDay = parts.tm_hour * 3600 + parts.tm_min * 60 + parts.tm_sec;
  }
  return clock;
}

int32_t SetStationClock(Channel &channel, int station, time_t now, std::string *why) {
  const std::string family = ClockFamily(channel, station);
  const StationClock host = HostClock(family, now);
  int32_t status;
  if (family == "DX9100") {
    // The weekday follows from the date in the device.
    if ((status = WriteInteger(channel, station, "RTCLDATE", kGateInt32, host.dayNumber, why)) != 0) return status;
    return WriteInteger(channel, station, "RTCLTIME", kGateInt32, host.secondsOfDay, why);
  }
  if (family == "TC9100") {
    if ((status = WriteInteger(channel, station, "TCGCWDAY", kGateInt16, host.weekday, why)) != 0 ||
        (status = WriteInteger(channel, station, "TCGCHOUR", kGateInt16, host.secondsOfDay / 3600, why)) != 0) {
      return status;
    }
    return WriteInteger(channel, station, "TCGCMIN", kGateInt16, host.secondsOfDay / 60 % 60, why);
  }
  *why = "station " + std::to_string(station) + " has no clock (not a DX9100 or TC9100 to the driver)";
  return kStatusBadReply;
}

long ClockOffsetSeconds(const StationClock &station, const StationClock &host) {
  if (station.dayNumber >= 0 && host.dayNumber >= 0) {
    return static_cast<long>((station.dayNumber - host.dayNumber) * kDaySeconds + station.secondsOfDay -
                             host.secondsOfDay);
  }
  long offset = ((station.weekday - host.weekday) * kDaySeconds + station.secondsOfDay - host.secondsOfDay) % kWeekSeconds;
  if (offset > kWeekSeconds / 2) offset -= kWeekSeconds;
  if (offset < -kWeekSeconds / 2) offset += kWeekSeconds;
  return offset;
}

std::string ClockText(const StationClock &clock) {
  char text[48];
  const int s = clock.secondsOfDay;
  const char *day = clock.weekday >= 1 && clock.weekday <= 7 ? kDayNames[clock.weekday - 1] : "?";
  if (clock.dayNumber < 0) {
    snprintf(text, sizeof text, "%02d:%02d %s", s / 3600 % 100, s / 60 % 60, day);
    return text;
  }
  snprintf(text, sizeof text, "%s %02d:%02d:%02d %s", IsoDateOf(clock.dayNumber).c_str(), s / 3600 % 100, s / 60 % 60,
           s % 60, day);
  return text;
}

}  // namespace n2host
