// An N2 Open station of the simulator: the initialisation, item reads in the
// reply layout of every region, writes that override, releases, and refusals.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/n2open_station.h"
#include "sim/simulator.h"
#include "sim/wire.h"

using n2sim::Bytes;

namespace {

constexpr double kT0 = 1700000000.0;

class SimN2Open : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.SetTimeSource([this] { return now_; });
    std::string error;
    ASSERT_TRUE(sim_.LoadPlant(
                    "station 5 N2OPEN objects=16 dynamics=off\n"
                    "value 5 AI 1 10.0\n"
                    "value 5 BI 1 0\n"
                    "value 5 BI 2 1\n"
                    "value 5 AO 12 21.5\n"
                    "value 5 AD 3 4660\n"
                    "value 5 BD 4 200\n"
                    "station 6 N2OPEN objects=2 init=optional\n",
                    &error))
        << error;
  }

  std::string Ask(const Bytes &message) { return AskLine(n2sim::N2OpenRequest(message)); }
  std::string AskLine(const std::string &line) {
    const n2sim::ExchangeRecord record = sim_.Exchange(line);
    return record.delivery.silent ? "(silent)" : record.delivery.line;
  }
  void Identify() {
    ASSERT_EQ(AskLine(">0504C9"), "A");
    ASSERT_EQ(AskLine(">05FAB"), "A");
  }
  // Read of object element (1-based) of region 1..7.
  std::string Read(int region, int element) {
    return Ask({0x05, static_cast<uint8_t>(0x10 + region), static_cast<uint8_t>(element - 1), 0x02});
  }
  std::string Float(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    char text[12];
    snprintf(text, sizeof text, "%08X", bits);
    return text;
  }

  n2sim::Simulator sim_;
  double now_ = kT0;
};

TEST_F(SimN2Open, TheTwoInitialisationFramesAreAcknowledged) {
  EXPECT_EQ(AskLine(">0504C9"), "A");
  EXPECT_EQ(AskLine(">05FAB"), "A");
  EXPECT_EQ(sim_.Count("n2open-identify"), 1u);
  EXPECT_EQ(sim_.Count("n2open-status"), 1u);
}

TEST_F(SimN2Open, ItemCommandsBeforeIdentifyGetDeviceReset) {
  EXPECT_EQ(Read(1, 1), "N00");
  EXPECT_EQ(Ask({0x05, 0x72, 0x03, 0x00, 0x41, 0x20, 0x00, 0x00}), "N00");
  EXPECT_EQ(AskLine(">05FAB"), "A");  // the status poll alone does not identify
  EXPECT_EQ(Read(1, 1), "N00");
  EXPECT_EQ(AskLine(">0504C9"), "A");
  EXPECT_EQ(Read(1, 1), n2sim::N2OpenDataReply("0041200000"));
  // A station that does not require it answers at once.
  EXPECT_EQ(Ask({0x06, 0x13, 0x00, 0x02}).substr(0, 3), "A00");
}

TEST_F(SimN2Open, ReadsAnswerInTheLayoutOfTheirRegion) {
  Identify();
  struct {
    int region, element;
    std::string data;
  } cases[] = {
      {1, 1, "00" + Float(10.0f)},   // AI: status, float most significant byte first
      {2, 2, "40"},                  // BI on: bit 6
      {2, 1, "00"},                  // BI off
      {3, 12, "00" + Float(21.5f)},  // AO
      {4, 1, "00"},                  // BO off
      {5, 2, "00" + Float(3.0f)},    // AF
      {6, 3, "1234"},                // AD: the value alone, most significant byte first
      {7, 4, "00C8"},                // BD: status, byte
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Read(c.region, c.element), n2sim::N2OpenDataReply(c.data)) << c.region << " " << c.element;
  }
}

TEST_F(SimN2Open, TheWorkedReadFrameReachesObjectTwelveOfAo) {
  Identify();
  EXPECT_EQ(AskLine(">05130B029D"), n2sim::N2OpenDataReply("00" + Float(21.5f)));
}

TEST_F(SimN2Open, AWriteOverridesTheValueAndSetsTheFlagUntilReleased) {
  Identify();
  EXPECT_EQ(Ask({0x05, 0x72, 0x03, 0x0B, 0x41, 0x20, 0x00, 0x00}), "A");  // AO12 := 10.0
  EXPECT_EQ(Read(3, 12), n2sim::N2OpenDataReply("02" + Float(10.0f)));
  EXPECT_EQ(AskLine(">0573030BA4"), "A");  // release AO12, the worked frame
  EXPECT_EQ(Read(3, 12), n2sim::N2OpenDataReply("00" + Float(21.5f)));
  EXPECT_EQ(sim_.Count("n2open-write"), 1u);
  EXPECT_EQ(sim_.Count("n2open-release"), 1u);
}

TEST_F(SimN2Open, ABinaryOutputWriteOfANonzeroByteTurnsItOn) {
  Identify();
  EXPECT_EQ(Ask({0x05, 0x72, 0x04, 0x00, 0x07}), "A");
  EXPECT_EQ(Read(4, 1), n2sim::N2OpenDataReply("42"));  // on and overridden
  EXPECT_EQ(Ask({0x05, 0x72, 0x04, 0x00, 0x00}), "A");
  EXPECT_EQ(Read(4, 1), n2sim::N2OpenDataReply("02"));  // off, still overridden
  EXPECT_EQ(Ask({0x05, 0x73, 0x04, 0x00}), "A");
  EXPECT_EQ(Read(4, 1), n2sim::N2OpenDataReply("00"));
}

TEST_F(SimN2Open, WordAndByteRegionsTakeTheirWidths) {
  Identify();
  EXPECT_EQ(AskLine(">05720602123460"), "A");  // AD3 := 0x1234, the worked frame
  EXPECT_EQ(Read(6, 3), n2sim::N2OpenDataReply("1234"));
  EXPECT_EQ(Ask({0x05, 0x72, 0x07, 0x03, 0x7F}), "A");  // BD4 := 127
  EXPECT_EQ(Read(7, 4), n2sim::N2OpenDataReply("027F"));
  EXPECT_EQ(Ask({0x05, 0x72, 0x05, 0x00, 0xC0, 0x20, 0x00, 0x00}), "A");  // AF1 := -2.5
  EXPECT_EQ(Read(5, 1), n2sim::N2OpenDataReply("02" + Float(-2.5f)));
}

TEST_F(SimN2Open, BadRequestsAreRefusedWithTheirCode) {
  Identify();
  std::string badSum = n2sim::N2OpenRequest({0x05, 0x11, 0x00, 0x02});
  badSum.back() = badSum.back() == '0' ? '1' : '0';
  auto withSum = [](const std::string &body) { return ">" + body + n2sim::HexByte(n2sim::CharSum(body)); };
  struct {
    std::string line;
    const char *reply;
  } cases[] = {
      {badSum, "N02"},
      {withSum("0511000"), "N05"},                                              // odd hex
      {withSum("05110002" "x"), "N05"},                                         // not hex
      {withSum("05"), "N05"},                                                   // too short
      {n2sim::N2OpenRequest({0x05, 0x30, 0x00, 0x02}), "N01"},                  // unknown command
      {n2sim::N2OpenRequest({0x05, 0x10, 0x00, 0x02}), "N01"},                  // region 0
      {n2sim::N2OpenRequest({0x05, 0x18, 0x00, 0x02}), "N01"},                  // region 8
      {n2sim::N2OpenRequest({0x05, 0x11, 0x10, 0x02}), "N10"},                  // object 17
      {n2sim::N2OpenRequest({0x05, 0x11, 0x00, 0x01}), "N05"},                  // unknown attribute
      {n2sim::N2OpenRequest({0x05, 0x11, 0x00}), "N05"},                        // attribute missing
      {n2sim::N2OpenRequest({0x05, 0x72, 0x01, 0x00, 0, 0, 0, 0}), "N11"},      // AI cannot be written
      {n2sim::N2OpenRequest({0x05, 0x72, 0x02, 0x00, 0x01}), "N11"},            // nor BI
      {n2sim::N2OpenRequest({0x05, 0x73, 0x01, 0x00}), "N11"},                  // inputs have no override
      {n2sim::N2OpenRequest({0x05, 0x72, 0x03, 0x00, 0x41, 0x20}), "N05"},      // short float
      {n2sim::N2OpenRequest({0x05, 0x72, 0x06, 0x00, 0x12}), "N05"},            // AD needs two bytes
      {n2sim::N2OpenRequest({0x05, 0x72, 0x03, 0x00, 0x7F, 0xC0, 0, 0}), "N05"},  // NaN
      {n2sim::N2OpenRequest({0x05, 0x72, 0x08, 0x00, 0x01}), "N10"},            // region 8
      {n2sim::N2OpenRequest({0x05, 0x73, 0x03, 0x00, 0x00}), "N05"},            // release with data
      {n2sim::N2OpenRequest({0x05, 0x04, 0x00}), "N05"},                        // identify with data
  };
  for (const auto &c : cases) EXPECT_EQ(AskLine(c.line), c.reply) << c.line;
  EXPECT_EQ(Read(3, 1), n2sim::N2OpenDataReply("00" + Float(10.0f)));  // AO1 untouched
}

TEST_F(SimN2Open, AnalogInputsDriftWhenDynamicsAreOn) {
  n2sim::Simulator sim;
  double now = kT0;
  sim.SetTimeSource([&now] { return now; });
  std::string error;
  ASSERT_TRUE(sim.LoadPlant("station 5 N2OPEN init=optional", &error)) << error;
  const std::string first = sim.Handle(n2sim::N2OpenRequest({0x05, 0x11, 0x00, 0x02}));
  now += 7;
  EXPECT_NE(sim.Handle(n2sim::N2OpenRequest({0x05, 0x11, 0x00, 0x02})), first);
  sim.WithN2Open(5, [&](n2sim::N2OpenStation *station) {
    ASSERT_NE(station, nullptr);
    EXPECT_NEAR(station->ValueOf(n2sim::kAI, 1, now), 20.5, 0.5);
  });
}

}  // namespace
