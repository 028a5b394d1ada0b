// End to end: the port disappears under a running channel, as when a USB
// serial adapter is pulled out. n2sim runs as a child process behind a short
// fixed link path; the channel is started on that path, then the simulator is
// killed (its pseudo-terminal master closes, the terminal hangs up and its
// device node goes) and every kind of request must fail promptly with its
// status, without a crash or a hang. With the simulator back behind the same
// link, commands 11 and 13 bring the channel back.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/requests.h"
#include "tests/support/driver_channel.h"
#include "tests/support/host_value.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kProgram = std::string(ZAMKT_BUILD_DIR) + "/n2sim";

// Per-byte reply time-out of the channel (units of 10 ms): a minute. The
// stations answer at once while the port is there; once it is lost, a request
// that waited for even one time-out instead of failing at once would overrun
// the bound below.
constexpr int32_t kTimeout = 6000;
// Longest a request may take on a lost port: far above what failing at once
// takes, below a single reply time-out.
constexpr auto kPromptly = std::chrono::seconds(30);

// A link path that fits the 12-character port name field with its NUL
// ("/tmp/zl" and four digits), unused when the test starts.
std::string FreeLinkPath() {
  for (int attempt = 0; attempt < 10000; ++attempt) {
    char path[16];
    snprintf(path, sizeof path, "/tmp/zl%04d", (static_cast<int>(getpid()) + attempt) % 10000);
    struct stat info;
    if (lstat(path, &info) != 0) return path;
  }
  return "";
}

// n2sim as a child process in the current directory (where it writes the
// station-type file of channel 1), behind the link, standard error to a file.
class Simulator {
 public:
  explicit Simulator(std::string link) : link_(std::move(link)) {}
  ~Simulator() { Kill(); }

  // Starts the program and waits for the port name it prints when the
  // terminal is ready. False with the reason in error.
  bool Start(std::string *error) {
    if (access(kProgram.c_str(), X_OK) != 0) {
      *error = kProgram + " is missing: build the n2sim target";
      return false;
    }
    int out[2];
    if (pipe(out) != 0) {
      *error = "pipe failed";
      return false;
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      const int err = open("n2sim.stderr", O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (err >= 0) dup2(err, 2);
      close(out[0]);
      execl(kProgram.c_str(), kProgram.c_str(), "--link", link_.c_str(), "--station-types", "1", "--static",
            static_cast<char *>(nullptr));
      _exit(127);
    }
    close(out[1]);
    port_ = FirstLine(out[0]);
    close(out[0]);
    if (port_.rfind("pts/", 0) != 0) {
      *error = "n2sim printed no port name (got '" + port_ + "')";
      Kill();
      return false;
    }
    return true;
  }

  // Ends the program at once, as a pulled plug ends a device: its terminal
  // master closes without any goodbye. Waits until it is gone.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  const std::string &port() const { return port_; }

 private:
  static std::string FirstLine(int fd) {
    std::string line;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
      struct pollfd in = {fd, POLLIN, 0};
      if (poll(&in, 1, 100) <= 0) continue;
      char c;
      if (read(fd, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }

  std::string link_;
  pid_t pid_ = -1;
  std::string port_;
};

enum class Op { kRead, kBlockRead, kWrite };

struct RequestCase {
  const char *what;
  Op op;
  const char *gas;
  int32_t dataType;
  HostValue value;
  int32_t status;  // on the lost port
};

// Every kind of request the host sends to a station: every read form, every
// write routine, both N2 Open exchanges. Writes that send their frame find no
// reply (2); bit, field and whole-word writes read their item back first and,
// with no read-back answered, never send a write frame (1).
const std::vector<RequestCase> &Requests() {
  static const std::vector<RequestCase> cases = {
      {"paged memory read", Op::kRead, "001GCACO1", kGateReal, HostValue(), 2},
      {"full-address memory read", Op::kRead, "001AI01HR", kGateReal, HostValue(), 2},
      {"schedule read", Op::kRead, "001TS01START1", kGateInt32, HostValue(), 2},
      {"clock read", Op::kRead, "001RTCLTIME", kGateInt32, HostValue(), 2},
      {"XT9100 read", Op::kRead, "010XP01AI1", kGateReal, HostValue(), 2},
      {"TC9100 read", Op::kRead, "020TCGCMIN", kGateInt16, HostValue(), 2},
      {"block read", Op::kBlockRead, "001GCACO1", kGateReal, HostValue(), 2},
      {"N2 Open read", Op::kRead, "005AO001", kGateReal, HostValue(), 2},
      {"real write", Op::kWrite, "001GCACO3", kGateReal, HostValue::Real(12.5f), 2},
      {"32-bit write", Op::kWrite, "001GCCNTR1", kGateInt32, HostValue::Long(1000), 2},
      {"schedule write", Op::kWrite, "001TS02START1", kGateInt32, HostValue::Long(480), 2},
      {"clock write", Op::kWrite, "001RTCLTIME", kGateInt32, HostValue::Long(3600), 2},
      {"N2 Open write", Op::kWrite, "005AO002", kGateReal, HostValue::Real(3.0f), 2},
      {"N2 Open release", Op::kWrite, "005AO002_O", kGateDigital, HostValue::Word(0), 2},
      {"bit write", Op::kWrite, "001GCDCO5", kGateDigital, HostValue::Word(1), 1},
      {"field write", Op::kWrite, "020TCGCMODC", kGateInt16, HostValue::Word(2), 1},
      {"whole-word write", Op::kWrite, "010XP01DOPT", kGateInt16, HostValue::Word(0x55), 1},
  };
  return cases;
}

class PortLoss : public ::testing::Test {
 protected:
  void SetUp() override {
    link_ = FreeLinkPath();
    ASSERT_FALSE(link_.empty()) << "no free /tmp/zlNNNN path";
    ASSERT_LT(link_.size(), static_cast<size_t>(kPortNameSize)) << "the link path must fit the port name field";
    simulator_ = std::make_unique<Simulator>(link_);
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    ASSERT_EQ(channel_.Init(link_, kTimeout), 0) << "command 1 on " << link_;
  }

  void TearDown() override {
    channel_.Close();
    simulator_.reset();
    unlink(link_.c_str());
  }

  // Pulls the plug: the simulator dies and, as the device node of a pulled
  // adapter goes, its link goes too.
  void LosePort() {
    simulator_->Kill();
    unlink(link_.c_str());
  }

  int32_t Run(const RequestCase &c) {
    HostValue value = c.value;
    switch (c.op) {
      case Op::kRead: return channel_.Read(c.gas, c.dataType, value.bytes);
      case Op::kBlockRead: return channel_.BlockReadItems(c.gas, c.dataType, value.bytes, 4);
      case Op::kWrite: return channel_.Write(c.gas, c.dataType, value.bytes);
    }
    return -1;
  }

  // Runs the call and checks that it came back within the bound.
  int32_t Timed(const std::string &what, const std::function<int32_t()> &call) {
    const auto start = Clock::now();
    const int32_t status = call();
    EXPECT_LT(Clock::now() - start, kPromptly) << what << " did not return promptly";
    return status;
  }

  TempWorkDir dir_;  // n2sim writes ZAMKT01.int here, where the driver reads it
  LogCapture log_;
  std::string link_;
  std::unique_ptr<Simulator> simulator_;
  DriverChannel channel_;
};

TEST_F(PortLoss, EveryRequestFailsPromptlyWithItsStatusAndTheChannelRecoversAfterCloseAndReopen) {
  // The channel works before the loss: every request succeeds.
  for (const RequestCase &c : Requests()) {
    EXPECT_EQ(Run(c), 0) << c.what << " before the loss";
  }

  LosePort();
  log_.Clear();
  for (const RequestCase &c : Requests()) {
    EXPECT_EQ(Timed(c.what, [&] { return Run(c); }), c.status) << c.what << " on the lost port";
  }
  EXPECT_TRUE(log_.Contains("ZAMKT: Single Read failed! GAS=001GCACO1 rc = 2"));
  EXPECT_TRUE(log_.Contains("ZAMKT: Block Read failed! GAS=001GCACO1 rc = 2"));
  EXPECT_TRUE(log_.Contains("ZAMKT: Single Write failed! GAS=001GCACO3"));
  EXPECT_TRUE(log_.Contains("ZAMKT01: N2OPEN_DoReadItem() failed GAS=005AO001"));

  // The commands that need no station behave as ever.
  ParseBlock parsed;
  EXPECT_EQ(Timed("command 3", [&] { return channel_.Parse("001GCACO1", kGateReal, &parsed); }), 0);
  EXPECT_EQ(parsed.element, 34);
  EXPECT_EQ(Timed("command 4", [&] { return channel_.BlockCheck("001GCACO1", kGateReal, 8); }), 0);
  EXPECT_EQ(Timed("command 2, DX9100", [&] { return channel_.WarmStartStation(1); }), 0);
  EXPECT_EQ(Timed("command 2, N2 Open", [&] { return channel_.WarmStartStation(5); }), 0);
  DriverInfoBlock info;
  EXPECT_EQ(Timed("command 14", [&] { return channel_.Call(kCmdDriverInfo, &info); }), 0);
  EXPECT_EQ(info.recordSize, static_cast<int32_t>(sizeof(ChannelContext)));

  // While the port is gone it cannot be opened again; the failed reopen
  // leaves the channel closed, and a second close is harmless.
  EXPECT_EQ(channel_.Close(), 0) << "the lost port is closed";
  EXPECT_EQ(channel_.context()->port, nullptr);
  EXPECT_EQ(channel_.Call(kCmdReopenPort, nullptr), 2) << "nothing behind " << link_;
  EXPECT_EQ(channel_.context()->port, nullptr);
  EXPECT_EQ(channel_.Close(), 0);

  // The port is back behind the same name: commands 11 and 13 recover.
  std::string error;
  ASSERT_TRUE(simulator_->Start(&error)) << error;
  EXPECT_EQ(channel_.Close(), 0);
  ASSERT_EQ(channel_.Call(kCmdReopenPort, nullptr), 0) << "reopen of " << link_;
  // The restarted N2 Open station must be identified again: the host's warm
  // start does that (its next read or write would too, after one refusal).
  EXPECT_EQ(channel_.WarmStartStation(5), 0);
  for (const RequestCase &c : Requests()) {
    EXPECT_EQ(Run(c), 0) << c.what << " after the recovery";
  }
}

TEST_F(PortLoss, AnN2OpenStationRestartedWithThePortIsInitialisedAgainByItsNextRead) {
  HostValue value;
  ASSERT_EQ(channel_.Read("005AO001", kGateReal, value.bytes), 0);
  LosePort();
  EXPECT_EQ(Timed("N2 Open read", [&] { return channel_.Read("005AO001", kGateReal, value.bytes); }), 2);
  std::string error;
  ASSERT_TRUE(simulator_->Start(&error)) << error;
  EXPECT_EQ(channel_.Close(), 0);
  ASSERT_EQ(channel_.Call(kCmdReopenPort, nullptr), 0);

  // The station has forgotten it was identified: the first read is refused
  // and initialises it again, the next one reads.
  log_.Clear();
  EXPECT_EQ(channel_.Read("005AO001", kGateReal, value.bytes), 1);
  EXPECT_TRUE(log_.Contains("ZAMKT01: MigDoReadItem() failed. Tag address 005AO001: Device is reset"));
  EXPECT_EQ(channel_.Read("005AO001", kGateReal, value.bytes), 0);
}

}  // namespace
