// Commissioning with zamhost scan: families told apart without --family,
// claims checked, station files merged rather than lost, rows printed as each
// station is known, the files for the gateway stable; and the messages a
// newcomer meets on the way (a refusal once, three-digit hints).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "driver/requests.h"
#include "host/common/address_hints.cpp"
#include "host/common/commission_files.cpp"
#include "host/common/gate_list.cpp"
#include "host/common/gate_types.cpp"
#include "host/common/point_catalogue.cpp"
#include "host/common/refusal.cpp"
#include "host/common/station_file_merge.cpp"
#include "n2/point_tables.h"
#include "tests/zamhost_test_helpers.h"

namespace {

using namespace n2host;
using namespace zamhost_test;

std::vector<nlohmann::json> JsonRows(const std::string &text) {
  std::vector<nlohmann::json> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) rows.push_back(nlohmann::json::parse(line));
  }
  return rows;
}

// The memory addresses a family's points name (schedule and clock areas aside).
std::set<int> AddressesOf(const char *name) {
  return MemoryAddresses(*FindFamily(name));
}

TEST(PointCatalogue, TestPointsAreAnsweredOnlyByTheirFamilyWhereTheTablesAllow) {
  for (const char *family : {"DX9100", "TC9100"}) {
    std::string test = FamilyTestPoint(family);
    ASSERT_FALSE(test.empty()) << family;
    const FamilyTable *table = FindFamily(family);
    int address = -1;
    for (uint16_t m = 0; m < table->moduleCount; ++m) {
      const ModuleEntry &module = table->modules[m];
      for (uint16_t p = 0; p < module.pointCount; ++p) {
        if (std::string(module.name) + module.points[p].mnemonic == test) address = module.base + module.points[p].offset;
      }
    }
    ASSERT_GE(address, 0) << test;
    for (const char *other : {"DX9100", "XT9100", "TC9100"}) {
      if (std::string(other) != family) EXPECT_EQ(AddressesOf(other).count(address), 0u) << family << " " << test << " in " << other;
    }
  }
  // Every XT9100 address lies in a TC9100's memory too: its test point is
  // tried after the TC9100's.
  EXPECT_EQ(FamilyTestPoint("XT9100"), "XP01AI1");
  EXPECT_EQ(FamilyTestPoint("N2OPEN"), "");
}

TEST(PointCatalogue, ProcessPointsAreNamedByTheirMeaningWithTypeAndAccess) {
  struct Case {
    const char *family;
    int station;
    const char *name, *gas;
    int type;
    bool writable;
  } cases[] = {
      {"DX9100", 1, "st1 AI1 input", "001AI01AI", kGateReal, false},
      {"DX9100", 1, "st1 DI3 input", "001GCDI3", kGateDigital, false},
      {"DX9100", 1, "st1 PM12 setpoint", "001PM12LSP", kGateReal, true},
      {"DX9100", 1, "st1 TS2 start 1", "001TS02START1", kGateInt32, true},
      {"DX9100", 1, "st1 clock time", "001RTCLTIME", kGateInt32, true},
      {"XT9100", 10, "st10 AO7 output", "010XP01AO7", kGateReal, true},
      {"XT9100", 10, "st10 XP2 DI1 input", "010XP02DI1", kGateDigital, false},
      {"TC9100", 130, "st130 loop 6 setpoint", "130TCP6LSP", kGateReal, true},
      {"TC9100", 130, "st130 clock weekday", "130TCGCWDAY", kGateInt16, true},
  };
  for (const Case &c : cases) {
    bool seen = false;
    for (const CataloguePoint &point : ProcessPoints(c.family, c.station)) {
      if (point.name != c.name) continue;
      seen = true;
      EXPECT_EQ(point.gas, c.gas);
      EXPECT_EQ(point.type, c.type) << c.name;
      EXPECT_EQ(point.writable, c.writable) << c.name;
    }
    EXPECT_TRUE(seen) << c.name;
  }
  // Names are topic levels: unique within a station.
  for (const char *family : {"DX9100", "XT9100", "TC9100"}) {
    std::set<std::string> names;
    for (const CataloguePoint &point : ProcessPoints(family, 7)) EXPECT_TRUE(names.insert(point.name).second) << point.name;
  }
}

TEST(StationFileMerge, AnExistingFileIsNeverLost) {
  const std::string header = "# Station types found by zamhost scan; stations not named are DX9100s.\n";
  struct Case {
    const char *what;
    std::string old;
    int from, to;
    std::vector<ScannedStation> found;
    std::string text;
    std::vector<std::string> conflicts;
    int assigned;
  } cases[] = {
      {"a first scan names the XT9100 and TC9100 too", "", 1, 254,
       {{1, "DX9100", ""}, {5, "N2OPEN", ""}, {10, "XT9100", ""}, {20, "TC9100", ""}},
       header + "005 = N2OPEN\n010 = XT9100\n020 = TC9100\n", {}, 3},
      {"stations outside a partial range keep their hand-written lines", "# my bus\n200 = XT9100\n005 = N2OPEN\n", 1, 9,
       {{5, "N2OPEN", ""}}, header + "# my bus\n005 = N2OPEN\n200 = XT9100\n", {}, 2},
      {"a station found but not identified is a comment that says why", "", 1, 50,
       {{30, "", "refuses every test point"}}, header + "# 030: not identified: refuses every test point\n", {}, 0},
      {"a named station that did not answer keeps its line", "012 = TC9100\n", 1, 50, {}, header + "012 = TC9100\n",
       {}, 1},
      {"a family the scan contradicts is a conflict", "010 = TC9100\n", 1, 50, {{10, "XT9100", ""}},
       header + "010 = XT9100\n", {"station 10: XT9100 (was TC9100)"}, 1},
      {"a rescan of its own file changes nothing", header + "005 = N2OPEN\n# 030: not identified: x\n", 1, 254,
       {{5, "N2OPEN", ""}, {30, "", "x"}}, header + "005 = N2OPEN\n# 030: not identified: x\n", {}, 1},
  };
  for (const Case &c : cases) {
    StationFileMerge merge = MergeStationFile(c.old, c.from, c.to, c.found);
    EXPECT_EQ(merge.text, c.text) << c.what;
    EXPECT_EQ(merge.conflicts, c.conflicts) << c.what;
    EXPECT_EQ(merge.assigned, c.assigned) << c.what;
  }
  EXPECT_EQ(MergeStationFile("[gateway]\nid = 1\n", 1, 254, {}).foreign.size(), 2u) << "not a station file";
}

TEST(Messages, RefusalsAndDigitHints) {
  auto messages = [](std::vector<std::string> texts) {
    std::vector<DriverMessage> out;
    for (const std::string &text : texts) out.push_back({32, text});
    return out;
  };
  Refusal system91 = RefusalOf(messages({"ZAMKT:Gate 010AI01HR: Read failed! ErrorCode 10 H "}));
  EXPECT_TRUE(system91.definite);
  EXPECT_EQ(system91.reason, "no such point (N2 error 10)") << "not the raw \"ErrorCode 10 H \"";
  Refusal n2open = RefusalOf(messages({"ZAMKT01: MigDoReadItem() failed. Tag address 005AI017: Invalid Data (Point doesn't exist)"}));
  EXPECT_TRUE(n2open.definite);
  EXPECT_EQ(n2open.reason, "Invalid Data (Point doesn't exist)");
  EXPECT_FALSE(RefusalOf(messages({"ZAMKT:Gate 001AI01HR: Read failed! ErrorCode 02 H "})).definite);
  EXPECT_FALSE(RefusalOf(messages({"ZAMKT: Checksum Error. Plc String A12 "})).refused);

  std::vector<DriverMessage> collapsed = CollapseRepeats(messages({"a", "a", "a", "a", "a", "b", "a"}));
  ASSERT_EQ(collapsed.size(), 3u);
  EXPECT_EQ(collapsed[0].text, "a (5 times)");
  EXPECT_EQ(collapsed[1].text, "b");

  const std::map<std::string, std::string> hints = {
      {"1AI01AI", "a station is written in three digits: 001AI01AI"},
      {"12PM01LSP", "a station is written in three digits: 012PM01LSP"},
      {"005AI01", "an N2 Open object is written in three digits: 005AI001"},
      {"005AI0001", "an N2 Open object is written in three digits: 005AI001"},
      {"005AO12_O", "an N2 Open object is written in three digits: 005AO012_O"},
      {"001AI01AI", ""},
      {"005AI001", ""},
      {"001GCDI1", ""},
  };
  for (const auto &[gas, hint] : hints) EXPECT_EQ(DigitCountHint(gas), hint) << gas;
}

TEST(CommissionFiles, GateListParsesBackAndQuotesWhatNeedsIt) {
  CommissionedStation station{7, "XT9100", {{"st7 AI1 input", "007XP01AI1", kGateReal, false, "input"},
                                            {"a, \"b\"", "007XP01AO7", kGateReal, true, "output"}}};
  std::string text = GateListText({station});
  std::vector<GateSpec> gates;
  std::string error;
  ASSERT_TRUE(ParseGateList(text, "gates.csv", &gates, &error)) << error;
  ASSERT_EQ(gates.size(), 2u);
  EXPECT_EQ(gates[1].name, "a, \"b\"");
  EXPECT_EQ(gates[1].type, kGateReal);
  // The metadata the point tables know: the role, and the poll class it sets.
  EXPECT_EQ(gates[0].meta.description, "XT9100 input");
  EXPECT_EQ(gates[0].meta.pollClass, "fast");
  CommissionedStation setpoints{1, "DX9100", {{"st1 PM1 setpoint", "001PM01LSP", kGateReal, true, "setpoint"}}};
  gates.clear();
  ASSERT_TRUE(ParseGateList(GateListText({setpoints}), "gates.csv", &gates, &error)) << error;
  EXPECT_EQ(gates.at(0).meta.pollClass, "slow");
  EXPECT_EQ(TomlString("a\"b\\\n"), "\"a\\\"b\\\\\\u000A\"");
}

// The scans against n2sim.
class ZamhostCommission : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(sim_.port().empty()); }
  Simulator sim_{{"--static"}};
};

TEST_F(ZamhostCommission, FamiliesAreToldApartWithoutFamilyAndWrittenToTheStationFile) {
  TempFolder folder;
  RunResult scan = RunZamhost({"scan", "--port", sim_.port(), "--to", "30", "-f", "json", "--write-station-file",
                               folder.File("plant.int")});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  std::map<int, std::string> found;
  for (const nlohmann::json &row : JsonRows(scan.out)) found[row["station"].get<int>()] = row["family"];
  EXPECT_EQ(found, (std::map<int, std::string>{{1, "DX9100"}, {5, "N2OPEN"}, {10, "XT9100"}, {20, "TC9100"}}));
  EXPECT_EQ(ReadFile(folder.File("plant.int")),
            "# Station types found by zamhost scan; stations not named are DX9100s.\n"
            "005 = N2OPEN\n010 = XT9100\n020 = TC9100\n");
  EXPECT_TRUE(Contains(scan.err, "(3 stations assigned a family)")) << scan.err;
  // The file serves the points of every family.
  RunResult read = RunZamhost({"read", "--port", sim_.port(), "-s", folder.File("plant.int"), "010XP01AI1",
                               "020TCGCTEMP", "005AI001", "001AI01HR"});
  EXPECT_EQ(read.exitCode, 0) << read.out << read.err;
}

TEST_F(ZamhostCommission, AWrongFamilyClaimIsReportedAndNotWritten) {
  TempFolder folder;
  RunResult scan = RunZamhost({"scan", "--port", sim_.port(), "--from", "10", "--to", "20", "--family", "10=TC9100",
                               "--family", "20=TC9100", "--write-station-file", folder.File("plant.int")});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_TRUE(Contains(scan.err, "--family 10=TC9100 is not so: station 10 answers as an XT9100")) << scan.err;
  EXPECT_FALSE(Contains(scan.err, "20=TC9100 is not so")) << scan.err;
  EXPECT_TRUE(Contains(LinesWith(scan.out, "XT9100").at(0), "not a TC9100 as --family claims")) << scan.out;
  EXPECT_TRUE(Contains(ReadFile(folder.File("plant.int")), "010 = XT9100\n"));
  EXPECT_FALSE(Contains(ReadFile(folder.File("plant.int")), "010 = TC9100"));
}

TEST_F(ZamhostCommission, APartialScanMergesIntoTheFileAndAContradictionNeedsForce) {
  TempFolder folder;
  const std::string file = folder.File("plant.int");
  WriteFile(file, "200 = XT9100\n010 = TC9100\n");
  RunResult partial = RunZamhost({"scan", "--port", sim_.port(), "--from", "1", "--to", "6", "--write-station-file", file});
  ASSERT_EQ(partial.exitCode, 0) << partial.err;
  EXPECT_EQ(ReadFile(file),
            "# Station types found by zamhost scan; stations not named are DX9100s.\n"
            "005 = N2OPEN\n010 = TC9100\n200 = XT9100\n")
      << "stations outside 1..6 keep their lines";
  EXPECT_TRUE(Contains(partial.err, "station 5: N2OPEN (new)")) << partial.err;

  const std::string before = ReadFile(file);
  RunResult contradicted =
      RunZamhost({"scan", "--port", sim_.port(), "--from", "9", "--to", "11", "--write-station-file", file});
  EXPECT_EQ(contradicted.exitCode, 2) << contradicted.err;
  EXPECT_TRUE(Contains(contradicted.err, "station 10: XT9100 (was TC9100)")) << contradicted.err;
  EXPECT_EQ(ReadFile(file), before) << "nothing written without --force";
  RunResult forced = RunZamhost(
      {"scan", "--port", sim_.port(), "--from", "9", "--to", "11", "--write-station-file", file, "--force"});
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_TRUE(Contains(ReadFile(file), "010 = XT9100\n"));
  EXPECT_TRUE(Contains(ReadFile(file), "200 = XT9100\n"));

  WriteFile(folder.File("gates.csv"), "mine\n");
  RunResult kept = RunZamhost({"scan", "--port", sim_.port(), "--to", "2", "--write-gates", folder.File("gates.csv")});
  EXPECT_EQ(kept.exitCode, 2);
  EXPECT_EQ(ReadFile(folder.File("gates.csv")), "mine\n");
}

TEST_F(ZamhostCommission, EachRowIsPrintedWhenItsStationIsKnown) {
  // Stopped as soon as the first row has come through the pipe: the
  // stations behind it have not been reached.
  RunResult scan = RunZamhost({"scan", "--port", sim_.port(), "-f", "json"},
                              RunOptions{"", {}, 60000, "\"station\":1", -1});
  std::vector<nlohmann::json> rows = JsonRows(scan.out);
  ASSERT_FALSE(rows.empty()) << scan.err;
  EXPECT_EQ(rows.front()["station"], 1);
  EXPECT_LT(rows.size(), 4u) << scan.out;

  RunResult whole = RunZamhost({"scan", "--port", sim_.port(), "--to", "20", "-f", "json"});
  rows = JsonRows(whole.out);
  ASSERT_EQ(rows.size(), 4u) << whole.err;
  EXPECT_NE(rows.front()["time"], rows.back()["time"]) << "each row has its own time";
}

TEST_F(ZamhostCommission, AFullScanOfTheBusStaysWellUnderAMinute) {
  RunResult scan = RunZamhost({"scan", "--port", sim_.port()}, RunOptions{"", {}, 120000, "", -1});
  EXPECT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_EQ(LinesWith(scan.out, "System 91").size() + LinesWith(scan.out, "N2 Open").size(), 4u) << scan.out;
  // 254 addresses at the driver's five attempts of 20 ms: about 26 s on an
  // idle machine; before the short presence probe it took 65 s.
  EXPECT_LT(scan.seconds, 55.0);
}

TEST(ZamhostCommissionPaced, OnALineAt9600BaudNoStationIsMissedOrSeenTwice) {
  // Each request takes about 10 ms on the line before the station can
  // answer: a probe shorter than that missed the N2 Open device, and the
  // late replies to station 1's probe were taken for station 2's.
  Simulator sim({"--pacing"});
  ASSERT_FALSE(sim.port().empty());
  RunResult scan = RunZamhost({"scan", "--port", sim.port(), "--to", "6", "-f", "json"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  std::map<int, std::string> found;
  for (const nlohmann::json &row : JsonRows(scan.out)) found[row["station"].get<int>()] = row["family"];
  EXPECT_EQ(found, (std::map<int, std::string>{{1, "DX9100"}, {5, "N2OPEN"}})) << scan.out;
}

TEST_F(ZamhostCommission, PointsOfEveryFamilyAndStableFiles) {
  TempFolder folder;
  auto scanInto = [&](const std::string &name) {
    return RunZamhost({"scan", "--port", sim_.port(), "--to", "20", "--points", "-f", "json", "--write-gates",
                       folder.File(name + ".csv"), "--write-config", folder.File(name + ".toml")});
  };
  RunResult first = scanInto("a");
  ASSERT_EQ(first.exitCode, 0) << first.err;
  std::map<std::string, nlohmann::json> points;
  for (const nlohmann::json &row : JsonRows(first.out)) {
    if (row.contains("point")) points[row["point"]] = row;
  }
  EXPECT_EQ(points["st1 AI1 input"]["gas"], "001AI01AI");
  EXPECT_EQ(points["st1 AI1 input"]["writable"], false);
  EXPECT_EQ(points["st5 AO16 output"]["type"], "real");
  EXPECT_EQ(points.count("st5 AO17 output"), 0u) << "the device has 16 objects per region";
  EXPECT_EQ(points["st10 DO8 output"]["writable"], true);
  EXPECT_EQ(points["st20 room temperature"]["gas"], "020TCGCTEMP");
  RunResult second = scanInto("b");
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(ReadFile(folder.File("a.csv")), ReadFile(folder.File("b.csv")));
  std::string config = ReadFile(folder.File("b.toml"));
  EXPECT_EQ(ReadFile(folder.File("a.toml")).substr(0, 200), config.substr(0, 200));
  EXPECT_TRUE(Contains(config, "stations = { 5 = \"N2OPEN\", 10 = \"XT9100\", 20 = \"TC9100\" }")) << config;
  EXPECT_TRUE(Contains(config, "  \"st1 PM1 setpoint\",\n")) << config;
  EXPECT_FALSE(Contains(config, "\"st1 AI1 input\"")) << "an input is not writable";
}

TEST_F(ZamhostCommission, ARefusedPointIsShownOnceWithItsReason) {
  RunResult read = RunZamhost({"read", "--port", sim_.port(), "--station", "5=N2OPEN", "005AI017"});
  EXPECT_EQ(read.exitCode, 1);
  EXPECT_TRUE(Contains(LinesWith(read.out, "005AI017").at(0), "refused")) << read.out;
  EXPECT_TRUE(Contains(LinesWith(read.out, "005AI017").at(0), "Point doesn't exist")) << read.out;
  EXPECT_EQ(CountOf(read.err, "MigDoReadItem() failed"), 1) << read.err;

  RunResult scan = RunZamhost({"scan", "--port", sim_.port(), "--from", "10", "--to", "10", "-v"});
  EXPECT_FALSE(Contains(scan.out, "ErrorCode")) << scan.out;
}

TEST_F(ZamhostCommission, NumbersAndArticlesReadRight) {
  TempFolder folder;
  RunResult one = RunZamhost(
      {"scan", "--port", sim_.port(), "--from", "5", "--to", "5", "--write-station-file", folder.File("one.int")});
  EXPECT_TRUE(Contains(one.err, "wrote " + folder.File("one.int") + " (1 station assigned a family)")) << one.err;
  EXPECT_TRUE(Contains(one.err, "1 of 1 address answers")) << one.err;
  RunResult tc = RunZamhost({"read", "--port", sim_.port(), "020TCGCTEMP"});
  EXPECT_TRUE(Contains(tc.err, "reads like a TC9100 point")) << tc.err;
  RunResult xt = RunZamhost({"read", "--port", sim_.port(), "010XP01AI1"});
  EXPECT_TRUE(Contains(xt.err, "reads like an XT9100 point")) << xt.err;
}

TEST(ZamhostReadme, CommandsComeInTheOrderANewcomerTypesThem) {
  std::string readme = ReadFile(std::string(ZAMKT_SOURCE_DIR) + "/README.md");
  size_t written = readme.find("--write-station-file plant.int");
  ASSERT_NE(written, std::string::npos);
  size_t used = readme.find("-s plant.int");
  ASSERT_NE(used, std::string::npos);
  EXPECT_LT(written, used) << "the file is used before the scan that writes it";
}

}  // namespace
