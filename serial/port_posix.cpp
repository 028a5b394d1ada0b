// The serial port over POSIX termios and poll().
//
// A handle is the number of a slot in a small fixed table (slot + 1, so that
// a null handle never names an open port). The slot keeps the descriptor, the
// per-read time-out in milliseconds, which termios cannot hold at that
// resolution, and the channel record the port was opened for. One mutex
// guards the taking and freeing of slots, so that two channels started at
// once never end on one slot.
//
// Reads follow the serial semantics the driver is written for: a read call
// waits at most the read time-out for all the bytes it asks for and returns
// what arrived by then; a read that returns no byte is a failure.
//
// A reply costs few wake-ups: what arrives is taken into a read-ahead buffer
// of the port in as few system calls as the line allows, and when the
// exchange has said how long the reply should be (PortPlanReply), the read
// waits for the first byte, then sleeps to the reply's expected end, reckoned
// from the line's byte time, and takes the rest in one read. The old path,
// one poll and one read per byte and no read-ahead, stays selectable for
// comparison: ZAMKT_PORT_READS=per-byte in the environment of the process
// when the port is opened.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "serial/port.h"

namespace {

struct PortSlot {
  bool inUse;
  bool nullDevice;
  int fd;
  uint32_t readTimeoutMs;
  const void *owner;  // the channel record the port was opened for, or null
  bool perByte;       // the old read path: no read-ahead, no planned replies
  bool unsettled;     // the next discard waits for a quiet line first
  uint32_t byteTimeNs;  // one character on the line: start, data, parity and stop bits
  uint32_t planned;     // bytes the reply in hand should have; 0 when not told
};

// Bytes read ahead of the caller, per slot: what arrived after the bytes a
// read asked for stays here for the next read of the port, or for the discard.
struct ReadAhead {
  uint32_t start;
  uint32_t end;
  uint8_t bytes[kReadAheadSize];
};

PortSlot g_ports[kMaxOpenPorts];
ReadAhead g_ahead[kMaxOpenPorts];
// Guards inUse and owner of every slot: a slot is taken, freed and its owner
// compared under it. A slot's descriptor and time-out belong to the one
// channel that holds the handle.
pthread_mutex_t g_portsLock = PTHREAD_MUTEX_INITIALIZER;

class PortTableLock {
 public:
  PortTableLock() { pthread_mutex_lock(&g_portsLock); }
  ~PortTableLock() { pthread_mutex_unlock(&g_portsLock); }
  PortTableLock(const PortTableLock &) = delete;
  PortTableLock &operator=(const PortTableLock &) = delete;
};

PortSlot *SlotOf(PortHandle handle) {
  uintptr_t index = reinterpret_cast<uintptr_t>(handle);
  if (index == 0 || index > static_cast<uintptr_t>(kMaxOpenPorts)) return nullptr;
  PortSlot *slot = &g_ports[index - 1];
  return slot->inUse ? slot : nullptr;
}

PortHandle HandleOf(const PortSlot *slot) {
  return reinterpret_cast<PortHandle>(static_cast<uintptr_t>(slot - g_ports) + 1);
}

ReadAhead &AheadOf(const PortSlot *slot) { return g_ahead[slot - g_ports]; }

// The one place the read path is chosen: the old one on request.
bool PerByteReadsWanted() {
  const char *wanted = getenv("ZAMKT_PORT_READS");
  return wanted != nullptr && strcmp(wanted, "per-byte") == 0;
}

// The time one character takes on the line: a start bit, the data bits, a
// parity bit when there is one, and the stop bits (one and a half counts as
// two, as the line is set up).
uint32_t ByteTimeNs(const PortSettings *settings) {
  uint32_t bits = 1u + (settings->dataBits & 0xFF) + ((settings->parity & 0xFF) != 0 ? 1u : 0u) +
                  ((settings->stopBits & 0xFF) == 0 ? 1u : 2u);
  const uint32_t baud = settings->baud != 0 ? settings->baud : 9600u;
  return static_cast<uint32_t>(static_cast<uint64_t>(bits) * 1000000000u / baud);
}

uint64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// The device path of a port name; false when the name does not fit its
// 12-character field or is empty.
bool DevicePath(const char *name, char *path, size_t size) {
  if (name == nullptr || strnlen(name, kPortNameSize) == kPortNameSize || name[0] == '\0') return false;
  if (name[0] == '/') {
    snprintf(path, size, "%s", name);
    return true;
  }
  if (strncmp(name, "COM", 3) == 0 && name[3] != '\0' && strspn(name + 3, "0123456789") == strlen(name + 3)) {
    long number = strtol(name + 3, nullptr, 10);
    if (number >= 1) {
      snprintf(path, size, "/dev/ttyS%ld", number - 1);
      return true;
    }
  }
  snprintf(path, size, "/dev/%s", name);
  return true;
}

speed_t BaudConstant(uint16_t baud, bool *known) {
  struct BaudRow {
    uint16_t baud;
    speed_t constant;
  };
  static const BaudRow kRates[] = {
      {110, B110},     {300, B300},     {600, B600},     {1200, B1200},   {2400, B2400},
      {4800, B4800},   {9600, B9600},   {19200, B19200}, {38400, B38400}, {57600, B57600},
  };
  for (const BaudRow &row : kRates) {
    if (row.baud == baud) {
      *known = true;
      return row.constant;
    }
  }
  *known = false;
  return B9600;
}

// Applies the line settings; false when the settings are not valid for a
// serial line or the system refuses them.
bool ApplySettings(int fd, const termios &current, const PortSettings *settings, uint16_t lineOptions) {
  termios tio = current;
  cfmakeraw(&tio);
  bool known = false;
  speed_t speed = BaudConstant(settings->baud, &known);
  if (!known) return false;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);

  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
  tio.c_cflag |= CREAD | CLOCAL;
  switch (settings->dataBits & 0xFF) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    case 8: tio.c_cflag |= CS8; break;
    default: return false;
  }
  switch (settings->parity & 0xFF) {
    case 0: break;
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: return false;
  }
  // Parity checking is on whenever the line carries a parity bit.
  if (tio.c_cflag & PARENB) tio.c_iflag |= INPCK;
  switch (settings->stopBits & 0xFF) {
    case 0: break;
    case 1:  // one and a half: the nearest a POSIX line offers is two
    case 2: tio.c_cflag |= CSTOPB; break;
    default: return false;
  }
  // No software flow control; hardware flow control only for RTS handshake.
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if ((lineOptions & (kRtsOn | kRtsOnAlt)) == 0 && (lineOptions & kRtsHandshake) != 0) tio.c_cflag |= CRTSCTS;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// DTR and RTS from the line options. Lines without modem control (a
// pseudo-terminal) refuse these calls; that is not an error of the open.
void ApplyModemLines(int fd, uint16_t lineOptions) {
  int dtr = TIOCM_DTR;
  int rts = TIOCM_RTS;
  bool dtrOn = (lineOptions & (kDtrOn | kDtrOnAlt | kDtrHandshake)) != 0;
  bool rtsOn = (lineOptions & (kRtsOn | kRtsOnAlt | kRtsToggle)) != 0 ||
               (lineOptions & kRtsHandshake) != 0;
  (void)ioctl(fd, dtrOn ? TIOCMBIS : TIOCMBIC, &dtr);
  (void)ioctl(fd, rtsOn ? TIOCMBIS : TIOCMBIC, &rts);
}

void CloseDescriptor(int fd, bool exclusive) {
  if (exclusive) {
    // Leave the terminal open to others again (the exclusive mark outlives
    // this descriptor when someone else still holds the terminal).
    (void)ioctl(fd, TIOCNXCL);
    (void)flock(fd, LOCK_UN);
  }
  close(fd);
}

// Reads up to count bytes, waiting at most timeoutMs for all of them. False
// on a read error; *got receives what arrived.
//
// What already waits in the input queue is taken first (the line has VMIN
// and VTIME 0, so such a read never blocks); poll() runs only when the queue
// is empty. A reply that is arriving is then read with one system call per
// call instead of two.
bool ReadWithin(int fd, uint8_t *buffer, uint32_t count, uint32_t timeoutMs, uint32_t *got) {
  *got = 0;
  uint64_t deadline = NowMs() + timeoutMs;
  bool readyAfterWait = false;  // poll() reported input and nothing has been read since
  while (*got < count) {
    ssize_t n = read(fd, buffer + *got, count - *got);
    if (n > 0) {
      *got += static_cast<uint32_t>(n);
      readyAfterWait = false;
      continue;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return *got > 0;  // a hung-up line after some bytes: hand those over
    } else if (readyAfterWait) {
      return true;  // readable yet nothing to read: end of file, nothing more will come
    }
    uint64_t now = NowMs();
    int wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
    pollfd pfd = {fd, POLLIN, 0};
    int ready = poll(&pfd, 1, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (ready == 0) return true;  // time-out: what arrived so far
    readyAfterWait = true;
  }
  return true;
}

// Takes what waits in the input queue into the slot's read-ahead buffer,
// behind what it holds. Returns the bytes taken, 0 when none wait (or at the
// end of the line's input), -1 when the line failed (hung up).
ssize_t ReadAvailable(PortSlot *slot) {
  ReadAhead &ahead = AheadOf(slot);
  if (ahead.end >= kReadAheadSize) return 0;
  for (;;) {
    // VMIN and VTIME are 0: the read never blocks.
    const ssize_t n = read(slot->fd, ahead.bytes + ahead.end, kReadAheadSize - ahead.end);
    if (n > 0) {
      ahead.end += static_cast<uint32_t>(n);
      return n;
    }
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    return errno == EAGAIN ? 0 : -1;
  }
}

void SleepUntil(const timespec &deadline) {
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

timespec MonotonicAfter(uint64_t nanoseconds) {
  timespec at;
  clock_gettime(CLOCK_MONOTONIC, &at);
  at.tv_sec += static_cast<time_t>(nanoseconds / 1000000000u);
  at.tv_nsec += static_cast<long>(nanoseconds % 1000000000u);
  if (at.tv_nsec >= 1000000000L) {
    at.tv_sec += 1;
    at.tv_nsec -= 1000000000L;
  }
  return at;
}

// Fills the empty read-ahead buffer with the next bytes of the line. False
// when no byte arrives within the read time-out, or the line failed or ended.
//
// With a planned reply, the wait for its first byte is the read time-out as
// always; then the rest should follow at the line's pace, so the read sleeps
// until the planned bytes can all be there (a quarter of a character's time
// beyond, for the sender's own jitter) and takes them in one read. A reply
// that ended sooner has its carriage return in the buffer by then. Bytes
// still missing (the sender is late, or the reply longer than planned) are
// read as they come, each wait the read time-out: sleeping again for them
// would keep the reply waiting after a late sender has caught up.
bool FillAhead(PortSlot *slot) {
  ReadAhead &ahead = AheadOf(slot);
  ahead.start = ahead.end = 0;
  // poll() first: bytes that already wait make it return at once, and a line
  // whose bytes come one by one is not asked for them before they are there.
  const uint64_t deadline = NowMs() + slot->readTimeoutMs;
  for (;;) {
    const uint64_t now = NowMs();
    pollfd pfd = {slot->fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, now >= deadline ? 0 : static_cast<int>(deadline - now));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;  // the read time-out ran out, or poll failed
    break;
  }
  // Readable yet nothing to read: the line's input ended (or it failed).
  if (ReadAvailable(slot) <= 0) return false;
  // The bytes of the planned reply still to come after these.
  const uint32_t missing = slot->planned > ahead.end ? slot->planned - ahead.end : 0;
  slot->planned = 0;
  if (missing > 0 && memchr(ahead.bytes, '\r', ahead.end) == nullptr) {
    SleepUntil(MonotonicAfter(static_cast<uint64_t>(missing) * slot->byteTimeNs + slot->byteTimeNs / 4));
    // A failure here leaves the bytes in hand to the caller; the next fill
    // reports the line.
    (void)ReadAvailable(slot);
  }
  return true;
}

// Reads and drops bytes until none has come for the read time-out, or
// kSettleDropLimit bytes were dropped, or the line fails or ends.
void AwaitQuietLine(PortSlot *slot) {
  uint8_t block[kDiscardBlock];
  uint32_t dropped = 0;
  while (dropped < kSettleDropLimit) {
    pollfd pfd = {slot->fd, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(slot->readTimeoutMs));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    const ssize_t n = read(slot->fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    dropped += static_cast<uint32_t>(n);
  }
}

// The timer slack of the calling thread during a pause. The kernel may end a
// sleep up to the slack late (50 us by default) to group wake-ups; the pause
// that follows every good exchange is on the bus's critical path, so it
// sleeps with a slack of a microsecond. The host's thread gets its own slack
// back afterwards.
struct TimerSlack {
  bool narrowed;
  unsigned long previousNs;
};

#if defined(__linux__)
constexpr unsigned long kPauseSlackNs = 1000;

TimerSlack NarrowTimerSlack() {
  // PR_GET_TIMERSLACK returns the slack as an int: a negative result is an
  // error or a slack too large to read back, which then is left alone.
  const int previous = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  if (previous <= 0 || static_cast<unsigned long>(previous) <= kPauseSlackNs) return TimerSlack{false, 0};
  if (prctl(PR_SET_TIMERSLACK, kPauseSlackNs, 0, 0, 0) != 0) return TimerSlack{false, 0};
  return TimerSlack{true, static_cast<unsigned long>(previous)};
}

void RestoreTimerSlack(const TimerSlack &slack) {
  if (slack.narrowed) (void)prctl(PR_SET_TIMERSLACK, slack.previousNs, 0, 0, 0);
}
#else
// Other POSIX systems have no per-thread slack to narrow.
TimerSlack NarrowTimerSlack() { return TimerSlack{false, 0}; }
void RestoreTimerSlack(const TimerSlack &) {}
#endif

// Takes a free slot for a port being opened for owner; null when every slot
// is in use. The slot counts as in use from here on, so that no other open
// can take it while the device is being opened and configured.
PortSlot *ReserveSlot(const void *owner) {
  PortTableLock lock;
  for (PortSlot &candidate : g_ports) {
    if (!candidate.inUse) {
      candidate = PortSlot{true, false, -1, kDefaultReadTimeoutMs, owner, false, false, 0, 0};
      AheadOf(&candidate).start = AheadOf(&candidate).end = 0;
      return &candidate;
    }
  }
  return nullptr;
}

void ReleaseSlot(PortSlot *slot) {
  PortTableLock lock;
  *slot = PortSlot{false, false, -1, 0, nullptr, false, false, 0, 0};
}

// Opens and configures the device into the reserved slot. Returns a PortResult;
// on failure the device is closed again and the slot is left to the caller.
int OpenIntoSlot(const char *name, const char *path, const PortSettings *settings, uint16_t lineOptions,
                 PortSlot *slot) {
  // The null device: opened for reading and writing, nothing configured.
  if (strcmp(name, "NUL") == 0) {
    int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd < 0) return kPortOpenFailed;
    slot->nullDevice = true;
    slot->fd = fd;
    slot->byteTimeNs = ByteTimeNs(settings);
    slot->perByte = PerByteReadsWanted();
    return kPortOk;
  }

  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kPortOpenFailed;
  // Exclusive access: no sharing of the device. The advisory lock also holds
  // against root, which the terminal's exclusive mode does not stop.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return kPortOpenFailed;
  }
  termios current;
  if (tcgetattr(fd, &current) != 0) {
    CloseDescriptor(fd, true);
    return kPortGetStateFailed;
  }
  (void)ioctl(fd, TIOCEXCL);
  if (!ApplySettings(fd, current, settings, lineOptions)) {
    CloseDescriptor(fd, true);
    return kPortSetStateFailed;
  }
  ApplyModemLines(fd, lineOptions);
  // Blocking writes from here on: a write returns when its bytes are out.
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  slot->fd = fd;
  slot->byteTimeNs = ByteTimeNs(settings);
  slot->perByte = PerByteReadsWanted();
  return kPortOk;
}

int OpenForOwner(const char *name, const PortSettings *settings, uint16_t lineOptions, const void *owner,
                 PortHandle *handle) {
  *handle = nullptr;
  char path[64];
  if (!DevicePath(name, path, sizeof path)) return kPortOpenFailed;
  PortSlot *slot = ReserveSlot(owner);
  if (slot == nullptr) return kPortOpenFailed;
  int result = OpenIntoSlot(name, path, settings, lineOptions, slot);
  if (result != kPortOk) {
    ReleaseSlot(slot);
    return result;
  }
  *handle = HandleOf(slot);
  return kPortOk;
}

}  // namespace

int PortOpen(const char *name, const PortSettings *settings, uint16_t lineOptions, PortHandle *handle) {
  return OpenForOwner(name, settings, lineOptions, nullptr, handle);
}

PortHandle OpenPortHandle(const char *name, const PortSettings *settings, uint16_t lineOptions, const void *owner) {
  PortHandle handle = nullptr;
  return OpenForOwner(name, settings, lineOptions, owner, &handle) == kPortOk ? handle : nullptr;
}

bool PortOpenedFor(PortHandle handle, const void *owner) {
  if (owner == nullptr) return false;
  PortTableLock lock;
  const PortSlot *slot = SlotOf(handle);
  return slot != nullptr && slot->owner == owner;
}

int PortClose(PortHandle handle) {
  int fd = -1;
  bool nullDevice = false;
  {
    PortTableLock lock;
    PortSlot *slot = SlotOf(handle);
    if (slot == nullptr) return kPortIoFailed;
    fd = slot->fd;
    nullDevice = slot->nullDevice;
    *slot = PortSlot{false, false, -1, 0, nullptr, false, false, 0, 0};
  }
  // Closed outside the lock: closing a serial line may wait for its output to
  // drain, and other channels must not wait for that to open their ports.
  CloseDescriptor(fd, !nullDevice);
  return kPortOk;
}

int32_t PortSetReadTimeout(PortHandle handle, int32_t value10ms) {
  PortSlot *slot = SlotOf(handle);
  if (slot == nullptr) return 0;
  if (value10ms < 0) value10ms = 0;
  if (value10ms > kMaxReadTimeout10ms) value10ms = kMaxReadTimeout10ms;
  int32_t previous = static_cast<int32_t>(slot->readTimeoutMs / 10);
  slot->readTimeoutMs = static_cast<uint32_t>(value10ms) * 10u;
  return previous;
}

int PortDiscardInput(PortHandle handle) {
  PortSlot *slot = SlotOf(handle);
  if (slot == nullptr) return 1;
  // What was read ahead is thrown away first, and the plan of the last
  // reply with it.
  ReadAhead &ahead = AheadOf(slot);
  ahead.start = ahead.end = 0;
  slot->planned = 0;
  if (slot->unsettled) {
    slot->unsettled = false;
    AwaitQuietLine(slot);
  }
  int waiting = 0;
  bool queryFailed = ioctl(slot->fd, FIONREAD, &waiting) != 0;
  if (!queryFailed && waiting == 0) return 0;

  int32_t previous = PortSetReadTimeout(handle, kDiscardTimeout10ms);
  uint8_t block[kDiscardBlock];
  bool lastReadFailed = false;
  for (;;) {
    uint32_t got = 0;
    if (!ReadWithin(slot->fd, block, kDiscardBlock, slot->readTimeoutMs, &got)) {
      lastReadFailed = true;
      break;
    }
    if (got < kDiscardBlock) break;
  }
  if (previous != 0) PortSetReadTimeout(handle, previous);
  return lastReadFailed ? 1 : 0;
}

int PortWrite(PortHandle handle, const void *bytes, uint32_t count, uint32_t *written) {
  *written = 0;
  PortSlot *slot = SlotOf(handle);
  if (slot == nullptr) return kPortIoFailed;
  const uint8_t *data = static_cast<const uint8_t *>(bytes);
  while (*written < count) {
    ssize_t n = write(slot->fd, data + *written, count - *written);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd pfd = {slot->fd, POLLOUT, 0};
        (void)poll(&pfd, 1, 100);
        continue;
      }
      return kPortIoFailed;
    }
    if (n == 0) break;
    *written += static_cast<uint32_t>(n);
  }
  return *written == count ? kPortOk : kPortShortWrite;
}

int PortReadExact(PortHandle handle, void *buffer, uint32_t count, uint32_t *got) {
  *got = 0;
  PortSlot *slot = SlotOf(handle);
  if (slot == nullptr) return kPortIoFailed;
  uint8_t *data = static_cast<uint8_t *>(buffer);
  if (slot->perByte) {
    while (*got < count) {
      uint32_t arrived = 0;
      if (!ReadWithin(slot->fd, data + *got, count - *got, slot->readTimeoutMs, &arrived)) return kPortIoFailed;
      if (arrived == 0) return kPortIoFailed;
      *got += arrived;
    }
    return kPortOk;
  }
  ReadAhead &ahead = AheadOf(slot);
  while (*got < count) {
    if (ahead.start == ahead.end && !FillAhead(slot)) return kPortIoFailed;
    uint32_t take = ahead.end - ahead.start;
    if (take > count - *got) take = count - *got;
    memcpy(data + *got, ahead.bytes + ahead.start, take);
    ahead.start += take;
    *got += take;
  }
  return kPortOk;
}

void PortPlanReply(PortHandle handle, uint32_t bytes) {
  PortSlot *slot = SlotOf(handle);
  if (slot != nullptr && !slot->perByte) slot->planned = bytes;
}

void PortSettleBeforeNextFrame(PortHandle handle) {
  PortSlot *slot = SlotOf(handle);
  if (slot != nullptr) slot->unsettled = true;
}

void PauseMilliseconds(uint32_t milliseconds) {
  // The end of the pause is fixed once, before anything else runs: a sleep to
  // that deadline never pauses less, and a signal or a late wake-up never
  // adds its delay on top of the whole pause again.
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  const TimerSlack slack = NarrowTimerSlack();
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
  RestoreTimerSlack(slack);
}
