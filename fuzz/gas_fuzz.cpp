// Gate addresses as a host may hand them over: commands 3 and 4 through
// ZamMain, on a channel whose station-type table the input fills.
//
// Input:
//   0      bit 0: command 4 instead of 3; bits 1-3: gate data type; bit 7:
//          the data type is the whole byte, sign-extended
//   1      item count (signed)
//   2      family of the GAS's station (fuzz::SetStationSlot: the four
//          families, then slots no start-up leaves: unterminated, empty,
//          lower case, junk behind the name)
//   3      the other stations: all DX9100 when 0, else station s gets
//          family (byte + s) % 8
//   4...   the GAS, up to the first NUL
// The checks: the status is 0 or 1; the host's fields other than the outputs
// stay as they were; an accepted gate has the station of its GAS and outputs
// a read or write can use (an N2 Open region and element a frame can carry,
// a System 91 special kind, bit and width); a gate eligible for block reads
// is a whole item of a DX9100 station, at most 32 items long.
#include <string.h>

#include <string>

#include "driver/requests.h"
#include "driver/station_types.h"
#include "driver/zam_main.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "n2/protocol.h"
#include "n2/tag_parse.h"

namespace {

void CheckN2OpenGate(const ParseBlock &block, const std::string &gas) {
  FUZZ_CHECK(gas.size() == 8 || gas.size() == 10, "N2 Open GAS '%s' of %zu characters accepted", gas.c_str(),
             gas.size());
  FUZZ_CHECK(block.region >= kRegionAI && block.region <= kRegionOverrideLast, "N2 Open region %d", block.region);
  FUZZ_CHECK(block.element >= 1 && block.element <= kN2OpenMaxElement, "N2 Open element %d of '%s'", block.element,
             gas.c_str());
  FUZZ_CHECK(block.bit == kNoBit, "N2 Open bit %d", block.bit);
  const int32_t width = block.dataType == kGateReal ? 32 : block.dataType == kGateDigital ? 1 : 16;
  FUZZ_CHECK(block.width == width, "N2 Open width %d for data type %d", block.width, block.dataType);
  FUZZ_CHECK(block.dataType == kGateReal || block.dataType == kGateDigital || block.dataType == kGateInt16 ||
                 block.dataType == kGateUInt16,
             "N2 Open gate of data type %d accepted", block.dataType);
}

void CheckSystem91Gate(const ParseBlock &block, const std::string &gas, bool blockParse) {
  FUZZ_CHECK(block.region == kSpecialNone || block.region == kSpecialSchedule || block.region == kSpecialClock,
             "special kind %d of '%s'", block.region, gas.c_str());
  FUZZ_CHECK(block.bit == kNoBit || (block.bit >= 0 && block.bit <= kHighestBit), "bit %d of '%s'", block.bit,
             gas.c_str());
  FUZZ_CHECK(block.element >= 0 && block.element <= 0xFFFF, "device address %d of '%s'", block.element, gas.c_str());
  if (blockParse) return;
  const int32_t width = block.dataType == kGateReal || block.dataType == kGateInt32 ? 32 : 16;
  FUZZ_CHECK(block.width == width, "width %d for data type %d of '%s'", block.width, block.dataType, gas.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input input(data, size);
  const uint8_t flags = input.Byte();
  const int32_t command = (flags & 1) ? kCmdBlockParse : kCmdSingleParse;
  const int32_t dataType = (flags & 0x80) ? static_cast<int8_t>(flags) : (flags >> 1) & 7;
  const int32_t items = static_cast<int8_t>(input.Byte());
  const uint8_t gasFamily = input.Byte();
  const uint8_t others = input.Byte();
  std::string gas = input.Rest();
  gas = gas.substr(0, gas.find('\0'));

  static ChannelContext context;
  memset(&context, 0, sizeof context);
  ResetStationTypes(&context);
  if (others != 0) {
    for (int32_t station = 0; station <= kLastTypedStation; ++station) {
      fuzz::SetStationSlot(&context, station, static_cast<uint8_t>(others + station));
    }
  }
  const int32_t gasStation = fuzz::GasStation(gas);
  fuzz::SetStationSlot(&context, gasStation, gasFamily);

  std::unique_ptr<char[]> hostGas = fuzz::HostText(gas);
  ParseBlock block;
  memset(&block, 0x77, sizeof block);
  block.gas = hostGas.get();
  block.reserved = 0x12345678;
  block.dataType = dataType;
  block.itemCount = items;
  DriverRequest request;
  memset(&request, 0, sizeof request);
  request.context = &context;
  request.parameters = &block;
  request.command = command;
  const int32_t status = ZamMain(&request);

  FUZZ_CHECK(status == 0 || status == 1, "command %d returned %d", command, status);
  FUZZ_CHECK(block.gas == hostGas.get() && block.reserved == 0x12345678 && block.dataType == dataType &&
                 block.itemCount == items,
             "command %d changed the host's input fields", command);
  FUZZ_CHECK(!TypeCheckSwitchOn(), "the type-check switch stayed on after command %d", command);
  if (status != 0) return 0;

  FUZZ_CHECK(gas.size() <= static_cast<size_t>(kMaxGasLength), "GAS of %zu characters accepted", gas.size());
  FUZZ_CHECK(block.station == gasStation && IsStationAddress(block.station), "station %d from '%s'", block.station,
             gas.c_str());
  if (command == kCmdBlockParse) {
    FUZZ_CHECK(IsStationType(&context, block.station, kTypeDX9100), "block read eligible on a %s station",
               StationTypeOf(&context, block.station));
    FUZZ_CHECK(block.bit == kNoBit && items <= 32, "block read eligible with bit %d, %d items", block.bit, items);
  }
  if (IsN2OpenStation(&context, block.station)) {
    CheckN2OpenGate(block, gas);
  } else {
    FUZZ_CHECK(IsStationType(&context, block.station, kTypeDX9100) ||
                   IsStationType(&context, block.station, kTypeXT9100) ||
                   IsStationType(&context, block.station, kTypeTC9100),
               "gate '%s' accepted on a station of family '%s'", gas.c_str(), StationTypeOf(&context, block.station));
    CheckSystem91Gate(block, gas, command == kCmdBlockParse);
  }
  return 0;
}
