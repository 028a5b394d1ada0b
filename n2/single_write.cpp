// Command 7: writes one gate. N2 Open stations are initialised once and get
// the N2 Open item write; System 91 stations (DX9100, XT9100, TC9100) get the
// region write routine of their kind of point, up to five attempts, each
// judged by the acknowledgement alone.
#include <string.h>

#include "driver/log.h"
#include "driver/station_types.h"
#include "n2/encode.h"
#include "n2/protocol.h"
#include "n2/reply_check.h"
#include "n2/tag_parse.h"
#include "n2/write.h"
#include "n2open/item_exchange.h"
#include "n2open/tag_parse.h"
#include "serial/exchange.h"
#include "serial/port.h"

namespace {

// The request cannot be written: the failure line, status 1, nothing sent.
int32_t Refuse(const char *gas) {
  ZamLog(kLogLevel, "ZAMKT: Single Write failed! GAS=%s", gas);
  return 1;
}

// The same after a line that says which field of the block is wrong.
int32_t Refuse(const char *gas, const char *why, int32_t value) {
  ZamLog(kLogLevel, "ZAMKT: SingleWrite() %s %d. GAS=%s", why, value, gas);
  return Refuse(gas);
}

// Region codes an N2 Open item write can carry: the outputs and their
// override forms. Inputs (1001, 1002) and anything else cannot be written.
bool IsWritableN2OpenRegion(int32_t region) {
  return region >= kRegionAO && region <= kRegionOverrideLast;
}

int32_t WriteN2OpenGate(DriverRequest *request, const char *gas) {
  ChannelContext *context = request->context;
  const ReadWriteBlock *block = static_cast<const ReadWriteBlock *>(request->parameters);
  const int32_t station = block->station;
  const int channel = context->channelNumber;

  // A gate no frame can address is refused before anything goes out, the
  // station's initialisation included: an element above 256 would wrap in
  // the element byte and name another object.
  if (!N2OpenGateAddressable(block->region, block->element)) {
    ZamLog(kLogLevel, "ZAMKT%02d: SingleWrite() invalid N2OPEN region %d element %d. GAS=%s", channel,
           block->region, block->element, gas);
    return 1;
  }
  // The host fills the block itself: one that does not say what the GAS says
  // is refused before anything goes out.
  if (!N2OpenWriteMatchesGas(channel, block, gas)) return 1;

  const int16_t init = N2OpenEnsureInitialised(context, station, "SingleWrite");
  if (init != 0) return init;

  const int written = N2OPEN_DoWriteItem(request);
  if (written == 0) return 0;
  ZamLog(kLogLevel, "ZAMKT%02d: SingleWrite() Failed to Write to N2OPEN Tag Address '%s' rc = %d",
         channel, gas, written);

  // A refused write may mean the station has lost its state: initialise it
  // again so that the next request finds it ready. A gate that cannot be
  // written at all says nothing about the station, so that one is left alone.
  // Either way the write failed, and the request says so.
  int32_t status = written;
  if (written == 1 && IsWritableN2OpenRegion(block->region)) {
    const int16_t again = N2OPEN_InitStation(context, station);
    if (again != 0) status = again;
  }
  return status;
}

// Runs the region write routine of the gate data type and special kind;
// true when it handed a frame to the send step.
bool RunWriteRoutine(DriverRequest *request, int32_t dataType, uint16_t special, uint16_t pointType) {
  switch (dataType) {
    case kGateInt16:
      return WriteWordField(request, pointType);
    case kGateReal:
      return WriteReal(request);
    case kGateInt32:
      if (special == kSpecialSchedule) return WriteSchedule(request);
      if (special == kSpecialClock) return WriteClock(request);
      return WriteLong(request);
    case kGateDigital:
      return WriteBit(request, pointType);
    default:
      return false;  // no System 91 point takes this data type
  }
}

// The clock's TIME and DATE take only values the device keeps as a time of
// day and a date it can give back: checked once before any traffic (the
// write routine refuses them too). Logs the refusal; false when refused.
bool ClockValueWritable(const ReadWriteBlock *block, const ParsedTag &tag, const char *gas) {
  if (block->region != kSpecialClock) return true;
  uint32_t number;
  memcpy(&number, block->value, sizeof number);
  if (strcmp(tag.mnemonic, "TIME") == 0 && !ClockTimeInRange(number)) {
    ZamLog(kLogLevel, "ZAMKT: Clock time %u s outside 0..%u! Gate %s", number, kSecondsPerDay - 1, gas);
    return false;
  }
  const int32_t day = static_cast<int32_t>(number);
  if (strcmp(tag.mnemonic, "DATE") == 0 && !ClockDateInRange(day)) {
    ZamLog(kLogLevel, "ZAMKT: Date %d outside days %d..%d (1980-01-01 to 2038-12-31)! Gate %s", day, kFirstClockDay,
           kLastClockDay, gas);
    return false;
  }
  return true;
}

int32_t WriteSystem91Gate(DriverRequest *request, const char *gas) {
  const ReadWriteBlock *block = static_cast<const ReadWriteBlock *>(request->parameters);
  const int32_t dataType = block->dataType & 0xFF;

  // No routine encodes the other data types, and the frame carries the
  // element in 16 bits; the region picks the schedule or clock area write.
  if (!AcceptSystem91Fields("SingleWrite", block, gas)) return Refuse(gas);
  ParsedTag tag;
  if (!LookupTag(request, &tag, gas) || !AcceptPointForBlock("SingleWrite", block, tag, gas)) return Refuse(gas);
  if (tag.access == 'R') {
    ZamLog(kLogLevel, "ZAMKT: Error. Writing to read only Gate %s!", gas);
    return 1;
  }
  // The bit is shifted into the item: 0..15, never a wrapped larger number.
  if (dataType == kGateDigital && (block->bit < 0 || block->bit > kHighestBit)) {
    return Refuse(gas, "invalid bit", block->bit);
  }
  // The write routine takes its width, bit, area and address from the block:
  // one that disagrees with the point would write over another item.
  if (!AcceptWriteForPoint(block, tag, gas)) return Refuse(gas);
  if (!ClockValueWritable(block, tag, gas)) return Refuse(gas);
  if (dataType == kGateReal) {
    // Checked once before any traffic; the routine encodes again per attempt.
    float value;
    memcpy(&value, block->value, sizeof value);
    uint16_t word;
    if (!RealToN2Float(value, &word)) {
      ZamLog(kLogLevel, "ZAMKT: Writing a value out of range! GAS = %s", gas);
      return 1;
    }
  }

  // 0 once acknowledged; a missing reply (2) outranks a refused one (1).
  int32_t status = 1;
  const uint16_t special = static_cast<uint16_t>(block->region);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (!RunWriteRoutine(request, dataType, special, tag.type)) continue;
    char reply[kReplyBufferSize];
    if (!ReceiveReply(request->context, reply)) {
      status = 2;
      continue;
    }
    if (CheckAckNak(reply, 1, gas)) {
      status = 0;
      break;
    }
  }

  if (status != 0) {
    ZamLog(kLogLevel, "ZAMKT: Single Write failed! GAS=%s", gas);
  } else {
    PauseMilliseconds(kSuccessPauseMs);
  }
  return status;
}

}  // namespace

int32_t SingleWrite(DriverRequest *request) {
  if (request == nullptr) return 1;
  if (request->context == nullptr || request->parameters == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: SingleWrite() no channel or write block");
    return 1;
  }
  const ReadWriteBlock *block = static_cast<const ReadWriteBlock *>(request->parameters);
  if (block->gas == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: SingleWrite() no GAS given");
    return Refuse("");
  }

  // Every message prints the upper-cased GAS; a GAS longer than any gate's
  // is refused before it is used anywhere.
  GasCopy gas;
  if (!CopyGasUpper(block->gas, gas)) {
    ZamLog(kLogLevel, "ZAMKT: SingleWrite() GAS longer than %d characters. GAS=%s", kMaxGasLength, gas);
    return Refuse(gas);
  }

  if (block->value == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: SingleWrite() no value buffer. GAS=%s", gas);
    return Refuse(gas);
  }
  // The station's low byte starts every frame and indexes the station table.
  if (!IsStationAddress(block->station)) return Refuse(gas, "invalid station", block->station);

  if (IsN2OpenStation(request->context, block->station)) return WriteN2OpenGate(request, gas);
  return WriteSystem91Gate(request, gas);
}
