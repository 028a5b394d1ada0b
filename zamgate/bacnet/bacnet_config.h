// The [bacnet] section of the gateway's configuration: where the BACnet/IP
// device listens, its instance and name, an optional registration as a
// foreign device with a BBMD, and the object map. Without [[bacnet.map]]
// entries every gate gets an object, with an instance number derived from
// its GAS (so that it stays when gates are added or removed); --print-map
// prints the map as [[bacnet.map]] entries to keep in the file. Loading
// refuses clashes and bad values with "FILE:LINE: reason".
#ifndef ZAMKT_ZAMGATE_BACNET_BACNET_CONFIG_H
#define ZAMKT_ZAMGATE_BACNET_BACNET_CONFIG_H

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include <toml++/toml.h>

#include "zamgate/bacnet/codec.h"

namespace bacnet {

enum ObjectType : uint16_t {
  kAnalogInput = 0,
  kAnalogValue = 2,
  kBinaryInput = 3,
  kBinaryValue = 5,
  kDevice = 8,
};

// "analog-input", ... as the configuration and the printed map name them.
const char *ObjectTypeName(uint16_t type);

// One gate as a BACnet object.
struct MapEntry {
  size_t gate = 0;  // index in the gateway's gate list
  uint16_t type = kAnalogInput;
  uint32_t instance = 0;
  std::string name;  // Object_Name: the gate's name unless the entry gives one
  float covIncrement = 0;
  std::optional<double> relinquishDefault;  // written to the point when the last command is relinquished
  std::string origin;                        // "FILE:LINE" of an explicit entry
};

struct BacnetConfig {
  bool enabled = false;  // a [bacnet] section is present
  std::string address = "127.0.0.1";
  int port = 47808;  // 0: any free port (tests)
  uint32_t deviceInstance = 0;
  std::string deviceName;  // default: "zamgate-<gateway id>"
  std::string location;
  // Foreign-device registration with a BBMD, when bbmdAddress is set.
  std::string bbmdAddress;
  int bbmdPort = 47808;
  int bbmdTtlSeconds = 600;
  int maxSubscriptions = 64;
  int requestsPerSecond = 200;  // per client address; above it datagrams are dropped
  bool automaticMap = true;     // no [[bacnet.map]] entries: every gate has an object
  std::vector<MapEntry> map;
};

// What the map needs to know of each configured gate.
struct GateInfo {
  std::string name;
  std::string gas;
  int type = -1;  // gate data type; -1 (auto) is mapped as analog
  bool writable = false;
};

// The instance number a gate's GAS gives in the automatic map (before
// clashes are resolved): stable across runs and gate lists.
uint32_t InstanceOfGas(const std::string &gas);

// Reads the [bacnet] table of a parsed configuration, if there is one.
// False with "FILE:LINE: reason" (or "FILE: reason").
bool ReadBacnetSection(const toml::table &root, const std::string &fileName, const std::vector<GateInfo> &gates,
                       const std::string &gatewayId, BacnetConfig *config, std::string *error);

// The map for --print-map: a comment per object and [[bacnet.map]] entries
// that keep the instance numbers when pasted into the configuration.
std::string MapText(const BacnetConfig &config, const std::vector<GateInfo> &gates);

}  // namespace bacnet

#endif  // ZAMKT_ZAMGATE_BACNET_BACNET_CONFIG_H
