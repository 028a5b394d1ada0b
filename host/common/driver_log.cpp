#include "host/common/driver_log.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace n2host {

DriverLog::DriverLog() {
  if (const char *user = getenv("QORPRO_LOG"); user != nullptr && user[0] != '\0') userPath_ = user;
  const char *folder = getenv("TMPDIR");
  std::string pattern = std::string(folder != nullptr && folder[0] != '\0' ? folder : "/tmp") + "/zamhost-log-XXXXXX";
  // The file stays open for reading while the log lives: a request without
  // messages then costs one fstat() to learn that nothing was added, rather
  // than an open, a seek, a read and a close.
  int fd = mkstemp(pattern.data());
  if (fd >= 0) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fd_ = fd;
    path_ = pattern;
    setenv("QORPRO_LOG", path_.c_str(), 1);
  }
}

DriverLog::~DriverLog() {
  if (path_.empty()) return;
  if (userPath_.empty()) {
    unsetenv("QORPRO_LOG");
  } else {
    setenv("QORPRO_LOG", userPath_.c_str(), 1);
  }
  unlink(path_.c_str());
  close(fd_);
}

std::vector<DriverMessage> DriverLog::Take() {
  std::vector<DriverMessage> messages;
  if (fd_ < 0) return messages;
  struct stat status;
  if (fstat(fd_, &status) != 0 || status.st_size <= consumed_) return messages;
  // What was appended since the last call, up to its last whole line: a line
  // still being written stays for the next call.
  std::string added(static_cast<size_t>(status.st_size - consumed_), '\0');
  size_t have = 0;
  while (have < added.size()) {
    const ssize_t n = pread(fd_, added.data() + have, added.size() - have, consumed_ + static_cast<long>(have));
    if (n <= 0) break;
    have += static_cast<size_t>(n);
  }
  added.resize(have);
  const size_t whole = added.rfind('\n');
  if (whole == std::string::npos) return messages;
  added.resize(whole + 1);
  consumed_ += static_cast<long>(added.size());

  FILE *user = nullptr;
  size_t start = 0;
  while (start < added.size()) {
    const size_t end = added.find('\n', start);
    const std::string line = added.substr(start, end - start);
    start = end + 1;
    if (!userPath_.empty()) {
      if (user == nullptr) user = fopen(userPath_.c_str(), "ab");
      if (user != nullptr) fprintf(user, "%s\n", line.c_str());
    }
    DriverMessage message;
    const size_t tab = line.find('\t');
    message.level = tab == std::string::npos ? 0 : atoi(line.substr(0, tab).c_str());
    message.text = tab == std::string::npos ? line : line.substr(tab + 1);
    messages.push_back(message);
  }
  if (user != nullptr) fclose(user);
  return messages;
}

void DriverLog::PrintToStderr(const DriverMessage &message) {
  fprintf(stderr, "[qorpro %d] %s\n", message.level, message.text.c_str());
  fflush(stderr);
}

}  // namespace n2host
