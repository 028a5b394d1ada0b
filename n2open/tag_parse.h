// Gate address parsing for N2 Open stations: region, element, override marker.
#ifndef ZAMKT_N2OPEN_TAG_PARSE_H
#define ZAMKT_N2OPEN_TAG_PARSE_H

#include <stdint.h>

#include "driver/requests.h"

// Called by SingleParse for N2OPEN stations after the station address is
// stored. 0 valid (region code, element, bit 255 and width set), 1 invalid
// (a message has been logged).
int16_t N2OPEN_ParseTag(DriverRequest *request);

// The region number that frames carry for a region code: 1..7 for 1001..1007,
// 3..7 for the override codes 1008..1012; 0 for any other code.
uint8_t N2OpenRegionNumber(int32_t regionCode);

// True when a frame can address the gate: a region code of 1001..1012 and an
// element of 1..256 (the element travels, less one, in a single byte; a
// larger one would wrap and name another object).
bool N2OpenGateAddressable(int32_t regionCode, int32_t element);

#endif  // ZAMKT_N2OPEN_TAG_PARSE_H
