// The N2 Open exchange: station initialisation, item read and item write.
#ifndef ZAMKT_N2OPEN_ITEM_EXCHANGE_H
#define ZAMKT_N2OPEN_ITEM_EXCHANGE_H

#include <stdint.h>

#include "driver/requests.h"

// Size of the error-text buffer N2_TestAckNak writes into.
constexpr int kN2ErrorTextSize = 150;

// 1 when the line is accepted ("A..."), 0 otherwise; for "N.." writes the
// error text of the code into text.
int N2_TestAckNak(const char *reply, char *text);

// Two-frame handshake. 0 initialised, 1 a reply came but was not accepted,
// 2 no reply.
int16_t N2OPEN_InitStation(ChannelContext *context, int32_t station);

// Makes sure an N2 Open station is initialised before an item access: while
// the station's initialised flag is clear, runs N2OPEN_InitStation and sets the
// flag on success. handler names the caller in the messages ("SingleRead").
// 0 when the station is initialised, else the handshake's status.
int16_t N2OpenEnsureInitialised(ChannelContext *context, int32_t station, const char *handler);

// 0 read and stored, 1 a reply came but was bad (or the gate cannot be
// addressed), 2 no reply on the last attempt.
int N2OPEN_DoReadItem(DriverRequest *request);

// Decodes the reply line into the value buffer by region. 0 stored, 1 unknown
// region or a line too short for the region (buffer untouched).
int N2OPEN_StoreData(DriverRequest *request, const char *reply);

// 0 written, 1 refused or not writable, 2 no reply on the last attempt.
int N2OPEN_DoWriteItem(DriverRequest *request);

#endif  // ZAMKT_N2OPEN_ITEM_EXCHANGE_H
