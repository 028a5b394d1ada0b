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

// True for the gate data types some System 91 point takes (0, 3, 5, 6), judged
// by the low byte as the reads and writes use it; nothing can be decoded into
// or encoded from the others.
bool IsSystem91DataType(int32_t dataType);

// The special kind SingleParse gives the point: kSpecialSchedule for the 32-bit
// points of a "TS" module, kSpecialClock for the "RTCL" points, else
// kSpecialNone.
int32_t SpecialKindOf(const ParsedTag &tag);

// True when a read or write block's region can stand for the point: it fits
// the 16 bits it is used as, and a special kind is the point's own (a schedule
// or clock request for another point would address an item of another kind).
// Any other region is an ordinary point's.
bool RegionFitsPoint(int32_t region, const ParsedTag &tag);

// The station address in the first three characters of a GAS, or -1 when one
// of them is not a decimal digit (the GAS may be shorter than three).
int32_t GasStation(const char *gas);

// True when a read or write block's element is a device address: 0..65535,
// the 16 bits it is used as (a larger one would name another address).
bool IsDeviceAddress(int32_t element);

// The process-wide type-check switch: on only while command 4 parses.
bool TypeCheckSwitchOn();

#endif  // ZAMKT_N2_TAG_PARSE_H
