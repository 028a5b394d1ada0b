// Decoding of System 91 read replies into the host's value buffer. Every
// data field is handed over in a heap buffer of exactly its length plus the
// terminator, so that a sanitizer build catches any read past the field.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "n2/decode.h"
#include "n2/point_tables.h"
#include "n2/protocol.h"

namespace {

// The text in a buffer of exactly its size: nothing readable lies behind the
// terminator.
class ExactText {
 public:
  explicit ExactText(const std::string &text) : chars_(new char[text.size() + 1]) {
    memcpy(chars_.get(), text.c_str(), text.size() + 1);
  }
  const char *get() const { return chars_.get(); }

 private:
  std::unique_ptr<char[]> chars_;
};

float N2Real(const std::string &text) { return N2FloatToReal(ExactText(text).get()); }

// A host value buffer of 32 x 4 bytes, pre-filled with a pattern so that
// bytes the decoder must not touch can be checked.
struct ValueBuffer {
  static constexpr uint8_t kUntouched = 0xA5;
  uint8_t bytes[128];
  ValueBuffer() { memset(bytes, kUntouched, sizeof bytes); }
  uint16_t Word(size_t offset) const {
    uint16_t v;
    memcpy(&v, bytes + offset, 2);
    return v;
  }
  int32_t Long(size_t offset) const {
    int32_t v;
    memcpy(&v, bytes + offset, 4);
    return v;
  }
  float Real(size_t offset) const {
    float v;
    memcpy(&v, bytes + offset, 4);
    return v;
  }
  bool UntouchedFrom(size_t offset) const {
    for (size_t i = offset; i < sizeof bytes; ++i) {
      if (bytes[i] != kUntouched) return false;
    }
    return true;
  }
  bool Untouched(size_t offset, size_t count) const {
    for (size_t i = offset; i < offset + count; ++i) {
      if (bytes[i] != kUntouched) return false;
    }
    return true;
  }
};

// A read block as the host builds it from the parse results.
ReadWriteBlock Gate(const char *gas, int32_t dataType, int32_t items, void *value, int32_t region = kSpecialNone,
                    int32_t bit = kNoBit) {
  ReadWriteBlock block = {};
  block.gas = gas;
  block.station = 1;
  block.region = region;
  block.bit = bit;
  block.dataType = dataType;
  block.itemCount = items;
  block.value = value;
  return block;
}

void Store(ReadWriteBlock *block, const std::string &data, uint16_t type) {
  ExactText field(data);
  StoreData(block, field.get(), static_cast<uint16_t>(data.size()), type);
}

// ---- conversions ------------------------------------------------------------

TEST(N2FloatToReal, DecodesTheDevicesSixteenBitReals) {
  struct Row {
    const char *text;
    float value;
    bool negative;
  };
  const Row rows[] = {
      {"64B0", 100.0f, false},          // e 11, m 100
      {"64B8", -100.0f, true},          // sign bit 11
      {"03A0", 1.5f, false},            // e 10, m 3
      {"0004", 0.5f, false},            // e 0, m 1024
      {"FF07", 0.99951171875f, false},  // e 0, every mantissa bit
      {"FFF7", 32752.0f, false},        // largest magnitude
      {"0000", 0.0f, false},
      {"0008", -0.0f, true},            // sign over a zero mantissa: minus zero
      {"0014", 1.0f, false},
      {"002D", -2.5f, true},
      {"6C55", 21.6875f, false},
      {"FEF7", 32736.0f, false},
      {"0100", 1.0f / 2048, false},     // smallest step
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    const float value = N2Real(row.text);
    EXPECT_EQ(value, row.value);
    EXPECT_EQ(std::signbit(value), row.negative);
  }
}

TEST(AsciiHexToVal, ConvertsPairsHighNibbleFirstWithoutCheckingCharacters) {
  struct Row {
    const char *text;
    int n;
    std::vector<uint8_t> bytes;
  };
  const Row rows[] = {
      {"3412", 2, {0x34, 0x12}},
      {"00FF", 2, {0x00, 0xFF}},
      {"A5", 1, {0xA5}},
      {"10270000", 4, {0x10, 0x27, 0x00, 0x00}},
      {"ff", 1, {0x1F}},  // lower case is not hex: ('f' - 55) * 16 + ('f' - 55), 8 bits
      {"0G", 1, {0x10}},  // 'G' - 55 = 16
      {"G0", 1, {0x00}},  // 16 x 16, kept to 8 bits
      {"3412", 1, {0x34}},  // reads exactly 2n characters
      // A short text stops at its terminator; missing digits count as '0'.
      {"3", 2, {0x30, 0x00}},
      {"", 1, {0x00}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    std::vector<uint8_t> bytes(row.n, 0xEE);
    AsciiHexToVal(ExactText(row.text).get(), bytes.data(), row.n);
    EXPECT_EQ(bytes, row.bytes);
  }
}

TEST(AsciiHexToVal, NeverLooksBehindTheTerminator) {
  const char text[] = {'1', '2', '\0', 'F', 'F'};
  uint8_t bytes[2] = {0xEE, 0xEE};
  AsciiHexToVal(text, bytes, 2);
  EXPECT_EQ(bytes[0], 0x12);
  EXPECT_EQ(bytes[1], 0x00);
}

TEST(IntPow, MultipliesInSixteenBits) {
  struct Row {
    uint16_t base, n, result;
  };
  const Row rows[] = {
      {2, 0, 1}, {2, 1, 2}, {2, 11, 2048}, {10, 4, 10000}, {2, 16, 0}, {3, 11, 46075}, {0, 0, 1}, {0, 3, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.base) + "^" + std::to_string(row.n));
    EXPECT_EQ(IntPow(row.base, row.n), row.result);
  }
}

TEST(BinaryFraction, SumsTheHalvesTheMaskWalksOver) {
  struct Row {
    uint16_t bits, mask;
    float sum;
  };
  const Row rows[] = {
      {0x400, 0x400, 0.5f},
      {0x7FF, 0x400, 0.99951171875f},
      {0x001, 0x400, 1.0f / 2048},
      {0x001, 0x001, 0.5f},
      {0x003, 0x002, 0.75f},
      {0x000, 0x400, 0.0f},
      {0xFFFF, 0x8000, 0.99951171875f},  // only 11 steps
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.bits) + "/" + std::to_string(row.mask));
    EXPECT_EQ(BinaryFraction(row.bits, row.mask), row.sum);
  }
}

TEST(DecodeWordField, ExtractsTheFieldOfEachTypeCode) {
  struct Row {
    uint16_t type;
    const char *data;
    uint16_t value;
  };
  const Row rows[] = {
      {kTypeWeekday, "00E0", 7},    // 0xE000
      {kTypeMinutes, "3B00", 59},   // 0x003B
      {kTypeHours, "0017", 23},     // 0x1700
      {kTypeWord, "7F", 127},       // a 2-character field is one byte
      {kTypeWord, "3412", 0x1234},  // low byte first
      {kTypeWord70, "FFFF", 0xFFFF},
      {kTypeField0, "0300", 3},
      {kTypeField0, "07", 3},
      {kTypeField2, "0C00", 3},
      {kTypeField2, "F300", 0},
      {kTypeField4, "3000", 3},
      {kTypeField6, "C000", 3},
      {kTypeField8, "0003", 3},
      {kTypeField8, "FFFC", 0},
      {kTypeField10, "000C", 3},
      {kTypeField12, "0070", 7},
      {kTypeField12, "0080", 0},    // bit 15 lies outside the field
      {kTypeMinutes, "FFFF", 63},
      {kTypeHours, "FFFF", 31},
      {kTypeHours, "FFE0", 0},
      {kTypeWeekday, "FF1F", 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.type) + " " + row.data);
    uint16_t value = 0xEEEE;
    DecodeWordField(ExactText(row.data).get(), row.type, &value);
    EXPECT_EQ(value, row.value);
  }
}

TEST(DecodeDays, ListsTheSetDaysAsDecimalDigits) {
  struct Row {
    uint8_t mask;
    int32_t value;
  };
  const Row rows[] = {
      {0x01, 1}, {0x05, 13}, {0x60, 67}, {0x80, 8}, {0xFF, 12345678},
      {0x1F, 9}, {0x7F, 0},  {0x00, 0},  {0x40, 7}, {0x9F, 123458},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.mask);
    EXPECT_EQ(DecodeDays(row.mask), row.value);
  }
}

TEST(DecodeDate, CountsDaysFromTheFirstOfJanuary1980) {
  struct Row {
    const char *text;
    int32_t day;
  };
  const Row rows[] = {
      {"800101", 1},
      {"800301", 61},  // 1980 is a leap year
      {"800229", 60},
      {"801231", 366},
      {"810101", 367},
      {"000101", 7306},
      {"000229", 7365},
      {"000301", 7366},
      {"991231", 7305},
      {"060823", 9732},
      {"380119", 21204},
      {"381231", 21550},
      // Years outside 1980..2038 are no device dates.
      {"390101", 0},
      {"790101", 0},
      // Neither are months and days the calendar does not have.
      {"800001", 0},
      {"801301", 0},
      {"809901", 0},
      {"800100", 0},
      {"800132", 0},
      {"800230", 0},
      {"810229", 0},
      {"000431", 0},
      // Non-digits end a number: "AB" reads 0, so month 0.
      {"ABCDEF", 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(DecodeDate(ExactText(row.text).get()), row.day);
  }
}

// ---- StoreData by gate data type ---------------------------------------------

TEST(StoreData, PutsASixteenBitFieldAtOffsetTwo) {
  struct Row {
    uint16_t type;
    const char *data;
    uint16_t value;
  };
  const Row rows[] = {
      {kTypeWeekday, "00E0", 7},
      {kTypeMinutes, "3B00", 59},
      {kTypeHours, "0017", 23},
      {kTypeWord, "7F", 127},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.type) + " " + row.data);
    ValueBuffer buffer;
    ReadWriteBlock block = Gate("001GCTEST", kGateInt16, 1, buffer.bytes);
    Store(&block, row.data, row.type);
    EXPECT_EQ(buffer.Word(2), row.value);
    EXPECT_TRUE(buffer.Untouched(0, 2));
    EXPECT_TRUE(buffer.UntouchedFrom(4));
  }
}

TEST(StoreData, PutsRealsAtFourByteSteps) {
  ValueBuffer single;
  ReadWriteBlock one = Gate("001AI01HR", kGateReal, 1, single.bytes);
  Store(&one, "64B8", kTypeN2Real);
  EXPECT_EQ(single.Real(0), -100.0f);
  EXPECT_TRUE(single.UntouchedFrom(4));

  ValueBuffer run;
  ReadWriteBlock three = Gate("001AI01HR", kGateReal, 3, run.bytes);
  Store(&three, "64B003A00008", kTypeN2Real);
  EXPECT_EQ(run.Real(0), 100.0f);
  EXPECT_EQ(run.Real(4), 1.5f);
  EXPECT_EQ(run.Real(8), 0.0f);
  EXPECT_TRUE(std::signbit(run.Real(8)));
  EXPECT_TRUE(run.UntouchedFrom(12));
}

TEST(StoreData, PutsDigitalBitsAsWords) {
  struct Row {
    const char *what;
    uint16_t type;
    int32_t bit;
    const char *data;
    uint16_t value;
  };
  const Row rows[] = {
      {"bit 9 of a 16-bit item", kTypeBit16, 9, "0002", 1},
      {"bit 8 of a 16-bit item", kTypeBit16, 8, "0002", 0},
      {"bit 0 of a 16-bit item", kTypeBit16, 0, "0100", 1},
      {"bit 15 of a 16-bit item", kTypeBit16, 15, "0080", 1},
      {"bit 1 of an 8-bit item", kTypeBit8, 1, "02", 1},
      {"bit 0 of an 8-bit item", kTypeBit8, 0, "02", 0},
      {"8-bit item ignores a second byte", kTypeBit8, 0, "02FF", 0},
      {"bit beyond the item", kTypeBit16, 255, "FFFF", 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    ValueBuffer buffer;
    ReadWriteBlock block = Gate("001GCDI1", kGateDigital, 1, buffer.bytes, kSpecialNone, row.bit);
    Store(&block, row.data, row.type);
    EXPECT_EQ(buffer.Word(2), row.value);
    EXPECT_TRUE(buffer.Untouched(0, 2));
    EXPECT_TRUE(buffer.UntouchedFrom(4));
  }
}

TEST(StoreData, PutsABlockOfDigitalItemsFromOffsetZero) {
  ValueBuffer buffer;
  ReadWriteBlock block = Gate("001GCACO1", kGateDigital, 4, buffer.bytes, kSpecialNone, 7);
  Store(&block, "0500", kTypeWord);
  EXPECT_EQ(buffer.Word(0), 1);
  EXPECT_EQ(buffer.Word(2), 0);
  EXPECT_EQ(buffer.Word(4), 1);
  EXPECT_EQ(buffer.Word(6), 0);
  EXPECT_TRUE(buffer.UntouchedFrom(8));

  // Entries from bit 16 on lie beyond the item: 0.
  ValueBuffer wide;
  ReadWriteBlock twenty = Gate("001GCACO1", kGateDigital, 20, wide.bytes);
  Store(&twenty, "FFFF", kTypeWord);
  for (size_t i = 0; i < 20; ++i) EXPECT_EQ(wide.Word(2 * i), i < 16 ? 1 : 0) << i;
  EXPECT_TRUE(wide.UntouchedFrom(40));
}

TEST(StoreData, DecodesThirtyTwoBitSpecialAndPlainValues) {
  struct Row {
    const char *gas;
    int32_t region;
    const char *data;
    int32_t value;
  };
  const Row rows[] = {
      // Plain 32-bit items, low byte first.
      {"001GCLONG", kSpecialNone, "10270000", 10000},
      {"001GCLONG", kSpecialNone, "FFFFFFFF", -1},
      // Schedule times: decimal minutes then hours; 24:00 is 23:59.
      {"001TS01START1", kSpecialSchedule, "3008", 510},
      {"001TS01START1", kSpecialSchedule, "0024", 1439},
      {"001TS01END1", kSpecialSchedule, "5923", 1439},
      {"001TS01END1", kSpecialSchedule, "0000", 0},
      {"001TS01END1", kSpecialSchedule, "0012", 720},
      {"001TS01END1", kSpecialSchedule, "3024", 1470},  // only 24:00 exactly is folded
      {"001TS01END1", kSpecialSchedule, "  AB", 0},     // not digits: 0
      // Schedule days: the first byte as a day mask.
      {"001TS01DAYS1", kSpecialSchedule, "0100", 1},
      {"001TS01DAYS1", kSpecialSchedule, "0500", 13},
      {"001TS01DAYS1", kSpecialSchedule, "6000", 67},
      {"001TS01DAYS1", kSpecialSchedule, "8000", 8},
      {"001TS01DAYS1", kSpecialSchedule, "FF00", 12345678},
      {"001TS01DAYS1", kSpecialSchedule, "1F00", 9},
      {"001TS01DAYS1", kSpecialSchedule, "7F00", 0},
      {"001TS01DAYS1", kSpecialSchedule, "0000", 0},
      {"001ts01days2", kSpecialSchedule, "0500", 13},  // the mnemonic test ignores case
      // Clock: TIME in decimal hours, minutes, seconds; DATE as YYMMDD.
      {"001RTCLTIME", kSpecialClock, "123045", 45045},
      {"001RTCLTIME", kSpecialClock, "000000", 0},
      {"001RTCLDATE", kSpecialClock, "800101", 1},
      {"001RTCLDATE", kSpecialClock, "800301", 61},
      {"001RTCLDATE", kSpecialClock, "000101", 7306},
      {"001RTCLDATE", kSpecialClock, "000301", 7366},
      {"001RTCLDATE", kSpecialClock, "991231", 7305},
      {"001RTCLDATE", kSpecialClock, "380119", 21204},
      {"001RTCLDATE", kSpecialClock, "390101", 0},
      // Other clock points: a decimal number as "%ld" reads it.
      {"001RTCLWDAY", kSpecialClock, "03", 3},
      {"001RTCLCENT", kSpecialClock, "19", 19},
      {"001RTCLCENT", kSpecialClock, " -5X", -5},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.gas) + " " + row.data);
    ValueBuffer buffer;
    ReadWriteBlock block = Gate(row.gas, kGateInt32, 1, buffer.bytes, row.region);
    Store(&block, row.data, kTypeLong);
    EXPECT_EQ(buffer.Long(0), row.value);
    EXPECT_TRUE(buffer.UntouchedFrom(4));
  }
}

TEST(StoreData, LeavesAClockValueWithoutANumberUnchanged) {
  for (const char *data : {"AB", "", "-", " "}) {
    SCOPED_TRACE(data);
    ValueBuffer buffer;
    ReadWriteBlock block = Gate("001RTCLWDAY", kGateInt32, 1, buffer.bytes, kSpecialClock);
    Store(&block, data, kTypeLong);
    EXPECT_TRUE(buffer.UntouchedFrom(0));
  }
}

TEST(StoreData, PutsABlockOfThirtyTwoBitItemsAtFourByteSteps) {
  ValueBuffer buffer;
  ReadWriteBlock block = Gate("001TS01DAYS1", kGateInt32, 2, buffer.bytes, kSpecialSchedule);
  Store(&block, "1027000001000000", kTypeLong);  // a block ignores the special kind
  EXPECT_EQ(buffer.Long(0), 10000);
  EXPECT_EQ(buffer.Long(4), 1);
  EXPECT_TRUE(buffer.UntouchedFrom(8));
}

TEST(StoreData, StoresNothingForTypesNoPointServes) {
  for (int32_t dataType : {1, 2, 4, 7, 255}) {
    SCOPED_TRACE(dataType);
    ValueBuffer buffer;
    ReadWriteBlock block = Gate("001AI01HR", dataType, 1, buffer.bytes);
    Store(&block, "64B01027", kTypeN2Real);
    EXPECT_TRUE(buffer.UntouchedFrom(0));
  }
}

TEST(StoreData, StoresNothingForABlockSizeOutsideOneToThirtyTwo) {
  const std::string data(8 * 40, '1');
  for (int32_t items : {0, -1, 33, 1000}) {
    for (int32_t dataType : {kGateInt16, kGateReal, kGateInt32, kGateDigital}) {
      SCOPED_TRACE(std::to_string(items) + " items of type " + std::to_string(dataType));
      ValueBuffer buffer;
      ReadWriteBlock block = Gate("001GCACO1", dataType, items, buffer.bytes);
      Store(&block, data, kTypeWord);
      EXPECT_TRUE(buffer.UntouchedFrom(0));
    }
  }
}

TEST(StoreData, WritesThirtyTwoItemsAtMost) {
  const std::string data(8 * 32, '1');
  ValueBuffer buffer;
  ReadWriteBlock block = Gate("001GCACO1", kGateInt32, 32, buffer.bytes);
  Store(&block, data, kTypeLong);
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ(buffer.Long(4 * i), 0x11111111) << i;
}

TEST(StoreData, IgnoresAMissingValueBufferOrField) {
  ReadWriteBlock block = Gate("001AI01HR", kGateReal, 1, nullptr);
  StoreData(&block, "64B0", 4, kTypeN2Real);
  StoreData(nullptr, "64B0", 4, kTypeN2Real);
  ValueBuffer buffer;
  ReadWriteBlock noData = Gate("001AI01HR", kGateReal, 1, buffer.bytes);
  StoreData(&noData, nullptr, 0, kTypeN2Real);
  EXPECT_TRUE(buffer.UntouchedFrom(0));
}

// ---- short data fields ---------------------------------------------------------
// A station may answer with fewer digits than the point needs. The decoder
// then reads up to the terminator only, and the missing digits count as '0'.

TEST(StoreData, ReadsAShortFieldOnlyUpToItsTerminator) {
  struct Row {
    const char *what;
    const char *gas;
    int32_t dataType;
    int32_t items;
    int32_t region;
    uint16_t type;
    const char *data;
    std::vector<int64_t> values;  // words, reals x 2048 or longs, by data type
  };
  const Row rows[] = {
      {"real from 2 digits", "001AI01HR", kGateReal, 1, 0, kTypeN2Real, "64", {100}},  // item 0x0064
      {"real from nothing", "001AI01HR", kGateReal, 1, 0, kTypeN2Real, "", {0}},
      {"real block of 3 from one item", "001AI01HR", kGateReal, 3, 0, kTypeN2Real, "64B0", {204800, 0, 0}},
      {"real block ending mid-item", "001AI01HR", kGateReal, 2, 0, kTypeN2Real, "64B014", {204800, 20}},
      {"word from 1 digit", "001GCW", kGateInt16, 1, 0, kTypeWord, "7", {0x70}},
      {"word from 3 digits", "001GCW", kGateInt16, 1, 0, kTypeWord, "341", {0x1034}},
      {"word from nothing", "001GCW", kGateInt16, 1, 0, kTypeWord, "", {0}},
      {"bit from 1 digit", "001GCDI1", kGateDigital, 1, 0, kTypeBit16, "1", {0}},
      {"digital block from nothing", "001GCACO1", kGateDigital, 3, 0, kTypeWord, "", {0, 0, 0}},
      {"long from 4 digits", "001GCL", kGateInt32, 1, 0, kTypeLong, "1027", {10000}},
      {"long block of 3 from 10 digits", "001GCL", kGateInt32, 3, 0, kTypeLong, "1027000001", {10000, 1, 0}},
      {"schedule time from 3 digits", "001TS01START1", kGateInt32, 1, kSpecialSchedule, kTypeLong, "300", {30}},
      {"schedule days from nothing", "001TS01DAYS1", kGateInt32, 1, kSpecialSchedule, kTypeLong, "", {0}},
      {"clock time from 2 digits", "001RTCLTIME", kGateInt32, 1, kSpecialClock, kTypeLong, "12", {43200}},
      {"clock date from 4 digits", "001RTCLDATE", kGateInt32, 1, kSpecialClock, kTypeLong, "8001", {0}},
      {"clock date from nothing", "001RTCLDATE", kGateInt32, 1, kSpecialClock, kTypeLong, "", {0}},
      {"gas without a mnemonic", "001RT", kGateInt32, 1, kSpecialClock, kTypeLong, "7", {7}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    ValueBuffer buffer;
    ReadWriteBlock block = Gate(row.gas, row.dataType, row.items, buffer.bytes, row.region);
    Store(&block, row.data, row.type);
    for (size_t i = 0; i < row.values.size(); ++i) {
      switch (row.dataType) {
        case kGateReal: EXPECT_EQ(buffer.Real(4 * i) * 2048, row.values[i]) << i; break;
        case kGateInt32: EXPECT_EQ(buffer.Long(4 * i), row.values[i]) << i; break;
        case kGateInt16: EXPECT_EQ(buffer.Word(2), row.values[i]); break;
        default: EXPECT_EQ(buffer.Word(row.items == 1 ? 2 : 2 * i), row.values[i]) << i; break;
      }
    }
  }
}

TEST(DecodeLong, ToleratesAMissingGas) {
  ValueBuffer buffer;
  ReadWriteBlock block = Gate(nullptr, kGateInt32, 1, buffer.bytes, kSpecialClock);
  DecodeLong(&block, ExactText("42").get());
  EXPECT_EQ(buffer.Long(0), 42);
}

}  // namespace
