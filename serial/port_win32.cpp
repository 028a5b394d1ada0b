// The serial port over the Windows communications interface of KERNEL32.
//
// A handle is the Windows file handle of the device itself. The device is
// opened for synchronous I/O, so every ReadFile and WriteFile returns when its
// bytes are through or the port's COMMTIMEOUTS have run: the per-read
// time-out is the read total constant, the only time-out changed after the
// open.
#include <string.h>
#include <windows.h>

#include "serial/port.h"

namespace {

// Queue sizes of the port driver, in bytes, each direction.
constexpr DWORD kQueueSize = 1200;
// Longest device name: the 12-character field plus the "\\.\" prefix.
constexpr size_t kDevicePathSize = kPortNameSize + 4;
// The shortest per-read time-out, in ms. A read total constant of 0 (with the
// other read time-outs 0) means "no time-out" to Windows: a silent station
// would then hold the channel for ever, so a time-out of 0 waits 1 ms instead.
constexpr DWORD kMinReadTimeoutMs = 1;

// The KERNEL32 steps that can fail, each reported as one result code.
enum class PortStep { kCreate, kGetState, kSetTimeouts, kSetState, kTransfer, kClose };

// The one place where a failed platform call becomes a result code.
int FailureCode(PortStep step) {
  switch (step) {
    case PortStep::kCreate:
    case PortStep::kSetTimeouts:
      return kPortOpenFailed;
    case PortStep::kGetState:
      return kPortGetStateFailed;
    case PortStep::kSetState:
      return kPortSetStateFailed;
    case PortStep::kTransfer:
    case PortStep::kClose:
      return kPortIoFailed;
  }
  return kPortIoFailed;
}

// True for "COM" (any case) followed by a number of 10 or more: Windows
// reaches those ports only through the device namespace, "\\.\COM10". The
// ports COM1 to COM9 also exist under their plain names, and every other name
// (the null device, names already in the device namespace, paths) is passed on
// as the host gave it.
bool NeedsDevicePrefix(const char *name) {
  if (_strnicmp(name, "COM", 3) != 0 || name[3] == '\0') return false;
  bool tenOrMore = false;
  unsigned number = 0;
  for (const char *digit = name + 3; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return false;
    number = number * 10 + static_cast<unsigned>(*digit - '0');
    if (number >= 10) {
      tenOrMore = true;
      number = 10;  // the value no longer matters, and stays small
    }
  }
  return tenOrMore;
}

// The name CreateFileA opens; false when the name is empty or does not fit
// its 12-character field.
bool DevicePath(const char *name, char *path) {
  if (name == nullptr || name[0] == '\0' || strnlen(name, kPortNameSize) == kPortNameSize) return false;
  path[0] = '\0';
  if (NeedsDevicePrefix(name)) strcpy(path, "\\\\.\\");
  strcat(path, name);
  return true;
}

DWORD DtrControl(uint16_t lineOptions) {
  if ((lineOptions & (kDtrOn | kDtrOnAlt)) != 0) return DTR_CONTROL_ENABLE;
  if ((lineOptions & kDtrHandshake) != 0) return DTR_CONTROL_HANDSHAKE;
  return DTR_CONTROL_DISABLE;
}

DWORD RtsControl(uint16_t lineOptions) {
  if ((lineOptions & (kRtsOn | kRtsOnAlt)) != 0) return RTS_CONTROL_ENABLE;
  if ((lineOptions & kRtsHandshake) != 0) return RTS_CONTROL_HANDSHAKE;
  if ((lineOptions & kRtsToggle) != 0) return RTS_CONTROL_TOGGLE;
  return RTS_CONTROL_DISABLE;
}

// The line settings of the channel on top of what the device reported; every
// field not named here keeps the device's value.
void ApplySettings(DCB *dcb, const PortSettings *settings, uint16_t lineOptions) {
  dcb->BaudRate = settings->baud;
  dcb->fBinary = TRUE;
  dcb->fParity = TRUE;
  dcb->fOutxCtsFlow = FALSE;
  dcb->fOutxDsrFlow = FALSE;
  dcb->fDtrControl = DtrControl(lineOptions);
  dcb->fDsrSensitivity = FALSE;
  dcb->fOutX = FALSE;
  dcb->fInX = FALSE;
  dcb->fErrorChar = FALSE;
  dcb->fNull = FALSE;
  dcb->fRtsControl = RtsControl(lineOptions);
  dcb->fAbortOnError = FALSE;
  dcb->ByteSize = static_cast<BYTE>(settings->dataBits & 0xFF);
  dcb->Parity = static_cast<BYTE>(settings->parity & 0xFF);
  dcb->StopBits = static_cast<BYTE>(settings->stopBits & 0xFF);
}

// Closes the half-configured device and reports the step that failed, so
// that a failed open never leaves the device held.
int FailOpen(HANDLE device, PortStep step) {
  CloseHandle(device);
  return FailureCode(step);
}

// The channel record each port was opened for, beside its handle, so that a
// handle found in a record can be told from a stale number before it is
// closed. One lock guards the table: the host may start two channels at once.
struct PortOwner {
  HANDLE handle;  // null for a free entry
  const void *owner;
  bool unsettled;  // the next discard waits for a quiet line first
};
PortOwner g_owners[kMaxOpenPorts];
SRWLOCK g_ownersLock = SRWLOCK_INIT;

class OwnerTableLock {
 public:
  OwnerTableLock() { AcquireSRWLockExclusive(&g_ownersLock); }
  ~OwnerTableLock() { ReleaseSRWLockExclusive(&g_ownersLock); }
  OwnerTableLock(const OwnerTableLock &) = delete;
  OwnerTableLock &operator=(const OwnerTableLock &) = delete;
};

// A full table leaves the port without an owner on record: it works as
// before, it is only never closed on a record's behalf. The system hands out
// a value again once its handle is closed; an entry left under the value (a
// handle closed by other means than PortClose) is stale and takes the new
// owner, so that the value never answers for two owners.
void RecordOwner(HANDLE handle, const void *owner) {
  OwnerTableLock lock;
  PortOwner *free = nullptr;
  for (PortOwner &entry : g_owners) {
    if (entry.handle == handle) {
      entry = PortOwner{handle, owner, false};
      return;
    }
    if (entry.handle == nullptr && free == nullptr) free = &entry;
  }
  if (free != nullptr) *free = PortOwner{handle, owner, false};
}

void ForgetOwner(HANDLE handle) {
  OwnerTableLock lock;
  for (PortOwner &entry : g_owners) {
    if (entry.handle == handle) entry = PortOwner{nullptr, nullptr, false};
  }
}

// Takes the port's unsettled mark away; true when it was set.
bool TakeUnsettled(HANDLE handle) {
  OwnerTableLock lock;
  for (PortOwner &entry : g_owners) {
    if (entry.handle == handle && entry.unsettled) {
      entry.unsettled = false;
      return true;
    }
  }
  return false;
}

// Reads and drops bytes until a read of the read time-out brings none, or
// kSettleDropLimit bytes were dropped, or a read fails.
void AwaitQuietLine(HANDLE handle) {
  BYTE block[kDiscardBlock];
  for (DWORD dropped = 0; dropped < kSettleDropLimit;) {
    DWORD got = 0;
    if (!ReadFile(handle, block, kDiscardBlock, &got, nullptr) || got == 0) return;
    dropped += got;
  }
}

}  // namespace

int PortOpen(const char *name, const PortSettings *settings, uint16_t lineOptions, PortHandle *handle) {
  *handle = nullptr;
  char path[kDevicePathSize];
  if (!DevicePath(name, path)) return FailureCode(PortStep::kCreate);

  // Read and write, no sharing, the device must exist, synchronous I/O.
  HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device == INVALID_HANDLE_VALUE) return FailureCode(PortStep::kCreate);

  // The null device has no line settings to read or write.
  if (strcmp(name, "NUL") == 0) {
    *handle = device;
    ForgetOwner(device);
    return kPortOk;
  }

  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(device, &dcb)) return FailOpen(device, PortStep::kGetState);

  // A read waits at most one second for its bytes; writes are not timed.
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = kDefaultReadTimeoutMs;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  if (!SetCommTimeouts(device, &timeouts)) return FailOpen(device, PortStep::kSetTimeouts);

  ApplySettings(&dcb, settings, lineOptions);
  if (!SetCommState(device, &dcb)) return FailOpen(device, PortStep::kSetState);

  (void)SetupComm(device, kQueueSize, kQueueSize);
  *handle = device;
  ForgetOwner(device);  // a stale entry under a value the system hands out again
  return kPortOk;
}

PortHandle OpenPortHandle(const char *name, const PortSettings *settings, uint16_t lineOptions, const void *owner) {
  PortHandle handle = nullptr;
  if (PortOpen(name, settings, lineOptions, &handle) != kPortOk) return nullptr;
  if (owner != nullptr) RecordOwner(handle, owner);
  return handle;
}

bool PortOpenedFor(PortHandle handle, const void *owner) {
  if (handle == nullptr || owner == nullptr) return false;
  OwnerTableLock lock;
  for (const PortOwner &entry : g_owners) {
    if (entry.handle == handle) return entry.owner == owner;
  }
  return false;
}

int PortClose(PortHandle handle) {
  if (!CloseHandle(handle)) return FailureCode(PortStep::kClose);
  // The system may hand the same value to the next handle it opens.
  ForgetOwner(handle);
  return kPortOk;
}

int32_t PortSetReadTimeout(PortHandle handle, int32_t value10ms) {
  if (value10ms > kMaxReadTimeout10ms) value10ms = kMaxReadTimeout10ms;
  DWORD wanted = value10ms > 0 ? static_cast<DWORD>(value10ms) * 10u : kMinReadTimeoutMs;

  COMMTIMEOUTS timeouts;
  if (!GetCommTimeouts(handle, &timeouts)) return 0;
  DWORD previous = timeouts.ReadTotalTimeoutConstant;
  if (previous != wanted) {
    timeouts.ReadTotalTimeoutConstant = wanted;
    if (!SetCommTimeouts(handle, &timeouts)) return 0;
  }
  return static_cast<int32_t>(previous / 10);
}

int PortDiscardInput(PortHandle handle) {
  if (TakeUnsettled(handle)) AwaitQuietLine(handle);
  DWORD lineErrors = 0;
  COMSTAT status;
  memset(&status, 0, sizeof status);
  bool cleared = ClearCommError(handle, &lineErrors, &status) != 0;
  if (cleared && status.cbInQue == 0) return 0;

  int32_t previous = PortSetReadTimeout(handle, kDiscardTimeout10ms);
  BYTE block[kDiscardBlock];
  bool lastReadFailed = false;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(handle, block, kDiscardBlock, &got, nullptr)) {
      lastReadFailed = true;
      break;
    }
    if (got < kDiscardBlock) break;
  }
  if (previous != 0) PortSetReadTimeout(handle, previous);
  return lastReadFailed ? 1 : 0;
}

int PortWrite(PortHandle handle, const void *bytes, uint32_t count, uint32_t *written) {
  DWORD done = 0;
  bool ok = WriteFile(handle, bytes, count, &done, nullptr) != 0;
  *written = done;
  if (!ok) return FailureCode(PortStep::kTransfer);
  return done == count ? kPortOk : kPortShortWrite;
}

int PortReadExact(PortHandle handle, void *buffer, uint32_t count, uint32_t *got) {
  *got = 0;
  BYTE *data = static_cast<BYTE *>(buffer);
  while (*got < count) {
    DWORD arrived = 0;
    // No byte within the read time-out is a failure, not a short success.
    if (!ReadFile(handle, data + *got, count - *got, &arrived, nullptr) || arrived == 0) {
      return FailureCode(PortStep::kTransfer);
    }
    *got += arrived;
  }
  return kPortOk;
}

// Windows reads wait in the port driver, bounded by the time-outs; there is
// no per-byte wake-up to save, and the plan is not used.
void PortPlanReply(PortHandle, uint32_t) {}

// Only a port with an owner on record (opened for a channel) carries the mark.
void PortSettleBeforeNextFrame(PortHandle handle) {
  OwnerTableLock lock;
  for (PortOwner &entry : g_owners) {
    if (entry.handle == handle) entry.unsettled = true;
  }
}

void PauseMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }
