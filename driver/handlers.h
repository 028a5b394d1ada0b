// The command handlers that ZamMain's table holds. Every handler takes the
// host's request and returns its status unchanged to the host.
#ifndef ZAMKT_DRIVER_HANDLERS_H
#define ZAMKT_DRIVER_HANDLERS_H

#include <stdint.h>

#include "driver/requests.h"

using CommandHandler = int32_t (*)(DriverRequest *request);

// Command 1: 0 started (or channel disabled), 2 port could not be opened.
int32_t InitChannel(DriverRequest *request);
// Applies the channel's station-type file: 1 read, 0 not found.
int ReadInitFile(DriverRequest *request);
// Command 2: always 0.
int32_t WarmStart(DriverRequest *request);
// Command 10: logs the refusal, always 1.
int32_t BlockWrite(DriverRequest *request);
// Commands 11 and 12: 0 closed or already closed, 2 close failed.
int32_t ClosePort(DriverRequest *request);
// Command 13: 0 opened, 2 open failed.
int32_t ReopenPort(DriverRequest *request);
// Command 14: always 0.
int32_t DriverInfo(DriverRequest *request);
// Command 15: 0 opened, 2 open failed.
int32_t ChangePort(DriverRequest *request);

#endif  // ZAMKT_DRIVER_HANDLERS_H
