// Cost of the pure parts of an exchange: building a request frame, checking
// and decoding a reply, encoding a value, parsing a gate address.
#include <benchmark/benchmark.h>
#include <string.h>

#include <string>

#include "driver/station_types.h"
#include "n2/decode.h"
#include "n2/encode.h"
#include "n2/frame.h"
#include "n2/reply_check.h"
#include "n2/tag_parse.h"

namespace {

void BM_BuildMemoryReadFrame(benchmark::State &state) {
  const uint8_t message[] = {0x01, 0x84, 0xC1, 0x04};
  char frame[kMaxFrameChars];
  for (auto _ : state) {
    benchmark::DoNotOptimize(BuildRequestFrame(message, sizeof message, frame));
  }
}
BENCHMARK(BM_BuildMemoryReadFrame);

void BM_CheckReplySumOfABlockReply(benchmark::State &state) {
  // A reply of 32 two-byte items.
  std::string body(128, '7');
  body += "0000";
  unsigned sum = 0;
  for (unsigned char c : body) sum += c;
  char hex[3];
  snprintf(hex, sizeof hex, "%02X", sum & 0xFF);
  std::string line = "A" + body + hex;
  for (auto _ : state) benchmark::DoNotOptimize(CheckReplySum(line.c_str()));
}
BENCHMARK(BM_CheckReplySumOfABlockReply);

void BM_DecodeN2Real(benchmark::State &state) {
  for (auto _ : state) benchmark::DoNotOptimize(N2FloatToReal("6C55"));
}
BENCHMARK(BM_DecodeN2Real);

void BM_EncodeN2Real(benchmark::State &state) {
  uint16_t word = 0;
  setenv("QORPRO_LOG", "/dev/null", 1);
  for (auto _ : state) benchmark::DoNotOptimize(RealToN2Float(21.7f, &word));
}
BENCHMARK(BM_EncodeN2Real);

void BM_StoreBlockOf32Reals(benchmark::State &state) {
  std::string data;
  for (int i = 0; i < 32; ++i) data += "64B0";
  float values[32];
  ReadWriteBlock block;
  memset(&block, 0, sizeof block);
  block.gas = "001PM01LSP";
  block.dataType = 3;
  block.itemCount = 32;
  block.value = values;
  for (auto _ : state) {
    StoreData(&block, data.c_str(), static_cast<uint16_t>(data.size()), 30);
    benchmark::DoNotOptimize(values[31]);
  }
}
BENCHMARK(BM_StoreBlockOf32Reals);

// The parse walks the module table and the point table linearly: the last
// point of the last PM module is close to the worst case.
void BM_ParseGate(benchmark::State &state) {
  static const char *const kGases[] = {"001GCDI1", "001PM12NCM8", "020TCGCE56S7"};
  const char *gas = kGases[state.range(0)];
  ChannelContext context;
  memset(&context, 0, sizeof context);
  ResetStationTypes(&context);
  strcpy(context.stationTypes[20], kTypeTC9100);
  ParseBlock block;
  memset(&block, 0, sizeof block);
  block.gas = gas;
  block.dataType = strstr(gas, "DI") != nullptr ? 6 : (strstr(gas, "NCM") != nullptr ? 3 : 0);
  DriverRequest request;
  memset(&request, 0, sizeof request);
  request.context = &context;
  request.parameters = &block;
  for (auto _ : state) benchmark::DoNotOptimize(SingleParse(&request));
  state.SetLabel(gas);
}
BENCHMARK(BM_ParseGate)->DenseRange(0, 2);

}  // namespace
