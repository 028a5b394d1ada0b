// Cost of the pure parts of an exchange: parsing a gate address (over every
// point of every table, and at the slowest row), encoding and decoding N2
// reals, building a request frame, checking and decoding a reply.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "bench/counter_names.h"
#include "driver/station_types.h"
#include "n2/decode.h"
#include "n2/encode.h"
#include "n2/frame.h"
#include "n2/point_tables.h"
#include "n2/reply_check.h"
#include "n2/tag_parse.h"

namespace {

// ---- gate parsing ---------------------------------------------------------------

// One parse request of every point of every table, as a host sends command 3:
// a DX9100 at 1, an XT9100 at 10, a TC9100 at 20, each point with the data
// type it accepts.
class EveryPoint {
 public:
  EveryPoint() {
    memset(&context_, 0, sizeof context_);
    ResetStationTypes(&context_);
    strcpy(context_.stationTypes[10], kTypeXT9100);
    strcpy(context_.stationTypes[20], kTypeTC9100);
    for (const FamilyTable &family : kFamilies) {
      const char *station = strcmp(family.name, kTypeXT9100) == 0   ? "010"
                            : strcmp(family.name, kTypeTC9100) == 0 ? "020"
                                                                    : "001";
      for (int m = 0; m < family.moduleCount; ++m) {
        const ModuleEntry &module = family.modules[m];
        for (int p = 0; p < module.pointCount; ++p) {
          gases_.push_back(std::string(station) + module.name + module.points[p].mnemonic);
          types_.push_back(DataTypeOf(module.points[p].type));
        }
      }
    }
    blocks_.resize(gases_.size());
    requests_.resize(gases_.size());
    for (size_t i = 0; i < gases_.size(); ++i) {
      memset(&blocks_[i], 0, sizeof blocks_[i]);
      blocks_[i].gas = gases_[i].c_str();
      blocks_[i].dataType = types_[i];
      memset(&requests_[i], 0, sizeof requests_[i]);
      requests_[i].context = &context_;
      requests_[i].parameters = &blocks_[i];
    }
  }

  size_t size() const { return gases_.size(); }
  const std::string &gas(size_t i) const { return gases_[i]; }
  DriverRequest *request(size_t i) { return &requests_[i]; }

 private:
  static int32_t DataTypeOf(uint16_t type) {
    switch (type) {
      case kTypeN2Real: return 3;
      case kTypeBit8:
      case kTypeBit16: return 6;
      case kTypeLong: return 5;
      default: return 0;
    }
  }

  ChannelContext context_;
  std::vector<std::string> gases_;
  std::vector<int32_t> types_;
  std::vector<ParseBlock> blocks_;
  std::vector<DriverRequest> requests_;
};

EveryPoint &Points() {
  static EveryPoint points;
  return points;
}

void BM_ParseEveryPoint(benchmark::State &state) {
  EveryPoint &points = Points();
  for (auto _ : state) {
    for (size_t i = 0; i < points.size(); ++i) {
      if (SingleParse(points.request(i)) != 0) state.SkipWithError(("refused " + points.gas(i)).c_str());
    }
  }
  // Seconds per parse, averaged over every row.
  state.counters[bench::kPerParse] = benchmark::Counter(static_cast<double>(points.size()),
                                                        benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
  state.SetLabel(std::to_string(points.size()) + " points");
}
BENCHMARK(BM_ParseEveryPoint);

// The row whose parse takes longest. Every row is timed in short bursts
// (the fastest of five, so that an interruption does not count); the eight
// slowest are timed again in long runs, and the slowest of those is the row.
size_t SlowestRow() {
  static const size_t slowest = [] {
    EveryPoint &points = Points();
    auto fastest = [&points](size_t row, int parses, int samples) {
      double best = 1e9;
      for (int sample = 0; sample < samples; ++sample) {
        auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < parses; ++k) benchmark::DoNotOptimize(SingleParse(points.request(row)));
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      }
      return best / parses;
    };
    std::vector<std::pair<double, size_t>> times;
    for (size_t i = 0; i < points.size(); ++i) times.emplace_back(fastest(i, 64, 5), i);
    constexpr size_t kCandidates = 8;
    std::partial_sort(times.begin(), times.begin() + kCandidates, times.end(), std::greater<>());
    size_t worst = times[0].second;
    double worstTime = 0;
    for (size_t c = 0; c < kCandidates; ++c) {
      const double time = fastest(times[c].second, 4096, 5);
      if (time > worstTime) {
        worstTime = time;
        worst = times[c].second;
      }
    }
    return worst;
  }();
  return slowest;
}

void BM_ParseWorstRow(benchmark::State &state) {
  EveryPoint &points = Points();
  const size_t row = SlowestRow();
  for (auto _ : state) benchmark::DoNotOptimize(SingleParse(points.request(row)));
  state.SetLabel(points.gas(row));
}
BENCHMARK(BM_ParseWorstRow);

// ---- N2 reals ------------------------------------------------------------------------

// Values of every size the encoder meets, so that no one branch is learned.
constexpr float kValues[] = {21.7f,  -2.5f,   0.05f,   100.25f, 4095.5f, 32750.0f, 0.0f,   1.0f,
                             -17.3f, 512.75f, 0.0001f, 8.125f,  -900.9f, 3.14159f, 66.6f,  12345.6f};

// The host's level setting for the encoder's level-8 trace line (QORPRO_LEVEL),
// held for one benchmark and put back afterwards.
class TraceLevel {
 public:
  explicit TraceLevel(const char *level) {
    if (const char *previous = getenv("QORPRO_LEVEL")) previous_ = previous;
    if (level != nullptr) {
      setenv("QORPRO_LEVEL", level, 1);
    } else {
      unsetenv("QORPRO_LEVEL");
    }
  }
  ~TraceLevel() {
    if (previous_.empty()) {
      unsetenv("QORPRO_LEVEL");
    } else {
      setenv("QORPRO_LEVEL", previous_.c_str(), 1);
    }
  }

 private:
  std::string previous_;
};

void Encode(benchmark::State &state) {
  uint16_t word = 0;
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(RealToN2Float(kValues[i], &word));
    i = (i + 1) % (sizeof kValues / sizeof kValues[0]);
  }
}

// The host drops level 8, as a host does that logs the driver's messages
// but not its traces.
void BM_EncodeN2Real(benchmark::State &state) {
  TraceLevel level("32");
  Encode(state);
}
BENCHMARK(BM_EncodeN2Real);

// The trace line written for every value (to /dev/null): the cost of the
// host's file access, shown for reference.
void BM_EncodeN2RealTraceWritten(benchmark::State &state) {
  TraceLevel level(nullptr);
  setenv("QORPRO_LOG", "/dev/null", 1);
  Encode(state);
}
BENCHMARK(BM_EncodeN2RealTraceWritten);

void BM_DecodeN2Real(benchmark::State &state) {
  static const char *const kItems[] = {"6C55", "64B0", "64B8", "03A0", "0004", "FF07", "FFF7", "0008"};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(N2FloatToReal(kItems[i]));
    i = (i + 1) % 8;
  }
}
BENCHMARK(BM_DecodeN2Real);

// ---- frames and replies ------------------------------------------------------------

void BM_BuildMemoryReadFrame(benchmark::State &state) {
  const uint8_t message[] = {0x01, 0x84, 0xC1, 0x04};
  char frame[kMaxFrameChars];
  for (auto _ : state) {
    benchmark::DoNotOptimize(BuildRequestFrame(message, sizeof message, frame));
    benchmark::DoNotOptimize(frame);
  }
}
BENCHMARK(BM_BuildMemoryReadFrame);

// What a single read does with its reply: the acknowledgement, the frame sum.
void BM_CheckSingleReadReply(benchmark::State &state) {
  const char *reply = "A407652F6B4";
  for (auto _ : state) {
    benchmark::DoNotOptimize(CheckAckNak(reply, 0, "001AI01HR"));
    benchmark::DoNotOptimize(CheckReplySum(reply));
  }
}
BENCHMARK(BM_CheckSingleReadReply);

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

}  // namespace
