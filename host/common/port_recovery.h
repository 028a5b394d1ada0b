// A port that went away under a running channel (a USB adapter pulled out,
// the other side of a pseudo-terminal closed) and its return. A hung-up
// terminal ends every read at once, so a request that finds no reply in far
// less than its time-out, or whose device node has vanished, shows a lost
// port rather than a silent station. The channel is then reopened (commands
// 11 and 13) with a growing back-off until the port is back.
#ifndef ZAMKT_HOST_COMMON_PORT_RECOVERY_H
#define ZAMKT_HOST_COMMON_PORT_RECOVERY_H

#include <stdint.h>

#include <chrono>
#include <string>

#include "host/common/channel.h"

namespace n2host {

enum class PortState {
  kOpen,  // requests go out
  kLost   // the port went away; reopened when the back-off allows
};

struct PortStatus {
  PortState state = PortState::kOpen;
  std::string port;     // the port as the user named it
  std::string reason;   // why it was judged lost ("" while open)
  int reopenTries = 0;  // reopens tried since it was lost
  int nextTryMs = 0;    // from now to the next reopen, while lost
};

struct BackOff {
  int firstMs = 500;     // wait before the first reopen
  int longestMs = 8000;  // the waits double up to this
};

class PortRecovery {
 public:
  // port: the user's name for it (messages name it and its device is
  // watched); timeoutMs: the channel's reply time-out.
  PortRecovery(Channel &channel, std::string port, int timeoutMs, BackOff backOff = {});

  // Judges a read or write that took `elapsed` and returned status. True when
  // it shows the port lost (the state then becomes kLost; Event() says so).
  bool Observe(int32_t status, std::chrono::steady_clock::duration elapsed);

  // The port could not be opened at start: it is waited for as a port lost
  // later is (the same back-off and events).
  void StartLost(const std::string &reason);

  // While lost: reopens when the back-off is over. True once the port is
  // open again (Event() then says so); false while it is still gone or the
  // back-off still runs.
  bool TryReopen();

  bool lost() const { return status_.state == PortState::kLost; }
  PortStatus status() const;

  // The last change of state in words: "port lost: /dev/ttyUSB0 is gone
  // (its device node vanished), reopening every 0.5 s to 8 s", "port back:
  // /dev/ttyUSB0 reopened after 3 tries, polling resumes".
  const std::string &event() const { return event_; }

  // "open" or "lost: <reason>, reopen try N in 2.0 s".
  std::string Describe() const;

 private:
  bool DeviceGone() const;

  Channel &channel_;
  PortStatus status_;
  int timeoutMs_;
  BackOff backOff_;
  int waitMs_ = 0;
  std::chrono::steady_clock::time_point nextTry_;
  std::string event_;
};

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_PORT_RECOVERY_H
