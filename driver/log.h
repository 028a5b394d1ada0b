// The driver's one way to report: every message goes to the host's log
// through err() of the host logging library.
#ifndef ZAMKT_DRIVER_LOG_H
#define ZAMKT_DRIVER_LOG_H

#include <stdint.h>

// Every message of the driver is logged at this level ...
constexpr int kLogLevel = 32;
// ... except the value encoder's "16 Bit Value = %x " trace line.
constexpr int kTraceLevel = 8;

// Formats the message into a fixed buffer (longer messages are cut) and hands
// it to the host's err(). Never fails and never waits on the outcome.
void ZamLog(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The value encoder's trace line "16 Bit Value = %x " at kTraceLevel, for
// the word it encoded. Handed to err() unformatted: its one conversion is a
// number, so the message is bounded as it stands, and a host that drops the
// level pays for nothing but the call (the encoder writes this line for
// every value).
void ZamTraceWord(uint16_t word);

#endif  // ZAMKT_DRIVER_LOG_H
