// Reads of System 91 gates: the single read (command 5, which hands N2 Open
// stations to the N2 Open item read) and the block read (command 6).
#ifndef ZAMKT_N2_READ_H
#define ZAMKT_N2_READ_H

#include <stdint.h>

#include "driver/requests.h"

// Command 5. 0 read and stored; 1 a reply came but none was good (or the
// request could not be sent: bad station, bit or unknown point); 2 no reply.
int32_t SingleRead(DriverRequest *request);

// Command 6. Statuses as SingleRead; 1 also for a count outside 1..32.
int32_t BlockRead(DriverRequest *request);

// Request builders: each builds one frame from the request and hands it to
// the send step, returning the send's result.
bool SendMemRead(DriverRequest *request);        // 0x80 + page, address 0..1023
bool SendMemReadFull(DriverRequest *request);    // 0x84, address 1024 and above
bool SendScheduleRead(DriverRequest *request);   // 0x98 area 0x10
bool SendClockRead(DriverRequest *request);      // 0x98 area 0x01
bool SendBlockRead(DriverRequest *request);      // 0xA8 + page
bool SendBlockReadFull(DriverRequest *request);  // 0xAC

#endif  // ZAMKT_N2_READ_H
