// The Win32 serial layer, on the null device and on a real COM port.
//
// The COM-port tests need a port with a device behind it: the environment
// variable ZAMKT_WINE_COM names it ("COM5"), and ZAMKT_WINE_COM_HIGH names the
// same device under a number of 10 or more ("COM12"). tests/wine/run.sh links
// both to the pseudo-terminal of an n2sim serving its default plant.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <winioctl.h>

#include <chrono>
#include <string>

#include "n2/frame.h"
#include "serial/port.h"

namespace {

const PortSettings k9600_8N1 = {9600, 8, 0, 0};

// Wine differs from Windows where a test depends on exclusive opens.
bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string EnvOrEmpty(const char *name) {
  const char *value = getenv(name);
  return value != nullptr ? value : "";
}

int64_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

// ---- owners ----------------------------------------------------------------------

// A handle closed by other means than PortClose leaves its owner entry behind;
// the system hands the value out again. The port opened under it then
// belongs to its new owner alone, never to the old one.
TEST(PortOwners, AReusedHandleValueAnswersForItsNewOwnerOnly) {
  int oldOwner = 0, newOwner = 0;
  PortHandle first = OpenPortHandle("NUL", &k9600_8N1, kLineOptionsDefault, &oldOwner);
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(CloseHandle(first));  // behind the port layer's back
  PortHandle again = nullptr;
  for (int attempt = 0; attempt < 100 && again != first; ++attempt) {
    if (again != nullptr) PortClose(again);
    again = OpenPortHandle("NUL", &k9600_8N1, kLineOptionsDefault, &newOwner);
    ASSERT_NE(again, nullptr);
  }
  if (again != first) {
    PortClose(again);
    GTEST_SKIP() << "the system did not hand the closed value out again";
  }
  EXPECT_TRUE(PortOpenedFor(again, &newOwner)) << "the stale entry answered for the value";
  EXPECT_FALSE(PortOpenedFor(again, &oldOwner));
  EXPECT_EQ(PortClose(again), kPortOk);
  EXPECT_FALSE(PortOpenedFor(again, &newOwner)) << "the entry outlived the close";
}

// ---- the null device ---------------------------------------------------------

TEST(NullDevicePort, OpensWithoutAnyLineConfiguration) {
  PortHandle handle = nullptr;
  ASSERT_EQ(PortOpen("NUL", &k9600_8N1, kLineOptionsDefault, &handle), kPortOk);
  ASSERT_NE(handle, nullptr);
  // Nothing was configured: the null device has no time-outs to read back,
  // so setting the read time-out reports 0.
  EXPECT_EQ(PortSetReadTimeout(handle, 20), 0);
  EXPECT_EQ(PortClose(handle), kPortOk);
}

TEST(NullDevicePort, TakesEveryWrittenByteAndNeverAnswers) {
  PortHandle handle = OpenPortHandle("NUL", &k9600_8N1, kLineOptionsDefault);
  ASSERT_NE(handle, nullptr);
  uint32_t written = 0;
  EXPECT_EQ(PortWrite(handle, ">0184C104XXXX\r", 14, &written), kPortOk);
  EXPECT_EQ(written, 14u);
  char byte = 0;
  uint32_t got = 99;
  EXPECT_EQ(PortReadExact(handle, &byte, 1, &got), kPortIoFailed);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(PortDiscardInput(handle), 0);
  EXPECT_EQ(PortClose(handle), kPortOk);
}

TEST(NullDevicePort, OtherSpellingsOfNulGoThroughTheFullConfiguration) {
  // The comparison is case-sensitive: "nul" opens the same device, whose
  // line settings then cannot be read.
  PortHandle handle = reinterpret_cast<PortHandle>(1);
  EXPECT_EQ(PortOpen("nul", &k9600_8N1, kLineOptionsDefault, &handle), kPortGetStateFailed);
  EXPECT_EQ(handle, nullptr);
}

struct BadNameCase {
  const char *what;
  const char *name;
};

TEST(PortNames, NamesThatNameNoDeviceFailToOpen) {
  const char kTwelveChars[kPortNameSize] = {'C', 'O', 'M', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  const BadNameCase cases[] = {
      {"a port that does not exist", "COM97"},
      {"a high port that does not exist", "COM98765"},
      {"an empty name", ""},
      {"a name filling its field without terminator", kTwelveChars},
      {"no name at all", nullptr},
  };
  for (const BadNameCase &c : cases) {
    PortHandle handle = reinterpret_cast<PortHandle>(1);
    EXPECT_EQ(PortOpen(c.name, &k9600_8N1, kLineOptionsDefault, &handle), kPortOpenFailed) << c.what;
    EXPECT_EQ(handle, nullptr) << c.what;
    EXPECT_EQ(OpenPortHandle(c.name, &k9600_8N1, kLineOptionsDefault), nullptr) << c.what;
  }
}

TEST(ClosedPort, EveryOperationOnAHandleThatIsNotOpenFails) {
  char buffer[4] = {'>', '0', '1', '\r'};
  uint32_t count = 99;
  EXPECT_EQ(PortWrite(nullptr, buffer, sizeof buffer, &count), kPortIoFailed);
  EXPECT_EQ(count, 0u);
  count = 99;
  EXPECT_EQ(PortReadExact(nullptr, buffer, 1, &count), kPortIoFailed);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(PortSetReadTimeout(nullptr, 20), 0);
  EXPECT_EQ(PortDiscardInput(nullptr), 1);
  EXPECT_EQ(PortClose(nullptr), kPortIoFailed);
}

// ---- a COM port with n2sim behind it -------------------------------------------

class ComPort : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = EnvOrEmpty("ZAMKT_WINE_COM");
    if (name_.empty()) {
      GTEST_SKIP() << "no COM port with a device: set ZAMKT_WINE_COM to a port served by n2sim "
                      "(tests/wine/run.sh links COM5 to one)";
    }
    ASSERT_EQ(PortOpen(name_.c_str(), &k9600_8N1, kLineOptionsDefault, &handle_), kPortOk) << name_;
  }
  void TearDown() override {
    if (handle_ != nullptr) {
      EXPECT_EQ(PortClose(handle_), kPortOk);
    }
  }

  // Sends the full memory read of the DX9100 at station 1, address 1217 (an
  // analog input's high range), which n2sim's default plant answers.
  void SendRead() {
    const uint8_t message[] = {0x01, 0x84, 0xC1, 0x04};
    char frame[kMaxFrameChars];
    uint16_t length = BuildRequestFrame(message, sizeof message, frame);
    uint32_t written = 0;
    ASSERT_EQ(PortWrite(handle_, frame, length, &written), kPortOk);
    ASSERT_EQ(written, length);
  }

  // Reads one reply line byte by byte up to its CR, as the exchange does.
  std::string ReadLine() {
    std::string line;
    for (;;) {
      char byte = 0;
      uint32_t got = 0;
      if (PortReadExact(handle_, &byte, 1, &got) != kPortOk) return line + "<time-out>";
      if (byte == '\r') return line;
      line += byte;
    }
  }

  COMMTIMEOUTS Timeouts() {
    COMMTIMEOUTS timeouts;
    memset(&timeouts, 0xEE, sizeof timeouts);
    EXPECT_TRUE(GetCommTimeouts(handle_, &timeouts));
    return timeouts;
  }

  std::string name_;
  PortHandle handle_ = nullptr;
};

TEST_F(ComPort, OpenAppliesTheChannelsLineSettings) {
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(handle_, &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_FALSE(dcb.fOutxCtsFlow);
  EXPECT_FALSE(dcb.fOutX);
  EXPECT_FALSE(dcb.fInX);
  EXPECT_NE(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
}

TEST_F(ComPort, OpenSetsAOneSecondReadTimeOutAndUntimedWrites) {
  COMMTIMEOUTS timeouts = Timeouts();
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 1000u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);
}

TEST_F(ComPort, SettingTheReadTimeOutReturnsThePreviousValueAndChangesOnlyTheReadConstant) {
  EXPECT_EQ(PortSetReadTimeout(handle_, 20), 100);
  COMMTIMEOUTS timeouts = Timeouts();
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 200u);
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);
  // The value already in force changes nothing and comes back.
  EXPECT_EQ(PortSetReadTimeout(handle_, 20), 20);
  EXPECT_EQ(Timeouts().ReadTotalTimeoutConstant, 200u);
}

TEST_F(ComPort, ReadingFromASilentLineFailsAfterTheReadTimeOut) {
  PortSetReadTimeout(handle_, 20);
  auto start = std::chrono::steady_clock::now();
  char byte = 0;
  uint32_t got = 99;
  EXPECT_EQ(PortReadExact(handle_, &byte, 1, &got), kPortIoFailed);
  EXPECT_EQ(got, 0u);
  EXPECT_LT(ElapsedMs(start), 5000);
}

TEST_F(ComPort, AZeroReadTimeOutStillEndsASilentRead) {
  // To Windows a read total constant of 0 means no time-out at all; the
  // layer waits 1 ms instead, so a silent station cannot hold the channel.
  PortSetReadTimeout(handle_, 0);
  EXPECT_EQ(Timeouts().ReadTotalTimeoutConstant, 1u);
  auto start = std::chrono::steady_clock::now();
  char byte = 0;
  uint32_t got = 0;
  EXPECT_EQ(PortReadExact(handle_, &byte, 1, &got), kPortIoFailed);
  EXPECT_LT(ElapsedMs(start), 5000);
}

TEST_F(ComPort, ARequestWrittenBringsTheStationsReplyBack) {
  SendRead();
  // The reply to a memory read is "A", four data digits, four zeros and the
  // frame sum: its first five bytes come in one exact read.
  char head[5];
  uint32_t got = 0;
  ASSERT_EQ(PortReadExact(handle_, head, sizeof head, &got), kPortOk);
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(head[0], 'A');
  std::string rest = ReadLine();
  EXPECT_EQ(rest.size(), 6u) << rest;
}

TEST_F(ComPort, DtrAndRtsAreHeldOff) {
  ULONG lines = 0xFF;
  DWORD size = 0;
  // IOCTL_SERIAL_GET_DTRRTS: the DTR (bit 0) and RTS (bit 1) lines as driven.
  const DWORD kGetDtrRts = CTL_CODE(FILE_DEVICE_SERIAL_PORT, 30, METHOD_BUFFERED, FILE_ANY_ACCESS);
  if (!DeviceIoControl(handle_, kGetDtrRts, nullptr, 0, &lines, sizeof lines, &size, nullptr)) {
    if (UnderWine()) GTEST_SKIP() << "Wine cannot read the DTR and RTS lines of a pseudo-terminal";
    FAIL() << "IOCTL_SERIAL_GET_DTRRTS failed with " << GetLastError();
  }
  EXPECT_EQ(lines & 3u, 0u);
}

TEST_F(ComPort, DiscardThrowsAwayAWaitingReplyAndRestoresTheReadTimeOut) {
  PortSetReadTimeout(handle_, 30);
  SendRead();
  // Wait until the reply has arrived (at 9600 baud it takes a few ms).
  COMSTAT status;
  DWORD errors = 0;
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(ClearCommError(handle_, &errors, &status));
    if (status.cbInQue > 0) break;
    Sleep(20);
  }
  ASSERT_GT(status.cbInQue, 0u) << "the station did not answer";
  Sleep(100);  // the rest of the line

  EXPECT_EQ(PortDiscardInput(handle_), 0);
  EXPECT_EQ(Timeouts().ReadTotalTimeoutConstant, 300u);
  ASSERT_TRUE(ClearCommError(handle_, &errors, &status));
  EXPECT_EQ(status.cbInQue, 0u);
  char byte = 0;
  uint32_t got = 0;
  EXPECT_EQ(PortReadExact(handle_, &byte, 1, &got), kPortIoFailed);
}

TEST_F(ComPort, DiscardOnAQuietLineReadsNothingAndKeepsTheTimeOuts) {
  PortSetReadTimeout(handle_, 30);
  EXPECT_EQ(PortDiscardInput(handle_), 0);
  EXPECT_EQ(Timeouts().ReadTotalTimeoutConstant, 300u);
}

TEST_F(ComPort, APortHeldByAnotherOpenerCannotBeOpenedAgain) {
  if (UnderWine()) GTEST_SKIP() << "Wine lets a second exclusive open of a COM port succeed";
  PortHandle second = reinterpret_cast<PortHandle>(1);
  EXPECT_EQ(PortOpen(name_.c_str(), &k9600_8N1, kLineOptionsDefault, &second), kPortOpenFailed);
  EXPECT_EQ(second, nullptr);
}

TEST(HighComPort, PortsNumberedTenAndAboveOpenByTheirPlainName) {
  std::string name = EnvOrEmpty("ZAMKT_WINE_COM_HIGH");
  if (name.empty()) {
    GTEST_SKIP() << "no COM port numbered 10 or above: set ZAMKT_WINE_COM_HIGH (tests/wine/run.sh "
                    "links COM12 to n2sim)";
  }
  ASSERT_GE(atoi(name.c_str() + 3), 10) << name;
  // The plain name, other cases of it, and the name already in the device
  // namespace reach the same device.
  std::string lower = name;
  for (char &c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  const std::string spellings[] = {name, lower, "\\\\.\\" + name};
  for (const std::string &spelling : spellings) {
    PortHandle handle = nullptr;
    EXPECT_EQ(PortOpen(spelling.c_str(), &k9600_8N1, kLineOptionsDefault, &handle), kPortOk) << spelling;
    if (handle != nullptr) {
      EXPECT_EQ(PortClose(handle), kPortOk) << spelling;
    }
  }
}

}  // namespace
