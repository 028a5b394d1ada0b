// The write frame of every kind of System 91 point, end to end: the host's
// command 7 through ZamMain, a scripted station on a pseudo-terminal, every
// request line checked byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "n2/point_tables.h"
#include "n2/write.h"
#include "tests/write_test_helpers.h"

namespace {

using write_test::HostValue;
using write_test::WriteOutcome;

class WriteRoutinesTest : public write_test::WriteChannelTest {
 protected:
  // One write routine on its own, with the block as its request's: status 0
  // when it handed its frame to the send step (nothing reads the reply).
  template <typename Routine>
  WriteOutcome RunRoutine(ReadWriteBlock block, std::vector<DeviceStep> steps, Routine routine) {
    return Exchange(std::move(steps), [&] {
      DriverRequest request = {};
      request.context = channel_.context();
      request.command = kCmdSingleWrite;
      request.parameters = &block;
      return routine(&request) ? 0 : 1;
    });
  }
};

// The worked frames of the protocol documentation, as literal text.
TEST_F(WriteRoutinesTest, WorkedFramesGoOutByteForByte) {
  struct Case {
    const char *gas;
    int32_t dataType;
    HostValue value;
    const char *frame;
  };
  const Case cases[] = {
      {"001GCACO1", kGateReal, HostValue::Real(1.0f), ">01C02200148582D4"},
      {"001TS01START1", kGateInt32, HostValue::Long(450), ">01D810050000300703D60A"},
      {"001RTCLTIME", kGateInt32, HostValue::Long(45296), ">01D80105021234566F1219"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.gas);
    WriteOutcome out = Write(c.gas, c.dataType, c.value, {Answer(c.frame, "A")});
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.sent, std::vector<std::string>{c.frame});
    EXPECT_TRUE(out.mismatches.empty());
    EXPECT_TRUE(out.messages.empty());
  }
}

struct ReadModifyWriteCase {
  const char *gas;
  int32_t dataType;
  uint16_t value;                // the host's 16-bit value
  std::vector<uint8_t> read;     // message bytes of the read-back
  const char *readBack;          // data digits of the station's reply, low byte first
  std::vector<uint8_t> write;    // message bytes of the write
};

void ExpectReadThenWrite(const ReadModifyWriteCase &c,
                         const std::function<WriteOutcome(std::vector<DeviceStep>)> &run) {
  const std::string read = System91Frame(c.read);
  const std::string write = System91Frame(c.write);
  WriteOutcome out = run({Answer(read, DataReply(c.readBack)), Answer(write, "A")});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.sent, (std::vector<std::string>{read, write}));
  EXPECT_TRUE(out.mismatches.empty()) << ::testing::PrintToString(out.mismatches);
  EXPECT_TRUE(out.messages.empty()) << ::testing::PrintToString(out.messages);
}

TEST_F(WriteRoutinesTest, BitWritesChangeOnlyTheirBitOfTheItemReadBack) {
  const ReadModifyWriteCase cases[] = {
      // Type 40 (bit of a byte): PM01 HDC4 is bit 3 of address 64 + 70 = 0x86.
      {"001PM01HDC4", kGateDigital, 1, {0x01, 0x80, 0x86}, "01", {0x01, 0xC0, 0x86, 0x09}},
      {"001PM01HDC4", kGateDigital, 0, {0x01, 0x80, 0x86}, "0F", {0x01, 0xC0, 0x86, 0x07}},
      // Any nonzero host word sets the bit, even one whose low byte is 0.
      {"001PM01HDC4", kGateDigital, 0x0100, {0x01, 0x80, 0x86}, "00", {0x01, 0xC0, 0x86, 0x08}},
      // Type 80 (bit of a word): DCO13 is bit 12 of address 10; two data bytes.
      {"001GCDCO13", kGateDigital, 1, {0x01, 0x80, 0x0A}, "0100", {0x01, 0xC0, 0x0A, 0x01, 0x10}},
      {"001GCDCO13", kGateDigital, 0, {0x01, 0x80, 0x0A}, "FFFF", {0x01, 0xC0, 0x0A, 0xFF, 0xEF}},
      {"001GCSSA", kGateDigital, 1, {0x01, 0x80, 0x01}, "0000", {0x01, 0xC0, 0x01, 0x00, 0x80}},
      // Full address form: AO01 OUH at 1344 + 7 = 0x547, PM11 NEXT at 1024 + 1.
      {"001AO01OUH", kGateDigital, 1, {0x01, 0x84, 0x47, 0x05}, "00", {0x01, 0xC4, 0x47, 0x05, 0x01}},
      {"001PM11NEXT", kGateDigital, 1, {0x01, 0x84, 0x01, 0x04}, "3412",
       {0x01, 0xC4, 0x01, 0x04, 0x34, 0x92}},
      // XT9100 station 30 (0x1E) and TC9100 station 45 (0x2D).
      {"030XP01DO3", kGateDigital, 1, {0x1E, 0x80, 0x07}, "00", {0x1E, 0xC0, 0x07, 0x04}},
      {"045TCGCRTCR", kGateDigital, 1, {0x2D, 0x80, 0xA7}, "0000", {0x2D, 0xC0, 0xA7, 0x40, 0x00}},
  };
  for (const ReadModifyWriteCase &c : cases) {
    SCOPED_TRACE(std::string(c.gas) + " value " + std::to_string(c.value) + " read back " + c.readBack);
    ExpectReadThenWrite(c, [&](std::vector<DeviceStep> steps) {
      return Write(c.gas, c.dataType, HostValue::Word(c.value), std::move(steps));
    });
  }
}

TEST_F(WriteRoutinesTest, FieldWritesReplaceOnlyTheirFieldOfTheItemReadBack) {
  const ReadModifyWriteCase cases[] = {
      // Type 150, bits 12..14 of DST1DY at 272 (page 1, 0x10): 0x7FFF with 2
      // becomes 0x2FFF.
      {"045TCGCDST1DY", kGateInt16, 2, {0x2D, 0x81, 0x10}, "FF7F", {0x2D, 0xC1, 0x10, 0xFF, 0x2F}},
      // Type 90, bits 0..1 of a byte item: only the low two bits of 7 go in.
      {"045TCGCMODC", kGateInt16, 7, {0x2D, 0x80, 0x25}, "00", {0x2D, 0xC0, 0x25, 0x03}},
      {"045TCGCMODC", kGateInt16, 0, {0x2D, 0x80, 0x25}, "FF", {0x2D, 0xC0, 0x25, 0xFC}},
      // Types 160, 170, 180 share the word at 158 (0x9E): minutes, hours, weekday.
      {"045TCGCMIN", kGateInt16, 0, {0x2D, 0x80, 0x9E}, "FFFF", {0x2D, 0xC0, 0x9E, 0xC0, 0xFF}},
      {"045TCGCMIN", kGateInt16, 0x7F, {0x2D, 0x80, 0x9E}, "0000", {0x2D, 0xC0, 0x9E, 0x3F, 0x00}},
      {"045TCGCHOUR", kGateInt16, 23, {0x2D, 0x80, 0x9E}, "0000", {0x2D, 0xC0, 0x9E, 0x00, 0x17}},
      {"045TCGCHOUR", kGateInt16, 0, {0x2D, 0x80, 0x9E}, "FFFF", {0x2D, 0xC0, 0x9E, 0xFF, 0xE0}},
      {"045TCGCWDAY", kGateInt16, 7, {0x2D, 0x80, 0x9E}, "FF1F", {0x2D, 0xC0, 0x9E, 0xFF, 0xFF}},
      {"045TCGCWDAY", kGateInt16, 0, {0x2D, 0x80, 0x9E}, "FFFF", {0x2D, 0xC0, 0x9E, 0xFF, 0x1F}},
  };
  for (const ReadModifyWriteCase &c : cases) {
    SCOPED_TRACE(std::string(c.gas) + " value " + std::to_string(c.value) + " read back " + c.readBack);
    ExpectReadThenWrite(c, [&](std::vector<DeviceStep> steps) {
      return Write(c.gas, c.dataType, HostValue::Word(c.value), std::move(steps));
    });
  }
}

// Type codes 100..140 name fields no table point uses; the routine is given
// the type code directly, on the word at 272 of the TC9100.
TEST_F(WriteRoutinesTest, FieldTypesWithoutTablePointsWriteTheirOwnBits) {
  struct Case {
    uint16_t type;
    uint16_t value;
    const char *readBack;
    std::vector<uint8_t> data;
  };
  const Case cases[] = {
      {100, 3, "00", {0x0C}},       {100, 7, "00", {0x0C}},       {100, 0, "FF", {0xF3}},
      {110, 3, "00", {0x30}},       {110, 0, "FF", {0xCF}},       {120, 3, "00", {0xC0}},
      {120, 0, "FF", {0x3F}},       {130, 3, "0000", {0x00, 0x03}}, {130, 0, "FFFF", {0xFF, 0xFC}},
      {140, 3, "0000", {0x00, 0x0C}}, {140, 0, "FFFF", {0xFF, 0xF3}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type) + " value " + std::to_string(c.value));
    HostValue value = HostValue::Word(c.value);
    ReadWriteBlock block = ParsedBlock("045TCGCDST1DY", kGateInt16, value.bytes);
    block.gas = "045TCGCDST1DY";
    DriverRequest request{};
    request.context = channel_.context();
    request.command = kCmdSingleWrite;
    request.parameters = &block;
    std::vector<uint8_t> write = {0x2D, 0xC1, 0x10};
    write.insert(write.end(), c.data.begin(), c.data.end());
    ReadModifyWriteCase rmw{"045TCGCDST1DY", kGateInt16, c.value, {0x2D, 0x81, 0x10}, c.readBack, write};
    ExpectReadThenWrite(rmw, [&](std::vector<DeviceStep> steps) {
      return Exchange(std::move(steps), [&] { return WriteWordField(&request, c.type) ? 0 : 1; });
    });
  }
}

TEST_F(WriteRoutinesTest, WordWriteWithoutAFieldOfItsTypeSendsNothing) {
  HostValue value = HostValue::Word(1);
  ReadWriteBlock block = ParsedBlock("045TCGCDST1DY", kGateInt16, value.bytes);
  block.gas = "045TCGCDST1DY";
  DriverRequest request{};
  request.context = channel_.context();
  request.parameters = &block;
  for (uint16_t type : {30, 40, 60, 80, 95, 190}) {
    SCOPED_TRACE(type);
    WriteOutcome out = Exchange({}, [&] { return WriteWordField(&request, type) ? 0 : 1; });
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(out.sent.empty());
  }
}

// Types 50 and 70 are whole words: the host's value replaces the word read
// back, so bits can be cleared as well as set. Writing DST1M1 whole also
// writes DST1DY (bits 12..14 of the same word): that is the whole word.
TEST_F(WriteRoutinesTest, WholeWordPointsAreWrittenAsTheHostsValue) {
  const ReadModifyWriteCase cases[] = {
      {"030XP01DOPT", kGateInt16, 0x1234, {0x1E, 0x80, 0x44}, "FFFF", {0x1E, 0xC0, 0x44, 0x34, 0x12}},
      {"030XP02DOPT", kGateInt16, 0x0000, {0x1E, 0x80, 0x44}, "FFFF", {0x1E, 0xC0, 0x44, 0x00, 0x00}},
      // DO03 "DO@" at 1376 + 1 = 0x561, full address form.
      {"001DO03DO@", kGateInt16, 0x00F0, {0x01, 0x84, 0x61, 0x05}, "0F0F",
       {0x01, 0xC4, 0x61, 0x05, 0xF0, 0x00}},
      {"045TCGCDST1M1", kGateInt16, 0x0003, {0x2D, 0x81, 0x10}, "FF7F", {0x2D, 0xC1, 0x10, 0x03, 0x00}},
  };
  for (const ReadModifyWriteCase &c : cases) {
    SCOPED_TRACE(c.gas);
    ExpectReadThenWrite(c, [&](std::vector<DeviceStep> steps) {
      return Write(c.gas, c.dataType, HostValue::Word(c.value), std::move(steps));
    });
  }
}

struct DirectWriteCase {
  const char *gas;
  int32_t dataType;
  HostValue value;
  std::vector<uint8_t> write;  // message bytes of the one frame sent
};

void ExpectSingleFrame(const DirectWriteCase &c, const WriteOutcome &out) {
  const std::string write = System91Frame(c.write);
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.sent, std::vector<std::string>{write});
  EXPECT_TRUE(out.mismatches.empty()) << ::testing::PrintToString(out.mismatches);
  EXPECT_TRUE(out.messages.empty()) << ::testing::PrintToString(out.messages);
}

TEST_F(WriteRoutinesTest, LongWritesSendFourBytesLowByteFirst) {
  const DirectWriteCase cases[] = {
      {"001GCCNTR1", kGateInt32, HostValue::Long(100000), {0x01, 0xC0, 0x0D, 0xA0, 0x86, 0x01, 0x00}},
      {"001GCCNTR8", kGateInt32, HostValue::Long(-1), {0x01, 0xC0, 0x14, 0xFF, 0xFF, 0xFF, 0xFF}},
      // PM12 RT1 at 1120 + 73 = 0x4A9 and XT01 XTDIC1 at 1472 + 61 = 0x5FD: full form.
      {"001PM12RT1", kGateInt32, HostValue::Long(0x12345678),
       {0x01, 0xC4, 0xA9, 0x04, 0x78, 0x56, 0x34, 0x12}},
      {"001XT01XTDIC1", kGateInt32, HostValue::Long(7), {0x01, 0xC4, 0xFD, 0x05, 0x07, 0x00, 0x00, 0x00}},
  };
  for (const DirectWriteCase &c : cases) {
    SCOPED_TRACE(c.gas);
    const std::string frame = System91Frame(c.write);
    ExpectSingleFrame(c, Write(c.gas, c.dataType, c.value, {Answer(frame, "A")}));
  }
}

TEST_F(WriteRoutinesTest, ScheduleWritesSendDaysOrBcdTimesToTheirSchedule) {
  const DirectWriteCase cases[] = {
      // DAYS1 of TS03 (offset 7, schedule byte 2): days 1, 3, 5.
      {"001TS03DAYS1", kGateInt32, HostValue::Long(135), {0x01, 0xD8, 0x10, 0x07, 0x00, 0x02, 0x15, 0x00}},
      {"001TS01DAYS8", kGateInt32, HostValue::Long(0), {0x01, 0xD8, 0x10, 0x1C, 0x00, 0x00, 0x7F, 0x00}},
      {"001TS01DAYS8", kGateInt32, HostValue::Long(18), {0x01, 0xD8, 0x10, 0x1C, 0x00, 0x00, 0x80, 0x00}},
      // START2 of TS08 (offset 8, schedule byte 7): 90 minutes is 01:30.
      {"001TS08START2", kGateInt32, HostValue::Long(90), {0x01, 0xD8, 0x10, 0x08, 0x00, 0x07, 0x30, 0x01}},
      {"001TS01END1", kGateInt32, HostValue::Long(0), {0x01, 0xD8, 0x10, 0x06, 0x00, 0x00, 0x00, 0x00}},
      {"001TS01END1", kGateInt32, HostValue::Long(1380), {0x01, 0xD8, 0x10, 0x06, 0x00, 0x00, 0x00, 0x23}},
      // 23:59 goes out as 24:00, like 1440 itself.
      {"001TS01END1", kGateInt32, HostValue::Long(1439), {0x01, 0xD8, 0x10, 0x06, 0x00, 0x00, 0x00, 0x24}},
      {"001TS01END1", kGateInt32, HostValue::Long(1440), {0x01, 0xD8, 0x10, 0x06, 0x00, 0x00, 0x00, 0x24}},
  };
  for (const DirectWriteCase &c : cases) {
    SCOPED_TRACE(c.gas);
    const std::string frame = System91Frame(c.write);
    ExpectSingleFrame(c, Write(c.gas, c.dataType, c.value, {Answer(frame, "A")}));
  }
}

TEST_F(WriteRoutinesTest, ScheduleTimeAbove1440IsRefusedOnEveryAttemptWithoutAFrame) {
  for (int32_t minutes : {1441, -1}) {
    SCOPED_TRACE(minutes);
    WriteOutcome out = Write("001TS01START1", kGateInt32, HostValue::Long(minutes), {});
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(out.sent.empty());
    EXPECT_EQ(out.messages, write_test::Concat<std::string>({
                                write_test::Repeat("ZAMKT: Value exceeds 1440 sec! Gate 001TS01START1", 5),
                                {"ZAMKT: Single Write failed! GAS=001TS01START1"},
                            }));
  }
}

TEST_F(WriteRoutinesTest, ClockWritesSendBcdTimeAndDate) {
  const DirectWriteCase cases[] = {
      {"001RTCLTIME", kGateInt32, HostValue::Long(0), {0x01, 0xD8, 0x01, 0x05, 0x02, 0x00, 0x00, 0x00}},
      {"001RTCLTIME", kGateInt32, HostValue::Long(86399), {0x01, 0xD8, 0x01, 0x05, 0x02, 0x23, 0x59, 0x59}},
      // Day 1 is 1 January 1980, day 9732 is 23 August 2006, day 7306 is 1 January 2000.
      {"001RTCLDATE", kGateInt32, HostValue::Long(1), {0x01, 0xD8, 0x01, 0x01, 0x02, 0x80, 0x01, 0x01}},
      {"001RTCLDATE", kGateInt32, HostValue::Long(9732), {0x01, 0xD8, 0x01, 0x01, 0x02, 0x06, 0x08, 0x23}},
      {"001RTCLDATE", kGateInt32, HostValue::Long(7306), {0x01, 0xD8, 0x01, 0x01, 0x02, 0x00, 0x01, 0x01}},
      // The last day the device's year and the read side hold: 31 December 2038.
      {"001RTCLDATE", kGateInt32, HostValue::Long(21550), {0x01, 0xD8, 0x01, 0x01, 0x02, 0x38, 0x12, 0x31}},
  };
  for (const DirectWriteCase &c : cases) {
    SCOPED_TRACE(System91Frame(c.write));
    const std::string frame = System91Frame(c.write);
    ExpectSingleFrame(c, Write(c.gas, c.dataType, c.value, {Answer(frame, "A")}));
  }
}

// A clock value the device cannot keep, or the read side could not give
// back, is refused once before anything goes out: no frame, status 1.
TEST_F(WriteRoutinesTest, ClockValuesOutsideTheDayAndTheCalendarAreRefusedWithoutAFrame) {
  const struct {
    const char *gas;
    int32_t value;
    std::string message;
  } cases[] = {
      {"001RTCLTIME", 86400, "ZAMKT: Clock time 86400 s outside 0..86399! Gate 001RTCLTIME"},
      {"001RTCLTIME", 400000, "ZAMKT: Clock time 400000 s outside 0..86399! Gate 001RTCLTIME"},
      {"001RTCLTIME", -1, "ZAMKT: Clock time 4294967295 s outside 0..86399! Gate 001RTCLTIME"},
      {"001RTCLDATE", 0, "ZAMKT: Date 0 outside days 1..21550 (1980-01-01 to 2038-12-31)! Gate 001RTCLDATE"},
      {"001RTCLDATE", -5000, "ZAMKT: Date -5000 outside days 1..21550 (1980-01-01 to 2038-12-31)! Gate 001RTCLDATE"},
      {"001RTCLDATE", 21551, "ZAMKT: Date 21551 outside days 1..21550 (1980-01-01 to 2038-12-31)! Gate 001RTCLDATE"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message);
    WriteOutcome out = Write(c.gas, kGateInt32, HostValue::Long(c.value), {});
    EXPECT_EQ(out.status, 1);
    EXPECT_TRUE(out.sent.empty());
    EXPECT_EQ(out.messages,
              (std::vector<std::string>{c.message, std::string("ZAMKT: Single Write failed! GAS=") + c.gas}));
  }
}

// The routines take the device address from the block (SingleWrite has
// checked it against the point); the form follows it: paged with the page in
// the command byte up to 1023, full with both bytes from 1024 on.
TEST_F(WriteRoutinesTest, AddressFormFollowsTheDeviceAddressAcrossPageBoundaries) {
  struct Case {
    int32_t element;
    std::vector<uint8_t> head;  // station, command and address bytes
  };
  const Case cases[] = {
      {255, {0x01, 0xC0, 0xFF}},       {256, {0x01, 0xC1, 0x00}},       {511, {0x01, 0xC1, 0xFF}},
      {512, {0x01, 0xC2, 0x00}},       {767, {0x01, 0xC2, 0xFF}},       {1023, {0x01, 0xC3, 0xFF}},
      {1024, {0x01, 0xC4, 0x00, 0x04}}, {65535, {0x01, 0xC4, 0xFF, 0xFF}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.element);
    HostValue value = HostValue::Real(1.0f);
    ReadWriteBlock block = ParsedBlock("001GCACO1", kGateReal, value.bytes);
    block.gas = "001GCACO1";
    block.element = c.element;
    std::vector<uint8_t> write = c.head;
    write.insert(write.end(), {0x00, 0x14});
    const std::string frame = System91Frame(write);
    WriteOutcome out = RunRoutine(block, {Answer(frame, "A")}, [](DriverRequest *r) { return WriteReal(r); });
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.sent, std::vector<std::string>{frame});
    EXPECT_TRUE(out.mismatches.empty());
  }
}

TEST_F(WriteRoutinesTest, ReadBackUsesTheSameAddressFormAsTheWrite) {
  struct Case {
    int32_t element;
    std::vector<uint8_t> read;
    std::vector<uint8_t> write;
  };
  const Case cases[] = {
      {255, {0x01, 0x80, 0xFF}, {0x01, 0xC0, 0xFF, 0x01, 0x00}},
      {511, {0x01, 0x81, 0xFF}, {0x01, 0xC1, 0xFF, 0x01, 0x00}},
      {767, {0x01, 0x82, 0xFF}, {0x01, 0xC2, 0xFF, 0x01, 0x00}},
      {1023, {0x01, 0x83, 0xFF}, {0x01, 0xC3, 0xFF, 0x01, 0x00}},
      {1024, {0x01, 0x84, 0x00, 0x04}, {0x01, 0xC4, 0x00, 0x04, 0x01, 0x00}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.element);
    HostValue value = HostValue::Word(1);
    ReadWriteBlock block = ParsedBlock("001GCDCO1", kGateDigital, value.bytes);
    block.gas = "001GCDCO1";
    block.element = c.element;
    const std::string read = System91Frame(c.read);
    const std::string write = System91Frame(c.write);
    WriteOutcome out = RunRoutine(block, {Answer(read, DataReply("0000")), Answer(write, "A")},
                                  [](DriverRequest *r) { return WriteBit(r, kTypeBit16); });
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.sent, (std::vector<std::string>{read, write}));
    EXPECT_TRUE(out.mismatches.empty());
  }
}

}  // namespace
