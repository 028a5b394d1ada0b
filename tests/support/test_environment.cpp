// LogCapture and TempWorkDir: the parts of the test environment that need
// no driver.
#include "tests/support/driver_channel.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>

namespace {

std::string MakeTempPath(const char *pattern, bool directory) {
  std::string path = std::string(getenv("TMPDIR") != nullptr ? getenv("TMPDIR") : "/tmp") + "/" + pattern;
  std::string buffer = path;
  if (directory) {
    if (mkdtemp(buffer.data()) == nullptr) abort();
  } else {
    int fd = mkstemp(buffer.data());
    if (fd < 0) abort();
    close(fd);
  }
  return buffer;
}

std::vector<std::string> ReadLines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace

LogCapture::LogCapture() {
  path_ = MakeTempPath("zamkt-log-XXXXXX", false);
  if (const char *previous = getenv("QORPRO_LOG")) {
    previous_ = previous;
    hadPrevious_ = true;
  }
  setenv("QORPRO_LOG", path_.c_str(), 1);
}

LogCapture::~LogCapture() {
  if (hadPrevious_) {
    setenv("QORPRO_LOG", previous_.c_str(), 1);
  } else {
    unsetenv("QORPRO_LOG");
  }
  unlink(path_.c_str());
}

std::vector<std::string> LogCapture::Lines() const { return ReadLines(path_); }

std::vector<std::string> LogCapture::Messages() const {
  std::vector<std::string> messages;
  for (const std::string &line : Lines()) {
    size_t tab = line.find('\t');
    messages.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
  }
  return messages;
}

void LogCapture::Clear() { std::ofstream(path_, std::ios::trunc); }

bool LogCapture::Contains(const std::string &text) const {
  for (const std::string &message : Messages()) {
    if (message == text) return true;
  }
  return false;
}

TempWorkDir::TempWorkDir() {
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) != nullptr) previous_ = cwd;
  path_ = MakeTempPath("zamkt-cwd-XXXXXX", true);
  if (chdir(path_.c_str()) != 0) abort();
}

TempWorkDir::~TempWorkDir() {
  if (!previous_.empty()) (void)chdir(previous_.c_str());
  std::string command = "rm -rf '" + path_ + "'";
  (void)system(command.c_str());
}

void TempWorkDir::WriteFile(const std::string &name, const std::string &content) const {
  std::ofstream out(path_ + "/" + name, std::ios::binary | std::ios::trunc);
  out << content;
}

