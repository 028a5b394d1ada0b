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

namespace {

// What is wrong with an N2 Open GAS, in the order the parser finds it.
enum class TagFault { kNone, kLength, kOverrideMarker, kRegion, kElementRange, kElementFrame, kType };

struct TagFields {
  const RegionRow *row;
  bool overrideForm;  // a region code of 1008..1012
  int32_t region;
  int32_t element;
};

// Parses "SSSRRNNN" or "SSSRRNNN_O" for the data type without a word; the
// fields are set as far as the parse came.
TagFault ParseFields(const char *gas, int32_t dataType, TagFields *fields) {
  *fields = TagFields{nullptr, false, 0, 0};
  // Only the length is bounded here, so never measure further than one past
  // the longest form.
  const size_t length = strnlen(gas, 11);
  if (length != 8 && length != 10) return TagFault::kLength;
  const bool overrideTag = length == 10;
  if (overrideTag && (gas[8] != '_' || gas[9] != 'O')) return TagFault::kOverrideMarker;

  for (const RegionRow &row : kRegions) {
    if (gas[3] == row.mnemonic[0] && gas[4] == row.mnemonic[1]) {
      fields->row = &row;
      break;
    }
  }
  if (fields->row == nullptr) return TagFault::kRegion;
  fields->region = overrideTag ? fields->row->overrideCode : fields->row->plainCode;

  // At most three characters: an optional sign and digits, up to the first
  // non-digit.
  int element = 0;
  if (sscanf(gas + 5, "%03d", &element) != 1 || element < 1 || element > 999) return TagFault::kElementRange;
  // A frame carries element - 1 in one byte: a higher element would wrap
  // round onto another object of the station.
  if (element > kN2OpenMaxElement) return TagFault::kElementFrame;
  fields->element = element;

  // Every override form is a digital gate, whatever its region.
  fields->overrideForm = fields->region >= kRegionOverrideFirst;
  const Wanted wanted = fields->overrideForm ? Wanted::kDigital : fields->row->plainType;
  return Accepts(wanted, dataType) ? TagFault::kNone : TagFault::kType;
}

// The station address in the first three characters, -1 when they are not
// three decimal digits.
int32_t GasStation(const char *gas) {
  int32_t station = 0;
  for (int i = 0; i < 3; ++i) {
    if (gas[i] < '0' || gas[i] > '9') return -1;
    station = station * 10 + (gas[i] - '0');
  }
  return station;
}

}  // namespace

int16_t N2OPEN_ParseTag(DriverRequest *request) {
  ParseBlock *block = static_cast<ParseBlock *>(request->parameters);
  const int channel = request->context->channelNumber;
  const char *gas = block->gas != nullptr ? block->gas : "";
  block->bit = kNoBit;
  block->width = 16;

  TagFields fields;
  const TagFault fault = ParseFields(gas, block->dataType, &fields);
  if (fields.region != 0) block->region = fields.region;
  if (fields.element != 0) block->element = fields.element;
  switch (fault) {
    case TagFault::kNone:
      break;
    case TagFault::kLength:
      ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Invalid Tag Address '%s'", channel, gas);
      return 1;
    case TagFault::kOverrideMarker:
      ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Invalid 'Override' Tag Address '%s'", channel, gas);
      return 1;
    case TagFault::kRegion:
      ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Tag Address '%s' Invalid data type!", channel, gas);
      return 1;
    case TagFault::kElementRange:
      ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Tag '%s' element address must be between 1..999", channel, gas);
      return 1;
    case TagFault::kElementFrame:
      ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Tag '%s' element address must be between 1..256", channel, gas);
      return 1;
    case TagFault::kType:
      ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Tag Address '%s' Type must be '%s'", channel, gas,
             fields.overrideForm ? "Digital" : fields.row->typeWord);
      ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_ParseTag() Tag Address '%s' Invalid data type!", channel, gas);
      return 1;
  }
  if (block->dataType == kGateReal) block->width = 32;
  if (block->dataType == kGateDigital) block->width = 1;
  return 0;
}

bool N2OpenWriteMatchesGas(int channel, const ReadWriteBlock *block, const char *gas) {
  TagFields fields;
  const int32_t dataType = block->dataType & 0xFF;
  const TagFault fault = ParseFields(gas, dataType, &fields);
  if (fault != TagFault::kNone && fault != TagFault::kType) {
    ZamLog(kLogLevel, "ZAMKT%02d: SingleWrite() invalid N2OPEN Tag Address. GAS=%s", channel, gas);
    return false;
  }
  const struct {
    const char *field;
    int32_t given;
    int32_t wanted;
  } kChecks[] = {
      {"station", block->station, GasStation(gas)},
      {"region", block->region, fields.region},
      {"element", block->element, fields.element},
  };
  for (const auto &check : kChecks) {
    if (check.given != check.wanted) {
      ZamLog(kLogLevel, "ZAMKT%02d: SingleWrite() %s %d does not match the GAS (%d). GAS=%s", channel, check.field,
             check.given, check.wanted, gas);
      return false;
    }
  }
  if (fault == TagFault::kType) {
    ZamLog(kLogLevel, "ZAMKT%02d: SingleWrite() data type %d does not match the GAS. GAS=%s", channel, dataType, gas);
    return false;
  }
  return true;
}
