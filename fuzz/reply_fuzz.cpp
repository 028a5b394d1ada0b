// Reply lines as they come off the line: the System 91 checks, the N2 Open
// acknowledgement test and the System 91 and N2 Open decoders, on any bytes.
#include <string.h>

#include <string>

#include "driver/requests.h"
#include "fuzz/fuzz_target.h"
#include "n2/decode.h"
#include "n2/reply_check.h"
#include "n2open/item_exchange.h"
#include "serial/exchange.h"

extern const char *const kFuzzSeeds[] = {
    "A123400008A", "A", "N03", "N", "A0041200000E7", "A1234CA", "A64B0000000", "A3008000000", "A800101000000",
    "N10", "NXY", "a12", nullptr};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The first bytes choose the decoding; the rest is the line, cut where the
  // receive step would cut it.
  if (size < 4) return 0;
  uint8_t dataType = data[0] % 8;
  static const uint16_t kTypes[] = {30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160, 170, 180};
  uint16_t type = kTypes[data[1] % 16];
  int32_t region = 1000 + data[2] % 14;
  int32_t kind = data[3] % 3 == 0 ? 84 : data[3] % 3 == 1 ? 82 : 0;
  std::string line(reinterpret_cast<const char *>(data + 4), size - 4);
  line = line.substr(0, line.find('\0'));
  if (line.size() >= kReplyBufferSize) line.resize(kReplyBufferSize - 1);

  (void)CheckAckNak(line.c_str(), data[0] & 1, "001AI01HR");
  (void)CheckReplySum(line.c_str());
  char text[kN2ErrorTextSize] = {};
  (void)N2_TestAckNak(line.c_str(), text);

  uint8_t value[32 * 4 + 8];
  memset(value, 0, sizeof value);
  static const char *const kGases[] = {"001TS01DAYS1", "001TS01START1", "001RTCLTIME", "001RTCLDATE", "001GCCNTR1"};
  ReadWriteBlock block;
  memset(&block, 0, sizeof block);
  block.gas = kGases[data[3] % 5];
  block.region = kind;
  block.bit = data[2] % 20;
  block.dataType = dataType;
  block.itemCount = 1 + data[1] % 40;
  block.value = value;
  StoreData(&block, line.c_str(), static_cast<uint16_t>(line.size()), type);

  ChannelContext context;
  memset(&context, 0, sizeof context);
  block.region = region;
  block.itemCount = 1;
  DriverRequest request;
  memset(&request, 0, sizeof request);
  request.context = &context;
  request.parameters = &block;
  (void)N2OPEN_StoreData(&request, line.c_str());
  return 0;
}
