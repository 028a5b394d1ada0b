// Writes of System 91 gates: the single write (command 7, which hands N2 Open
// stations to the N2 Open item write) and the region write routines.
#ifndef ZAMKT_N2_WRITE_H
#define ZAMKT_N2_WRITE_H

#include <stdint.h>

#include "driver/requests.h"

// Command 7. 0 written and acknowledged; 1 refused or failed; 2 failed and at
// least one attempt got no reply line.
int32_t SingleWrite(DriverRequest *request);

// Reads the current byte or word at the gate's device address. 0 with *word
// filled; 1 reply rejected, bad checksum or too short to decode; 2 no reply.
int ReadBackWord(DriverRequest *request, uint16_t *word, uint16_t type);

// Each returns true when a frame was handed to the send step.
bool WriteBit(DriverRequest *request, uint16_t type);        // read-modify-write
bool WriteWordField(DriverRequest *request, uint16_t type);  // read-modify-write
bool WriteReal(DriverRequest *request);
bool WriteLong(DriverRequest *request);
bool WriteSchedule(DriverRequest *request);  // false for START/END above 1440
bool WriteClock(DriverRequest *request);

#endif  // ZAMKT_N2_WRITE_H
