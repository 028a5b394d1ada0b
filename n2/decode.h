// Decoding of System 91 read replies into the host's value buffer. Pure:
// no I/O, small fixed buffers. A data field shorter than a conversion needs
// is never read past its terminator (missing digits count as '0').
#ifndef ZAMKT_N2_DECODE_H
#define ZAMKT_N2_DECODE_H

#include <stddef.h>
#include <stdint.h>

#include "driver/requests.h"

// Decodes the data field (the reply's data hex digits, NUL-terminated) into the
// block's value buffer by the gate data type, point type code and special kind.
void StoreData(ReadWriteBlock *block, const char *data, uint16_t length, uint16_t type);

// The fewest data digits StoreData needs for the block's data type, point type
// code, special kind and item count: a shorter field would leave digits to be
// made up. 2 where one byte is a whole answer (byte-wide items, the low-byte
// fields, the day mask), 0 for the clock's CENT and WDAY (a field without a
// number leaves the value as it was).
size_t DataDigitsNeeded(const ReadWriteBlock *block, uint16_t type);

// True when a data field of `digits` characters holds every digit StoreData
// decodes for the block and point type code: at least DataDigitsNeeded, and
// for a 16-bit gate one byte or a whole word, never three digits.
bool DataFieldComplete(const ReadWriteBlock *block, uint16_t type, size_t digits);

// True when the data field of a reply holds a value the decimal points can
// stand for: schedule times (STARTn, ENDn) as decimal minutes 00..59 then
// hours 00..23, or 24:00; the clock's TIME as decimal hours 00..23, minutes
// and seconds 00..59; its DATE as six decimal digits (a date the calendar
// lacks still decodes, as 0); CENT and WDAY as decimal digits only. Every
// other point, and the field of a block, is true: its digits are hex. The
// field holds `digits` characters and at least DataDigitsNeeded of them.
bool DecimalFieldValid(const ReadWriteBlock *block, const char *data, size_t digits);

// Converts the 2n characters of text into n bytes, high nibble first
// (character - '0' for digits, character - 55 otherwise; nothing is checked).
void AsciiHexToVal(const char *text, uint8_t *bytes, int n);

// base to the power n in 16-bit arithmetic.
uint16_t IntPow(uint16_t base, uint16_t n);

// Sum of 1 / 2^i for i = 1..11 over the bits of `bits` that `mask` walks.
float BinaryFraction(uint16_t bits, uint16_t mask);

// The N2 real whose item is the first 4 characters of text (low byte first).
float N2FloatToReal(const char *text);

// The field of the 16-bit item (or the one byte of a 2-character field) that
// the point type code names, into *target.
void DecodeWordField(const char *data, uint16_t type, uint16_t *target);

// The bit (single gates) or the bits 0..n-1 (blocks) into the value buffer.
void DecodeBits(ReadWriteBlock *block, uint16_t type, const char *data);

// 32-bit values, schedule times and days, clock time and date.
void DecodeLong(ReadWriteBlock *block, const char *data);

// Day-mask byte to the number whose decimal digits list the days.
int32_t DecodeDays(uint8_t mask);

// YYMMDD to the day number (1 January 1980 is day 1); 0 for invalid dates.
int32_t DecodeDate(const char *text);

#endif  // ZAMKT_N2_DECODE_H
