// The shared library as a host sees it: what it exports, and how its log
// call is bound when a host loads it with dlopen.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "host/qorpro.h"
#include "tests/support/driver_channel.h"

namespace {

std::string RunCommand(const std::string &command, int *status) {
  std::string output;
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  *status = pclose(pipe);
  return output;
}

const std::string kBuild = ZAMKT_BUILD_DIR;

TEST(DriverLibrary, HostThatDlopensTheDriverKeepsRunningAfterAMessage) {
  LogCapture log;
  int status = -1;
  std::string output = RunCommand(kBuild + "/dlopen_host " + kBuild + "/libzamkt.so", &status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "status 1, still running\n");
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"32\tZAMKT: Block Write not allowed!"});
}

TEST(DriverLibrary, ExportsZamMainAndNothingElse) {
  int status = -1;
  std::string output =
      RunCommand("nm -D --defined-only " + kBuild + "/libzamkt.so | awk '$2 ~ /^[TtWwDdBbRrVv]$/ {print $3}'", &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(output, "ZamMain\n");
}

TEST(DriverLibrary, LogCallIsBoundToTheLoggingLibrary) {
  int status = -1;
  std::string output = RunCommand("objdump -T " + kBuild + "/libzamkt.so | grep -w err", &status);
  EXPECT_NE(output.find("QORPRO_1"), std::string::npos) << output;
}

TEST(LoggingLibrary, OneCallIsAlwaysOneLine) {
  LogCapture log;
  err(32, "two\r\nlines %d", 7);
  err(8, "16 Bit Value = %x ", 0x1400);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"32\ttwo\\r\\nlines 7", "8\t16 Bit Value = 1400 "}));
}

TEST(LoggingLibrary, LevelSettingDropsLowerLevelsOnly) {
  LogCapture log;
  setenv("QORPRO_LEVEL", "32", 1);
  err(8, "16 Bit Value = %x ", 0x1400);
  err(32, "ZAMKT: kept");
  err(33, "above");
  setenv("QORPRO_LEVEL", "not a level", 1);  // unusable: every level is written
  err(8, "16 Bit Value = %x ", 0x1C00);
  unsetenv("QORPRO_LEVEL");
  err(8, "16 Bit Value = %x ", 0x2D00);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"32\tZAMKT: kept", "33\tabove", "8\t16 Bit Value = 1c00 ",
                                                   "8\t16 Bit Value = 2d00 "}));
}

TEST(LoggingLibrary, UnwritableLogFileFallsBackToStandardError) {
  setenv("QORPRO_LOG", "/nonexistent-dir/zamkt.log", 1);
  testing::internal::CaptureStderr();
  err(32, "ZAMKT: to stderr");
  std::string text = testing::internal::GetCapturedStderr();
  unsetenv("QORPRO_LOG");
  EXPECT_NE(text.find("ZAMKT: to stderr"), std::string::npos);
}

}  // namespace
