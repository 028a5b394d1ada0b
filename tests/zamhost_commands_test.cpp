// zamhost run as a user runs it, against the simulator n2sim: info, check,
// read and write of every gate data type, write --verify, where the driver's
// messages go, and the exit codes and messages of the troubles a user meets
// (a missing port, a port held by another program, an invalid gate, a
// station that does not answer).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "driver/requests.h"
#include "tests/support/pty.h"
#include "tests/support/scripted_device.h"
#include "tests/zamhost_test_helpers.h"

namespace {

using namespace zamhost_test;

// The words of the output line that starts with the gate address.
std::vector<std::string> RowOf(const std::string &output, const std::string &gas) {
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(gas + " ", 0) != 0) continue;
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
  }
  return {};
}

// The row of a gate in read's table, in words: GAS, type, then the value and
// its meaning for a good read, or "-" and the status for a failed one. The
// table's columns are found by the names in its header.
std::vector<std::string> ReadRowOf(const std::string &output, const std::string &gas) {
  std::istringstream lines(output);
  std::string line, header;
  std::map<std::string, size_t> at;
  auto field = [&at](const std::string &row, const std::string &name, const std::string &next) {
    size_t from = at[name], to = next.empty() ? std::string::npos : at[next];
    std::string text = from < row.size() ? row.substr(from, to == std::string::npos ? to : to - from) : "";
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  };
  while (std::getline(lines, line)) {
    if (line.rfind("time ", 0) == 0) {
      std::istringstream names(line);
      std::string name;
      while (names >> name) at[name] = line.find(" " + name) + 1;
      at["time"] = 0;
      continue;
    }
    if (at.empty() || field(line, "gas", "type") != gas) continue;
    std::vector<std::string> words = {gas, field(line, "type", "station")};
    std::string status = field(line, "status", "value");
    std::istringstream rest(status == "ok" ? field(line, "value", "text") + " " + field(line, "text", "detail")
                                           : "- " + status);
    std::string word;
    while (rest >> word) {
      if (word != "-" || words.size() == 2) words.push_back(word);
    }
    return words;
  }
  return {};
}

// Characters (code points) of UTF-8 text.
size_t CodePoints(const std::string &text) {
  size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

class ZamhostCommands : public ::testing::Test {
 protected:
  // A plant that holds still, with known values for every gate data type.
  ZamhostCommands()
      : sim_({"--static", "--set", "value 1 GC CNTR1 1234", "--set", "value 1 PM01 LSP 21.5", "--set",
              "value 1 GC DCO3 1", "--set", "value 1 DO03 DO@ 513", "--set", "value 5 AD 2 40000", "--set",
              "value 5 BD 3 200"}) {}

  void SetUp() override {
    ASSERT_FALSE(sim_.port().empty()) << "n2sim did not start: " << sim_.Log();
    ASSERT_EQ(access(kZamhost.c_str(), X_OK), 0) << "build zamhost first: " << kZamhost;
  }

  // Channel options for the simulator's port, its station-type file, and a
  // short time-out for silent stations.
  std::vector<std::string> Channel() const {
    return {"--port", sim_.port(), "--timeout", "100", "--station-types", sim_.stationTypes()};
  }

  RunResult Run(const std::string &command, std::vector<std::string> args, const RunOptions &options = {}) {
    std::vector<std::string> all = {command};
    std::vector<std::string> channel = Channel();
    all.insert(all.end(), channel.begin(), channel.end());
    all.insert(all.end(), args.begin(), args.end());
    return RunZamhost(all, options);
  }

  Simulator sim_;
};

TEST(ZamhostInfo, ShowsTheDriversSelfDescriptionAndItsBannerAsABox) {
  RunResult info = RunZamhost({"info"});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_TRUE(Contains(info.out, "KT-Johnson N2 series"));
  EXPECT_TRUE(Contains(info.out, std::to_string(sizeof(ChannelContext)) + " bytes per channel"));
  EXPECT_TRUE(Contains(info.out, "9600 baud, 8 data bits, no parity, 1 stop bit"));
  EXPECT_TRUE(Contains(info.out, "driver id        82"));
  std::string top = "┌";
  for (int i = 0; i < 60; ++i) top += "─";
  top += "┐";
  EXPECT_TRUE(Contains(info.out, top));
  EXPECT_TRUE(Contains(info.out, "│ █████▓▓▓▓▓▓▒▒▒▒▒▒░░░░░░ Z A M K T ░░░░░░▒▒▒▒▒▒▓▓▓▓▓▓█████  │"));
  EXPECT_TRUE(Contains(info.out, "Johnson System 91 Driver installed."));
  // Five lines of 62 characters each, as the driver draws them.
  std::vector<std::string> box;
  for (const char *mark : {"┌", "│", "└"}) {
    for (const std::string &line : LinesWith(info.out, mark)) box.push_back(line);
  }
  ASSERT_EQ(box.size(), 5u);
  for (const std::string &line : box) EXPECT_EQ(CodePoints(line), 62u) << line;
}

TEST_F(ZamhostCommands, CheckReportsEachInvalidGateWithTheDriversOwnMessage) {
  TempFolder folder;
  WriteFile(folder.File("gates.csv"),
            "name,gas,type\n"
            "High range,001AI01HR,real\n"
            "Low range,001AI01LR,real\n"
            "No such point,001AI01XX,real\n"
            "No such module,001XX01HR,auto\n"
            "Wrong type,001AI01HR,int32\n"
            "N2 Open wrong type,005AO001,int16\n"
            "Bad station,0A1AI01HR,auto\n"
            "Lower case,001ai01hr,auto\n");
  RunResult check = Run("check", {folder.File("gates.csv")});
  EXPECT_EQ(check.exitCode, 3) << check.err;
  for (const char *message : {
           "ZAMKT:Illegal Tag Name. GAS = 001AI01XX",
           "ZAMKT:Illegal Module Name. GAS = 001XX01HR",
           "the point does not take type int32; it takes real",
           "ZAMKT01: N2OPEN_ParseTag() Tag Address '005AO001' Type must be 'float'",
           "ZAMKT01: N2OPEN_ParseTag() Tag Address '005AO001' Invalid data type!",
           "ZAMKT: SingleParse() illegal PLC Address. Tag address '0A1AI01HR'.",
           "gate addresses are written in upper case",
           "station 1: block 1 reads 2 real items at 1217..1218 for 2 gates",
           "8 gates, 6 invalid",
       }) {
    EXPECT_TRUE(Contains(check.out, message)) << message << "\n" << check.out;
  }
  EXPECT_TRUE(Contains(check.out, folder.File("gates.csv") + ":4")) << "the line of the invalid gate";
}

TEST_F(ZamhostCommands, CheckNeedsNoLineAndPassesAValidList) {
  RunResult check = RunZamhost({"check", "--station", "5=N2OPEN", "001AI01HR", "001GCDCO3", "005AO001", "005AO001_O"});
  EXPECT_EQ(check.exitCode, 0) << check.err << check.out;
  std::vector<std::string> row = RowOf(check.out, "001GCDCO3");
  ASSERT_FALSE(row.empty()) << check.out;
  EXPECT_EQ(row[2], "digital");  // auto found the type the point takes
  EXPECT_TRUE(Contains(check.out, "AO object 1 override"));
}

TEST_F(ZamhostCommands, ReadShowsEveryGateTypeWithItsMeaning) {
  RunResult read = Run("read", {"001AI01HR", "001PM01LSP", "001GCCNTR1", "001DO03DO@", "005AD002:uint16",
                                "005AD002:int16", "005BD003", "001GCDCO3", "005BI001", "001TS01START1",
                                "001TS01DAYS1", "005AO001"});
  ASSERT_EQ(read.exitCode, 0) << read.err;
  struct Row {
    const char *gas;
    std::vector<std::string> words;
  } rows[] = {
      {"001AI01HR", {"001AI01HR", "real", "100"}},
      {"001PM01LSP", {"001PM01LSP", "real", "21.5"}},
      {"001GCCNTR1", {"001GCCNTR1", "int32", "1234"}},
      {"001DO03DO@", {"001DO03DO@", "int16", "513"}},
      {"005AD002:uint16", {"005AD002", "uint16", "40000"}},
      {"005AD002:int16", {"005AD002", "int16", "-25536"}},
      {"005BD003", {"005BD003", "int16", "200"}},
      {"001GCDCO3", {"001GCDCO3", "digital", "1", "on"}},
      {"005BI001", {"005BI001", "digital", "1", "on"}},
      {"001TS01START1", {"001TS01START1", "int32", "450", "07:30"}},
      {"001TS01DAYS1", {"001TS01DAYS1", "int32", "9", "Mon-Fri"}},
      {"005AO001", {"005AO001", "real", "50"}},
  };
  // Rows come in the order asked; the two AD002 rows share their GAS.
  std::istringstream lines(read.out);
  std::string line, header;
  std::getline(lines, header);
  size_t next = 0;
  while (std::getline(lines, line) && next < std::size(rows)) {
    EXPECT_EQ(ReadRowOf(header + "\n" + line, rows[next].words[0]), rows[next].words) << rows[next].gas;
    ++next;
  }
  EXPECT_EQ(next, std::size(rows)) << read.out;
}

TEST_F(ZamhostCommands, WriteOfEveryGateTypeIsVerifiedAgainstWhatTheDeviceKeeps) {
  RunResult write = Run("write", {"--verify", "001PM01LSP=21.7", "001DO03DO@=1027", "001GCCNTR1=77", "001GCDCO3=off",
                                  "001TS01START1=24:00", "001TS01DAYS1=Mon-Fri", "001RTCLDATE=2024-02-29",
                                  "005AD002:uint16=65535", "005BD003=7", "005AO003=12.25", "005BO002=on"});
  ASSERT_EQ(write.exitCode, 0) << write.err << write.out;
  struct Case {
    const char *gas;
    const char *verified;
  } cases[] = {
      {"001PM01LSP", "reads back 21.6875"},       {"001DO03DO@", "reads back 1027"},
      {"001GCCNTR1", "reads back 77"},            {"001GCDCO3", "reads back 0 (off)"},
      {"001TS01START1", "reads back 1439 (23:59)"}, {"001TS01DAYS1", "reads back 9 (Mon-Fri)"},
      {"001RTCLDATE", "reads back 16131 (2024-02-29)"}, {"005AD002", "reads back 65535"},
      {"005BD003", "reads back 7"},               {"005AO003", "reads back 12.25"},
      {"005BO002", "reads back 1 (on)"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> lines = LinesWith(write.out, std::string(c.gas) + " ");
    ASSERT_EQ(lines.size(), 1u) << c.gas << "\n" << write.out;
    EXPECT_TRUE(Contains(lines[0], " verified ")) << lines[0];
    EXPECT_TRUE(Contains(lines[0], c.verified)) << lines[0];
  }
  // A later read sees the values the device keeps.
  RunResult read = Run("read", {"001PM01LSP", "001PM01SP1", "001TS01START1"});
  ASSERT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(ReadRowOf(read.out, "001PM01SP1"), (std::vector<std::string>{"001PM01SP1", "real", "21.6875"}));
  EXPECT_EQ(ReadRowOf(read.out, "001TS01START1"), (std::vector<std::string>{"001TS01START1", "int32", "1439", "23:59"}));
}

TEST_F(ZamhostCommands, AnOverrideIsReleasedByWritingItsTagWhichVerifyDoesNotReadBack) {
  RunResult override = Run("write", {"--verify", "005AO001=42.5"});
  ASSERT_EQ(override.exitCode, 0) << override.err;
  EXPECT_EQ(ReadRowOf(Run("read", {"005AO001_O"}).out, "005AO001_O"),
            (std::vector<std::string>{"005AO001_O", "digital", "1", "overridden"}));
  RunResult release = Run("write", {"--verify", "005AO001_O"});
  ASSERT_EQ(release.exitCode, 0) << release.err;
  EXPECT_TRUE(Contains(release.out, "release override")) << release.out;
  EXPECT_TRUE(Contains(release.out, "written          not verified (override tags are not read back)")) << release.out;
  RunResult read = Run("read", {"005AO001", "005AO001_O"});
  EXPECT_EQ(ReadRowOf(read.out, "005AO001"), (std::vector<std::string>{"005AO001", "real", "50"}));
  EXPECT_EQ(ReadRowOf(read.out, "005AO001_O"), (std::vector<std::string>{"005AO001_O", "digital", "0", "not", "overridden"}));
  // An override tag takes no value but its release.
  RunResult refused = Run("write", {"005AO001_O=1"});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_TRUE(Contains(refused.err, "an override tag can only be released"));
}

// A station that acknowledges a write but keeps its own value (its logic
// holds the point): the device is scripted, write then read-back.
TEST(ZamhostVerify, ReportsAWriteTheStationAcknowledgedButDidNotApply) {
  PtyPair pty;
  ScriptedDevice device(pty.master());
  device.Run({Answer("", "A"), Answer("", DataReply("8047"))});  // the read-back gives 15.0
  RunResult write = RunZamhost({"write", "--port", pty.portName(), "--timeout", "200", "--verify", "001PM01LSP=21.7"});
  std::vector<std::string> requests = device.Finish();
  EXPECT_EQ(write.exitCode, 7) << write.err << write.out;
  EXPECT_TRUE(Contains(write.out, "not applied")) << write.out;
  EXPECT_TRUE(Contains(write.out, "the station acknowledged but reads back 15 instead of 21.6875")) << write.out;
  EXPECT_TRUE(Contains(write.err, "station 1 acknowledged the write but did not apply it")) << write.err;
  EXPECT_EQ(requests.size(), 2u);
}

TEST_F(ZamhostCommands, ExitCodesAndMessagesTellTheUserWhatToDo) {
  struct Case {
    const char *what;
    std::vector<std::string> args;
    int exitCode;
    const char *message;
  } cases[] = {
      {"a missing port", {"read", "--port", "ttyNOSUCH7", "001AI01HR"}, 4, "does not exist"},
      {"no port at all", {"read", "001AI01HR"}, 2, "--port is required"},
      {"a port name too long for the driver", {"read", "--port", "ttyNOSUCHADAPTER", "001AI01HR"}, 4,
       "longer than the driver's 11 characters"},
      {"an invalid gate", {"read", "--port", sim_.port(), "001AI01XX"}, 3, "ZAMKT:Illegal Tag Name. GAS = 001AI01XX"},
      {"an N2 Open gate without the station's family",
       {"read", "--port", sim_.port(), "005AO001"}, 3, "--station 5=N2OPEN"},
      {"a station that does not answer",
       {"read", "--port", sim_.port(), "--timeout", "100", "030AI01HR"}, 5, "station 30 does not answer"},
      {"a read-only point", {"write", "--port", sim_.port(), "001AI01AI=3"}, 2, "001AI01AI is a read-only point"},
      {"a value out of range", {"write", "--port", sim_.port(), "001TS01START1=24:01"}, 2, "out of range"},
      {"a value of the wrong form", {"write", "--port", sim_.port(), "001PM01LSP=warm"}, 2, "'warm' is not a number"},
      {"a write without a value", {"write", "--port", sim_.port(), "001PM01LSP"}, 2, "no value given"},
      {"an unknown type", {"read", "--port", sim_.port(), "001AI01HR:float"}, 2, "unknown type 'float'"},
      {"a missing gate list", {"poll", "--port", sim_.port(), "nosuch/gates.csv"}, 2, "cannot read the gate list"},
      {"an unknown option", {"read", "--port", sim_.port(), "--speed", "9600", "001AI01HR"}, 2, "--speed"},
      {"a missing driver", {"--driver", "/nonexistent/libzamkt.so", "info"}, 6, "not found"},
      {"a missing station-type file", {"read", "--port", sim_.port(), "-s", "/nonexistent.int", "001AI01HR"}, 2,
       "/nonexistent.int"},
  };
  for (const Case &c : cases) {
    RunResult result = RunZamhost(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.what << "\n" << result.err;
    EXPECT_TRUE(Contains(result.err, c.message)) << c.what << ": " << result.err;
  }
}

TEST_F(ZamhostCommands, APortHeldByAnotherProgramIsNamedAsSuch) {
  int holder = open(("/dev/" + sim_.port()).c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  RunResult read = Run("read", {"001AI01HR"});
  close(holder);
  EXPECT_EQ(read.exitCode, 4);
  EXPECT_TRUE(Contains(read.err, "is held by another program")) << read.err;
  EXPECT_EQ(Run("read", {"001AI01HR"}).exitCode, 0) << "free again once the holder let go";
}

TEST_F(ZamhostCommands, ASilentStationCostsFiveTimeOutsAndNoMore) {
  RunResult read = Run("read", {"030AI01HR", "001AI01HR"});
  EXPECT_EQ(read.exitCode, 5);
  EXPECT_EQ(ReadRowOf(read.out, "030AI01HR"), (std::vector<std::string>{"030AI01HR", "real", "-", "no", "reply"}));
  EXPECT_EQ(ReadRowOf(read.out, "001AI01HR"), (std::vector<std::string>{"001AI01HR", "real", "100"}));
  EXPECT_LT(read.seconds, 5.0);
}

TEST_F(ZamhostCommands, DriverMessagesGoToStandardErrorOrToQorproLogAndQuietHidesThem) {
  RunResult plain = RunZamhost({"-v", "read", "--port", sim_.port(), "001AI01HR"});
  EXPECT_TRUE(Contains(plain.err, "[qorpro 32] ZAMKT: Johnson N2  Driver, loaded successfully.")) << plain.err;
  // Without -v the start-up lines are noise.
  RunResult usual = Run("read", {"001AI01HR"});
  EXPECT_FALSE(Contains(usual.err, "loaded successfully")) << usual.err;

  RunResult quiet = RunZamhost({"--quiet", "read", "--port", sim_.port(), "001AI01HR"});
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_FALSE(Contains(quiet.err, "ZAMKT")) << quiet.err;

  TempFolder folder;
  RunOptions options;
  options.env["QORPRO_LOG"] = folder.File("qorpro.log");
  RunResult logged = Run("read", {"001AI01HR", "001AI01XX"}, options);
  EXPECT_EQ(logged.exitCode, 3);
  EXPECT_FALSE(Contains(logged.err, "[qorpro")) << logged.err;
  std::string log = ReadFile(folder.File("qorpro.log"));
  EXPECT_TRUE(Contains(log, "32\tZAMKT: Johnson N2  Driver, loaded successfully.\n")) << log;
  EXPECT_TRUE(Contains(log, "32\tZAMKT:Illegal Tag Name. GAS = 001AI01XX\n")) << log;
}

TEST_F(ZamhostCommands, ReachesAPortThroughAPathTooLongForTheDriversField) {
  TempFolder folder;
  const std::string longPath = folder.File("a-port-path-longer-than-eleven-characters");
  ASSERT_EQ(symlink(("/dev/" + sim_.port()).c_str(), longPath.c_str()), 0);
  RunResult read = RunZamhost({"read", "--port", longPath, "001AI01HR"});
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(ReadRowOf(read.out, "001AI01HR"), (std::vector<std::string>{"001AI01HR", "real", "100"}));
}

TEST_F(ZamhostCommands, StationFamiliesComeFromAFileAnywhereOrFromTheCommandLine) {
  // Without the file every station is a DX9100 to the driver.
  RunResult bare = RunZamhost({"read", "--port", sim_.port(), "010XP01AI1"});
  EXPECT_EQ(bare.exitCode, 3);
  EXPECT_TRUE(Contains(bare.err, "--station 10=XT9100")) << bare.err;

  RunResult named = RunZamhost({"read", "--port", sim_.port(), "--station", "10=XT9100", "010XP01AI1"});
  EXPECT_EQ(named.exitCode, 0) << named.err;

  // The command line's assignment comes after the file's lines and wins.
  RunResult overridden = Run("read", {"--station", "5=XT9100", "005AO001"});
  EXPECT_EQ(overridden.exitCode, 3) << overridden.err;

  // The driver reads ZAMKT<channel>.int: channel 2 names another file.
  TempFolder folder;
  WriteFile(folder.File("plant.int"), "010 = XT9100\n");
  RunResult channel2 = RunZamhost({"-v", "read", "--port", sim_.port(), "--channel", "2", "-s", folder.File("plant.int"),
                                   "010XP01AI1"});
  EXPECT_EQ(channel2.exitCode, 0) << channel2.err;
  EXPECT_TRUE(Contains(channel2.err, "ZAMKT02: ReadInitFile() PLC #010 set to type 'XT9100'")) << channel2.err;
}

}  // namespace
