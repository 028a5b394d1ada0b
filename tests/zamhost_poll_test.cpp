// zamhost poll against the simulator n2sim: block reads where gates are
// consecutive (the simulator's counts and trace show one exchange per block),
// CSV and JSON lines, the table, a silent station demoted and promoted again,
// and a clean stop on Ctrl-C.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/zamhost_test_helpers.h"

namespace {

using namespace zamhost_test;

// The fields of one CSV row (no quoted commas in the rows these tests read,
// except where a test says so).
std::vector<std::string> Fields(const std::string &row) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t comma = row.find(',', start);
    fields.push_back(row.substr(start, comma - start));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

// CSV rows of the gate in cycle order.
std::vector<std::vector<std::string>> RowsOf(const std::string &csv, const std::string &gas) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string &line : LinesWith(csv, "," + gas + ",")) rows.push_back(Fields(line));
  return rows;
}

constexpr int kStatus = 5, kValue = 6, kText = 7, kRead = 8;

class ZamhostPoll : public ::testing::Test {
 protected:
  explicit ZamhostPoll(std::vector<std::string> plant = {}) : sim_(WithStatic(std::move(plant))) {}

  static std::vector<std::string> WithStatic(std::vector<std::string> plant) {
    plant.insert(plant.begin(), "--static");
    return plant;
  }

  void SetUp() override {
    ASSERT_FALSE(sim_.port().empty()) << "n2sim did not start: " << sim_.Log();
    ASSERT_EQ(access(kZamhost.c_str(), X_OK), 0) << "build zamhost first: " << kZamhost;
  }

  RunResult Poll(std::vector<std::string> args, const RunOptions &options = {}) {
    // A test that gives its own time-out gets it instead of the short one.
    const bool ownTimeout = std::find(args.begin(), args.end(), "--timeout") != args.end();
    std::vector<std::string> all = {"--quiet", "poll", "--port", sim_.port(), "--timeout", ownTimeout ? "" : "100",
                                    "--station-types", sim_.stationTypes(), "--interval", "0"};
    if (ownTimeout) all.erase(all.begin() + 4, all.begin() + 6);
    all.insert(all.end(), args.begin(), args.end());
    return RunZamhost(all, options);
  }

  Simulator sim_;
};

TEST_F(ZamhostPoll, ReadsConsecutiveGatesInOneBlockExchange) {
  TempFolder folder;
  WriteFile(folder.File("gates.csv"),
            "name,gas,type\n"
            "AI1 low range,001AI01LR,real\n"   // 1218
            "AI1 high range,001AI01HR,real\n"  // 1217
            "AI1 low alarm,001AI01LOA,real\n"  // 1220
            "AI1 high alarm,001AI01HIA,real\n" // 1219
            "AI1 input,001AI01AI,real\n"       // 1223: not consecutive, read singly
            "Setpoint,001PM01LSP,real\n"       // 90
            "Setpoint alias,001PM01K0,real\n"  // 90 again: counts once
            "Band,001PM01PB,real\n"            // 91
            "Counter 1,001GCCNTR1,int32\n"     // 13
            "Counter 2,001GCCNTR2,int32\n"     // 14
            "Output 3,001GCDCO3,digital\n");   // a bit: read singly
  // The count of requests is exact only if no reply is ever late: a reply
  // time-out far beyond any load keeps a retry out of it.
  RunResult poll = Poll({"--timeout", "3000", "--cycles", "2", "--format", "csv", folder.File("gates.csv")});
  ASSERT_EQ(poll.exitCode, 0) << poll.err;
  std::string log = sim_.Stop();
  std::map<std::string, long> counts = Simulator::Counts(log);
  // Per cycle: three blocks (AI01 1217..1220, PM01 90..91, GC 13..14) and two single reads.
  EXPECT_EQ(counts["block-read"], 6) << log;
  EXPECT_EQ(counts["mem-read"], 4) << log;
  EXPECT_EQ(counts["requests"], 10) << log;
  EXPECT_EQ(LinesWith(log, "block read 4 items: 1217 AI01 HR").size(), 2u) << log;
  EXPECT_EQ(LinesWith(log, "block read 2 items: 90 PM01").size(), 2u) << log;
  EXPECT_TRUE(Contains(poll.err, "station 1: block 1 reads 4 real items at 1217..1220 for 4 gates")) << poll.err;

  for (const char *gas : {"001AI01LR", "001AI01HR", "001AI01LOA", "001AI01HIA"}) {
    std::vector<std::vector<std::string>> rows = RowsOf(poll.out, gas);
    ASSERT_EQ(rows.size(), 2u) << gas;
    EXPECT_EQ(rows[0][kRead], "block 1") << gas;
    EXPECT_EQ(rows[0][kStatus], "ok") << gas;
  }
  // Each gate gets its own item of the block.
  EXPECT_EQ(RowsOf(poll.out, "001AI01HR")[0][kValue], "100");
  EXPECT_EQ(RowsOf(poll.out, "001AI01LR")[0][kValue], "0");
  EXPECT_EQ(RowsOf(poll.out, "001PM01K0")[1][kValue], RowsOf(poll.out, "001PM01LSP")[1][kValue]);
  EXPECT_EQ(RowsOf(poll.out, "001AI01AI")[0][kRead], "single");
  EXPECT_EQ(RowsOf(poll.out, "001GCCNTR2")[0][kRead], "block 3");
  EXPECT_EQ(RowsOf(poll.out, "001GCDCO3")[0][kText], "on");
}

TEST_F(ZamhostPoll, NoBlocksReadsEveryGateSingly) {
  RunResult poll = Poll({"--cycles", "1", "--format", "csv", "--no-blocks", "001AI01HR", "001AI01LR", "001AI01HIA"});
  ASSERT_EQ(poll.exitCode, 0) << poll.err;
  std::map<std::string, long> counts = Simulator::Counts(sim_.Stop());
  EXPECT_EQ(counts["block-read"], 0);
  EXPECT_EQ(counts["mem-read"], 3);
}

TEST_F(ZamhostPoll, CsvHasAHeaderAndOneTimeStampedRowPerGateAndCycle) {
  TempFolder folder;
  WriteFile(folder.File("gates.csv"),
            "\"Start, schedule 1\",001TS01START1,auto\n"
            "Days,001TS01DAYS1,\n"
            "High range,001AI01HR,real\n");
  RunResult poll = Poll({"--cycles", "3", "--format", "csv", folder.File("gates.csv")});
  ASSERT_EQ(poll.exitCode, 0) << poll.err;
  std::vector<std::string> lines = LinesWith(poll.out, "");
  ASSERT_EQ(lines.size(), 1u + 3 * 3) << poll.out;
  EXPECT_EQ(lines[0], "time,cycle,name,gas,type,status,value,text,read,station,quality,last_good,last_good_age_s");
  const std::regex row(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,[123],("[^"]*"|[^,]*),[0-9A-Z]+,(real|int32),ok,[-0-9.]+,[^,]*,single,1,,,)");
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(std::regex_match(lines[i], row)) << lines[i];
  EXPECT_TRUE(Contains(lines[1], ",1,\"Start, schedule 1\",001TS01START1,int32,ok,450,07:30,single")) << lines[1];
  EXPECT_TRUE(Contains(lines[2], ",1,Days,001TS01DAYS1,int32,ok,9,Mon-Fri,single")) << lines[2];
  EXPECT_TRUE(Contains(lines[9], ",3,High range,001AI01HR,real,ok,100,,single")) << lines[9];
}

TEST_F(ZamhostPoll, JsonLinesCarryGatesStationsAndTheirCounts) {
  RunResult poll = Poll({"--cycles", "2", "--format", "json", "001AI01HR", "001AI01LR", "001GCDCO3"});
  ASSERT_EQ(poll.exitCode, 0) << poll.err;
  std::vector<std::string> lines = LinesWith(poll.out, "{");
  ASSERT_EQ(lines.size(), 2u * (3 + 1 + 1)) << poll.out;  // gates, the station, the cycle
  EXPECT_TRUE(Contains(lines[0], "\"record\":\"gate\"")) << lines[0];
  EXPECT_TRUE(Contains(lines[0], "\"cycle\":1,\"name\":\"001AI01HR\",\"gas\":\"001AI01HR\",\"type\":\"real\","
                                 "\"status\":\"ok\",\"value\":100.0,\"text\":null,\"read\":\"block 1\",\"station\":1"))
      << lines[0];
  EXPECT_TRUE(Contains(lines[2], "\"value\":1,\"text\":\"on\",\"read\":\"single\"")) << lines[2];
  EXPECT_TRUE(Contains(lines[8], "{\"record\":\"station\"")) << lines[8];
  EXPECT_TRUE(Contains(lines[8], "\"cycle\":2,\"station\":1,\"state\":\"active\",\"requests\":4,\"failures\":0"))
      << lines[8];
}

TEST_F(ZamhostPoll, TableShowsEveryGateAndThePerStationCounts) {
  RunResult poll = Poll({"--cycles", "2", "001AI01HR", "001AI01LR", "030AI01HR"});
  ASSERT_EQ(poll.exitCode, 5) << "station 30 did not answer in the last cycle\n" << poll.err;
  EXPECT_EQ(CountOf(poll.out, "name  "), 2) << poll.out;  // one table per cycle
  EXPECT_EQ(LinesWith(poll.out, "001AI01LR").size(), 2u);
  std::vector<std::string> station30 = LinesWith(poll.out, "30   ");
  ASSERT_EQ(station30.size(), 2u) << poll.out;
  std::istringstream words(station30.back());
  std::string station, state, requests, failures;
  words >> station >> state >> requests >> failures;
  EXPECT_EQ(state, "active");
  EXPECT_EQ(requests, "2");
  EXPECT_EQ(failures, "2");
  EXPECT_TRUE(Contains(poll.out, "no reply"));
}

class ZamhostPollSilentStation : public ZamhostPoll {
 protected:
  // Station 30 is silent for its first ten exchanges (two requests of five
  // attempts each), then answers.
  ZamhostPollSilentStation()
      : ZamhostPoll({"--set", "station 30 DX9100", "--set",
                     "script 30 silence silence silence silence silence silence silence silence silence silence"}) {}
};

TEST_F(ZamhostPollSilentStation, IsDemotedThenPolledEveryFewCyclesUntilItAnswers) {
  RunResult poll = Poll({"--cycles", "6", "--format", "csv", "--demote-after", "2", "--retry-every", "3",
                         "030AI01HR", "030GCDCO3", "030GCDCO4", "001AI01HR"});
  ASSERT_EQ(poll.exitCode, 0) << poll.err;
  auto statuses = [&](const std::string &gas) {
    std::string text;
    for (const auto &row : RowsOf(poll.out, gas)) text += (text.empty() ? "" : " ") + row[kStatus];
    return text;
  };
  // Cycle 1: two requests go unanswered, the station is demoted and its third
  // gate waits. Cycles 2 and 3 leave it alone; cycle 4 probes it, it answers.
  EXPECT_EQ(statuses("030AI01HR"), "no reply waiting waiting ok ok ok");
  EXPECT_EQ(statuses("030GCDCO3"), "no reply waiting waiting ok ok ok");
  EXPECT_EQ(statuses("030GCDCO4"), "waiting waiting waiting ok ok ok");
  EXPECT_EQ(statuses("001AI01HR"), "ok ok ok ok ok ok");
  EXPECT_TRUE(Contains(poll.err, "station 30 gave no reply 2 times in a row: demoted, polled every 3 cycles"))
      << poll.err;
  EXPECT_TRUE(Contains(poll.err, "station 30 answers again: polled every cycle")) << poll.err;
  // Only the two silent requests cost time-outs: 10 x 100 ms.
  EXPECT_LT(poll.seconds, 5.0);
  std::map<std::string, long> counts = Simulator::Counts(sim_.Stop());
  EXPECT_EQ(counts["fault-silence"], 10);
}

TEST_F(ZamhostPollSilentStation, ADeadStationDoesNotStallTheOthers) {
  // Station 31 never answers: after its demotion it costs one request every
  // fourth cycle, while station 1 is read every cycle.
  RunResult poll = Poll({"--cycles", "9", "--format", "csv", "--demote-after", "1", "--retry-every", "4",
                         "031AI01HR", "031AI01LR", "031GCDCO1", "001AI01HR"});
  ASSERT_EQ(poll.exitCode, 5) << poll.err;
  EXPECT_EQ(RowsOf(poll.out, "001AI01HR").size(), 9u);
  int silent = 0;
  for (const auto &row : RowsOf(poll.out, "031AI01HR")) silent += row[kStatus] == "no reply";
  EXPECT_EQ(silent, 3);  // cycles 1, 5 and 9
  EXPECT_EQ(CountOf(poll.err, "station 31 gave no reply"), 1) << "one message per change of state";
  EXPECT_LT(poll.seconds, 6.0);
}

TEST_F(ZamhostPoll, StopsCleanlyOnCtrlC) {
  RunOptions options;
  options.interruptOnOutput = ",2,001AI01HR,";  // Ctrl-C during the poll's second cycle or after
  RunResult poll = Poll({"--format", "csv", "--interval", "100", "001AI01HR"}, options);
  EXPECT_EQ(poll.exitCode, 0) << poll.err;
  std::vector<std::string> rows = LinesWith(poll.out, ",001AI01HR,");
  EXPECT_GE(rows.size(), 2u) << poll.out;
  EXPECT_LE(rows.size(), 4u) << "stops within a cycle or two of the signal";
  for (const std::string &row : rows) EXPECT_EQ(Fields(row).size(), 13u) << row;
  EXPECT_LT(poll.seconds, 5.0);
  // The port was closed: the next run opens it.
  EXPECT_EQ(Poll({"--cycles", "1", "001AI01HR"}).exitCode, 0);
}

}  // namespace
