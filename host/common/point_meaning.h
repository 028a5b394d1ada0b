// What a gate's number means to the user, decided from the driver's parse
// results and the GAS: a plain number, an on/off state, a schedule time, the
// days of a schedule, a clock time or date, or the override state of an N2
// Open object.
#ifndef ZAMKT_HOST_COMMON_POINT_MEANING_H
#define ZAMKT_HOST_COMMON_POINT_MEANING_H

#include <stdint.h>

#include <string_view>

namespace n2host {

enum class PointKind {
  kPlain,         // a number as the device keeps it
  kDigital,       // 0 off, 1 on
  kScheduleTime,  // time-schedule STARTn / ENDn: minutes since midnight
  kScheduleDays,  // time-schedule DAYSn: digits naming days 1..7 (Monday..Sunday)
  kClockTime,     // real-time clock TIME: seconds since midnight
  kClockDate,     // real-time clock DATE: day number, day 1 = 1980-01-01
  kOverride       // an N2 Open override tag ("_O"): 1 while overridden
};

// The parse's special kinds of System 91 gates and the N2 Open region codes.
constexpr int32_t kSpecialSchedule = 84;  // 'T'
constexpr int32_t kSpecialClock = 82;     // 'R'
constexpr int32_t kFirstN2OpenRegion = 1001;
constexpr int32_t kFirstOverrideRegion = 1008;
constexpr int32_t kLastN2OpenRegion = 1012;
constexpr int32_t kN2OpenByteRegion = 1007;  // BD: one byte per object

struct PointMeaning {
  PointKind kind = PointKind::kPlain;
  bool n2open = false;  // the gate is an object of an N2 Open station
  int32_t region = 0;   // the parse's region code, kept for the value's width
};

// From the region code that command 3 returned for the gate, the GAS and the
// gate data type.
PointMeaning MeaningOf(std::string_view gas, int32_t region, int dataType);

// True for the N2 Open region codes.
inline bool IsN2OpenRegion(int32_t region) { return region >= kFirstN2OpenRegion && region <= kLastN2OpenRegion; }

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_POINT_MEANING_H
