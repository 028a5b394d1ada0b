#include "zamgate/mqtt_face.h"

#include <math.h>

#include <mosquitto.h>

#include "host/common/gate_types.h"
#include "zamgate/ha_discovery.h"
#include "zamgate/payloads.h"

namespace zamgate {
namespace {

constexpr const char *kSetSuffix = "/set";
constexpr auto kStationEvery = std::chrono::seconds(10);

// libmosquitto is set up once per process.
struct MosquittoLibrary {
  MosquittoLibrary() { mosquitto_lib_init(); }
  ~MosquittoLibrary() { mosquitto_lib_cleanup(); }
};

void UseLibrary() { static MosquittoLibrary library; }

}  // namespace

MqttFace::MqttFace(const MqttConfig &config, const std::string &gatewayId, GateStore &store, WriteQueue &writes,
                   GatewayMetrics &metrics, const EventLog &events)
    : config_(config),
      gatewayId_(gatewayId),
      base_(config.prefix + "/" + gatewayId + "/"),
      store_(store),
      writes_(writes),
      metrics_(metrics),
      events_(events),
      published_(store.gateCount()) {
  for (size_t i = 0; i < store.gateCount(); ++i) {
    GateState gate = store.Gate(i);
    n2host::GateSpec spec;
    spec.name = gate.name;
    spec.gas = gate.gas;
    levels_.push_back(GateTopicLevel(spec, config.topics));
    gateOfLevel_[levels_.back()] = gate.name;
  }
}

std::string MqttFace::GateTopic(const std::string &gateName) const {
  int index = store_.IndexOf(gateName);
  return base_ + (index >= 0 ? levels_[static_cast<size_t>(index)] : gateName);
}

void MqttFace::SetDiscovery(const HomeAssistantConfig &config) {
  discovery_ = config.discovery;
  discoveryConfig_ = config;
  if (!discovery_) return;
  std::vector<GateState> gates;
  std::vector<std::string> topics;
  for (size_t i = 0; i < store_.gateCount(); ++i) {
    gates.push_back(store_.Gate(i));
    topics.push_back(base_ + levels_[i]);
  }
  for (const DiscoveryMessage &message : DiscoveryMessages(config, gatewayId_, base_ + "status", gates, topics)) {
    discoveryPayloads_[message.topic] = message.payload.dump();
  }
}

void MqttFace::PublishDiscovery() {
  if (!discovery_) return;
  // The retained configs under the gateway's node come back on subscribing:
  // those of gates no longer listed are cleared as they arrive.
  mosquitto_subscribe(client_, nullptr, DiscoverySubscription(discoveryConfig_, gatewayId_).c_str(), 1);
  for (const auto &[topic, payload] : discoveryPayloads_) Publish(topic, payload, true);
}

void MqttFace::DiscoveryReceived(const std::string &topic, const std::string &payload) {
  if (payload.empty() || discoveryPayloads_.count(topic) > 0) return;
  events_.Add("Home Assistant: cleared the config " + topic + ", whose gate is no longer listed");
  Publish(topic, "", true);
}

MqttFace::~MqttFace() {
  Stop();
  if (client_ != nullptr) mosquitto_destroy(client_);
}

bool MqttFace::Start(std::string *error) {
  UseLibrary();
  client_ = mosquitto_new(config_.clientId.c_str(), true, this);
  if (client_ == nullptr) {
    *error = "cannot create the MQTT client '" + config_.clientId + "'";
    return false;
  }
  std::string offline = StatusJson(false, true, "").dump();
  int rc = mosquitto_will_set(client_, (base_ + "status").c_str(), static_cast<int>(offline.size()), offline.data(), 1, true);
  if (rc == MOSQ_ERR_SUCCESS && !config_.username.empty()) {
    rc = mosquitto_username_pw_set(client_, config_.username.c_str(),
                                   config_.password.empty() ? nullptr : config_.password.c_str());
  }
  if (rc == MOSQ_ERR_SUCCESS && !config_.caFile.empty()) {
    rc = mosquitto_tls_set(client_, config_.caFile.c_str(), nullptr,
                           config_.certFile.empty() ? nullptr : config_.certFile.c_str(),
                           config_.keyFile.empty() ? nullptr : config_.keyFile.c_str(), nullptr);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    *error = std::string("MQTT client set-up: ") + mosquitto_strerror(rc);
    return false;
  }
  mosquitto_reconnect_delay_set(client_, 1, static_cast<unsigned>(config_.reconnectMaxSeconds), true);
  mosquitto_connect_callback_set(client_, &MqttFace::OnConnect);
  mosquitto_disconnect_callback_set(client_, &MqttFace::OnDisconnect);
  mosquitto_message_callback_set(client_, &MqttFace::OnMessage);
  TryFirstConnect();
  return true;
}

// libmosquitto's thread reconnects by itself once a connection was made; the
// first connection is tried here, again after each back-off, so that a
// gateway started before its broker gets there.
void MqttFace::TryFirstConnect() {
  const auto now = std::chrono::steady_clock::now();
  if (loopRunning_ || now < nextTry_) return;
  int rc = mosquitto_connect_async(client_, config_.host.c_str(), config_.port, config_.keepaliveSeconds);
  if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_start(client_);
  if (rc == MOSQ_ERR_SUCCESS) {
    loopRunning_ = true;
    return;
  }
  if (backOffSeconds_ == 1) {
    events_.Add("cannot reach the MQTT broker " + config_.host + ":" + std::to_string(config_.port) + " (" +
                mosquitto_strerror(rc) + "): retrying with a growing back-off");
  }
  nextTry_ = now + std::chrono::seconds(backOffSeconds_);
  backOffSeconds_ = std::min(backOffSeconds_ * 2, config_.reconnectMaxSeconds);
}

void MqttFace::Stop() {
  if (client_ == nullptr || stopping_.exchange(true)) return;
  if (connected_) {
    // The will is only for an unclean end: on a clean stop say it ourselves.
    std::string offline = StatusJson(false, true, "").dump();
    int id = 0;
    mosquitto_publish(client_, &id, (base_ + "status").c_str(), static_cast<int>(offline.size()), offline.data(), 1, true);
  }
  mosquitto_disconnect(client_);
  if (loopRunning_) mosquitto_loop_stop(client_, false);
  connected_ = false;
  store_.SetMqttConnected(false);
  metrics_.MqttConnected(false);
}

void MqttFace::OnConnect(mosquitto *, void *self, int rc) { static_cast<MqttFace *>(self)->Connected(rc); }
void MqttFace::OnDisconnect(mosquitto *, void *self, int rc) { static_cast<MqttFace *>(self)->Disconnected(rc); }
void MqttFace::OnMessage(mosquitto *, void *self, const mosquitto_message *message) {
  std::string payload(static_cast<const char *>(message->payload), static_cast<size_t>(message->payloadlen));
  static_cast<MqttFace *>(self)->SetReceived(message->topic, payload);
}

void MqttFace::Connected(int rc) {
  if (rc != 0) {
    events_.Add(std::string("the MQTT broker refused the connection: ") + mosquitto_connack_string(rc));
    return;
  }
  connected_ = true;
  store_.SetMqttConnected(true);
  metrics_.MqttConnected(true);
  events_.Add(std::string(everConnected_.exchange(true) ? "reconnected" : "connected") + " to the MQTT broker " +
              config_.host + ":" + std::to_string(config_.port));
  // Subscribed before "online" goes out: the broker handles both in order,
  // so a client that sees the gateway online can send it sets.
  mosquitto_subscribe(client_, nullptr, (base_ + "+" + kSetSuffix).c_str(), 1);
  PublishDiscovery();
  PublishStatus(true);
  // The broker may have lost the retained values: every one again.
  for (size_t i = 0; i < store_.gateCount(); ++i) PublishGate(store_.Gate(i), true);
  PublishStations(true);
}

void MqttFace::Disconnected(int rc) {
  bool was = connected_.exchange(false);
  store_.SetMqttConnected(false);
  metrics_.MqttConnected(false);
  if (stopping_ || !was) return;
  events_.Add(std::string("lost the MQTT broker (") + (rc == 0 ? "disconnected" : mosquitto_strerror(rc)) +
              "): reconnecting with a growing back-off");
}

void MqttFace::SetReceived(const std::string &topic, const std::string &payload) {
  if (discovery_ && topic.compare(0, discoveryConfig_.prefix.size() + 1, discoveryConfig_.prefix + "/") == 0 &&
      topic.size() > 7 && topic.compare(topic.size() - 7, 7, "/config") == 0) {
    DiscoveryReceived(topic, payload);
    return;
  }
  if (topic.size() <= base_.size() + strlen(kSetSuffix) || topic.compare(0, base_.size(), base_) != 0) return;
  std::string level = topic.substr(base_.size(), topic.size() - base_.size() - strlen(kSetSuffix));
  auto named = gateOfLevel_.find(level);
  std::string gateName = named != gateOfLevel_.end() ? named->second : level;
  WriteResult refused;
  refused.gate = gateName;
  refused.value = payload;
  refused.outcome = WriteOutcome::kRejected;
  std::string value, requestId, why;
  if (ParseSetPayload(payload, &value, &requestId, &why)) {
    refused.value = value;
    refused.requestId = requestId;
    SubmitResult submitted =
        writes_.Submit(gateName, value, requestId, [this, gateName](const WriteResult &result) { PublishResult(gateName, result); });
    if (submitted.queued) return;
    why = submitted.reason;
  }
  refused.text = why;
  refused.at = WallClock::now();
  metrics_.Write(WriteOutcome::kRejected);
  events_.Add("set " + gateName + " rejected: " + why);
  PublishResult(gateName, refused);
}

void MqttFace::PublishResult(const std::string &gateName, const WriteResult &result) {
  int index = store_.IndexOf(gateName);
  n2host::PointMeaning meaning = index >= 0 ? store_.Gate(static_cast<size_t>(index)).meaning : n2host::PointMeaning{};
  Publish(GateTopic(gateName) + kSetSuffix + "/result", WriteResultJson(result, meaning).dump(), false);
}

void MqttFace::GateChanged(const GateState &gate) { PublishGate(gate, false); }

void MqttFace::PublishGate(const GateState &gate, bool force) {
  int index = store_.IndexOf(gate.name);
  // A gate not read yet has nothing to say: it is published after its first read.
  if (index < 0 || !connected_ || gate.readAt == WallClock::time_point{}) return;
  {
    std::lock_guard<std::mutex> lock(publishedMutex_);
    Published &last = published_[static_cast<size_t>(index)];
    if (!force && last.any && last.quality == gate.quality) {
      bool moved = last.value.integer != gate.value.integer || last.value.real != gate.value.real;
      if (!moved) return;
      if (gate.value.type == kGateReal && gate.deadband > 0 && fabs(gate.value.real - last.value.real) < gate.deadband) {
        return;
      }
    }
    last.any = true;
    last.value = gate.value;
    last.quality = gate.quality;
    last.at = WallClock::now();
  }
  Publish(base_ + levels_[static_cast<size_t>(index)], GateJson(gate, WallClock::now()).dump(), true);
}

void MqttFace::AfterCycle() {
  TryFirstConnect();
  if (!connected_) return;
  const auto due = WallClock::now() - std::chrono::seconds(config_.refreshSeconds);
  for (size_t i = 0; i < store_.gateCount(); ++i) {
    bool refresh;
    {
      std::lock_guard<std::mutex> lock(publishedMutex_);
      refresh = !published_[i].any || published_[i].at <= due;
    }
    if (refresh) PublishGate(store_.Gate(i), true);
  }
  PublishStations(false);
}

void MqttFace::PortChanged() {
  if (connected_) PublishStatus(true);
}

void MqttFace::PublishStations(bool force) {
  // A station's figures move with every request: it is published when its
  // state changes, and otherwise every kStationEvery at most.
  const auto now = WallClock::now();
  std::lock_guard<std::mutex> lock(publishedMutex_);
  for (const StationState &station : store_.Snapshot().stations) {
    PublishedStation &last = publishedStations_[station.station];
    if (!force && last.any && last.demoted == station.demoted && now - last.at < kStationEvery) continue;
    if (!Publish(base_ + "stations/" + std::to_string(station.station), StationJson(station).dump(), true)) continue;
    last = {true, station.demoted, now};
  }
}

void MqttFace::PublishStatus(bool online) {
  StoreSnapshot snapshot = store_.Snapshot();
  Publish(base_ + "status", StatusJson(online, snapshot.portOpen, snapshot.portText).dump(), true);
}

bool MqttFace::Publish(const std::string &topic, const std::string &payload, bool retain) {
  if (client_ == nullptr) return false;
  int rc = mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                             config_.qos, retain);
  if (rc != MOSQ_ERR_SUCCESS) return false;
  metrics_.Published();
  return true;
}

}  // namespace zamgate
