// Gate address parsing for System 91 stations (commands 3 and 4) and the
// table lookup that reads and writes repeat on the GAS.
#ifndef ZAMKT_N2_TAG_PARSE_H
#define ZAMKT_N2_TAG_PARSE_H

#include <stdint.h>

#include "driver/requests.h"

// Longest GAS the parsers accept; longer ones are refused.
constexpr int kMaxGasLength = 31;
// Where the mnemonic of a four-character module starts in a GAS
// ("001TS01START1", "001RTCLTIME").
constexpr int kMnemonicPosition = 7;

// The upper-cased copy of a GAS that reads and writes look points up with and
// print in their messages.
using GasCopy = char[kMaxGasLength + 1];

// Copies at most kMaxGasLength characters of gas, upper-cased, into copy,
// which is always terminated (empty for a null gas). False when gas is null or
// longer than kMaxGasLength; the copy then holds its first characters. Reads at
// most one character past the longest GAS accepted.
bool CopyGasUpper(const char *gas, GasCopy &copy);

#pragma pack(push, 1)
struct ParsedTag {
  char module[5];     // NUL-terminated
  char mnemonic[7];   // NUL-terminated, at most 6 characters
  uint16_t type;      // point type code
  uint16_t base;      // module base address
  uint16_t offset;    // point offset
  char access;        // 'R' or 'W'
  uint16_t bit;       // bit index, 255 = none
};
#pragma pack(pop)

// Command 3. 0 valid (outputs set), 1 invalid; for N2OPEN stations the status
// of N2OPEN_ParseTag.
int32_t SingleParse(DriverRequest *request);

// Command 4, block-read eligibility. 0 eligible, 1 not eligible or invalid.
int32_t BlockParse(DriverRequest *request);

// Resolves module and mnemonic of a System 91 GAS for the station named by
// its first three characters. Logs and returns false when either is not
// found, or when the station is not of a System 91 family.
bool LookupTag(DriverRequest *request, ParsedTag *tag, const char *gas);

// True when the point type code accepts the host's gate data type.
bool TypeMatchesGate(int32_t dataType, uint16_t type);

// The checks of a System 91 read or write block before its point is looked
// up: the gate data type must be one some point takes (low byte 0, 3, 5 or 6:
// nothing decodes into or encodes from the others), and the element a device
// address, the 16 bits the frame carries. Logs "ZAMKT: <handler>() invalid
// data type|element N. GAS=..." and returns false when refused.
bool AcceptSystem91Fields(const char *handler, const ReadWriteBlock *block, const char *gas);

// The checks of a System 91 read or write block against the point LookupTag
// found for its GAS: the GAS names the block's station (it chose the point
// tables of its own station's family, and the frame goes to the block's
// station), and the region can stand for the point (it fits 16 bits, and a
// schedule or clock region is the point's own kind). Logs the refusal and
// returns false when refused.
bool AcceptPointForBlock(const char *handler, const ReadWriteBlock *block, const ParsedTag &tag, const char *gas);

// The checks of a System 91 write block against the point of its GAS: every
// field that steers the frame must be what command 3 gave for the GAS, since
// a write built from another data type, bit, special kind or address would
// change another item or other bits than the point's. The data type (its low
// byte) must be one the point accepts, the bit the point's own for a bit
// point, the region the point's special kind and the element its device
// address. Logs "ZAMKT: SingleWrite() <field> N does not match the point
// (M). GAS=..." and returns false when refused.
bool AcceptWriteForPoint(const ReadWriteBlock *block, const ParsedTag &tag, const char *gas);

// The process-wide type-check switch: on only while command 4 parses.
bool TypeCheckSwitchOn();

#endif  // ZAMKT_N2_TAG_PARSE_H
