// The gateway's events (a station demoted, the port lost, a write and its
// outcome, the broker gone): one line each with a time stamp on standard
// error, where systemd's journal picks them up, and kept in the store for the
// status page.
#ifndef ZAMKT_ZAMGATE_EVENT_LOG_H
#define ZAMKT_ZAMGATE_EVENT_LOG_H

#include <string>

#include "zamgate/core/gate_store.h"

namespace zamgate {

class EventLog {
 public:
  explicit EventLog(GateStore *store) : store_(store) {}
  // Safe from any thread.
  void Add(const std::string &text) const;
  // A line that is logged but not kept as an event (start-up, settings).
  static void Note(const std::string &text);

 private:
  GateStore *store_;
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_EVENT_LOG_H
