// The serial port and the exchange on real pseudo-terminals: the test plays
// the device on the master side.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "serial/exchange.h"
#include "serial/port.h"
#include "tests/support/driver_channel.h"
#include "tests/support/pty.h"

namespace {

constexpr PortSettings k9600 = {9600, 8, 0, 0};

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PortOpen(pty_.portName().c_str(), &k9600, kLineOptionsDefault, &handle_), kPortOk);
    ASSERT_NE(handle_, nullptr);
    memset(&context_, 0, sizeof context_);
    context_.port = handle_;
  }
  void TearDown() override {
    if (handle_ != nullptr) PortClose(handle_);
  }

  PtyPair pty_;
  PortHandle handle_ = nullptr;
  ChannelContext context_;
};

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(SerialPortTest, BytesTravelBothWays) {
  uint32_t written = 0;
  ASSERT_EQ(PortWrite(handle_, ">0180105A1405\r", 14, &written), kPortOk);
  EXPECT_EQ(written, 14u);
  EXPECT_EQ(pty_.ReadUntil('\r', 1000), ">0180105A1405\r");

  pty_.Write("A12\r");
  char buffer[8] = {};
  uint32_t got = 0;
  ASSERT_EQ(PortReadExact(handle_, buffer, 4, &got), kPortOk);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(buffer, 4), "A12\r");
}

TEST_F(SerialPortTest, ReadOnSilentLineFailsAfterTheTimeout) {
  EXPECT_EQ(PortSetReadTimeout(handle_, 5), 100);  // 1000 ms after opening
  char byte;
  uint32_t got = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PortReadExact(handle_, &byte, 1, &got), kPortIoFailed);
  EXPECT_EQ(got, 0u);
  EXPECT_GE(MillisecondsSince(start), 45.0);
  EXPECT_LT(MillisecondsSince(start), 5000.0);
}

TEST_F(SerialPortTest, SetReadTimeoutReturnsThePreviousValue) {
  EXPECT_EQ(PortSetReadTimeout(handle_, 20), 100);
  EXPECT_EQ(PortSetReadTimeout(handle_, 20), 20);
  EXPECT_EQ(PortSetReadTimeout(handle_, -3), 20);      // negative is taken as 0
  EXPECT_EQ(PortSetReadTimeout(handle_, INT32_MAX), 0);  // capped, never endless
  EXPECT_EQ(PortSetReadTimeout(handle_, 10), kMaxReadTimeout10ms);
}

TEST_F(SerialPortTest, DiscardOnQuietLineKeepsTheTimeout) {
  PortSetReadTimeout(handle_, 30);
  EXPECT_EQ(PortDiscardInput(handle_), 0);
  EXPECT_EQ(PortSetReadTimeout(handle_, 30), 30);
}

TEST_F(SerialPortTest, DiscardThrowsAwayManyWaitingBytesAndRestoresTheTimeout) {
  PortSetReadTimeout(handle_, 30);
  pty_.Write(std::string(1300, 'x'));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(PortDiscardInput(handle_), 0);
  EXPECT_EQ(PortSetReadTimeout(handle_, 30), 30);
  char byte;
  uint32_t got = 0;
  PortSetReadTimeout(handle_, 2);
  EXPECT_EQ(PortReadExact(handle_, &byte, 1, &got), kPortIoFailed) << "all 1300 bytes were discarded";
}

TEST_F(SerialPortTest, SendDiscardsStaleInputBeforeWriting) {
  pty_.Write("A-late-answer\r");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(SendCommand(&context_, ">0504C9\r", 8));
  EXPECT_EQ(pty_.ReadUntil('\r', 1000), ">0504C9\r");
  pty_.Write("A\r");
  char reply[kReplyBufferSize];
  ASSERT_TRUE(ReceiveReply(&context_, reply));
  EXPECT_STREQ(reply, "A");
}

// An overlong line costs at most the discard step's gap once its bytes stop:
// the channel's read time-out here is 10 s, the bound 5 s.
TEST_F(SerialPortTest, OverlongLineThatStopsWithoutCarriageReturnEndsAfterAShortGap) {
  LogCapture log;
  PortSetReadTimeout(handle_, 1000);
  pty_.Write(std::string(1200, 'X'));
  const auto start = std::chrono::steady_clock::now();
  char reply[kReplyBufferSize];
  EXPECT_FALSE(ReceiveReply(&context_, reply));
  EXPECT_LT(MillisecondsSince(start), 5000.0) << "the tail waited the channel's read time-out";
  EXPECT_TRUE(log.Contains("ZAMKT: Error. CR not found in PLC Reply!"));
  EXPECT_EQ(PortSetReadTimeout(handle_, 1000), 1000) << "the channel's read time-out is restored";
}

// The tail of an overlong line is dropped for at most 1000 more bytes: what
// lies beyond them stays for the next exchange's discard step.
TEST_F(SerialPortTest, OverlongLineDropsAtMostAThousandMoreBytes) {
  PortSetReadTimeout(handle_, 100);
  pty_.Write(std::string(1000, 'X') + std::string(1000, 'Y') + "Z\r");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  char reply[kReplyBufferSize];
  EXPECT_FALSE(ReceiveReply(&context_, reply));
  char rest[2] = {};
  uint32_t got = 0;
  EXPECT_EQ(PortReadExact(handle_, rest, 2, &got), kPortOk);
  EXPECT_EQ(std::string(rest, got), "Z\r");
}

// A station that answers at the line's pace: one byte, then the next a byte
// time later, as a serial line delivers them.
void SendPaced(const PtyPair &pty, const std::string &bytes, std::chrono::microseconds byteTime) {
  auto next = std::chrono::steady_clock::now();
  for (char byte : bytes) {
    std::this_thread::sleep_until(next);
    pty.Write(std::string(1, byte));
    next += byteTime;
  }
}

// Planned replies: whatever the plan says, the line read is the line sent,
// ended at its carriage return, and what follows it stays for the discard.
struct PlanCase {
  const char *name;
  uint32_t planned;
  std::string sent;
  std::string reply;
  bool readRest = true;  // else what follows the line is left to the discard, and the line comes at once
};

class PlannedReply : public SerialPortTest, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(PlannedReply, TakesTheLineAsItCameAndLeavesWhatFollowsForTheDiscard) {
  const PlanCase &c = GetParam();
  PortSetReadTimeout(handle_, 100);
  std::thread device([&] { SendPaced(pty_, c.sent, std::chrono::microseconds(c.readRest ? 1042 : 0)); });
  if (!c.readRest) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  char reply[kReplyBufferSize];
  const bool accepted = ReceivePlannedReply(&context_, reply, c.planned);
  device.join();
  ASSERT_TRUE(accepted);
  EXPECT_EQ(std::string(reply), c.reply);
  const std::string rest = c.sent.substr(c.reply.size() + 1);
  if (!rest.empty() && c.readRest) {
    char after[64] = {};
    uint32_t got = 0;
    EXPECT_EQ(PortReadExact(handle_, after, static_cast<uint32_t>(rest.size()), &got), kPortOk);
    EXPECT_EQ(std::string(after, got), rest) << "the bytes after the carriage return were lost";
  }
  // A later discard leaves nothing of this line for the next reply.
  pty_.Write("late\r");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  PortDiscardInput(handle_);
  PortSetReadTimeout(handle_, 2);
  char byte;
  uint32_t got = 0;
  EXPECT_EQ(PortReadExact(handle_, &byte, 1, &got), kPortIoFailed) << "the discard left bytes behind";
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PlannedReply,
    ::testing::Values(PlanCase{"AsPlanned", 16, "A0016000000AB12\r", "A0016000000AB12"},
                      PlanCase{"ShorterRefusal", 16, "N05\r", "N05"},
                      PlanCase{"LongerThanPlanned", 8, "A0016000000AB12\r", "A0016000000AB12"},
                      PlanCase{"BytesAfterTheCarriageReturn", 4, "A12\rXY", "A12"},
                      PlanCase{"BytesAfterTheCarriageReturnGoToTheDiscard", 4, "A12\rXY", "A12", false},
                      PlanCase{"Unplanned", 0, "A0016000000AB12\r", "A0016000000AB12"}),
    [](const ::testing::TestParamInfo<PlanCase> &param) { return std::string(param.param.name); });

// A planned read keeps the time-out's meaning: a reply that pauses after its
// first bytes for less than the read time-out is still read whole (the
// time-out here is 1 s, the pause 200 ms).
TEST_F(SerialPortTest, PlannedReplyThatPausesWithinTheTimeOutIsReadWhole) {
  PortSetReadTimeout(handle_, 100);
  std::thread device([&] {
    pty_.Write("A00");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    pty_.Write("16000000AB12\r");
  });
  char reply[kReplyBufferSize];
  const bool accepted = ReceivePlannedReply(&context_, reply, 16);
  device.join();
  ASSERT_TRUE(accepted);
  EXPECT_STREQ(reply, "A0016000000AB12");
}

// The old read path, kept for comparison, reads the same lines.
TEST(SerialPortPerByte, TheOldReadPathReadsTheSameLines) {
  ASSERT_EQ(setenv("ZAMKT_PORT_READS", "per-byte", 1), 0);
  PtyPair pty;
  PortHandle handle = nullptr;
  const int opened = PortOpen(pty.portName().c_str(), &k9600, kLineOptionsDefault, &handle);
  unsetenv("ZAMKT_PORT_READS");
  ASSERT_EQ(opened, kPortOk);
  ChannelContext context;
  memset(&context, 0, sizeof context);
  context.port = handle;
  PortSetReadTimeout(handle, 100);
  std::thread device([&] { SendPaced(pty, "A0016000000AB12\rN05\r", std::chrono::microseconds(1042)); });
  char reply[kReplyBufferSize];
  EXPECT_TRUE(ReceivePlannedReply(&context, reply, 16));
  EXPECT_STREQ(reply, "A0016000000AB12");
  EXPECT_TRUE(ReceiveReply(&context, reply));
  EXPECT_STREQ(reply, "N05");
  device.join();
  PortClose(handle);
}

struct ReplyCase {
  const char *name;
  std::string sent;
  bool accepted;
  std::string reply;
};

class ReceiveReplyTest : public SerialPortTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReceiveReplyTest, ReadsOneLineUpToItsCarriageReturn) {
  const ReplyCase &c = GetParam();
  LogCapture log;
  PortSetReadTimeout(handle_, 10);
  std::thread device([&] { pty_.Write(c.sent); });
  char reply[kReplyBufferSize];
  bool accepted = ReceiveReply(&context_, reply);
  device.join();
  EXPECT_EQ(accepted, c.accepted);
  if (c.accepted) EXPECT_EQ(std::string(reply), c.reply);
  bool overlong = c.sent.size() >= 1000 && c.sent.find('\r') == std::string::npos;
  EXPECT_EQ(log.Contains("ZAMKT: Error. CR not found in PLC Reply!"), overlong);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReceiveReplyTest,
    ::testing::Values(ReplyCase{"AloneIsAReply", "A\r", true, "A"},
                      ReplyCase{"BareCarriageReturnIsEmpty", "\r", true, ""},
                      ReplyCase{"StopsAtTheFirstCarriageReturn", "A1\rA2\r", true, "A1"},
                      ReplyCase{"NoiseBeforeTheReplyIsKept", "\x7f" "A12\r", true, "\x7f" "A12"},
                      ReplyCase{"NineHundredNinetyNineCharacters", std::string(999, 'A') + "\r", true,
                                std::string(999, 'A')},
                      ReplyCase{"ThousandBytesWithoutCarriageReturn", std::string(1000, 'A'), false, ""},
                      ReplyCase{"CutOffLine", "A123", false, ""},
                      ReplyCase{"Silence", "", false, ""}),
    [](const ::testing::TestParamInfo<ReplyCase> &info) { return std::string(info.param.name); });

TEST(SerialPortOpen, SecondOpenOfAHeldPortIsRefused) {
  PtyPair pty;
  PortHandle first = nullptr, second = nullptr;
  ASSERT_EQ(PortOpen(pty.portName().c_str(), &k9600, kLineOptionsDefault, &first), kPortOk);
  EXPECT_EQ(PortOpen(pty.portName().c_str(), &k9600, kLineOptionsDefault, &second), kPortOpenFailed);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(PortClose(first), kPortOk);
  // Released: the port opens again.
  ASSERT_EQ(PortOpen(pty.portName().c_str(), &k9600, kLineOptionsDefault, &second), kPortOk);
  EXPECT_EQ(PortClose(second), kPortOk);
}

TEST(SerialPortOpen, NullDeviceOpensTwiceWithoutConfiguration) {
  PortHandle first = nullptr, second = nullptr;
  ASSERT_EQ(PortOpen("NUL", &k9600, kLineOptionsDefault, &first), kPortOk);
  ASSERT_EQ(PortOpen("NUL", &k9600, kLineOptionsDefault, &second), kPortOk);
  uint32_t written = 0;
  EXPECT_EQ(PortWrite(first, "x", 1, &written), kPortOk);
  char byte;
  uint32_t got = 0;
  EXPECT_EQ(PortReadExact(second, &byte, 1, &got), kPortIoFailed);
  EXPECT_EQ(PortClose(first), kPortOk);
  EXPECT_EQ(PortClose(second), kPortOk);
}

struct OpenFailure {
  const char *name;
  const char *portName;
  PortSettings settings;
  int expected;
};

class SerialPortOpenFailure : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(SerialPortOpenFailure, ReturnsItsCodeAndHoldsNothing) {
  const OpenFailure &c = GetParam();
  PortHandle handle = reinterpret_cast<PortHandle>(1);
  EXPECT_EQ(PortOpen(c.portName, &c.settings, kLineOptionsDefault, &handle), c.expected);
  EXPECT_EQ(handle, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SerialPortOpenFailure,
    ::testing::Values(OpenFailure{"MissingDevice", "ttyNOPE9", k9600, kPortOpenFailed},
                      OpenFailure{"NulIsCaseSensitive", "nul", k9600, kPortOpenFailed},
                      OpenFailure{"EmptyName", "", k9600, kPortOpenFailed},
                      OpenFailure{"NotATerminal", "/dev/zero", k9600, kPortGetStateFailed}),
    [](const ::testing::TestParamInfo<OpenFailure> &info) { return std::string(info.param.name); });

TEST(SerialPortOpen, SettingsALineCannotCarryAreRefusedAndReleaseThePort) {
  PtyPair pty;
  const PortSettings badSettings[] = {{12345, 8, 0, 0}, {9600, 9, 0, 0}, {9600, 8, 7, 0}, {9600, 8, 0, 9}};
  for (const PortSettings &settings : badSettings) {
    PortHandle handle = nullptr;
    EXPECT_EQ(PortOpen(pty.portName().c_str(), &settings, kLineOptionsDefault, &handle), kPortSetStateFailed);
  }
  PortHandle handle = nullptr;
  EXPECT_EQ(PortOpen(pty.portName().c_str(), &k9600, kLineOptionsDefault, &handle), kPortOk);
  PortClose(handle);
}

TEST(SerialPortOpen, NameWithoutTerminatorInItsFieldIsRefused) {
  char name[kPortNameSize];
  memset(name, 'A', sizeof name);
  PortHandle handle = nullptr;
  EXPECT_EQ(PortOpen(name, &k9600, kLineOptionsDefault, &handle), kPortOpenFailed);
}

TEST(SerialPortOpen, OperationsOnAClosedHandleFail) {
  uint32_t count = 0;
  char byte;
  EXPECT_EQ(PortClose(nullptr), kPortIoFailed);
  EXPECT_EQ(PortWrite(nullptr, "x", 1, &count), kPortIoFailed);
  EXPECT_EQ(PortReadExact(nullptr, &byte, 1, &count), kPortIoFailed);
  EXPECT_EQ(PortSetReadTimeout(nullptr, 10), 0);
}

// The owner recorded beside each port: only the record a port was opened for
// is told that it holds it, and only while it is open.
TEST(SerialPortOwner, OnlyTheRecordAPortWasOpenedForOwnsIt) {
  ChannelContext mine = {}, other = {};
  PortHandle handle = OpenPortHandle("NUL", &k9600, kLineOptionsDefault, &mine);
  ASSERT_NE(handle, nullptr);
  EXPECT_TRUE(PortOpenedFor(handle, &mine));
  EXPECT_FALSE(PortOpenedFor(handle, &other));
  EXPECT_FALSE(PortOpenedFor(handle, nullptr));
  EXPECT_FALSE(PortOpenedFor(nullptr, &mine));
  EXPECT_FALSE(PortOpenedFor(reinterpret_cast<PortHandle>(static_cast<uintptr_t>(0x7FFF)), &mine));

  PortHandle ownerless = nullptr;
  ASSERT_EQ(PortOpen("NUL", &k9600, kLineOptionsDefault, &ownerless), kPortOk);
  EXPECT_FALSE(PortOpenedFor(ownerless, &mine));
  EXPECT_EQ(PortClose(ownerless), kPortOk);

  EXPECT_EQ(PortClose(handle), kPortOk);
  EXPECT_FALSE(PortOpenedFor(handle, &mine)) << "a closed port has no owner";
}

// Channels started on several threads at once (the host breaks the one call
// at a time rule) never end on one slot of the port table, and lose none.
TEST(SerialPortOwner, OpensAndClosesOnSeveralThreadsNeverShareASlot) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  // Which thread holds each handle value, as the threads see it.
  std::atomic<int> holder[kMaxOpenPorts + 1];
  for (std::atomic<int> &h : holder) h = -1;
  std::atomic<int> shared{0};
  std::atomic<int> failedOpens{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ChannelContext context = {};
      for (int round = 0; round < kRounds; ++round) {
        PortHandle handle = OpenPortHandle("NUL", &k9600, kLineOptionsDefault, &context);
        if (handle == nullptr) {
          ++failedOpens;
          continue;
        }
        const uintptr_t index = reinterpret_cast<uintptr_t>(handle);
        int expected = -1;
        if (index > kMaxOpenPorts || !holder[index].compare_exchange_strong(expected, t)) {
          ++shared;
          continue;
        }
        if (!PortOpenedFor(handle, &context)) ++shared;
        holder[index] = -1;
        PortClose(handle);
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(shared.load(), 0) << "two threads were handed one slot";
  EXPECT_EQ(failedOpens.load(), 0);

  // Every slot came back: the whole table opens again.
  std::vector<PortHandle> all;
  for (int i = 0; i < kMaxOpenPorts; ++i) {
    PortHandle handle = nullptr;
    if (PortOpen("NUL", &k9600, kLineOptionsDefault, &handle) != kPortOk) break;
    all.push_back(handle);
  }
  EXPECT_EQ(all.size(), static_cast<size_t>(kMaxOpenPorts)) << "slots were lost";
  for (PortHandle handle : all) PortClose(handle);
}

// The pause narrows the timer slack of the calling thread for itself only:
// the host's thread gets its own setting back, and the pause never ends early.
TEST(Pause, RestoresTheCallersTimerSlackAndNeverEndsEarly) {
  std::thread host([] {
    constexpr unsigned long kHostSlackNs = 123457;
    ASSERT_EQ(prctl(PR_SET_TIMERSLACK, kHostSlackNs, 0, 0, 0), 0);
    for (uint32_t ms : {1u, 4u}) {
      const auto start = std::chrono::steady_clock::now();
      PauseMilliseconds(ms);
      EXPECT_GE(MillisecondsSince(start), static_cast<double>(ms));
      EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), static_cast<int>(kHostSlackNs)) << "after " << ms << " ms";
    }
  });
  host.join();
}

// What a thread of this process is blocked in, as the kernel shows it: the
// system call's number and its first arguments. False when the thread is
// running or gone, or the system does not show it.
struct BlockedCall {
  long number = -1;
  unsigned long args[3] = {};
};

bool BlockedIn(long tid, BlockedCall *call) {
  std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
  std::string line;
  if (!std::getline(file, line)) return false;
  std::istringstream fields(line);
  if (!(fields >> call->number) || call->number < 0) return false;
  for (unsigned long &arg : call->args) {
    std::string hex;
    if (!(fields >> hex)) return false;
    arg = std::stoul(hex, nullptr, 16);
  }
  return true;
}

// A thread's timer slack in ns; -1 when the system does not show it (reading
// another thread's slack takes the right to change priorities).
long TimerSlackOf(long tid) {
  std::ifstream file("/proc/" + std::to_string(tid) + "/timerslack_ns");
  long slack = -1;
  file >> slack;
  return slack;
}

// The pause sleeps once, to a deadline on the monotonic clock fixed before
// it, with a narrow timer slack: observed from outside while the pausing
// thread sleeps, so no timing of the pause itself is needed. A relative sleep
// (or one on another clock) is told by the call's arguments, a slack left as
// wide as the host's thread had it (20 ms here) by the thread's slack, and a
// deadline that does not lie the pause after its start by the deadline the
// call was given.
TEST(Pause, SleepsToAnAbsoluteMonotonicDeadlineWithANarrowSlack) {
  if (access("/proc/self/syscall", R_OK) != 0) GTEST_SKIP() << "the system does not show blocked calls";
  constexpr uint32_t kPauseMs = 300;
  constexpr long kHostSlackNs = 20000000;
  bool seen = false;
  for (int round = 0; round < 5 && !seen; ++round) {
    std::atomic<long> tid{0};
    std::atomic<bool> done{false};
    timespec start = {};
    std::thread pauser([&] {
      ASSERT_EQ(prctl(PR_SET_TIMERSLACK, kHostSlackNs, 0, 0, 0), 0);
      clock_gettime(CLOCK_MONOTONIC, &start);
      tid = static_cast<long>(syscall(SYS_gettid));
      PauseMilliseconds(kPauseMs);
      done = true;
    });
    while (tid == 0) std::this_thread::yield();
    BlockedCall call, again;
    long slack = -1;
    timespec deadline = {};
    while (!done && !seen) {
      if (BlockedIn(tid, &call) && call.number == SYS_clock_nanosleep) {
        slack = TimerSlackOf(tid);
        // The deadline the call was given, read while the call still waits
        // on it: the thread's stack holds it.
        if (call.args[1] == TIMER_ABSTIME) memcpy(&deadline, reinterpret_cast<const void *>(call.args[2]), sizeof deadline);
        // Still in the same sleep after both reads: the slack is the sleep's.
        seen = BlockedIn(tid, &again) && again.number == call.number && again.args[2] == call.args[2];
      }
      if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    pauser.join();
    if (!seen) continue;
    EXPECT_EQ(call.args[0], static_cast<unsigned long>(CLOCK_MONOTONIC)) << "the pause sleeps on another clock";
    EXPECT_EQ(call.args[1], static_cast<unsigned long>(TIMER_ABSTIME)) << "the pause sleeps for a relative time";
    if (slack >= 0) {
      EXPECT_LE(slack, 50000) << "the pause sleeps with the host thread's wide timer slack";
    } else {
      RecordProperty("slack", "not shown by the system: not checked");
    }
    const double ahead = (deadline.tv_sec - start.tv_sec) * 1000.0 + (deadline.tv_nsec - start.tv_nsec) / 1e6;
    EXPECT_GE(ahead, kPauseMs) << "the deadline lies less than the pause after its start";
    EXPECT_LT(ahead, kPauseMs + 10000.0);
  }
  EXPECT_TRUE(seen) << "the pausing thread was never seen asleep";
}

}  // namespace
