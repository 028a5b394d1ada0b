// The two checks every System 91 reply line goes through: was the request
// acknowledged, and did the line arrive intact.
#include "n2/reply_check.h"

#include <string.h>

#include "driver/log.h"
#include "n2/frame.h"
#include "n2/protocol.h"

bool CheckAckNak(const char *reply, uint8_t writeFlag, const char *gas) {
  if (reply == nullptr) reply = "";
  if (gas == nullptr) gas = "";
  // "A" alone is an acknowledge too; whether the line carries enough data is
  // the reader's concern.
  if (reply[0] == kAckChar) return true;
  if (reply[0] == '\0' || reply[1] == '\0') {
    ZamLog(kLogLevel, "ZAMKT: CheckAckNak() invalid response '%s'", reply);
    return false;
  }
  if (reply[0] == kNakChar) {
    if (writeFlag == 1) {
      ZamLog(kLogLevel, "ZAMKT:Gate %s: Write failed! ErrorCode %s H ", gas, reply + 1);
    } else {
      ZamLog(kLogLevel, "ZAMKT:Gate %s: Read failed! ErrorCode %s H ", gas, reply + 1);
    }
    return false;
  }
  ZamLog(kLogLevel, "ZAMKT:Write failed! Unrecognized reply from PLC");
  return false;
}

// Frame sum of any number of characters (FrameSum counts in 16 bits).
static uint8_t LongFrameSum(const char *text, size_t length) {
  uint8_t sum = 0;
  while (length > 0) {
    const uint16_t chunk = length > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(length);
    sum = static_cast<uint8_t>(sum + FrameSum(text, chunk));
    text += chunk;
    length -= chunk;
  }
  return sum;
}

bool CheckReplySum(const char *reply) {
  if (reply == nullptr) reply = "";
  // The line is checked where it lies, however long it is (a reply line may
  // reach 999 characters); a line under 3 characters has no sum to check and
  // counts as corrupted.
  const size_t length = strlen(reply);
  if (length >= 3) {
    const uint8_t sum = LongFrameSum(reply + 1, length - 3);
    char digits[2];
    BytesToHex(&sum, digits, 1);
    if (reply[length - 2] == digits[0] && reply[length - 1] == digits[1]) return true;
  }
  ZamLog(kLogLevel, "ZAMKT: Checksum Error. Plc String %s ", reply);
  return false;
}

bool IsUpperHex(const char *text, size_t count) {
  if (text == nullptr) return false;
  for (size_t i = 0; i < count; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}
