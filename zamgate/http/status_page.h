// The read-only status page: stations with their health, gates with value,
// quality and age, and the last events, as one HTML page rendered on the
// server (it shows without scripts) that reloads itself every few seconds.
#ifndef ZAMKT_ZAMGATE_STATUS_PAGE_H
#define ZAMKT_ZAMGATE_STATUS_PAGE_H

#include <string>

#include "zamgate/core/gate_store.h"
#include "zamgate/core/html_escape.h"

namespace zamgate {

// Which gates the page lists (query parameters "station" and "q"): those of
// one station, and those whose name, GAS, unit or description holds the text
// (letter case aside). Empty: all.
struct PageFilter {
  std::string station;
  std::string text;
};

std::string StatusPage(const StoreSnapshot &snapshot, WallClock::time_point now, const PageFilter &filter = {});

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_STATUS_PAGE_H
