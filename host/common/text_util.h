// Small text helpers shared by the parsers of zamhost.
#ifndef ZAMKT_HOST_COMMON_TEXT_UTIL_H
#define ZAMKT_HOST_COMMON_TEXT_UTIL_H

#include <ctype.h>
#include <stdint.h>

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

// Outside text as it may be quoted in a message or a log line: at most
// `limit` bytes of it, control characters, backslashes and bytes that are not
// valid UTF-8 written as \xHH (so no newline can forge a second line), a cut
// marked with "...".
inline std::string Excerpt(std::string_view text, size_t limit = 64) {
  static const char kHex[] = "0123456789abcdef";
  static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  std::string out;
  size_t at = 0;
  while (at < text.size() && out.size() < limit) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    const size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    bool valid = length > 1 && at + length <= text.size();
    if (valid) {
      uint32_t code = c & (0xFFu >> (length + 1));
      for (size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        valid = valid && (next & 0xC0) == 0x80;
        code = (code << 6) | (next & 0x3F);
      }
      // Shortest form only, no surrogates, no C1 control characters.
      valid = valid && code >= kLeast[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF) && code >= 0xA0;
    }
    if (valid) {
      out.append(text.substr(at, length));
      at += length;
    } else if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
      ++at;
    } else {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
      ++at;
    }
  }
  if (at < text.size()) out += "...";
  return out;
}

// An excerpt in single quotes, as messages quote what the user typed.
inline std::string Quoted(std::string_view text) { return "'" + Excerpt(text, 40) + "'"; }

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_TEXT_UTIL_H
