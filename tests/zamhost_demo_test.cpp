// zamhost demo, as the README's ./demo.sh runs it: the simulator started on
// a pseudo-terminal, the scripted tour, exit 0 within about ten seconds, and
// nothing left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "tests/zamhost_test_helpers.h"

namespace {

using namespace zamhost_test;

TEST(ZamhostDemo, RunsTheWholeTourAgainstTheSimulatorAndCleansUp) {
  ASSERT_EQ(access(kZamhost.c_str(), X_OK), 0) << "build zamhost first: " << kZamhost;
  RunResult demo = RunZamhost({"demo"});
  ASSERT_EQ(demo.exitCode, 0) << demo.err << demo.out;
  EXPECT_LT(demo.seconds, 15.0);
  for (const char *step : {
           R"(KT-Johnson N2 series)",                                  // info
           R"(Z A M K T)",                                             // the banner
           R"(22 gates, 0 invalid)",                                   // check of the sample list
           R"(ZAMKT:Illegal Tag Name\. GAS = 001AI01XX)",              // check of invalid gates
           R"(block 1 reads 4 real items at 1217\.\.1220)",            // poll plan
           R"(001AI01HR\s+real\s+100\s+ok\s+block 1)",                 // poll rows
           R"(001PM01LSP\s+real\s+21\.7\s+-\s+verified\s+reads back 21\.6875)",
           R"(001PM01SP1\s+real\s+1\s+ok\s+21\.6875)",                         // the alias shows the write
           R"(001TS01START1\s+int32\s+\d+\s+\d\d:\d\d)",               // schedule
           R"(001TS01DAYS1\s+int32\s+123456\s+Mon-Sat\s+verified)",
           R"(001RTCLDATE\s+int32\s+1\s+ok\s+\d+\s+\d{4}-\d\d-\d\d)",            // clock
           R"(005AO001_O\s+digital\s+5\s+ok\s+1\s+overridden)",                 // N2 Open override ...
           R"(release override\s+written)",                            // ... and its release
           R"(005AO001_O\s+digital\s+5\s+ok\s+0\s+not overridden)",
           R"(Demo finished)",
       }) {
    EXPECT_TRUE(std::regex_search(demo.out, std::regex(step))) << step;
  }
  EXPECT_LE(CountOf(demo.out, "ZAMKT: Johnson N2  Driver, loaded successfully."), 1) << "never repeated";
  std::smatch exchanges;
  std::regex counted(R"(The simulator counted (\d+) exchanges for the poll, (\d+) of them block reads)");
  ASSERT_TRUE(std::regex_search(demo.out, exchanges, counted)) << demo.out;
  EXPECT_EQ(exchanges[2], "9");  // three blocks in each of three cycles

  // The demo's folder is gone, and its simulator with it.
  std::smatch folder;
  ASSERT_TRUE(std::regex_search(demo.out, folder, std::regex(R"((/\S*zamhost-demo-\w+))")));
  struct stat info;
  EXPECT_NE(stat(folder[1].str().c_str(), &info), 0) << folder[1];
}

TEST(ZamhostDemo, SaysWhatIsMissingWhenTheSimulatorIsNotThere) {
  RunResult demo = RunZamhost({"demo", "--simulator", "/nonexistent/n2sim"});
  EXPECT_EQ(demo.exitCode, 8);
  EXPECT_TRUE(Contains(demo.err, "simulator '/nonexistent/n2sim' not found")) << demo.err;
}

}  // namespace
