// Request records out of range, as a confused host might fill them, through
// ZamMain against a scripted station that is told to expect nothing: every
// record below is refused with status 1 (2 for the port commands), a message
// that names the field, nothing on the line, and the value buffer untouched.
// The refusals the read and write tests already cover (stations outside
// 1..255, bits above 15 on reads, missing GAS or buffer, item counts of block
// reads, N2 Open regions and elements) are not repeated here.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "driver/requests.h"
#include "driver/zam_main.h"
#include "tests/support/exchange_fixture.h"

namespace {

using Messages = std::vector<std::string>;

class RequestBoundary : public ExchangeFixture {
 protected:
  RequestBoundary() : ExchangeFixture("010 = XT9100\n005 = N2OPEN\n") {}
};

struct RecordRow {
  const char *what;
  int32_t command;  // 5, 6 or 7
  ReadWriteBlock block;
  Messages messages;
};

// The block with one field changed.
template <typename Change>
ReadWriteBlock With(ReadWriteBlock block, Change change) {
  change(block);
  return block;
}

TEST_F(RequestBoundary, RecordsNoFrameCanCarryAreRefusedWithTheFieldNamed) {
  ValueBuffer value;
  value.SetWord(1);  // the value a write would send
  ValueBuffer untouched = value;
  // Good records of each command, each changed in one field below.
  const ReadWriteBlock highRange = HostBlock("001AI01HR", 1, 0, 1217, kGateReal, value.bytes);
  const ReadWriteBlock block4 = HostBlock("001GCACO1", 1, 0, 34, kGateReal, value.bytes, 4);
  const ReadWriteBlock dco1 = HostBlock("001GCDCO1", 1, 0, 10, kGateDigital, value.bytes, 1, 0);
  const ReadWriteBlock aco3 = HostBlock("001GCACO3", 1, 0, 36, kGateReal, value.bytes);
  const ReadWriteBlock start1 = HostBlock("001TS01START1", 1, 84, 5, kGateInt32, value.bytes);
  const std::string readFailed = "ZAMKT: Single Read failed! GAS=001AI01HR rc = 1";
  const std::string dco1Failed = "ZAMKT: Single Write failed! GAS=001GCDCO1";
  const std::string aco3Failed = "ZAMKT: Single Write failed! GAS=001GCACO3";

  const RecordRow rows[] = {
      // Data types: only 0, 3, 5 and 6 (the low byte) are decoded or encoded.
      {"read of data type 1", 5, With(highRange, [](ReadWriteBlock &b) { b.dataType = 1; }),
       {"ZAMKT: SingleRead() invalid data type 1. GAS=001AI01HR"}},
      {"read of data type -1", 5, With(highRange, [](ReadWriteBlock &b) { b.dataType = -1; }),
       {"ZAMKT: SingleRead() invalid data type -1. GAS=001AI01HR"}},
      {"block read of data type 2", 6, With(block4, [](ReadWriteBlock &b) { b.dataType = 2; }),
       {"ZAMKT: BlockRead() invalid data type 2. GAS=001GCACO1"}},
      {"write of data type 7", 7, With(aco3, [](ReadWriteBlock &b) { b.dataType = 7; }),
       {"ZAMKT: SingleWrite() invalid data type 7. GAS=001GCACO3", aco3Failed}},
      // Item counts of a single read: no item would store nothing and report
      // success; more than 32 would overrun the value buffer.
      {"read of no item", 5, With(highRange, [](ReadWriteBlock &b) { b.itemCount = 0; }),
       {"ZAMKT: SingleRead() invalid item count 0. GAS=001AI01HR"}},
      {"read of 33 items", 5, With(highRange, [](ReadWriteBlock &b) { b.itemCount = 33; }),
       {"ZAMKT: SingleRead() invalid item count 33. GAS=001AI01HR"}},
      {"read of -5 items", 5, With(highRange, [](ReadWriteBlock &b) { b.itemCount = -5; }),
       {"ZAMKT: SingleRead() invalid item count -5. GAS=001AI01HR"}},
      // Elements: the device address travels in 16 bits; 65536 + 1217 would
      // read the item at 1217 under another name.
      {"read of element 66753", 5, With(highRange, [](ReadWriteBlock &b) { b.element = 65536 + 1217; }),
       {"ZAMKT: SingleRead() invalid element 66753. GAS=001AI01HR"}},
      {"read of element -1", 5, With(highRange, [](ReadWriteBlock &b) { b.element = -1; }),
       {"ZAMKT: SingleRead() invalid element -1. GAS=001AI01HR"}},
      {"block read of element 65570", 6, With(block4, [](ReadWriteBlock &b) { b.element = 65536 + 34; }),
       {"ZAMKT: BlockRead() invalid element 65570. GAS=001GCACO1"}},
      {"write of element 65546", 7, With(dco1, [](ReadWriteBlock &b) { b.element = 65536 + 10; }),
       {"ZAMKT: SingleWrite() invalid element 65546. GAS=001GCDCO1", dco1Failed}},
      // Regions: the schedule and clock areas only for their own points.
      {"read of an analog input as a schedule point", 5,
       With(highRange, [](ReadWriteBlock &b) { b.region = 84; }),
       {"ZAMKT: SingleRead() invalid region 84. GAS=001AI01HR", readFailed}},
      {"read of an analog input as a clock point", 5, With(highRange, [](ReadWriteBlock &b) { b.region = 82; }),
       {"ZAMKT: SingleRead() invalid region 82. GAS=001AI01HR", readFailed}},
      {"read of a clock point as a schedule point", 5,
       HostBlock("001RTCLTIME", 1, 84, 5, kGateInt32, value.bytes),
       {"ZAMKT: SingleRead() invalid region 84. GAS=001RTCLTIME",
        "ZAMKT: Single Read failed! GAS=001RTCLTIME rc = 1"}},
      {"read of region 65620, whose low 16 bits are 84", 5,
       With(highRange, [](ReadWriteBlock &b) { b.region = 65536 + 84; }),
       {"ZAMKT: SingleRead() invalid region 65620. GAS=001AI01HR", readFailed}},
      {"block read of the schedule area", 6, With(block4, [](ReadWriteBlock &b) { b.region = 84; }),
       {"ZAMKT: BlockRead() invalid region 84. GAS=001GCACO1"}},
      {"write of a real output as a schedule point", 7, With(aco3, [](ReadWriteBlock &b) { b.region = 84; }),
       {"ZAMKT: SingleWrite() invalid region 84. GAS=001GCACO3", aco3Failed}},
      {"write of a schedule point as a clock point", 7, With(start1, [](ReadWriteBlock &b) { b.region = 82; }),
       {"ZAMKT: SingleWrite() invalid region 82. GAS=001TS01START1",
        "ZAMKT: Single Write failed! GAS=001TS01START1"}},
      // Bits: the write shifts a 1 by the bit number; 65536 would wrap to 0.
      {"write of bit 65536", 7, With(dco1, [](ReadWriteBlock &b) { b.bit = 65536; }),
       {"ZAMKT: SingleWrite() invalid bit 65536. GAS=001GCDCO1", dco1Failed}},
      {"write of bit -1", 7, With(dco1, [](ReadWriteBlock &b) { b.bit = -1; }),
       {"ZAMKT: SingleWrite() invalid bit -1. GAS=001GCDCO1", dco1Failed}},
      {"read of bit 65539", 5, With(dco1, [](ReadWriteBlock &b) { b.bit = 65539; }),
       {"ZAMKT: SingleRead() invalid bit 65539. GAS=001GCDCO1"}},
      // A GAS of another station: its family's tables would describe an item
      // the block's station does not hold.
      {"read of an XT9100 point from station 1", 5, HostBlock("010XP01AI1", 1, 0, 12, kGateReal, value.bytes),
       {"ZAMKT: SingleRead() GAS names station 10, the block station 1. GAS=010XP01AI1",
        "ZAMKT: Single Read failed! GAS=010XP01AI1 rc = 1"}},
      {"block read of station 2's GAS from station 1", 6,
       With(block4, [](ReadWriteBlock &b) { b.gas = "002GCACO1"; }),
       {"ZAMKT: BlockRead() GAS names station 2, the block station 1. GAS=002GCACO1",
        "ZAMKT: Block Read failed! GAS=002GCACO1 rc = 1"}},
      {"write of station 1's GAS to station 10", 7, With(dco1, [](ReadWriteBlock &b) { b.station = 10; }),
       {"ZAMKT: SingleWrite() GAS names station 1, the block station 10. GAS=001GCDCO1", dco1Failed}},
  };
  for (const RecordRow &row : rows) {
    SCOPED_TRACE(row.what);
    log_.Clear();
    ReadWriteBlock block = row.block;
    Outcome outcome = Exchange({}, [&] { return channel_.Call(row.command, &block); });
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.sent.empty()) << ::testing::PrintToString(outcome.sent);
    EXPECT_EQ(log_.Messages(), row.messages);
    EXPECT_EQ(memcmp(value.bytes, untouched.bytes, sizeof value.bytes), 0) << "the value buffer was touched";
  }
}

// Parameter blocks the host left out: every command says so and touches
// nothing.
TEST_F(RequestBoundary, MissingParameterBlocksAreRefusedWithAMessage) {
  struct Row {
    int32_t command;
    int32_t status;
    std::string message;
  };
  const Row rows[] = {
      {kCmdInitChannel, 2, "ZAMKT: InitChannel() no channel or parameter block"},
      {kCmdSingleParse, 1, "ZAMKT: SingleParse() no channel or parse block"},
      {kCmdBlockParse, 1, "ZAMKT: BlockParse() no parse block"},
      {kCmdSingleRead, 1, "ZAMKT: SingleRead() no channel or read block"},
      {kCmdBlockRead, 1, "ZAMKT: BlockRead() no channel or read block"},
      {kCmdSingleWrite, 1, "ZAMKT: SingleWrite() no channel or write block"},
      {kCmdWarmStart, 0, "ZAMKT01: WarmStart() no station given"},
      {kCmdChangePort, 2, "ZAMKT: ChangePort() no channel or parameter block"},
  };
  const ChannelContext before = *channel_.context();
  for (const Row &row : rows) {
    SCOPED_TRACE(row.command);
    log_.Clear();
    Outcome outcome = Exchange({}, [&] { return channel_.Call(row.command, nullptr); });
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_TRUE(outcome.sent.empty());
    Messages messages = log_.Messages();
    if (row.command == kCmdInitChannel) {
      ASSERT_EQ(messages.size(), 2u);  // after the build identification line
      messages.erase(messages.begin());
    }
    EXPECT_EQ(messages, Messages{row.message});
  }
  EXPECT_EQ(memcmp(&before, channel_.context(), sizeof before), 0) << "the channel record changed";

  // Port commands of a request without a channel record.
  for (int32_t command : {kCmdClosePort, kCmdReopenPort}) {
    log_.Clear();
    DriverRequest request;
    memset(&request, 0, sizeof request);
    request.command = command;
    EXPECT_EQ(ZamMain(&request), 2) << command;
    EXPECT_EQ(log_.Messages(),
              Messages{command == kCmdClosePort ? "ZAMKT: ClosePort() no channel" : "ZAMKT: ReopenPort() no channel"});
  }
}

}  // namespace
