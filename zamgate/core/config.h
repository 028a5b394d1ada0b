// The gateway's configuration file (TOML): the serial line, the stations'
// families, the gates and which of them may be written, the poll, the MQTT
// broker and the HTTP listener. Loading checks everything that can be checked
// without the driver; a mistake is refused with "FILE:LINE: reason".
#ifndef ZAMKT_ZAMGATE_CONFIG_H
#define ZAMKT_ZAMGATE_CONFIG_H

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/common/channel.h"
#include "host/common/gate_list.h"
#include "host/common/poller.h"
#include "zamgate/bacnet/bacnet_config.h"
#include "zamgate/http/http_config.h"
#include "zamgate/modbus/modbus_config.h"
#include "zamgate/mqtt/mqtt_config.h"
#include "zamgate/core/clock_sync.h"

namespace zamgate {

// What the configuration says about one gate beyond its name, GAS and type.
struct GateOptions {
  bool writable = false;
  double deadband = 0;  // reals: a change smaller than this is not published
};

struct GatewayConfig {
  std::string file;       // the configuration file, for messages
  std::string gatewayId;  // names the gateway in topics
  n2host::ChannelOptions channel;
  n2host::PollSettings poll;
  std::vector<n2host::GateSpec> gates;
  std::vector<GateOptions> gateOptions;  // one per gate
  int writeQueueSize = 16;
  MqttConfig mqtt;
  HomeAssistantConfig homeAssistant;
  std::map<std::string, int> pollClasses;  // [poll.classes]: class name -> interval in ms
  HttpConfig http;
  std::string driverPath;  // empty: libzamkt.so beside zamgate
  ModbusConfig modbus;     // [modbus]: the Modbus TCP face and its register map
  bacnet::BacnetConfig bacnet;  // [bacnet]: the BACnet/IP face and its object map
  ClockConfig clock;       // [clock]: the stations' clocks set from the host's
};

// Parses the text of a configuration file. fileName prefixes messages and
// relative paths (gate lists, station-type and TLS files) are taken from its
// folder. False with "FILE:LINE: reason" (or "FILE: reason").
bool ParseConfig(const std::string &text, const std::string &fileName, GatewayConfig *config, std::string *error);

// Reads and parses the file.
bool LoadConfig(const std::string &path, GatewayConfig *config, std::string *error);

// A gate's topic level under the topics mode: its name as written, its slug
// (lower case letters, digits and "_"), or its GAS.
std::string GateTopicLevel(const n2host::GateSpec &gate, const std::string &mode);
// A name's slug: letters and digits lower-cased, every other run of
// characters one "_", none at either end; "gate" when nothing is left.
std::string Slug(const std::string &name);
// A message of the shared host code in zamgate's terms: zamhost's
// command-line options (--driver, --station, --station-types, --baud, ...)
// named as the configuration keys that do the same.
std::string InGatewayTerms(const std::string &text);

// True when a gate name can be a topic level: not empty, no "/", "+", "#",
// and not one of the gateway's own topic names.
bool UsableTopicName(const std::string &name, std::string *why);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_CONFIG_H
