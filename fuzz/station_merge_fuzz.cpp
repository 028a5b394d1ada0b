// The station-type file that zamhost scan merges its findings into: whatever
// lies at the path the user names is read as the old file.
//
// Input:
//   0      first scanned address, 1 + byte % 254
//   1      length of the range
//   2      findings: bit 0 a DX9100 at the first address, bit 1 an N2 Open
//          device at the next, bit 2 a station not identified after it
//   3...   the old file's text
// The checks: the merged text has no empty line (the driver stops reading
// at one), starts with the scan's header, and merging the same findings into
// it again gives the same text (a rescan changes nothing).
#include <stdlib.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "host/common/station_file_merge.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  const int from = 1 + data[0] % 254;
  const int to = std::min(254, from + data[1]);
  std::vector<n2host::ScannedStation> found;
  if (data[2] & 1) found.push_back({from, "DX9100", ""});
  if ((data[2] & 2) && from + 1 <= to) found.push_back({from + 1, "N2OPEN", ""});
  if ((data[2] & 4) && from + 2 <= to) found.push_back({from + 2, "", "refuses the test points"});
  const std::string old(reinterpret_cast<const char *>(data + 3), size - 3);

  n2host::StationFileMerge merge = n2host::MergeStationFile(old, from, to, found);
  if (merge.text.find("\n\n") != std::string::npos || merge.text.empty() || merge.text[0] != '#') abort();
  n2host::StationFileMerge again = n2host::MergeStationFile(merge.text, from, to, found);
  if (again.text != merge.text || !again.conflicts.empty()) abort();
  return 0;
}
