#include "tests/support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

PtyPair::PtyPair() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    perror("posix_openpt");
    abort();
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    perror("ptsname_r");
    abort();
  }
  slavePath_ = name;
  // Raw on the device side too: no echo, no line editing, CR passed through.
  termios tio;
  if (tcgetattr(master_, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(master_, TCSANOW, &tio);
  }
}

PtyPair::~PtyPair() {
  if (master_ >= 0) close(master_);
}

void PtyPair::Write(const std::string &bytes) const {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string PtyPair::ReadUntil(char terminator, int timeoutMs) const {
  std::string out;
  for (;;) {
    pollfd pfd = {master_, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0 || (pfd.revents & POLLIN) == 0) return out;
    char c;
    if (read(master_, &c, 1) != 1) return out;
    out.push_back(c);
    if (c == terminator) return out;
  }
}

std::string PtyPair::Drain(int timeoutMs) const {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return out;
    pollfd pfd = {master_, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0 || (pfd.revents & POLLIN) == 0) return out;
    char buffer[512];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) return out;
    out.append(buffer, static_cast<size_t>(n));
  }
}
