#include "host/common/serial_port_name.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace n2host {
namespace {

// "COMn" with n >= 1: n, otherwise 0.
int ComNumber(const std::string &name) {
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return 0;
  if (name.find_first_not_of("0123456789", 3) != std::string::npos) return 0;
  return atoi(name.c_str() + 3);
}

bool MakeShortLink(const std::string &target, std::string *link) {
  unsigned seed = static_cast<unsigned>(getpid()) * 7919u + static_cast<unsigned>(time(nullptr));
  for (int attempt = 0; attempt < 200; ++attempt) {
    seed = seed * 1103515245u + 12345u;
    std::string candidate = "/tmp/zh" + std::to_string(1000 + (seed >> 8) % 9000);
    if (symlink(target.c_str(), candidate.c_str()) == 0) {
      *link = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace

std::string DevicePathOf(const std::string &portName) {
  if (portName == "NUL") return "";
  if (!portName.empty() && portName[0] == '/') return portName;
  if (int n = ComNumber(portName); n > 0) return "/dev/ttyS" + std::to_string(n - 1);
  return "/dev/" + portName;
}

bool DriverPortName(const std::string &port, std::string *name, std::string *link, std::string *error) {
  link->clear();
  std::string path = port;
  if (!path.empty() && path[0] == '.') {
    // A path relative to the current folder: the driver would look under /dev.
    char absolute[PATH_MAX];
    if (realpath(path.c_str(), absolute) == nullptr) {
      *error = "port '" + port + "' not found: " + strerror(errno);
      return false;
    }
    path = absolute;
  }
  if (path.empty() || path[0] != '/') {
    if (path.size() > kMaxDriverPortName) {
      *error = "port name '" + port + "' is longer than the driver's 11 characters: give its path instead";
      return false;
    }
    *name = path;
    return true;
  }
  // "/dev/X" is the driver's "X", unless X would read as one of its own forms.
  if (path.compare(0, 5, "/dev/") == 0) {
    std::string rest = path.substr(5);
    if (!rest.empty() && rest.size() <= kMaxDriverPortName && rest != "NUL" && ComNumber(rest) == 0 &&
        rest[0] != '/') {
      *name = rest;
      return true;
    }
  }
  if (path.size() <= kMaxDriverPortName) {
    *name = path;
    return true;
  }
  if (!MakeShortLink(path, link)) {
    *error = "port path '" + port + "' is too long for the driver and no short link could be made in /tmp";
    return false;
  }
  *name = *link;
  return true;
}

std::string DiagnosePortFailure(const std::string &portName) {
  std::string path = DevicePathOf(portName);
  std::string shown = "port '" + portName + "'" + (path != portName ? " (" + path + ")" : "");
  struct stat status;
  if (path.empty()) return shown + " could not be opened";
  if (stat(path.c_str(), &status) != 0) {
    return shown + " does not exist: check the name and that the adapter is plugged in (ls /dev/ttyS* /dev/ttyUSB*)";
  }
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int reason = errno;
    if (reason == EACCES || reason == EPERM) {
      return shown + ": permission denied; add your user to the port's group (sudo usermod -aG dialout $USER) and log in again";
    }
    if (reason == EBUSY) return shown + " is held by another program (see which: fuser -v " + path + ")";
    return shown + " cannot be opened: " + strerror(reason);
  }
  std::string verdict;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    verdict = shown + " is held by another program (see which: fuser -v " + path + ")";
  } else {
    termios settings;
    if (tcgetattr(fd, &settings) != 0) {
      verdict = shown + " is not a serial port";
    } else {
      verdict = shown + " refused the serial settings: check --baud, --data-bits, --parity and --stop-bits";
    }
    flock(fd, LOCK_UN);
  }
  close(fd);
  return verdict;
}

}  // namespace n2host
