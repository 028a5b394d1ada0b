// The N2 Open side of the bus: the two-frame station initialisation, the item
// read with the storing of its value, and the item write.
//
// N2 Open frames are ">" + the message bytes as hex pairs + the frame sum of
// those characters + CR; unlike System 91 frames they carry no Fletcher
// check bytes. Values travel most significant byte first.
#include "n2open/item_exchange.h"

#include <stdio.h>
#include <string.h>

#include "driver/log.h"
#include "driver/station_types.h"
#include "n2/decode.h"
#include "n2/frame.h"
#include "n2/protocol.h"
#include "n2/reply_check.h"
#include "n2/tag_parse.h"
#include "n2open/tag_parse.h"
#include "serial/exchange.h"
#include "serial/port.h"

namespace {

// The longest frame is an item write of a float: 8 message bytes.
constexpr uint16_t kFrameSize = 32;

// A read reply is "A", the data and the two-digit frame sum; anything shorter
// than this cannot hold a frame sum over at least one character.
constexpr size_t kShortestReadReply = 4;

// Texts of the error codes a station sends behind "N".
constexpr const char *kErrorTexts[] = {
    "Device is reset",                     // 00
    "Undefined Command",                   // 01
    "Checksum error",                      // 02
    "Input buffer overrun",                // 03
    " ",                                   // 04
    "Data field error",                    // 05
    " ",                                   // 06
    " ",                                   // 07
    " ",                                   // 08
    " ",                                   // 09
    "Invalid Data (Point doesn't exist)",  // 10
    "Invalid command for data type",       // 11
    "Command rejected: device problem",    // 12
};
constexpr int kErrorCodes = sizeof kErrorTexts / sizeof kErrorTexts[0];
constexpr const char kUnknownErrorText[] = "Invalid error response";

// Puts the frame sum of the body that stands at frame[1..bodyLength] behind
// it, together with the ">" before and the CR after. Returns the length.
uint16_t FinishFrame(char *frame, uint16_t bodyLength) {
  frame[0] = kStartChar;
  uint8_t sum = FrameSum(frame + 1, bodyLength);
  BytesToHex(&sum, frame + 1 + bodyLength, 1);
  frame[bodyLength + 3] = kFrameEnd;
  frame[bodyLength + 4] = '\0';
  return static_cast<uint16_t>(bodyLength + 4);
}

uint16_t BuildFrame(const uint8_t *message, uint16_t count, char *frame) {
  BytesToHex(message, frame + 1, count);
  return FinishFrame(frame, static_cast<uint16_t>(2 * count));
}

ReadWriteBlock *BlockOf(DriverRequest *request) {
  if (request == nullptr || request->context == nullptr) return nullptr;
  return static_cast<ReadWriteBlock *>(request->parameters);
}

// Copies the GAS for the messages; false when it is missing or longer than
// any gate address the driver accepts.
bool CopyGas(const char *gas, char (&copy)[kMaxGasLength + 1]) {
  memset(copy, 0, sizeof copy);
  if (gas == nullptr) return false;
  for (int i = 0; i < kMaxGasLength; ++i) {
    if (gas[i] == '\0') return true;
    copy[i] = gas[i];
  }
  return gas[kMaxGasLength] == '\0';
}

// The checks before an item frame is built: the host fills the block itself,
// and the station, region and element go into single bytes of the frame.
// Logs the refusal; false when refused.
bool AcceptItemBlock(const char *routine, const ChannelContext *context, const ReadWriteBlock *block,
                     char (&gas)[kMaxGasLength + 1]) {
  if (!CopyGas(block->gas, gas) || block->value == nullptr) {
    ZamLog(kLogLevel, "ZAMKT%02d: %s() invalid GAS or no value buffer. GAS=%s", context->channelNumber, routine, gas);
    return false;
  }
  if (!IsStationAddress(block->station) || !N2OpenGateAddressable(block->region, block->element)) {
    ZamLog(kLogLevel, "ZAMKT%02d: %s() invalid station %d region %d element %d. GAS=%s", context->channelNumber,
           routine, block->station, block->region, block->element, gas);
    return false;
  }
  return true;
}

uint8_t ElementByte(const ReadWriteBlock *block) { return static_cast<uint8_t>(block->element - 1); }

uint16_t ValueWord(const ReadWriteBlock *block) {
  uint16_t word;
  memcpy(&word, static_cast<const char *>(block->value) + 2, sizeof word);
  return word;
}

void StoreWord(ReadWriteBlock *block, uint16_t word) {
  memcpy(static_cast<char *>(block->value) + 2, &word, sizeof word);
}

// One exchange of the initialisation: up to five attempts, 100 ms apart, for
// the station to accept the frame. 0 when it did, otherwise the code of the
// last attempt (1 refused, 2 no reply).
int16_t InitExchange(ChannelContext *context, int32_t station, const char *frame, uint16_t length) {
  char reply[kReplyBufferSize];
  char text[kN2ErrorTextSize];
  text[0] = '\0';
  int16_t code = 2;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt > 0) PauseMilliseconds(kN2OpenInitPauseMs);
    SendCommand(context, frame, length);
    if (!ReceiveReply(context, reply)) {
      ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_InitStation() failed to read response. Station %d", context->channelNumber,
             station);
      code = 2;
      continue;
    }
    if (N2_TestAckNak(reply, text) == 1) return 0;
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_InitStation() failed. Station %d %s", context->channelNumber, station, text);
    code = 1;
  }
  return code;
}

// Builds the item write frame of the block's region into frame; 0 when the
// region cannot be written.
uint16_t BuildWriteFrame(const ReadWriteBlock *block, char *frame) {
  uint8_t message[8] = {static_cast<uint8_t>(block->station), kN2OpenWrite, N2OpenRegionNumber(block->region),
                        ElementByte(block)};
  uint16_t count = 4;
  switch (block->region) {
    case kRegionAO:
    case kRegionAF: {
      uint32_t bits;  // the host's float, as its bit pattern
      memcpy(&bits, block->value, sizeof bits);
      message[count++] = static_cast<uint8_t>(bits >> 24);
      message[count++] = static_cast<uint8_t>(bits >> 16);
      message[count++] = static_cast<uint8_t>(bits >> 8);
      message[count++] = static_cast<uint8_t>(bits);
      break;
    }
    case kRegionAD: {
      uint16_t word = ValueWord(block);
      message[count++] = static_cast<uint8_t>(word >> 8);
      message[count++] = static_cast<uint8_t>(word);
      break;
    }
    case kRegionBO:
    case kRegionBD:
      // The low byte goes as it is: a binary output is not reduced to 0 or 1.
      message[count++] = static_cast<uint8_t>(ValueWord(block));
      break;
    default:
      if (block->region < kRegionOverrideFirst || block->region > kRegionOverrideLast) return 0;
      // Writing to an override tag releases the override: no data.
      message[1] = kN2OpenRelease;
      break;
  }
  return BuildFrame(message, count, frame);
}

}  // namespace

int N2_TestAckNak(const char *reply, char *text) {
  if (reply == nullptr) return 0;
  if (reply[0] == kAckChar) return 1;
  if (strlen(reply) < 2) {
    ZamLog(kLogLevel, "ZAMKT: N2_TestAckNak() invalid response '%s'", reply);
    return 0;
  }
  if (reply[0] == kNakChar && text != nullptr) {
    int code = -1;
    if (sscanf(reply + 1, "%2d", &code) != 1) code = -1;
    const char *meaning = (code >= 0 && code < kErrorCodes) ? kErrorTexts[code] : kUnknownErrorText;
    snprintf(text, kN2ErrorTextSize, "%s", meaning);
  }
  return 0;
}

int16_t N2OPEN_InitStation(ChannelContext *context, int32_t station) {
  if (context == nullptr) return 2;
  if (!IsStationAddress(station)) {
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_InitStation() invalid station %d", context->channelNumber, station);
    return 1;
  }
  char identify[kFrameSize];
  const uint8_t first[] = {static_cast<uint8_t>(station), kN2OpenIdentify};
  uint16_t identifyLength = BuildFrame(first, sizeof first, identify);

  // The second frame is the station's hex pair followed by the single
  // status character in place of a command byte.
  char status[kFrameSize];
  const uint8_t stationByte = static_cast<uint8_t>(station);
  BytesToHex(&stationByte, status + 1, 1);
  status[3] = kN2OpenStatusChar;
  uint16_t statusLength = FinishFrame(status, 3);

  // Both exchanges run whatever the first one gave: the station needs both
  // frames to come up.
  int16_t identified = InitExchange(context, station, identify, identifyLength);
  int16_t answered = InitExchange(context, station, status, statusLength);
  return answered != 0 ? answered : identified;
}

int16_t N2OpenEnsureInitialised(ChannelContext *context, int32_t station, const char *handler) {
  // Only stations 0..254 have a flag (station 255 is never an N2 Open one).
  if (station < 0 || station >= kN2OpenFlagSlots) return 1;
  if (context->n2openInitialised[station] != 0) return 0;
  const int channel = context->channelNumber;
  ZamLog(kLogLevel, "ZAMKT%02d: %s() Initializing 'N2OPEN' station %d", channel, handler, station);
  const int16_t init = N2OPEN_InitStation(context, station);
  if (init != 0) {
    ZamLog(kLogLevel, "ZAMKT%02d: %s() Failed to Initialize 'N2OPEN' station %d rc = %d", channel, handler, station,
           init);
    return init;
  }
  context->n2openInitialised[station] = 1;
  ZamLog(kLogLevel, "ZAMKT%02d: %s() 'N2OPEN' station %d initialized successfully", channel, handler, station);
  return 0;
}

int N2OPEN_DoReadItem(DriverRequest *request) {
  ReadWriteBlock *block = BlockOf(request);
  if (block == nullptr) return 1;
  ChannelContext *context = request->context;
  char gas[kMaxGasLength + 1];
  if (!AcceptItemBlock("N2OPEN_DoReadItem", context, block, gas)) return 1;

  const uint8_t message[] = {static_cast<uint8_t>(block->station),
                             static_cast<uint8_t>(kN2OpenReadBase + N2OpenRegionNumber(block->region)),
                             ElementByte(block), kN2OpenReadAttribute};
  char frame[kFrameSize];
  uint16_t length = BuildFrame(message, sizeof message, frame);

  char reply[kReplyBufferSize];
  char text[kN2ErrorTextSize];
  text[0] = '\0';
  int status = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    SendCommand(context, frame, length);
    if (!ReceiveReply(context, reply)) {
      status = 2;
      continue;
    }
    if (N2_TestAckNak(reply, text) != 1) {
      ZamLog(kLogLevel, "ZAMKT%02d: MigDoReadItem() failed. Tag address %s: %s", context->channelNumber, gas, text);
      status = 1;
      continue;
    }
    if (strlen(reply) < kShortestReadReply) {
      ZamLog(kLogLevel, "ZAMKT: N2OPEN_DoReadItem() response string too short '%s'", reply);
      status = 1;
      continue;
    }
    if (!CheckReplySum(reply)) {
      ZamLog(kLogLevel, "ZAMKT%02d: MigDoReadItem() failed. Tag address %s. Bad checksum: %s", context->channelNumber,
             gas, reply);
      status = 1;
      continue;
    }
    // The data between "A" and the frame sum: anything but hex digits would
    // be decoded into a value the station never sent.
    if (!IsUpperHex(reply + 1, strlen(reply) - 3)) {
      ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_DoReadItem() response data not upper-case hex '%s'",
             context->channelNumber, reply);
      status = 1;
      continue;
    }
    // A reply too short for the region's value is a bad reply like the ones
    // above, and the next attempt may bring the whole value.
    status = N2OPEN_StoreData(request, reply);
    if (status == 0) break;
  }
  if (status != 0) {
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_DoReadItem() failed GAS=%s", context->channelNumber, gas);
  }
  return status;
}

int N2OPEN_StoreData(DriverRequest *request, const char *reply) {
  ReadWriteBlock *block = BlockOf(request);
  if (block == nullptr || block->value == nullptr || reply == nullptr) return 1;
  ChannelContext *context = request->context;
  char gas[kMaxGasLength + 1];
  CopyGas(block->gas, gas);

  // Characters each region decodes, counted from the "A" and including the
  // frame sum behind its data.
  size_t needed;
  switch (block->region) {
    case kRegionAI:
    case kRegionAO:
    case kRegionAF:
      needed = 13;
      break;
    case kRegionAD:
    case kRegionBD:
      needed = 7;
      break;
    case kRegionBI:
    case kRegionBO:
      needed = 5;
      break;
    default:
      if (block->region < kRegionOverrideFirst || block->region > kRegionOverrideLast) {
        ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_StoreData. Tag '%s' inalid memory type", context->channelNumber, gas);
        return 1;
      }
      needed = 5;
      break;
  }
  if (strnlen(reply, needed) < needed) {
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_StoreData. Tag '%s' response string too short '%s'", context->channelNumber,
           gas, reply);
    return 1;
  }

  uint8_t bytes[4];
  switch (block->region) {
    case kRegionAI:
    case kRegionAO:
    case kRegionAF: {
      AsciiHexToVal(reply + 3, bytes, 4);
      uint32_t bits = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                      static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
      float value;
      memcpy(&value, &bits, sizeof value);
      memcpy(block->value, &value, sizeof value);
      break;
    }
    case kRegionBI:
    case kRegionBO:
      AsciiHexToVal(reply + 1, bytes, 1);
      StoreWord(block, (bytes[0] >> 6) & 1);
      break;
    case kRegionAD:
      AsciiHexToVal(reply + 1, bytes, 2);
      StoreWord(block, static_cast<uint16_t>(bytes[0] << 8 | bytes[1]));
      break;
    case kRegionBD:
      AsciiHexToVal(reply + 3, bytes, 1);
      StoreWord(block, bytes[0]);
      break;
    default:  // the override forms: is the object overridden?
      AsciiHexToVal(reply + 1, bytes, 1);
      StoreWord(block, (bytes[0] >> 1) & 1);
      break;
  }
  return 0;
}

int N2OPEN_DoWriteItem(DriverRequest *request) {
  ReadWriteBlock *block = BlockOf(request);
  if (block == nullptr) return 1;
  ChannelContext *context = request->context;
  char gas[kMaxGasLength + 1];
  if (!CopyGas(block->gas, gas) || block->value == nullptr) {
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_DoWriteItem() invalid GAS or no value buffer. GAS=%s", context->channelNumber,
           gas);
    return 1;
  }
  char frame[kFrameSize];
  uint16_t length = BuildWriteFrame(block, frame);
  if (length == 0) {
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_DoWriteItem() failed. Tag %s Write not supported", context->channelNumber,
           gas);
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_DoWriteItem() failed GAS=%s", context->channelNumber, gas);
    return 1;
  }
  if (!AcceptItemBlock("N2OPEN_DoWriteItem", context, block, gas)) return 1;

  char reply[kReplyBufferSize];
  char text[kN2ErrorTextSize];
  text[0] = '\0';
  int status = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    SendCommand(context, frame, length);
    if (!ReceiveReply(context, reply)) {
      status = 2;
      continue;
    }
    // A write is acknowledged by a bare "A": no frame sum, nothing read back.
    if (N2_TestAckNak(reply, text) == 1) {
      status = 0;
      break;
    }
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_DoWriteItem() failed. Tag address %s: %s", context->channelNumber, gas, text);
    status = 1;
  }
  if (status != 0) {
    ZamLog(kLogLevel, "ZAMKT%02d: N2OPEN_DoWriteItem() failed GAS=%s", context->channelNumber, gas);
  }
  return status;
}
