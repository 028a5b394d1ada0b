// The hosts' capture of the driver's messages (host/common/driver_log.h):
// the driver's logging library appends lines to the file QORPRO_LOG names;
// the capture keeps that file open and hands over each whole line once.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/common/driver_log.h"

namespace {

// Appends to the log file as the logging library does: by name, each time.
void Append(const std::string &text) {
  FILE *file = fopen(getenv("QORPRO_LOG"), "ab");
  ASSERT_NE(file, nullptr);
  fputs(text.c_str(), file);
  fclose(file);
}

std::vector<std::string> Texts(const std::vector<n2host::DriverMessage> &messages) {
  std::vector<std::string> texts;
  for (const n2host::DriverMessage &message : messages) texts.push_back(std::to_string(message.level) + " " + message.text);
  return texts;
}

using Lines = std::vector<std::string>;

struct Step {
  const char *appended;  // what the library adds before the call
  Lines taken;          // what the call hands over
};

// Each line is handed over once, whole, in order; a line still being written
// waits for its end; a call with nothing new hands over nothing.
TEST(DriverLog, HandsOverEachWholeLineOnce) {
  unsetenv("QORPRO_LOG");
  n2host::DriverLog log;
  ASSERT_NE(getenv("QORPRO_LOG"), nullptr);
  const Step steps[] = {
      {"", {}},
      {"32\tZAMKT: first\n", {"32 ZAMKT: first"}},
      {"", {}},
      {"8\t16 Bit Value = 1f \n32\tZAMKT01: second\n", {"8 16 Bit Value = 1f ", "32 ZAMKT01: second"}},
      {"32\tZAMKT: half", {}},
      {" a line\n32\tnext", {"32 ZAMKT: half a line"}},
      {"\n", {"32 next"}},
      {"no level\n", {"0 no level"}},
  };
  int number = 0;
  for (const Step &step : steps) {
    Append(step.appended);
    EXPECT_EQ(Texts(log.Take()), step.taken) << "step " << number;
    ++number;
  }
}

// A user's own QORPRO_LOG gets every line in the same form, and is named
// again once the capture ends.
TEST(DriverLog, CopiesLinesToTheUsersFileAndGivesItsNameBack) {
  char userPath[] = "/tmp/driver_log_test-XXXXXX";
  const int fd = mkstemp(userPath);
  ASSERT_GE(fd, 0);
  close(fd);
  setenv("QORPRO_LOG", userPath, 1);
  {
    n2host::DriverLog log;
    EXPECT_TRUE(log.UserFile());
    EXPECT_STRNE(getenv("QORPRO_LOG"), userPath);
    Append("32\tZAMKT: one\n32\tZAMKT: two\n");
    EXPECT_EQ(log.Take().size(), 2u);
    EXPECT_TRUE(log.Take().empty());
  }
  EXPECT_STREQ(getenv("QORPRO_LOG"), userPath);
  std::ifstream user(userPath);
  std::stringstream content;
  content << user.rdbuf();
  EXPECT_EQ(content.str(), "32\tZAMKT: one\n32\tZAMKT: two\n");
  unsetenv("QORPRO_LOG");
  unlink(userPath);
}

}  // namespace
