// The station-type file at its limits, through command 1: lines at and past
// the 255 characters the reader keeps, binary bytes, a missing final line
// feed, and files at and past the 1000 lines it reads. Each file must leave
// sensible station types, and every line the reader skips or cuts must be
// named in the log. The sanitizer build checks that nothing overflows.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/driver_channel.h"

namespace {

const std::string kFile = "ZAMKT03: ReadInitFile() ";
const std::string kName = "File 'ZAMKT03.int' ";

// "005 = XT9100" padded with blanks to the given length.
std::string Padded(const std::string &line, size_t length) { return line + std::string(length - line.size(), ' '); }

// A 5000-character line whose first 255 characters assign station 5 and
// whose 256th character starts what would read as another assignment if the
// tail of the line were taken for a line of its own.
std::string LongLineWithAnAssignmentInItsTail() {
  const std::string head = Padded("005 = XT9100", 255);
  std::string tail = "009 = N2OPEN ";
  tail += std::string(5000 - head.size() - tail.size(), 'x');
  return head + tail;
}

// The bytes of a literal, NUL bytes included.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

// n lines that assign station 1 in turn to XT9100 and TC9100, so that each of
// them shows in the log.
std::string Lines(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += i % 2 == 0 ? "001 = XT9100\n" : "001 = TC9100\n";
  return text;
}

struct FileCase {
  const char *name;
  std::string file;
  std::vector<std::pair<int, std::string>> types;  // station types afterwards
  std::vector<std::string> lastMessages;           // the file's last messages, in order
};

void PrintTo(const FileCase &c, std::ostream *out) { *out << c.name; }

class StationFileBoundary : public ::testing::TestWithParam<FileCase> {};

TEST_P(StationFileBoundary, LeavesSensibleStationTypesAndNamesWhatItSkipped) {
  const FileCase &c = GetParam();
  TempWorkDir dir;
  dir.WriteFile("ZAMKT03.int", c.file);
  LogCapture log;
  DriverChannel channel(3);
  ASSERT_EQ(channel.Init("NUL"), 0);
  for (const auto &[station, type] : c.types) {
    EXPECT_EQ(std::string(channel.context()->stationTypes[station]), type) << "station " << station;
  }
  std::vector<std::string> messages = log.Messages();
  ASSERT_GE(messages.size(), 2 + c.lastMessages.size());
  EXPECT_EQ(messages.back(), "ZAMKT: Johnson N2  Driver, loaded successfully.");
  const std::vector<std::string> last(messages.end() - 1 - static_cast<long>(c.lastMessages.size()),
                                      messages.end() - 1);
  EXPECT_EQ(last, c.lastMessages);
  channel.Close();
}

INSTANTIATE_TEST_SUITE_P(
    Files, StationFileBoundary,
    ::testing::Values(
        // A line of 255 characters fits whole: its line feed is not a line of
        // its own, so the file goes on after it.
        FileCase{"LineOf255CharactersFitsAndReadingGoesOn",
                 Padded("005 = XT9100", 255) + "\n006 = TC9100\n",
                 {{5, "XT9100"}, {6, "TC9100"}},
                 {kFile + "PLC #005 set to type 'XT9100'", kFile + "PLC #006 set to type 'TC9100'"}},
        FileCase{"LineOf256CharactersIsCutWithAMessage",
                 Padded("005 = XT9100", 255) + "x\n006 = TC9100\n",
                 {{5, "XT9100"}, {6, "TC9100"}},
                 {kFile + kName + "Line '" + Padded("005 = XT9100", 255) +
                      "' longer than 255 characters, the rest ignored",
                  kFile + "PLC #005 set to type 'XT9100'", kFile + "PLC #006 set to type 'TC9100'"}},
        // The tail of a long line never assigns a station.
        FileCase{"LineOf5000CharactersAssignsFromItsStartOnly",
                 LongLineWithAnAssignmentInItsTail() + "\n006 = TC9100\n",
                 {{5, "XT9100"}, {9, "DX9100"}, {6, "TC9100"}},
                 {kFile + kName + "Line '" + Padded("005 = XT9100", 255) +
                      "' longer than 255 characters, the rest ignored",
                  kFile + "PLC #005 set to type 'XT9100'", kFile + "PLC #006 set to type 'TC9100'"}},
        FileCase{"LongLineWithoutAnAssignmentIsInvalid",
                 std::string(300, '#') + "\n006 = TC9100\n",
                 {{6, "TC9100"}},
                 {kFile + kName + "Line '" + std::string(255, '#') + "' longer than 255 characters, the rest ignored",
                  kFile + kName + "Line '" + std::string(255, '#') + "' is invalid",
                  kFile + "PLC #006 set to type 'TC9100'"}},
        // Binary bytes: a NUL ends the text of its line, other bytes are
        // part of a word that names no family.
        FileCase{"BinaryBytesNeverNameAFamily",
                 Bytes("005 = XT\0" "9100\n") + "006 = \x01\xff\x80\n" +
                     Bytes("\0\0\0\n") + "007 = TC9100\n",
                 {{5, "DX9100"}, {6, "DX9100"}, {7, "TC9100"}},
                 {kFile + kName + "Line '005 = XT' invalid Johnson device type",
                  kFile + kName + "Line '006 = \x01\xff\x80' invalid Johnson device type",
                  kFile + kName + "Line '' is invalid", kFile + "PLC #007 set to type 'TC9100'"}},
        FileCase{"BytesAfterANulAreIgnoredLikeWordsAfterTheName",
                 Bytes("008 = N2OPEN\0\x02junk\n"),
                 {{8, "N2OPEN"}},
                 {kFile + "PLC #008 set to type 'N2OPEN'"}},
        FileCase{"LastLineWithoutALineFeedIsRead",
                 "005 = XT9100\n006 = TC9100",
                 {{5, "XT9100"}, {6, "TC9100"}},
                 {kFile + "PLC #005 set to type 'XT9100'", kFile + "PLC #006 set to type 'TC9100'"}},
        FileCase{"LastLineOf255CharactersWithoutALineFeedIsRead",
                 "005 = XT9100\n" + Padded("006 = TC9100", 255),
                 {{5, "XT9100"}, {6, "TC9100"}},
                 {kFile + "PLC #005 set to type 'XT9100'", kFile + "PLC #006 set to type 'TC9100'"}},
        FileCase{"ThousandLinesAreAllRead",
                 Lines(999) + "007 = N2OPEN\n",
                 {{1, "XT9100"}, {7, "N2OPEN"}},
                 {kFile + "PLC #001 set to type 'XT9100'", kFile + "PLC #007 set to type 'N2OPEN'"}},
        FileCase{"LinesAfterTheThousandthAreIgnoredWithAMessage",
                 Lines(1000) + "007 = N2OPEN\n",
                 {{1, "TC9100"}, {7, "DX9100"}},
                 {kFile + "PLC #001 set to type 'TC9100'",
                  kFile + kName + "has more than 1000 lines, the rest ignored"}},
        FileCase{"AnEmptyLineAfterTheThousandthIsNoMoreLines",
                 Lines(1000) + "\n",
                 {{1, "TC9100"}},
                 {kFile + "PLC #001 set to type 'XT9100'", kFile + "PLC #001 set to type 'TC9100'"}}),
    [](const ::testing::TestParamInfo<FileCase> &file) { return std::string(file.param.name); });

}  // namespace
