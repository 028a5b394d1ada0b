// The driver as the supervisory application loads it: libzamkt.so opened
// with dlopen, its one entry ZamMain looked up by name, and every service
// asked for through a DriverRequest.
#ifndef ZAMKT_HOST_COMMON_DRIVER_LIBRARY_H
#define ZAMKT_HOST_COMMON_DRIVER_LIBRARY_H

#include <stdint.h>

#include <string>

#include "driver/requests.h"

namespace n2host {

// The folder of the running program (from /proc/self/exe), without a
// trailing "/"; "." when it cannot be found.
std::string ProgramFolder();

// libzamkt.so beside the running program, or else, for an installed program,
// in the private library folder (../lib/zamkt/ from the program's folder).
// The path beside the program when neither is there, for the message.
std::string DefaultDriverPath();

class DriverLibrary {
 public:
  DriverLibrary() = default;
  DriverLibrary(const DriverLibrary &) = delete;
  DriverLibrary &operator=(const DriverLibrary &) = delete;
  // The library stays loaded until the process ends: the driver runs no work
  // at unload, and a host never unloads a driver with channels open.

  // Loads the library and finds ZamMain. False with a message naming the
  // file and what went wrong.
  bool Load(const std::string &path, std::string *error);

  // Sends one request and returns the driver's status.
  int32_t Call(DriverRequest *request) const { return zamMain_(request); }

  // Command 14: the driver's self-description.
  DriverInfoBlock Info() const;

  const std::string &path() const { return path_; }

 private:
  using ZamMainFunction = int32_t (*)(DriverRequest *);
  ZamMainFunction zamMain_ = nullptr;
  std::string path_;
};

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_DRIVER_LIBRARY_H
