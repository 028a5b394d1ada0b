// What the fuzz targets rely on. The port in memory must behave as a serial
// line does for the exchange above it, and the targets' checks must tell a
// good line or frame from a bad one: otherwise the targets would report
// faults that no line can cause, or miss real ones.
#include "fuzz/fuzz_support.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "driver/requests.h"
#include "driver/station_types.h"
#include "driver/zam_main.h"
#include "fuzz/memory_port.h"
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

TEST(ReplySumCorrect, ChecksTheSumOfTheCharactersBetweenTheFirstAndTheLastTwo) {
  struct Row {
    const char *line;
    bool correct;
  };
  const Row rows[] = {
      {"A123400008A", true},    // 394 = 0x18A
      {"A0041200000E7", true},  // the N2 Open float reply of 10.0
      {"A1234CA", true},       {"A123400008B", false},
      {"A123400008a", false},  // lower-case digits
      {"A00", true},           // nothing summed
      {"A0", false},           {"", false},
  };
  for (const Row &row : rows) EXPECT_EQ(fuzz::ReplySumCorrect(row.line), row.correct) << row.line;
}

TEST(GuardedBuffer, TellsWritesIntoTheBufferFromWritesBehindIt) {
  const uint8_t initial[4] = {1, 2, 3, 4};
  fuzz::GuardedBuffer buffer(8, initial, sizeof initial);
  EXPECT_TRUE(buffer.Unchanged());
  EXPECT_EQ(buffer.At<uint8_t>(3), 4);
  static_cast<uint8_t *>(buffer.data())[7] = 0;
  EXPECT_FALSE(buffer.Unchanged());
  EXPECT_TRUE(buffer.GuardIntact());
  static_cast<uint8_t *>(buffer.data())[8] = 0;
  EXPECT_FALSE(buffer.GuardIntact());
}

TEST(Input, GivesZerosOnceExhaustedAndCutsLinesAtLineFeeds) {
  const uint8_t bytes[] = {0x34, 0x12, 'a', 'b', '\n', 'c'};
  fuzz::Input input(bytes, sizeof bytes);
  EXPECT_EQ(input.Int16(), 0x1234);
  EXPECT_EQ(input.Line(), "ab");
  EXPECT_EQ(input.Rest(), "c");
  EXPECT_EQ(input.Byte(), 0);
  EXPECT_EQ(input.Line(), "");
}

TEST(SetStationSlot, FillsTheFourFamiliesAndFourBrokenSlots) {
  ChannelContext context;
  memset(&context, 0, sizeof context);
  const char *const names[] = {"DX9100", "XT9100", "TC9100", "N2OPEN"};
  for (uint8_t choice = 0; choice < 4; ++choice) {
    fuzz::SetStationSlot(&context, 7, choice);
    EXPECT_STREQ(StationTypeOf(&context, 7), names[choice]);
  }
  fuzz::SetStationSlot(&context, 7, 4);
  EXPECT_STREQ(StationTypeOf(&context, 7), "") << "unterminated";
  fuzz::SetStationSlot(&context, 7, 6);
  EXPECT_STREQ(StationTypeOf(&context, 7), "n2open");
  fuzz::SetStationSlot(&context, 7, 7);
  EXPECT_STREQ(StationTypeOf(&context, 7), "DX9100");
  EXPECT_EQ(context.stationTypes[7][7], 'X') << "junk behind the name";
  fuzz::SetStationSlot(&context, 255, 3);  // no slot: left alone
  fuzz::SetStationSlot(&context, -1, 3);
}

TEST(GasStation, ReadsThreeLeadingDigits) {
  EXPECT_EQ(fuzz::GasStation("005AO012"), 5);
  EXPECT_EQ(fuzz::GasStation("255GCDI1"), 255);
  EXPECT_EQ(fuzz::GasStation("05"), -1);
  EXPECT_EQ(fuzz::GasStation("0A5GCDI1"), -1);
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
