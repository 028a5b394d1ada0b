#include "host/zamhost/session.h"

#include "host/common/exit_codes.h"
#include "host/common/poll_output.h"

namespace zamhost {

using namespace n2host;

bool Session::Start() {
  std::string error;
  std::string path = options_.driverPath.empty() ? DefaultDriverPath() : options_.driverPath;
  if (!driver_.Load(path, &error)) {
    Fail(kExitDriver, error);
    return false;
  }
  return true;
}

MessageSink Session::DefaultSink() const {
  if (options_.quiet || log_.UserFile()) return [](const DriverMessage &) {};
  if (options_.sink) return options_.sink;
  return [](const DriverMessage &message) {
    fflush(stdout);
    fprintf(stderr, "%s [qorpro %d] %s\n", TimeStamp().c_str(), message.level, message.text.c_str());
    fflush(stderr);
  };
}

int Fail(int code, const std::string &message) {
  Warn(message);
  return code;
}

void Warn(const std::string &message) {
  fflush(stdout);
  fprintf(stderr, "zamhost: %s\n", message.c_str());
  fflush(stderr);
}

}  // namespace zamhost
