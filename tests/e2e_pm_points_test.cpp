// End to end against the simulated plant: every point of the twelve PM
// modules of the DX9100 parsed (command 3) and read (command 5) with its own
// data type, each value checked against what the device holds. The other
// modules are walked by e2e_points_test.cpp; the walk is split so that its
// two halves run side by side.
#include <vector>

#include "tests/e2e_fixture.h"

namespace {

using e2e::ModuleRef;

std::vector<ModuleRef> PMModules() {
  return e2e::ModulesWhere([](const ModuleRef &ref) { return strncmp(ref.module->name, "PM", 2) == 0; });
}

class EveryPoint : public e2e::E2eTest, public ::testing::WithParamInterface<ModuleRef> {};

TEST_P(EveryPoint, ParsesAndReadsWithTheValueTheDeviceHolds) { e2e::WalkModule(bench(), GetParam()); }

INSTANTIATE_TEST_SUITE_P(OfTheModule, EveryPoint, ::testing::ValuesIn(PMModules()), e2e::ModuleRefName);

TEST(PMModules, AreTwelveOfTheDX9100) { EXPECT_EQ(PMModules().size(), 12u); }

}  // namespace
