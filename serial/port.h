// The serial port of a channel, behind one small interface with one
// implementation per platform (port_posix.cpp, port_win32.cpp). Nothing above
// this layer touches the platform's port interface.
//
// All I/O is synchronous: a call returns when the bytes are out, the bytes
// are in, or the read time-out has run. No operation logs anything.
#ifndef ZAMKT_SERIAL_PORT_H
#define ZAMKT_SERIAL_PORT_H

#include <stdint.h>

#include "driver/requests.h"

// Result codes of the port operations.
enum PortResult : int {
  kPortOk = 0,
  kPortOpenFailed = 1,      // device could not be opened, or its time-outs not set
  kPortShortWrite = 2,      // fewer bytes written than asked
  kPortGetStateFailed = 4,  // the device's settings could not be read
  kPortSetStateFailed = 5,  // the settings could not be applied
  kPortIoFailed = 7         // a read, write or close failed, or a read returned no byte
};

// Line option bits (DTR and RTS control). The driver always passes
// kLineOptionsDefault, which sets none of them: DTR and RTS held off.
enum LineOption : uint16_t {
  kDtrOn = 0x0001,
  kDtrOnAlt = 0x0100,
  kDtrHandshake = 0x8000,
  kRtsOn = 0x0002,
  kRtsOnAlt = 0x0200,
  kRtsHandshake = 0x1000,
  kRtsToggle = 0x2000,
  kLineOptionsDefault = 8
};

// Per-read time-out after every open, in milliseconds.
constexpr uint32_t kDefaultReadTimeoutMs = 1000;
// Read time-out while stale input is thrown away, in units of 10 ms.
constexpr int32_t kDiscardTimeout10ms = 5;
// Longest per-read time-out, in units of 10 ms (one day): larger values are
// capped so that no millisecond count overflows and no wait becomes endless.
constexpr int32_t kMaxReadTimeout10ms = 8640000;
// Size of the blocks read while discarding.
constexpr uint32_t kDiscardBlock = 512;

// Opens and configures the port. Names: "NUL" (exactly) is the null device,
// opened without line configuration; on POSIX a name starting with "/" is a
// path, "COMn" (n >= 1) is /dev/ttyS(n-1), anything else lies under /dev/.
// On Windows "COM10" and above get the "\\.\" device prefix that the
// system needs for them; other names are opened as given.
// The open is exclusive: a port held elsewhere fails with kPortOpenFailed.
// Returns kPortOk, kPortOpenFailed, kPortGetStateFailed or kPortSetStateFailed;
// every failure after the device was opened closes it again.
int PortOpen(const char *name, const PortSettings *settings, uint16_t lineOptions, PortHandle *handle);

// Ports one process can hold open at once. The POSIX port layer keeps its
// ports in a table of this size; the Windows one remembers the owners of this
// many ports (a port opened beyond them works but has no owner on record).
constexpr int kMaxOpenPorts = 64;

// The opener used by the command handlers: the handle, or null on any failure.
// owner is the channel record the port is opened for (null for none); the
// port layer keeps it beside the handle for PortOpenedFor.
PortHandle OpenPortHandle(const char *name, const PortSettings *settings, uint16_t lineOptions,
                          const void *owner = nullptr);

// True when handle names a port that this layer opened for owner and that is
// still open. A channel record's handle field holds whatever the host's
// memory held before the channel's first start; only a handle that passes
// this check may be closed on that record's behalf. False for a null owner.
bool PortOpenedFor(PortHandle handle, const void *owner);

// Returns kPortOk, or kPortIoFailed when the system refuses the close.
int PortClose(PortHandle handle);

// Sets the per-read time-out to value x 10 ms. Returns the previous value in
// units of 10 ms (rounded down), or 0 when the time-outs cannot be read or set.
int32_t PortSetReadTimeout(PortHandle handle, int32_t value10ms);

// Throws away whatever waits in the input queue: reads 512-byte blocks with a
// 50 ms time-out until a read comes back short, then restores the time-out.
// On an unsettled line (PortSettleBeforeNextFrame) it first waits for quiet.
// Returns 0, or 1 when the last read failed. Callers ignore the result.
int PortDiscardInput(PortHandle handle);

// One write of count bytes. Returns kPortOk, kPortShortWrite or kPortIoFailed;
// *written receives the number of bytes written.
int PortWrite(PortHandle handle, const void *bytes, uint32_t count, uint32_t *written);

// Reads exactly count bytes. Returns kPortOk, or kPortIoFailed when a read
// fails or the read time-out runs out first; *got receives the bytes read.
int PortReadExact(PortHandle handle, void *buffer, uint32_t count, uint32_t *got);

// Bytes a POSIX port reads ahead of its caller. A reply line is read in as few
// system calls as the line allows; what follows its carriage return stays in
// this buffer for the next read or the discard.
constexpr uint32_t kReadAheadSize = 1024;
// Bytes a discard that waits for a quiet line drops at most before it goes on.
constexpr uint32_t kSettleDropLimit = 4 * kReadAheadSize;

// Tells the port how many bytes the reply now awaited should have, its
// carriage return included (0: not known). The next read that finds nothing
// read ahead waits for the reply's first byte for the read time-out as
// always, then sleeps to the reply's expected end, reckoned from the line's
// byte time, and takes what is there in one read; whatever is still missing
// is waited for as without a plan, each wait the read time-out. A shorter
// reply (a refusal) is taken as it is. The plan holds for that one read and
// the discard forgets it. Windows ports read as before and ignore the plan.
void PortPlanReply(PortHandle handle, uint32_t bytes);

// Marks the line unsettled: the rest of a reply may still come. The next
// PortDiscardInput first reads and drops bytes until none has come for the
// read time-out (at most kSettleDropLimit bytes), then discards as always, so
// that a late tail never goes for the reply to the next frame.
void PortSettleBeforeNextFrame(PortHandle handle);

// The protocol's pauses: returns no earlier than the given time after the call,
// and as little after it as the platform allows. On Linux the calling
// thread's timer slack is narrowed for the pause and restored afterwards.
void PauseMilliseconds(uint32_t milliseconds);

#endif  // ZAMKT_SERIAL_PORT_H
