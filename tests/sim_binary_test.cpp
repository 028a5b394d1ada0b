// The n2sim program as a user or a test script runs it: the port name as the
// first line on standard output, --link, --station-types, --trace, the counts,
// a port closed and reopened, and a clean exit on SIGTERM and SIGINT.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/plant.h"
#include "sim/wire.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kProgram = std::string(ZAMKT_BUILD_DIR) + "/n2sim";
const std::string kRead = n2sim::System91Request({0x01, 0x80, 0x22});  // GC ACO1
const std::string kReply = n2sim::System91DataReply("0016") + "\r";     // 1.5, set by --set

std::string ReadFile(const std::string &path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// n2sim in a child process, in a fresh directory, standard error to a file.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    if (access(kProgram.c_str(), X_OK) != 0) ADD_FAILURE() << kProgram << " is missing: build the n2sim target";
    char pattern[] = "/tmp/n2sim_test_XXXXXX";
    dir_ = mkdtemp(pattern);
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(120);
      dup2(out[1], 1);
      const int err = open((dir_ + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, 2);
      close(out[0]);
      std::vector<char *> argv;
      argv.push_back(const_cast<char *>(kProgram.c_str()));
      for (std::string &a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(kProgram.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    stdout_ = out[0];
  }
  ~SimProcess() {
    if (pid_ > 0 && !exited_) Stop(SIGKILL);
    if (stdout_ >= 0) close(stdout_);
    std::system(("rm -rf " + dir_).c_str());
  }

  const std::string &dir() const { return dir_; }
  // Standard output up to its first newline (without it), or what came
  // within the time.
  std::string FirstLine(int timeoutMs = 10000) {
    std::string line;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
      struct pollfd in = {stdout_, POLLIN, 0};
      if (poll(&in, 1, 100) <= 0) continue;
      char c;
      if (read(stdout_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }
  // Everything on standard output after the first line, once the program ended.
  std::string RestOfStdout() {
    std::string rest;
    char buffer[256];
    ssize_t n;
    while ((n = read(stdout_, buffer, sizeof buffer)) > 0) rest.append(buffer, static_cast<size_t>(n));
    return rest;
  }
  std::string Stderr() const { return ReadFile(dir_ + "/stderr.txt"); }
  // Waits until standard error contains text.
  bool WaitForStderr(const std::string &text, int timeoutMs = 5000) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
      if (Stderr().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void Signal(int signal) const { kill(pid_, signal); }
  // Sends the signal and returns the exit status (-1 when killed by a signal
  // or not ended within 10 s).
  int Stop(int signal = SIGTERM) {
    if (exited_) return status_;
    kill(pid_, signal);
    return Wait();
  }
  int Wait() {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (Clock::now() < deadline) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    exited_ = true;
    return status_ = -1;
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int stdout_ = -1;
  bool exited_ = false;
  int status_ = -1;
};

// One request and its reply line through the port at path.
std::string Ask(const std::string &path, const std::string &request) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return "cannot open " + path;
  struct termios tio;
  tcgetattr(fd, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd, TCSANOW, &tio);
  const std::string line = request + "\r";
  std::string got;
  if (write(fd, line.data(), line.size()) == ssize_t(line.size())) {
    while (got.empty() || got.back() != '\r') {
      struct pollfd in = {fd, POLLIN, 0};
      if (poll(&in, 1, 3000) <= 0) break;
      char buffer[128];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fd);
  return got;
}

std::vector<std::string> StaticPlant(std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"--static", "--set", "value 1 GC ACO1 1.5"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(SimBinary, FirstLineIsThePortNameAndTheProgramAnswersOnIt) {
  SimProcess sim(StaticPlant());
  const std::string port = sim.FirstLine();
  EXPECT_TRUE(std::regex_match(port, std::regex("pts/[0-9]+"))) << port;
  EXPECT_EQ(Ask("/dev/" + port, kRead), kReply);
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_EQ(sim.RestOfStdout(), "");  // nothing else on standard output
}

TEST(SimBinary, KeepsServingWhenThePortIsClosedAndReopened) {
  SimProcess sim(StaticPlant());
  const std::string path = "/dev/" + sim.FirstLine();
  for (int round = 0; round < 3; ++round) EXPECT_EQ(Ask(path, kRead), kReply) << round;
  EXPECT_EQ(sim.Stop(SIGINT), 0);
}

TEST(SimBinary, LinkNamesTheTerminalAndIsRemovedOnExit) {
  char pattern[] = "/tmp/n2l_XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string link = dir + "/bus";
  SimProcess sim(StaticPlant({"--link", link}));
  const std::string port = sim.FirstLine();
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), "/dev/" + port);
  EXPECT_EQ(Ask(link, kRead), kReply);
  EXPECT_EQ(sim.Stop(), 0);
  struct stat info;
  EXPECT_NE(lstat(link.c_str(), &info), 0);
  rmdir(dir.c_str());
}

TEST(SimBinary, StationTypesFileIsWrittenAndTheProgramServesOn) {
  SimProcess sim(StaticPlant({"--station-types", "7"}));
  const std::string port = sim.FirstLine();
  EXPECT_EQ(ReadFile(sim.dir() + "/ZAMKT07.int"), "005 = N2OPEN\n010 = XT9100\n020 = TC9100\n");
  EXPECT_EQ(Ask("/dev/" + port, kRead), kReply);
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimBinary, TraceAndCountsGoToStandardError) {
  SimProcess sim(StaticPlant({"--trace", "--stats"}));
  const std::string path = "/dev/" + sim.FirstLine();
  EXPECT_EQ(Ask(path, kRead), kReply);
  EXPECT_EQ(Ask(path, n2sim::System91Request({0x01, 0xA8, 0x22, 0x01})).substr(0, 5), "A0016");
  EXPECT_TRUE(sim.WaitForStderr("station 1 DX9100 mem-read: memory read 34 GC ACO1=0x1600 (1.5)"))
      << sim.Stderr();
  sim.Signal(SIGUSR1);
  EXPECT_TRUE(sim.WaitForStderr("block-read=1")) << sim.Stderr();
  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_NE(sim.Stderr().find("n2sim: counts requests=2 answered=2"), std::string::npos) << sim.Stderr();
}

TEST(SimBinary, ABadPlantStopsTheProgramBeforeItServes) {
  SimProcess sim({"--set", "station 0 DX9100"});
  EXPECT_EQ(sim.Wait(), 2);
  EXPECT_EQ(sim.FirstLine(100), "");
  EXPECT_NE(sim.Stderr().find("station address must be 1..255"), std::string::npos) << sim.Stderr();
}

TEST(SimBinary, UnknownOptionsAreRefused) {
  SimProcess sim({"--fast"});
  EXPECT_EQ(sim.Wait(), 2);
  EXPECT_NE(sim.Stderr().find("unknown option --fast"), std::string::npos) << sim.Stderr();
}

TEST(SimBinary, PrintPlantShowsTheBuiltInPlant) {
  SimProcess sim({"--print-plant"});
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_EQ(sim.RestOfStdout(), n2sim::DefaultPlantText());
}

}  // namespace
