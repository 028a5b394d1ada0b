// N2 Open gates and replies: tag parsing through ZamMain (command 3 on an
// N2 Open station), and the classification and storing of reply lines
// (N2_TestAckNak, N2OPEN_StoreData) on any line and any region code.
//
// Input:
//   0      bit 0: reply mode instead of parse mode
//   parse mode:
//   1      gate data type (byte % 8)
//   2...   the GAS, up to the first NUL; its station is made an N2 Open one
//          (station 255 cannot be: it stays a DX9100)
//   reply mode:
//   1      region code 1000 + byte % 16; bit 7: no GAS in the request
//   2...   the reply line, up to the first NUL or CR, at most 999 characters
// The checks: an accepted GAS yields the region of its mnemonic and marker,
// the element of its digits and the width of its data type; a reply is
// accepted exactly when it starts with "A", and an "N" reply gives one of the
// documented error texts within the caller's 150 characters; a stored value
// is the one the line's characters spell, from a line long enough to hold
// them, and a refused line leaves the value buffer as it was.
#include <string.h>

#include <string>

#include "driver/requests.h"
#include "driver/station_types.h"
#include "driver/zam_main.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "n2/protocol.h"
#include "n2open/item_exchange.h"
#include "serial/exchange.h"

namespace {

// Region codes of the mnemonics, plain and with the override marker.
struct Region {
  const char *mnemonic;
  int32_t plain;
  int32_t marked;
};
constexpr Region kRegions[] = {{"AI", 1001, 1001}, {"BI", 1002, 1002}, {"AO", 1003, 1008}, {"BO", 1004, 1009},
                               {"AF", 1005, 1010}, {"AD", 1006, 1011}, {"BD", 1007, 1012}};

constexpr const char *kErrorTexts[] = {"Device is reset",
                                       "Undefined Command",
                                       "Checksum error",
                                       "Input buffer overrun",
                                       " ",
                                       "Data field error",
                                       "Invalid Data (Point doesn't exist)",
                                       "Invalid command for data type",
                                       "Command rejected: device problem",
                                       "Invalid error response"};

void ParseMode(fuzz::Input &input) {
  const int32_t dataType = input.Byte() % 8;
  std::string gas = input.Rest();
  gas = gas.substr(0, gas.find('\0'));

  static ChannelContext context;
  memset(&context, 0, sizeof context);
  ResetStationTypes(&context);
  const int32_t station = fuzz::GasStation(gas);
  fuzz::SetStationSlot(&context, station, 3);

  std::unique_ptr<char[]> hostGas = fuzz::HostText(gas);
  ParseBlock block;
  memset(&block, 0, sizeof block);
  block.gas = hostGas.get();
  block.dataType = dataType;
  DriverRequest request = {&context, kCmdSingleParse, 0, {}, &block};
  const int32_t status = ZamMain(&request);
  FUZZ_CHECK(status == 0 || status == 1, "command 3 returned %d", status);
  if (status != 0) return;

  // Station 255 is always a DX9100: its gates are System 91 ones (gas_fuzz).
  if (!IsN2OpenStation(&context, block.station)) return;
  FUZZ_CHECK(gas.size() == 8 || (gas.size() == 10 && gas.substr(8) == "_O"), "GAS '%s' accepted", gas.c_str());
  int32_t region = 0;
  for (const Region &row : kRegions) {
    if (gas.compare(3, 2, row.mnemonic) == 0) region = gas.size() == 10 ? row.marked : row.plain;
  }
  FUZZ_CHECK(block.region == region, "region %d for '%s' (expected %d)", block.region, gas.c_str(), region);
  auto digit = [&](size_t at) { return gas[at] >= '0' && gas[at] <= '9'; };
  if (digit(5) && digit(6) && digit(7)) {
    const int32_t digits = (gas[5] - '0') * 100 + (gas[6] - '0') * 10 + (gas[7] - '0');
    FUZZ_CHECK(block.element == digits, "element %d for '%s'", block.element, gas.c_str());
  }
  FUZZ_CHECK(block.element >= 1 && block.element <= kN2OpenMaxElement, "element %d for '%s'", block.element,
             gas.c_str());
  const bool floatRegion = region == kRegionAI || region == kRegionAO || region == kRegionAF;
  const bool wordRegion = region == kRegionAD || region == kRegionBD;
  if (floatRegion) FUZZ_CHECK(dataType == kGateReal && block.width == 32, "float region, data type %d", dataType);
  if (wordRegion) {
    FUZZ_CHECK((dataType == kGateInt16 || dataType == kGateUInt16) && block.width == 16, "16-bit region, data type %d",
               dataType);
  }
  if (!floatRegion && !wordRegion) {
    FUZZ_CHECK(dataType == kGateDigital && block.width == 1, "digital region, data type %d", dataType);
  }
  FUZZ_CHECK(block.bit == kNoBit, "bit %d", block.bit);
}

// The byte the two characters at position at spell, or -1 when they are not
// upper-case hex or the line ends first.
int HexByte(const std::string &line, size_t at) {
  if (at + 1 >= line.size() || !fuzz::IsUpperHex(line[at]) || !fuzz::IsUpperHex(line[at + 1])) return -1;
  return fuzz::HexValue(line[at]) << 4 | fuzz::HexValue(line[at + 1]);
}

void CheckStoredValue(int32_t region, const std::string &line, const fuzz::GuardedBuffer &value) {
  const uint16_t word = value.At<uint16_t>(2);
  switch (region) {
    case kRegionAI:
    case kRegionAO:
    case kRegionAF: {
      uint32_t bits = 0;
      for (size_t at = 3; at < 11; at += 2) {
        const int byte = HexByte(line, at);
        if (byte < 0) return;
        bits = bits << 8 | static_cast<uint32_t>(byte);
      }
      FUZZ_CHECK(value.At<uint32_t>(0) == bits, "float %08x stored as %08x", bits, value.At<uint32_t>(0));
      return;
    }
    case kRegionAD: {
      const int high = HexByte(line, 1), low = HexByte(line, 3);
      if (high >= 0 && low >= 0) FUZZ_CHECK(word == (high << 8 | low), "AD %02x%02x stored as %04x", high, low, word);
      return;
    }
    case kRegionBD: {
      const int byte = HexByte(line, 3);
      if (byte >= 0) FUZZ_CHECK(word == byte, "BD %02x stored as %04x", byte, word);
      return;
    }
    default: {
      const int byte = HexByte(line, 1);
      const int bit = region == kRegionBI || region == kRegionBO ? 6 : 1;
      if (byte >= 0)
        FUZZ_CHECK(word == ((byte >> bit) & 1), "status %02x of region %d stored as %u", byte, region, word);
      return;
    }
  }
}

void ReplyMode(fuzz::Input &input) {
  const uint8_t regionByte = input.Byte();
  const int32_t region = 1000 + regionByte % 16;
  std::string line = input.Rest();
  line = line.substr(0, line.find_first_of(std::string("\0\r", 2)));
  if (line.size() >= kReplyBufferSize) line.resize(kReplyBufferSize - 1);
  std::unique_ptr<char[]> reply = fuzz::HostText(line);

  // The caller's error-text buffer, exactly as large as documented.
  std::unique_ptr<char[]> text(new char[kN2ErrorTextSize]);
  strcpy(text.get(), "untouched");
  const int accepted = N2_TestAckNak(reply.get(), text.get());
  FUZZ_CHECK(accepted == (line[0] == 'A' ? 1 : 0), "N2_TestAckNak gave %d for '%s'", accepted, line.c_str());
  if (line.size() >= 2 && line[0] == 'N') {
    bool known = false;
    for (const char *expected : kErrorTexts) known = known || strcmp(text.get(), expected) == 0;
    FUZZ_CHECK(known, "error text '%.150s' for '%s'", text.get(), line.c_str());
  } else {
    FUZZ_CHECK(strcmp(text.get(), "untouched") == 0, "error text written for '%s'", line.c_str());
  }

  ChannelContext context;
  memset(&context, 0, sizeof context);
  std::unique_ptr<char[]> gas = fuzz::HostText("005AI001");
  const uint8_t initial[4] = {0xA5, 0xA5, 0xA5, 0xA5};
  fuzz::GuardedBuffer value(4, initial, sizeof initial);
  ReadWriteBlock block;
  memset(&block, 0, sizeof block);
  block.gas = (regionByte & 0x80) ? nullptr : gas.get();
  block.station = 5;
  block.region = region;
  block.element = 1;
  block.itemCount = 1;
  block.value = value.data();
  DriverRequest request = {&context, kCmdSingleRead, 0, {}, &block};
  const int stored = N2OPEN_StoreData(&request, reply.get());
  FUZZ_CHECK(value.GuardIntact(), "N2OPEN_StoreData wrote behind the value buffer");
  FUZZ_CHECK(stored == 0 || stored == 1, "N2OPEN_StoreData returned %d", stored);
  if (stored != 0) {
    FUZZ_CHECK(value.Unchanged(), "N2OPEN_StoreData refused '%s' but changed the value", line.c_str());
    return;
  }
  FUZZ_CHECK(region >= kRegionAI && region <= kRegionOverrideLast, "region %d stored", region);
  const size_t needed = region == kRegionAI || region == kRegionAO || region == kRegionAF ? 13
                        : region == kRegionAD || region == kRegionBD                      ? 7
                                                                                          : 5;
  FUZZ_CHECK(line.size() >= needed, "region %d stored from the short line '%s'", region, line.c_str());
  CheckStoredValue(region, line, value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input(data, size);
  if (input.Byte() & 1) {
    ReplyMode(input);
  } else {
    ParseMode(input);
  }
  return 0;
}
