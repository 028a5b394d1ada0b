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

bool ReceiveReply(ChannelContext *context, char *buffer) {
  // One byte per read, so that reading stops exactly at the carriage return
  // and never takes bytes of whatever follows it.
  for (uint32_t position = 0; position < kReplyBufferSize; ++position) {
    uint32_t got = 0;
    if (PortReadExact(context->port, buffer + position, 1, &got) != kPortOk) return false;
    if (buffer[position] == '\r') {
      buffer[position] = '\0';
      return true;
    }
  }
  ZamLog(kLogLevel, "ZAMKT: Error. CR not found in PLC Reply!");
  return false;
}
