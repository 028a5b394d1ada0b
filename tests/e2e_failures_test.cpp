// End to end against the simulated plant when things go wrong: stations that
// do not answer (2), stations that refuse (1), faults injected into the
// replies that the retries get over (0), and a port another channel holds.
//
// Each case loads the default plant again with its fault statements, and
// opens the channel again: with a short reply time-out where the station is
// meant to stay silent, with a generous one everywhere else.
#include <string>
#include <vector>

#include "tests/e2e_fixture.h"

namespace {

using e2e::HostValue;

enum class Op { kRead, kWrite, kBlockRead };

struct FailureCase {
  const char *name;
  const char *plant;  // statements added to the default plant
  int32_t timeout;
  Op op;
  const char *gas;
  int32_t dataType;
  int32_t status;
  const char *logged;     // the log must hold a line that starts so; "" for none
  const char *notLogged;  // the log must hold no line that starts so; "" for none
};

constexpr int32_t kShort = e2e::kShortTimeout;
constexpr int32_t kLong = e2e::kTimeout;

constexpr FailureCase kCases[] = {
    // A station that does not answer: no reply line at all.
    {"ReadOfAnAbsentStationGives2", "", kShort, Op::kRead, "030GCACO1", kGateReal, 2,
     "ZAMKT: Single Read failed! GAS=030GCACO1 rc = 2", ""},
    {"WriteToAnAbsentStationGives2", "", kShort, Op::kWrite, "030GCACO1", kGateReal, 2,
     "ZAMKT: Single Write failed! GAS=030GCACO1", ""},
    // A bit or field write reads its item back first: when no read-back is
    // answered no write frame goes out, and the write reports 1 (nothing could
    // be sent) rather than 2, which it keeps for a write frame left unanswered.
    {"BitWriteToAnAbsentStationGives1", "", kShort, Op::kWrite, "030GCDCO1", kGateDigital, 1,
     "ZAMKT: Single Write failed! GAS=030GCDCO1", ""},
    {"BlockReadOfAnAbsentStationGives2", "", kShort, Op::kBlockRead, "030GCACO1", kGateReal, 2,
     "ZAMKT: Block Read failed! GAS=030GCACO1 rc = 2", ""},
    {"ScheduleReadOfASilencedStationGives2", "fault 1 silence 1", kShort, Op::kRead, "001TS01START1", kGateInt32, 2,
     "ZAMKT: Single Read failed! GAS=001TS01START1 rc = 2", ""},
    {"ReadOfASilencedXT9100Gives2", "fault 10 silence 1", kShort, Op::kRead, "010XP01AI1", kGateReal, 2, "", ""},
    {"ReadOfASilencedN2OpenStationGives2", "fault 5 silence 1", kShort, Op::kRead, "005AO001", kGateReal, 2,
     "ZAMKT01: SingleRead() Failed to Initialize 'N2OPEN' station 5 rc = 2", ""},
    {"ReadOfRepliesCutShortGives2", "fault 1 cut 1", kShort, Op::kRead, "001GCACO1", kGateReal, 2,
     "ZAMKT: Single Read failed! GAS=001GCACO1 rc = 2", ""},

    // A station that refuses: replies came, none good.
    {"ReadOfAnN2OpenObjectAbove16Gives1", "", kLong, Op::kRead, "005AO017", kGateReal, 1,
     "ZAMKT01: MigDoReadItem() failed. Tag address 005AO017: Invalid Data (Point doesn't exist)", ""},
    {"WriteToAnN2OpenObjectAbove16Gives1", "", kLong, Op::kWrite, "005BO017", kGateDigital, 1,
     "ZAMKT01: N2OPEN_DoWriteItem() failed. Tag address 005BO017: Invalid Data (Point doesn't exist)", ""},
    {"ReadRefusedByNakGives1", "fault 1 nak 1", kLong, Op::kRead, "001GCACO1", kGateReal, 1,
     "ZAMKT:Gate 001GCACO1: Read failed! ErrorCode 12 H ", ""},
    {"WriteRefusedByNakGives1", "fault 1 nak 1 code=11", kLong, Op::kWrite, "001AI01HR", kGateReal, 1,
     "ZAMKT:Gate 001AI01HR: Write failed! ErrorCode 11 H ", ""},
    {"BitWriteWhoseReadBackIsRefusedGives1", "fault 20 nak 1", kLong, Op::kWrite, "020TCGCDO4E", kGateDigital, 1,
     "ZAMKT: Single Write failed! GAS=020TCGCDO4E", ""},
    {"BlockReadRefusedByNakGives1", "fault 1 nak 1", kLong, Op::kBlockRead, "001GCACO1", kGateReal, 1,
     "ZAMKT: Block Read failed! GAS=001GCACO1 rc = 1", ""},
    {"ClockReadRefusedByNakGives1", "fault 1 nak 1 code=5", kLong, Op::kRead, "001RTCLTIME", kGateInt32, 1,
     "ZAMKT:Gate 001RTCLTIME: Read failed! ErrorCode 05 H ", ""},
    {"ReadWithABadFrameSumEveryTimeGives1", "fault 1 badsum 1", kLong, Op::kRead, "001AI01HR", kGateReal, 1,
     "ZAMKT: Single Read failed! GAS=001AI01HR rc = 1", ""},
    {"N2OpenInitialisationRefusedGives1", "fault 5 nak 1", kLong, Op::kRead, "005AD001", kGateInt16, 1,
     "ZAMKT01: SingleRead() Failed to Initialize 'N2OPEN' station 5 rc = 1", ""},
    {"ReadRefusedOnceThenSilentGives1", "script 1 nak silence silence silence silence", kShort, Op::kRead,
     "001GCACO1", kGateReal, 1, "ZAMKT: Single Read failed! GAS=001GCACO1 rc = 1", ""},
    {"WriteSilentOnceThenRefusedGives2", "script 1 silence nak nak nak nak", kShort, Op::kWrite, "001GCACO1",
     kGateReal, 2, "ZAMKT: Single Write failed! GAS=001GCACO1", ""},

    // One bad reply, then a good one: the retry succeeds without a failure line.
    {"ReadAfterABadFrameSumSucceeds", "script 1 badsum", kLong, Op::kRead, "001AI01HR", kGateReal, 0,
     "ZAMKT: Checksum Error. Plc String A", "ZAMKT: Single Read failed!"},
    {"ReadAfterANakSucceeds", "script 1 nak", kLong, Op::kRead, "001GCACO1", kGateReal, 0,
     "ZAMKT:Gate 001GCACO1: Read failed! ErrorCode 12 H ", "ZAMKT: Single Read failed! GAS=001GCACO1 rc = 1"},
    {"ReadAfterNoiseSucceeds", "script 1 noise", kLong, Op::kRead, "001GCCNTR2", kGateInt32, 0, "",
     "ZAMKT: Single Read failed!"},
    {"ReadAfterSilenceSucceeds", "script 1 silence", kShort, Op::kRead, "001GCACO1", kGateReal, 0, "",
     "ZAMKT: Single Read failed!"},
    {"ReadAfterACutReplySucceeds", "script 1 cut", kShort, Op::kRead, "001GCACO1", kGateReal, 0, "",
     "ZAMKT: Single Read failed!"},
    {"ReadOfADelayedReplySucceeds", "fault 1 delay 1 ms=30", kLong, Op::kRead, "001PM01LSP", kGateReal, 0, "",
     "ZAMKT"},
    {"ReadOfADribbledReplySucceeds", "fault 1 dribble 1 ms=2", kLong, Op::kRead, "001AI01HR", kGateReal, 0, "",
     "ZAMKT"},
    {"ReadOfAPacedLineSucceeds", "pacing 9600", kLong, Op::kRead, "001XT01XTDIC1", kGateInt32, 0, "", "ZAMKT"},
    {"BlockReadAfterABadFrameSumSucceeds", "script 1 badsum", kLong, Op::kBlockRead, "001GCACO1", kGateReal, 0,
     "ZAMKT: Checksum Error. Plc String A", "ZAMKT: Block Read failed!"},
    {"WriteAfterANakSucceeds", "script 1 nak", kLong, Op::kWrite, "001GCACO1", kGateReal, 0,
     "ZAMKT:Gate 001GCACO1: Write failed! ErrorCode 12 H ", "ZAMKT: Single Write failed! GAS=001GCACO1"},
    {"WriteAfterSilenceSucceeds", "script 1 silence", kShort, Op::kWrite, "001TS02START1", kGateInt32, 0, "",
     "ZAMKT: Single Write failed! GAS=001TS02START1"},
    {"BitWriteWhoseWriteIsRefusedOnceSucceeds", "script 1 ok nak", kLong, Op::kWrite, "001GCDCO7", kGateDigital,
     0, "ZAMKT:Gate 001GCDCO7: Write failed! ErrorCode 12 H ", "ZAMKT: Single Write failed! GAS=001GCDCO7"},
    {"N2OpenReadAfterARefusedInitialisationSucceeds", "script 5 nak", kLong, Op::kRead, "005AO002", kGateReal, 0,
     "ZAMKT01: N2OPEN_InitStation() failed. Station 5 Command rejected: device problem",
     "ZAMKT01: SingleRead() Failed to Initialize 'N2OPEN' station 5 rc = 1"},
    {"N2OpenWriteAfterABadReplySucceeds", "script 5 ok ok nak", kLong, Op::kWrite, "005AF002", kGateReal, 0,
     "ZAMKT01: N2OPEN_DoWriteItem() failed. Tag address 005AF002: Command rejected: device problem",
     "ZAMKT01: N2OPEN_DoWriteItem() failed GAS=005AF002"},
};

bool Logged(const LogCapture &log, const std::string &start) {
  for (const std::string &message : log.Messages()) {
    if (message.rfind(start, 0) == 0) return true;
  }
  return false;
}

HostValue OneFor(int32_t dataType) {
  if (dataType == kGateReal) return HostValue::Real(1.0f);
  if (dataType == kGateInt32) return HostValue::Long(1);
  return HostValue::Word(1);
}

class Failure : public e2e::E2eTest, public ::testing::WithParamInterface<FailureCase> {
 protected:
  void TearDown() override {
    // The next program step starts from the plant without faults.
    std::string error;
    EXPECT_TRUE(bench().Reload("", &error)) << error;
    E2eTest::TearDown();
  }
};

TEST_P(Failure, GivesItsStatusAndLogsWhy) {
  const FailureCase &c = GetParam();
  std::string error;
  ASSERT_TRUE(bench().Reload(c.plant, &error, c.timeout)) << error;
  LogCapture log;
  HostValue value = c.op == Op::kWrite ? OneFor(c.dataType) : HostValue();
  int32_t status = -1;
  switch (c.op) {
    case Op::kRead: status = channel().Read(c.gas, c.dataType, value.data()); break;
    case Op::kWrite: status = channel().Write(c.gas, c.dataType, value.data()); break;
    case Op::kBlockRead: status = channel().BlockReadItems(c.gas, c.dataType, value.data(), 8); break;
  }
  EXPECT_EQ(status, c.status) << c.gas;
  if (c.logged[0] != '\0') {
    EXPECT_TRUE(Logged(log, c.logged)) << "missing: " << c.logged;
  }
  if (c.notLogged[0] != '\0') {
    EXPECT_FALSE(Logged(log, c.notLogged)) << "unexpected: " << c.notLogged;
  }
  if (c.op != Op::kWrite && c.status != 0) {
    for (size_t i = 0; i < sizeof value.bytes; ++i) ASSERT_EQ(value.bytes[i], 0xEE) << "a failed read stores nothing";
  }
}

INSTANTIATE_TEST_SUITE_P(Case, Failure, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FailureCase> &c) { return std::string(c.param.name); });

// ---- what the device sees of failures ------------------------------------------------

class Failures : public e2e::E2eTest {
 protected:
  void TearDown() override {
    std::string error;
    EXPECT_TRUE(bench().Reload("", &error)) << error;
    E2eTest::TearDown();
  }
};

TEST_F(Failures, ARefusedReadIsTriedFiveTimes) {
  std::string error;
  ASSERT_TRUE(bench().Reload("fault 1 nak 1", &error)) << error;
  const uint64_t refusals = bench().Count("fault-nak");
  HostValue value;
  EXPECT_EQ(channel().Read("001GCACO1", kGateReal, value.data()), 1);
  EXPECT_EQ(bench().Count("fault-nak"), refusals + 5);
}

TEST_F(Failures, AReadOfAnAbsentStationIsSentFiveTimesAndAnsweredNever) {
  std::string error;
  ASSERT_TRUE(bench().Reload("", &error, e2e::kShortTimeout)) << error;
  const uint64_t unaddressed = bench().Count("unaddressed");
  const uint64_t answered = bench().Count("answered");
  HostValue value;
  EXPECT_EQ(channel().Read("030GCACO1", kGateReal, value.data()), 2);
  EXPECT_EQ(bench().Count("unaddressed"), unaddressed + 5);
  EXPECT_EQ(bench().Count("answered"), answered);
}

TEST_F(Failures, AnN2OpenStationThatNeverAnswersFailsReadsAndWritesWith2) {
  // Station 31 is named N2 Open in the station-type file, but nobody is there.
  std::string error;
  ASSERT_TRUE(bench().Reload("", &error)) << error;
  bench().WriteStationTypes("031 = N2OPEN\n");
  ASSERT_EQ(bench().Reopen(e2e::kShortTimeout), 0);
  LogCapture log;
  HostValue value;
  EXPECT_EQ(channel().Read("031AI001", kGateReal, value.data()), 2);
  EXPECT_TRUE(log.Contains("ZAMKT01: N2OPEN_InitStation() failed to read response. Station 31"));
  EXPECT_TRUE(log.Contains("ZAMKT01: SingleRead() Failed to Initialize 'N2OPEN' station 31 rc = 2"));
  HostValue on = HostValue::Word(1);
  EXPECT_EQ(channel().Write("031BO001", kGateDigital, on.data()), 2);
  EXPECT_TRUE(log.Contains("ZAMKT01: SingleWrite() Failed to Initialize 'N2OPEN' station 31 rc = 2"));
  bench().WriteStationTypes("");
}

TEST_F(Failures, ABitWriteWhoseWriteWasLostIsNotAppliedTwice) {
  // The first write frame reaches the device but its acknowledgement is cut
  // off; the second attempt reads the item again before it writes.
  std::string error;
  ASSERT_TRUE(bench().Reload("script 1 ok cut", &error)) << error;
  const uint16_t address = 10;  // GC DCO1..DCO16
  const uint32_t before = bench().Item(e2e::kDX9100, address);
  const uint64_t writes = bench().Count("mem-write");
  HostValue on = HostValue::Word(1);
  ASSERT_EQ(channel().Write("001GCDCO3", kGateDigital, on.data()), 0);
  EXPECT_EQ(bench().Item(e2e::kDX9100, address), before | (1u << 2));
  EXPECT_EQ(bench().Count("mem-write"), writes + 2) << "the first write was applied, the second wrote the same";
}

TEST_F(Failures, InitialisingAChannelOnAPortAnotherChannelHoldsGives2) {
  LogCapture log;
  DriverChannel other(2);
  EXPECT_EQ(other.Init(bench().port(), e2e::kTimeout), 2);
  EXPECT_TRUE(log.Contains("ZAMKT : Fail to open " + bench().port()));
  // The channel that holds the port goes on working.
  HostValue value;
  EXPECT_EQ(channel().Read("001GCACO1", kGateReal, value.data()), 0);
  // Once it lets go, the other channel can have the port.
  ASSERT_EQ(channel().Close(), 0);
  EXPECT_EQ(other.Init(bench().port(), e2e::kTimeout), 0);
  EXPECT_EQ(other.Read("001GCACO1", kGateReal, value.data()), 0);
  EXPECT_EQ(other.Close(), 0);
}

}  // namespace
