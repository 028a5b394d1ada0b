// The [mqtt] section of the gateway's configuration (with [mqtt.tls]): the
// broker, the credentials, the topics; and [homeassistant], Home Assistant's
// MQTT discovery. A mistake is refused with "FILE:LINE: reason".
#ifndef ZAMKT_ZAMGATE_MQTT_CONFIG_H
#define ZAMKT_ZAMGATE_MQTT_CONFIG_H

#include <string>

#include <toml++/toml.h>

#include "zamgate/core/toml_fields.h"

namespace zamgate {

// [mqtt]: the broker and how the gates are published.
struct MqttConfig {
  std::string host = "127.0.0.1";
  int port = 1883;
  std::string clientId;     // default: "zamgate-<gateway id>"
  std::string username;
  std::string password;
  std::string caFile;       // TLS when set
  std::string certFile;     // client certificate (with keyFile), optional
  std::string keyFile;
  std::string prefix = "n2";
  int keepaliveSeconds = 30;
  int refreshSeconds = 300;  // every gate is published again this often
  int qos = 1;
  int reconnectMaxSeconds = 30;  // the back-off grows 1, 2, 4 ... up to this
  std::string topics = "name";   // a gate's topic level: "name", "slug" or "gas"
};

// [homeassistant]: Home Assistant's MQTT discovery.
struct HomeAssistantConfig {
  bool discovery = false;
  std::string prefix = "homeassistant";
};

// Reads the [mqtt] table of a parsed configuration. configFile names the
// file, for the password and TLS files named beside it; the client id
// defaults to "zamgate-<gatewayId>".
bool ReadMqtt(const toml::table &root, const std::string &configFile, const std::string &gatewayId, MqttConfig *out,
              ConfigRefusal &fail);
// Reads the [homeassistant] table, if there is one.
bool ReadHomeAssistant(const toml::table &root, HomeAssistantConfig *out, ConfigRefusal &fail);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_MQTT_CONFIG_H
