// The two checks every System 91 reply line goes through.
#ifndef ZAMKT_N2_REPLY_CHECK_H
#define ZAMKT_N2_REPLY_CHECK_H

#include <stddef.h>
#include <stdint.h>

// True when the line starts with "A". Otherwise logs why ("invalid response"
// for lines under 2 characters, the read or write failure line with the error
// code for "N...", the unrecognised-reply line otherwise) and returns false.
// writeFlag is 1 for write requests, 0 for reads; gas serves the log line.
bool CheckAckNak(const char *reply, uint8_t writeFlag, const char *gas);

// True when the last two characters are the frame sum of the characters
// between the first one and them. Lines under 3 characters fail; lines of any
// length are checked in full. Logs "ZAMKT: Checksum Error. Plc String %s ".
bool CheckReplySum(const char *reply);

// True when the count characters of text are all upper-case hex digits
// (0-9, A-F), the only form data travels in. Nothing is logged.
bool IsUpperHex(const char *text, size_t count);

#endif  // ZAMKT_N2_REPLY_CHECK_H
