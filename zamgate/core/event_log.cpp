#include "zamgate/core/event_log.h"

#include <stdio.h>

#include "host/common/text_util.h"

namespace zamgate {

namespace {

// The longest event kept or logged: events quote outside text only as
// excerpts, this bounds whatever else an event carries.
constexpr size_t kEventLimit = 2000;

}  // namespace

// Every line is one line: control characters (a newline in a payload would
// forge a second log line) and bytes that are not UTF-8 are written escaped.
void EventLog::Add(const std::string &raw) const {
  const std::string text = n2host::Excerpt(raw, kEventLimit);
  GatewayEvent event = store_ != nullptr ? store_->AddEvent(text) : GatewayEvent{WallClock::now(), text};
  // One fprintf per line: lines of several threads never interleave.
  fprintf(stderr, "%s zamgate: %s\n", IsoTime(event.time).c_str(), event.text.c_str());
  fflush(stderr);
}

void EventLog::Note(const std::string &raw) {
  const std::string text = n2host::Excerpt(raw, kEventLimit);
  fprintf(stderr, "%s zamgate: %s\n", IsoTime(WallClock::now()).c_str(), text.c_str());
  fflush(stderr);
}

}  // namespace zamgate
