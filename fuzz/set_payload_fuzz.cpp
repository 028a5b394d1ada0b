// A set message as zamgate takes it from the broker: the payload parsed
// (size, UTF-8, nesting, JSON), its value read for a gate of the kind the
// first byte picks, and the result message built and dumped as it would be
// published, with the gate name and the payload quoted as excerpts.
//
// Input:
//   0      the gate's kind and type
//   1...   the payload
// The checks: nothing throws; a payload past the limit or that is not UTF-8
// text is refused; a value read as a number was decimal text; the result
// message is JSON that parses back, is bounded, and its quoted texts hold no
// control characters.
#include <stdio.h>

#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "host/common/text_util.h"
#include "host/common/value_text.h"
#include "zamgate/core/payloads.h"

extern const char *const kFuzzSeeds[] = {
    "0" "21.5", "1" "07:30", "2" "Mon-Fri", "3" "on", "4" "{\"value\": 22, \"id\": \"x1\"}",
    "5" "{\"value\": \"08:00\", \"id\": 7}", "6" "2024-02-29", "7" "[[[1]]]", "0" "0x1p3", "1" "0730",
    "2" "21.5\xb0" "C", "3" "true", "4" "\"a\\nb\"", "5" "{\"value\": null}", "6" "-32768", nullptr};

namespace {

using n2host::PointKind;

struct GateKind {
  PointKind kind;
  int type;
  int32_t region;
};
constexpr GateKind kKinds[] = {
    {PointKind::kPlain, kGateReal, 0},          {PointKind::kScheduleTime, kGateInt32, 0},
    {PointKind::kScheduleDays, kGateInt32, 0},  {PointKind::kDigital, kGateDigital, 0},
    {PointKind::kPlain, kGateInt16, 0},         {PointKind::kClockTime, kGateInt32, 0},
    {PointKind::kClockDate, kGateInt32, 0},     {PointKind::kPlain, kGateUInt16, 0},
    {PointKind::kPlain, kGateInt32, 0},         {PointKind::kOverride, kGateDigital, 1008},
    {PointKind::kPlain, kGateInt16, 1007},
};

bool DecimalText(const std::string &text, bool real) {
  for (char c : text) {
    const bool digit = c >= '0' && c <= '9';
    if (!digit && c != '+' && c != '-' && !(real && (c == '.' || c == 'e' || c == 'E'))) return false;
  }
  return true;
}

void CheckQuoted(const nlohmann::json &value, const char *what) {
  if (!value.is_string()) return;
  for (char c : value.get<std::string>()) {
    FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a control character in the result's %s", what);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const GateKind &gate = kKinds[data[0] % (sizeof kKinds / sizeof kKinds[0])];
  const std::string payload(reinterpret_cast<const char *>(data + 1), size - 1);

  std::string value, requestId, why;
  const bool parsed = zamgate::ParseSetPayload(payload, &value, &requestId, &why);
  if (payload.size() > zamgate::kSetPayloadLimit) FUZZ_CHECK(!parsed, "a payload of %zu bytes taken", payload.size());
  if (zamgate::TextProblemAt(payload) != std::string::npos) FUZZ_CHECK(!parsed, "a payload that is not UTF-8 text taken");
  if (!parsed) FUZZ_CHECK(!why.empty(), "a refusal without a reason");

  zamgate::WriteResult result;
  result.gate = n2host::Excerpt(payload, 80);  // a set topic's gate name is as outside as its payload
  result.value = parsed ? value : n2host::Excerpt(payload, 64);
  result.requestId = requestId;
  result.outcome = zamgate::WriteOutcome::kRejected;
  result.text = why;
  if (parsed && !value.empty()) {
    n2host::PointMeaning meaning;
    meaning.kind = gate.kind;
    meaning.region = gate.region;
    meaning.n2open = gate.region != 0;
    n2host::GateValue read;
    std::string error;
    if (n2host::ParseValue(meaning, gate.type, value, &read, &error)) {
      if (gate.kind == PointKind::kPlain) {
        FUZZ_CHECK(DecimalText(value, gate.type == kGateReal), "'%s' read as a number", value.c_str());
      }
      result.outcome = zamgate::WriteOutcome::kVerified;
      result.text = "written and verified";
      result.readBack = read;
    } else {
      FUZZ_CHECK(!error.empty(), "a value refused without a reason");
      FUZZ_CHECK(error.size() < 400, "a refusal of %zu bytes", error.size());
      result.text = error;
    }
  }
  result.text = n2host::Excerpt(result.text, 240);
  const std::string message = zamgate::Dump(zamgate::WriteResultJson(result, n2host::PointMeaning{}));
  FUZZ_CHECK(message.size() < 2 * zamgate::kSetPayloadLimit + 2048, "a result of %zu bytes", message.size());
  const nlohmann::json back = nlohmann::json::parse(message, nullptr, false);
  FUZZ_CHECK(!back.is_discarded(), "a result that is not JSON: %s", message.c_str());
  CheckQuoted(back["text"], "text");
  CheckQuoted(back["gate"], "gate");
  if (!parsed) CheckQuoted(back["value"], "value");
  return 0;
}
