// The clocks of the stations: a DX9100's real-time clock (date, time of day
// and weekday) and a TC9100's minute, hour and weekday word, read and set
// through the driver as any gate is. zamhost clock shows them against the
// host's clock; zamgate sets them now and then when configured to.
#ifndef ZAMKT_HOST_COMMON_STATION_CLOCK_H
#define ZAMKT_HOST_COMMON_STATION_CLOCK_H

#include <stdint.h>
#include <time.h>

#include <string>

#include "host/common/channel.h"

namespace n2host {

struct StationClock {
  std::string family;       // "DX9100" or "TC9100"
  int64_t dayNumber = -1;   // day 1 = 1980-01-01; -1 where the clock keeps no date (TC9100)
  int secondsOfDay = 0;     // a TC9100 counts whole minutes
  int weekday = 0;          // 1 Monday .. 7 Sunday
};

// The family of the station's clock as the channel knows the station:
// "DX9100", "TC9100", or empty when the station has no clock.
std::string ClockFamily(Channel &channel, int station);

// Reads the station's clock. The driver's status (0 read); *why says what
// failed.
int32_t ReadStationClock(Channel &channel, int station, StationClock *clock, std::string *why);

// Sets the station's clock to the local time `now` (the writes' own checks
// apply: dates 1980..2038). The driver's status of the first write that
// failed, or 0.
int32_t SetStationClock(Channel &channel, int station, time_t now, std::string *why);

// The host's local time as a station clock of the family.
StationClock HostClock(const std::string &family, time_t now);

// Seconds the station's clock is ahead of the host's (negative: behind);
// for a clock without a date, within the week.
long ClockOffsetSeconds(const StationClock &station, const StationClock &host);

// "2026-12-08 16:08:22 Tue" ("16:08 Tue" for a clock without date).
std::string ClockText(const StationClock &clock);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_STATION_CLOCK_H
