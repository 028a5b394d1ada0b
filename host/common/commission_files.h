// The files a scan of the bus writes for the gateway: the gate list of the
// points that answered and a commented zamgate configuration that uses it.
// The same findings give the same bytes (no time stamps, a fixed order), so
// the files can be kept under version control and compared after a rescan.
#ifndef ZAMKT_HOST_COMMON_COMMISSION_FILES_H
#define ZAMKT_HOST_COMMON_COMMISSION_FILES_H

#include <map>
#include <string>
#include <vector>

#include "host/common/channel.h"
#include "host/common/point_catalogue.h"

namespace n2host {

// A station and the points of it that answered.
struct CommissionedStation {
  int address = 0;
  std::string family;  // "DX9100", "XT9100", "TC9100", "N2OPEN"
  std::vector<CataloguePoint> points;
};

// The gate list: "name,gas,type,description,poll" rows (the description the
// family and the point's role, the poll class "fast" for inputs and outputs,
// "slow" for the rest), a comment line before each station's.
std::string GateListText(const std::vector<CommissionedStation> &stations);

// The zamgate configuration: the line as scanned (port and settings), the
// stations' families, the gate list by its file name (relative to the
// configuration's folder) and the writable points under `writable`.
std::string GatewayConfigText(const ChannelOptions &line, const std::vector<CommissionedStation> &stations,
                              const std::string &gateListName, const std::string &gatewayId);

// A value in TOML's basic string form, quotes included.
std::string TomlString(const std::string &text);

// A field of the gate list, quoted when it holds a comma, a quote or blanks
// at its ends.
std::string CsvField(const std::string &text);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_COMMISSION_FILES_H
