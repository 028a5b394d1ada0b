#include "host/common/write_outcome.h"

#include <string_view>

namespace n2host {
namespace {

// Parts of the driver's messages that name a negative acknowledgement: the
// System 91 form carries the error code, the N2 Open form its meaning.
// (A bit or field write reads its item first, and that read may be refused.)
constexpr std::string_view kSystem91Refusal = " failed! ErrorCode ";
constexpr std::string_view kN2OpenRefusal = "N2OPEN_DoWriteItem() failed. Tag address ";

// Parts of the messages of a reply that could not be judged.
constexpr std::string_view kDamagedReply[] = {"invalid response", "Unrecognized reply", "Checksum Error",
                                              "CR not found", "response string too short", "not upper-case hex"};

// The driver's closing line of a failed write, which says nothing of why.
constexpr std::string_view kClosingLines[] = {"Single Write failed!", "N2OPEN_DoWriteItem() failed GAS="};

bool Has(const std::string &text, std::string_view part) { return text.find(part) != std::string::npos; }

// The code after "ErrorCode " up to the " H" that ends it.
std::string ErrorCodeOf(const std::string &text) {
  size_t at = text.find(kSystem91Refusal) + kSystem91Refusal.size();
  size_t end = text.find(" H", at);
  return text.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The N2 Open error text after "Tag address GAS: ".
std::string N2OpenTextOf(const std::string &text) {
  size_t at = text.find(": ", text.find(kN2OpenRefusal) + kN2OpenRefusal.size());
  return at == std::string::npos ? text : text.substr(at + 2);
}

}  // namespace

WriteOutcome ClassifyWrite(int32_t status, const std::vector<DriverMessage> &messages) {
  WriteOutcome outcome;
  if (status == 0) {
    outcome.text = "written";
    return outcome;
  }
  for (const DriverMessage &message : messages) {
    if (Has(message.text, kSystem91Refusal)) {
      outcome.result = WriteResult::kStationRefused;
      outcome.reason = message.text;
      outcome.text = "the station refused (N-code " + ErrorCodeOf(message.text) + ")";
      return outcome;
    }
    if (Has(message.text, kN2OpenRefusal)) {
      outcome.result = WriteResult::kStationRefused;
      outcome.reason = message.text;
      outcome.text = "the station refused (" + N2OpenTextOf(message.text) + ")";
      return outcome;
    }
  }
  if (status == 2) {
    outcome.result = WriteResult::kNoReply;
    outcome.text = "no reply";
    return outcome;
  }
  for (const DriverMessage &message : messages) {
    for (std::string_view part : kDamagedReply) {
      if (!Has(message.text, part)) continue;
      outcome.result = WriteResult::kBadReply;
      outcome.reason = message.text;
      outcome.text = "bad reply: " + message.text;
      return outcome;
    }
  }
  // Nothing came back from the line: the driver's own checks refused it. Its
  // first specific message says why; the closing line only names the gate.
  outcome.result = WriteResult::kDriverRefused;
  for (const DriverMessage &message : messages) {
    bool closing = false;
    for (std::string_view part : kClosingLines) closing = closing || Has(message.text, part);
    if (!closing) {
      outcome.reason = message.text;
      break;
    }
  }
  if (outcome.reason.empty()) {
    // Only the closing line: a bit, field or word write whose read of the
    // item got no reply, so that no write frame went out.
    outcome.result = WriteResult::kNoReply;
    outcome.text = "no reply (to the read of the item before the write)";
    return outcome;
  }
  outcome.text = "refused by the driver before sending" + (outcome.reason.empty() ? "" : ": " + outcome.reason);
  return outcome;
}

}  // namespace n2host
