// What every command starts from: the options that apply to all of them,
// the driver loaded from its library, the capture of its messages, and the
// way problems reach the user.
#ifndef ZAMKT_HOST_ZAMHOST_SESSION_H
#define ZAMKT_HOST_ZAMHOST_SESSION_H

#include <stdio.h>

#include <string>

#include "host/common/driver_library.h"
#include "host/common/driver_log.h"

namespace zamhost {

using namespace n2host;

struct GlobalOptions {
  std::string driverPath;  // empty: libzamkt.so beside zamhost
  bool quiet = false;      // hide the driver's messages
  bool verbose = false;    // show the driver's start-up lines too
  bool latin1 = false;     // gate lists are Latin-1 text
  // Where the driver's messages go instead of standard error (the demo
  // shows them under its own lines).
  MessageSink sink;
  FILE *out = stdout;
};

class Session {
 public:
  explicit Session(const GlobalOptions &options) : options_(options) {}

  // Loads the driver. False after printing why.
  bool Start();

  DriverLibrary &driver() { return driver_; }
  DriverLog &log() { return log_; }
  const GlobalOptions &options() const { return options_; }
  FILE *out() const { return options_.out; }

  // The usual way of the driver's messages: the user's QORPRO_LOG file
  // (already written), or standard error; nothing with --quiet.
  MessageSink DefaultSink() const;

  // True when the driver's messages reach the user's screen (not --quiet,
  // and no QORPRO_LOG file of the user's takes them).
  bool ShowsMessages() const { return !options_.quiet && !log_.UserFile(); }

 private:
  GlobalOptions options_;
  DriverLibrary driver_;
  DriverLog log_;
};

// Prints "zamhost: message" on standard error and returns the code.
int Fail(int code, const std::string &message);
// Prints "zamhost: message" on standard error.
void Warn(const std::string &message);

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_SESSION_H
