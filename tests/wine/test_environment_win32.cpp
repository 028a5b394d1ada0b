// LogCapture and TempWorkDir for the Windows test programs: the same
// behaviour as tests/support/test_environment.cpp, over the C runtime's
// environment and std::filesystem instead of setenv and mkdtemp.
//
// The environment variable is changed with _putenv_s: the driver's logging
// library qorpro.dll shares the process's C runtime (msvcrt.dll) with the
// test program, so its getenv("QORPRO_LOG") sees the change at once.
#include <stdlib.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "tests/support/driver_channel.h"

namespace {

namespace fs = std::filesystem;

// A name no other test program running at the same time picks: the
// process id, a counter and the tick count.
fs::path FreshPath(const char *prefix) {
  static std::atomic<unsigned> counter{0};
  fs::path base = fs::temp_directory_path();
  for (;;) {
    std::string name = std::string(prefix) + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(counter++) + "-" + std::to_string(GetTickCount());
    fs::path candidate = base / name;
    std::error_code error;
    if (!fs::exists(candidate, error)) return candidate;
  }
}

std::vector<std::string> ReadLines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace

LogCapture::LogCapture() {
  path_ = FreshPath("zamkt-log-").string();
  std::ofstream(path_, std::ios::binary | std::ios::trunc);
  if (const char *previous = getenv("QORPRO_LOG")) {
    previous_ = previous;
    hadPrevious_ = true;
  }
  _putenv_s("QORPRO_LOG", path_.c_str());
}

LogCapture::~LogCapture() {
  // An empty value removes the variable.
  _putenv_s("QORPRO_LOG", hadPrevious_ ? previous_.c_str() : "");
  std::error_code error;
  fs::remove(path_, error);
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

void LogCapture::Clear() { std::ofstream(path_, std::ios::binary | std::ios::trunc); }

bool LogCapture::Contains(const std::string &text) const {
  for (const std::string &message : Messages()) {
    if (message == text) return true;
  }
  return false;
}

TempWorkDir::TempWorkDir() {
  std::error_code error;
  previous_ = fs::current_path(error).string();
  fs::path directory = FreshPath("zamkt-cwd-");
  if (!fs::create_directory(directory, error)) abort();
  path_ = directory.string();
  fs::current_path(directory, error);
  if (error) abort();
}

TempWorkDir::~TempWorkDir() {
  std::error_code error;
  if (!previous_.empty()) fs::current_path(previous_, error);
  fs::remove_all(path_, error);
}

void TempWorkDir::WriteFile(const std::string &name, const std::string &content) const {
  std::ofstream out(fs::path(path_) / name, std::ios::binary | std::ios::trunc);
  out << content;
}
