#include "sim/wire.h"

#include <cmath>

namespace n2sim {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int NibbleOf(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Folds a ones'-complement running sum: only values above 255 wrap.
uint16_t Fold(uint16_t sum) { return sum > 255 ? static_cast<uint16_t>((sum + 1) % 256) : sum; }

}  // namespace

uint8_t CharSum(std::string_view text) {
  unsigned sum = 0;
  for (char c : text) sum += static_cast<unsigned char>(c);
  return static_cast<uint8_t>(sum & 0xFF);
}

void FletcherBytes(const uint8_t *bytes, size_t count, uint8_t check[2]) {
  uint16_t s1 = 0;
  uint16_t s2 = 0;
  for (size_t i = 0; i < count; ++i) {
    s1 = Fold(static_cast<uint16_t>(s1 + bytes[i]));
    s2 = Fold(static_cast<uint16_t>(s2 + s1));
  }
  uint16_t t = Fold(static_cast<uint16_t>(s1 + s2));
  check[0] = static_cast<uint8_t>(255 - t);
  check[1] = static_cast<uint8_t>(s2);
}

std::string HexByte(uint8_t byte) {
  std::string text(2, '0');
  text[0] = kHexDigits[byte >> 4];
  text[1] = kHexDigits[byte & 0x0F];
  return text;
}

std::string ToHex(const Bytes &bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) text += HexByte(b);
  return text;
}

bool ParseHex(std::string_view text, Bytes *out) {
  out->clear();
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = NibbleOf(text[i]);
    int low = NibbleOf(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

uint16_t EncodeN2Real(double value) {
  if (!std::isfinite(value)) return 0;
  const bool negative = std::signbit(value) && value != 0.0;
  const double magnitude = std::fabs(value);
  uint16_t word = 0xF7FF;  // 2047 * 2^4 = 32752, the largest magnitude
  for (int e = 0; e <= 15; ++e) {
    const double m = std::round(std::ldexp(magnitude, 11 - e));
    if (m < 2048.0) {
      word = static_cast<uint16_t>((e << 12) | static_cast<uint16_t>(m));
      break;
    }
  }
  if (negative && (word & 0x07FF) != 0) word |= 0x0800;
  return word;
}

double DecodeN2Real(uint16_t item) {
  const int e = item >> 12;
  const int m = item & 0x07FF;
  const double magnitude = std::ldexp(static_cast<double>(m), e - 11);
  return (item & 0x0800) ? -magnitude : magnitude;
}

std::string System91DataReply(const std::string &dataText) {
  Bytes dataBytes;
  ParseHex(dataText, &dataBytes);  // decimal digit text is valid hex as well
  uint8_t check[2];
  FletcherBytes(dataBytes.data(), dataBytes.size(), check);
  std::string body = dataText + HexByte(check[0]) + HexByte(check[1]);
  return "A" + body + HexByte(CharSum(body));
}

std::string N2OpenDataReply(const std::string &dataHex) {
  return "A" + dataHex + HexByte(CharSum(dataHex));
}

std::string NakReply(int code) {
  std::string text = "N";
  text += static_cast<char>('0' + (code / 10) % 10);
  text += static_cast<char>('0' + code % 10);
  return text;
}

std::string System91Request(const Bytes &message) {
  Bytes withCheck = message;
  uint8_t check[2];
  FletcherBytes(message.data(), message.size(), check);
  withCheck.push_back(check[0]);
  withCheck.push_back(check[1]);
  const std::string body = ToHex(withCheck);
  return ">" + body + HexByte(CharSum(body));
}

std::string N2OpenRequest(const Bytes &message) {
  const std::string body = ToHex(message);
  return ">" + body + HexByte(CharSum(body));
}

}  // namespace n2sim
