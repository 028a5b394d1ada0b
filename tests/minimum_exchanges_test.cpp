// The poll benchmark's own count of the fewest exchanges a gate list needs
// per cycle, which the poll's planner is measured against.
#include <gtest/gtest.h>

#include "bench/minimum_exchanges.cpp"

namespace {

using bench::ExchangeCount;
using bench::MinimumExchanges;
using bench::ParsedGate;

constexpr int kInt16 = 0, kReal = 3, kInt32 = 5, kDigital = 6;

ParsedGate Gate(int32_t station, int type, int32_t address, bool admitted = true, int32_t region = 0,
                int32_t bit = 255, const std::string &gas = "") {
  ParsedGate gate;
  gate.gas = gas.empty() ? std::to_string(station) + "@" + std::to_string(address) : gas;
  gate.dataType = type;
  gate.station = station;
  gate.region = region;
  gate.element = address;
  gate.bit = bit;
  gate.blockAdmitted = admitted;
  return gate;
}

std::vector<ParsedGate> Consecutive(int32_t station, int type, int32_t first, int length) {
  std::vector<ParsedGate> gates;
  for (int i = 0; i < length; ++i) gates.push_back(Gate(station, type, first + i));
  return gates;
}

std::pair<int, int> Count(const std::vector<ParsedGate> &gates) {
  const ExchangeCount count = MinimumExchanges(gates);
  return {count.blockReads, count.singleReads};
}

TEST(MinimumExchanges, ARunTakesOneBlockReadPerThirtyTwoItems) {
  EXPECT_EQ(Count(Consecutive(1, kReal, 1217, 7)), std::make_pair(1, 0));
  EXPECT_EQ(Count(Consecutive(1, kReal, 90, 32)), std::make_pair(1, 0));
  EXPECT_EQ(Count(Consecutive(1, kReal, 90, 40)), std::make_pair(2, 0));
  EXPECT_EQ(Count(Consecutive(1, kReal, 90, 33)), std::make_pair(1, 1));  // the 33rd item alone
  EXPECT_EQ(Count(Consecutive(1, kReal, 90, 1)), std::make_pair(0, 1));
}

TEST(MinimumExchanges, GapsStationsAndTypesSplitRunsInAnyListOrder) {
  std::vector<ParsedGate> gates = {Gate(1, kReal, 1223), Gate(1, kReal, 1217), Gate(1, kReal, 1218),
                                   Gate(2, kReal, 1219), Gate(1, kInt32, 1219), Gate(1, kInt32, 1220)};
  // 1217..1218 on station 1; 1223 alone; 1219 on station 2 alone; two 32-bit integers.
  EXPECT_EQ(Count(gates), std::make_pair(2, 2));
}

TEST(MinimumExchanges, GatesAtOneAddressCountOnce) {
  std::vector<ParsedGate> gates = Consecutive(1, kReal, 90, 2);
  gates.push_back(Gate(1, kReal, 90, true, 0, 255, "001PM01K0"));
  EXPECT_EQ(Count(gates), std::make_pair(1, 0));
}

TEST(MinimumExchanges, GatesCommandFourRefusesOrThatAreNotRealsOrCountersReadSingly) {
  std::vector<ParsedGate> gates = {Gate(10, kReal, 12, false), Gate(10, kReal, 13, false),  // XT9100
                                   Gate(1, kInt16, 1377), Gate(1, kInt16, 1378),            // 16-bit items
                                   Gate(1, kInt32, 5, true, 84), Gate(1, kInt32, 6, true, 84)};  // schedule
  EXPECT_EQ(Count(gates), std::make_pair(0, 6));
}

TEST(MinimumExchanges, IdenticalSingleReadsShareOneExchange) {
  std::vector<ParsedGate> gates = {
      Gate(1, kDigital, 134, false, 0, 1, "001PM01CMP"), Gate(1, kDigital, 134, false, 0, 1, "001PM01HDC2"),
      Gate(1, kDigital, 134, false, 0, 2),                                        // another bit
      Gate(5, kReal, 1, false, 1001, 255, "005AI001"), Gate(5, kReal, 1, false, 1001, 255, "005AI001_O"),
      Gate(5, kDigital, 1, false, 1008, 255, "005AO001_O")};                      // another region
  EXPECT_EQ(Count(gates), std::make_pair(0, 4));
}

TEST(MinimumExchanges, FieldsOfOneWordAndItemsOfTwoSchedulesAreReadApart) {
  std::vector<ParsedGate> gates = {
      Gate(20, kInt16, 158, false, 0, 255, "020TCGCMIN"), Gate(20, kInt16, 158, false, 0, 255, "020TCGCHOUR"),
      Gate(20, kInt16, 158, false, 0, 255, "020TCGCMIN"),
      Gate(1, kInt32, 5, true, 84, 255, "001TS01START1"), Gate(1, kInt32, 5, true, 84, 255, "001TS02START1")};
  EXPECT_EQ(Count(gates), std::make_pair(0, 4));
}

}  // namespace
