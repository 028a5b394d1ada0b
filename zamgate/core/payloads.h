// The JSON the gateway publishes and serves: a gate's state, a station's
// health, a write's result, the gateway's status, and the whole state for
// /api/state. One place, so that MQTT and HTTP say the same thing.
#ifndef ZAMKT_ZAMGATE_PAYLOADS_H
#define ZAMKT_ZAMGATE_PAYLOADS_H

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

#include "zamgate/core/clock_sync.h"
#include "zamgate/core/gate_store.h"
#include "zamgate/core/write_queue.h"

namespace zamgate {

// {"value", "text" (the user's terms), "type", "unit" (when known), "quality", "time", "age_s" (stale), "gas"}
nlohmann::json GateJson(const GateState &gate, WallClock::time_point now);
// {"station", "state", "good_share", "median_ms", "p95_ms", "last_reply", "requests", "failures"}
nlohmann::json StationJson(const StationState &station);
// {"gate", "value", "id", "outcome", "text", "time", "read_back"}
nlohmann::json WriteResultJson(const WriteResult &result, const n2host::PointMeaning &meaning);
// {"station", "outcome": "set"|"not set", "ahead_s" (before; null when unread), "text", "time"}
nlohmann::json ClockJson(const ClockOutcome &outcome);
// {"state": "online"|"offline", "port": "open"|"lost", "port_text", "time"}
nlohmann::json StatusJson(bool online, bool portOpen, const std::string &portText);
// Everything: gateway, port, mqtt, stations, gates, events.
nlohmann::json StateJson(const StoreSnapshot &snapshot, WallClock::time_point now);

// The gate's value as a JSON number (reals by their shortest text).
nlohmann::json ValueNumber(const n2host::GateValue &value);

// The largest set payload taken; a longer one is refused unread.
constexpr size_t kSetPayloadLimit = 1024;
// How deep a set's JSON may nest ({"value": ...} is one level).
constexpr int kSetNestingLimit = 8;

// What a set message asks for: its payload is the value as text ("21.5",
// "07:30", "on"), a JSON number, string or boolean, or {"value": ..., "id": ...}.
// False, with a reason, for a payload that is none of these, longer than
// kSetPayloadLimit, not UTF-8 text (control characters included) or nested
// deeper than kSetNestingLimit. A JSON boolean becomes "true" or "false",
// which only a digital gate takes. Never throws.
bool ParseSetPayload(const std::string &payload, std::string *value, std::string *requestId, std::string *why);

// The offset of the first byte of text that is not UTF-8 or is a control
// character other than tab, CR and LF; npos when there is none.
size_t TextProblemAt(std::string_view text);

// JSON text as the gateway sends it: never throws; text that is not UTF-8
// (which the gateway never puts into JSON knowingly) is replaced, not fatal.
std::string Dump(const nlohmann::json &value, int indent = -1);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_PAYLOADS_H
