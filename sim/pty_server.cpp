#include "sim/pty_server.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace n2sim {

namespace {

// Longest request line kept; a longer one is cut (it then fails its checks).
constexpr size_t kMaxRequestLine = 4096;
// How long a reply waits for room in the terminal's queue before it is dropped.
constexpr int kWriteWaitMs = 1000;

std::string SystemError(const char *what) { return std::string(what) + ": " + strerror(errno); }

}  // namespace

PtyServer::PtyServer(Simulator *simulator) : simulator_(simulator) {}

PtyServer::~PtyServer() { Stop(); }

bool PtyServer::Start(std::string *error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    *error = SystemError("posix_openpt");
    return false;
  }
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
    *error = SystemError("pseudo-terminal setup");
    Stop();
    return false;
  }
  slavePath_ = name;
  // Our own descriptor of the slave: raw mode from the start (no echo of the
  // replies back to us), and no hang-up on the master when the driver closes.
  slave_ = open(name, O_RDWR | O_NOCTTY);
  if (slave_ < 0) {
    *error = SystemError("open slave");
    Stop();
    return false;
  }
  struct termios tio;
  if (tcgetattr(slave_, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetspeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    tcsetattr(slave_, TCSANOW, &tio);
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  if (pipe(wake_) != 0) {
    *error = SystemError("pipe");
    Stop();
    return false;
  }
  stopping_ = false;
  thread_ = std::thread(&PtyServer::Serve, this);
  return true;
}

void PtyServer::Stop() {
  stopping_ = true;
  if (wake_[1] >= 0) {
    const char byte = 1;
    (void)!write(wake_[1], &byte, 1);
  }
  {
    std::lock_guard<std::mutex> lock(sleepMutex_);
    sleepWake_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  for (int *fd : {&master_, &slave_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

std::string PtyServer::portName() const {
  return slavePath_.rfind("/dev/", 0) == 0 ? slavePath_.substr(5) : slavePath_;
}

void PtyServer::Serve() {
  std::string line;
  char buffer[512];
  while (!stopping_) {
    struct pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    if ((fds[0].revents & POLLIN) == 0) {
      // Only a hang-up or error: should not happen while we hold the slave.
      if (!SleepUntil(LinePacer::Clock::now() + std::chrono::milliseconds(50))) break;
      continue;
    }
    busy_ = true;
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) {
      busy_ = !line.empty();
      if (n < 0 && errno != EAGAIN && errno != EINTR &&
          !SleepUntil(LinePacer::Clock::now() + std::chrono::milliseconds(50))) {
        break;
      }
      continue;
    }
    pacer_.SetBaud(simulator_->baud());
    const LinePacer::Clock::time_point arrival = LinePacer::Clock::now();
    for (ssize_t i = 0; i < n && !stopping_; ++i) {
      // The byte is complete at the device when its last bit is in.
      const LinePacer::Clock::time_point complete = pacer_.Next(arrival);
      if (buffer[i] == '\r') {
        if (!SleepUntil(complete)) break;
        Answer(line);
        line.clear();
      } else if (line.size() < kMaxRequestLine) {
        line += buffer[i];
      }
    }
    busy_ = !line.empty();
  }
}

void PtyServer::Answer(const std::string &line) {
  const ExchangeRecord record = simulator_->Exchange(line);
  exchanges_++;
  const Delivery &delivery = record.delivery;
  if (delivery.silent) return;
  const std::string wire = delivery.Wire();
  LinePacer::Clock::time_point start = LinePacer::Clock::now();
  if (delivery.delayMs > 0) {
    start += std::chrono::milliseconds(delivery.delayMs);
    if (!SleepUntil(start)) return;
  }
  // The station's pause runs from the moment its last byte is handed over,
  // read before the write: the reader cannot have the byte any earlier, and a
  // thread held up after the write must not move the moment later.
  if (pacer_.baud() == 0 && delivery.dribbleMs == 0) {
    const LinePacer::Clock::time_point handedOver = LinePacer::Clock::now();
    if (WriteAll(wire.data(), wire.size())) simulator_->ReplySent(record, handedOver);
    return;
  }
  // Byte by byte, each at its own absolute deadline.
  LinePacer::Clock::time_point handedOver = start;
  for (size_t i = 0; i < wire.size(); ++i) {
    LinePacer::Clock::time_point due = start + std::chrono::milliseconds(delivery.dribbleMs) * static_cast<long>(i);
    due = pacer_.Next(due);
    if (!SleepUntil(due)) return;
    handedOver = LinePacer::Clock::now();
    if (!WriteAll(&wire[i], 1)) return;
  }
  simulator_->ReplySent(record, handedOver);
}

bool PtyServer::WaitIdle(int quietMs, int timeoutMs) const {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  Clock::time_point quietSince = Clock::now();
  bool quiet = false;
  for (;;) {
    int waiting = 0;
    const bool idle = !busy_ && master_ >= 0 && ioctl(master_, FIONREAD, &waiting) == 0 && waiting == 0;
    const Clock::time_point now = Clock::now();
    if (!idle) {
      quiet = false;
    } else if (!quiet) {
      quiet = true;
      quietSince = now;
    }
    if (quiet && now - quietSince >= std::chrono::milliseconds(quietMs)) return true;
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool PtyServer::SleepUntil(LinePacer::Clock::time_point deadline) {
  // A deadline already behind us (every deadline, when the line is not paced)
  // must cost nothing: a timed wait on it still sleeps out the timer slack,
  // about a tenth of a millisecond on every reply.
  if (deadline <= LinePacer::Clock::now()) return !stopping_;
  std::unique_lock<std::mutex> lock(sleepMutex_);
  sleepWake_.wait_until(lock, deadline, [this] { return stopping_.load(); });
  return !stopping_;
}

bool PtyServer::WriteAll(const char *bytes, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(master_, bytes + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    struct pollfd out = {master_, POLLOUT, 0};
    if (poll(&out, 1, kWriteWaitMs) <= 0 || stopping_) return false;
  }
  return true;
}

}  // namespace n2sim
