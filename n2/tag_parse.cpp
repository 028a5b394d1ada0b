#include "n2/tag_parse.h"

#include <ctype.h>
#include <string.h>

#include "driver/log.h"
#include "driver/station_types.h"
#include "n2/point_tables.h"
#include "n2/protocol.h"
#include "n2open/tag_parse.h"

namespace {

// On only while command 4 runs its parse: SingleParse then stops after the
// address and bit, without the type check, width and special kind.
bool gTypeCheckSwitch = false;

// Copies at most `count` characters of text from position `from` of gas into
// out (NUL-terminated), never reading past the end of gas.
void CopyField(char *out, const char *gas, size_t gasLength, size_t from, size_t count) {
  size_t copied = 0;
  if (from < gasLength) {
    copied = gasLength - from < count ? gasLength - from : count;
    memcpy(out, gas + from, copied);
  }
  out[copied] = '\0';
}

// Splits a System 91 GAS into module and mnemonic the way the station's
// family writes it. False for a family without point tables.
bool SplitGas(const char *family, const char *gas, char (&module)[5], char (&mnemonic)[7]) {
  const size_t length = strlen(gas);
  const size_t mnemonicMax = sizeof mnemonic - 1;
  if (strcmp(family, kTypeDX9100) == 0 && length >= 5 && gas[3] == 'G' && gas[4] == 'C') {
    strcpy(module, "GC");
    CopyField(mnemonic, gas, length, 5, mnemonicMax);
    return true;
  }
  if (strcmp(family, kTypeDX9100) == 0 || strcmp(family, kTypeXT9100) == 0 ||
      strcmp(family, kTypeTC9100) == 0) {
    CopyField(module, gas, length, 3, sizeof module - 1);
    CopyField(mnemonic, gas, length, 7, mnemonicMax);
    return true;
  }
  return false;
}

}  // namespace

bool CopyGasUpper(const char *gas, GasCopy &copy) {
  memset(copy, 0, sizeof copy);
  if (gas == nullptr) return false;
  for (int i = 0; i < kMaxGasLength; ++i) {
    if (gas[i] == '\0') return true;
    copy[i] = static_cast<char>(toupper(static_cast<unsigned char>(gas[i])));
  }
  return gas[kMaxGasLength] == '\0';
}

bool TypeCheckSwitchOn() { return gTypeCheckSwitch; }

bool TypeMatchesGate(int32_t dataType, uint16_t type) {
  switch (type) {
    case kTypeN2Real:
      return dataType == kGateReal;
    case kTypeBit8:
    case kTypeBit16:
      return dataType == kGateDigital;
    case kTypeLong:
      return dataType == kGateInt32;
    case kTypeWord:
    case kTypeWord70:
    case kTypeField0:
    case kTypeField2:
    case kTypeField4:
    case kTypeField6:
    case kTypeField8:
    case kTypeField10:
    case kTypeField12:
    case kTypeMinutes:
    case kTypeHours:
    case kTypeWeekday:
      // Only the first of the host's two 16-bit integer types.
      return dataType == kGateInt16;
    default:
      return false;
  }
}

namespace {

// The station address in the first three characters of a GAS, or -1 when one
// of them is not a decimal digit (the GAS may be shorter than three).
int32_t GasStation(const char *gas) {
  if (gas == nullptr) return -1;
  int32_t station = 0;
  for (int i = 0; i < 3; ++i) {
    if (gas[i] < '0' || gas[i] > '9') return -1;
    station = station * 10 + (gas[i] - '0');
  }
  return station;
}

// True for the gate data types some System 91 point takes, judged by the low
// byte as the reads and writes use it.
bool IsSystem91DataType(int32_t dataType) {
  switch (dataType & 0xFF) {
    case kGateInt16:
    case kGateReal:
    case kGateInt32:
    case kGateDigital:
      return true;
    default:
      return false;
  }
}

// The special kind SingleParse gives the point: kSpecialSchedule for the
// 32-bit points of a "TS" module, kSpecialClock for the "RTCL" points, else
// kSpecialNone.
int32_t SpecialKindOf(const ParsedTag &tag) {
  // Schedule periods and clock values live in areas of their own, addressed
  // by the point's offset alone.
  if (strncmp(tag.module, "TS", 2) == 0 && tag.type == kTypeLong) return kSpecialSchedule;
  if (strncmp(tag.module, "RTCL", 4) == 0) return kSpecialClock;
  return kSpecialNone;
}

// True when a block's region can stand for the point: it fits the 16 bits it
// is used as, and a special kind is the point's own (a schedule or clock
// request for another point would address an item of another kind). Any other
// region is an ordinary point's.
bool RegionFitsPoint(int32_t region, const ParsedTag &tag) {
  if (region < 0 || region > 0xFFFF) return false;
  if (region == kSpecialSchedule || region == kSpecialClock) return region == SpecialKindOf(tag);
  return true;
}

// True when a block's element is a device address: 0..65535, the 16 bits it is
// used as (a larger one would name another address).
bool IsDeviceAddress(int32_t element) { return element >= 0 && element <= 0xFFFF; }

}  // namespace

bool AcceptSystem91Fields(const char *handler, const ReadWriteBlock *block, const char *gas) {
  if (!IsSystem91DataType(block->dataType)) {
    ZamLog(kLogLevel, "ZAMKT: %s() invalid data type %d. GAS=%s", handler, block->dataType, gas);
    return false;
  }
  if (!IsDeviceAddress(block->element)) {
    ZamLog(kLogLevel, "ZAMKT: %s() invalid element %d. GAS=%s", handler, block->element, gas);
    return false;
  }
  return true;
}

bool AcceptPointForBlock(const char *handler, const ReadWriteBlock *block, const ParsedTag &tag, const char *gas) {
  if (GasStation(gas) != block->station) {
    ZamLog(kLogLevel, "ZAMKT: %s() GAS names station %d, the block station %d. GAS=%s", handler, GasStation(gas),
           block->station, gas);
    return false;
  }
  if (!RegionFitsPoint(block->region, tag)) {
    ZamLog(kLogLevel, "ZAMKT: %s() invalid region %d. GAS=%s", handler, block->region, gas);
    return false;
  }
  return true;
}

namespace {

// The device address SingleParse gives the point: the offset alone for the
// schedule and clock areas, the module base plus the offset otherwise.
int32_t DeviceAddressOf(const ParsedTag &tag) {
  return SpecialKindOf(tag) == kSpecialNone ? tag.base + tag.offset : tag.offset;
}

bool RefuseField(const char *field, int32_t given, int32_t wanted, const char *gas) {
  ZamLog(kLogLevel, "ZAMKT: SingleWrite() %s %d does not match the point (%d). GAS=%s", field, given, wanted, gas);
  return false;
}

}  // namespace

bool AcceptWriteForPoint(const ReadWriteBlock *block, const ParsedTag &tag, const char *gas) {
  const int32_t dataType = block->dataType & 0xFF;
  if (!TypeMatchesGate(dataType, tag.type)) {
    ZamLog(kLogLevel, "ZAMKT: SingleWrite() data type %d does not match the point (type code %u). GAS=%s", dataType,
           tag.type, gas);
    return false;
  }
  if (tag.bit != kWholeItem && block->bit != tag.bit) return RefuseField("bit", block->bit, tag.bit, gas);
  if (block->region != SpecialKindOf(tag)) return RefuseField("region", block->region, SpecialKindOf(tag), gas);
  if (block->element != DeviceAddressOf(tag)) {
    return RefuseField("element", block->element, DeviceAddressOf(tag), gas);
  }
  return true;
}

bool LookupTag(DriverRequest *request, ParsedTag *tag, const char *gas) {
  if (gas == nullptr) gas = "";
  // A station that is not 0..255 (non-digits, a short GAS) gets no family
  // from StationTypeOf and so fails as an unknown module.
  const char *family = StationTypeOf(request->context, GasStation(gas));
  const FamilyTable *table = FindFamily(family);

  char module[5] = {};
  char mnemonic[7] = {};
  const ModuleEntry *found = nullptr;
  if (table != nullptr && SplitGas(family, gas, module, mnemonic)) {
    for (uint16_t i = 0; i < table->moduleCount && found == nullptr; ++i) {
      if (strcmp(table->modules[i].name, module) == 0) found = &table->modules[i];
    }
  }
  if (found == nullptr) {
    ZamLog(kLogLevel, "ZAMKT:Illegal Module Name. GAS = %s", gas);
    return false;
  }

  const PointEntry *point = nullptr;
  for (uint16_t i = 0; i < found->pointCount && point == nullptr; ++i) {
    if (strcmp(found->points[i].mnemonic, mnemonic) == 0) point = &found->points[i];
  }
  if (point == nullptr) {
    ZamLog(kLogLevel, "ZAMKT:Illegal Tag Name. GAS = %s", gas);
    return false;
  }

  memcpy(tag->module, module, sizeof tag->module);
  memcpy(tag->mnemonic, mnemonic, sizeof tag->mnemonic);
  tag->type = point->type;
  tag->base = found->base;
  tag->offset = point->offset;
  tag->access = static_cast<char>(point->access);
  tag->bit = point->bit;
  return true;
}

int32_t SingleParse(DriverRequest *request) {
  if (request == nullptr) return 1;
  if (request->parameters == nullptr || request->context == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: SingleParse() no channel or parse block");
    return 1;
  }
  ParseBlock *block = static_cast<ParseBlock *>(request->parameters);
  block->bit = kNoBit;
  block->width = 16;
  block->station = 0;
  block->region = kSpecialNone;

  // The GAS must fit the parser's copy (and the read decoding's copy later);
  // a longer one is refused here rather than cut into another address.
  if (block->gas == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: SingleParse() missing Tag address.");
    return 1;
  }
  if (strnlen(block->gas, kMaxGasLength + 1) > static_cast<size_t>(kMaxGasLength)) {
    ZamLog(kLogLevel, "ZAMKT: SingleParse() Tag address longer than %d characters. Tag address '%.*s...'.",
           kMaxGasLength, kMaxGasLength, block->gas);
    return 1;
  }
  char gas[kMaxGasLength + 1];
  strcpy(gas, block->gas);

  const int32_t station = GasStation(gas);
  if (station < 0) {
    ZamLog(kLogLevel, "ZAMKT: SingleParse() illegal PLC Address. Tag address '%s'.", gas);
    return 1;
  }
  block->station = station;
  if (station < 1 || station > 255) {
    ZamLog(kLogLevel, "ZAMKT: SingleParse()  illegal PLC Address. Tag address '%s'.", gas);
    return 1;
  }

  if (IsN2OpenStation(request->context, station)) return N2OPEN_ParseTag(request);

  ParsedTag tag;
  if (!LookupTag(request, &tag, gas)) return 1;
  block->element = tag.base + tag.offset;
  block->bit = tag.bit;
  if (gTypeCheckSwitch) return 0;

  if (!TypeMatchesGate(block->dataType, tag.type)) return 1;
  if (block->dataType == kGateReal || block->dataType == kGateInt32) block->width = 32;
  const int32_t special = SpecialKindOf(tag);
  if (special != kSpecialNone) {
    block->region = special;
    block->element = tag.offset;
  }
  return 0;
}

int32_t BlockParse(DriverRequest *request) {
  if (request == nullptr) return 1;
  if (request->parameters == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: BlockParse() no parse block");
    return 1;
  }
  ParseBlock *block = static_cast<ParseBlock *>(request->parameters);
  block->bit = kNoBit;
  block->station = 0;
  block->region = kSpecialNone;

  gTypeCheckSwitch = true;
  const int32_t parsed = SingleParse(request);
  gTypeCheckSwitch = false;
  if (parsed != 0) return 1;

  // Block reads exist only for DX9100 items that are whole items.
  if (!IsStationType(request->context, block->station, kTypeDX9100)) return 1;
  if (block->bit != kNoBit) return 1;
  if (block->itemCount > kMaxBlockItems) return 1;
  return 0;
}
