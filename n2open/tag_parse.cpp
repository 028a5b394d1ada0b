#include "n2open/tag_parse.h"

#include <stdio.h>
#include <string.h>

#include "driver/log.h"
#include "n2/protocol.h"

namespace {

// What the host must declare for a gate of each region, and the word the
// refusal names it by.
enum class Wanted { kFloat, kDigital, kInteger16 };

struct RegionRow {
  char mnemonic[3];
  int32_t plainCode;     // the 8-character GAS
  int32_t overrideCode;  // the 10-character GAS ending in "_O"
  Wanted plainType;      // what the plain form wants; every override form wants a digital
  const char *typeWord;  // the plain form's word in the refusal
};

// In the order the mnemonics are tried. AI and BI have no override form: the
// marker leaves them as they are.
constexpr RegionRow kRegions[] = {
    {"AI", 1001, 1001, Wanted::kFloat, "Float"},
    {"BI", 1002, 1002, Wanted::kDigital, "Digital"},
    {"AO", 1003, 1008, Wanted::kFloat, "float"},
    {"BO", 1004, 1009, Wanted::kDigital, "Digital"},
    {"AF", 1005, 1010, Wanted::kFloat, "float"},
    {"AD", 1006, 1011, Wanted::kInteger16, "Signed/Unsigned 16"},
    {"BD", 1007, 1012, Wanted::kInteger16, "Signed/Unsigned 16"},
};

bool Accepts(Wanted wanted, int32_t dataType) {
  switch (wanted) {
    case Wanted::kFloat:
      return dataType == kGateReal;
    case Wanted::kDigital:
      return dataType == kGateDigital;
    case Wanted::kInteger16:
      return dataType == kGateInt16 || dataType == kGateUInt16;
  }
  return false;
}

}  // namespace

uint8_t N2OpenRegionNumber(int32_t regionCode) {
  if (regionCode >= kRegionAI && regionCode <= kRegionBD) {
    return static_cast<uint8_t>(regionCode - 1000);
  }
  if (regionCode >= kRegionOverrideFirst && regionCode <= kRegionOverrideLast) {
    return static_cast<uint8_t>(regionCode - 1005);
  }
  return 0;
}

bool N2OpenGateAddressable(int32_t regionCode, int32_t element) {
  return N2OpenRegionNumber(regionCode) != 0 && element >= 1 && element <= kN2OpenMaxElement;
}

int16_t N2OPEN_ParseTag(DriverRequest *request) {
  ParseBlock *block = static_cast<ParseBlock *>(request->parameters);
  const int channel = request->context->channelNumber;
  const char *gas = block->gas != nullptr ? block->gas : "";
  block->bit = kNoBit;
  block->width = 16;

  // Exactly "SSSRRNNN" or "SSSRRNNN_O"; only the length is bounded here, so
  // never measure further than one past the longest form.
  const size_t length = strnlen(gas, 11);
  if (length != 8 && length != 10) {
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Invalid Tag Address '%s'", channel, gas);
    return 1;
  }
  const bool overrideTag = length == 10;
  if (overrideTag && (gas[8] != '_' || gas[9] != 'O')) {
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Invalid 'Override' Tag Address '%s'", channel,
           gas);
    return 1;
  }

  const RegionRow *region = nullptr;
  for (const RegionRow &row : kRegions) {
    if (gas[3] == row.mnemonic[0] && gas[4] == row.mnemonic[1]) {
      region = &row;
      break;
    }
  }
  if (region == nullptr) {
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Tag Address '%s' Invalid data type!", channel,
           gas);
    return 1;
  }
  block->region = overrideTag ? region->overrideCode : region->plainCode;

  // At most three characters: an optional sign and digits, up to the first
  // non-digit.
  int element = 0;
  if (sscanf(gas + 5, "%03d", &element) != 1 || element < 1 || element > 999) {
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Tag '%s' element address must be between 1..999",
           channel, gas);
    return 1;
  }
  // A frame carries element - 1 in one byte: a higher element would wrap
  // round onto another object of the station.
  if (element > kN2OpenMaxElement) {
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Tag '%s' element address must be between 1..256",
           channel, gas);
    return 1;
  }
  block->element = element;

  // Every override form is a digital gate, whatever its region.
  const bool overrideForm = block->region >= kRegionOverrideFirst;
  const Wanted wanted = overrideForm ? Wanted::kDigital : region->plainType;
  if (!Accepts(wanted, block->dataType)) {
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Tag Address '%s' Type must be '%s'", channel, gas,
           overrideForm ? "Digital" : region->typeWord);
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Tag Address '%s' Invalid data type!", channel,
           gas);
    return 1;
  }
  if (block->dataType == kGateReal) block->width = 32;
  if (block->dataType == kGateDigital) block->width = 1;
  return 0;
}
