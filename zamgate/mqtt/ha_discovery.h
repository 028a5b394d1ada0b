// Home Assistant's MQTT discovery: one retained config message per gate at
// <discovery prefix>/<component>/zamgate_<gateway>/<gate object>/config, so
// that every gate appears as an entity of its station's device (the gateway
// its via_device) without a line of YAML. Read-only gates become sensors or
// binary sensors; writable ones numbers, switches or texts. An entity is
// available while the gateway is online with its port open and the gate's
// quality is not failed. Configs of gates that left the list are found among
// the retained ones under the gateway's node and cleared (an empty retained
// payload).
#ifndef ZAMKT_ZAMGATE_MQTT_HA_DISCOVERY_H
#define ZAMKT_ZAMGATE_MQTT_HA_DISCOVERY_H

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "zamgate/core/config.h"
#include "zamgate/core/gate_store.h"

namespace zamgate {

struct DiscoveryMessage {
  std::string topic;       // ".../config"
  std::string component;   // "sensor", "binary_sensor", "number", "switch", "text"
  nlohmann::json payload;  // the config
};

// The node id of the gateway's configs: "zamgate_" and the gateway id with
// every character but letters, digits, "_" and "-" as "_".
std::string DiscoveryNode(const std::string &gatewayId);

// The component a gate appears as.
std::string DiscoveryComponent(const GateState &gate);

// Every config the gateway publishes: one for the gateway's own connectivity
// and one per gate. gateTopics: the gate's state topic, one per gate in order.
std::vector<DiscoveryMessage> DiscoveryMessages(const HomeAssistantConfig &config, const std::string &gatewayId,
                                                const std::string &statusTopic, const std::vector<GateState> &gates,
                                                const std::vector<std::string> &gateTopics);

// The subscription that finds the gateway's retained configs, for clearing
// those no gate publishes any more.
std::string DiscoverySubscription(const HomeAssistantConfig &config, const std::string &gatewayId);

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_MQTT_HA_DISCOVERY_H
