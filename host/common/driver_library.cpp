#include "host/common/driver_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace n2host {

std::string ProgramFolder() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  std::string program(path, static_cast<size_t>(length));
  size_t slash = program.rfind('/');
  if (slash == std::string::npos) return ".";
  return program.substr(0, slash);
}

std::string DefaultDriverPath() {
  const std::string folder = ProgramFolder();
  const std::string beside = folder + "/libzamkt.so";
#ifdef ZAMKT_DRIVER_DIR_FROM_PROGRAM
  // An installed program (/usr/bin/zamhost) finds the driver in the private
  // library folder (/usr/lib/zamkt/); one in the build folder, beside it.
  if (access(beside.c_str(), F_OK) != 0) {
    const std::string installed = folder + "/" ZAMKT_DRIVER_DIR_FROM_PROGRAM "/libzamkt.so";
    if (access(installed.c_str(), F_OK) == 0) return installed;
  }
#endif
  return beside;
}

bool DriverLibrary::Load(const std::string &path, std::string *error) {
  // A bare file name would send dlopen searching the library path; the user
  // means the file in the current folder.
  std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  if (access(file.c_str(), F_OK) != 0) {
    *error = "driver library '" + file + "' not found: build it (cmake --build build) or name it with --driver PATH";
    return false;
  }
  void *library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char *reason = dlerror();
    *error = "cannot load the driver '" + file + "': " + (reason != nullptr ? reason : "unknown reason");
    return false;
  }
  void *entry = dlsym(library, "ZamMain");
  if (entry == nullptr) {
    *error = "'" + file + "' exports no ZamMain: it is not the ZAMKT driver";
    dlclose(library);
    return false;
  }
  zamMain_ = reinterpret_cast<ZamMainFunction>(entry);
  path_ = file;
  return true;
}

DriverInfoBlock DriverLibrary::Info() const {
  DriverInfoBlock info{};
  DriverRequest request{};
  request.command = kCmdDriverInfo;
  request.parameters = &info;
  Call(&request);
  return info;
}

}  // namespace n2host
