// The driver on Windows as a host meets it: zamkt.dll loaded by name with
// its one export, and channels started on the null device and on ports that
// do not exist, through ZamMain.
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "driver/zam_main.h"
#include "tests/support/driver_channel.h"

namespace {

const char kLoaded[] = "ZAMKT: Johnson N2  Driver, loaded successfully.";

using ZamMainEntry = int32_t(__cdecl *)(DriverRequest *);

// zamkt.dll from the folder of this test program, where the build puts both.
class DriverLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    std::string folder(path, length);
    folder.erase(folder.find_last_of("\\/") + 1);
    library_ = LoadLibraryA((folder + "zamkt.dll").c_str());
    ASSERT_NE(library_, nullptr) << "LoadLibrary(zamkt.dll) failed with " << GetLastError();
  }
  void TearDown() override {
    if (library_ != nullptr) FreeLibrary(library_);
  }
  HMODULE library_ = nullptr;
};

TEST_F(DriverLibrary, ExportsZamMainByItsPlainNameOnly) {
  EXPECT_NE(GetProcAddress(library_, "ZamMain"), nullptr);
  // No decorated spellings: the entry is cdecl and exported undecorated.
  for (const char *decorated : {"_ZamMain", "ZamMain@4", "_ZamMain@4", "ZamMain@8"}) {
    EXPECT_EQ(GetProcAddress(library_, decorated), nullptr) << decorated;
  }
  // Nothing of the driver's inside is reachable by name.
  for (const char *inner : {"SingleRead", "InitChannel", "PortOpen", "ZamLog", "err"}) {
    EXPECT_EQ(GetProcAddress(library_, inner), nullptr) << inner;
  }
}

TEST_F(DriverLibrary, ReportsTheChannelRecordSizeOfTheHostsAbi) {
  auto zamMain = reinterpret_cast<ZamMainEntry>(reinterpret_cast<void (*)()>(GetProcAddress(library_, "ZamMain")));
  ASSERT_NE(zamMain, nullptr);
  DriverInfoBlock info;
  memset(&info, 0, sizeof info);
  DriverRequest request;
  memset(&request, 0, sizeof request);
  request.command = kCmdDriverInfo;
  request.parameters = &info;
  EXPECT_EQ(zamMain(&request), 0);
  EXPECT_EQ(info.driverId, 82);
  EXPECT_STREQ(info.catalogueText, "KT-Johnson N2 series");
  EXPECT_EQ(info.recordSize, static_cast<int32_t>(sizeof(ChannelContext)));
  if (sizeof(void *) == 4) {
    EXPECT_EQ(info.recordSize, 3104);
  }
}

TEST_F(DriverLibrary, StartsAChannelOnTheNullDeviceAndLogsThroughQorpro) {
  auto zamMain = reinterpret_cast<ZamMainEntry>(reinterpret_cast<void (*)()>(GetProcAddress(library_, "ZamMain")));
  ASSERT_NE(zamMain, nullptr);
  TempWorkDir dir;
  LogCapture log;
  std::vector<unsigned char> record(sizeof(ChannelContext), 0);
  ChannelContext *context = reinterpret_cast<ChannelContext *>(record.data());
  InitChannelBlock block;
  memset(&block, 0, sizeof block);
  strcpy(block.portName, "NUL");
  block.enabled = 1;
  block.timeout = 10;
  block.settings = PortSettings{9600, 8, 0, 0};
  DriverRequest request;
  memset(&request, 0, sizeof request);
  request.context = context;
  request.command = kCmdInitChannel;
  request.channelNumber = 4;
  request.parameters = &block;
  ASSERT_EQ(zamMain(&request), 0);
  EXPECT_NE(context->port, nullptr);
  EXPECT_EQ(context->channelNumber, 4);
  EXPECT_EQ(context->timeout, 100);
  EXPECT_STREQ(context->stationTypes[0], "DX9100");
  EXPECT_TRUE(log.Contains(kLoaded));
  EXPECT_TRUE(log.Contains("ZAMKT04: ReadInitFile() File 'ZAMKT04.int' not found. All PLC's default to DX9100"));
  request.command = kCmdClosePort;
  request.parameters = nullptr;
  EXPECT_EQ(zamMain(&request), 0);
  EXPECT_EQ(context->port, nullptr);
}

TEST(ChannelOnWindows, StationTypeFileIsReadFromTheWorkingFolder) {
  TempWorkDir dir;
  dir.WriteFile("ZAMKT02.int", "5 = N2OPEN\r\n010 = xt9100\r\n");
  LogCapture log;
  DriverChannel channel(2);
  ASSERT_EQ(channel.Init("NUL"), 0);
  EXPECT_STREQ(channel.context()->stationTypes[5], "N2OPEN");
  EXPECT_STREQ(channel.context()->stationTypes[10], "XT9100");
  EXPECT_TRUE(log.Contains("ZAMKT02: ReadInitFile() PLC #010 set to type 'XT9100'"));
  EXPECT_EQ(channel.Close(), 0);
}

TEST(ChannelOnWindows, APortThatDoesNotExistFailsTheStartWithItsName) {
  struct Case {
    const char *name;
  };
  for (const Case &c : {Case{"COM96"}, Case{"COM196"}, Case{"\\\\.\\COM95"}}) {
    TempWorkDir dir;
    LogCapture log;
    DriverChannel channel;
    EXPECT_EQ(channel.Init(c.name), 2) << c.name;
    EXPECT_EQ(channel.context()->port, nullptr) << c.name;
    EXPECT_EQ(log.Messages().back(), std::string("ZAMKT : Fail to open ") + c.name);
  }
}

TEST(ChannelOnWindows, ReadsOnTheNullDeviceGetNoReply) {
  TempWorkDir dir;
  LogCapture log;
  DriverChannel channel;
  ASSERT_EQ(channel.Init("NUL", 1), 0);
  float value = -1.0f;
  EXPECT_EQ(channel.Read("001AI01HR", kGateReal, &value), 2);
  EXPECT_EQ(value, -1.0f);
  EXPECT_EQ(channel.Close(), 0);
}

TEST(ChannelOnWindows, CloseReopenAndChangePortFollowTheHandle) {
  TempWorkDir dir;
  DriverChannel channel;
  ASSERT_EQ(channel.Init("NUL"), 0);
  EXPECT_EQ(channel.Call(kCmdClosePort, nullptr), 0);
  EXPECT_EQ(channel.context()->port, nullptr);
  EXPECT_EQ(channel.Call(kCmdClosePortAlt, nullptr), 0);  // already closed
  EXPECT_EQ(channel.Call(kCmdReopenPort, nullptr), 0);
  EXPECT_NE(channel.context()->port, nullptr);

  // Moving to a port that does not exist closes the old one and keeps the
  // new name.
  ChangePortBlock change;
  memset(&change, 0, sizeof change);
  strcpy(change.portName, "COM93");
  change.settings = PortSettings{9600, 8, 0, 0};
  EXPECT_EQ(channel.Call(kCmdChangePort, &change), 2);
  EXPECT_STREQ(channel.context()->portName, "COM93");
  EXPECT_EQ(channel.context()->port, nullptr);

  strcpy(change.portName, "NUL");
  EXPECT_EQ(channel.Call(kCmdChangePort, &change), 0);
  EXPECT_NE(channel.context()->port, nullptr);
  EXPECT_EQ(channel.Close(), 0);
}

}  // namespace
