#include "host/common/station_file_merge.h"

#include <ctype.h>
#include <stdio.h>

#include <map>
#include <sstream>

#include "host/common/text_util.h"

namespace n2host {
namespace {

constexpr const char *kHeader = "# Station types found by zamhost scan; stations not named are DX9100s.";

// A line of the file that concerns one station.
struct StationLine {
  std::string family;  // the family it assigns; empty for a comment line
  std::string text;    // the line as written
};

// "010 = XT9100" (blanks optional) gives 10 and XT9100; "# 030: ..." and
// "# 001 = DX9100 ..." (the comments a scan writes) give the address and an
// empty family. -1 for any other line.
int AddressOfLine(std::string_view line, std::string *family) {
  family->clear();
  bool comment = false;
  if (!line.empty() && line.front() == '#') {
    comment = true;
    line = Trim(line.substr(1));
  }
  size_t digits = 0;
  while (digits < line.size() && isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
  if (digits != 3) return -1;
  int address = std::stoi(std::string(line.substr(0, 3)));
  std::string_view rest = Trim(line.substr(3));
  if (comment) return !rest.empty() && (rest[0] == ':' || rest[0] == '=') ? address : -1;
  if (rest.empty() || rest[0] != '=') return -1;
  *family = std::string(Trim(rest.substr(1)));
  return family->empty() ? -1 : address;
}

std::string Line(int address, const std::string &family) {
  char text[32];
  snprintf(text, sizeof text, "%03d = %s", address, family.c_str());
  return text;
}

std::string CommentLine(int address, const std::string &text) {
  char start[16];
  snprintf(start, sizeof start, "# %03d: ", address);
  return start + text;
}

}  // namespace

StationFileMerge MergeStationFile(const std::string &oldText, int from, int to,
                                  const std::vector<ScannedStation> &found) {
  StationFileMerge merge;
  std::map<int, StationLine> old;
  std::vector<std::string> userComments;
  std::istringstream in(oldText);
  std::string raw;
  while (std::getline(in, raw)) {
    std::string_view line = Trim(raw);
    if (line.empty() || line == kHeader) continue;
    std::string family;
    int address = AddressOfLine(line, &family);
    if (address < 0) {
      if (line.front() == '#') {
        userComments.emplace_back(line);
      } else {
        merge.foreign.emplace_back(line);
      }
      continue;
    }
    StationLine &entry = old[address];
    // A station line wins over the scan's comment about the same station.
    if (entry.family.empty()) entry = StationLine{family, std::string(line)};
  }

  std::map<int, StationLine> result;
  for (const auto &[address, entry] : old) {
    if (address < from || address > to) result[address] = entry;
  }
  std::map<int, const ScannedStation *> scanned;
  for (const ScannedStation &station : found) scanned[station.address] = &station;
  for (int address = from; address <= to; ++address) {
    auto before = old.find(address);
    const std::string was = before == old.end() ? "" : before->second.family;
    auto now = scanned.find(address);
    if (now == scanned.end()) {
      if (!was.empty()) {
        result[address] = before->second;
        merge.changes.push_back("station " + std::to_string(address) + " (" + was +
                                ") did not answer: its line is kept");
      }
      continue;
    }
    const ScannedStation &station = *now->second;
    const std::string family = station.family;
    if (family.empty()) {
      result[address] = StationLine{"", CommentLine(address, "not identified: " + station.why)};
    } else if (family == "DX9100") {
      // Every station's default: the file names it by leaving it out.
    } else {
      result[address] = StationLine{family, Line(address, family)};
    }
    const std::string isFamily = family.empty() ? "not identified" : family;
    if (before != old.end() && !was.empty() && was != family) {
      std::string change = "station " + std::to_string(address) + ": " + isFamily + " (was " + was + ")";
      merge.changes.push_back(change);
      merge.conflicts.push_back(change);
    } else if (was.empty() && !family.empty() && family != "DX9100") {
      merge.changes.push_back("station " + std::to_string(address) + ": " + family + " (new)");
    } else if (was.empty() && family.empty() && before == old.end()) {
      merge.changes.push_back("station " + std::to_string(address) + ": not identified (a comment)");
    }
  }

  std::string text = std::string(kHeader) + "\n";
  for (const std::string &comment : userComments) text += comment + "\n";
  for (const auto &[address, entry] : result) {
    text += entry.text + "\n";
    if (!entry.family.empty()) ++merge.assigned;
  }
  merge.text = text;
  return merge;
}

}  // namespace n2host
