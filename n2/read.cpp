// Command 5 (single read) and command 6 (block read), and the six System 91
// read requests they send.
//
// Both handlers make up to five attempts of one request and one reply line,
// rank their failures the same way (a reply line of any kind, good or bad,
// outranks silence: 1 over 2) and pause 4 ms after a good reply so that the
// station is ready for the next request on the bus.
#include "n2/read.h"

#include <ctype.h>
#include <string.h>

#include "driver/log.h"
#include "driver/station_types.h"
#include "n2/decode.h"
#include "n2/frame.h"
#include "n2/point_tables.h"
#include "n2/protocol.h"
#include "n2/reply_check.h"
#include "n2/tag_parse.h"
#include "n2open/item_exchange.h"
#include "n2open/tag_parse.h"
#include "serial/exchange.h"
#include "serial/port.h"

namespace {

// A System 91 data reply: "A", the data, four unchecked characters and the
// frame sum; with one data byte it is 9 characters long.
constexpr size_t kShortestDataReply = 9;
constexpr size_t kReplyTrailer = 6;  // unchecked characters + frame sum

ReadWriteBlock *BlockOf(DriverRequest *request) {
  if (request == nullptr || request->context == nullptr) return nullptr;
  return static_cast<ReadWriteBlock *>(request->parameters);
}

uint8_t StationByte(const ReadWriteBlock *block) { return static_cast<uint8_t>(block->station); }
uint16_t DeviceAddress(const ReadWriteBlock *block) { return static_cast<uint16_t>(block->element); }

// The checks both handlers make before anything goes on the line: the host
// fills the block itself, and the station indexes the channel's tables and
// the value buffer receives the reply. Logs the refusal; false when refused.
bool AcceptBlock(const char *handler, const ReadWriteBlock *block, GasCopy &gas) {
  if (block->gas == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: %s() no GAS given", handler);
    return false;
  }
  if (!CopyGasUpper(block->gas, gas)) {
    ZamLog(kLogLevel, "ZAMKT: %s() GAS longer than %d characters. GAS=%.*s", handler, kMaxGasLength, kMaxGasLength,
           block->gas);
    return false;
  }
  if (block->value == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: %s() no value buffer. GAS=%s", handler, gas);
    return false;
  }
  if (!IsStationAddress(block->station)) {
    ZamLog(kLogLevel, "ZAMKT: %s() invalid station %d. GAS=%s", handler, block->station, gas);
    return false;
  }
  return true;
}

// The checks of a System 91 read block beyond AcceptBlock: the item count
// (the schedule and block reads send it as one byte, and the value buffer and
// the reply line are sized for the 32 items of a block; with no item nothing
// would be stored), the data type the reply is decoded by and the address the
// frame carries. Logs the refusal; false when refused.
bool AcceptSystem91Block(const char *handler, const ReadWriteBlock *block, const char *gas) {
  if (block->itemCount < 1 || block->itemCount > kMaxBlockItems) {
    ZamLog(kLogLevel, "ZAMKT: %s() invalid item count %d. GAS=%s", handler, block->itemCount, gas);
    return false;
  }
  return AcceptSystem91Fields(handler, block, gas);
}

// The bytes of the memory item a point lies in: one for the byte-wide bits
// and the low-byte fields, four for the 32-bit items, two for the rest.
uint32_t ItemBytes(uint16_t type) {
  if (type == kTypeBit8 || (type >= kTypeField0 && type <= kTypeField6)) return 1;
  return type == kTypeLong ? 4 : 2;
}

// The length of the good data reply the request asks for, its carriage
// return included: "A", two hex digits per data byte, the unchecked
// characters and the frame sum. A single memory read answers with the
// point's whole item; the other reads with at least the digits the value
// needs. 0 when the request does not say (the reply is then read without a
// plan).
uint32_t PlannedReplyLength(const ReadWriteBlock *block, const ParsedTag &tag) {
  size_t digits = DataDigitsNeeded(block, tag.type);
  if (block->itemCount == 1 && block->region == kSpecialNone) {
    const size_t item = 2 * ItemBytes(tag.type);
    if (item > digits) digits = item;
  }
  if (digits == 0) return 0;
  return static_cast<uint32_t>(1 + digits + kReplyTrailer + 1);
}

// One System 91 exchange after the request went out: receives the reply line
// and, when it is good, stores its data. Moves *status to 0 on success and to
// 1 on any reply line that is not good; silence leaves it as it was.
void TakeReply(const char *handler, DriverRequest *request, const ParsedTag &tag, const char *gas, int32_t *status) {
  char reply[kReplyBufferSize];
  const ReadWriteBlock *block = static_cast<const ReadWriteBlock *>(request->parameters);
  if (!ReceivePlannedReply(request->context, reply, PlannedReplyLength(block, tag))) return;
  size_t length = strlen(reply);
  if (!CheckAckNak(reply, 0, gas)) {
    *status = 1;
    return;
  }
  if (length < kShortestDataReply) {
    ZamLog(kLogLevel, "ZAMKT: %s() response string too short '%s'", handler, reply);
    *status = 1;
    return;
  }
  if (!CheckReplySum(reply)) {
    *status = 1;
    return;
  }
  // A right frame sum over data that is no hex, or too short for the point,
  // still carries no value: decoding it would make digits up.
  const size_t digits = length - kReplyTrailer - 1;
  if (!IsUpperHex(reply + 1, digits)) {
    ZamLog(kLogLevel, "ZAMKT: %s() response data not upper-case hex '%s'", handler, reply);
    *status = 1;
    return;
  }
  if (!DataFieldComplete(static_cast<ReadWriteBlock *>(request->parameters), tag.type, digits)) {
    ZamLog(kLogLevel, "ZAMKT: %s() response string too short '%s'", handler, reply);
    *status = 1;
    return;
  }
  // Clock and schedule values travel as decimal digits: hex digits there, or
  // a time the day does not have, would be decoded into a value the device
  // does not hold.
  if (!DecimalFieldValid(static_cast<ReadWriteBlock *>(request->parameters), reply + 1, digits)) {
    ZamLog(kLogLevel, "ZAMKT: %s() response data not a decimal value '%s'", handler, reply);
    *status = 1;
    return;
  }
  reply[length - kReplyTrailer] = '\0';
  StoreData(static_cast<ReadWriteBlock *>(request->parameters), reply + 1,
            static_cast<uint16_t>(length - kReplyTrailer - 1), tag.type);
  *status = 0;
}

// The N2 Open part of command 5: initialise the station once, then read the
// item. Nothing of the System 91 path runs for an N2 Open station.
int32_t SingleReadN2Open(DriverRequest *request, const ReadWriteBlock *block, const char *gas) {
  ChannelContext *context = request->context;
  int32_t station = block->station;
  if (!N2OpenGateAddressable(block->region, block->element)) {
    ZamLog(kLogLevel, "ZAMKT%02d: SingleRead() invalid N2OPEN region %d element %d. GAS=%s", context->channelNumber,
           block->region, block->element, gas);
    return 1;
  }
  const int16_t init = N2OpenEnsureInitialised(context, station, "SingleRead");
  if (init != 0) return init;
  int result = N2OPEN_DoReadItem(request);
  if (result == 0) return 0;
  ZamLog(kLogLevel, "ZAMKT%02d: SingleRead() Failed to read N2OPEN Tag Address '%s' rc = %d", context->channelNumber,
         gas, result);
  if (result != 1) return result;
  // A bad reply may mean the station lost its set-up: initialise it again so
  // that the next read finds it ready, and report the failed read in any case.
  const int16_t again = N2OPEN_InitStation(context, station);
  return again != 0 ? again : result;
}


using RequestBuilder = bool (*)(DriverRequest *request);

// The System 91 part both read handlers share: look the point up for its
// type code, make up to five attempts with the builder, and report. The
// status ends 0 after a good reply; else 1 when any reply line came, else 2.
// failure names the request in the failure line ("Single Read", "Block Read").
int32_t ReadWithAttempts(const char *handler, const char *failure, DriverRequest *request, const char *gas,
                         RequestBuilder send) {
  int32_t status = 2;
  ParsedTag tag;
  const ReadWriteBlock *block = static_cast<const ReadWriteBlock *>(request->parameters);
  if (!LookupTag(request, &tag, gas) || !AcceptPointForBlock(handler, block, tag, gas)) {
    // Both have logged why; without the point's type code there is nothing to
    // decode a reply with, and a frame for another station or area would read
    // an item as a point it is not, so nothing is sent.
    status = 1;
  } else {
    for (int attempt = 0; attempt < kAttempts && status != 0; ++attempt) {
      send(request);
      TakeReply(handler, request, tag, gas, &status);
    }
  }
  if (status != 0) {
    ZamLog(kLogLevel, "ZAMKT: %s failed! GAS=%s rc = %d", failure, gas, status);
  } else {
    PauseMilliseconds(kSuccessPauseMs);
  }
  return status;
}

// The single read's request: the area reads for schedule and clock points,
// else the memory read in the form the device address needs.
RequestBuilder SingleReadBuilder(const ReadWriteBlock *block) {
  if (block->region == kSpecialSchedule) return SendScheduleRead;
  if (block->region == kSpecialClock) return SendClockRead;
  return DeviceAddress(block) >= kFirstFullAddress ? SendMemReadFull : SendMemRead;
}

}  // namespace

int32_t SingleRead(DriverRequest *request) {
  ReadWriteBlock *block = BlockOf(request);
  if (block == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: SingleRead() no channel or read block");
    return 1;
  }
  GasCopy gas;
  if (!AcceptBlock("SingleRead", block, gas)) return 1;

  if (IsN2OpenStation(request->context, block->station)) {
    return SingleReadN2Open(request, block, gas);
  }

  if (!AcceptSystem91Block("SingleRead", block, gas)) return 1;
  // A single digital gate stores the one bit of the item it names.
  // The host's data type is an 8-bit code in a 32-bit field.
  if ((block->dataType & 0xFF) == kGateDigital && block->itemCount == 1 &&
      (block->bit < 0 || block->bit > kHighestBit)) {
    ZamLog(kLogLevel, "ZAMKT: SingleRead() invalid bit %d. GAS=%s", block->bit, gas);
    return 1;
  }

  return ReadWithAttempts("SingleRead", "Single Read", request, gas, SingleReadBuilder(block));
}

int32_t BlockRead(DriverRequest *request) {
  ReadWriteBlock *block = BlockOf(request);
  if (block == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: BlockRead() no channel or read block");
    return 1;
  }
  GasCopy gas;
  if (!AcceptBlock("BlockRead", block, gas)) return 1;
  if (!AcceptSystem91Block("BlockRead", block, gas)) return 1;
  // A block is a run of memory items: the schedule and clock areas are read
  // one point at a time.
  if (block->region == kSpecialSchedule || block->region == kSpecialClock) {
    ZamLog(kLogLevel, "ZAMKT: BlockRead() invalid region %d. GAS=%s", block->region, gas);
    return 1;
  }

  return ReadWithAttempts("BlockRead", "Block Read", request, gas,
                          DeviceAddress(block) >= kFirstFullAddress ? SendBlockReadFull : SendBlockRead);
}

// ---- request builders ---------------------------------------------------------

bool SendMemRead(DriverRequest *request) {
  const ReadWriteBlock *block = BlockOf(request);
  if (block == nullptr) return false;
  uint16_t address = DeviceAddress(block);
  // The paged form has room for pages 0..3 only.
  if (address >= kFirstFullAddress) return SendMemReadFull(request);
  const uint8_t message[] = {StationByte(block), static_cast<uint8_t>(kCmdMemReadPaged + address / 256),
                             static_cast<uint8_t>(address % 256)};
  return SendRequestFrame(request->context, message, sizeof message);
}

bool SendMemReadFull(DriverRequest *request) {
  const ReadWriteBlock *block = BlockOf(request);
  if (block == nullptr) return false;
  uint16_t address = DeviceAddress(block);
  const uint8_t message[] = {StationByte(block), kCmdMemReadFull, static_cast<uint8_t>(address & 0xFF),
                             static_cast<uint8_t>(address >> 8)};
  return SendRequestFrame(request->context, message, sizeof message);
}

bool SendScheduleRead(DriverRequest *request) {
  const ReadWriteBlock *block = BlockOf(request);
  if (block == nullptr) return false;
  GasCopy gas;
  CopyGasUpper(block->gas, gas);
  // The schedule number is the number of the module name "TS01".."TS08" at
  // positions 3..6; the device counts its schedules from 0.
  unsigned schedule = 0;
  for (int i = 5; i < 7 && isdigit(static_cast<unsigned char>(gas[i])); ++i) {
    schedule = schedule * 10 + static_cast<unsigned>(gas[i] - '0');
  }
  const uint8_t message[] = {StationByte(block),
                             kCmdAreaRead,
                             kAreaTimeSchedule,
                             static_cast<uint8_t>(DeviceAddress(block) & 0xFF),
                             static_cast<uint8_t>(block->itemCount - 1),
                             static_cast<uint8_t>(schedule - 1)};
  return SendRequestFrame(request->context, message, sizeof message);
}

bool SendClockRead(DriverRequest *request) {
  const ReadWriteBlock *block = BlockOf(request);
  if (block == nullptr) return false;
  GasCopy gas;
  CopyGasUpper(block->gas, gas);
  // The clock keeps its date in items 1..3 and its time in items 5..7; every
  // other clock point is the one item at its offset.
  const char *point = gas + kMnemonicPosition;
  uint8_t first = static_cast<uint8_t>(DeviceAddress(block) & 0xFF);
  uint8_t countLess1 = 0;
  if (strncmp(point, "DATE", 4) == 0) {
    first = 1;
    countLess1 = 2;
  } else if (strncmp(point, "TIME", 4) == 0) {
    first = 5;
    countLess1 = 2;
  }
  const uint8_t message[] = {StationByte(block), kCmdAreaRead, kAreaRealTimeClock, first, countLess1};
  return SendRequestFrame(request->context, message, sizeof message);
}

bool SendBlockRead(DriverRequest *request) {
  const ReadWriteBlock *block = BlockOf(request);
  if (block == nullptr) return false;
  uint16_t address = DeviceAddress(block);
  if (address >= kFirstFullAddress) return SendBlockReadFull(request);
  const uint8_t message[] = {StationByte(block), static_cast<uint8_t>(kCmdBlockReadPaged + address / 256),
                             static_cast<uint8_t>(address % 256), static_cast<uint8_t>(block->itemCount - 1)};
  return SendRequestFrame(request->context, message, sizeof message);
}

bool SendBlockReadFull(DriverRequest *request) {
  const ReadWriteBlock *block = BlockOf(request);
  if (block == nullptr) return false;
  uint16_t address = DeviceAddress(block);
  const uint8_t message[] = {StationByte(block), kCmdBlockReadFull, static_cast<uint8_t>(address & 0xFF),
                             static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(block->itemCount - 1)};
  return SendRequestFrame(request->context, message, sizeof message);
}
