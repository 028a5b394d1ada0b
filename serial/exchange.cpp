#include "serial/exchange.h"

#include "driver/log.h"
#include "serial/port.h"

bool SendCommand(ChannelContext *context, const void *bytes, uint16_t count) {
  // A late answer to an earlier attempt, or line noise, must not be taken
  // for the reply to this command.
  (void)PortDiscardInput(context->port);
  uint32_t written = 0;
  int result = PortWrite(context->port, bytes, count, &written);
  return result == kPortOk && written == count;
}

bool ReceiveReply(ChannelContext *context, char *buffer) { return ReceivePlannedReply(context, buffer, 0); }

bool ReceivePlannedReply(ChannelContext *context, char *buffer, uint32_t plannedLength) {
  PortPlanReply(context->port, plannedLength);
  // One byte per read from the port, so that the line stops exactly at the
  // carriage return; what follows it stays with the port for the discard.
  for (uint32_t position = 0; position < kReplyBufferSize; ++position) {
    uint32_t got = 0;
    if (PortReadExact(context->port, buffer + position, 1, &got) != kPortOk) return false;
    if (buffer[position] == '\r') {
      buffer[position] = '\0';
      return true;
    }
    // A NUL (a break or noise on the line) would end the text early and hide
    // the rest of the line from the checks: the line keeps its length and
    // fails them instead.
    if (buffer[position] == '\0') buffer[position] = kNulStandIn;
  }
  ZamLog(kLogLevel, "ZAMKT: Error. CR not found in PLC Reply!");
  buffer[kReplyBufferSize - 1] = '\0';
  // The rest of the overlong line is read and dropped up to its carriage
  // return, so that its tail is not taken for the reply to the next request.
  // Its bytes follow each other closely when they come at all: a gap as long
  // as the one that ends the discard step ends the line too, rather than the
  // channel's whole read time-out on top of a request already lost.
  const int32_t previous = PortSetReadTimeout(context->port, kDiscardTimeout10ms);
  if (previous < kDiscardTimeout10ms) (void)PortSetReadTimeout(context->port, previous);
  bool ended = false;
  for (uint32_t dropped = 0; dropped < kOverlongTailLimit && !ended; ++dropped) {
    char byte = 0;
    uint32_t got = 0;
    if (PortReadExact(context->port, &byte, 1, &got) != kPortOk) break;
    ended = byte == '\r';
  }
  (void)PortSetReadTimeout(context->port, previous);
  // A line that stopped without its carriage return may go on after a longer
  // gap: the channel's next frame waits for a quiet line (no byte for the
  // channel's read time-out), so such a tail is dropped before the frame goes
  // out instead of being taken for its reply. The request in hand has ended.
  if (!ended) PortSettleBeforeNextFrame(context->port);
  return false;
}
