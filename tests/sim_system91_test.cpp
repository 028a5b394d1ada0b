// A System 91 station of the simulator, request by request: every reply form,
// both address forms, block and area access, writes read back, and every way
// a request can be refused.
#include <gtest/gtest.h>
#include <time.h>

#include "sim/simulator.h"
#include "sim/system91_station.h"
#include "sim/wire.h"

using n2sim::Bytes;

namespace {

constexpr double kT0 = 1700000000.0;

constexpr const char *kPlant =
    "station 1 DX9100 dynamics=off\n"
    "value 1 AI01 HR 100.0\n"
    "value 1 GC ACO1 1.5\n"
    "value 1 @13 0x01020304\n"  // CNTR1
    "value 1 @6 0xA5\n"         // DI1..DI8
    "value 1 TS01 START1 07:30\n"
    "value 1 TS01 END1 18:00\n"
    "value 1 TS01 DAYS1 12345\n"
    "station 3 XT9100 dynamics=off\n"
    "station 4 TC9100 dynamics=off\n";

class SimSystem91 : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.SetTimeSource([this] { return now_; });
    std::string error;
    ASSERT_TRUE(sim_.LoadPlant(kPlant, &error)) << error;
  }

  // The reply line to the framed message, or "(silent)".
  std::string Ask(const Bytes &message) { return AskLine(n2sim::System91Request(message)); }
  std::string AskLine(const std::string &line) {
    const n2sim::ExchangeRecord record = sim_.Exchange(line);
    return record.delivery.silent ? "(silent)" : record.delivery.line;
  }
  // The data text of a data reply, after checking its form.
  std::string Data(const Bytes &message) {
    const std::string reply = Ask(message);
    EXPECT_GE(reply.size(), 9u) << reply;
    if (reply.size() < 9 || reply[0] != 'A') return "bad reply " + reply;
    const std::string middle = reply.substr(1, reply.size() - 3);
    EXPECT_EQ(reply.substr(reply.size() - 2), n2sim::HexByte(n2sim::CharSum(middle))) << reply;
    return reply.substr(1, reply.size() - 7);
  }

  n2sim::Simulator sim_;
  double now_ = kT0;
};

TEST_F(SimSystem91, MemoryReadsAnswerTheItemLowByteFirstInItsWidth) {
  struct {
    Bytes message;
    const char *data;
  } cases[] = {
      {{0x01, 0x80, 0x22}, "0016"},              // GC ACO1 = 1.5 (N2 real 0x1600)
      {{0x01, 0x84, 0xC1, 0x04}, "4076"},        // AI01 HR = 100.0 (0x7640), full form
      {{0x01, 0x80, 0x0D}, "04030201"},          // GC CNTR1, 4 bytes
      {{0x01, 0x80, 0x06}, "A5"},                // GC DI1..DI8, 1 byte
      {{0x01, 0x84, 0x22, 0x00}, "0016"},        // the full form below 1024 reaches the same item
      {{0x01, 0x81, 0x01}, "0000"},              // page 1: 257, PM03 SOFE..NEXT
  };
  sim_.WithSystem91(1, [](n2sim::System91Station *station) {
    station->memory().Store(*station->memory().Find(257), 0, kT0);
  });
  for (const auto &c : cases) EXPECT_EQ(Data(c.message), c.data) << n2sim::ToHex(c.message);
}

TEST_F(SimSystem91, ReadsDescribeTheItemForTheTrace) {
  const n2sim::ExchangeRecord record = sim_.Exchange(n2sim::System91Request({0x01, 0x84, 0xC1, 0x04}));
  EXPECT_EQ(record.kind, "mem-read");
  EXPECT_EQ(record.family, "DX9100");
  EXPECT_EQ(record.description, "memory read 1217 AI01 HR=0x7640 (100)");
  const std::string trace = n2sim::Simulator::FormatTrace(record);
  EXPECT_NE(trace.find("station 1 DX9100 mem-read: memory read 1217 AI01 HR"), std::string::npos) << trace;
}

TEST_F(SimSystem91, BlockReadsAnswerConsecutiveItemsEachInItsOwnWidth) {
  const std::string aco = Data({0x01, 0xA8, 0x22, 0x07});  // ACO1..ACO8
  ASSERT_EQ(aco.size(), 32u);
  EXPECT_EQ(aco.substr(0, 4), "0016");
  EXPECT_EQ(Data({0x01, 0xA8, 0x0D, 0x00}), "04030201");        // one item: count byte 0
  EXPECT_EQ(Data({0x01, 0xA8, 0x0D, 0x01}).size(), 16u);        // CNTR1, CNTR2
  EXPECT_EQ(Data({0x01, 0xAC, 0xC1, 0x04, 0x06}).substr(0, 4), "4076");  // AI01 HR..AI
  EXPECT_EQ(Data({0x01, 0xAC, 0xC1, 0x04, 0x06}).size(), 28u);
  EXPECT_EQ(sim_.Count("block-read"), 5u);
}

TEST_F(SimSystem91, BlockReadsOverAnAddressWithoutItemAreRefused) {
  EXPECT_EQ(Ask({0x01, 0xA8, 0x0C, 0x01}), "N10");  // 12 holds no item
  EXPECT_EQ(Ask({0x01, 0xA8, 0x2C, 0x02}), "N10");  // 44, 45, then 46 holds none
}

TEST_F(SimSystem91, WritesAreAcknowledgedAndReadBack) {
  struct {
    Bytes write;
    Bytes read;
    const char *data;
  } cases[] = {
      {{0x01, 0xC0, 0x22, 0x00, 0x14}, {0x01, 0x80, 0x22}, "0014"},                      // ACO1 = 1.0
      {{0x01, 0xC0, 0x0D, 0xA0, 0x86, 0x01, 0x00}, {0x01, 0x80, 0x0D}, "A0860100"},      // CNTR1 = 100000
      {{0x01, 0xC4, 0x06, 0x06, 0x09}, {0x01, 0x84, 0x06, 0x06}, "09"},                  // XT01 XTDO bits
      {{0x01, 0xC4, 0xC1, 0x04, 0x34, 0x12}, {0x01, 0x84, 0xC1, 0x04}, "3412"},          // AI01 HR
      {{0x01, 0xC0, 0x22, 0x00, 0x14, 0x00, 0x24}, {0x01, 0xA8, 0x22, 0x01}, "00140024"},  // ACO1, ACO2
      {{0x01, 0xC1, 0x01, 0x05, 0x80}, {0x01, 0x81, 0x01}, "0580"},                      // PM03 word, page 1
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Ask(c.write), "A") << n2sim::ToHex(c.write);
    EXPECT_EQ(Data(c.read), c.data) << n2sim::ToHex(c.write);
  }
  EXPECT_EQ(sim_.Count("mem-write"), 6u);
}

TEST_F(SimSystem91, BadWritesAreRefusedAndChangeNothing) {
  struct {
    Bytes write;
    const char *reply;
  } cases[] = {
      {{0x01, 0xC0, 0x06, 0x01}, "N11"},                    // GC DI1..DI8: inputs, read only
      {{0x01, 0xC0, 0x22, 0x14}, "N05"},                    // one byte for a two-byte item
      {{0x01, 0xC0, 0x22, 0x00, 0x14, 0x00}, "N05"},        // a byte too many
      {{0x01, 0xC0, 0x03, 0x00, 0x00}, "N10"},              // no item at 3
      {{0x01, 0xC0, 0x29, 0x00, 0x00, 0x00, 0x00}, "N10"},  // ACO8 at 41, then 42 holds none
      {{0x01, 0xC0, 0x2C, 0x00, 0x00}, "N11"},              // LRS33..LRS48: read only
      {{0x01, 0xC0, 0x22}, "N05"},                          // no data
  };
  for (const auto &c : cases) EXPECT_EQ(Ask(c.write), c.reply) << n2sim::ToHex(c.write);
  EXPECT_EQ(Data({0x01, 0x80, 0x22}), "0016");
  EXPECT_EQ(Data({0x01, 0x80, 0x06}), "A5");
}

TEST_F(SimSystem91, ScheduleAreaReadsGiveDecimalDigitText) {
  EXPECT_EQ(Data({0x01, 0x98, 0x10, 0x05, 0x00, 0x00}), "3007");  // TS01 START1 07:30
  EXPECT_EQ(Data({0x01, 0x98, 0x10, 0x06, 0x00, 0x00}), "0018");  // END1 18:00
  EXPECT_EQ(Data({0x01, 0x98, 0x10, 0x07, 0x00, 0x00}), "1F00");  // DAYS1 Monday..Friday
  EXPECT_EQ(Data({0x01, 0x98, 0x10, 0x05, 0x02, 0x00}), "300700181F00");
  EXPECT_EQ(Data({0x01, 0x98, 0x10, 0x1C, 0x00, 0x07}), "0000");  // TS08 DAYS8
}

TEST_F(SimSystem91, ScheduleAreaWritesTakeBcdTimesAndDayMasks) {
  // TS01 START1 07:30, as the protocol's worked write frame.
  EXPECT_EQ(AskLine(">01D810050000300703D60A"), "A");
  EXPECT_EQ(Ask({0x01, 0xD8, 0x10, 0x08, 0x00, 0x02, 0x00, 0x24}), "A");  // TS03 START2 24:00
  EXPECT_EQ(Data({0x01, 0x98, 0x10, 0x08, 0x00, 0x02}), "0024");
  EXPECT_EQ(Ask({0x01, 0xD8, 0x10, 0x07, 0x00, 0x02, 0x15, 0x00}), "A");  // TS03 DAYS1 1, 3, 5
  EXPECT_EQ(Data({0x01, 0x98, 0x10, 0x07, 0x00, 0x02}), "1500");
}

TEST_F(SimSystem91, BadScheduleRequestsAreRefused) {
  struct {
    Bytes message;
    const char *reply;
  } cases[] = {
      {{0x01, 0x98, 0x10, 0x05, 0x00, 0x08}, "N10"},                    // no TS09
      {{0x01, 0x98, 0x10, 0x04, 0x00, 0x00}, "N10"},                    // offset 4 is no schedule item
      {{0x01, 0x98, 0x10, 0x1C, 0x01, 0x00}, "N10"},                    // 28 and 29
      {{0x01, 0x98, 0x10, 0x05, 0x00}, "N05"},                          // schedule byte missing
      {{0x01, 0xD8, 0x10, 0x05, 0x00, 0x00, 0x60, 0x07}, "N05"},        // 60 minutes
      {{0x01, 0xD8, 0x10, 0x05, 0x00, 0x00, 0x30}, "N05"},              // one data byte
      {{0x01, 0xD8, 0x10, 0x07, 0x00, 0x00, 0x1F, 0x01}, "N05"},        // days: second byte not 0
      {{0x01, 0x98, 0x07, 0x05, 0x00, 0x00}, "N05"},                    // unknown area
      {{0x03, 0x98, 0x10, 0x05, 0x00, 0x00}, "N10"},                    // an XT9100 has no schedules
  };
  for (const auto &c : cases) EXPECT_EQ(Ask(c.message), c.reply) << n2sim::ToHex(c.message);
  EXPECT_EQ(Data({0x01, 0x98, 0x10, 0x05, 0x00, 0x00}), "3007");
}

TEST_F(SimSystem91, ClockAreaReadsFollowTheHostsLocalTime) {
  const time_t host = static_cast<time_t>(kT0);
  struct tm local;
  localtime_r(&host, &local);
  char date[16], time[16], weekday[8];
  strftime(date, sizeof date, "%y%m%d", &local);
  strftime(time, sizeof time, "%H%M%S", &local);
  snprintf(weekday, sizeof weekday, "0%d", local.tm_wday == 0 ? 7 : local.tm_wday);
  EXPECT_EQ(Data({0x01, 0x98, 0x01, 0x01, 0x02}), date);  // DATE: first item 1, three items
  EXPECT_EQ(Data({0x01, 0x98, 0x01, 0x05, 0x02}), time);  // TIME: first item 5, three items
  EXPECT_EQ(Data({0x01, 0x98, 0x01, 0x04, 0x00}), weekday);
  EXPECT_EQ(Data({0x01, 0x98, 0x01, 0x00, 0x00}), "20");
  now_ += 1;
  local.tm_sec += 1;
  timegm(&local);
  strftime(time, sizeof time, "%H%M%S", &local);
  EXPECT_EQ(Data({0x01, 0x98, 0x01, 0x05, 0x02}), time);
}

TEST_F(SimSystem91, ClockAreaWritesSetTheClockWhichThenRuns) {
  EXPECT_EQ(AskLine(">01D80105021234566F1219"), "A");  // TIME 12:34:56, the worked frame
  EXPECT_EQ(Data({0x01, 0x98, 0x01, 0x05, 0x02}), "123456");
  EXPECT_EQ(Ask({0x01, 0xD8, 0x01, 0x01, 0x02, 0x06, 0x08, 0x23}), "A");  // DATE 23 August 2006
  EXPECT_EQ(Data({0x01, 0x98, 0x01, 0x01, 0x02}), "060823");
  EXPECT_EQ(Data({0x01, 0x98, 0x01, 0x04, 0x00}), "03");  // a Wednesday
  now_ += 65;
  EXPECT_EQ(Data({0x01, 0x98, 0x01, 0x05, 0x02}), "123601");
}

TEST_F(SimSystem91, BadClockRequestsAreRefused) {
  struct {
    Bytes message;
    const char *reply;
  } cases[] = {
      {{0x01, 0x98, 0x01, 0x07, 0x01}, "N10"},                    // items 7 and 8
      {{0x01, 0xD8, 0x01, 0x00, 0x00, 0x20}, "N11"},              // the century follows the date
      {{0x01, 0xD8, 0x01, 0x04, 0x00, 0x01}, "N11"},              // so does the weekday
      {{0x01, 0xD8, 0x01, 0x05, 0x02, 0x24, 0x00, 0x00}, "N05"},  // 24:00:00
      {{0x01, 0xD8, 0x01, 0x05, 0x02, 0x1A, 0x00, 0x00}, "N05"},  // not BCD
      {{0x01, 0xD8, 0x01, 0x01, 0x02, 0x23, 0x02, 0x29}, "N05"},  // 29 February 2023
      {{0x01, 0xD8, 0x01, 0x05, 0x02, 0x12, 0x34}, "N05"},        // two data bytes for three items
      {{0x04, 0x98, 0x01, 0x01, 0x02}, "N10"},                    // a TC9100 has no such clock
  };
  for (const auto &c : cases) EXPECT_EQ(Ask(c.message), c.reply) << n2sim::ToHex(c.message);
}

TEST_F(SimSystem91, XtAndTcStationsAnswerFromTheirOwnTables) {
  EXPECT_EQ(Ask({0x03, 0xC0, 0x07, 0x81}), "A");  // XP01 DO1..DO8
  EXPECT_EQ(Data({0x03, 0x80, 0x07}), "81");
  EXPECT_EQ(Data({0x03, 0x80, 0x44}).size(), 4u);  // DOPT, a word
  EXPECT_EQ(Data({0x04, 0x80, 0x20}).size(), 2u);  // TCGC offset 32: MODS and bits share a byte
  EXPECT_EQ(Data({0x04, 0x80, 0x9E}).size(), 4u);  // TCGC offset 158: MIN, HOUR, WDAY
  EXPECT_EQ(Ask({0x03, 0x80, 0x00}), "N10");       // nothing at 0 on an XT9100
}

TEST_F(SimSystem91, MalformedFramesAreRefusedWithTheirError) {
  const std::string good = n2sim::System91Request({0x01, 0x80, 0x22});
  std::string badSum = good;
  badSum.back() = badSum.back() == '0' ? '1' : '0';
  auto withSum = [](const std::string &body) { return ">" + body + n2sim::HexByte(n2sim::CharSum(body)); };
  struct {
    std::string line;
    const char *reply;
  } cases[] = {
      {badSum, "N02"},
      {withSum("01802200" "00"), "N02"},                  // Fletcher check bytes wrong
      {withSum("0180105a14"), "N05"},                      // lower-case hex
      {withSum("0180105A1"), "N05"},                       // odd number of digits
      {withSum("0180105G14"), "N05"},                      // not hex
      {">0180105A14ZZ", "N05"},                            // frame sum not hex
      {withSum("0180"), "N05"},                            // too short for check bytes
      {n2sim::System91Request({0x01, 0x90, 0x00}), "N01"},  // unknown command
      {n2sim::System91Request({0x01, 0x80, 0x22, 0x00}), "N05"},  // memory read with a byte too many
      {n2sim::System91Request({0x01, 0xA8, 0x22}), "N05"},        // block read without count
      {n2sim::System91Request({0x01, 0x80, 0x03}), "N10"},        // no item at 3
      {good.substr(1), "N05"},                             // no start character
      {"", "N05"},
      {">Z180225A1405", "N05"},                            // no station address
  };
  for (const auto &c : cases) EXPECT_EQ(AskLine(c.line), c.reply) << c.line;
  EXPECT_EQ(sim_.Count("garbled"), 3u);
}

TEST_F(SimSystem91, StationsNotOnTheBusStaySilent) {
  EXPECT_EQ(Ask({0x02, 0x80, 0x22}), "(silent)");
  EXPECT_EQ(AskLine(">02ZZ"), "(silent)");  // even a garbled frame: it is not for us
  EXPECT_EQ(sim_.Count("unaddressed"), 2u);
  EXPECT_EQ(sim_.Count("silent"), 2u);
  EXPECT_EQ(sim_.Handle(n2sim::System91Request({0x02, 0x80, 0x22})), "");
}

TEST_F(SimSystem91, HandleGivesTheBytesOnTheWireAndTakesATrailingCr) {
  const std::string wire = sim_.Handle(n2sim::System91Request({0x01, 0x80, 0x22}) + "\r");
  EXPECT_EQ(wire, n2sim::System91DataReply("0016") + "\r");
}

}  // namespace
