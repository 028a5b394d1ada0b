#include "host/common/driver_log.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace n2host {

DriverLog::DriverLog() {
  if (const char *user = getenv("QORPRO_LOG"); user != nullptr && user[0] != '\0') userPath_ = user;
  const char *folder = getenv("TMPDIR");
  std::string pattern = std::string(folder != nullptr && folder[0] != '\0' ? folder : "/tmp") + "/zamhost-log-XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd >= 0) {
    close(fd);
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
}

std::vector<DriverMessage> DriverLog::Take() {
  std::vector<DriverMessage> messages;
  if (path_.empty()) return messages;
  FILE *file = fopen(path_.c_str(), "rb");
  if (file == nullptr) return messages;
  if (fseek(file, consumed_, SEEK_SET) != 0) {
    fclose(file);
    return messages;
  }
  std::string line;
  FILE *user = nullptr;
  int c;
  while ((c = fgetc(file)) != EOF) {
    ++consumed_;
    if (c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    if (!userPath_.empty()) {
      if (user == nullptr) user = fopen(userPath_.c_str(), "ab");
      if (user != nullptr) fprintf(user, "%s\n", line.c_str());
    }
    DriverMessage message;
    size_t tab = line.find('\t');
    message.level = tab == std::string::npos ? 0 : atoi(line.substr(0, tab).c_str());
    message.text = tab == std::string::npos ? line : line.substr(tab + 1);
    messages.push_back(message);
    line.clear();
  }
  // A line still being written stays for the next call.
  consumed_ -= static_cast<long>(line.size());
  if (user != nullptr) fclose(user);
  fclose(file);
  return messages;
}

void DriverLog::PrintToStderr(const DriverMessage &message) {
  fprintf(stderr, "[qorpro %d] %s\n", message.level, message.text.c_str());
  fflush(stderr);
}

}  // namespace n2host
