// The host-side pieces that zamhost and the gateway share, without a line:
// the checks a write must pass before its first frame, the outcome of a write
// judged from the driver's own messages, the response-time statistics of a
// station, and gate lists as spreadsheets save them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/requests.h"
// The pure parts of the host side, compiled into this test (the device
// point tables come with the driver objects the test links).
#include "host/common/calendar.cpp"
#include "host/common/gate_list.cpp"
#include "host/common/gate_types.cpp"
#include "host/common/point_meaning.cpp"
#include "host/common/station_health.cpp"
#include "host/common/stored_value.cpp"
#include "host/common/value_text.cpp"
#include "host/common/write_check.cpp"
#include "host/common/write_outcome.cpp"

namespace {

using namespace n2host;

// A gate as command 3 leaves it: the region the parse returned, the type.
Gate ParsedGate(const std::string &gas, int type, int32_t region = 0) {
  Gate gate;
  gate.spec.gas = gas;
  gate.type = type;
  gate.valid = true;
  gate.region = region;
  gate.meaning = MeaningOf(gas, region, type);
  return gate;
}

TEST(WriteRefusal, RefusesWhatTheDriverWouldRefuseBeforeItsFirstFrame) {
  struct Case {
    const char *what;
    Gate gate;
    GateValue value;
    const char *refusal;  // "" when the driver would send
  } cases[] = {
      {"a setpoint", ParsedGate("001PM01LSP", kGateReal), {kGateReal, 21.5, 0}, ""},
      {"the largest real", ParsedGate("001PM01LSP", kGateReal), {kGateReal, 32750.5, 0}, ""},
      {"a real past 32750", ParsedGate("001PM01LSP", kGateReal), {kGateReal, 32751, 0}, "out of range"},
      {"a negative real past 32750", ParsedGate("001PM01LSP", kGateReal), {kGateReal, -40000, 0}, "out of range"},
      {"not a number", ParsedGate("001PM01LSP", kGateReal), {kGateReal, NAN, 0}, "not a finite number"},
      {"an N2 Open real has no such limit", ParsedGate("005AO001", kGateReal, 1003), {kGateReal, 1e6, 0}, ""},
      {"an analog input", ParsedGate("001AI01AI", kGateReal), {kGateReal, 5, 0}, "read-only point"},
      {"a digital input of the GC module", ParsedGate("001GCDI1", kGateDigital), {kGateDigital, 0, 1}, "read-only"},
      {"a digital constant", ParsedGate("001GCDCO3", kGateDigital), {kGateDigital, 0, 1}, ""},
      {"a digital 2", ParsedGate("001GCDCO3", kGateDigital), {kGateDigital, 0, 2}, "0 or 1"},
      {"an N2 Open analog input", ParsedGate("005AI001", kGateReal, 1001), {kGateReal, 3, 0}, "N2 Open input"},
      {"an override release", ParsedGate("005AO001_O", kGateDigital, 1008), {kGateDigital, 0, 0}, ""},
      {"an override set", ParsedGate("005AO001_O", kGateDigital, 1008), {kGateDigital, 0, 1}, "only be released"},
      {"24:00", ParsedGate("001TS01START1", kGateInt32, kSpecialSchedule), {kGateInt32, 0, 1440}, ""},
      {"past 24:00", ParsedGate("001TS01START1", kGateInt32, kSpecialSchedule), {kGateInt32, 0, 1441}, "out of range"},
      {"23:59:59", ParsedGate("001RTCLTIME", kGateInt32, kSpecialClock), {kGateInt32, 0, 86399}, ""},
      {"a day's end", ParsedGate("001RTCLTIME", kGateInt32, kSpecialClock), {kGateInt32, 0, 86400}, "out of range"},
      {"2038-12-31", ParsedGate("001RTCLDATE", kGateInt32, kSpecialClock), {kGateInt32, 0, DayNumberOf(2038, 12, 31)}, ""},
      {"2039-01-01", ParsedGate("001RTCLDATE", kGateInt32, kSpecialClock), {kGateInt32, 0, DayNumberOf(2039, 1, 1)},
       "out of range"},
      {"day 0", ParsedGate("001RTCLDATE", kGateInt32, kSpecialClock), {kGateInt32, 0, 0}, "out of range"},
      {"the clock's century", ParsedGate("001RTCLCENT", kGateInt32, kSpecialClock), {kGateInt32, 0, 20}, "read-only"},
      {"a BD byte", ParsedGate("005BD003", kGateInt16, 1007), {kGateInt16, 0, 256}, "one byte"},
      {"a 16-bit word", ParsedGate("001DO03DO@", kGateInt16), {kGateInt16, 0, 40000}, "-32768 to 32767"},
  };
  for (const Case &c : cases) {
    std::string refusal = WriteRefusal(c.gate, c.value);
    if (c.refusal[0] == '\0') {
      EXPECT_EQ(refusal, "") << c.what;
    } else {
      EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.what << ": " << refusal;
    }
  }
}

TEST(ClassifyWrite, TellsTheDriversRefusalFromTheStationsAndFromSilence) {
  auto messages = [](std::vector<std::string> texts) {
    std::vector<DriverMessage> out;
    for (const std::string &text : texts) out.push_back({32, text});
    return out;
  };
  struct Case {
    int32_t status;
    std::vector<DriverMessage> logged;
    WriteResult result;
    const char *text;
  } cases[] = {
      {0, {}, WriteResult::kWritten, "written"},
      {1, messages({"ZAMKT: Error. Writing to read only Gate 001AI01AI!"}), WriteResult::kDriverRefused,
       "refused by the driver before sending: ZAMKT: Error. Writing to read only Gate 001AI01AI!"},
      {1, messages({"ZAMKT: Value out of range. Write failed", "ZAMKT: Writing a value out of range! GAS = 001PM01LSP"}),
       WriteResult::kDriverRefused, "refused by the driver before sending: ZAMKT: Value out of range. Write failed"},
      {1, messages({"ZAMKT:Gate 001PM01LSP: Write failed! ErrorCode 03 H ", "ZAMKT: Single Write failed! GAS=001PM01LSP"}),
       WriteResult::kStationRefused, "the station refused (N-code 03)"},
      {1, messages({"ZAMKT01: N2OPEN_DoWriteItem() failed. Tag address 005AO001: Data field error",
                    "ZAMKT01: N2OPEN_DoWriteItem() failed GAS=005AO001"}),
       WriteResult::kStationRefused, "the station refused (Data field error)"},
      {1, messages({"ZAMKT: Checksum Error. Plc String A12 "}), WriteResult::kBadReply, "bad reply: "},
      {2, messages({"ZAMKT: Single Write failed! GAS=030PM01LSP"}), WriteResult::kNoReply, "no reply"},
      // A bit write whose read of the item got no reply says only the closing line.
      {1, messages({"ZAMKT: Single Write failed! GAS=030GCDCO3"}), WriteResult::kNoReply, "no reply"},
  };
  for (const Case &c : cases) {
    WriteOutcome outcome = ClassifyWrite(c.status, c.logged);
    EXPECT_EQ(outcome.result, c.result) << c.text;
    EXPECT_EQ(outcome.text.rfind(c.text, 0), 0u) << outcome.text;
  }
}

TEST(StationStatistics, GoodShareAndPercentilesOfTheResponseTimes) {
  StationHealth health(3, 5);
  for (int ms = 1; ms <= 100; ++ms) health.Record(1, 1, 0, ms, "t" + std::to_string(ms));
  health.Record(1, 2, 2, 3000, "silent");  // no reply: counted, but no response time
  const StationStats &stats = health.stations().at(1);
  EXPECT_DOUBLE_EQ(GoodShare(stats), 100.0 / 101.0);
  EXPECT_EQ(ResponsePercentileMs(stats, 50), 50);
  EXPECT_EQ(ResponsePercentileMs(stats, 95), 95);
  EXPECT_EQ(stats.lastReply, "t100") << "a silent request is not a reply";
  EXPECT_EQ(ResponsePercentileMs(StationStats{}, 50), -1);
}

TEST(GateList, ReadsWhatSpreadsheetsSaveAndTellsEveryBadLine) {
  struct Case {
    const char *what;
    std::string text;
    GateListOptions options;
    size_t gates;
    std::vector<std::string> problems;
  } cases[] = {
      {"a UTF-8 mark before the header", "\xEF\xBB\xBFname,gas,type\nA,001AI01HR,real\n", {}, 1, {}},
      {"semicolons", "name;gas;type\nA;001AI01HR;real\n\"B; quoted\";001AI01LR;\n", {}, 2, {}},
      {"Latin-1 refused", "Caf\xE9,001AI01HR\n", {}, 0, {"l.csv:1: not UTF-8 (byte 0xE9 at column 4)"}},
      {"Latin-1 read when asked", "Caf\xE9,001AI01HR\n", {true}, 1, {}},
      {"every bad line", "A,001AI01HR,float\nB,,real\nC,001AI01LR\nD,1,2,3\n", {}, 1,
       {"l.csv:1: unknown type 'float'", "l.csv:2: '' is not a gate address", "l.csv:4: expected name, GAS, type"}},
  };
  for (const Case &c : cases) {
    std::vector<GateSpec> gates;
    std::string error;
    bool ok = ParseGateList(c.text, "l.csv", &gates, &error, c.options);
    EXPECT_EQ(ok, c.problems.empty()) << c.what << ": " << error;
    EXPECT_EQ(gates.size(), c.gates) << c.what;
    for (const std::string &problem : c.problems) EXPECT_NE(error.find(problem), std::string::npos) << c.what << ": " << error;
  }
  std::vector<GateSpec> gates;
  std::string error;
  ASSERT_TRUE(ParseGateList("Caf\xE9,001AI01HR\n", "l.csv", &gates, &error, {true}));
  EXPECT_EQ(gates[0].name, "Caf\xC3\xA9");
}

}  // namespace
