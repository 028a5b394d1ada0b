// The JSON the gateway publishes and serves: a gate's state, a station's
// health, a write's result, the gateway's status, and the whole state for
// /api/state. One place, so that MQTT and HTTP say the same thing.
#ifndef ZAMKT_ZAMGATE_PAYLOADS_H
#define ZAMKT_ZAMGATE_PAYLOADS_H

#include <nlohmann/json.hpp>

#include <string>

#include "zamgate/gate_store.h"
#include "zamgate/write_queue.h"

namespace zamgate {

// {"value", "text" (the user's terms), "type", "unit" (when known), "quality", "time", "age_s" (stale), "gas"}
nlohmann::json GateJson(const GateState &gate, WallClock::time_point now);
// {"station", "state", "good_share", "median_ms", "p95_ms", "last_reply", "requests", "failures"}
nlohmann::json StationJson(const StationState &station);
// {"gate", "value", "id", "outcome", "text", "time", "read_back"}
nlohmann::json WriteResultJson(const WriteResult &result, const n2host::PointMeaning &meaning);
// {"state": "online"|"offline", "port": "open"|"lost", "port_text", "time"}
nlohmann::json StatusJson(bool online, bool portOpen, const std::string &portText);
// Everything: gateway, port, mqtt, stations, gates, events.
nlohmann::json StateJson(const StoreSnapshot &snapshot, WallClock::time_point now);

// The gate's value as a JSON number (reals by their shortest text).
nlohmann::json ValueNumber(const n2host::GateValue &value);

// What a set message asks for: its payload is the value as text ("21.5",
// "07:30", "on"), a JSON number, string or boolean, or {"value": ..., "id": ...}.
// False, with a reason, for a payload that is none of these.
bool ParseSetPayload(const std::string &payload, std::string *value, std::string *requestId, std::string *why);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_PAYLOADS_H
