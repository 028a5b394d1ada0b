// zamhost's gate handling without a driver: command-line gates and values,
// gate-list CSV files, the block grouping of a poll, the demotion of silent
// stations, the station-type file and port names for the driver.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "driver/requests.h"
// The pure parts of zamhost, compiled into this test.
#include "host/common/gate_list.cpp"
#include "host/common/gate_types.cpp"
#include "host/common/point_meaning.cpp"
#include "host/common/poll_plan.cpp"
#include "host/common/serial_port_name.cpp"
#include "host/common/station_health.cpp"
#include "host/common/station_types_file.cpp"

namespace {

using n2host::Gate;
using n2host::GateSpec;
using n2host::PollRequest;

TEST(GateArgument, NamesAGateAndOptionallyItsType) {
  struct Case {
    const char *text;
    const char *gas;
    int type;
  } cases[] = {
      {"001AI01HR", "001AI01HR", n2host::kAutoType}, {"001AI01HR:real", "001AI01HR", kGateReal},
      {"001AI01HR:REAL", "001AI01HR", kGateReal},     {"001GCDCO1:digital", "001GCDCO1", kGateDigital},
      {"005AD001:uint16", "005AD001", kGateUInt16},   {"005AD001:int16", "005AD001", kGateInt16},
      {"001GCCNTR1:int32", "001GCCNTR1", kGateInt32}, {"001TS01START1:auto", "001TS01START1", n2host::kAutoType},
      {" 001AI01HR ", "001AI01HR", n2host::kAutoType},
  };
  for (const Case &c : cases) {
    GateSpec gate;
    std::string error;
    ASSERT_TRUE(n2host::ParseGateArgument(c.text, &gate, &error)) << c.text << ": " << error;
    EXPECT_EQ(gate.gas, c.gas);
    EXPECT_EQ(gate.type, c.type) << c.text;
  }
  for (const char *bad : {"", ":real", "001AI01HR:float", "001 AI01HR"}) {
    GateSpec gate;
    std::string error;
    EXPECT_FALSE(n2host::ParseGateArgument(bad, &gate, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(WriteArgument, SplitsAtTheFirstEqualsSoValuesMayHoldColons) {
  n2host::WriteSpec spec;
  std::string error;
  ASSERT_TRUE(n2host::ParseWriteArgument("001TS01START1=07:30", &spec, &error));
  EXPECT_EQ(spec.gate.gas, "001TS01START1");
  EXPECT_EQ(*spec.value, "07:30");
  ASSERT_TRUE(n2host::ParseWriteArgument("001TS01START1:int32=07:30", &spec, &error));
  EXPECT_EQ(spec.gate.type, kGateInt32);
  EXPECT_EQ(*spec.value, "07:30");
  ASSERT_TRUE(n2host::ParseWriteArgument("005AO001_O", &spec, &error));
  EXPECT_FALSE(spec.value.has_value());
  EXPECT_FALSE(n2host::ParseWriteArgument("001PM01LSP=", &spec, &error));
  EXPECT_FALSE(n2host::ParseWriteArgument("=5", &spec, &error));
}

TEST(CsvRecord, SplitsFieldsWithQuotesAndBlanks) {
  EXPECT_EQ(n2host::SplitCsvRecord("a,b,c"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(n2host::SplitCsvRecord(" Supply temp , 001AI01AI ,real "),
            (std::vector<std::string>{"Supply temp", "001AI01AI", "real"}));
  EXPECT_EQ(n2host::SplitCsvRecord("\"Pump, north\",001GCDCO1,digital"),
            (std::vector<std::string>{"Pump, north", "001GCDCO1", "digital"}));
  EXPECT_EQ(n2host::SplitCsvRecord("\"say \"\"hi\"\"\",x"), (std::vector<std::string>{"say \"hi\"", "x"}));
  EXPECT_EQ(n2host::SplitCsvRecord("a,,"), (std::vector<std::string>{"a", "", ""}));
}

TEST(GateList, ReadsNameGasAndTypeAndSkipsHeaderCommentsAndBlankLines) {
  const std::string text =
      "# plant room\r\n"
      "name,gas,type\r\n"
      "\r\n"
      "Supply temp,001AI01AI,real\r\n"
      "Setpoint,001PM01LSP\r\n"
      "001GCDCO1\r\n"
      "\"Pump, north\",001GCDCO2,digital\r\n"
      "Start,001TS01START1,\r\n";
  std::vector<GateSpec> gates;
  std::string error;
  ASSERT_TRUE(n2host::ParseGateList(text, "plant.csv", &gates, &error)) << error;
  ASSERT_EQ(gates.size(), 5u);
  EXPECT_EQ(gates[0].name, "Supply temp");
  EXPECT_EQ(gates[0].gas, "001AI01AI");
  EXPECT_EQ(gates[0].type, kGateReal);
  EXPECT_EQ(gates[0].origin, "plant.csv:4");
  EXPECT_EQ(gates[1].type, n2host::kAutoType);
  EXPECT_EQ(gates[2].name, "001GCDCO1");
  EXPECT_EQ(gates[3].name, "Pump, north");
  EXPECT_EQ(gates[4].type, n2host::kAutoType);
}

TEST(GateList, NamesTheFileAndLineOfABadGate) {
  struct Case {
    const char *text;
    const char *message;
  } cases[] = {
      {"a,001AI01HR,real\nb,001AI01LR,float\n", "plant.csv:2: unknown type 'float'"},
      {"a,001AI01HR,real,extra\n", "plant.csv:1: expected name, GAS, type; found 4 fields"},
      {"a,,real\n", "plant.csv:1: '' is not a gate address"},
      {"a,001 AI01HR,real\n", "plant.csv:1: '001 AI01HR' is not a gate address"},
  };
  for (const Case &c : cases) {
    std::vector<GateSpec> gates;
    std::string error;
    EXPECT_FALSE(n2host::ParseGateList(c.text, "plant.csv", &gates, &error));
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
  }
}

TEST(GateList, IsToldApartFromAGateByItsNameOrPath) {
  EXPECT_TRUE(n2host::NamesGateList("gates.csv"));
  EXPECT_TRUE(n2host::NamesGateList("GATES.CSV"));
  EXPECT_TRUE(n2host::NamesGateList("lists/plant"));
  EXPECT_FALSE(n2host::NamesGateList("001AI01HR"));
  EXPECT_FALSE(n2host::NamesGateList("005AO012_O"));
  EXPECT_FALSE(n2host::NamesGateList(".csv"));
}

Gate MakeGate(int32_t station, int type, int32_t address, int32_t region = 0, int32_t bit = 255,
              bool eligible = true) {
  Gate gate;
  gate.spec.gas = std::to_string(station) + "@" + std::to_string(address);
  gate.spec.name = gate.spec.gas;
  gate.type = type;
  gate.valid = true;
  gate.station = station;
  gate.region = region;
  gate.element = address;
  gate.bit = bit;
  gate.blockEligible = eligible;
  return gate;
}

// A gate under its GAS, for the reads whose value the GAS decides.
Gate MakeNamedGate(const std::string &gas, int32_t station, int type, int32_t address, int32_t region = 0) {
  Gate gate = MakeGate(station, type, address, region);
  gate.spec.gas = gas;
  return gate;
}

// "B<first>+<items>[gates]" for a block, "S<address>[gates]" for a single read.
std::string Describe(const std::vector<PollRequest> &plan) {
  std::string text;
  for (const PollRequest &request : plan) {
    if (!text.empty()) text += " ";
    text += request.block ? "B" + std::to_string(request.firstAddress) + "+" + std::to_string(request.items)
                          : "S" + std::to_string(request.firstAddress);
    text += "[";
    for (size_t i = 0; i < request.gates.size(); ++i) text += (i ? "," : "") + std::to_string(request.gates[i]);
    text += "]";
  }
  return text;
}

TEST(PollPlan, GroupsConsecutiveItemsOfOneStationAndType) {
  struct Case {
    const char *what;
    std::vector<Gate> gates;
    const char *plan;
  } cases[] = {
      {"three consecutive reals",
       {MakeGate(1, kGateReal, 1217), MakeGate(1, kGateReal, 1218), MakeGate(1, kGateReal, 1219)},
       "B1217+3[0,1,2]"},
      {"list order does not matter",
       {MakeGate(1, kGateReal, 1219), MakeGate(1, kGateReal, 1217), MakeGate(1, kGateReal, 1218)},
       "B1217+3[1,2,0]"},
      {"a gap splits the run; a lone item is read singly",
       {MakeGate(1, kGateReal, 1217), MakeGate(1, kGateReal, 1218), MakeGate(1, kGateReal, 1223)},
       "B1217+2[0,1] S1223[2]"},
      {"aliases of one address count once",
       {MakeGate(1, kGateReal, 90), MakeGate(1, kGateReal, 90), MakeGate(1, kGateReal, 91)},
       "B90+2[0,1,2]"},
      {"two aliases alone share one single read", {MakeGate(1, kGateReal, 90), MakeGate(1, kGateReal, 90)}, "S90[0,1]"},
      {"reals and 32-bit integers never share a block",
       {MakeGate(1, kGateReal, 13), MakeGate(1, kGateInt32, 14), MakeGate(1, kGateInt32, 15)},
       "S13[0] B14+2[1,2]"},
      {"16-bit and digital gates are read singly",
       {MakeGate(1, kGateInt16, 1393), MakeGate(1, kGateInt16, 1394), MakeGate(1, kGateDigital, 10, 0, 2),
        MakeGate(1, kGateDigital, 10, 0, 3)},
       "S1393[0] S1394[1] S10[2] S10[3]"},
      {"names of one bit, and one gate listed twice, share one single read",
       {MakeGate(1, kGateDigital, 134, 0, 1), MakeGate(1, kGateDigital, 10, 0, 3), MakeGate(1, kGateDigital, 134, 0, 1)},
       "S134[0,2] S10[1]"},
      {"N2 Open objects read alike share a read; an override reads apart",
       {MakeGate(5, kGateReal, 1, 1001), MakeGate(5, kGateReal, 1, 1001), MakeGate(5, kGateReal, 1, 1003),
        MakeGate(5, kGateDigital, 1, 1008)},
       "S1[0,1] S1[2] S1[3]"},
      {"16-bit fields of one word are read apart; the same field twice once",
       {MakeNamedGate("020TCGCMIN", 20, kGateInt16, 158), MakeNamedGate("020TCGCHOUR", 20, kGateInt16, 158),
        MakeNamedGate("020TCGCMIN", 20, kGateInt16, 158)},
       "S158[0,2] S158[1]"},
      {"the same item of two schedules is read apart",
       {MakeNamedGate("001TS01START1", 1, kGateInt32, 5, 84), MakeNamedGate("001TS02START1", 1, kGateInt32, 5, 84)},
       "S5[0] S5[1]"},
      {"schedule and clock points are read singly",
       {MakeGate(1, kGateInt32, 5, 84), MakeGate(1, kGateInt32, 6, 84), MakeGate(1, kGateInt32, 7, 84)},
       "S5[0] S6[1] S7[2]"},
      {"gates command 4 refuses are read singly",
       {MakeGate(10, kGateReal, 12, 0, 255, false), MakeGate(10, kGateReal, 13, 0, 255, false)},
       "S12[0] S13[1]"},
      {"stations are kept apart, in the order they first appear",
       {MakeGate(2, kGateReal, 100), MakeGate(1, kGateReal, 101), MakeGate(2, kGateReal, 101),
        MakeGate(1, kGateReal, 100)},
       "B100+2[0,2] B100+2[3,1]"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Describe(n2host::PlanPoll(c.gates, true)), c.plan) << c.what;
  }
}

TEST(PollPlan, ABlockCarriesAtMostThirtyTwoItems) {
  std::vector<Gate> gates;
  for (int i = 0; i < 40; ++i) gates.push_back(MakeGate(1, kGateReal, 1000 + i));
  std::vector<PollRequest> plan = n2host::PlanPoll(gates, true);
  ASSERT_EQ(plan.size(), 2u);
  EXPECT_EQ(plan[0].items, 32);
  EXPECT_EQ(plan[0].firstAddress, 1000);
  EXPECT_EQ(plan[0].blockNumber, 1);
  EXPECT_EQ(plan[1].items, 8);
  EXPECT_EQ(plan[1].firstAddress, 1032);
  EXPECT_EQ(plan[1].blockNumber, 2);
  EXPECT_EQ(plan[1].leader, 32);
}

TEST(PollPlan, WithoutBlocksReadsEveryGateAloneAndSkipsInvalidGates) {
  std::vector<Gate> gates = {MakeGate(1, kGateReal, 1217), MakeGate(1, kGateReal, 1218),
                             MakeGate(1, kGateReal, 1219)};
  gates[1].valid = false;
  EXPECT_EQ(Describe(n2host::PlanPoll(gates, false)), "S1217[0] S1219[2]");
  EXPECT_EQ(Describe(n2host::PlanPoll(gates, true)), "S1217[0] S1219[2]");
  std::vector<Gate> twice = {MakeGate(1, kGateDigital, 10, 0, 3), MakeGate(1, kGateDigital, 10, 0, 3)};
  EXPECT_EQ(Describe(n2host::PlanPoll(twice, false)), "S10[0] S10[1]");
}

TEST(PollPlan, DescribesEachBlockAndCountsTheSingleReads) {
  std::vector<Gate> gates = {MakeGate(1, kGateReal, 1217), MakeGate(1, kGateReal, 1218),
                             MakeGate(1, kGateDigital, 10, 0, 2)};
  std::vector<std::string> lines = n2host::DescribePlan(n2host::PlanPoll(gates, true), gates);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "station 1: block 1 reads 2 real items at 1217..1218 for 2 gates (1@1217 ...)");
  EXPECT_EQ(lines[1], "1 single read for 1 gate; 2 requests per cycle");
}

constexpr int32_t kOk = 0, kBadReply = 1, kNoReply = 2;

TEST(StationHealth, DemotesAStationAfterRepliesMissedInARow) {
  n2host::StationHealth health(3, 5);
  EXPECT_EQ(health.Record(30, 1, kNoReply), "");
  EXPECT_EQ(health.Record(30, 1, kNoReply), "");
  EXPECT_FALSE(health.Demoted(30));
  EXPECT_EQ(health.Record(30, 2, kNoReply),
            "station 30 gave no reply 3 times in a row: demoted, polled every 5 cycles until it answers");
  EXPECT_TRUE(health.Demoted(30));
  // Polled again on every fifth cycle from the one it was demoted in.
  for (int cycle = 3; cycle <= 6; ++cycle) EXPECT_FALSE(health.Due(30, cycle)) << cycle;
  EXPECT_TRUE(health.Due(30, 7));
  EXPECT_TRUE(health.Due(30, 12));
  EXPECT_TRUE(health.Due(1, 3));  // other stations are not affected
  EXPECT_EQ(health.Record(30, 7, kNoReply), "");  // still demoted: no second message
  EXPECT_EQ(health.Record(30, 12, kOk), "station 30 answers again: polled every cycle");
  EXPECT_FALSE(health.Demoted(30));
  EXPECT_TRUE(health.Due(30, 13));
  EXPECT_EQ(health.stations().at(30).requests, 5);
  EXPECT_EQ(health.stations().at(30).failures, 4);
}

TEST(StationHealth, AnyReplyEvenABadOneEndsTheSilentRun) {
  n2host::StationHealth health(2, 3);
  health.Record(7, 1, kNoReply);
  health.Record(7, 1, kBadReply);
  EXPECT_EQ(health.Record(7, 2, kNoReply), "");
  EXPECT_FALSE(health.Demoted(7));
  EXPECT_NE(health.Record(7, 2, kNoReply), "");
  EXPECT_TRUE(health.Demoted(7));
  EXPECT_EQ(health.Record(7, 5, kBadReply), "station 7 answers again: polled every cycle");
  EXPECT_EQ(health.stations().at(7).failures, 5);
}

TEST(StationTypes, AssignmentsBecomeLinesOfTheDriversFile) {
  struct Case {
    const char *assignment;
    const char *line;
  } cases[] = {{"5=N2OPEN", "005 = N2OPEN"}, {"5=n2open", "005 = N2OPEN"}, {"10=XT9100", "010 = XT9100"},
               {"254=tc9100", "254 = TC9100"}};
  for (const Case &c : cases) {
    std::string line, error;
    ASSERT_TRUE(n2host::StationTypeLine(c.assignment, &line, &error)) << c.assignment << ": " << error;
    EXPECT_EQ(line, c.line);
  }
  for (const char *bad : {"0=N2OPEN", "255=N2OPEN", "5=DX9100", "5=DX-9100", "5", "x=N2OPEN", "5=LON"}) {
    std::string line, error;
    EXPECT_FALSE(n2host::StationTypeLine(bad, &line, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(n2host::StationTypesText("005 = N2OPEN\n010 = XT9100\n\n020 = TC9100\n", {"005 = XT9100"}),
            "005 = N2OPEN\n010 = XT9100\n005 = XT9100\n");
  EXPECT_EQ(n2host::StationTypesText("005 = N2OPEN", {}), "005 = N2OPEN\n");
  EXPECT_EQ(n2host::StationTypesFileName(3), "ZAMKT03.int");
}

TEST(PortName, GivesTheDriverANameThatFitsItsField) {
  struct Case {
    const char *port;
    const char *name;
  } cases[] = {{"pts/3", "pts/3"},       {"COM1", "COM1"},         {"ttyUSB0", "ttyUSB0"},
               {"/dev/pts/3", "pts/3"},  {"/dev/ttyUSB0", "ttyUSB0"}, {"/tmp/zs1", "/tmp/zs1"},
               {"/dev/COM1", "/dev/COM1"}, {"NUL", "NUL"}};
  for (const Case &c : cases) {
    std::string name, link, error;
    ASSERT_TRUE(n2host::DriverPortName(c.port, &name, &link, &error)) << c.port << ": " << error;
    EXPECT_EQ(name, c.name);
    EXPECT_TRUE(link.empty());
  }
  std::string name, link, error;
  EXPECT_FALSE(n2host::DriverPortName("ttyUSB-adapter-7", &name, &link, &error));
  EXPECT_EQ(n2host::DevicePathOf("COM1"), "/dev/ttyS0");
  EXPECT_EQ(n2host::DevicePathOf("pts/3"), "/dev/pts/3");
  EXPECT_EQ(n2host::DevicePathOf("NUL"), "");
}

TEST(PortName, ReachesALongPathThroughAShortLink) {
  const std::string target = "/tmp/zamhost-gates-test-a-long-port-path";
  std::string name, link, error;
  ASSERT_TRUE(n2host::DriverPortName(target, &name, &link, &error)) << error;
  EXPECT_EQ(name, link);
  EXPECT_LE(name.size(), n2host::kMaxDriverPortName);
  char buffer[256];
  ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), target);
  unlink(link.c_str());
}

TEST(PortName, TellsWhyAPortCannotBeOpened) {
  EXPECT_NE(n2host::DiagnosePortFailure("ttyNOSUCH9").find("does not exist"), std::string::npos);
  EXPECT_NE(n2host::DiagnosePortFailure("/etc/hostname").find("is not a serial port"), std::string::npos);
}

}  // namespace
