#include "host/common/refusal.h"

#include <ctype.h>

namespace n2host {
namespace {

constexpr const char *kSystem91Nak = "ErrorCode ";
constexpr const char *kN2OpenNak = "MigDoReadItem() failed. Tag address ";
constexpr int kNoSuchPoint = 10;
constexpr int kWrongKind = 11;

// The words of the N2 error codes a station sends behind its "N".
std::string CodeMeaning(int code) {
  switch (code) {
    case 0: return "the device was reset";
    case 1: return "undefined command";
    case 2: return "checksum error";
    case 3: return "input buffer overrun";
    case 5: return "data field error";
    case kNoSuchPoint: return "no such point";
    case kWrongKind: return "invalid command for the data type";
    case 12: return "command rejected: device problem";
    default: return "error";
  }
}

}  // namespace

Refusal RefusalOf(const std::vector<DriverMessage> &messages) {
  Refusal refusal;
  for (const DriverMessage &message : messages) {
    const std::string &text = message.text;
    if (size_t at = text.find(kSystem91Nak); at != std::string::npos) {
      size_t digits = at + std::char_traits<char>::length(kSystem91Nak);
      size_t end = digits;
      while (end < text.size() && isxdigit(static_cast<unsigned char>(text[end])) && end - digits < 8) ++end;
      std::string code = text.substr(digits, end - digits);
      refusal.refused = true;
      refusal.code = code.size() == 2 && isdigit(static_cast<unsigned char>(code[0])) &&
                             isdigit(static_cast<unsigned char>(code[1]))
                         ? std::stoi(code)
                         : -1;
      refusal.definite = refusal.code == kNoSuchPoint || refusal.code == kWrongKind;
      refusal.reason = refusal.code >= 0 ? CodeMeaning(refusal.code) + " (N2 error " + code + ")"
                                         : "refused (N2 error " + code + ")";
      return refusal;
    }
    if (size_t at = text.find(kN2OpenNak); at != std::string::npos) {
      size_t colon = text.find(": ", at);
      if (colon == std::string::npos) continue;
      refusal.refused = true;
      refusal.reason = text.substr(colon + 2);
      refusal.definite = refusal.reason.find("Point doesn't exist") != std::string::npos ||
                         refusal.reason.find("Invalid command for data type") != std::string::npos;
      return refusal;
    }
  }
  return refusal;
}

std::vector<DriverMessage> CollapseRepeats(const std::vector<DriverMessage> &messages) {
  std::vector<DriverMessage> out;
  size_t i = 0;
  while (i < messages.size()) {
    size_t same = i + 1;
    while (same < messages.size() && messages[same].text == messages[i].text &&
           messages[same].level == messages[i].level) {
      ++same;
    }
    DriverMessage message = messages[i];
    if (same - i > 1) message.text += " (" + std::to_string(same - i) + " times)";
    out.push_back(message);
    i = same;
  }
  return out;
}

}  // namespace n2host
