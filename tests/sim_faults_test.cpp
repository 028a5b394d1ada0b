// Fault injection by script and by probability, per station and bus-wide; the
// reset that restarts a station; and the line pacer's absolute deadlines.
#include <gtest/gtest.h>

#include "sim/faults.h"
#include "sim/n2open_station.h"
#include "sim/pacing.h"
#include "sim/simulator.h"
#include "sim/wire.h"

using n2sim::Delivery;
using n2sim::FaultBit;
using n2sim::FaultKind;

namespace {

const std::string kRead = n2sim::System91Request({0x01, 0x80, 0x22});  // GC ACO1
const std::string kOtherRead = n2sim::System91Request({0x02, 0x80, 0x22});
const std::string kGoodReply = n2sim::System91DataReply("0016");

class SimFaults : public ::testing::Test {
 protected:
  void Load(const std::string &extra) {
    std::string error;
    ASSERT_TRUE(sim_.LoadPlant("station 1 DX9100 dynamics=off\nvalue 1 GC ACO1 1.5\n"
                               "station 2 DX9100 dynamics=off\nvalue 2 GC ACO1 1.5\n" + extra,
                               &error))
        << error;
  }
  Delivery Send(const std::string &line = kRead) { return sim_.Exchange(line).delivery; }

  n2sim::Simulator sim_;
};

TEST_F(SimFaults, AScriptPlaysOneStepPerExchangeAndThenStops) {
  Load("fault 1 nak 0 code=3\nscript 1 silence nak badsum ok cut\n");
  EXPECT_TRUE(Send().silent);
  EXPECT_EQ(Send().line, "N03");
  const Delivery bad = Send();
  EXPECT_EQ(bad.line.substr(0, bad.line.size() - 2), kGoodReply.substr(0, kGoodReply.size() - 2));
  EXPECT_NE(bad.line, kGoodReply);
  EXPECT_EQ(Send().Wire(), kGoodReply + "\r");
  EXPECT_EQ(Send().Wire(), kGoodReply.substr(0, kGoodReply.size() / 2));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Send().Wire(), kGoodReply + "\r");
  EXPECT_EQ(sim_.Count("fault-silence"), 1u);
  EXPECT_EQ(sim_.Count("fault-cut"), 1u);
}

TEST_F(SimFaults, ARepeatingScriptStartsOver) {
  Load("script 1 repeat ok silence\n");
  for (int round = 0; round < 3; ++round) {
    EXPECT_FALSE(Send().silent) << round;
    EXPECT_TRUE(Send().silent) << round;
  }
}

TEST_F(SimFaults, AStationScriptCountsOnlyThatStationsExchanges) {
  Load("script 1 silence silence\n");
  EXPECT_FALSE(Send(kOtherRead).silent);
  EXPECT_TRUE(Send().silent);
  EXPECT_FALSE(Send(kOtherRead).silent);
  EXPECT_TRUE(Send().silent);
  EXPECT_FALSE(Send().silent);
}

TEST_F(SimFaults, AScriptSetWhileServingStartsWithTheNextExchangeAndKeepsTheStationsParameters) {
  Load("fault 1 nak 0 code=7\nscript 1 repeat silence\n");
  EXPECT_TRUE(Send().silent);
  ASSERT_TRUE(sim_.SetScript(1, {FaultBit(FaultKind::kNak), 0}));
  EXPECT_EQ(Send().line, "N07");
  EXPECT_EQ(Send().Wire(), kGoodReply + "\r");
  EXPECT_EQ(Send().Wire(), kGoodReply + "\r") << "the old script is gone";
  ASSERT_TRUE(sim_.SetScript(1, {FaultBit(FaultKind::kSilence)}, true));
  EXPECT_TRUE(Send().silent);
  EXPECT_TRUE(Send().silent);
  ASSERT_TRUE(sim_.SetScript(1, {}));
  EXPECT_FALSE(Send().silent);
  EXPECT_FALSE(sim_.SetScript(9, {0})) << "no station 9";
  EXPECT_EQ(sim_.Count("fault-nak"), 1u);
}

TEST_F(SimFaults, BusFaultsHitEveryStation) {
  Load("fault bus nak 1\n");
  EXPECT_EQ(Send().line, "N12");
  EXPECT_EQ(Send(kOtherRead).line, "N12");
}

TEST_F(SimFaults, ProbabilitiesZeroAndOneAreNeverAndAlways) {
  Load("fault 1 silence 1\nfault 2 silence 0\n");
  for (int i = 0; i < 20; ++i) {
    EXPECT_TRUE(Send().silent);
    EXPECT_FALSE(Send(kOtherRead).silent);
  }
}

TEST_F(SimFaults, AProbabilityHitsAboutThatShareOfExchanges) {
  Load("fault 1 silence 0.3\n");
  int silent = 0;
  for (int i = 0; i < 1000; ++i) silent += Send().silent;
  EXPECT_GT(silent, 200);
  EXPECT_LT(silent, 400);
}

TEST_F(SimFaults, TheSameSeedDrawsTheSameFaults) {
  auto run = [](uint32_t seed) {
    n2sim::Simulator sim;
    sim.SetSeed(seed);
    std::string error;
    EXPECT_TRUE(sim.LoadPlant("station 1 DX9100\nfault 1 silence 0.5", &error));
    std::string pattern;
    for (int i = 0; i < 40; ++i) pattern += sim.Exchange(kRead).delivery.silent ? 'S' : '.';
    return pattern;
  };
  EXPECT_EQ(run(7), run(7));
  EXPECT_NE(run(7), run(8));
}

TEST_F(SimFaults, NoiseComesBeforeTheReplyAndHoldsNoLineEnd) {
  Load("fault 1 noise 1 bytes=40\n");
  const Delivery d = Send();
  ASSERT_EQ(d.noise.size(), 40u);
  EXPECT_EQ(d.noise.find('\r'), std::string::npos);
  EXPECT_EQ(d.noise.find('\n'), std::string::npos);
  EXPECT_EQ(d.Wire(), d.noise + kGoodReply + "\r");
}

TEST_F(SimFaults, ACutReplyNeverEndsInItsCr) {
  Load("fault 1 cut 1 keep=100\n");
  EXPECT_EQ(Send().Wire(), kGoodReply);  // keep more than there is: all but the CR
  Load("fault 1 cut 1 keep=0\n");
  EXPECT_EQ(Send().Wire(), "");
  EXPECT_FALSE(Send().silent);
}

TEST_F(SimFaults, BadSumLeavesRepliesWithoutSumAlone) {
  Load("fault 1 badsum 1\n");
  EXPECT_EQ(Send(n2sim::System91Request({0x01, 0xC0, 0x22, 0x00, 0x14})).line, "A");
  EXPECT_EQ(Send(n2sim::System91Request({0x01, 0x80, 0x03})).line, "N10");
}

TEST_F(SimFaults, TimingFaultsTakeTheParametersOfTheScopeThatDrewThem) {
  Load("fault 1 delay 1 ms=40\nfault bus delay 0 ms=900\nfault bus dribble 1 ms=7\n");
  const Delivery d = Send();
  EXPECT_EQ(d.delayMs, 40);
  EXPECT_EQ(d.dribbleMs, 7);
  EXPECT_EQ(d.Wire(), kGoodReply + "\r");
  EXPECT_EQ(Send(kOtherRead).delayMs, 0);
  EXPECT_EQ(n2sim::FaultSetName(d.faults), "dribble+delay");
}

TEST_F(SimFaults, NakWithSilenceIsSilence) {
  Load("script 1 nak+silence\n");
  const Delivery d = Send();
  EXPECT_TRUE(d.silent);
  EXPECT_EQ(d.Wire(), "");
  EXPECT_EQ(d.faults, FaultBit(FaultKind::kSilence));
}

TEST_F(SimFaults, CountsAndTheirFormat) {
  Load("script 1 nak\n");
  Send();
  Send();
  Send(kOtherRead);
  Send(n2sim::System91Request({0x09, 0x80, 0x22}));
  EXPECT_EQ(sim_.FormatCounts(),
            "requests=4 answered=3 silent=1 request-bytes=56 reply-bytes=28 fault-nak=1 mem-read=3 station-1=2 "
            "station-2=1 station-9=1 unaddressed=1");
}

TEST_F(SimFaults, CountsTheBytesOnTheLineEachWay) {
  Load("script 1 nak cut silence noise ok\n");
  size_t wire = 0;
  for (int i = 0; i < 5; ++i) wire += Send().Wire().size();
  Send(n2sim::System91Request({0x09, 0x80, 0x22}));  // no station 9: no reply
  // Six requests of 13 characters and their CR; replies "N12" + CR, half of
  // the 11-character reply without CR, nothing, 3 bytes of noise before the
  // reply and its CR, the reply and its CR.
  EXPECT_EQ(sim_.Count("request-bytes"), 6u * 14);
  EXPECT_EQ(sim_.Count("reply-bytes"), 4u + 5 + 0 + 15 + 12);
  EXPECT_EQ(sim_.Count("reply-bytes"), wire);
}

// ---- reset: the station restarts ----------------------------------------------

class SimReset : public ::testing::Test {
 protected:
  void Load(const std::string &plant) {
    std::string error;
    ASSERT_TRUE(sim_.LoadPlant(plant, &error)) << error;
  }
  // The reply line, "(silent)" for none; the exchange kind goes to *kind.
  std::string Ask(const std::string &line, std::string *kind = nullptr) {
    const n2sim::ExchangeRecord record = sim_.Exchange(line);
    if (kind != nullptr) *kind = record.kind;
    return record.delivery.silent ? "(silent)" : record.delivery.line;
  }

  n2sim::Simulator sim_;
};

const std::string kIdentify = n2sim::N2OpenRequest({0x05, 0x04});
const std::string kStatusPoll = ">05FAB";
const std::string kReadAo3 = n2sim::N2OpenRequest({0x05, 0x13, 0x02, 0x02});
// 12.5 (0x41480000) to AO3, and 7.0 (0x40E00000) to AO4.
const std::string kWriteAo3 = n2sim::N2OpenRequest({0x05, 0x72, 0x03, 0x02, 0x41, 0x48, 0x00, 0x00});
const std::string kWriteAo4 = n2sim::N2OpenRequest({0x05, 0x72, 0x03, 0x03, 0x40, 0xE0, 0x00, 0x00});

TEST_F(SimReset, AnN2OpenStationLosesTheRequestItsIdentificationAndItsOverrides) {
  Load("station 5 N2OPEN objects=16 dynamics=off\nvalue 5 AO 3 30.0\nscript 5 ok ok ok reset\n");
  ASSERT_EQ(Ask(kIdentify), "A");
  ASSERT_EQ(Ask(kStatusPoll), "A");
  ASSERT_EQ(Ask(kWriteAo3), "A");
  std::string kind;
  EXPECT_EQ(Ask(kWriteAo4, &kind), "(silent)") << "no reply to the request the reset cut off";
  EXPECT_EQ(kind, "reset");
  sim_.WithN2Open(5, [](n2sim::N2OpenStation *station) {
    ASSERT_NE(station, nullptr);
    EXPECT_FALSE(station->identified());
    EXPECT_FALSE(station->Find(n2sim::kAO, 3)->overridden) << "overrides are released";
    EXPECT_FALSE(station->Find(n2sim::kAO, 4)->overridden) << "the lost write was never applied";
    EXPECT_EQ(station->ValueOf(n2sim::kAO, 3, 0), 30.0) << "its own value is kept";
  });
  EXPECT_EQ(Ask(kReadAo3), "N00") << "item commands wait for the identification";
  ASSERT_EQ(Ask(kIdentify), "A");
  EXPECT_EQ(Ask(kReadAo3), n2sim::N2OpenDataReply("0041F00000")) << "30.0, no override flag";
}

TEST_F(SimReset, ASystem91StationLosesOnlyTheRequest) {
  Load("station 1 DX9100 dynamics=off\nvalue 1 GC ACO1 1.5\nvalue 1 TS01 START1 07:30\nscript 1 reset\n");
  const std::string write = n2sim::System91Request({0x01, 0xC0, 0x22, 0x00, 0x14});  // ACO1 = 1.0
  EXPECT_EQ(Ask(write), "(silent)");
  // Memory and time schedules are what they were: the lost write did not land.
  EXPECT_EQ(Ask(n2sim::System91Request({0x01, 0x80, 0x22})), n2sim::System91DataReply("0016"));  // 1.5
  EXPECT_EQ(Ask(n2sim::System91Request({0x01, 0x98, 0x10, 0x05, 0x00, 0x00})), n2sim::System91DataReply("3007"));
  EXPECT_EQ(Ask(write), "A") << "and it answers the next request as ever";
}

TEST_F(SimReset, IsCountedAndSilencesWhateverElseWasDrawn) {
  Load("station 1 DX9100 dynamics=off\nfault 1 reset 1\nfault 1 nak 1\nfault bus delay 1 ms=5\n");
  const n2sim::ExchangeRecord record = sim_.Exchange(kRead);
  EXPECT_TRUE(record.delivery.silent);
  EXPECT_EQ(record.delivery.Wire(), "");
  EXPECT_EQ(record.delivery.faults, FaultBit(FaultKind::kReset));
  EXPECT_EQ(sim_.Count("fault-reset"), 1u);
  EXPECT_EQ(sim_.Count("reset"), 1u);
  EXPECT_EQ(sim_.Count("silent"), 1u);
  EXPECT_EQ(sim_.Count("fault-nak"), 0u);
}

TEST(SimResetPlant, TakesAProbabilityAndNoParameter) {
  n2sim::PlantSpec plant;
  std::string error;
  ASSERT_TRUE(n2sim::ParsePlant("station 1 DX9100\nfault 1 reset 0.25\nscript bus reset ok\n", &plant, &error))
      << error;
  EXPECT_DOUBLE_EQ(plant.stations[0].faults.probability[static_cast<int>(FaultKind::kReset)], 0.25);
  EXPECT_EQ(plant.busFaults.script[0], FaultBit(FaultKind::kReset));
  EXPECT_FALSE(n2sim::ParsePlant("fault 1 reset 1 ms=3\n", &plant, &error));
}

TEST(SimPacer, BytesFollowEachOtherAtTheirWireTime) {
  n2sim::LinePacer pacer(9600);
  const auto byteTime = pacer.byteTime();
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::microseconds>(byteTime).count(), 1041);
  const auto start = n2sim::LinePacer::Clock::now();
  // A burst handed over at once: every deadline is kept from the start, not
  // from when the previous byte went out, so late wake-ups do not add up.
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(pacer.Next(start), start + byteTime * i);
  // A byte that comes after the line went idle starts when it comes.
  const auto later = start + std::chrono::seconds(1);
  EXPECT_EQ(pacer.Next(later), later + byteTime);
}

TEST(SimPacer, WithoutABaudRateEveryDeadlineIsNow) {
  n2sim::LinePacer pacer(0);
  const auto t = n2sim::LinePacer::Clock::now();
  EXPECT_EQ(pacer.Next(t), t);
  EXPECT_EQ(pacer.Next(t), t);
}

// ---- the pause after a good reply ------------------------------------------------

// A master pauses 4 ms after a System 91 station's good reply: the bus counts
// the requests that reach the station sooner after its last clean
// acknowledgement. Replies with an injected fault, refusals and N2 Open
// stations carry no pause and never count.
class SimPause : public ::testing::Test {
 protected:
  using Clock = n2sim::Simulator::Clock;
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim_.LoadPlant("station 1 DX9100 dynamics=off\nstation 2 DX9100 dynamics=off\n"
                               "station 5 N2OPEN objects=16 dynamics=off\n",
                               &error))
        << error;
  }
  // The exchange of line with its request complete ms after the start.
  n2sim::ExchangeRecord At(double ms, const std::string &line = kRead) {
    return sim_.Exchange(line, start_ + std::chrono::microseconds(static_cast<long>(ms * 1000)));
  }
  Clock::time_point After(double ms) const { return start_ + std::chrono::microseconds(static_cast<long>(ms * 1000)); }

  n2sim::Simulator sim_;
  const Clock::time_point start_ = Clock::now();
};

TEST_F(SimPause, RequestsWithinThePauseAfterACleanAcknowledgementCount) {
  EXPECT_TRUE(At(0).cleanAck);
  const n2sim::ExchangeRecord early = At(1.5);
  EXPECT_DOUBLE_EQ(early.earlyMs, 1.5);
  EXPECT_NE(n2sim::Simulator::FormatTrace(early).find("early 1.500 ms after the station's acknowledgement"),
            std::string::npos);
  EXPECT_LT(At(5.6).earlyMs, 0) << "4.1 ms after the last acknowledgement";
  EXPECT_LT(At(6, kOtherRead).earlyMs, 0) << "another station keeps its own pause";
  EXPECT_EQ(sim_.Count("early-after-ack"), 1u);
  EXPECT_NE(sim_.FormatCounts().find("early-after-ack=1"), std::string::npos);
}

TEST_F(SimPause, ThePauseRunsFromTheLastByteOfTheReply) {
  const n2sim::ExchangeRecord ack = At(0);
  sim_.ReplySent(ack, After(3));
  EXPECT_GE(At(6).earlyMs, 0) << "3 ms after the reply went out";
  EXPECT_EQ(sim_.Count("early-after-ack"), 1u);
}

TEST_F(SimPause, RepliesThatAreNoCleanAcknowledgementCarryNoPause) {
  // A master retries at once after a reply it rejects: an injected refusal,
  // a wrong frame sum, a refused request.
  ASSERT_TRUE(sim_.SetScript(1, {0, FaultBit(FaultKind::kNak), 0, FaultBit(FaultKind::kBadSum), 0}));
  EXPECT_TRUE(At(0).cleanAck);
  EXPECT_FALSE(At(10).cleanAck) << "an injected refusal";
  EXPECT_LT(At(10.5).earlyMs, 0);
  EXPECT_FALSE(At(20).cleanAck) << "a wrong frame sum";
  EXPECT_LT(At(20.5).earlyMs, 0);
  const std::string badRequest = kRead.substr(0, 9) + "00";
  EXPECT_FALSE(At(30, badRequest).cleanAck) << "a refused request";
  EXPECT_LT(At(30.5).earlyMs, 0);
  EXPECT_FALSE(At(40, kIdentify).cleanAck) << "N2 Open stations are not paused after";
  EXPECT_LT(At(40.5, kIdentify).earlyMs, 0);
  EXPECT_EQ(sim_.Count("early-after-ack"), 0u);
}

}  // namespace
