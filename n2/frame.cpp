// System 91 request framing. Every request line is
//   ">" hex(message bytes, C0, C1) hex(frame sum) CR
// where C0, C1 are the Fletcher check bytes of the message bytes and the frame
// sum is the 8-bit sum of the hex characters between ">" and the frame sum.
#include "n2/frame.h"

#include "n2/protocol.h"
#include "serial/exchange.h"

uint8_t FrameSum(const char *text, uint16_t length) {
  uint8_t sum = 0;
  for (uint16_t i = 0; i < length; ++i) {
    sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(text[i]));
  }
  return sum;
}

// Ones'-complement (modulo 255) addition as the devices do it: a sum is folded
// only once it exceeds 255, so a sum of exactly 255 stays 255. Reducing to
// 0..254 after every step instead would turn the check bytes of the single
// byte 0xFF from 00 FF into FF 00, which is not what the devices compute.
static uint16_t FoldedAdd(uint16_t a, uint16_t b) {
  uint16_t sum = static_cast<uint16_t>(a + b);
  return sum > 255 ? static_cast<uint16_t>(sum - 255) : sum;
}

void FletcherCheck(const uint8_t *bytes, uint16_t count, uint8_t check[2]) {
  uint16_t s1 = 0;
  uint16_t s2 = 0;
  for (uint16_t i = 0; i < count; ++i) {
    s1 = FoldedAdd(s1, bytes[i]);
    s2 = FoldedAdd(s2, s1);
  }
  const uint16_t total = FoldedAdd(s1, s2);
  check[0] = static_cast<uint8_t>(255 - total);
  check[1] = static_cast<uint8_t>(s2);
}

static char HexDigit(uint8_t nibble) {
  return static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + (nibble - 10));
}

void BytesToHex(const uint8_t *bytes, char *text, uint16_t count) {
  for (uint16_t i = 0; i < count; ++i) {
    text[2 * i] = HexDigit(static_cast<uint8_t>(bytes[i] >> 4));
    text[2 * i + 1] = HexDigit(static_cast<uint8_t>(bytes[i] & 0x0F));
  }
}

uint16_t BuildRequestFrame(const uint8_t *message, uint16_t n, char *frame) {
  // A longer message would not fit the caller's frame buffer; no request of
  // the driver comes near the limit, so such a call is refused outright.
  if (n > kMaxMessageBytes) {
    frame[0] = '\0';
    return 0;
  }
  uint8_t bytes[kMaxMessageBytes + 2];
  for (uint16_t i = 0; i < n; ++i) bytes[i] = message[i];
  FletcherCheck(message, n, &bytes[n]);

  const uint16_t hexChars = static_cast<uint16_t>(2 * (n + 2));
  frame[0] = kStartChar;
  BytesToHex(bytes, frame + 1, static_cast<uint16_t>(n + 2));
  const uint8_t sum = FrameSum(frame + 1, hexChars);
  BytesToHex(&sum, frame + 1 + hexChars, 1);
  frame[3 + hexChars] = kFrameEnd;
  frame[4 + hexChars] = '\0';
  return static_cast<uint16_t>(2 * n + 8);
}

bool SendRequestFrame(ChannelContext *context, const uint8_t *message, uint16_t n) {
  char frame[kMaxFrameChars] = {};
  const uint16_t length = BuildRequestFrame(message, n, frame);
  if (length == 0) return false;
  return SendCommand(context, frame, length);
}
