#include "driver/station_types.h"

#include <string.h>

const char *StationTypeOf(const ChannelContext *context, int32_t station) {
  if (station < 0 || station > 255) return "";
  if (station > kLastTypedStation) return kTypeDX9100;
  const char *slot = context->stationTypes[station];
  // A slot is NUL-terminated within its 8 bytes once command 1 has filled it;
  // an unterminated slot of a record that never saw command 1 names no family.
  if (memchr(slot, '\0', kStationTypeSize) == nullptr) return "";
  return slot;
}

bool IsStationType(const ChannelContext *context, int32_t station, const char *name) {
  return strcmp(StationTypeOf(context, station), name) == 0;
}

void ResetStationTypes(ChannelContext *context) {
  for (int32_t station = 0; station <= kLastTypedStation; ++station) {
    memset(context->stationTypes[station], 0, kStationTypeSize);
    memcpy(context->stationTypes[station], kTypeDX9100, sizeof kTypeDX9100);
  }
}
