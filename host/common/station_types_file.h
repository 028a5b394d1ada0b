// The station-type file. The driver reads "ZAMKT%02d.int" (the channel
// number in two digits) from the current folder when a channel starts; the
// user may keep the file anywhere and name further stations on the command
// line. zamhost writes the file it means into a fresh folder and starts the
// channel from there.
#ifndef ZAMKT_HOST_COMMON_STATION_TYPES_FILE_H
#define ZAMKT_HOST_COMMON_STATION_TYPES_FILE_H

#include <string>
#include <string_view>
#include <vector>

namespace n2host {

// "ZAMKT01.int" for channel 1.
std::string StationTypesFileName(int channel);

// "ADDR=FAMILY" (e.g. "5=n2open") as the file's line "005 = N2OPEN". False,
// with a message, for a station outside 1..254 or a family the file cannot
// name (DX9100 is every station's default and cannot be assigned).
bool StationTypeLine(std::string_view assignment, std::string *line, std::string *error);

// The file's text: the user's file up to its first empty line (the driver
// stops reading there), then the command line's assignments, which thus take
// precedence (a later line for a station replaces an earlier one).
std::string StationTypesText(std::string_view fileText, const std::vector<std::string> &lines);

// A temporary folder holding the channel's station-type file; removed with
// the object.
class StationTypesFolder {
 public:
  StationTypesFolder() = default;
  ~StationTypesFolder();
  StationTypesFolder(const StationTypesFolder &) = delete;
  StationTypesFolder &operator=(const StationTypesFolder &) = delete;

  // Creates the folder and writes the file. False with a message.
  bool Create(int channel, const std::string &text, std::string *error);
  const std::string &path() const { return path_; }

 private:
  std::string path_;
  std::string file_;
};

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_STATION_TYPES_FILE_H
