// The device point tables: their shape (families, modules, counts, the
// invariants every row keeps) and a sample of rows per table whose values are
// worked out by hand from the device documentation.
#include "n2/point_tables.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

namespace {

const ModuleEntry *FindModule(const char *family, const char *name) {
  const FamilyTable *table = FindFamily(family);
  if (table == nullptr) return nullptr;
  for (uint16_t i = 0; i < table->moduleCount; ++i) {
    if (strcmp(table->modules[i].name, name) == 0) return &table->modules[i];
  }
  return nullptr;
}

bool IsNameCharacter(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

TEST(PointTables, FamiliesAreFoundByTheirStationTypeNameOnly) {
  const struct {
    const char *name;
    uint16_t modules;
  } cases[] = {{"DX9100", 52}, {"XT9100", 2}, {"TC9100", 7}};
  for (const auto &c : cases) {
    const FamilyTable *family = FindFamily(c.name);
    ASSERT_NE(family, nullptr) << c.name;
    EXPECT_STREQ(family->name, c.name);
    EXPECT_EQ(family->moduleCount, c.modules) << c.name;
  }
  for (const char *other : {"N2OPEN", "dx9100", "DX910", "", "DX9100 "}) {
    EXPECT_EQ(FindFamily(other), nullptr) << other;
  }
  EXPECT_EQ(FindFamily(nullptr), nullptr);
}

TEST(PointTables, ModuleRowsComeInTheDocumentedOrderWithTheirBases) {
  // Expected module order of each family, with base and point count, built
  // here from the documented runs.
  struct Module {
    std::string name;
    uint16_t base;
    uint16_t points;
  };
  auto two = [](const char *prefix, int n) {
    char text[8];
    snprintf(text, sizeof text, "%s%02d", prefix, n);
    return std::string(text);
  };
  std::vector<Module> dx = {{"GC", 0, 143}};
  for (int n = 1; n <= 12; ++n) dx.push_back({two("PM", n), uint16_t(64 + 96 * (n - 1)), 172});
  for (int n = 1; n <= 8; ++n) dx.push_back({two("AI", n), uint16_t(1216 + 16 * (n - 1)), 7});
  dx.push_back({"AO01", 1344, 2});
  dx.push_back({"AO02", 1360, 2});
  for (int n = 9; n <= 14; ++n) dx.push_back({two("AO", n), uint16_t(2304 + 16 * (n - 9)), 2});
  for (int n = 3; n <= 8; ++n) dx.push_back({two("DO", n), uint16_t(1376 + 16 * (n - 3)), 3});
  for (int n = 1; n <= 8; ++n) dx.push_back({two("XT", n), uint16_t(1472 + 80 * (n - 1)), 53});
  for (int n = 1; n <= 8; ++n) dx.push_back({two("TS", n), uint16_t(2112 + 16 * (n - 1)), 25});
  dx.push_back({"RTCL", 4095, 4});
  const std::vector<Module> xt = {{"XP01", 0, 25}, {"XP02", 0, 17}};
  const std::vector<Module> tc = {{"TCGC", 0, 173}, {"TCP1", 39, 30}, {"TCP2", 50, 30}, {"TCP3", 61, 30},
                                  {"TCP4", 72, 30}, {"TCP5", 83, 30}, {"TCP6", 94, 30}};

  const struct {
    const char *family;
    const std::vector<Module> &modules;
  } families[] = {{"DX9100", dx}, {"XT9100", xt}, {"TC9100", tc}};
  for (const auto &f : families) {
    const FamilyTable *family = FindFamily(f.family);
    ASSERT_NE(family, nullptr);
    ASSERT_EQ(family->moduleCount, f.modules.size()) << f.family;
    for (size_t i = 0; i < f.modules.size(); ++i) {
      const ModuleEntry &row = family->modules[i];
      EXPECT_EQ(row.name, f.modules[i].name) << f.family << " row " << i;
      EXPECT_EQ(row.base, f.modules[i].base) << row.name;
      EXPECT_EQ(row.pointCount, f.modules[i].points) << row.name;
    }
  }
}

TEST(PointTables, ModulesOfOneKindShareOnePointTable) {
  const struct {
    const char *family;
    const char *first;
    const char *other;
  } cases[] = {{"DX9100", "PM01", "PM12"}, {"DX9100", "AO01", "AO14"}, {"DX9100", "DO03", "DO08"},
               {"DX9100", "TS01", "TS08"}, {"TC9100", "TCP1", "TCP6"}};
  for (const auto &c : cases) {
    EXPECT_EQ(FindModule(c.family, c.first)->points, FindModule(c.family, c.other)->points) << c.other;
  }
  // The XT9100's two modules each have a table of their own.
  EXPECT_NE(FindModule("XT9100", "XP01")->points, FindModule("XT9100", "XP02")->points);
}

TEST(PointTables, EveryRowKeepsTheTableInvariants) {
  const std::set<uint16_t> typeCodes = {30, 40, 50, 60, 70, 80, 90, 100, 110,
                                        120, 130, 140, 150, 160, 170, 180};
  for (const FamilyTable &family : kFamilies) {
    std::set<std::string> moduleNames;
    for (uint16_t m = 0; m < family.moduleCount; ++m) {
      const ModuleEntry &module = family.modules[m];
      ASSERT_NE(memchr(module.name, '\0', sizeof module.name), nullptr);
      const std::string name = module.name;
      EXPECT_TRUE(moduleNames.insert(name).second) << "module twice: " << name;
      EXPECT_GE(name.size(), 2u);
      EXPECT_LE(name.size(), 4u);
      for (char c : name) EXPECT_TRUE(IsNameCharacter(c)) << name;
      // The name field is NUL padded past the name.
      for (size_t i = name.size(); i < sizeof module.name; ++i) EXPECT_EQ(module.name[i], '\0') << name;

      std::set<std::string> mnemonics;
      for (uint16_t p = 0; p < module.pointCount; ++p) {
        const PointEntry &point = module.points[p];
        ASSERT_NE(memchr(point.mnemonic, '\0', sizeof point.mnemonic), nullptr);
        const std::string mnemonic = point.mnemonic;
        const std::string where = name + "." + mnemonic;
        EXPECT_TRUE(mnemonics.insert(mnemonic).second) << "mnemonic twice: " << where;
        EXPECT_GE(mnemonic.size(), 1u) << where;
        EXPECT_LE(mnemonic.size(), 6u) << where;
        for (size_t i = mnemonic.size(); i < sizeof point.mnemonic; ++i) {
          EXPECT_EQ(point.mnemonic[i], '\0') << where;
        }
        if (mnemonic != "DO@") {
          for (char c : mnemonic) EXPECT_TRUE(IsNameCharacter(c)) << where;
        }
        EXPECT_TRUE(typeCodes.count(point.type)) << where << " type " << point.type;
        EXPECT_TRUE(point.access == 'R' || point.access == 'W') << where;
        if (point.type == kTypeBit8) {
          EXPECT_LE(point.bit, 7) << where;
        } else if (point.type == kTypeBit16) {
          EXPECT_LE(point.bit, 15) << where;
        } else {
          EXPECT_EQ(point.bit, kWholeItem) << where;
        }
      }
    }
  }
}

TEST(PointTables, OnlyTheDigitalOutputModulesHaveTheDoAtSignPoint) {
  int found = 0;
  for (const FamilyTable &family : kFamilies) {
    for (uint16_t m = 0; m < family.moduleCount; ++m) {
      const ModuleEntry &module = family.modules[m];
      for (uint16_t p = 0; p < module.pointCount; ++p) {
        if (strcmp(module.points[p].mnemonic, "DO@") == 0) {
          EXPECT_EQ(strncmp(module.name, "DO", 2), 0) << module.name;
          ++found;
        }
      }
    }
  }
  EXPECT_EQ(found, 6);  // DO03..DO08
}

// A row of a point table at its position, as worked out from the documented
// runs (for example LRS49..LRS64 at offset 45 bits 0..15 end the GC table:
// LRS64 is row 142, bit 15).
struct SampleRow {
  const char *family;
  const char *module;
  int row;
  const char *mnemonic;
  uint16_t type;
  char access;
  uint16_t offset;
  uint16_t bit;
};

const SampleRow kSamples[] = {
    // GC: SSA, DO3..DO8, DI1..DI8, AIH1/AIL1..AIH8/AIL8, LRS1.., DCO.., CNTR, ACO, LRS33..64.
    {"DX9100", "GC", 0, "SSA", 80, 'W', 1, 15},
    {"DX9100", "GC", 1, "DO3", 40, 'R', 5, 0},
    {"DX9100", "GC", 6, "DO8", 40, 'R', 5, 5},
    {"DX9100", "GC", 14, "DI8", 40, 'R', 6, 7},
    {"DX9100", "GC", 15, "AIH1", 80, 'R', 7, 0},
    {"DX9100", "GC", 18, "AIL2", 80, 'R', 7, 3},
    {"DX9100", "GC", 30, "AIL8", 80, 'R', 7, 15},
    {"DX9100", "GC", 47, "LRS17", 80, 'R', 9, 0},
    {"DX9100", "GC", 79, "DCO17", 80, 'W', 11, 0},
    {"DX9100", "GC", 102, "CNTR8", 60, 'W', 20, 255},
    {"DX9100", "GC", 103, "ACO1", 30, 'W', 34, 255},
    {"DX9100", "GC", 111, "LRS33", 80, 'R', 44, 0},
    {"DX9100", "GC", 142, "LRS64", 80, 'R', 45, 15},
    // PM: 12 status bits, the items of offsets 26..67, HDC/CMP, LOCM/STO/TDO, RA/LS, RT.
    {"DX9100", "PM01", 0, "SOFE", 80, 'W', 1, 0},
    {"DX9100", "PM01", 9, "PUPM", 80, 'W', 1, 13},
    {"DX9100", "PM01", 11, "NEXT", 80, 'W', 1, 15},
    {"DX9100", "PM01", 12, "LSP", 30, 'W', 26, 255},
    {"DX9100", "PM01", 14, "K0", 30, 'W', 26, 255},
    {"DX9100", "PM01", 18, "SP1", 30, 'W', 26, 255},
    {"DX9100", "PM01", 41, "K3IS", 30, 'W', 30, 255},
    {"DX9100", "PM01", 81, "LSP2", 30, 'W', 43, 255},
    {"DX9100", "PM01", 89, "Y10", 30, 'W', 47, 255},
    {"DX9100", "PM01", 101, "Y16", 30, 'W', 59, 255},
    {"DX9100", "PM01", 106, "OUT", 30, 'W', 60, 255},
    {"DX9100", "PM01", 128, "NCM8", 30, 'W', 67, 255},
    {"DX9100", "PM01", 130, "CMP", 40, 'W', 70, 1},
    {"DX9100", "PM01", 131, "HDC2", 40, 'W', 70, 1},
    {"DX9100", "PM01", 137, "HDC8", 40, 'W', 70, 7},
    {"DX9100", "PM01", 138, "LOCM", 40, 'W', 71, 0},
    {"DX9100", "PM01", 140, "TDO1", 40, 'W', 71, 0},
    {"DX9100", "PM01", 154, "TDO8", 40, 'W', 71, 7},
    {"DX9100", "PM01", 155, "RA", 80, 'R', 72, 0},
    {"DX9100", "PM01", 163, "LS8", 80, 'R', 72, 7},
    {"DX9100", "PM01", 171, "RT8", 60, 'W', 80, 255},
    // AI, AO, DO.
    {"DX9100", "AI03", 0, "HR", 30, 'W', 1, 255},
    {"DX9100", "AI03", 6, "AI", 30, 'R', 7, 255},
    {"DX9100", "AO09", 1, "OUH", 40, 'W', 7, 0},
    {"DX9100", "DO05", 0, "DO@", 70, 'W', 1, 255},
    {"DX9100", "DO05", 2, "OUH", 40, 'W', 12, 0},
    // XT.
    {"DX9100", "XT02", 0, "XTAI1", 30, 'R', 45, 255},
    {"DX9100", "XT02", 16, "XTDIC1", 60, 'W', 61, 255},
    {"DX9100", "XT02", 31, "XTOUH8", 40, 'W', 69, 7},
    {"DX9100", "XT02", 47, "XTDI8", 40, 'R', 71, 7},
    {"DX9100", "XT02", 49, "XTSEL", 40, 'R', 72, 4},
    {"DX9100", "XT02", 52, "XTPWR", 40, 'R', 72, 7},
    // TS: START n at 3n+2.
    {"DX9100", "TS02", 0, "TSOUT", 40, 'W', 6, 1},
    {"DX9100", "TS02", 1, "START1", 60, 'W', 5, 255},
    {"DX9100", "TS02", 3, "DAYS1", 60, 'W', 7, 255},
    {"DX9100", "TS02", 22, "START8", 60, 'W', 26, 255},
    {"DX9100", "TS02", 24, "DAYS8", 60, 'W', 28, 255},
    // RTCL.
    {"DX9100", "RTCL", 0, "CENT", 60, 'R', 0, 255},
    {"DX9100", "RTCL", 2, "WDAY", 60, 'R', 4, 255},
    {"DX9100", "RTCL", 3, "TIME", 60, 'W', 5, 255},
    // XP01, XP02.
    {"XT9100", "XP01", 7, "DO8", 40, 'W', 7, 7},
    {"XT9100", "XP01", 10, "DI3", 40, 'R', 9, 2},
    {"XT9100", "XP01", 21, "AI6", 30, 'R', 17, 255},
    {"XT9100", "XP01", 23, "AO8", 30, 'W', 27, 255},
    {"XT9100", "XP01", 24, "DOPT", 50, 'W', 68, 255},
    {"XT9100", "XP02", 10, "DI3", 40, 'R', 10, 2},
    {"XT9100", "XP02", 16, "DOPT", 50, 'W', 68, 255},
    // TCGC.
    {"TC9100", "TCGC", 0, "AI1", 30, 'W', 1, 255},
    {"TC9100", "TCGC", 21, "ACO6", 30, 'W', 27, 255},
    {"TC9100", "TCGC", 23, "SAC", 30, 'R', 29, 255},
    {"TC9100", "TCGC", 29, "DO1", 40, 'R', 31, 5},
    {"TC9100", "TCGC", 31, "MODS", 90, 'R', 32, 255},
    {"TC9100", "TCGC", 37, "AIRQ", 40, 'R', 32, 7},
    {"TC9100", "TCGC", 44, "DO2E", 40, 'W', 33, 6},
    {"TC9100", "TCGC", 45, "DO3C", 40, 'W', 34, 0},
    {"TC9100", "TCGC", 64, "MODC", 90, 'W', 37, 255},
    {"TC9100", "TCGC", 67, "SUP1", 40, 'W', 37, 5},
    {"TC9100", "TCGC", 76, "FOS", 40, 'R', 38, 7},
    {"TC9100", "TCGC", 77, "LOOP3", 40, 'R', 38, 7},
    {"TC9100", "TCGC", 78, "RA", 40, 'W', 135, 7},
    {"TC9100", "TCGC", 83, "MIN", 160, 'W', 158, 255},
    {"TC9100", "TCGC", 85, "WDAY", 180, 'W', 158, 255},
    {"TC9100", "TCGC", 90, "FSP", 30, 'W', 165, 255},
    {"TC9100", "TCGC", 97, "AIO4", 80, 'W', 167, 11},
    {"TC9100", "TCGC", 99, "RSP", 30, 'R', 258, 255},
    {"TC9100", "TCGC", 102, "WDAY1", 50, 'W', 261, 255},
    {"TC9100", "TCGC", 103, "DST1M1", 50, 'W', 272, 255},
    {"TC9100", "TCGC", 109, "DST1DY", 150, 'W', 272, 255},
    {"TC9100", "TCGC", 112, "E56S1", 50, 'W', 275, 255},
    {"TC9100", "TCGC", 135, "DST4M3", 50, 'W', 320, 255},
    {"TC9100", "TCGC", 169, "DST7DY", 150, 'W', 368, 255},
    {"TC9100", "TCGC", 172, "E56S7", 50, 'W', 371, 255},
    // TCP.
    {"TC9100", "TCP1", 2, "RA", 80, 'W', 4, 15},
    {"TC9100", "TCP1", 7, "PB1", 30, 'W', 5, 255},
    {"TC9100", "TCP1", 20, "LSP2", 30, 'W', 11, 255},
    {"TC9100", "TCP1", 21, "RA2", 80, 'W', 15, 15},
    {"TC9100", "TCP1", 29, "BNT2", 30, 'W', 21, 255},
};

TEST(PointTables, SampledRowsHoldTheirDocumentedValuesAtTheirPlace) {
  for (const SampleRow &s : kSamples) {
    const ModuleEntry *module = FindModule(s.family, s.module);
    ASSERT_NE(module, nullptr) << s.module;
    ASSERT_LT(s.row, module->pointCount) << s.module;
    const PointEntry &point = module->points[s.row];
    const std::string where = std::string(s.module) + " row " + std::to_string(s.row);
    EXPECT_STREQ(point.mnemonic, s.mnemonic) << where;
    EXPECT_EQ(point.type, s.type) << where;
    EXPECT_EQ(point.access, s.access) << where;
    EXPECT_EQ(point.offset, s.offset) << where;
    EXPECT_EQ(point.bit, s.bit) << where;
  }
}

TEST(PointTables, RowCountsPerTypeCodeMatchTheDocumentedRuns) {
  // Totals per type code, summed by hand over the documented runs of each
  // table: a check that catches a run of the wrong kind anywhere in a table.
  struct Count {
    const char *module;
    uint16_t type;
    int rows;
  };
  const Count counts[] = {
      {"GC", 40, 14},  {"GC", 80, 113}, {"GC", 60, 8},   {"GC", 30, 8},
      {"PM01", 80, 21}, {"PM01", 30, 117}, {"PM01", 40, 26}, {"PM01", 60, 8},
      {"XT01", 30, 16}, {"XT01", 60, 8},  {"XT01", 40, 29},
      {"TCGC", 30, 32}, {"TCGC", 40, 56}, {"TCGC", 90, 3}, {"TCGC", 80, 6},
      {"TCGC", 50, 66}, {"TCGC", 150, 7}, {"TCGC", 160, 1}, {"TCGC", 170, 1}, {"TCGC", 180, 1},
      {"TCP1", 30, 27}, {"TCP1", 80, 3},
  };
  for (const Count &c : counts) {
    const char *family = c.module[0] == 'T' && c.module[1] == 'C' ? "TC9100" : "DX9100";
    const ModuleEntry *module = FindModule(family, c.module);
    ASSERT_NE(module, nullptr) << c.module;
    int rows = 0;
    for (uint16_t p = 0; p < module->pointCount; ++p) rows += module->points[p].type == c.type;
    EXPECT_EQ(rows, c.rows) << c.module << " type " << c.type;
  }
}

}  // namespace
