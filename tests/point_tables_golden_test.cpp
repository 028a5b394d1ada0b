// Every row of every device point table against a listing kept as data
// (tests/point_tables.golden). The simulator reads the same compiled tables as
// the driver, so a row changed by mistake (an offset moved by one) passes
// every exchange test; here it fails until the listing changes with it.
//
// The listing was written from the compiled tables once and is changed by
// hand with each deliberate change of a row. To write it afresh after such a
// change: ZAMKT_WRITE_GOLDEN=1 build/point_tables_golden_test, then review
// the difference before committing it.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "n2/point_tables.h"

namespace {

const std::string kListingPath = std::string(ZAMKT_SOURCE_DIR) + "/tests/point_tables.golden";

// "DX9100 AI01 1216 HR 30 1 W 255": family, module, base, mnemonic, type code,
// offset, access, bit (255 for a whole item).
std::vector<std::string> CompiledRows() {
  std::vector<std::string> rows;
  for (const FamilyTable &family : kFamilies) {
    for (uint16_t m = 0; m < family.moduleCount; ++m) {
      const ModuleEntry &module = family.modules[m];
      for (uint16_t p = 0; p < module.pointCount; ++p) {
        const PointEntry &point = module.points[p];
        char row[96];
        snprintf(row, sizeof row, "%s %.*s %u %.*s %u %u %c %u", family.name, static_cast<int>(sizeof module.name),
                 module.name, module.base, static_cast<int>(sizeof point.mnemonic), point.mnemonic, point.type,
                 point.offset, static_cast<char>(point.access), point.bit);
        rows.push_back(row);
      }
    }
  }
  return rows;
}

// The rows of the listing, without its comment lines.
std::vector<std::string> ListedRows(bool *found) {
  std::ifstream file(kListingPath);
  *found = file.is_open();
  std::vector<std::string> rows;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    rows.push_back(line);
  }
  return rows;
}

TEST(PointTablesGolden, EveryRowOfEveryTableMatchesTheListing) {
  const std::vector<std::string> compiled = CompiledRows();
  if (getenv("ZAMKT_WRITE_GOLDEN") != nullptr) {
    std::ofstream out(kListingPath);
    out << "# Every row of the device point tables: family module base mnemonic type offset access bit\n"
           "# (bit 255: the whole item). Checked by tests/point_tables_golden_test.cpp.\n";
    for (const std::string &row : compiled) out << row << "\n";
    GTEST_SKIP() << "listing written to " << kListingPath;
  }
  bool found = false;
  const std::vector<std::string> listed = ListedRows(&found);
  ASSERT_TRUE(found) << "no listing at " << kListingPath;
  const size_t common = std::min(compiled.size(), listed.size());
  int reported = 0;
  for (size_t i = 0; i < common && reported < 20; ++i) {
    if (compiled[i] == listed[i]) continue;
    ADD_FAILURE() << "row " << i + 1 << ": the tables hold '" << compiled[i] << "', the listing '" << listed[i] << "'";
    ++reported;
  }
  EXPECT_EQ(compiled.size(), listed.size()) << "rows in the tables and in the listing";
}

}  // namespace
