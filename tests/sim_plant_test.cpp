// The plant file: statements, their errors, the built-in plant and the
// station-type file written for the driver.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "sim/plant.h"
#include "sim/simulator.h"

using n2sim::Family;
using n2sim::FaultBit;
using n2sim::FaultKind;
using n2sim::PlantSpec;

namespace {

PlantSpec Parse(const std::string &text) {
  PlantSpec plant;
  std::string error;
  EXPECT_TRUE(n2sim::ParsePlant(text, &plant, &error)) << error;
  return plant;
}

std::string ParseError(const std::string &text) {
  PlantSpec plant;
  std::string error;
  EXPECT_FALSE(n2sim::ParsePlant(text, &plant, &error)) << text;
  return error;
}

TEST(SimPlant, DefaultPlantHasOneStationOfEachFamily) {
  const PlantSpec plant = Parse(n2sim::DefaultPlantText());
  ASSERT_EQ(plant.stations.size(), 4u);
  struct {
    int address;
    Family family;
  } expected[] = {{1, Family::kDX9100}, {5, Family::kN2Open}, {10, Family::kXT9100}, {20, Family::kTC9100}};
  for (const auto &e : expected) {
    const n2sim::StationSpec *station = plant.Find(e.address);
    ASSERT_NE(station, nullptr) << e.address;
    EXPECT_EQ(station->family, e.family) << e.address;
  }
  EXPECT_EQ(plant.Find(5)->objects, 16);
  EXPECT_EQ(plant.baud, 0);
}

TEST(SimPlant, DefaultPlantIsTheShippedFile) {
  std::ifstream in(std::string(ZAMKT_SOURCE_DIR) + "/sim/default.plant");
  ASSERT_TRUE(in.good());
  std::ostringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), n2sim::DefaultPlantText());
}

TEST(SimPlant, DefaultPlantLoadsIntoASimulator) {
  n2sim::Simulator sim;
  std::string error;
  EXPECT_TRUE(sim.LoadPlant(n2sim::DefaultPlantText(), &error)) << error;
}

TEST(SimPlant, StationTypesFileNamesEveryStationButTheDefaultFamily) {
  const PlantSpec plant = Parse(n2sim::DefaultPlantText());
  EXPECT_EQ(n2sim::StationTypesFileText(plant), "005 = N2OPEN\n010 = XT9100\n020 = TC9100\n");
  EXPECT_EQ(n2sim::StationTypesFileName(3), "ZAMKT03.int");
  EXPECT_EQ(n2sim::StationTypesFileName(12), "ZAMKT12.int");
  // Station 255 cannot be named in the file.
  EXPECT_EQ(n2sim::StationTypesFileText(Parse("station 255 tc9100\nstation 254 TC9100")), "254 = TC9100\n");
}

TEST(SimPlant, StationOptionsAreRead) {
  const PlantSpec plant =
      Parse("Station 7 n2open objects=4 init=optional dynamics=off # comment\nstation 9 dx9100 clock=-3600");
  ASSERT_EQ(plant.stations.size(), 2u);
  EXPECT_EQ(plant.stations[0].objects, 4);
  EXPECT_FALSE(plant.stations[0].initRequired);
  EXPECT_EQ(plant.stations[0].dynamics, 0);
  EXPECT_EQ(plant.stations[1].clockOffsetSeconds, -3600);
  EXPECT_EQ(plant.stations[1].dynamics, -1);
}

TEST(SimPlant, FaultsAndScriptsGoToTheirScope) {
  const PlantSpec plant = Parse(
      "station 1 DX9100\n"
      "fault 1 nak 0.25 code=3\n"
      "fault bus delay 0 ms=50\n"
      "fault bus dribble 1 ms=2\n"
      "script 1 silence ok noise+cut\n"
      "script bus repeat badsum\n"
      "pacing 4800\n"
      "dynamics off\n");
  const n2sim::FaultScope &station = plant.Find(1)->faults;
  EXPECT_DOUBLE_EQ(station.probability[static_cast<int>(FaultKind::kNak)], 0.25);
  EXPECT_EQ(station.params.nakCode, 3);
  ASSERT_EQ(station.script.size(), 3u);
  EXPECT_EQ(station.script[0], FaultBit(FaultKind::kSilence));
  EXPECT_EQ(station.script[1], 0);
  EXPECT_EQ(station.script[2], FaultBit(FaultKind::kNoise) | FaultBit(FaultKind::kCut));
  EXPECT_FALSE(station.scriptRepeats);
  EXPECT_EQ(plant.busFaults.params.delayMs, 50);
  EXPECT_EQ(plant.busFaults.params.dribbleMs, 2);
  EXPECT_DOUBLE_EQ(plant.busFaults.probability[static_cast<int>(FaultKind::kDribble)], 1.0);
  EXPECT_TRUE(plant.busFaults.scriptRepeats);
  EXPECT_EQ(plant.baud, 4800);
  EXPECT_FALSE(plant.dynamics);
  EXPECT_EQ(Parse("pacing on").baud, 9600);
  EXPECT_EQ(Parse("pacing 19200\npacing off").baud, 0);
}

TEST(SimPlant, ValuesAreKeptForTheStation) {
  const PlantSpec plant = Parse("station 1 DX9100\nvalue 1 AI01 HR 100.0\nvalue 1 @1217 0x1234\n");
  ASSERT_EQ(plant.Find(1)->values.size(), 2u);
  EXPECT_EQ(plant.Find(1)->values[0].first, "AI01");
  EXPECT_EQ(plant.Find(1)->values[0].second, "HR");
  EXPECT_EQ(plant.Find(1)->values[0].line, 2);
  EXPECT_EQ(plant.Find(1)->values[1].first, "@1217");
  EXPECT_EQ(plant.Find(1)->values[1].value, "0x1234");
}

TEST(SimPlant, BadStatementsAreReportedWithTheirLine) {
  struct {
    const char *text;
    const char *error;
  } cases[] = {
      {"statio 1 DX9100", "line 1: unknown statement 'statio'"},
      {"\n\nstation 0 DX9100", "line 3: station address must be 1..255, not '0'"},
      {"station 256 DX9100", "line 1: station address must be 1..255, not '256'"},
      {"station 1 DX9200", "line 1: unknown family 'DX9200'"},
      {"station 1 DX9100\nstation 1 TC9100", "line 2: station 1 declared twice"},
      {"station 1 N2OPEN objects=0", "line 1: bad station option 'objects=0'"},
      {"station 1 N2OPEN objects=300", "line 1: bad station option 'objects=300'"},
      {"value 3 AI01 HR 1", "line 1: station 3 is not declared"},
      {"station 1 DX9100\nvalue 1 AI01 HR", "line 2: usage: value <addr> <module> <mnemonic> <value> or value <addr> @<address> <number>"},
      {"station 1 DX9100\nfault 1 lost 0.5", "line 2: unknown fault 'lost'"},
      {"station 1 DX9100\nfault 1 nak 1.5", "line 2: probability must be 0..1, not '1.5'"},
      {"station 1 DX9100\nfault 1 nak 1 ms=5", "line 2: bad parameter 'ms=5' for fault nak"},
      {"fault 2 nak 1", "line 1: station 2 is not declared"},
      {"script bus", "line 1: usage: script <addr>|bus [repeat] <step> ..."},
      {"script bus nak+", "line 1: unknown script step 'nak+'"},
      {"pacing fast", "line 1: usage: pacing <baud 50..1000000>|on|off"},
      {"dynamics maybe", "line 1: usage: dynamics on|off"},
  };
  for (const auto &c : cases) EXPECT_EQ(ParseError(c.text), c.error) << c.text;
}

TEST(SimPlant, ValuesThatDoNotSuitTheirPointFailTheLoad) {
  struct {
    const char *text;
    const char *error;
  } cases[] = {
      {"station 1 DX9100\nvalue 1 AI01 XX 1", "line 2: no point AI01 XX in a DX9100"},
      {"station 1 DX9100\nvalue 1 AI01 HR warm", "line 2: expected a real number up to 32752, not 'warm'"},
      {"station 1 DX9100\nvalue 1 GC DI1 2", "line 2: expected 0 or 1 for a bit, not '2'"},
      {"station 1 DX9100\nvalue 1 TS01 START1 25:00", "line 2: expected HH:MM up to 24:00, not '25:00'"},
      {"station 1 DX9100\nvalue 1 TS01 DAYS1 19", "line 2: expected day digits 1..8 or a 0x mask, not '19'"},
      {"station 1 DX9100\nvalue 1 @3 1", "line 2: no item at @3"},
      {"station 1 DX9100\nvalue 1 @6 0x100", "line 2: expected a 1-byte item value, not '0x100'"},
      {"station 20 TC9100\nvalue 20 TCGC MODS 4", "line 2: expected a field value 0..3, not '4'"},
      {"station 5 N2OPEN objects=2\nvalue 5 AO 3 1", "line 2: no N2 Open object AO 3"},
      {"station 5 N2OPEN\nvalue 5 BO 1 2", "line 2: value '2' does not suit region BO"},
  };
  for (const auto &c : cases) {
    n2sim::Simulator sim;
    std::string error;
    EXPECT_FALSE(sim.LoadPlant(c.text, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

}  // namespace
