#include "zamgate/core/payloads.h"

#include <stdio.h>
#include <stdlib.h>

#include <cmath>

#include "host/common/gate_types.h"
#include "host/common/text_util.h"

namespace zamgate {

using nlohmann::json;

namespace {

// Milliseconds to the microsecond: finer says nothing about a serial line.
double Rounded(double ms) { return std::round(ms * 1000) / 1000; }

}  // namespace

json ValueNumber(const n2host::GateValue &value) {
  if (value.type == kGateReal) return strtod(n2host::RawText(value).c_str(), nullptr);
  return value.integer;
}

json GateJson(const GateState &gate, WallClock::time_point now) {
  json out;
  // A failed gate has no value to show (its last good one would read as
  // current): value and text are null, and time is that of the failed read.
  const bool shown = gate.hasValue && gate.quality != Quality::kFailed;
  out["value"] = shown ? ValueNumber(gate.value) : json(nullptr);
  out["text"] = shown ? json(n2host::ValueText(gate.meaning, gate.value)) : json(nullptr);
  out["type"] = gate.typeName;
  if (!gate.meta.unit.empty()) out["unit"] = gate.meta.unit;
  out["quality"] = QualityName(gate.quality);
  out["time"] = IsoTime(shown ? gate.goodAt : gate.readAt);
  if (gate.quality == Quality::kStale) {
    out["age_s"] = std::chrono::duration_cast<std::chrono::milliseconds>(now - gate.goodAt).count() / 1000.0;
  }
  if (gate.quality != Quality::kGood) out["status"] = gate.status;
  out["gas"] = gate.gas;
  return out;
}

json StationJson(const StationState &station) {
  json out;
  out["station"] = station.station;
  out["state"] = station.demoted ? "demoted" : "up";
  out["good_share"] = station.goodShare ? json(*station.goodShare) : json(nullptr);
  out["median_ms"] = station.medianMs ? json(Rounded(*station.medianMs)) : json(nullptr);
  out["p95_ms"] = station.p95Ms ? json(Rounded(*station.p95Ms)) : json(nullptr);
  out["last_reply"] = station.lastReply.empty() ? json(nullptr) : json(station.lastReply);
  out["requests"] = station.requests;
  out["failures"] = station.failures;
  return out;
}

json WriteResultJson(const WriteResult &result, const n2host::PointMeaning &meaning) {
  json out;
  out["gate"] = result.gate;
  out["value"] = result.value;
  if (!result.requestId.empty()) out["id"] = result.requestId;
  out["outcome"] = OutcomeName(result.outcome);
  out["text"] = result.text;
  out["time"] = IsoTime(result.at);
  if (result.readBack) {
    out["read_back"] = ValueNumber(*result.readBack);
    out["read_back_text"] = n2host::ValueText(meaning, *result.readBack);
  }
  return out;
}

json ClockJson(const ClockOutcome &outcome) {
  json out;
  out["station"] = outcome.station;
  out["outcome"] = outcome.set ? "set" : "not set";
  out["ahead_s"] = outcome.aheadSeconds ? json(*outcome.aheadSeconds) : json(nullptr);
  out["text"] = outcome.text;
  out["time"] = IsoTime(outcome.at);
  return out;
}

json StatusJson(bool online, bool portOpen, const std::string &portText) {
  json out;
  out["state"] = online ? "online" : "offline";
  if (online) {
    out["port"] = portOpen ? "open" : "lost";
    if (!portOpen) out["port_text"] = portText;
  }
  out["time"] = IsoTime(WallClock::now());
  return out;
}

json StateJson(const StoreSnapshot &snapshot, WallClock::time_point now) {
  json out;
  out["gateway"] = snapshot.gatewayId;
  out["time"] = IsoTime(now);
  out["port"] = snapshot.portOpen ? "open" : "lost";
  if (!snapshot.portOpen) out["port_text"] = snapshot.portText;
  out["mqtt"] = snapshot.mqttConnected ? "connected" : "disconnected";
  out["stations"] = json::array();
  for (const StationState &station : snapshot.stations) out["stations"].push_back(StationJson(station));
  out["gates"] = json::array();
  for (const GateState &gate : snapshot.gates) {
    json item = GateJson(gate, now);
    item["name"] = gate.name;
    item["station"] = gate.station;
    item["writable"] = gate.writable;
    if (gate.hasValue) {
      item["age_s"] = std::chrono::duration_cast<std::chrono::milliseconds>(now - gate.goodAt).count() / 1000.0;
    }
    out["gates"].push_back(item);
  }
  out["events"] = json::array();
  for (const GatewayEvent &event : snapshot.events) out["events"].push_back({{"time", IsoTime(event.time)}, {"text", event.text}});
  return out;
}

size_t TextProblemAt(std::string_view text) {
  size_t at = 0;
  while (at < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F) return at;
      ++at;
      continue;
    }
    const size_t length = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return at;
    uint32_t code = c & (0xFFu >> (length + 1));
    for (size_t i = 1; i < length; ++i) {
      const unsigned char next = static_cast<unsigned char>(text[at + i]);
      if ((next & 0xC0) != 0x80) return at;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code < 0xA0) return at;
    at += length;
  }
  return std::string_view::npos;
}

std::string Dump(const json &value, int indent) {
  return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

namespace {

// True when JSON text nests no deeper than limit: checked before the parser
// sees it, so no payload can take the parser's stack down.
bool NestsAtMost(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

}  // namespace

bool ParseSetPayload(const std::string &payload, std::string *value, std::string *requestId, std::string *why) {
  value->clear();
  requestId->clear();
  if (payload.size() > kSetPayloadLimit) {
    *why = "malformed set: the payload is " + std::to_string(payload.size()) + " bytes, at most " +
           std::to_string(kSetPayloadLimit) + " are taken";
    return false;
  }
  const size_t bad = TextProblemAt(payload);
  if (bad != std::string_view::npos) {
    char byte[8];
    snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(payload[bad]));
    *why = "malformed set: the payload is not UTF-8 text (byte " + std::string(byte) + " at offset " +
           std::to_string(bad) + ")";
    return false;
  }
  std::string_view text = n2host::Trim(payload);
  if (text.empty()) return true;  // an override release
  if (!NestsAtMost(text, kSetNestingLimit)) {
    *why = "malformed set: the JSON nests deeper than " + std::to_string(kSetNestingLimit) + " levels";
    return false;
  }
  const json parsed = json::parse(text, nullptr, false);
  if (parsed.is_discarded()) {
    // Plain text such as 07:30, Mon-Fri or on; but not broken JSON.
    if (text.front() == '{' || text.front() == '[' || text.front() == '"') {
      *why = "malformed set: the payload is neither a value nor valid JSON";
      return false;
    }
    *value = std::string(text);
    return true;
  }
  const json *item = &parsed;
  if (parsed.is_object()) {
    auto found = parsed.find("value");
    if (found == parsed.end()) {
      *why = "malformed set: a JSON object needs \"value\"";
      return false;
    }
    item = &*found;
    auto id = parsed.find("id");
    if (id != parsed.end()) *requestId = id->is_string() ? id->get<std::string>() : Dump(*id);
  }
  if (item->is_string()) {
    *value = item->get<std::string>();
  } else if (item->is_number()) {
    *value = Dump(*item);
  } else if (item->is_boolean()) {
    // Words, not 1/0: only a digital gate takes them.
    *value = item->get<bool>() ? "true" : "false";
  } else if (item->is_null() && parsed.is_object()) {
    value->clear();
  } else {
    *why = "malformed set: the value must be a number, text or true/false";
    return false;
  }
  return true;
}

}  // namespace zamgate
