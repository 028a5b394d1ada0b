// The station-type file a scan writes, merged with the file already there:
// stations outside the scanned range keep their lines, stations inside it
// take what the scan found, a station that was named but did not answer
// keeps its line, and a station found but not identified is written as a
// comment that says why. The text is the same for the same findings, so the
// file can be kept under version control.
#ifndef ZAMKT_HOST_COMMON_STATION_FILE_MERGE_H
#define ZAMKT_HOST_COMMON_STATION_FILE_MERGE_H

#include <string>
#include <vector>

namespace n2host {

// What the scan found at an address that answered.
struct ScannedStation {
  int address = 0;
  std::string family;  // "DX9100", "XT9100", "TC9100", "N2OPEN"; empty: not identified
  std::string why;     // for a station not identified: what it answered
};

struct StationFileMerge {
  std::string text;                  // the file to write
  std::vector<std::string> changes;  // "station 10: XT9100 (was TC9100)", one per change
  std::vector<std::string> conflicts;  // changes that replace or drop a line of the old file
  std::vector<std::string> foreign;  // lines of the old file that are no station line
  int assigned = 0;                  // stations the file assigns a family
};

// Merges the findings of a scan of from..to into the old file's text (empty
// when there is none).
StationFileMerge MergeStationFile(const std::string &oldText, int from, int to,
                                  const std::vector<ScannedStation> &found);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_STATION_FILE_MERGE_H
