#include "tests/support/expected_frames.h"

#include <cstdio>

std::string Hex(const std::vector<uint8_t> &bytes) {
  std::string text;
  for (uint8_t byte : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    text += pair;
  }
  return text;
}

std::string FrameSumHex(const std::string &text) {
  unsigned sum = 0;
  for (unsigned char c : text) sum += c;
  return Hex({static_cast<uint8_t>(sum & 0xFF)});
}

std::string System91Frame(std::vector<uint8_t> message) {
  unsigned s1 = 0, s2 = 0;
  for (uint8_t byte : message) {
    s1 += byte;
    if (s1 > 255) s1 -= 255;
    s2 += s1;
    if (s2 > 255) s2 -= 255;
  }
  unsigned t = s1 + s2;
  if (t > 255) t -= 255;
  message.push_back(static_cast<uint8_t>(255 - t));
  message.push_back(static_cast<uint8_t>(s2));
  const std::string body = Hex(message);
  return ">" + body + FrameSumHex(body);
}

std::string N2OpenFrame(const std::vector<uint8_t> &message) { return N2OpenTextFrame(Hex(message)); }

std::string N2OpenTextFrame(const std::string &body) { return ">" + body + FrameSumHex(body); }
