// End to end against the simulated plant: every point of every module of the
// DX9100, XT9100 and TC9100 tables parsed (command 3) and read (command 5)
// with its own data type, each value checked against what the device holds;
// and block reads (commands 4 and 6) of runs of DX9100 items checked against
// single reads of the same items.
//
// The twelve PM modules of the DX9100 have a program of their own
// (e2e_pm_points_test.cpp), so that the two halves of the walk run side by side.
#include <vector>

#include "tests/e2e_fixture.h"

namespace {

using e2e::HostValue;
using e2e::ModuleRef;

std::vector<ModuleRef> ModulesOtherThanPM() {
  return e2e::ModulesWhere([](const ModuleRef &ref) { return strncmp(ref.module->name, "PM", 2) != 0; });
}

class EveryPoint : public e2e::E2eTest, public ::testing::WithParamInterface<ModuleRef> {};

TEST_P(EveryPoint, ParsesAndReadsWithTheValueTheDeviceHolds) { e2e::WalkModule(bench(), GetParam()); }

INSTANTIATE_TEST_SUITE_P(OfTheModule, EveryPoint, ::testing::ValuesIn(ModulesOtherThanPM()), e2e::ModuleRefName);

// ---- block reads -------------------------------------------------------------

struct BlockCase {
  const char *module;
  const char *firstPoint;
  int32_t dataType;
  int32_t items;
};

// Runs of consecutive items of one width, in both address forms.
constexpr BlockCase kBlocks[] = {
    {"GC", "ACO1", kGateReal, 8},     // 34..41, paged
    {"GC", "CNTR1", kGateInt32, 8},   // 13..20, four bytes each
    {"GC", "ACO1", kGateReal, 1},     // a block of one item
    {"AI01", "HR", kGateReal, 7},     // 1217..1223, full form
    {"AI08", "HR", kGateReal, 7},
    {"PM01", "LSP", kGateReal, 32},   // the longest block: 90..121
    {"PM10", "LSP", kGateReal, 32},   // 954..985, page 3
    {"PM12", "OCM", kGateReal, 8},    // 1180..1187
    {"PM03", "RT1", kGateInt32, 8},   // 329..336
    {"XT01", "XTAI1", kGateReal, 16}, // inputs and outputs: 1517..1532
    {"XT08", "XTDIC1", kGateInt32, 8},
    {"DO03", "DO@", kGateInt16, 1},   // a 16-bit block stores its first item only
};

class BlockRead : public e2e::E2eTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockRead, GivesTheValuesOfSingleReadsOfTheSameItems) {
  const BlockCase &c = GetParam();
  const ModuleEntry *module = e2e::FindModule("DX9100", c.module);
  ASSERT_NE(module, nullptr);
  const PointEntry *first = e2e::FindPoint(*module, c.firstPoint);
  ASSERT_NE(first, nullptr);
  const std::string gas = e2e::GasOf(e2e::kDX9100, *module, *first);

  ParseBlock parsed;
  ASSERT_EQ(channel().BlockCheck(gas, c.dataType, c.items, &parsed), 0) << gas;
  EXPECT_EQ(parsed.station, e2e::kDX9100);
  EXPECT_EQ(parsed.element, module->base + first->offset);
  EXPECT_EQ(parsed.bit, 255);

  const uint64_t blockReads = bench().Count("block-read");
  HostValue block;
  ASSERT_EQ(channel().BlockReadItems(gas, c.dataType, block.data(), c.items), 0) << gas;
  EXPECT_EQ(bench().Count("block-read"), blockReads + 1) << "one exchange for the whole block";

  const int stored = c.dataType == kGateInt16 ? 1 : c.items;
  for (int i = 0; i < stored; ++i) {
    const PointEntry *point = e2e::WholeItemAt(*module, static_cast<uint16_t>(first->offset + i));
    ASSERT_NE(point, nullptr) << "no point at offset " << first->offset + i;
    const std::string single = e2e::GasOf(e2e::kDX9100, *module, *point);
    HostValue value;
    ASSERT_EQ(channel().Read(single, c.dataType, value.data()), 0) << single;
    if (c.dataType == kGateReal) {
      EXPECT_EQ(block.real(i), value.real()) << "item " << i << " " << single;
    } else if (c.dataType == kGateInt32) {
      EXPECT_EQ(block.number(i), value.number()) << "item " << i << " " << single;
    } else {
      EXPECT_EQ(block.word(), value.word()) << single;
    }
    const e2e::Reading expected = bench().Expected(e2e::kDX9100, *module, *point);
    if (c.dataType == kGateReal) {
      EXPECT_EQ(block.real(i), expected.real) << single;
    } else if (c.dataType == kGateInt32) {
      EXPECT_EQ(block.number(i), expected.number) << single;
    }
  }
  // Nothing is stored past the block.
  const size_t used = c.dataType == kGateInt16 ? 4 : 4 * static_cast<size_t>(c.items);
  for (size_t i = used; i < sizeof block.bytes; ++i) ASSERT_EQ(block.bytes[i], 0xEE) << "byte " << i;
}

std::string BlockName(const ::testing::TestParamInfo<BlockCase> &info) {
  std::string name = std::string(info.param.module) + "_" + info.param.firstPoint + "_x" +
                     std::to_string(info.param.items);
  for (char &c : name) {
    if (c == '@') c = 'A';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(OfDX9100Items, BlockRead, ::testing::ValuesIn(kBlocks), BlockName);

struct EligibilityCase {
  const char *gas;
  int32_t dataType;
  int32_t items;
  int32_t status;
};

class BlockReadEligibility : public e2e::E2eTest {};

TEST_F(BlockReadEligibility, AdmitsOnlyWholeDX9100ItemsUpTo32AndSendsNothing) {
  const EligibilityCase cases[] = {
      {"001GCACO1", kGateReal, 32, 0},   {"001GCACO1", kGateReal, 33, 1},   // more than 32 items
      {"001GCDI1", kGateDigital, 2, 1},  {"001PM01HDC1", kGateDigital, 2, 1},  // single bits
      {"010XP01AI1", kGateReal, 2, 1},   {"020TCGCAI1", kGateReal, 2, 1},   // other families
      {"005AI001", kGateReal, 2, 1},     {"001GCNOPE", kGateReal, 2, 1},    // N2 Open, no such point
  };
  const uint64_t requests = bench().Count("requests");
  for (const EligibilityCase &c : cases) {
    EXPECT_EQ(channel().BlockCheck(c.gas, c.dataType, c.items), c.status) << c.gas << " x" << c.items;
  }
  EXPECT_EQ(bench().Count("requests"), requests) << "the check sends nothing";
}

}  // namespace
