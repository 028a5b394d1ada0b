// Gate addresses as a host may hand them over: commands 3 and 4 through
// ZamMain, on a channel with stations of every family.
#include <string.h>

#include <string>

#include "driver/requests.h"
#include "driver/station_types.h"
#include "driver/zam_main.h"
#include "fuzz/fuzz_target.h"

extern const char *const kFuzzSeeds[] = {
    "001GCDI1", "001GCLRS33", "001AI01HR", "012PM03LSP", "001XT02XTDIC1", "001TS01START1", "001RTCLTIME",
    "010XP01AI1", "020TCGCMIN", "020TCP2ACT", "005AO012", "005AO012_O", "005BD256", "255GCDI1", "000GCDI1",
    nullptr};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  static ChannelContext context;
  static bool ready = false;
  if (!ready) {
    memset(&context, 0, sizeof context);
    ResetStationTypes(&context);
    strcpy(context.stationTypes[5], kTypeN2Open);
    strcpy(context.stationTypes[10], kTypeXT9100);
    strcpy(context.stationTypes[20], kTypeTC9100);
    ready = true;
  }
  std::string gas(reinterpret_cast<const char *>(data + 1), size - 1);
  gas = gas.substr(0, gas.find('\0'));
  // Station addresses of the prepared families, often enough to go deep.
  if (gas.size() >= 3 && (data[0] & 0x80)) {
    static const char *const kStations[] = {"001", "005", "010", "020"};
    memcpy(gas.data(), kStations[data[0] % 4], 3);
  }
  ParseBlock block;
  memset(&block, 0, sizeof block);
  block.gas = gas.c_str();
  block.dataType = data[0] % 8;
  block.itemCount = data[0] % 40;
  DriverRequest request;
  memset(&request, 0, sizeof request);
  request.context = &context;
  request.parameters = &block;
  request.command = (data[0] & 1) ? kCmdBlockParse : kCmdSingleParse;
  (void)ZamMain(&request);
  return 0;
}
