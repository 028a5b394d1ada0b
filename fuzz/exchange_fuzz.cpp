// Every request that goes on the line, through ZamMain: single read (5),
// block read (6), single write (7) and warm start (2), on stations of every
// family, with the request's fields either parsed from a GAS by command 3, as
// a host does, or taken as they come. The station's answers come from the
// input through the port in memory.
//
// Input: a header of 13 bytes, the GAS up to '\n', then the station's
// answers, one per request the driver writes, separated by '\n':
//   0      command: 5, 6, 7 or 2 (byte % 4)
//   1      bits 0-2: family of the request's station (fuzz::SetStationSlot);
//          bit 3: its N2 Open station is initialised already; bit 4: keep
//          the raw fields even when the GAS parses
//   2      gate data type (byte % 8; bit 7 keeps the raw byte)
//   3      item count (signed)
//   4      bit number (255 = none)
//   5-6    element (signed 16 bits)
//   7      region: 0, 84, 82, or 1000 + (byte - 3) % 16
//   8      station
//   9-12   value buffer bytes 0-3
// The checks: the status is one the command documents; nothing lands behind
// the host's value buffer; a write or warm start never touches it, nor does
// a failed read; a successful read stored what an accepted reply line
// carried, and a successful write was acknowledged; a bit write changes the
// gate's own bit of the item it read back and no other; every frame on the
// line is well formed and names the request's station.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/requests.h"
#include "driver/station_types.h"
#include "driver/zam_main.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/memory_port.h"
#include "n2/point_tables.h"
#include "n2/protocol.h"
#include "n2/tag_parse.h"
#include "serial/port.h"

namespace {

constexpr int32_t kCommands[] = {kCmdSingleRead, kCmdBlockRead, kCmdSingleWrite, kCmdWarmStart};

// The most request lines one command may write: five attempts of the item
// access, each a read-back and a write for bits and fields, and for N2 Open
// stations two initialisations of two exchanges of five attempts each.
constexpr size_t kMaxWrites = 30;

ChannelContext &Channel() {
  static ChannelContext context;
  static bool opened = false;
  if (!opened) {
    memset(&context, 0, sizeof context);
    PortSettings settings = {9600, 8, 0, 0};
    context.port = OpenPortHandle("ttyFUZZ", &settings, kLineOptionsDefault);
    context.timeout = 100;
    context.enabled = 1;
    opened = true;
  }
  return context;
}

std::string Upper(std::string text) {
  for (char &c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return text;
}

// The data hex digits a System 91 reply must carry for what the gate stores:
// the items' width as the station keeps them. 0 where the decoding stores
// nothing or reads a decimal number of any length. A 16-bit gate may also get
// a byte-wide item (2 digits), which it stores as that byte.
size_t DigitsNeeded(const ReadWriteBlock &block, uint16_t type, const std::string &gas) {
  const int32_t items = block.itemCount;
  const uint16_t special = static_cast<uint16_t>(block.region);
  const std::string mnemonic = gas.size() > 7 ? Upper(gas.substr(7)) : "";
  switch (static_cast<uint8_t>(block.dataType)) {
    case kGateInt16:
      return 2;
    case kGateReal:
      return 4 * static_cast<size_t>(items);
    case kGateInt32:
      if (items != 1) return 8 * static_cast<size_t>(items);
      if (special == kSpecialSchedule) return mnemonic.rfind("DAYS", 0) == 0 ? 2 : 4;
      if (special == kSpecialClock) {
        return mnemonic.rfind("TIME", 0) == 0 || mnemonic.rfind("DATE", 0) == 0 ? 6 : 0;
      }
      return 8;
    case kGateDigital:
      return type == kTypeBit8 ? 2 : 4;
    default:
      return 0;
  }
}

// The System 91 read's checks of a successful read against the line it took.
void CheckSystem91Read(DriverRequest &request, const ReadWriteBlock &block, const std::string &gas,
                       const std::string &line) {
  FUZZ_CHECK(line.size() >= 9 && line[0] == 'A', "read succeeded on the line '%s'", line.c_str());
  FUZZ_CHECK(fuzz::ReplySumCorrect(line), "read succeeded on a line with a wrong frame sum '%s'", line.c_str());
  const uint8_t dataType = static_cast<uint8_t>(block.dataType);
  FUZZ_CHECK(block.itemCount >= 1 && block.itemCount <= 32, "read of %d items succeeded", block.itemCount);
  FUZZ_CHECK(dataType == kGateInt16 || dataType == kGateReal || dataType == kGateInt32 || dataType == kGateDigital,
             "read of data type %d, which stores nothing, succeeded", block.dataType);
  ParsedTag tag;
  std::string upper = Upper(gas);
  if (!LookupTag(&request, &tag, upper.c_str())) return;
  const size_t digits = line.size() - 7;  // "A", the data, four unchecked characters, the sum
  const size_t needed = DigitsNeeded(block, tag.type, gas);
  const bool byteForWord = (block.dataType & 0xFF) == kGateInt16 && digits == 2;
  FUZZ_CHECK(digits >= needed && (byteForWord || (block.dataType & 0xFF) != kGateInt16 || digits >= 4),
             "read of %s (type %u, data type %d, %d items) stored %zu digits' worth from '%s'", gas.c_str(), tag.type,
             block.dataType, block.itemCount, digits, line.c_str());
}

// The message bytes of a request line (without the Fletcher check bytes for
// System 91 frames), from a line FrameFault has passed.
std::vector<uint8_t> MessageBytes(const std::string &frame) {
  std::vector<uint8_t> bytes;
  for (size_t at = 1; at + 4 < frame.size(); at += 2) {
    bytes.push_back(static_cast<uint8_t>(fuzz::HexValue(frame[at]) << 4 | fuzz::HexValue(frame[at + 1])));
  }
  if (bytes.size() >= 2) bytes.resize(bytes.size() - 2);
  return bytes;
}

// The device address of a memory read or write message and where its data
// starts; false for any other request.
bool MemoryAccess(const std::vector<uint8_t> &message, uint8_t pagedBase, uint8_t fullCommand, uint16_t *address,
                  size_t *dataAt) {
  if (message.size() >= 3 && message[1] >= pagedBase && message[1] < pagedBase + 4) {
    *address = static_cast<uint16_t>((message[1] - pagedBase) * 256 + message[2]);
    *dataAt = 3;
    return true;
  }
  if (message.size() >= 4 && message[1] == fullCommand) {
    *address = static_cast<uint16_t>(message[2] | message[3] << 8);
    *dataAt = 4;
    return true;
  }
  return false;
}

// A digital gate is written by reading its item back and writing it again:
// the write goes to the address read, and changes the gate's own bit alone,
// set for a nonzero host word and clear for zero.
void CheckBitWrites(const ReadWriteBlock &block, const std::vector<memory_port::Exchange> &exchanges,
                    uint16_t hostWord) {
  for (size_t i = 0; i + 1 < exchanges.size(); ++i) {
    uint16_t readAddress = 0, writeAddress = 0;
    size_t readData = 0, writeData = 0;
    const std::vector<uint8_t> read = MessageBytes(exchanges[i].written);
    const std::vector<uint8_t> write = MessageBytes(exchanges[i + 1].written);
    if (!MemoryAccess(read, 0x80, 0x84, &readAddress, &readData) || read.size() != readData) continue;
    if (!MemoryAccess(write, 0xC0, 0xC4, &writeAddress, &writeData)) continue;
    FUZZ_CHECK(writeAddress == readAddress, "bit write to %u after reading %u", writeAddress, readAddress);
    const size_t width = write.size() - writeData;
    FUZZ_CHECK(width == 1 || width == 2, "bit write of %zu bytes", width);
    if (exchanges[i].lines.empty()) continue;
    const std::string &line = exchanges[i].lines.front();
    uint16_t before = 0, after = 0;
    bool hex = line.size() > 2 * width;
    for (size_t b = 0; b < width && hex; ++b) {
      hex = fuzz::IsUpperHex(line[1 + 2 * b]) && fuzz::IsUpperHex(line[2 + 2 * b]);
      if (!hex) break;
      before |=
          static_cast<uint16_t>((fuzz::HexValue(line[1 + 2 * b]) << 4 | fuzz::HexValue(line[2 + 2 * b])) << (8 * b));
      after |= static_cast<uint16_t>(write[writeData + b] << (8 * b));
    }
    if (!hex) continue;
    const uint16_t mask = static_cast<uint16_t>(1u << block.bit);
    FUZZ_CHECK(((before ^ after) & ~mask) == 0, "bit %d write turned %04x into %04x", block.bit, before, after);
    FUZZ_CHECK(((after & mask) != 0) == (hostWord != 0), "bit %d written as %d for the host word %u", block.bit,
               (after & mask) != 0, hostWord);
  }
}

// The N2 Open read's checks: the accepted line carries every character the
// region decodes, and a float region stores the float those characters spell.
void CheckN2OpenRead(const ReadWriteBlock &block, const fuzz::GuardedBuffer &value, const std::string &line) {
  FUZZ_CHECK(!line.empty() && line[0] == 'A' && fuzz::ReplySumCorrect(line), "N2 Open read succeeded on '%s'",
             line.c_str());
  size_t needed = 5;
  if (block.region == kRegionAI || block.region == kRegionAO || block.region == kRegionAF) needed = 13;
  if (block.region == kRegionAD || block.region == kRegionBD) needed = 7;
  FUZZ_CHECK(line.size() >= needed, "N2 Open read of region %d stored from the short line '%s'", block.region,
             line.c_str());
  if (needed == 13) {
    uint32_t bits = 0;
    for (size_t i = 3; i < 11; ++i) {
      if (!fuzz::IsUpperHex(line[i])) return;
      bits = bits << 4 | fuzz::HexValue(line[i]);
    }
    FUZZ_CHECK(value.At<uint32_t>(0) == bits, "N2 Open float %08x stored as %08x", bits, value.At<uint32_t>(0));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input(data, size);
  const int32_t command = kCommands[input.Byte() % 4];
  const uint8_t familyByte = input.Byte();
  const uint8_t typeByte = input.Byte();
  const int32_t dataType = (typeByte & 0x80) ? static_cast<int8_t>(typeByte) : typeByte % 8;
  const int32_t items = static_cast<int8_t>(input.Byte());
  const int32_t bit = input.Byte();
  const int32_t element = input.Int16();
  const uint8_t regionByte = input.Byte();
  const int32_t region = regionByte == 0   ? kSpecialNone
                         : regionByte == 1 ? kSpecialSchedule
                         : regionByte == 2 ? kSpecialClock
                                           : 1000 + (regionByte - 3) % 16;
  const int32_t rawStation = input.Byte();
  uint8_t valueBytes[4];
  for (uint8_t &b : valueBytes) b = input.Byte();
  const std::string gas = input.Line();
  const std::vector<std::string> answers = memory_port::SplitAnswers(input.Rest());

  ChannelContext &context = Channel();
  ResetStationTypes(&context);
  memset(context.n2openInitialised, 0, sizeof context.n2openInitialised);
  const uint8_t family = familyByte & 7;
  for (int32_t station : {rawStation, fuzz::GasStation(gas)}) {
    fuzz::SetStationSlot(&context, station, family);
    if (station >= 0 && station < kN2OpenFlagSlots) context.n2openInitialised[station] = (familyByte >> 3) & 1;
  }
  std::unique_ptr<char[]> hostGas = fuzz::HostText(gas);

  // The request as the host builds it: from the parse results of the gate,
  // or from the raw fields.
  ReadWriteBlock block;
  memset(&block, 0, sizeof block);
  block.gas = hostGas.get();
  block.station = rawStation;
  block.region = region;
  block.element = element;
  block.bit = bit;
  block.dataType = dataType;
  block.itemCount = items;
  ParseBlock parse;
  memset(&parse, 0, sizeof parse);
  parse.gas = hostGas.get();
  parse.dataType = dataType;
  parse.itemCount = items;
  DriverRequest parseRequest = {&context, kCmdSingleParse, 0, {}, &parse};
  if (ZamMain(&parseRequest) == 0 && !(familyByte & 0x10)) {
    block.station = parse.station;
    block.region = parse.region;
    block.element = parse.element;
    block.bit = parse.bit;
  }

  // The host's buffer holds what it asked for: up to 32 items of 4 bytes.
  const size_t valueSize = 4 * static_cast<size_t>(items >= 1 && items <= 32 ? items : 1);
  fuzz::GuardedBuffer value(valueSize, valueBytes, sizeof valueBytes);
  block.value = value.data();
  WarmStartBlock warm = {block.station};
  DriverRequest request = {&context, command, 0, {}, command == kCmdWarmStart ? static_cast<void *>(&warm) : &block};

  memory_port::Script(answers);
  const int32_t status = ZamMain(&request);

  const std::vector<memory_port::Exchange> &exchanges = memory_port::Exchanges();
  const std::vector<std::string> lines = memory_port::LinesRead();
  const bool n2open = IsN2OpenStation(&context, block.station);
  FUZZ_CHECK(value.GuardIntact(), "command %d wrote behind the %zu-byte value buffer", command, valueSize);
  FUZZ_CHECK(exchanges.size() <= kMaxWrites, "command %d wrote %zu request lines", command, exchanges.size());
  for (const memory_port::Exchange &exchange : exchanges) {
    std::string fault = fuzz::FrameFault(exchange.written, block.station, !n2open);
    FUZZ_CHECK(fault.empty(), "command %d wrote '%s': %s", command, exchange.written.c_str(), fault.c_str());
  }

  if (command == kCmdWarmStart) {
    FUZZ_CHECK(status == 0, "warm start returned %d", status);
    FUZZ_CHECK(n2open || exchanges.empty(), "warm start of a System 91 station wrote to the line");
    return 0;
  }
  FUZZ_CHECK(status >= 0 && status <= 2, "command %d returned %d", command, status);
  if (n2open && command != kCmdBlockRead && status == 0) {
    FUZZ_CHECK(context.n2openInitialised[block.station] == 1, "N2 Open station %d served but not marked initialised",
               block.station);
  }
  if (command == kCmdSingleWrite) {
    FUZZ_CHECK(value.Unchanged(), "a write changed the host's value buffer");
    if (status == 0) {
      FUZZ_CHECK(!lines.empty() && lines.back()[0] == 'A', "write succeeded without an acknowledgement");
    }
    if (!n2open && (block.dataType & 0xFF) == kGateDigital && block.bit >= 0 && block.bit <= 15) {
      CheckBitWrites(block, exchanges, value.At<uint16_t>(2));
    }
    if (status == 2 && !n2open) {
      bool silentAttempt = false;
      for (const memory_port::Exchange &exchange : exchanges) silentAttempt = silentAttempt || exchange.lines.empty();
      FUZZ_CHECK(silentAttempt, "write returned 2 although every attempt got a reply line");
    }
    return 0;
  }

  // Reads.
  if (status != 0) {
    FUZZ_CHECK(value.Unchanged(), "a failed read (%d) changed the host's value buffer", status);
    if (!n2open && status == 2) FUZZ_CHECK(lines.empty(), "read without any reply line returned 2, but lines came");
    return 0;
  }
  FUZZ_CHECK(!lines.empty(), "read succeeded without a reply line");
  // The driver keeps a NUL byte of a line as '?', so that the line keeps its
  // length and fails the checks that look at that place.
  std::string line = lines.back();
  std::replace(line.begin(), line.end(), '\0', '?');
  if (n2open && command == kCmdSingleRead) {
    CheckN2OpenRead(block, value, line);
  } else {
    CheckSystem91Read(request, block, gas, line);
  }
  return 0;
}
