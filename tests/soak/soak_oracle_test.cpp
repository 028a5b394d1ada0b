// The soak's judgement: what the driver sees of a reply, the status its rules
// rank for a run of exchanges (docs/driver.md), frames that stray from the
// rules, and the changes to the plant a request may and may not make. A soak
// that misjudged these would pass a faulty driver or fail a good one.
#include "tests/soak/soak_oracle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/wire.h"
#include "tests/soak/soak_plant.h"

namespace {

using n2sim::ExchangeRecord;
using n2sim::FaultBit;
using n2sim::FaultKind;
using soak::Frame;
using soak::Procedure;
using soak::Seen;

constexpr int kTimeoutMs = 100;

// What one exchange of a row does.
enum Step { kGood, kBad, kNone, kLate };

const std::string &RequestOf(Frame frame) {
  static const std::string kMemRead = n2sim::System91Request({0x01, 0x80, 0x22});
  static const std::string kMemWrite = n2sim::System91Request({0x01, 0xC0, 0x22, 0x00, 0x14});
  static const std::string kIdentify = n2sim::N2OpenRequest({0x05, 0x04});
  static const std::string kStatusPoll = ">05FAB";
  static const std::string kItemRead = n2sim::N2OpenRequest({0x05, 0x13, 0x02, 0x02});
  static const std::string kItemWrite = n2sim::N2OpenRequest({0x05, 0x72, 0x03, 0x02, 0x41, 0x48, 0x00, 0x00});
  switch (frame) {
    case Frame::kMemRead:
      return kMemRead;
    case Frame::kMemWrite:
      return kMemWrite;
    case Frame::kIdentify:
      return kIdentify;
    case Frame::kStatusPoll:
      return kStatusPoll;
    case Frame::kItemRead:
      return kItemRead;
    default:
      return kItemWrite;
  }
}

// An exchange of the frame as the simulator records it: a good reply is the
// station's own, a bad one a negative acknowledgement, a late one held back a
// whole second.
ExchangeRecord Exchange(Frame frame, Step step) {
  ExchangeRecord record;
  record.request = RequestOf(frame);
  const bool n2open = frame == Frame::kIdentify || frame == Frame::kStatusPoll || frame == Frame::kItemRead ||
                      frame == Frame::kItemWrite;
  record.station = n2open ? 5 : 1;
  record.family = n2open ? "N2OPEN" : "DX9100";
  record.kind = "exchange";
  n2sim::Delivery &d = record.delivery;
  if (frame == Frame::kMemRead) {
    d.line = n2sim::System91DataReply("0016");
  } else if (frame == Frame::kItemRead) {
    d.line = n2sim::N2OpenDataReply("0041480000");
  } else {
    d.line = "A";
  }
  if (step == kBad) {
    d.line = "N12";
    d.faults = FaultBit(FaultKind::kNak);
  }
  if (step == kLate) {
    d.delayMs = 1000;
    d.faults = FaultBit(FaultKind::kDelay);
  }
  d.silent = step == kNone;
  d.sendBytes = d.line.size() + 1;
  return record;
}

// ---- what the driver sees of one reply -----------------------------------------

struct SeenCase {
  const char *name;
  FaultKind fault;
  bool dataReply;
  std::string noise;
  Seen seen;
};

class SeenOfReply : public ::testing::TestWithParam<SeenCase> {};

TEST_P(SeenOfReply, FollowsWhatTheFaultMadeOfIt) {
  const SeenCase &c = GetParam();
  ExchangeRecord record = Exchange(c.dataReply ? Frame::kMemRead : Frame::kMemWrite, kGood);
  n2sim::StationReply reply;
  reply.line = record.delivery.line;
  reply.hasSum = c.dataReply;
  n2sim::FaultParams params;
  params.delayMs = 20;    // within a quarter of the time-out
  params.dribbleMs = 30;  // beyond it
  std::mt19937 random(1);
  record.delivery = n2sim::Shape(reply, FaultBit(c.fault), params, 0, params, random);
  if (!c.noise.empty()) record.delivery.noise = c.noise;
  EXPECT_EQ(soak::SeenOf(record, c.dataReply, kTimeoutMs), c.seen);
}

const SeenCase kSeenCases[] = {
    {"SilenceIsNone", FaultKind::kSilence, true, "", Seen::kNone},
    {"ResetIsNone", FaultKind::kReset, false, "", Seen::kNone},
    {"CutDataIsNone", FaultKind::kCut, true, "", Seen::kNone},
    {"CutAckIsNone", FaultKind::kCut, false, "", Seen::kNone},
    {"NakDataIsBad", FaultKind::kNak, true, "", Seen::kBad},
    {"NakAckIsBad", FaultKind::kNak, false, "", Seen::kBad},
    {"BadSumDataIsBad", FaultKind::kBadSum, true, "", Seen::kBad},
    {"BadSumLeavesAnAckAlone", FaultKind::kBadSum, false, "", Seen::kGood},
    {"NoiseBeforeDataIsBad", FaultKind::kNoise, true, "A\x7F", Seen::kBad},
    {"NoiseStartingWithAOnAnAckPasses", FaultKind::kNoise, false, "A\x7F", Seen::kGood},
    {"OtherNoiseOnAnAckIsBad", FaultKind::kNoise, false, "x", Seen::kBad},
    {"ShortDelayIsInTime", FaultKind::kDelay, true, "", Seen::kGood},
    {"SlowBytesBeyondAQuarterAreLate", FaultKind::kDribble, false, "", Seen::kLate},
};

INSTANTIATE_TEST_SUITE_P(Fault, SeenOfReply, ::testing::ValuesIn(kSeenCases),
                         [](const ::testing::TestParamInfo<SeenCase> &c) { return std::string(c.param.name); });

TEST(SeenOfReply, ALineOfMoreThan999CharactersIsNone) {
  ExchangeRecord record = Exchange(Frame::kMemWrite, kGood);
  record.delivery.noise = std::string(998, 'A');
  EXPECT_EQ(soak::SeenOf(record, false, kTimeoutMs), Seen::kGood) << "999 characters";
  record.delivery.noise += 'A';
  EXPECT_EQ(soak::SeenOf(record, false, kTimeoutMs), Seen::kNone);
  record.delivery.dribbleMs = 2;
  EXPECT_EQ(soak::SeenOf(record, false, kTimeoutMs), Seen::kLate) << "its CR comes after the driver gave up";
}

TEST(SeenOfReply, AStationsOwnRefusalIsNoData) {
  ExchangeRecord record = Exchange(Frame::kItemRead, kGood);
  record.kind = "refused";
  record.delivery.line = "N00";
  EXPECT_EQ(soak::SeenOf(record, true, kTimeoutMs), Seen::kBad);
}

// ---- the status the rules rank -------------------------------------------------

struct Row {
  const char *name;
  Procedure procedure;
  bool initialised;
  std::vector<std::pair<Frame, Step>> exchanges;
  int32_t status;  // -1: the exchanges stray from the rules
};

std::vector<std::pair<Frame, Step>> Times(int n, Frame frame, Step step) {
  return std::vector<std::pair<Frame, Step>>(n, {frame, step});
}
std::vector<std::pair<Frame, Step>> Then(std::vector<std::pair<Frame, Step>> a,
                                         const std::vector<std::pair<Frame, Step>> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

constexpr Frame kRd = Frame::kMemRead;
constexpr Frame kWr = Frame::kMemWrite;
constexpr Frame kId = Frame::kIdentify;
constexpr Frame kSt = Frame::kStatusPoll;
constexpr Frame kItem = Frame::kItemRead;
constexpr Frame kOut = Frame::kItemWrite;

const auto kInitOk = std::vector<std::pair<Frame, Step>>{{kId, kGood}, {kSt, kGood}};

const Row kRows[] = {
    // Reads: a reply line of any kind outranks silence.
    {"ReadSilentThroughout", Procedure::kSystem91Read, false, Times(5, kRd, kNone), 2},
    {"ReadRefusedOnceThenSilent", Procedure::kSystem91Read, false, Then({{kRd, kBad}}, Times(4, kRd, kNone)), 1},
    {"ReadSilentThenRefusedLast", Procedure::kSystem91Read, false, Then(Times(4, kRd, kNone), {{kRd, kBad}}), 1},
    {"ReadRecoveredByTheRetry", Procedure::kSystem91Read, false, {{kRd, kBad}, {kRd, kGood}}, 0},
    {"ReadGoingOnAfterAGoodReply", Procedure::kSystem91Read, false, {{kRd, kGood}, {kRd, kGood}}, -1},
    {"ReadGivingUpEarly", Procedure::kSystem91Read, false, Times(4, kRd, kNone), -1},
    {"ReadSendingAWrite", Procedure::kSystem91Read, false, {{kWr, kGood}}, -1},
    // Writes: silence outranks a refusal.
    {"WriteSilentThroughout", Procedure::kSystem91Write, false, Times(5, kWr, kNone), 2},
    {"WriteRefusedThroughout", Procedure::kSystem91Write, false, Times(5, kWr, kBad), 1},
    {"WriteSilentOnceThenRefused", Procedure::kSystem91Write, false, Then({{kWr, kNone}}, Times(4, kWr, kBad)), 2},
    {"WriteRecoveredByTheRetry", Procedure::kSystem91Write, false, {{kWr, kNone}, {kWr, kGood}}, 0},
    // Read-modify-write: no write without a good read-back.
    {"BitWriteWhoseReadBacksAllFail", Procedure::kReadModifyWrite, false, Times(5, kRd, kNone), 1},
    {"BitWriteLosingItsAcknowledgement", Procedure::kReadModifyWrite, false,
     Then({{kRd, kGood}, {kWr, kNone}}, Times(4, kRd, kBad)), 2},
    {"BitWriteRecovered", Procedure::kReadModifyWrite, false, {{kRd, kBad}, {kRd, kGood}, {kWr, kGood}}, 0},
    {"BitWriteWithoutReadBack", Procedure::kReadModifyWrite, false, {{kWr, kGood}}, -1},
    // N2 Open: initialisation first, the last item attempt decides, and a bad
    // reply brings the initialisation again.
    {"N2OpenFirstRead", Procedure::kN2OpenRead, false, Then(kInitOk, {{kItem, kGood}}), 0},
    {"N2OpenReadOfAnInitialisedStation", Procedure::kN2OpenRead, true, {{kItem, kGood}}, 0},
    {"N2OpenStationNeverAnswering", Procedure::kN2OpenRead, false, Then(Times(5, kId, kNone), Times(5, kSt, kNone)), 2},
    {"N2OpenIdentifyRefused", Procedure::kN2OpenRead, false, Then(Times(5, kId, kBad), {{kSt, kGood}}), 1},
    {"N2OpenReadRefusedThenInitialisedAgain", Procedure::kN2OpenRead, true, Then(Times(5, kItem, kBad), kInitOk), 1},
    {"N2OpenReadSilentLast", Procedure::kN2OpenRead, true, Then(Times(4, kItem, kBad), {{kItem, kNone}}), 2},
    {"N2OpenWriteRefusedAndNoAnswerToTheInit", Procedure::kN2OpenWrite, true,
     Then(Times(5, kOut, kBad), Then({{kId, kGood}}, Times(5, kSt, kNone))), 2},
    {"N2OpenReadWithoutTheInitialisation", Procedure::kN2OpenRead, false, {{kItem, kGood}}, -1},
    // Warm starts always end 0.
    {"N2OpenWarmStartUnanswered", Procedure::kN2OpenInit, false, Then(Times(5, kId, kNone), Times(5, kSt, kNone)), 0},
    {"System91WarmStart", Procedure::kNone, false, {}, 0},
    {"System91WarmStartSendingSomething", Procedure::kNone, false, {{kRd, kGood}}, -1},
};

class RankedStatus : public ::testing::TestWithParam<Row> {};

TEST_P(RankedStatus, IsTheOneTheRulesGive) {
  const Row &row = GetParam();
  soak::Plan plan;
  plan.procedure = row.procedure;
  plan.initialised = row.initialised;
  const bool n2open = row.procedure == Procedure::kN2OpenRead || row.procedure == Procedure::kN2OpenWrite ||
                      row.procedure == Procedure::kN2OpenInit;
  plan.station = n2open ? 5 : 1;
  plan.frame = row.procedure == Procedure::kSystem91Read  ? kRd
               : row.procedure == Procedure::kN2OpenRead  ? kItem
               : row.procedure == Procedure::kN2OpenWrite ? kOut
                                                          : kWr;
  std::vector<ExchangeRecord> records;
  for (const auto &[frame, step] : row.exchanges) records.push_back(Exchange(frame, step));
  const soak::Verdict verdict = soak::Judge(plan, records, kTimeoutMs);
  EXPECT_FALSE(verdict.loose);
  if (row.status < 0) {
    EXPECT_FALSE(verdict.problem.empty());
  } else {
    EXPECT_EQ(verdict.problem, "");
    EXPECT_EQ(verdict.allowed, std::vector<int32_t>{row.status});
  }
}

INSTANTIATE_TEST_SUITE_P(Exchanges, RankedStatus, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row> &c) { return std::string(c.param.name); });

TEST(RankedStatus, ALateReplyLeavesTheStatusOpenButNotTheFrames) {
  soak::Plan plan;
  plan.procedure = Procedure::kSystem91Read;
  plan.station = 1;
  plan.frame = kRd;
  std::vector<ExchangeRecord> records = {Exchange(kRd, kLate), Exchange(kRd, kGood)};
  soak::Verdict verdict = soak::Judge(plan, records, kTimeoutMs);
  EXPECT_TRUE(verdict.loose);
  EXPECT_EQ(verdict.allowed, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(verdict.problem, "");

  records.push_back(Exchange(kWr, kGood));  // no write has a place in a read
  EXPECT_FALSE(soak::Judge(plan, records, kTimeoutMs).problem.empty());
  records = std::vector<ExchangeRecord>(6, Exchange(kRd, kLate));
  EXPECT_FALSE(soak::Judge(plan, records, kTimeoutMs).problem.empty()) << "six attempts";

  plan.procedure = Procedure::kN2OpenInit;
  plan.station = 5;
  records = {Exchange(kId, kLate), Exchange(kSt, kGood)};
  EXPECT_EQ(soak::Judge(plan, records, kTimeoutMs).allowed, std::vector<int32_t>{0}) << "a warm start ends 0";
}

TEST(RankedStatus, AStationRestartIsNoted) {
  soak::Plan plan;
  plan.procedure = Procedure::kSystem91Read;
  plan.station = 1;
  plan.frame = kRd;
  std::vector<ExchangeRecord> records = {Exchange(kRd, kNone), Exchange(kRd, kGood)};
  records[0].kind = "reset";
  const soak::Verdict verdict = soak::Judge(plan, records, kTimeoutMs);
  EXPECT_TRUE(verdict.resetSeen);
  EXPECT_EQ(verdict.allowed, std::vector<int32_t>{0});
}

// ---- what a request may change -------------------------------------------------

soak::PlantState Plant() {
  soak::PlantState state;
  state.items[1] = {{100, 0x00F0}, {101, 0x1234}};
  state.schedules[1].assign(soak::ScheduleSlot(8, 0), 0);
  state.clocks[1].offset = 0;
  state.objects[{3, 1}] = soak::N2OpenObject{10, 12.5, true};
  state.objects[{3, 2}] = soak::N2OpenObject{20, 0, false};
  return state;
}

TEST(ChangesOutside, ABitWriteMayChangeItsBitAndNothingElse) {
  soak::Allowance bit;
  bit.station = 1;
  bit.address = 100;
  bit.mask = 0x0008;
  soak::PlantState after = Plant();
  after.items[1][100] = 0x00F8;
  EXPECT_TRUE(soak::ChangesOutside(Plant(), after, bit).empty());
  after.items[1][100] = 0x00F9;  // a neighbour bit too
  EXPECT_EQ(soak::ChangesOutside(Plant(), after, bit).size(), 1u);
  after.items[1][100] = 0x00F8;
  after.items[1][101] = 0x1235;  // the next item
  EXPECT_EQ(soak::ChangesOutside(Plant(), after, bit).size(), 1u);
}

TEST(ChangesOutside, ScheduleClockAndObjectsOnlyWhereAllowed) {
  soak::PlantState after = Plant();
  after.schedules[1][soak::ScheduleSlot(0, 5)] = 450;
  after.clocks[1].offset = 3600;
  after.objects[{3, 2}].forced = 7;
  after.objects[{3, 2}].overridden = true;
  EXPECT_EQ(soak::ChangesOutside(Plant(), after, soak::Allowance()).size(), 3u);
  soak::Allowance all;
  all.station = 1;
  all.schedule = 0;
  all.offset = 5;
  all.clock = true;
  all.region = 3;
  all.element = 2;
  EXPECT_TRUE(soak::ChangesOutside(Plant(), after, all).empty());
}

TEST(ChangesOutside, AReleasedOverrideIsAllowedOnlyAfterARestart) {
  soak::PlantState after = Plant();
  after.objects[{3, 1}].overridden = false;
  soak::Allowance none;
  EXPECT_EQ(soak::ChangesOutside(Plant(), after, none).size(), 1u);
  none.releases = true;
  EXPECT_TRUE(soak::ChangesOutside(Plant(), after, none).empty());
  after.objects[{3, 1}].forced = 1;  // a restart changes no value
  EXPECT_EQ(soak::ChangesOutside(Plant(), after, none).size(), 1u);
}

}  // namespace
