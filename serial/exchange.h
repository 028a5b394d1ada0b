// The two primitives of the master-slave N2 line: send one command, receive
// one reply line. They know nothing of frame contents; checking and retrying
// are the callers' work.
#ifndef ZAMKT_SERIAL_EXCHANGE_H
#define ZAMKT_SERIAL_EXCHANGE_H

#include <stdint.h>

#include "driver/requests.h"

// Reply buffers handed to ReceiveReply hold at least this many bytes.
constexpr uint32_t kReplyBufferSize = 1000;

// Discards stale input, then writes the bytes. True when every byte went out.
bool SendCommand(ChannelContext *context, const void *bytes, uint16_t count);

// What a NUL byte of a reply line becomes in the buffer: no hex digit, so that
// the line keeps its length and the frame sum and data checks refuse it.
constexpr char kNulStandIn = '?';
// Bytes of an overlong reply line read and dropped after the first 1000, while
// they keep coming, looking for its carriage return.
constexpr uint32_t kOverlongTailLimit = kReplyBufferSize;

// Reads one reply line byte by byte up to its carriage return, which is
// replaced by NUL; NUL bytes of the line become kNulStandIn. False when a read
// fails or times out (nothing logged), or when 1000 bytes arrive without a
// carriage return (logged; the rest of the line is then read and dropped up
// to its carriage return, at most kOverlongTailLimit bytes and for as long as
// they come with gaps of at most the discard step's 50 ms, and the buffer
// must not be used).
// When the line stops without its carriage return, the channel's next frame
// waits for a quiet line first (PortSettleBeforeNextFrame): a tail that comes
// later, within the channel's read time-out of its last byte, is dropped
// before that frame goes out.
bool ReceiveReply(ChannelContext *context, char *buffer);

// The same, with the length the reply should have, its carriage return
// included (PortPlanReply): the port then wakes about once for the whole
// line rather than once per byte. A reply of another length is read all the
// same; 0 reads without a plan.
bool ReceivePlannedReply(ChannelContext *context, char *buffer, uint32_t plannedLength);

#endif  // ZAMKT_SERIAL_EXCHANGE_H
