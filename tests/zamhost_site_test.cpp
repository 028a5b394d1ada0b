// zamhost as a technician uses it on site, against n2sim: writes checked
// before anything is sent and their failures told apart, output that strict
// parsers accept, exit codes a cron job can test, a port that goes away and
// comes back, long port paths, Ctrl-C, silent stations, gate lists saved by
// spreadsheets, and command-line mistakes.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pty.h"
#include "tests/support/scripted_device.h"
#include "tests/zamhost_test_helpers.h"

namespace {

using namespace zamhost_test;

// Every line of the text parses as JSON with a strict parser; the objects.
std::vector<nlohmann::json> ParseJsonLines(const std::string &text) {
  std::vector<nlohmann::json> objects;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    try {
      objects.push_back(nlohmann::json::parse(line));
    } catch (const nlohmann::json::exception &error) {
      ADD_FAILURE() << "not JSON: " << line << "\n" << error.what();
    }
  }
  return objects;
}

// The symbolic links under /tmp that lead to target.
int LinksTo(const std::string &target) {
  int count = 0;
  DIR *folder = opendir("/tmp");
  if (folder == nullptr) return -1;
  while (dirent *entry = readdir(folder)) {
    std::string path = std::string("/tmp/") + entry->d_name;
    char buffer[512];
    ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n > 0 && std::string(buffer, static_cast<size_t>(n)) == target) ++count;
  }
  closedir(folder);
  return count;
}

class ZamhostSite : public ::testing::Test {
 protected:
  ZamhostSite() : sim_({"--static", "--set", "value 1 PM01 LSP 10"}) {}

  void SetUp() override { ASSERT_FALSE(sim_.port().empty()) << "n2sim did not start: " << sim_.Log(); }

  RunResult Run(const std::string &command, std::vector<std::string> args, const RunOptions &options = {},
                double *interruptedAt = nullptr) {
    std::vector<std::string> all = {command, "--port", sim_.port(), "-s", sim_.stationTypes(), "--timeout", "200"};
    all.insert(all.end(), args.begin(), args.end());
    return RunZamhost(all, options, interruptedAt);
  }

  Simulator sim_;
};

TEST_F(ZamhostSite, AWriteBatchIsCheckedWholeBeforeTheFirstFrame) {
  struct Case {
    const char *bad;
    const char *reason;
  } cases[] = {
      {"001AI01HIA=40000", "out of range (-32750 to 32750"},  // the driver's real encoder refuses it
      {"001AI01AI=5", "001AI01AI is a read-only point"},      // no frame would go out
      {"005AI001=3", "005AI001 is an N2 Open input"},
      {"001RTCLTIME=86400", "out of range"},
      {"001RTCLDATE=2039-01-01", "out of range"},
      {"001TS01START1=1441", "out of range"},
  };
  for (const Case &c : cases) {
    RunResult write = Run("write", {"001PM01LSP=21.5", c.bad});
    EXPECT_EQ(write.exitCode, 2) << c.bad << "\n" << write.err;
    EXPECT_TRUE(Contains(write.err, c.reason)) << c.bad << ": " << write.err;
    EXPECT_TRUE(Contains(write.err, "nothing written")) << write.err;
    EXPECT_FALSE(Contains(write.err, "station refused")) << write.err;
  }
  RunResult read = Run("read", {"-f", "csv", "001PM01LSP"});
  EXPECT_TRUE(Contains(read.out, ",ok,10,")) << "the first assignment was never sent\n" << read.out;
}

TEST_F(ZamhostSite, EveryBadAssignmentIsToldAtOnce) {
  RunResult write = Run("write", {"001AI01AI=5", "001PM01LSP=warm", "001AI01HIA=40000"});
  EXPECT_EQ(write.exitCode, 2);
  EXPECT_EQ(LinesWith(write.err, "001AI01AI").size(), 1u) << write.err;
  EXPECT_EQ(LinesWith(write.err, "'warm'").size(), 1u) << write.err;
  EXPECT_EQ(LinesWith(write.err, "40000").size(), 1u) << write.err;
}

// The station's refusal, no reply and a write that went through are told
// apart, with --quiet too. The device is scripted: five refusals "N03".
TEST(ZamhostSiteScripted, AStationsRefusalIsToldWithItsCodeEvenWhenQuiet) {
  PtyPair pty;
  ScriptedDevice device(pty.master());
  std::vector<DeviceStep> refusals;
  for (int i = 0; i < 5; ++i) refusals.push_back(Answer("", "N03"));
  device.Run(refusals);
  RunResult write = RunZamhost({"-q", "write", "--port", pty.portName(), "--timeout", "200", "001PM01LSP=21.5"});
  device.Finish();
  EXPECT_EQ(write.exitCode, 1) << write.err;
  EXPECT_TRUE(Contains(write.err, "the station refused (N-code 03)")) << write.err;
  EXPECT_TRUE(Contains(write.out, "station refused")) << write.out;
  EXPECT_FALSE(Contains(write.err, "before sending")) << write.err;
}

TEST_F(ZamhostSite, NoReplyIsNotCalledARefusal) {
  RunResult write = Run("write", {"-q", "030PM01LSP=21.5"});
  EXPECT_EQ(write.exitCode, 5) << write.err;
  EXPECT_TRUE(Contains(write.out, "no reply")) << write.out;
  EXPECT_FALSE(Contains(write.err + write.out, "refused")) << write.err;
}

// An N2 Open analog input whose float is not a number: the device is
// scripted (identify, status, then the read).
TEST(ZamhostSiteScripted, ANonFiniteValueIsNullWithAQualityThatSaysWhy) {
  for (const char *format : {"json", "csv"}) {
    PtyPair pty;
    ScriptedDevice device(pty.master());
    device.Run({Answer("", "A"), Answer("", "A"), Answer("", N2OpenDataReply("007FC00000"))});
    RunResult poll = RunZamhost({"poll", "--port", pty.portName(), "--station", "5=N2OPEN", "--timeout", "200", "-n",
                                 "1", "-f", format, "005AI001"});
    device.Finish();
    EXPECT_EQ(poll.exitCode, 0) << poll.err;
    EXPECT_FALSE(Contains(poll.out, "nan")) << poll.out;
    if (std::string(format) == "csv") {
      EXPECT_TRUE(Contains(poll.out, ",ok,,,single,5,not finite,")) << poll.out;
      continue;
    }
    std::vector<nlohmann::json> lines = ParseJsonLines(poll.out);
    ASSERT_FALSE(lines.empty()) << poll.out;
    EXPECT_TRUE(lines[0]["value"].is_null()) << lines[0];
    EXPECT_EQ(lines[0]["quality"], "not finite") << lines[0];
  }
}

TEST_F(ZamhostSite, EveryJsonOutputParsesStrictlyAndNamesAreUtf8) {
  TempFolder folder;
  // Saved as Latin-1 by a spreadsheet: "Café" with é as one byte.
  WriteFile(folder.File("latin1.csv"), "Caf\xe9 high,001AI01HR,real\nQuote \" and \\ back,001AI01LR\n");
  RunResult refused = Run("poll", {"-n", "1", "-f", "json", folder.File("latin1.csv")});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_TRUE(Contains(refused.err, "latin1.csv:1: not UTF-8")) << refused.err;

  RunResult poll = RunZamhost({"--latin1", "poll", "--port", sim_.port(), "-s", sim_.stationTypes(), "-n", "2",
                               "-i", "50", "-f", "json", folder.File("latin1.csv"), "030AI01HR", "--timeout", "100"});
  std::vector<nlohmann::json> lines = ParseJsonLines(poll.out);
  ASSERT_GE(lines.size(), 6u) << poll.out;
  EXPECT_EQ(lines[0]["name"], "Caf\xc3\xa9 high");
  EXPECT_EQ(lines[1]["name"], "Quote \" and \\ back");
  for (const auto &[command, args] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"read", {"-f", "json", "001AI01HR", "030AI01HR", "001AI01XX"}},
           {"write", {"-f", "json", "--verify", "001PM01LSP=12.5", "001TS01START1=07:00"}}}) {
    RunResult run = Run(command, args);
    std::vector<nlohmann::json> rows = ParseJsonLines(run.out);
    EXPECT_FALSE(rows.empty()) << command;
    for (const nlohmann::json &row : rows) EXPECT_TRUE(row.contains("status") && row.contains("time")) << row;
  }
}

TEST_F(ZamhostSite, PollExitCodeTellsACronJobOfTheLastCycle) {
  struct Case {
    std::vector<std::string> gates;
    int exitCode;
  } cases[] = {
      {{"001AI01HR"}, 0},
      {{"001AI01HR", "030AI01HR"}, 5},
      {{"001AI01XX", "001AI01HR"}, 3},
  };
  for (const Case &c : cases) {
    std::vector<std::string> args = {"-n", "1", "-f", "csv"};
    args.insert(args.end(), c.gates.begin(), c.gates.end());
    RunResult poll = Run("poll", args);
    EXPECT_EQ(poll.exitCode, c.exitCode) << c.gates.back() << "\n" << poll.err;
  }
}

TEST_F(ZamhostSite, ASilentStationsOtherGatesAreNotTriedUnlessAll) {
  RunResult read = Run("read", {"-f", "csv", "030AI01HR", "030AI01LR", "030AI01HIA", "001AI01HR"});
  EXPECT_EQ(read.exitCode, 5);
  EXPECT_EQ(LinesWith(read.out, ",not tried,").size(), 2u) << read.out;
  EXPECT_TRUE(Contains(read.out, "station 30 silent")) << read.out;
  EXPECT_TRUE(Contains(read.out, "001AI01HR,real,1,ok,100")) << read.out;
  EXPECT_LT(read.seconds, 2.5) << "one request's time-outs (5 x 200 ms), not three";

  RunResult all = Run("read", {"--all", "-f", "csv", "030AI01HR", "030AI01LR"});
  EXPECT_EQ(LinesWith(all.out, ",no reply,").size(), 2u) << all.out;
}

TEST_F(ZamhostSite, SpreadsheetListsAreReadAndEveryBadLineIsTold) {
  TempFolder folder;
  WriteFile(folder.File("excel.csv"), "\xEF\xBB\xBFname;gas;type\nHigh;001AI01HR;real\nLow;001AI01LR;\n");
  RunResult good = Run("read", {"-f", "csv", folder.File("excel.csv")});
  EXPECT_EQ(good.exitCode, 0) << good.err;
  EXPECT_EQ(LinesWith(good.out, ",ok,").size(), 2u) << good.out;

  WriteFile(folder.File("bad.csv"), "name,gas,type\nA,001AI01HR,float\nB,001 AI01LR,real\nC,001AI01HIA,real,x\n");
  RunResult bad = Run("read", {folder.File("bad.csv")});
  EXPECT_EQ(bad.exitCode, 2);
  for (const char *line : {"bad.csv:2: unknown type 'float'", "bad.csv:3: '001 AI01LR' is not a gate address",
                           "bad.csv:4: expected name, GAS, type; found 4 fields"}) {
    EXPECT_TRUE(Contains(bad.err, line)) << line << "\n" << bad.err;
  }
  RunResult missing = Run("read", {folder.File("none.csv")});
  EXPECT_TRUE(Contains(missing.err, "none.csv': No such file or directory")) << missing.err;
}

TEST(ZamhostSiteCommandLine, MistakesAreNamedWithTheNearestWord) {
  struct Case {
    std::vector<std::string> args;
    const char *message;
  } cases[] = {
      {{"raed", "001AI01HR"}, "unknown command 'raed': did you mean 'read'?"},
      {{"pol", "x.csv"}, "did you mean 'poll'?"},
      {{"poll", "--intervall", "5", "-p", "NUL", "001AI01HR"}, "unknown option '--intervall' of 'poll': did you mean '--interval'?"},
      {{"read", "--parity", "x", "-p", "NUL", "001AI01HR"}, "'x' is not a parity: choose none, odd, even, mark or space"},
      {{"read", "--station", "5", "-p", "NUL", "001AI01HR"}, "write ADDR=FAMILY, e.g. 5=N2OPEN"},
      {{"read", "-f", "xml", "-p", "NUL", "001AI01HR"}, "'xml' is not an output format: choose table, csv or json"},
  };
  for (const Case &c : cases) {
    RunResult run = RunZamhost(c.args);
    EXPECT_EQ(run.exitCode, 2) << c.message;
    EXPECT_TRUE(Contains(run.err, c.message)) << c.message << "\n" << run.err;
    EXPECT_FALSE(Contains(run.err, "FAILED")) << run.err;
  }
}

TEST_F(ZamhostSite, StartUpLinesOnlyWithVerboseAndOverrunsAreTold) {
  RunResult plain = Run("poll", {"-n", "2", "-i", "1", "-f", "csv", "001AI01HR", "001AI01LR"});
  EXPECT_FALSE(Contains(plain.err, "ZAMKT")) << plain.err;
  EXPECT_TRUE(Contains(plain.err, "longer than the interval of 1 ms")) << plain.err;
  RunResult verbose = RunZamhost({"-v", "read", "--port", sim_.port(), "001AI01HR"});
  EXPECT_TRUE(Contains(verbose.err, "loaded successfully")) << verbose.err;
  // Every line of the driver's that zamhost shows carries a time stamp.
  for (const std::string &line : LinesWith(verbose.err, "[qorpro")) {
    EXPECT_TRUE(line.size() > 29 && line[4] == '-' && line[10] == 'T') << line;
  }
}

TEST(ZamhostSitePort, ALongPathIsNamedAsTypedAndItsLinkNeverOutlivesZamhost) {
  TempFolder folder;
  const std::string longPath = folder.File("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  RunResult missing = RunZamhost({"read", "--port", longPath, "001AI01HR"});
  EXPECT_EQ(missing.exitCode, 4);
  EXPECT_TRUE(Contains(missing.err, "port '" + longPath + "' does not exist")) << missing.err;
  EXPECT_FALSE(Contains(missing.err, "/tmp/zh")) << missing.err;
  EXPECT_EQ(LinksTo(longPath), 0);

  // Interrupted in the middle of a poll.
  Simulator sim;
  ASSERT_EQ(symlink(("/dev/" + sim.port()).c_str(), longPath.c_str()), 0);
  RunOptions options;
  options.interruptOnOutput = ",2,001AI01HR,";
  RunResult poll = RunZamhost({"poll", "--port", longPath, "-i", "100", "-f", "csv", "001AI01HR"}, options);
  EXPECT_TRUE(Contains(poll.out, ",2,001AI01HR,")) << poll.err;
  EXPECT_EQ(LinksTo(longPath), 0) << "the short link is gone after Ctrl-C";
}

TEST_F(ZamhostSite, CtrlCStopsWithinOneTimeOutAndTellsWhatWasDone) {
  // Station 30 costs five time-outs of a second; Ctrl-C comes during them.
  RunOptions options;
  options.interruptOnOutput = "001PM01LSP";
  double interruptedAt = 0;
  RunResult write = RunZamhost({"write", "--port", sim_.port(), "-s", sim_.stationTypes(), "--timeout", "1000",
                                "-f", "csv", "001PM01LSP=22", "030PM01LSP=3", "001PM01LSP=23"},
                               options, &interruptedAt);
  EXPECT_TRUE(Contains(write.out, ",001PM01LSP,real,22,,written,")) << "printed as soon as written\n" << write.out;
  EXPECT_TRUE(Contains(write.err, "stopping")) << write.err;
  EXPECT_LT(write.seconds - interruptedAt, 3.0) << "within about one time-out, not five";
  EXPECT_NE(write.exitCode, 0);

  // A second Ctrl-C ends at once.
  options.interruptAgainAfterMs = 100;
  options.interruptOnOutput = "001AI01HR";
  RunResult read = RunZamhost({"read", "--port", sim_.port(), "--timeout", "5000", "001AI01HR", "030AI01HR"},
                              options, &interruptedAt);
  EXPECT_EQ(read.exitCode, 130);
  EXPECT_LT(read.seconds - interruptedAt, 2.0);
}

TEST(ZamhostSitePort, ALostPortIsReopenedAndPollingResumes) {
  TempFolder folder;
  const std::string link = "/tmp/zhlost" + std::to_string(getpid());
  auto sim = std::make_unique<Simulator>(std::vector<std::string>{"--link", link});
  ASSERT_FALSE(sim->port().empty());
  WriteFile(folder.File("plant.int"), ReadFile(sim->stationTypes()));

  RunResult poll;
  std::thread poller([&] {
    poll = RunZamhost({"poll", "--port", link, "-s", folder.File("plant.int"), "-i", "200", "-n", "40", "-f", "csv",
                       "001AI01HR", "005AI001"},
                      RunOptions{"", {}, 30000, "", -1});
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  sim.reset();  // the port goes away, as a pulled adapter
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  sim = std::make_unique<Simulator>(std::vector<std::string>{"--link", link});
  poller.join();

  EXPECT_TRUE(Contains(poll.err, "port lost: " + link)) << poll.err;
  EXPECT_TRUE(Contains(poll.err, "port back: " + link)) << poll.err;
  EXPECT_FALSE(Contains(poll.err, "demoted")) << "the stations are not to blame\n" << poll.err;
  std::vector<std::string> rows = LinesWith(poll.out, ",001AI01HR,");
  ASSERT_EQ(rows.size(), 40u) << poll.out;
  EXPECT_TRUE(Contains(rows.back(), ",ok,100,")) << rows.back();
  EXPECT_TRUE(Contains(LinesWith(poll.out, ",005AI001,").back(), ",ok,")) << "the N2 Open station too";
  EXPECT_GE(LinesWith(poll.out, ",port lost,").size(), 2u);
  EXPECT_EQ(poll.exitCode, 0) << poll.err;
}

// The reply time-out given on the command line holds after the port is
// reopened: station 30 is absent, so each of its requests costs the driver
// five tries of the time-out, 1 s at 200 ms; with the driver's default of
// 1000 ms that a bare reopen leaves behind, a cycle takes 5 s.
TEST(ZamhostSitePort, TheReplyTimeoutHoldsAfterThePortIsReopened) {
  TempFolder folder;
  const std::string link = "/tmp/zhtime" + std::to_string(getpid());
  auto sim = std::make_unique<Simulator>(std::vector<std::string>{"--link", link});
  ASSERT_FALSE(sim->port().empty());
  WriteFile(folder.File("plant.int"), ReadFile(sim->stationTypes()));

  RunResult poll;
  std::thread poller([&] {
    poll = RunZamhost({"poll", "--port", link, "-s", folder.File("plant.int"), "-t", "200", "-i", "200", "-n", "24",
                       "--demote-after", "100", "-f", "csv", "001AI01HR", "030AI01HR"},
                      RunOptions{"", {}, 90000, "", -1});
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  sim.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  sim = std::make_unique<Simulator>(std::vector<std::string>{"--link", link});
  poller.join();

  ASSERT_TRUE(Contains(poll.err, "port back: " + link)) << poll.err;
  const std::string after = poll.err.substr(poll.err.find("port back: "));
  // Every cycle after the reopen holds one 1 s request of station 30.
  std::vector<std::string> slow = LinesWith(after, " took ");
  EXPECT_FALSE(slow.empty()) << after;
  for (const std::string &line : slow) {
    size_t at = line.find(" took ");
    EXPECT_LT(atoi(line.c_str() + at + 6), 3000) << line;
  }
  EXPECT_EQ(poll.exitCode, 5) << "station 30 never answers\n" << poll.err;
}

TEST_F(ZamhostSite, ScanFindsTheDefaultPlantAndWritesItsStationFile) {
  TempFolder folder;
  RunResult scan = RunZamhost({"scan", "--port", sim_.port(), "--from", "1", "--to", "24", "-t", "20", "-f", "json",
                               "--family", "10=XT9100", "--family", "20=TC9100", "--write-station-file",
                               folder.File("found.int")});
  EXPECT_EQ(scan.exitCode, 0) << scan.err;
  std::map<int, std::string> found;
  for (const nlohmann::json &row : ParseJsonLines(scan.out)) found[row["station"].get<int>()] = row["family"];
  EXPECT_EQ(found, (std::map<int, std::string>{{1, "DX9100"}, {5, "N2OPEN"}, {10, "XT9100"}, {20, "TC9100"}}));
  EXPECT_EQ(ReadFile(folder.File("found.int")),
            "# Station types found by zamhost scan; stations not named are DX9100s.\n"
            "005 = N2OPEN\n010 = XT9100\n020 = TC9100\n");
  // The file it wrote serves the next command.
  EXPECT_EQ(RunZamhost({"read", "--port", sim_.port(), "-s", folder.File("found.int"), "005AI001", "010XP01AI1"})
                .exitCode,
            0);
}

TEST_F(ZamhostSite, TheSimulatorRefusesALinkThatARunningOneHolds) {
  const std::string link = "/tmp/zhheld" + std::to_string(getpid());
  Simulator first({"--link", link});
  ASSERT_FALSE(first.port().empty());
  RunResult second = RunProgram(kN2sim, {"--link", link});
  EXPECT_NE(second.exitCode, 0);
  EXPECT_TRUE(Contains(second.err, link + " is in use")) << second.err;
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), "/dev/" + first.port()) << "the running simulator keeps its link";

  RunResult set = RunProgram(kN2sim, {"--set", "value 1 PM01 XX 3"});
  EXPECT_TRUE(Contains(set.err, "--set 'value 1 PM01 XX 3': no point PM01 XX")) << set.err;
}

}  // namespace

namespace {

using namespace zamhost_test;

// zamhost poll in a terminal of 80 x 24 (a tmux session of its own), its
// screen read back with capture-pane.
class TerminalSession {
 public:
  TerminalSession() : socket_("zhtest" + std::to_string(getpid())) {}
  ~TerminalSession() { Tmux("kill-server"); }

  // The tmux server keeps no pipe of ours open: its output goes to a file.
  RunResult Tmux(const std::string &args) {
    RunResult result;
    const std::string out = folder_.File("tmux.out");
    int status = std::system(("/usr/bin/tmux -L " + socket_ + " " + args + " </dev/null >" + out + " 2>&1").c_str());
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(out);
    return result;
  }
  std::string Screen() { return Tmux("capture-pane -p").out; }

  // Waits (bounded) until the screen shows text.
  bool WaitFor(const std::string &text, int timeoutMs = 10000) {
    for (int waited = 0; waited < timeoutMs; waited += 100) {
      if (Contains(Screen(), text)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

 private:
  std::string socket_;
  TempFolder folder_;
};

std::vector<std::string> ScreenLines(const std::string &screen) {
  std::vector<std::string> lines;
  std::istringstream in(screen);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

TEST(ZamhostSiteTerminal, ThePollTableFitsTheWindowAndFollowsItsSize) {
  if (access("/usr/bin/tmux", X_OK) != 0) GTEST_SKIP() << "install tmux to read the terminal's screen";
  Simulator sim({"--static"});
  TempFolder folder;
  std::string list = "name,gas\n";
  for (const char *item : {"HR", "LR", "HIA", "LOA"}) {
    for (int module = 1; module <= 8; ++module) {
      list += "analog input " + std::to_string(module) + " " + item + " with a long descriptive name,001AI0" +
              std::to_string(module) + item + "\n";
    }
  }
  WriteFile(folder.File("many.csv"), list);
  TerminalSession terminal;
  const std::string command = kZamhost + " poll --port " + sim.port() + " -s " + sim.stationTypes() +
                              " -i 300 " + folder.File("many.csv") + "; echo zamhost-ended; sleep 30";
  ASSERT_EQ(terminal.Tmux("new-session -d -x 80 -y 24 '" + command + "'").exitCode, 0);
  ASSERT_TRUE(terminal.WaitFor("more (the next page")) << terminal.Screen();

  std::vector<std::string> lines = ScreenLines(terminal.Screen());
  EXPECT_EQ(lines.size(), 24u);
  EXPECT_EQ(lines[0].rfind("cycle ", 0), 0u) << "the title stays at the top: " << lines[0];
  for (const std::string &line : lines) EXPECT_LE(line.size(), 80u) << line;
  EXPECT_TRUE(Contains(terminal.Screen(), "station  state")) << terminal.Screen();

  // A smaller window: redrawn to fit it.
  terminal.Tmux("resize-window -x 50 -y 14");
  ASSERT_TRUE(terminal.WaitFor("of 32,")) << terminal.Screen();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  lines = ScreenLines(terminal.Screen());
  EXPECT_EQ(lines[0].rfind("cycle ", 0), 0u) << terminal.Screen();
  for (const std::string &line : lines) EXPECT_LE(line.size(), 50u) << line;

  // Ctrl-C: the normal screen comes back, with the last table on it.
  terminal.Tmux("send-keys C-c");
  ASSERT_TRUE(terminal.WaitFor("zamhost-ended")) << terminal.Screen();
  EXPECT_FALSE(Contains(terminal.Screen(), "more (the next page")) << terminal.Screen();
}

}  // namespace
