// System 91 request framing: frame sum, Fletcher check bytes, hex text and
// the assembled request line. The first five golden frames are the worked
// requests of the System 91 protocol documentation; the others were computed
// independently of this code from the same rules.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "n2/frame.h"
#include "serial/port.h"
#include "tests/support/pty.h"

namespace {

std::vector<uint8_t> CheckOf(const std::vector<uint8_t> &message) {
  uint8_t check[2] = {0xAA, 0xAA};
  FletcherCheck(message.data(), static_cast<uint16_t>(message.size()), check);
  return {check[0], check[1]};
}

TEST(FrameSum, AddsCharacterCodesModulo256) {
  struct Row {
    std::string text;
    uint8_t sum;
  };
  const Row rows[] = {
      {"", 0x00},
      {"0", 0x30},
      {"0180105A14", 0x05},  // 517 modulo 256
      {"12340000", 0x8A},    // 394 modulo 256
      {std::string(4, '\xFF'), 0xFC},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(FrameSum(row.text.data(), static_cast<uint16_t>(row.text.size())), row.sum);
  }
}

TEST(FletcherCheck, ProducesTheCheckBytesOfTheWorkedMessages) {
  struct Row {
    std::vector<uint8_t> message;
    std::vector<uint8_t> check;
  };
  const Row rows[] = {
      {{0x01, 0x80, 0x10}, {0x5A, 0x14}},
      {{0x01, 0x83, 0xFF}, {0x71, 0x0A}},
      {{0x01, 0x84, 0x00, 0x04}, {0xE0, 0x95}},
      {{0x05, 0xA8, 0x20, 0x0F}, {0xC5, 0x5D}},
      {{0x01, 0x98, 0x01, 0x01, 0x02}, {0xF3, 0x6E}},
      // Edge cases: empty message, a zero byte, and 0xFF, where a sum of
      // exactly 255 must stay 255 (folding to 0 would give FF 00).
      {{}, {0xFF, 0x00}},
      {{0x00}, {0xFF, 0x00}},
      {{0xFF}, {0x00, 0xFF}},
      {{0xFF, 0xFF}, {0x00, 0xFF}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.message));
    EXPECT_EQ(CheckOf(row.message), row.check);
  }
}

TEST(FletcherCheck, AppendedCheckBytesBringBothSumsToZeroModulo255) {
  std::mt19937 random(20240601);
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint8_t> message(random() % (kMaxMessageBytes + 1));
    for (uint8_t &byte : message) byte = static_cast<uint8_t>(random());
    std::vector<uint8_t> all = message;
    const std::vector<uint8_t> check = CheckOf(message);
    all.insert(all.end(), check.begin(), check.end());
    unsigned s1 = 0;
    unsigned s2 = 0;
    for (uint8_t byte : all) {
      s1 = (s1 + byte) % 255;
      s2 = (s2 + s1) % 255;
    }
    SCOPED_TRACE(::testing::PrintToString(message));
    ASSERT_EQ(s1, 0u);
    ASSERT_EQ(s2, 0u);
  }
}

TEST(BytesToHex, WritesUpperCaseHighNibbleFirstWithoutTerminator) {
  const uint8_t bytes[] = {0x00, 0x0A, 0xF5, 0xFF, 0x9C};
  char text[12];
  memset(text, '#', sizeof text);
  BytesToHex(bytes, text, 5);
  EXPECT_EQ(std::string(text, sizeof text), "000AF5FF9C##");
}

TEST(BuildRequestFrame, AssemblesEveryRequestLineByteForByte) {
  struct Row {
    const char *what;
    std::vector<uint8_t> message;
    std::string frame;  // without its CR
  };
  const Row rows[] = {
      // Worked requests, station 0x01 unless stated.
      {"memory read 0x010", {0x01, 0x80, 0x10}, ">0180105A1405"},
      {"memory read 0x3FF", {0x01, 0x83, 0xFF}, ">0183FF710A31"},
      {"memory read 0x400", {0x01, 0x84, 0x00, 0x04}, ">01840004E09574"},
      {"block read station 5, 0x020, 16 items", {0x05, 0xA8, 0x20, 0x0F}, ">05A8200FC55DA7"},
      {"clock area read DATE", {0x01, 0x98, 0x01, 0x01, 0x02}, ">0198010102F36EEA"},
      // Page boundaries of the memory read: 255 and 256, 1023 and 1024.
      {"memory read 255 (page 0)", {0x01, 0x80, 0xFF}, ">0180FF7A0431"},
      {"memory read 256 (page 1)", {0x01, 0x81, 0x00}, ">0181007706FE"},
      {"memory read 1023 (page 3)", {0x01, 0x83, 0xFF}, ">0183FF710A31"},
      {"memory read 1024 (full form)", {0x01, 0x84, 0x00, 0x04}, ">01840004E09574"},
      // Block reads: 32 items, and the page boundaries.
      {"block read 32 items", {0x05, 0xA8, 0x20, 0x1F}, ">05A8201FA56DA7"},
      {"block read 255", {0x05, 0xA8, 0xFF, 0x00}, ">05A8FF00440EA7"},
      {"block read 256", {0x05, 0xA9, 0x00, 0x00}, ">05A90000401165"},
      {"block read 1023", {0x05, 0xAB, 0xFF, 0x00}, ">05ABFF003817A7"},
      {"block read 1024", {0x05, 0xAC, 0x00, 0x04, 0x00}, ">05AC00040076D3F1"},
      // Area reads: schedule TS02 START1 (offset 5), clock TIME and WDAY.
      {"schedule area read", {0x01, 0x98, 0x10, 0x05, 0x00, 0x01}, ">019810050001FE514A"},
      {"clock area read TIME", {0x01, 0x98, 0x01, 0x05, 0x02}, ">0198010502E776E3"},
      {"clock area read WDAY", {0x01, 0x98, 0x01, 0x04, 0x00}, ">0198010400EE72EA"},
      // The longest message the assembler takes.
      {"16 message bytes",
       {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F},
       ">000102030405060708090A0B0C0D0E0FDCAAAB"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    char frame[kMaxFrameChars];
    memset(frame, '#', sizeof frame);
    const uint16_t n = static_cast<uint16_t>(row.message.size());
    const uint16_t length = BuildRequestFrame(row.message.data(), n, frame);
    ASSERT_EQ(length, 2 * n + 8);
    EXPECT_EQ(std::string(frame, length), row.frame + "\r");
    EXPECT_EQ(frame[length], '\0');
  }
}

TEST(BuildRequestFrame, FrameSumLeavesOutTheStartCharacter) {
  const uint8_t message[] = {0x01, 0x80, 0x10};
  char frame[kMaxFrameChars];
  const uint16_t length = BuildRequestFrame(message, 3, frame);
  // Positions 1 .. 4 + 2n are summed; ">" is not.
  const uint8_t sum = FrameSum(frame + 1, static_cast<uint16_t>(length - 4));
  char digits[2];
  BytesToHex(&sum, digits, 1);
  EXPECT_EQ(frame[length - 3], digits[0]);
  EXPECT_EQ(frame[length - 2], digits[1]);
}

TEST(BuildRequestFrame, RefusesAMessageLongerThanTheFrameBufferHolds) {
  uint8_t message[kMaxMessageBytes + 1] = {};
  char frame[kMaxFrameChars];
  memset(frame, '#', sizeof frame);
  EXPECT_EQ(BuildRequestFrame(message, kMaxMessageBytes + 1, frame), 0);
  EXPECT_EQ(frame[0], '\0');
}

// SendRequestFrame over a real pseudo-terminal: exactly the frame goes out.
class SendRequestFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const PortSettings settings = {9600, 8, 0, 0};
    context_ = std::make_unique<ChannelContext>();
    context_->port = OpenPortHandle(pty_.portName().c_str(), &settings, kLineOptionsDefault);
    ASSERT_NE(context_->port, nullptr);
  }
  void TearDown() override {
    if (context_ && context_->port != nullptr) PortClose(context_->port);
  }

  PtyPair pty_;
  std::unique_ptr<ChannelContext> context_;
};

TEST_F(SendRequestFrameTest, WritesTheAssembledFrameWithItsCarriageReturn) {
  const uint8_t message[] = {0x01, 0x84, 0x00, 0x04};
  EXPECT_TRUE(SendRequestFrame(context_.get(), message, 4));
  EXPECT_EQ(pty_.ReadUntil('\r', 2000), ">01840004E09574\r");
  // Nothing follows the CR: the terminating NUL is not sent.
  EXPECT_EQ(pty_.Drain(100), "");
}

TEST_F(SendRequestFrameTest, SendsNothingForAMessageTooLongToFrame) {
  uint8_t message[kMaxMessageBytes + 1] = {};
  EXPECT_FALSE(SendRequestFrame(context_.get(), message, kMaxMessageBytes + 1));
  EXPECT_EQ(pty_.Drain(200), "");
}

}  // namespace
