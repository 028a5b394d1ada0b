// The gateway's MQTT face (libmosquitto, on the library's own thread): every
// gate retained at <prefix>/<id>/<gate>, published when its value or quality
// changes (reals past their deadband) and again every refresh interval; the
// gateway's status at <prefix>/<id>/status ("online" on connect, "offline" as
// the last will and on a clean stop); each station's health at
// <prefix>/<id>/stations/<n>; writes taken from <gate topic>/set and answered
// on <gate topic>/set/result. A lost broker is reconnected with a growing
// back-off, and every current value published again; the poll never waits
// for the broker.
#ifndef ZAMKT_ZAMGATE_MQTT_FACE_H
#define ZAMKT_ZAMGATE_MQTT_FACE_H

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "zamgate/core/config.h"
#include "zamgate/core/event_log.h"
#include "zamgate/core/gate_store.h"
#include "zamgate/core/metrics.h"
#include "zamgate/core/write_queue.h"

struct mosquitto;
struct mosquitto_message;

namespace zamgate {

class MqttFace {
 public:
  MqttFace(const MqttConfig &config, const std::string &gatewayId, GateStore &store, WriteQueue &writes,
           GatewayMetrics &metrics, const EventLog &events);
  ~MqttFace();
  MqttFace(const MqttFace &) = delete;
  MqttFace &operator=(const MqttFace &) = delete;

  // Starts connecting in the background. False with a message when the
  // client cannot be set up at all (TLS files, client id).
  bool Start(std::string *error);
  // Publishes "offline" (stamped now) and waits until the broker has taken
  // it and every message before it (results of cancelled writes), then
  // disconnects in order (so that the broker does not publish the will) and
  // stops the library's thread. Never waits past the deadline: a broker
  // that does not answer is let go without its goodbye.
  void Stop(std::chrono::steady_clock::time_point deadline);

  // A gate's value or quality changed (the store's listener).
  void GateChanged(const GateState &gate);
  // After each cycle: gates due for their refresh, and the stations.
  void AfterCycle();
  // The port's state changed: the status topic says so.
  void PortChanged();
  // A station's clock set or not: retained at stations/<n>/clock.
  void ClockSynced(const ClockOutcome &outcome);

  // The gate's state topic under the topics mode ([mqtt] topics).
  std::string GateTopic(const std::string &gateName) const;

  // Home Assistant discovery: its configs go out on every connection, and
  // retained configs of the gateway's node that no gate publishes are cleared.
  void SetDiscovery(const HomeAssistantConfig &config);

 private:
  struct Published {
    bool any = false;
    n2host::GateValue value;
    Quality quality = Quality::kFailed;
    WallClock::time_point at{};
  };

  static void OnConnect(mosquitto *client, void *self, int rc);
  static void OnDisconnect(mosquitto *client, void *self, int rc);
  static void OnMessage(mosquitto *client, void *self, const mosquitto_message *message);
  static void OnPublish(mosquitto *client, void *self, int mid);
  // Waits until the condition holds or the deadline; its last answer.
  bool WaitFor(const std::function<bool()> &condition, std::chrono::steady_clock::time_point deadline);
  void SetState(const std::string &reason);
  void TryFirstConnect();
  void Connected(int rc);
  void Disconnected(int rc);
  // payload: at most kSetPayloadLimit + 1 bytes of the message; length: its whole length.
  void SetReceived(const std::string &topic, const std::string &payload, size_t length, bool retained);
  void IgnoreRetained(const std::string &gateName, const std::string &payload, size_t length);
  void PublishGate(const GateState &gate, bool force);
  void PublishStations(bool force);
  void PublishStatus(bool online);
  void PublishResult(const std::string &gateName, const WriteResult &result);
  void PublishDiscovery();
  void DiscoveryReceived(const std::string &topic, const std::string &payload);
  bool Publish(const std::string &topic, const std::string &payload, bool retain);

  MqttConfig config_;
  std::string gatewayId_;
  std::string base_;  // "<prefix>/<id>/"
  GateStore &store_;
  WriteQueue &writes_;
  GatewayMetrics &metrics_;
  const EventLog &events_;
  mosquitto *client_ = nullptr;
  std::atomic<bool> connected_{false};
  std::atomic<bool> everConnected_{false};
  std::atomic<bool> stopping_{false};
  std::mutex lifecycleMutex_;  // the first connect against the stop
  bool loopRunning_ = false;   // guarded by lifecycleMutex_
  std::chrono::steady_clock::time_point nextTry_{};
  int connectTries_ = 0;       // first connects tried without success
  std::atomic<int> unsent_{0};  // publishes the broker has not taken yet
  std::atomic<bool> disconnected_{false};  // the stop's disconnect is done
  struct PublishedStation {
    bool any = false;
    bool demoted = false;
    WallClock::time_point at{};
  };
  std::map<int32_t, PublishedStation> publishedStations_;  // guarded by publishedMutex_
  std::mutex publishedMutex_;
  static constexpr size_t kIgnoredRetainedKept = 1000;
  std::set<std::string> ignoredRetained_;  // guarded by publishedMutex_: retained sets answered
  std::vector<Published> published_;  // per gate, what the broker holds
  std::vector<std::string> levels_;  // per gate, its topic level
  std::map<std::string, std::string> gateOfLevel_;  // topic level -> gate name
  bool discovery_ = false;  // fixed before Start
  HomeAssistantConfig discoveryConfig_;
  std::map<std::string, std::string> discoveryPayloads_;  // config topic -> payload, fixed before Start
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_MQTT_FACE_H
