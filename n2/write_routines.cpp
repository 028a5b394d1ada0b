// The region write routines: each builds the one write frame of its kind of
// System 91 point from the gate record and the host's value and hands it to
// the send step. Bits and bit fields are read-modify-write: the current byte
// or word is read back first and only the gate's own bit or field changes.
// Reading the acknowledgement and retrying are SingleWrite's work.
#include <ctype.h>
#include <string.h>

#include "driver/log.h"
#include "n2/decode.h"
#include "n2/encode.h"
#include "n2/frame.h"
#include "n2/point_tables.h"
#include "n2/protocol.h"
#include "n2/read.h"
#include "n2/reply_check.h"
#include "n2/tag_parse.h"
#include "n2/write.h"
#include "serial/exchange.h"
#include "serial/port.h"

namespace {

// Where the field of a field point lies in its word, and how many bytes of the
// word its write carries (fields of the low byte live in byte-wide items).
struct FieldLayout {
  uint16_t type;
  uint16_t valueMask;  // host value bits kept, before shifting
  uint16_t shift;
  uint8_t dataBytes;
};

// One row per field type code, as the device keeps the fields.
constexpr FieldLayout kFieldLayouts[] = {
    {kTypeField0, 0x03, 0, 1},    // bits 0..1
    {kTypeField2, 0x03, 2, 1},    // bits 2..3
    {kTypeField4, 0x03, 4, 1},    // bits 4..5
    {kTypeField6, 0x03, 6, 1},    // bits 6..7
    {kTypeField8, 0x03, 8, 2},    // bits 8..9
    {kTypeField10, 0x03, 10, 2},  // bits 10..11
    {kTypeField12, 0x07, 12, 2},  // bits 12..14
    {kTypeMinutes, 0x3F, 0, 2},   // bits 0..5
    {kTypeHours, 0x1F, 8, 2},     // bits 8..12
    {kTypeWeekday, 0x07, 13, 2},  // bits 13..15
};

// Data bytes of a read-back: the byte-wide items are bits of an 8-bit item
// and the four fields of the low byte; everything else is a 16-bit word.
uint8_t ReadBackBytes(uint16_t type) {
  switch (type) {
    case kTypeBit8:
    case kTypeField0:
    case kTypeField2:
    case kTypeField4:
    case kTypeField6:
      return 1;
    default:
      return 2;
  }
}

ReadWriteBlock *BlockOf(DriverRequest *request) {
  if (request == nullptr) return nullptr;
  return static_cast<ReadWriteBlock *>(request->parameters);
}

// The block's value buffer, or null when there is no block or no buffer.
const uint8_t *ValueOf(const ReadWriteBlock *block) {
  if (block == nullptr) return nullptr;
  return static_cast<const uint8_t *>(block->value);
}

// The host keeps 16-bit gate values at offset 2 of the value buffer.
uint16_t HostWord(const uint8_t *value) {
  uint16_t word;
  memcpy(&word, value + 2, sizeof word);
  return word;
}

uint32_t HostLong(const uint8_t *value) {
  uint32_t number;
  memcpy(&number, value, sizeof number);
  return number;
}

uint8_t LowByte(uint32_t value) { return static_cast<uint8_t>(value & 0xFF); }
uint8_t HighByte(uint16_t value) { return static_cast<uint8_t>(value >> 8); }

// Station and address bytes of a memory write: the paged form (page added to
// the command byte) below 1024, the full form with both address bytes from
// there on. Returns the number of bytes written.
uint16_t PutMemoryWriteHead(const ReadWriteBlock *block, uint8_t *message) {
  const uint16_t address = static_cast<uint16_t>(block->element);
  message[0] = LowByte(static_cast<uint32_t>(block->station));
  if (address < kFirstFullAddress) {
    message[1] = static_cast<uint8_t>(kCmdMemWritePaged + address / 256);
    message[2] = LowByte(address);
    return 3;
  }
  message[1] = kCmdMemWriteFull;
  message[2] = LowByte(address);
  message[3] = HighByte(address);
  return 4;
}

// True when the point mnemonic of the upper-cased GAS starts with prefix.
bool MnemonicStartsWith(const char *gas, const char *prefix) {
  if (strlen(gas) < static_cast<size_t>(kMnemonicPosition)) return false;
  return strncmp(gas + static_cast<size_t>(kMnemonicPosition), prefix, strlen(prefix)) == 0;
}

// The schedule number of "TS01".."TS08": the two digits at positions 5 and 6.
// 0 when they are not two digits, which no time schedule module has.
uint8_t ScheduleNumber(const char *gas) {
  if (strlen(gas) < static_cast<size_t>(kMnemonicPosition)) return 0;
  if (!isdigit(static_cast<unsigned char>(gas[5])) || !isdigit(static_cast<unsigned char>(gas[6]))) {
    return 0;
  }
  return static_cast<uint8_t>((gas[5] - '0') * 10 + (gas[6] - '0'));
}

// Read-back, pause, then the write of the word read back with the bits of
// clearMask cleared and those of setBits set: the common tail of the bit and
// field writes. dataBytes is 1 for byte-wide items, 2 for words.
bool ReadModifyWrite(DriverRequest *request, uint16_t type, uint8_t dataBytes, uint16_t clearMask,
                     uint16_t setBits) {
  ReadWriteBlock *block = BlockOf(request);
  uint16_t current = 0;
  if (ReadBackWord(request, &current, type) != 0) return false;
  PauseMilliseconds(kSuccessPauseMs);

  const uint16_t updated = static_cast<uint16_t>((current & ~clearMask) | setBits);
  uint8_t message[kMaxMessageBytes];
  uint16_t n = PutMemoryWriteHead(block, message);
  message[n++] = LowByte(updated);
  if (dataBytes == 2) message[n++] = HighByte(updated);
  SendRequestFrame(request->context, message, n);
  return true;
}

}  // namespace

int ReadBackWord(DriverRequest *request, uint16_t *word, uint16_t type) {
  ReadWriteBlock *block = BlockOf(request);
  if (block == nullptr || block->gas == nullptr || word == nullptr) return 1;

  // The single read of the gate's address, as a read of the gate builds it.
  if (static_cast<uint16_t>(block->element) < kFirstFullAddress) {
    SendMemRead(request);
  } else {
    SendMemReadFull(request);
  }

  char reply[kReplyBufferSize];
  if (!ReceiveReply(request->context, reply)) return 2;
  if (!CheckAckNak(reply, 0, block->gas)) return 1;

  // "A", the data digits, four unchecked characters and the frame sum: a line
  // without all the digits the item needs carries nothing to decode.
  const uint8_t dataBytes = ReadBackBytes(type);
  const size_t length = strlen(reply);
  if (length < 7u + 2u * dataBytes) {
    ZamLog(kLogLevel, "ZAMKT: ReadBackWord() response string too short '%s'", reply);
    return 1;
  }
  if (!CheckReplySum(reply)) return 1;
  // Digits that are no hex would turn into other bits, which the write would
  // then put back into the device.
  if (!IsUpperHex(reply + 1, length - 7u)) {
    ZamLog(kLogLevel, "ZAMKT: ReadBackWord() response data not upper-case hex '%s'", reply);
    return 1;
  }

  uint8_t bytes[2] = {0, 0};
  AsciiHexToVal(reply + 1, bytes, dataBytes);
  *word = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));  // items travel low byte first
  return 0;
}

bool WriteBit(DriverRequest *request, uint16_t type) {
  ReadWriteBlock *block = BlockOf(request);
  const uint8_t *value = ValueOf(block);
  if (value == nullptr) return false;
  if (type != kTypeBit8 && type != kTypeBit16) return false;
  const uint16_t bit = static_cast<uint16_t>(block->bit);
  if (bit > kHighestBit) return false;

  const uint16_t hostWord = HostWord(value);
  const uint16_t mask = static_cast<uint16_t>(1u << bit);
  const uint8_t dataBytes = type == kTypeBit16 ? 2 : 1;
  if (hostWord != 0) return ReadModifyWrite(request, type, dataBytes, 0, mask);
  return ReadModifyWrite(request, type, dataBytes, mask, 0);
}

bool WriteWordField(DriverRequest *request, uint16_t type) {
  ReadWriteBlock *block = BlockOf(request);
  const uint8_t *value = ValueOf(block);
  if (value == nullptr) return false;
  const uint16_t hostWord = HostWord(value);

  // Points of type 50 and 70 are whole words: the host's value is the word,
  // so it is written as it is (ORing it into the word read back could set
  // bits but never clear them).
  if (type == kTypeWord || type == kTypeWord70) {
    return ReadModifyWrite(request, type, 2, 0xFFFF, hostWord);
  }

  for (const FieldLayout &field : kFieldLayouts) {
    if (field.type != type) continue;
    const uint16_t fieldMask = static_cast<uint16_t>(field.valueMask << field.shift);
    const uint16_t fieldValue = static_cast<uint16_t>((hostWord & field.valueMask) << field.shift);
    return ReadModifyWrite(request, type, field.dataBytes, fieldMask, fieldValue);
  }
  return false;  // not a word or field point: nothing to write
}

bool WriteReal(DriverRequest *request) {
  ReadWriteBlock *block = BlockOf(request);
  const uint8_t *value = ValueOf(block);
  if (value == nullptr) return false;

  float real;
  memcpy(&real, value, sizeof real);
  uint16_t word = 0;
  if (!RealToN2Float(real, &word)) return false;

  uint8_t message[kMaxMessageBytes];
  uint16_t n = PutMemoryWriteHead(block, message);
  message[n++] = LowByte(word);
  message[n++] = HighByte(word);
  SendRequestFrame(request->context, message, n);
  return true;
}

bool WriteLong(DriverRequest *request) {
  ReadWriteBlock *block = BlockOf(request);
  const uint8_t *value = ValueOf(block);
  if (value == nullptr) return false;

  const uint32_t number = HostLong(value);
  uint8_t message[kMaxMessageBytes];
  uint16_t n = PutMemoryWriteHead(block, message);
  for (int shift = 0; shift < 32; shift += 8) message[n++] = LowByte(number >> shift);
  SendRequestFrame(request->context, message, n);
  return true;
}

bool WriteSchedule(DriverRequest *request) {
  ReadWriteBlock *block = BlockOf(request);
  const uint8_t *value = ValueOf(block);
  if (value == nullptr || block->gas == nullptr) return false;

  GasCopy gas;
  (void)CopyGasUpper(block->gas, gas);  // SingleWrite has refused longer ones
  const uint8_t schedule = ScheduleNumber(gas);
  if (schedule == 0) return false;  // not a time schedule module: nothing to address

  const uint32_t minutes = HostLong(value);
  uint8_t data[2];
  if (MnemonicStartsWith(gas, "DAYS")) {
    data[0] = EncodeDays(static_cast<int32_t>(minutes));
    data[1] = 0x00;
  } else if (!EncodeScheduleTime(minutes, data)) {
    ZamLog(kLogLevel, "ZAMKT: Value exceeds 1440 sec! Gate %s", gas);
    return false;
  }

  const uint8_t message[] = {LowByte(static_cast<uint32_t>(block->station)),
                             kCmdAreaWrite,
                             kAreaTimeSchedule,
                             LowByte(static_cast<uint32_t>(block->element)),
                             0x00,  // one item
                             static_cast<uint8_t>(schedule - 1),
                             data[0],
                             data[1]};
  SendRequestFrame(request->context, message, sizeof message);
  return true;
}

bool WriteClock(DriverRequest *request) {
  ReadWriteBlock *block = BlockOf(request);
  const uint8_t *value = ValueOf(block);
  if (value == nullptr || block->gas == nullptr) return false;

  GasCopy gas;
  (void)CopyGasUpper(block->gas, gas);  // SingleWrite has refused longer ones
  const uint32_t number = HostLong(value);
  uint8_t data[3];
  if (MnemonicStartsWith(gas, "TIME")) {
    if (!ClockTimeInRange(number)) return false;  // SingleWrite has logged the refusal
    EncodeClockTime(number, data);
  } else if (MnemonicStartsWith(gas, "DATE")) {
    if (!ClockDateInRange(static_cast<int32_t>(number))) return false;
    EncodeClockDate(static_cast<int32_t>(number), data);
  } else {
    return false;  // the clock's other points cannot be written
  }

  const uint8_t message[] = {LowByte(static_cast<uint32_t>(block->station)),
                             kCmdAreaWrite,
                             kAreaRealTimeClock,
                             LowByte(static_cast<uint32_t>(block->element)),
                             0x02,  // three items
                             data[0],
                             data[1],
                             data[2]};
  SendRequestFrame(request->context, message, sizeof message);
  return true;
}
