// Small text helpers shared by the parsers of zamhost.
#ifndef ZAMKT_HOST_COMMON_TEXT_UTIL_H
#define ZAMKT_HOST_COMMON_TEXT_UTIL_H

#include <ctype.h>

#include <string>
#include <string_view>

namespace n2host {

inline std::string_view Trim(std::string_view text) {
  while (!text.empty() && isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

inline std::string Lower(std::string_view text) {
  std::string out;
  for (char c : text) out.push_back(static_cast<char>(tolower(static_cast<unsigned char>(c))));
  return out;
}

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_TEXT_UTIL_H
