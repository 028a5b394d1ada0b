#include "zamgate/event_log.h"

#include <stdio.h>

namespace zamgate {

void EventLog::Add(const std::string &text) const {
  GatewayEvent event = store_ != nullptr ? store_->AddEvent(text) : GatewayEvent{WallClock::now(), text};
  // One fprintf per line: lines of several threads never interleave.
  fprintf(stderr, "%s zamgate: %s\n", IsoTime(event.time).c_str(), event.text.c_str());
  fflush(stderr);
}

void EventLog::Note(const std::string &text) {
  fprintf(stderr, "%s zamgate: %s\n", IsoTime(WallClock::now()).c_str(), text.c_str());
  fflush(stderr);
}

}  // namespace zamgate
