// System 91 request framing: ">" + message bytes and two Fletcher check bytes
// as upper-case hex pairs + frame sum as two hex digits + CR. Pure functions;
// FrameSum and BytesToHex also serve the N2 Open frames.
#ifndef ZAMKT_N2_FRAME_H
#define ZAMKT_N2_FRAME_H

#include <stdint.h>

#include "driver/requests.h"

// Longest System 91 message (bytes before the check bytes) the assembler takes.
constexpr uint16_t kMaxMessageBytes = 16;
// Frame buffer size that holds any assembled frame and a NUL.
constexpr uint16_t kMaxFrameChars = 2 * (kMaxMessageBytes + 2) + 8;

// 8-bit sum of the character codes.
uint8_t FrameSum(const char *text, uint16_t length);

// Fletcher check bytes C0, C1 of the message (sums folded only above 255).
void FletcherCheck(const uint8_t *bytes, uint16_t count, uint8_t check[2]);

// Writes 2 * count upper-case hex digits, high nibble first; no terminator.
void BytesToHex(const uint8_t *bytes, char *text, uint16_t count);

// Assembles the request frame of n message bytes (n <= kMaxMessageBytes) into
// frame (at least kMaxFrameChars); returns its length 2n + 8 (the frame is also
// NUL-terminated behind the CR, which is not counted or sent).
uint16_t BuildRequestFrame(const uint8_t *message, uint16_t n, char *frame);

// Assembles the frame and hands it to the send step. True when all went out.
bool SendRequestFrame(ChannelContext *context, const uint8_t *message, uint16_t n);

#endif  // ZAMKT_N2_FRAME_H
