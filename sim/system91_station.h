// A DX9100, XT9100 or TC9100 station: checks a System 91 request frame as the
// device does (frame sum, hex text, Fletcher check bytes, known command, sizes,
// existing and writable items) and answers memory, block and area reads and
// writes from its memory image, time schedules and real-time clock.
//
// Reply forms: a read gets "A" + data + four check characters + frame sum; a
// write gets "A"; a bad request gets "N" + a two-digit code (wire.h):
// 01 unknown command, 02 frame sum or Fletcher check wrong, 05 not hex, wrong
// length, count or data value, 10 no such item, area or schedule, 11 write to
// a read-only item or clock item.
#ifndef ZAMKT_SIM_SYSTEM91_STATION_H
#define ZAMKT_SIM_SYSTEM91_STATION_H

#include <stdint.h>

#include "sim/clock_schedule.h"
#include "sim/memory_image.h"
#include "sim/station.h"
#include "sim/wire.h"

namespace n2sim {

class System91Station : public Station {
 public:
  // family is DX9100, XT9100 or TC9100; only the DX9100 has the schedule and
  // clock areas. dynamics: inputs drift and counters count.
  System91Station(int address, Family family, bool dynamics, long clockOffsetSeconds, double now);

  StationReply Handle(std::string_view frame, double now) override;
  bool ApplyValue(const ValueSetting &setting, double now, std::string *error) override;
  // A System 91 controller holds its memory items and time schedules in
  // non-volatile memory and its real-time clock runs on a battery, and the
  // System 91 protocol has no session to set up: a restart loses only the
  // request it was taking.
  void Restart() override {}

  MemoryImage &memory() { return memory_; }
  const MemoryImage &memory() const { return memory_; }
  ScheduleBank &schedules() { return schedules_; }
  DeviceClock &clock() { return clock_; }
  bool hasAreas() const { return family() == Family::kDX9100; }

 private:
  StationReply ReadItems(uint16_t address, int count, const char *kind, double now);
  StationReply WriteItems(uint16_t address, const uint8_t *data, size_t size, const char *kind, double now);
  StationReply AreaRead(const Bytes &message, double now);
  StationReply AreaWrite(const Bytes &message, double now);
  bool ApplyAreaValue(const PointRef &ref, const std::string &text, double now, std::string *error);

  MemoryImage memory_;
  ScheduleBank schedules_;
  DeviceClock clock_;
};

// The table of a System 91 family, or null for N2 Open.
const FamilyTable *TableOf(Family family);

}  // namespace n2sim

#endif  // ZAMKT_SIM_SYSTEM91_STATION_H
