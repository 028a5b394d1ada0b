// The device family at each station address of a channel, as command 1 and
// the station-type file left it in the ChannelContext.
#ifndef ZAMKT_DRIVER_STATION_TYPES_H
#define ZAMKT_DRIVER_STATION_TYPES_H

#include <stdint.h>

#include "driver/requests.h"

inline constexpr const char kTypeDX9100[] = "DX9100";
inline constexpr const char kTypeXT9100[] = "XT9100";
inline constexpr const char kTypeTC9100[] = "TC9100";
inline constexpr const char kTypeN2Open[] = "N2OPEN";

// Highest station address whose slot command 1 fills; 255 passes the parsers'
// range check but is always a DX9100 and never an N2 Open station.
constexpr int32_t kLastTypedStation = 254;

// Station addresses a frame can carry and the station tables hold.
constexpr int32_t kFirstStation = 1;
constexpr int32_t kLastStation = 255;

inline bool IsStationAddress(int32_t station) { return station >= kFirstStation && station <= kLastStation; }

// The family name of a station: its slot for 0..254, "DX9100" for 255, and ""
// for anything outside 0..255. Never reads outside the table.
const char *StationTypeOf(const ChannelContext *context, int32_t station);

// True when the station's family is the given name.
bool IsStationType(const ChannelContext *context, int32_t station, const char *name);

inline bool IsN2OpenStation(const ChannelContext *context, int32_t station) {
  return IsStationType(context, station, kTypeN2Open);
}

// Sets stations 0..254 to "DX9100" (command 1, before the station-type file).
void ResetStationTypes(ChannelContext *context);

#endif  // ZAMKT_DRIVER_STATION_TYPES_H
