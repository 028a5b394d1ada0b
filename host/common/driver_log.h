// The driver's messages. The driver logs through libqorpro's err(), which
// appends to the file named by QORPRO_LOG. zamhost points QORPRO_LOG at a
// file of its own, takes each request's messages from it after the request,
// and passes them on: to the file the user named in QORPRO_LOG, if any, in
// the same form, and otherwise to standard error as libqorpro prints them
// (unless --quiet), or into the report when a command shows them itself
// (check, the poll table, the demo).
#ifndef ZAMKT_HOST_COMMON_DRIVER_LOG_H
#define ZAMKT_HOST_COMMON_DRIVER_LOG_H

#include <functional>
#include <string>
#include <vector>

namespace n2host {

struct DriverMessage {
  int level = 0;
  std::string text;  // CR and LF written as \r and \n, as libqorpro writes them
};

using MessageSink = std::function<void(const DriverMessage &)>;

class DriverLog {
 public:
  DriverLog();   // redirects QORPRO_LOG to a private file
  ~DriverLog();  // puts QORPRO_LOG back and removes the file
  DriverLog(const DriverLog &) = delete;
  DriverLog &operator=(const DriverLog &) = delete;

  // The messages logged since the last call. Each is also appended to the
  // user's own QORPRO_LOG file when one was set.
  std::vector<DriverMessage> Take();

  // True when the user named a log file: messages then go there and not to
  // standard error.
  bool UserFile() const { return !userPath_.empty(); }

  // Prints a message as libqorpro prints to standard error.
  static void PrintToStderr(const DriverMessage &message);

 private:
  std::string path_;
  std::string userPath_;
  int fd_ = -1;         // the private file, open for reading while the log lives
  long consumed_ = 0;
};

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_DRIVER_LOG_H
