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

// The checks of an N2 Open write block against its GAS: the frame is built
// from the block's station, region, element and data type, so each must be
// what command 3 gives for the GAS, or the value would go to another object
// or in another form. Logs "ZAMKTnn: SingleWrite() <field> N does not match
// the GAS (M). GAS=..." and returns false when refused.
bool N2OpenWriteMatchesGas(int channel, const ReadWriteBlock *block, const char *gas);

#endif  // ZAMKT_N2OPEN_TAG_PARSE_H
