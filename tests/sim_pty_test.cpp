// The simulator served on a pseudo-terminal inside the test process: requests
// written to the slave are answered, the port can be closed and reopened, and
// timing faults and pacing deliver the same bytes.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "sim/pty_server.h"
#include "sim/simulator.h"
#include "sim/wire.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kRead = n2sim::System91Request({0x01, 0x80, 0x22});  // GC ACO1
const std::string kReply = n2sim::System91DataReply("0016") + "\r";

// The driver's side of the port: the slave, opened by name, in raw mode.
class Port {
 public:
  explicit Port(const std::string &path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd_, 0) << path;
    struct termios tio;
    if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~Port() {
    if (fd_ >= 0) close(fd_);
  }
  void Write(const std::string &bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  // Everything up to and including CR, or what came before timeoutMs of quiet.
  std::string ReadLine(int timeoutMs = 2000) {
    std::string got;
    while (got.empty() || got.back() != '\r') {
      struct pollfd in = {fd_, POLLIN, 0};
      if (poll(&in, 1, timeoutMs) <= 0) break;
      char buffer[256];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }
  std::string Ask(const std::string &line) {
    Write(line + "\r");
    return ReadLine();
  }

 private:
  int fd_ = -1;
};

class SimPty : public ::testing::Test {
 protected:
  void Start(const std::string &extra = "") {
    std::string error;
    ASSERT_TRUE(sim_.LoadPlant("station 1 DX9100 dynamics=off\nvalue 1 GC ACO1 1.5\n" + extra, &error)) << error;
    ASSERT_TRUE(server_.Start(&error)) << error;
  }

  n2sim::Simulator sim_;
  n2sim::PtyServer server_{&sim_};
};

TEST_F(SimPty, AnswersARequestWrittenToTheSlave) {
  Start();
  EXPECT_EQ(server_.portName().rfind("pts/", 0), 0u) << server_.portName();
  EXPECT_EQ("/dev/" + server_.portName(), server_.slavePath());
  Port port(server_.slavePath());
  EXPECT_EQ(port.Ask(kRead), kReply);
  EXPECT_EQ(server_.exchanges(), 1u);
}

TEST_F(SimPty, KeepsServingWhenThePortIsClosedAndReopened) {
  Start();
  for (int round = 0; round < 3; ++round) {
    Port port(server_.slavePath());
    EXPECT_EQ(port.Ask(kRead), kReply) << round;
  }
  EXPECT_EQ(server_.exchanges(), 3u);
}

TEST_F(SimPty, AnswersRequestsThatArriveInPieces) {
  Start();
  Port port(server_.slavePath());
  port.Write(kRead.substr(0, 5));
  usleep(20000);
  port.Write(kRead.substr(5) + "\r");
  EXPECT_EQ(port.ReadLine(), kReply);
}

TEST_F(SimPty, StaysSilentForAnAbsentStation) {
  Start();
  Port port(server_.slavePath());
  port.Write(n2sim::System91Request({0x07, 0x80, 0x22}) + "\r");
  EXPECT_EQ(port.ReadLine(200), "");
  EXPECT_EQ(port.Ask(kRead), kReply);  // and answers the next request as usual
}

TEST_F(SimPty, DelayedDribbledAndPacedRepliesCarryTheSameBytes) {
  Start("fault 1 delay 1 ms=30\nfault 1 dribble 1 ms=3\npacing 9600\n");
  Port port(server_.slavePath());
  const auto start = Clock::now();
  EXPECT_EQ(port.Ask(kRead), kReply);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST_F(SimPty, NoiseAndCutRepliesAreSentAsShaped) {
  Start("script 1 noise cut\nfault 1 noise 0 bytes=4\nfault 1 cut 0 keep=3\n");
  Port port(server_.slavePath());
  const std::string noisy = port.Ask(kRead);
  ASSERT_EQ(noisy.size(), 4 + kReply.size());
  EXPECT_EQ(noisy.substr(4), kReply);
  port.Write(kRead + "\r");
  EXPECT_EQ(port.ReadLine(200), kReply.substr(0, 3));
}

TEST_F(SimPty, IsIdleOnlyOnceADelayedReplyHasGoneOut) {
  Start("fault 1 delay 1 ms=150\n");
  Port port(server_.slavePath());
  EXPECT_TRUE(server_.WaitIdle(10, 2000)) << "nothing asked yet";
  port.Write(kRead + "\r");
  EXPECT_FALSE(server_.WaitIdle(10, 50)) << "the reply is still held back";
  EXPECT_TRUE(server_.WaitIdle(10, 5000));
  EXPECT_EQ(server_.exchanges(), 1u);
  EXPECT_EQ(port.ReadLine(0), kReply) << "the reply waits on the port";
}

TEST_F(SimPty, StopEndsALongDelayAtOnce) {
  Start("fault 1 delay 1 ms=60000\n");
  Port port(server_.slavePath());
  port.Write(kRead + "\r");
  while (server_.exchanges() == 0) usleep(1000);
  const auto start = Clock::now();
  server_.Stop();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
