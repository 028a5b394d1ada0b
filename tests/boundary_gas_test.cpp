// Gate addresses at and past their limits, through every command that takes
// one: the parse (3), the block-read check (4), the read (5) and the write
// (7), against a scripted station that is told to expect nothing. Each GAS is
// refused with status 1 and a message that names it, and nothing goes on the
// line. A GAS longer than 31 characters is never cut into a shorter one.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "driver/requests.h"
#include "tests/support/exchange_fixture.h"
#include "tests/support/expected_frames.h"

namespace {

using Messages = std::vector<std::string>;

class GasBoundary : public ExchangeFixture {
 protected:
  GasBoundary() : ExchangeFixture("005 = N2OPEN\n") {}
};

struct GasRow {
  const char *what;
  std::string gas;
  int32_t station;  // of the read and write blocks; element 34 (GC ACO1), or AO012 for station 5
  Messages parse;   // commands 3 and 4
  Messages read;    // command 5; none: the read is not refused (see below)
  Messages write;   // command 7
};

std::string IllegalAddress(const std::string &gas) {
  return "ZAMKT: SingleParse() illegal PLC Address. Tag address '" + gas + "'.";
}
Messages Unknown(const char *kind, const std::string &gas, const char *routine) {
  const std::string failed = std::string(routine) == "Read" ? "ZAMKT: Single Read failed! GAS=" + gas + " rc = 1"
                                                            : "ZAMKT: Single Write failed! GAS=" + gas;
  return {std::string("ZAMKT:Illegal ") + kind + " Name. GAS = " + gas, failed};
}
Messages TooLong(const std::string &gas) {
  const std::string first = gas.substr(0, 31);
  return {"ZAMKT: SingleParse() Tag address longer than 31 characters. Tag address '" + first + "...'."};
}
Messages ReadTooLong(const std::string &gas) {
  return {"ZAMKT: SingleRead() GAS longer than 31 characters. GAS=" + gas.substr(0, 31)};
}
Messages WriteTooLong(const std::string &gas) {
  const std::string first = gas.substr(0, 31);
  return {"ZAMKT: SingleWrite() GAS longer than 31 characters. GAS=" + first, "ZAMKT: Single Write failed! GAS=" + first};
}

std::vector<GasRow> Rows() {
  const std::string tag31 = "001GCACO1" + std::string(22, 'X');  // 31: the mnemonic reads "ACO1XX"
  const std::string tag32 = "001GCACO1" + std::string(23, 'X');
  // 300 characters whose first 31, cut off, would still not name a point; and
  // one whose cut would name GC ACO1 (blanks are no part of a mnemonic).
  const std::string tag300 = "001GCACO1" + std::string(291, 'X');
  const std::string blanks300 = "001GCACO1" + std::string(291, ' ');
  const std::string n2open32 = "005AO012" + std::string(24, '0');
  return {
      {"empty", "", 1, {IllegalAddress("")}, Unknown("Module", "", "Read"), Unknown("Module", "", "Write")},
      {"31 characters", tag31, 1, {"ZAMKT:Illegal Tag Name. GAS = " + tag31}, Unknown("Tag", tag31, "Read"),
       Unknown("Tag", tag31, "Write")},
      {"32 characters", tag32, 1, TooLong(tag32), ReadTooLong(tag32), WriteTooLong(tag32)},
      {"300 characters", tag300, 1, TooLong(tag300), ReadTooLong(tag300), WriteTooLong(tag300)},
      {"300 characters, blanks after a point", blanks300, 1, TooLong(blanks300), ReadTooLong(blanks300),
       WriteTooLong(blanks300)},
      {"32 characters on an N2 Open station", n2open32, 5, TooLong(n2open32), ReadTooLong(n2open32),
       WriteTooLong(n2open32)},
      // Station digits: exactly three decimal digits. A read or write of such
      // a GAS finds no family to look the point up in.
      {"letter in the station", "0A1GCACO1", 1, {IllegalAddress("0A1GCACO1")},
       Unknown("Module", "0A1GCACO1", "Read"), Unknown("Module", "0A1GCACO1", "Write")},
      {"blank before the station", " 01GCACO1", 1, {IllegalAddress(" 01GCACO1")},
       Unknown("Module", " 01GCACO1", "Read"), Unknown("Module", " 01GCACO1", "Write")},
      {"sign before the station", "+01GCACO1", 1, {IllegalAddress("+01GCACO1")},
       Unknown("Module", "+01GCACO1", "Read"), Unknown("Module", "+01GCACO1", "Write")},
      {"negative station", "-01GCACO1", 1, {IllegalAddress("-01GCACO1")}, Unknown("Module", "-01GCACO1", "Read"),
       Unknown("Module", "-01GCACO1", "Write")},
      {"two-digit station", "01GCACO1", 1, {IllegalAddress("01GCACO1")}, Unknown("Module", "01GCACO1", "Read"),
       Unknown("Module", "01GCACO1", "Write")},
      {"byte above 127 in the station", "0\xB9" "1GCACO1", 1, {IllegalAddress("0\xB9" "1GCACO1")},
       Unknown("Module", "0\xB9" "1GCACO1", "Read"), Unknown("Module", "0\xB9" "1GCACO1", "Write")},
      {"station alone", "001", 1, {"ZAMKT:Illegal Module Name. GAS = 001"}, Unknown("Module", "001", "Read"),
       Unknown("Module", "001", "Write")},
      // Lower case: the parse compares names exactly, as the tables hold them
      // (reads and writes look a GAS up upper-cased; see the read and write
      // tests).
      {"lower case", "001gcaco1", 1, {"ZAMKT:Illegal Module Name. GAS = 001gcaco1"}, {}, {}},
      {"lower-case module, upper-case point", "001gcACO1", 1, {"ZAMKT:Illegal Module Name. GAS = 001gcACO1"}, {}, {}},
      {"lower-case N2 Open region", "005ao012", 5, {"ZAMKT01: N2OPEN_ParseTag() Tag Address '005ao012' Invalid data type!"},
       {}, {}},
  };
}

TEST_F(GasBoundary, EveryCommandRefusesTheGasWithAMessageAndSendsNothing) {
  for (const GasRow &row : Rows()) {
    SCOPED_TRACE(row.what);
    for (int32_t command : {kCmdSingleParse, kCmdBlockParse}) {
      log_.Clear();
      ParseBlock parsed;
      Outcome outcome = Exchange({}, [&] {
        return command == kCmdSingleParse ? channel_.Parse(row.gas, kGateReal, &parsed)
                                          : channel_.BlockCheck(row.gas, kGateReal, 1, &parsed);
      });
      EXPECT_EQ(outcome.status, 1) << "command " << command;
      EXPECT_EQ(log_.Messages(), row.parse) << "command " << command;
    }
    if (row.read.empty()) continue;

    const bool n2open = row.station == 5;
    ValueBuffer value;
    value.SetReal(1.0f);
    const ValueBuffer before = value;
    ReadWriteBlock block = n2open ? HostBlock(row.gas.c_str(), 5, 1003, 12, kGateReal, value.bytes)
                                  : HostBlock(row.gas.c_str(), row.station, 0, 34, kGateReal, value.bytes);
    log_.Clear();
    Outcome read = Exchange({}, [&] { return channel_.Call(kCmdSingleRead, &block); });
    EXPECT_EQ(read.status, 1);
    EXPECT_TRUE(read.sent.empty()) << ::testing::PrintToString(read.sent);
    EXPECT_EQ(log_.Messages(), row.read);
    EXPECT_EQ(memcmp(value.bytes, before.bytes, sizeof value.bytes), 0) << "the read stored something";

    log_.Clear();
    Outcome write = Exchange({}, [&] { return channel_.Call(kCmdSingleWrite, &block); });
    EXPECT_EQ(write.status, 1);
    EXPECT_TRUE(write.sent.empty()) << ::testing::PrintToString(write.sent);
    EXPECT_EQ(log_.Messages(), row.write);
  }
  EXPECT_EQ(channel_.context()->n2openInitialised[5], 0) << "no N2 Open initialisation for a refused GAS";
}

// The longest GAS accepted is read as the point its first 13 characters
// name (XT01 XTDIC1, the 32-bit item at 1533); the characters after the mnemonic's sixth are ignored.
TEST_F(GasBoundary, GasOf31CharactersNamingAPointIsReadAsThatPoint) {
  const std::string gas = "001XT01XTDIC1" + std::string(18, 'Z');
  ValueBuffer value;
  Outcome outcome = Exchange({Answer(System91Frame({0x01, 0x84, 0xFD, 0x05}), DataReply("10270000"))},
                             [&] { return channel_.Read(gas, kGateInt32, value.bytes); });
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(outcome.mismatches.empty()) << ::testing::PrintToString(outcome.mismatches);
  EXPECT_EQ(value.Long(), 10000);
}

}  // namespace
