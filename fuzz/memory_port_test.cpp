// The port in memory that the fuzz targets put under the driver: it must
// behave as a serial line does for the exchange above it, or the targets
// would find faults that no line can cause, or miss real ones.
#include "fuzz/memory_port.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "driver/requests.h"
#include "driver/zam_main.h"
#include "fuzz/fuzz_support.h"
#include "serial/exchange.h"
#include "serial/port.h"

namespace {

class MemoryPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&context_, 0, sizeof context_);
    PortSettings settings = {9600, 8, 0, 0};
    context_.port = OpenPortHandle("ttyMEM", &settings, kLineOptionsDefault);
    ASSERT_NE(context_.port, nullptr);
  }
  void TearDown() override {
    if (memory_port::IsOpen()) PortClose(context_.port);
  }

  // Sends a request and receives one reply line as the driver does.
  bool Ask(const std::string &request, std::string *line) {
    SendCommand(&context_, request.data(), static_cast<uint16_t>(request.size()));
    char reply[kReplyBufferSize];
    if (!ReceiveReply(&context_, reply)) return false;
    *line = reply;
    return true;
  }

  ChannelContext context_;
};

TEST_F(MemoryPortTest, EachRequestReleasesTheNextAnswer) {
  memory_port::Script({"A1\r", "N03\r"});
  std::string line;
  ASSERT_TRUE(Ask(">01\r", &line));
  EXPECT_EQ(line, "A1");
  ASSERT_TRUE(Ask(">02\r", &line));
  EXPECT_EQ(line, "N03");
  EXPECT_FALSE(Ask(">03\r", &line)) << "a request beyond the script gets silence";

  const std::vector<memory_port::Exchange> &exchanges = memory_port::Exchanges();
  ASSERT_EQ(exchanges.size(), 3u);
  EXPECT_EQ(exchanges[1].written, ">02\r");
  EXPECT_EQ(exchanges[1].lines, std::vector<std::string>{"N03"});
  EXPECT_EQ(memory_port::LinesRead(), (std::vector<std::string>{"A1", "N03"}));
}

TEST_F(MemoryPortTest, WhatFollowsTheCarriageReturnIsDiscardedByTheNextRequest) {
  memory_port::Script({"A1\rstale", "A2\r"});
  std::string line;
  ASSERT_TRUE(Ask(">01\r", &line));
  EXPECT_EQ(memory_port::Exchanges()[0].taken, "A1\r") << "reading stops at the carriage return";
  ASSERT_TRUE(Ask(">02\r", &line));
  EXPECT_EQ(line, "A2");
}

TEST_F(MemoryPortTest, AnAnswerWithoutCarriageReturnTimesOutAfterItsBytes) {
  memory_port::Script({"A12"});
  std::string line;
  EXPECT_FALSE(Ask(">01\r", &line));
  EXPECT_EQ(memory_port::Exchanges()[0].taken, "A12");
  EXPECT_TRUE(memory_port::LinesRead().empty());
  EXPECT_GT(memory_port::ElapsedMs(), 0u) << "the time-out counts on the port's clock";

  uint8_t bytes[4];
  uint32_t got = 7;
  EXPECT_EQ(PortReadExact(context_.port, bytes, sizeof bytes, &got), kPortIoFailed);
  EXPECT_EQ(got, 0u);
}

TEST_F(MemoryPortTest, PausesAddToTheClockInsteadOfSleeping) {
  memory_port::Script({});
  PauseMilliseconds(100);
  PauseMilliseconds(4);
  EXPECT_EQ(memory_port::ElapsedMs(), 104u);
}

TEST_F(MemoryPortTest, OpensLikeAnExclusiveLine) {
  PortSettings settings = {9600, 8, 0, 0};
  EXPECT_EQ(OpenPortHandle("ttyMEM", &settings, kLineOptionsDefault), nullptr) << "already held";
  EXPECT_EQ(PortClose(context_.port), kPortOk);
  EXPECT_EQ(PortClose(context_.port), kPortIoFailed) << "closed twice";

  memory_port::FailNextOpen();
  EXPECT_EQ(OpenPortHandle("ttyMEM", &settings, kLineOptionsDefault), nullptr);
  EXPECT_EQ(OpenPortHandle("", &settings, kLineOptionsDefault), nullptr);
  EXPECT_EQ(OpenPortHandle("123456789012", &settings, kLineOptionsDefault), nullptr) << "no room for a terminator";
  context_.port = OpenPortHandle("ttyMEM", &settings, kLineOptionsDefault);
  EXPECT_NE(context_.port, nullptr);
}

TEST(SplitAnswers, CutsAtEveryLineFeed) {
  EXPECT_EQ(memory_port::SplitAnswers(""), std::vector<std::string>{""});
  EXPECT_EQ(memory_port::SplitAnswers("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(memory_port::SplitAnswers("A\r\n"), (std::vector<std::string>{"A\r", ""}));
}

// The frame check the exchange target applies to every request line, on the
// documented example frames.
TEST(FrameFault, AcceptsTheDocumentedFramesAndNamesWhatIsWrong) {
  struct Row {
    const char *frame;
    int32_t station;
    bool fletcher;
    const char *fault;
  };
  const Row rows[] = {
      {">05A8200FC55DA7\r", 5, true, ""},
      {">01840004E09574\r", 1, true, ""},
      {">0504C9\r", 5, false, ""},
      {">05FAB\r", 5, false, ""},
      {">05130B029D\r", 5, false, ""},
      {">05A8200FC55DA7\r", 6, true, "names another station"},
      {">05A8200FC55DA8\r", 5, true, "wrong frame sum"},
      {">05a8200FC55DA7\r", 5, true, "not upper-case hex"},
      {">05130B029D\r", 5, true, "wrong Fletcher check bytes"},
      {"05130B029D\r", 5, false, "not a frame"},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(fuzz::FrameFault(row.frame, row.station, row.fletcher), row.fault) << row.frame;
  }
}

// The whole driver over the port in memory: a DX9100 real read as the host
// sends it, with the station's reply scripted.
TEST_F(MemoryPortTest, CarriesAWholeReadThroughTheDriver) {
  for (int32_t station = 0; station <= kLastTypedStation; ++station) strcpy(context_.stationTypes[station], "DX9100");
  // N2 real 0xB064 is 100.0; the frame sum of "64B00000" is 0x19C.
  memory_port::Script({"N03\r", "A64B000009C\r"});
  float value = 0;
  ReadWriteBlock block;
  memset(&block, 0, sizeof block);
  block.gas = "001AI01HR";
  block.station = 1;
  block.element = 1217;
  block.bit = 255;
  block.dataType = kGateReal;
  block.itemCount = 1;
  block.value = &value;
  DriverRequest request = {&context_, kCmdSingleRead, 0, {}, &block};
  EXPECT_EQ(ZamMain(&request), 0);
  EXPECT_EQ(value, 100.0f);
  ASSERT_EQ(memory_port::Exchanges().size(), 2u);
  EXPECT_EQ(memory_port::Exchanges()[0].written, memory_port::Exchanges()[1].written) << "the attempt repeats";
  EXPECT_EQ(fuzz::FrameFault(memory_port::Exchanges()[0].written, 1, true), "");
}

}  // namespace
