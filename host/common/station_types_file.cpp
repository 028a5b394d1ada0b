#include "host/common/station_types_file.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

namespace n2host {

std::string StationTypesFileName(int channel) {
  char name[32];
  snprintf(name, sizeof name, "ZAMKT%02d.int", channel);
  return name;
}

bool StationTypeLine(std::string_view assignment, std::string *line, std::string *error) {
  size_t equals = assignment.find('=');
  std::string station = std::string(assignment.substr(0, equals));
  std::string family = equals == std::string_view::npos ? "" : std::string(assignment.substr(equals + 1));
  for (char &c : family) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  char *end = nullptr;
  long address = strtol(station.c_str(), &end, 10);
  if (station.empty() || *end != '\0' || address < 1 || address > 254) {
    *error = "'" + std::string(assignment) + "': the station must be 1 to 254 (write ADDR=FAMILY, e.g. 5=N2OPEN)";
    return false;
  }
  if (family == "DX9100") {
    *error = "'" + std::string(assignment) + "': DX9100 is every station's default and is not assigned";
    return false;
  }
  if (family != "XT9100" && family != "TC9100" && family != "N2OPEN") {
    *error = "'" + std::string(assignment) + "': the family must be XT9100, TC9100 or N2OPEN";
    return false;
  }
  char text[32];
  snprintf(text, sizeof text, "%03ld = %s", address, family.c_str());
  *line = text;
  return true;
}

std::string StationTypesText(std::string_view fileText, const std::vector<std::string> &lines) {
  std::string text;
  while (!fileText.empty()) {
    size_t end = fileText.find('\n');
    std::string_view line = fileText.substr(0, end);
    if (line.empty() || line == "\r") break;
    text.append(line);
    text.push_back('\n');
    if (end == std::string_view::npos) break;
    fileText.remove_prefix(end + 1);
  }
  for (const std::string &line : lines) text += line + "\n";
  return text;
}

StationTypesFolder::~StationTypesFolder() {
  if (!file_.empty()) unlink(file_.c_str());
  if (!path_.empty()) rmdir(path_.c_str());
}

bool StationTypesFolder::Create(int channel, const std::string &text, std::string *error) {
  const char *folder = getenv("TMPDIR");
  std::string pattern = std::string(folder != nullptr && folder[0] != '\0' ? folder : "/tmp") + "/zamhost-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = "cannot make a temporary folder for the station-type file";
    return false;
  }
  path_ = pattern;
  file_ = path_ + "/" + StationTypesFileName(channel);
  std::ofstream out(file_, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) {
    *error = "cannot write " + file_;
    return false;
  }
  return true;
}

}  // namespace n2host
