// Command 6 end to end: runs of consecutive DX9100 items read in one exchange
// with a scripted station on a pseudo-terminal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/requests.h"
#include "tests/support/exchange_fixture.h"
#include "tests/support/expected_frames.h"

namespace {

using Messages = std::vector<std::string>;

std::string Repeat(const std::string &text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += text;
  return result;
}

class BlockReadTest : public ExchangeFixture {
 protected:
  BlockReadTest() : ExchangeFixture("007 = N2OPEN\n") {}

  Outcome ReadBlock(ReadWriteBlock block, std::vector<DeviceStep> script) {
    return Exchange(std::move(script), [&] { return channel_.Call(kCmdBlockRead, &block); });
  }
};

TEST(ReferenceFrames, MatchTheDocumentedBlockReadExample) {
  EXPECT_EQ(System91Frame({0x05, 0xA8, 0x20, 0x0F}), ">05A8200FC55DA7");
  EXPECT_EQ(System91Frame({0x01, 0x84, 0x00, 0x04}), ">01840004E09574");
}

struct BuilderRow {
  const char *what;
  int32_t station;
  int32_t element;
  int32_t items;
  std::vector<uint8_t> message;
};

TEST_F(BlockReadTest, BlockRequestsCarryAddressFormAndCountLessOne) {
  const BuilderRow rows[] = {
      {"32 items at 0x020 of station 5", 5, 0x020, 32, {0x05, 0xA8, 0x20, 0x1F}},
      {"16 items at 0x020 of station 5", 5, 0x020, 16, {0x05, 0xA8, 0x20, 0x0F}},
      {"one item", 1, 34, 1, {0x01, 0xA8, 0x22, 0x00}},
      {"last address of page 0", 1, 255, 2, {0x01, 0xA8, 0xFF, 0x01}},
      {"first address of page 1", 1, 256, 2, {0x01, 0xA9, 0x00, 0x01}},
      {"last paged address", 1, 1023, 2, {0x01, 0xAB, 0xFF, 0x01}},
      {"first full address", 1, 1024, 2, {0x01, 0xAC, 0x00, 0x04, 0x01}},
      {"AI01 HR onwards", 1, 1217, 7, {0x01, 0xAC, 0xC1, 0x04, 0x06}},
      {"station 255", 255, 1217, 1, {0xFF, 0xAC, 0xC1, 0x04, 0x00}},
  };
  for (const BuilderRow &row : rows) {
    SCOPED_TRACE(row.what);
    ValueBuffer value;
    std::string frame = System91Frame(row.message);
    std::string gas = (row.station == 255 ? "255" : row.station == 5 ? "005" : "001") + std::string("GCACO1");
    Outcome outcome = ReadBlock(HostBlock(gas.c_str(), row.station, 0, row.element, kGateReal, value.bytes, row.items),
                                {Answer(frame, DataReply(Repeat("64B0", row.items)))});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.sent, std::vector<std::string>{frame});
    EXPECT_TRUE(outcome.mismatches.empty()) << outcome.mismatches.front();
    EXPECT_EQ(value.At<float>(4 * (row.items - 1)), 100.0f) << "last item";
    EXPECT_TRUE(value.Untouched(4 * row.items, sizeof value.bytes));
  }
}

TEST_F(BlockReadTest, RealsOfTheRunLandOneAfterAnother) {
  ValueBuffer value;
  Outcome outcome = Exchange({Answer(System91Frame({0x01, 0xA8, 0x22, 0x03}), DataReply("64B064B803A00004"))},
                             [&] { return channel_.BlockReadItems("001GCACO1", kGateReal, value.bytes, 4); });
  ASSERT_EQ(outcome.status, 0);
  EXPECT_EQ(value.At<float>(0), 100.0f);
  EXPECT_EQ(value.At<float>(4), -100.0f);
  EXPECT_EQ(value.At<float>(8), 1.5f);
  EXPECT_EQ(value.At<float>(12), 0.5f);
  EXPECT_TRUE(value.Untouched(16, sizeof value.bytes));
  EXPECT_TRUE(log_.Messages().empty());
}

TEST_F(BlockReadTest, ThirtyTwoBitItemsOfTheRunLandOneAfterAnother) {
  ValueBuffer value;
  Outcome outcome = Exchange({Answer(System91Frame({0x01, 0xA8, 0x0D, 0x01}), DataReply("10270000FFFFFFFF"))},
                             [&] { return channel_.BlockReadItems("001GCCNTR1", kGateInt32, value.bytes, 2); });
  ASSERT_EQ(outcome.status, 0);
  EXPECT_EQ(value.At<int32_t>(0), 10000);
  EXPECT_EQ(value.At<int32_t>(4), -1);
  EXPECT_TRUE(value.Untouched(8, sizeof value.bytes));
}

TEST_F(BlockReadTest, SixteenBitBlockStoresTheFirstItemOnly) {
  ValueBuffer value;
  Outcome outcome = Exchange({Answer(System91Frame({0x01, 0xAC, 0x61, 0x05, 0x02}), DataReply("3412AAAABBBB"))},
                             [&] { return channel_.BlockReadItems("001DO03DO@", kGateInt16, value.bytes, 3); });
  ASSERT_EQ(outcome.status, 0);
  EXPECT_EQ(value.At<uint16_t>(2), 0x1234);
  EXPECT_TRUE(value.Untouched(0, 2));
  EXPECT_TRUE(value.Untouched(4, sizeof value.bytes));
}

TEST_F(BlockReadTest, DigitalBlockStoresOneWordPerBit) {
  ValueBuffer value;
  Outcome outcome = ReadBlock(HostBlock("001GCLRS1", 1, 0, 8, kGateDigital, value.bytes, 4, 0),
                              {Answer(System91Frame({0x01, 0xA8, 0x08, 0x03}), DataReply("0500"))});
  ASSERT_EQ(outcome.status, 0);
  EXPECT_EQ(value.At<uint16_t>(0), 1);
  EXPECT_EQ(value.At<uint16_t>(2), 0);
  EXPECT_EQ(value.At<uint16_t>(4), 1);
  EXPECT_EQ(value.At<uint16_t>(6), 0);
  EXPECT_TRUE(value.Untouched(8, sizeof value.bytes));
}

// A run answered with fewer items than asked for is refused rather than
// completed with zeros the station never sent.
struct ShortRunRow {
  const char *what;
  const char *gas;
  int32_t dataType;
  int32_t items;
  const char *data;
};

TEST_F(BlockReadTest, RunsShortOfTheirItemsAreRefused) {
  const ShortRunRow rows[] = {
      {"four reals from three", "001GCACO1", kGateReal, 4, "64B064B803A0"},
      {"two reals ending mid-item", "001GCACO1", kGateReal, 2, "64B064"},
      {"two counters from one and a half", "001GCCNTR1", kGateInt32, 2, "102700001027"},
      {"bits of a 16-bit item from one byte", "001GCLRS1", kGateDigital, 4, "05"},
  };
  for (const ShortRunRow &row : rows) {
    SCOPED_TRACE(row.what);
    log_.Clear();
    ValueBuffer value;
    const std::string reply = DataReply(row.data);
    Outcome outcome = Exchange({Answer("", reply), Silence(""), Silence(""), Silence(""), Silence("")},
                               [&] { return channel_.BlockReadItems(row.gas, row.dataType, value.bytes, row.items); });
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(log_.Messages(), (Messages{"ZAMKT: BlockRead() response string too short '" + reply + "'",
                                         std::string("ZAMKT: Block Read failed! GAS=") + row.gas + " rc = 1"}));
    EXPECT_TRUE(value.Untouched(0, sizeof value.bytes));
  }
}

struct StatusRow {
  const char *what;
  std::vector<DeviceStep> script;
  int32_t status;
  Messages log;
};

TEST_F(BlockReadTest, StatusRanksAnyReplyOverSilenceAndSuccessOverBoth) {
  const std::string frame = System91Frame({0x01, 0xA8, 0x22, 0x01});  // 001GCACO1, two items
  const std::string good = DataReply("64B064B8");
  const std::string failed1 = "ZAMKT: Block Read failed! GAS=001GCACO1 rc = 1";
  const std::string tooShort = "ZAMKT: BlockRead() response string too short 'A'";
  const DeviceStep silent = Silence(frame);
  const StatusRow rows[] = {
      {"negative acknowledgement then four silences",
       {Answer(frame, "N05"), silent, silent, silent, silent},
       1,
       {"ZAMKT:Gate 001GCACO1: Read failed! ErrorCode 05 H ", failed1}},
      {"five silences",
       {silent, silent, silent, silent, silent},
       2,
       {"ZAMKT: Block Read failed! GAS=001GCACO1 rc = 2"}},
      {"checksum error then a good reply",
       {Answer(frame, "A64B064B80000FF"), Answer(frame, good)},
       0,
       {"ZAMKT: Checksum Error. Plc String A64B064B80000FF "}},
      {"bare acknowledgements",
       {Answer(frame, "A"), Answer(frame, "A"), Answer(frame, "A"), Answer(frame, "A"), Answer(frame, "A")},
       1,
       {tooShort, tooShort, tooShort, tooShort, tooShort, failed1}},
      {"silences then a good reply", {silent, silent, silent, silent, Answer(frame, good)}, 0, {}},
  };
  for (const StatusRow &row : rows) {
    SCOPED_TRACE(row.what);
    log_.Clear();
    ValueBuffer value;
    Outcome outcome =
        Exchange(row.script, [&] { return channel_.BlockReadItems("001GCACO1", kGateReal, value.bytes, 2); });
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(outcome.sent.size(), row.script.size());
    EXPECT_TRUE(outcome.mismatches.empty()) << outcome.mismatches.front();
    EXPECT_EQ(log_.Messages(), row.log);
    if (row.status == 0) {
      EXPECT_EQ(value.At<float>(4), -100.0f);
    } else {
      EXPECT_TRUE(value.Untouched(0, sizeof value.bytes)) << "a failed read leaves the buffer alone";
    }
  }
}

TEST_F(BlockReadTest, MessagesPrintTheUpperCasedGas) {
  ValueBuffer value;
  const std::string frame = System91Frame({0x01, 0xA8, 0x22, 0x00});
  Outcome outcome = ReadBlock(HostBlock("001gcaco1", 1, 0, 34, kGateReal, value.bytes, 1),
                              {Silence(frame), Silence(frame), Silence(frame), Silence(frame), Silence(frame)});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(log_.Messages(), Messages{"ZAMKT: Block Read failed! GAS=001GCACO1 rc = 2"});
}

struct RefusalRow {
  const char *what;
  ReadWriteBlock block;
  Messages log;
};

TEST_F(BlockReadTest, RequestsTheDriverCannotAddressAreRefusedWithoutSending) {
  ValueBuffer value;
  const std::string longGas = "001GCACO1" + std::string(23, 'X');
  const RefusalRow rows[] = {
      {"no items",
       HostBlock("001GCACO1", 1, 0, 34, kGateReal, value.bytes, 0),
       {"ZAMKT: BlockRead() invalid item count 0. GAS=001GCACO1"}},
      {"33 items",
       HostBlock("001GCACO1", 1, 0, 34, kGateReal, value.bytes, 33),
       {"ZAMKT: BlockRead() invalid item count 33. GAS=001GCACO1"}},
      {"257 items, whose count byte would wrap",
       HostBlock("001GCACO1", 1, 0, 34, kGateReal, value.bytes, 257),
       {"ZAMKT: BlockRead() invalid item count 257. GAS=001GCACO1"}},
      {"negative count",
       HostBlock("001GCACO1", 1, 0, 34, kGateReal, value.bytes, -1),
       {"ZAMKT: BlockRead() invalid item count -1. GAS=001GCACO1"}},
      {"a data type no decoding stores",
       HostBlock("001GCACO1", 1, 0, 34, kGateUInt16, value.bytes, 2),
       {"ZAMKT: BlockRead() invalid data type 1. GAS=001GCACO1"}},
      {"station 0",
       HostBlock("001GCACO1", 0, 0, 34, kGateReal, value.bytes, 2),
       {"ZAMKT: BlockRead() invalid station 0. GAS=001GCACO1"}},
      {"station 256",
       HostBlock("001GCACO1", 256, 0, 34, kGateReal, value.bytes, 2),
       {"ZAMKT: BlockRead() invalid station 256. GAS=001GCACO1"}},
      {"no GAS", HostBlock(nullptr, 1, 0, 34, kGateReal, value.bytes, 2), {"ZAMKT: BlockRead() no GAS given"}},
      {"no value buffer",
       HostBlock("001GCACO1", 1, 0, 34, kGateReal, nullptr, 2),
       {"ZAMKT: BlockRead() no value buffer. GAS=001GCACO1"}},
      {"GAS of 32 characters",
       HostBlock(longGas.c_str(), 1, 0, 34, kGateReal, value.bytes, 2),
       {"ZAMKT: BlockRead() GAS longer than 31 characters. GAS=" + longGas.substr(0, 31)}},
      {"module not in the tables",
       HostBlock("001AI09HR", 1, 0, 34, kGateReal, value.bytes, 2),
       {"ZAMKT:Illegal Module Name. GAS = 001AI09HR", "ZAMKT: Block Read failed! GAS=001AI09HR rc = 1"}},
      {"N2 Open station",
       HostBlock("007AO012", 7, 0, 12, kGateReal, value.bytes, 2),
       {"ZAMKT:Illegal Module Name. GAS = 007AO012", "ZAMKT: Block Read failed! GAS=007AO012 rc = 1"}},
  };
  for (const RefusalRow &row : rows) {
    SCOPED_TRACE(row.what);
    log_.Clear();
    Outcome outcome = ReadBlock(row.block, {});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.sent.empty());
    EXPECT_EQ(log_.Messages(), row.log);
    EXPECT_TRUE(value.Untouched(0, sizeof value.bytes));
  }
}

}  // namespace
