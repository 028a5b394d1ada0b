// The simulator's own wire primitives against the protocol's worked examples:
// if these hold, the simulator judges the driver's frames by an independent
// reading of the protocol.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/wire.h"

using n2sim::Bytes;

namespace {

struct FrameCase {
  Bytes message;
  uint8_t c0, c1;
  const char *frame;
};

// The worked request frames of the N2 protocol (reads, writes, area access).
const FrameCase kSystem91Frames[] = {
    {{0x01, 0x80, 0x10}, 0x5A, 0x14, ">0180105A1405"},
    {{0x01, 0x83, 0xFF}, 0x71, 0x0A, ">0183FF710A31"},
    {{0x01, 0x84, 0x00, 0x04}, 0xE0, 0x95, ">01840004E09574"},
    {{0x05, 0xA8, 0x20, 0x0F}, 0xC5, 0x5D, ">05A8200FC55DA7"},
    {{0x01, 0x98, 0x01, 0x01, 0x02}, 0xF3, 0x6E, ">0198010102F36EEA"},
    {{0x01, 0xC0, 0x22, 0x00, 0x14}, 0x85, 0x82, ">01C02200148582D4"},
    {{0x01, 0xD8, 0x10, 0x05, 0x00, 0x00, 0x30, 0x07}, 0x03, 0xD6, ">01D810050000300703D60A"},
    {{0x01, 0xD8, 0x01, 0x05, 0x02, 0x12, 0x34, 0x56}, 0x6F, 0x12, ">01D80105021234566F1219"},
};

TEST(SimWire, FletcherCheckBytesMatchTheWorkedFrames) {
  for (const FrameCase &c : kSystem91Frames) {
    uint8_t check[2];
    n2sim::FletcherBytes(c.message.data(), c.message.size(), check);
    EXPECT_EQ(check[0], c.c0) << c.frame;
    EXPECT_EQ(check[1], c.c1) << c.frame;
    EXPECT_EQ(n2sim::System91Request(c.message), c.frame);
  }
}

TEST(SimWire, FletcherFoldsOnlySumsAbove255) {
  struct {
    Bytes message;
    uint8_t c0, c1;
  } cases[] = {{{}, 0xFF, 0x00}, {{0x00}, 0xFF, 0x00}, {{0xFF}, 0x00, 0xFF}};
  for (const auto &c : cases) {
    uint8_t check[2];
    n2sim::FletcherBytes(c.message.data(), c.message.size(), check);
    EXPECT_EQ(check[0], c.c0);
    EXPECT_EQ(check[1], c.c1);
  }
}

TEST(SimWire, N2OpenRequestsMatchTheWorkedFrames) {
  EXPECT_EQ(n2sim::N2OpenRequest({0x05, 0x04}), ">0504C9");
  EXPECT_EQ(n2sim::N2OpenRequest({0x05, 0x13, 0x0B, 0x02}), ">05130B029D");
  EXPECT_EQ(n2sim::N2OpenRequest({0x05, 0x72, 0x06, 0x02, 0x12, 0x34}), ">05720602123460");
  EXPECT_EQ(n2sim::N2OpenRequest({0x05, 0x73, 0x03, 0x0B}), ">0573030BA4");
}

TEST(SimWire, FrameSumIsThePlainByteSumOfTheCharacters) {
  EXPECT_EQ(n2sim::CharSum("0180105A14"), 0x05);  // 517 modulo 256
  EXPECT_EQ(n2sim::CharSum("12340000"), 0x8A);
  EXPECT_EQ(n2sim::CharSum(""), 0x00);
}

TEST(SimWire, ParseHexTakesOnlyEvenUpperCaseHex) {
  Bytes bytes;
  EXPECT_TRUE(n2sim::ParseHex("00FFA5", &bytes));
  EXPECT_EQ(bytes, (Bytes{0x00, 0xFF, 0xA5}));
  EXPECT_TRUE(n2sim::ParseHex("", &bytes));
  EXPECT_TRUE(bytes.empty());
  for (const char *bad : {"ff", "0", "0G", "1 ", "A-"}) EXPECT_FALSE(n2sim::ParseHex(bad, &bytes)) << bad;
}

TEST(SimWire, N2RealDecodesEveryFieldOfTheItem) {
  struct {
    uint16_t item;
    double value;
  } cases[] = {{0xB064, 100.0}, {0xB864, -100.0}, {0xA003, 1.5},     {0x0400, 0.5},
               {0x07FF, 0.99951171875}, {0xF7FF, 32752.0}, {0x0000, 0.0}};
  for (const auto &c : cases) EXPECT_EQ(n2sim::DecodeN2Real(c.item), c.value) << std::hex << c.item;
  EXPECT_TRUE(std::signbit(n2sim::DecodeN2Real(0x0800)));
}

TEST(SimWire, N2RealEncodesExactValuesWithTheSmallestExponent) {
  struct {
    double value;
    uint16_t item;
  } cases[] = {{0.0, 0x0000},    {0.5, 0x0400},    {1.0, 0x1400},    {-1.0, 0x1C00},
               {-2.5, 0x2D00},   {100.25, 0x7644}, {2048.0, 0xC400}, {32752.0, 0xF7FF}};
  for (const auto &c : cases) EXPECT_EQ(n2sim::EncodeN2Real(c.value), c.item) << c.value;
}

TEST(SimWire, N2RealRoundTripKeepsElevenSignificantBits) {
  for (double v : {21.7, -0.05, 0.0001, 1234.5678, 30000.0, -32000.0, 0.999}) {
    const double back = n2sim::DecodeN2Real(n2sim::EncodeN2Real(v));
    EXPECT_NEAR(back, v, std::fabs(v) / 2048 + 1.0 / 4096) << v;
  }
  EXPECT_EQ(n2sim::EncodeN2Real(1e9), 0xF7FF);  // held at the largest magnitude
  EXPECT_EQ(n2sim::EncodeN2Real(std::nan("")), 0x0000);
}

TEST(SimWire, DataReplyCarriesCheckBytesOfTheDataAndTheFrameSum) {
  const std::string reply = n2sim::System91DataReply("1234");
  ASSERT_EQ(reply.size(), 11u);
  EXPECT_EQ(reply.substr(0, 5), "A1234");
  uint8_t check[2];
  const uint8_t data[] = {0x12, 0x34};
  n2sim::FletcherBytes(data, 2, check);
  EXPECT_EQ(reply.substr(5, 4), n2sim::HexByte(check[0]) + n2sim::HexByte(check[1]));
  EXPECT_EQ(reply.substr(9), n2sim::HexByte(n2sim::CharSum(reply.substr(1, 8))));
}

TEST(SimWire, N2OpenDataReplyMatchesTheWorkedReplies) {
  EXPECT_EQ(n2sim::N2OpenDataReply("0041200000"), "A0041200000E7");
  EXPECT_EQ(n2sim::N2OpenDataReply("1234"), "A1234CA");
}

TEST(SimWire, NakReplyHasTwoDecimalDigits) {
  EXPECT_EQ(n2sim::NakReply(0), "N00");
  EXPECT_EQ(n2sim::NakReply(5), "N05");
  EXPECT_EQ(n2sim::NakReply(12), "N12");
}

}  // namespace
