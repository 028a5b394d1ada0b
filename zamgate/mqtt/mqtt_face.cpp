#include "zamgate/mqtt/mqtt_face.h"

#include <float.h>
#include <math.h>

#include <thread>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include "host/common/gate_types.h"
#include "host/common/text_util.h"
#include "zamgate/mqtt/ha_discovery.h"
#include "zamgate/core/payloads.h"

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
    discoveryPayloads_[message.topic] = Dump(message.payload);
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
  Stop(std::chrono::steady_clock::now());
  if (client_ != nullptr) mosquitto_destroy(client_);
}

bool MqttFace::Start(std::string *error) {
  UseLibrary();
  client_ = mosquitto_new(config_.clientId.c_str(), true, this);
  if (client_ == nullptr) {
    *error = "cannot create the MQTT client '" + config_.clientId + "'";
    return false;
  }
  // MQTT 5: the set subscription asks for the retain flag as published, so
  // a retained set is told from a live one however it arrives.
  mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  std::string offline = Dump(StatusJson(false, true, ""));
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
    if (!config_.caFile.empty()) {
      *error += " (TLS with ca_file '" + config_.caFile + "'" +
                (config_.certFile.empty() ? "" : ", cert_file '" + config_.certFile + "', key_file '" + config_.keyFile + "'") +
                ")";
    }
    return false;
  }
  // libmosquitto's "exponential" back-off grows with the square of the
  // attempt: 1, 4, 9, 16 ... s up to reconnect_max_s; the first connect
  // below waits the same.
  mosquitto_reconnect_delay_set(client_, 1, static_cast<unsigned>(config_.reconnectMaxSeconds), true);
  mosquitto_connect_callback_set(client_, &MqttFace::OnConnect);
  mosquitto_publish_callback_set(client_, &MqttFace::OnPublish);
  SetState("connecting");
  mosquitto_disconnect_callback_set(client_, &MqttFace::OnDisconnect);
  mosquitto_message_callback_set(client_, &MqttFace::OnMessage);
  TryFirstConnect();
  return true;
}

// libmosquitto's thread reconnects by itself once a connection was made; the
// first connection is tried here, again after each back-off, so that a
// gateway started before its broker gets there.
void MqttFace::TryFirstConnect() {
  std::lock_guard<std::mutex> lock(lifecycleMutex_);
  const auto now = std::chrono::steady_clock::now();
  if (stopping_ || loopRunning_ || now < nextTry_) return;
  int rc = mosquitto_connect_async(client_, config_.host.c_str(), config_.port, config_.keepaliveSeconds);
  if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_start(client_);
  if (rc == MOSQ_ERR_SUCCESS) {
    loopRunning_ = true;
    return;
  }
  ++connectTries_;
  SetState(mosquitto_strerror(rc));
  if (connectTries_ == 1) {
    events_.Add("cannot reach the MQTT broker " + config_.host + ":" + std::to_string(config_.port) + " (" +
                mosquitto_strerror(rc) + "): retrying with a growing back-off");
  }
  const int wait = std::min(connectTries_ * connectTries_, config_.reconnectMaxSeconds);
  nextTry_ = now + std::chrono::seconds(wait);
}

bool MqttFace::WaitFor(const std::function<bool()> &condition, std::chrono::steady_clock::time_point deadline) {
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void MqttFace::Stop(std::chrono::steady_clock::time_point deadline) {
  std::lock_guard<std::mutex> lock(lifecycleMutex_);
  if (client_ == nullptr || stopping_.exchange(true)) return;
  bool orderly = false;
  if (connected_) {
    // The will is only for an unclean end: on a clean stop say it ourselves,
    // stamped with the stop's time, after every result already queued.
    std::string offline = Dump(StatusJson(false, true, ""));
    if (Publish(base_ + "status", offline, true)) {
      WaitFor([this] { return unsent_ <= 0 || !connected_; }, deadline);
    }
    if (connected_ && mosquitto_disconnect(client_) == MOSQ_ERR_SUCCESS) {
      orderly = WaitFor([this] { return disconnected_.load(); }, deadline);
    }
  }
  if (loopRunning_) {
    // A thread still connecting (a broker that does not answer) never ends
    // by itself: it is cancelled.
    if (!orderly) mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, !orderly);
    loopRunning_ = false;
  }
  connected_ = false;
  store_.SetMqttConnected(false);
  SetState("stopped");
  metrics_.MqttConnected(false);
}

void MqttFace::SetState(const std::string &reason) {
  store_.SetMqttState(config_.host + ":" + std::to_string(config_.port), reason);
}

void MqttFace::OnConnect(mosquitto *, void *self, int rc) { static_cast<MqttFace *>(self)->Connected(rc); }
void MqttFace::OnDisconnect(mosquitto *, void *self, int rc) { static_cast<MqttFace *>(self)->Disconnected(rc); }
void MqttFace::OnPublish(mosquitto *, void *self, int) { --static_cast<MqttFace *>(self)->unsent_; }
void MqttFace::OnMessage(mosquitto *, void *self, const mosquitto_message *message) {
  // Nothing a message holds may end the gateway: libmosquitto's thread would
  // take an exception down with the process.
  try {
    // A payload past the limit is refused unread: only its length is kept.
    const size_t length = static_cast<size_t>(message->payloadlen);
    std::string payload(static_cast<const char *>(message->payload), std::min(length, kSetPayloadLimit + 1));
    static_cast<MqttFace *>(self)->SetReceived(message->topic, payload, length, message->retain);
  } catch (const std::exception &error) {
    EventLog::Note(std::string("set message dropped: ") + error.what());
  } catch (...) {
    EventLog::Note("set message dropped");
  }
}

void MqttFace::Connected(int rc) {
  if (rc != 0) {
    SetState(std::string("refused: ") + mosquitto_connack_string(rc));
    events_.Add(std::string("the MQTT broker refused the connection: ") + mosquitto_connack_string(rc));
    return;
  }
  connected_ = true;
  SetState("");
  store_.SetMqttConnected(true);
  metrics_.MqttConnected(true);
  events_.Add(std::string(everConnected_.exchange(true) ? "reconnected" : "connected") + " to the MQTT broker " +
              config_.host + ":" + std::to_string(config_.port));
  // Subscribed before "online" goes out: the broker handles both in order,
  // so a client that sees the gateway online can send it sets.
  mosquitto_subscribe_v5(client_, nullptr, (base_ + "+" + kSetSuffix).c_str(), 1, MQTT_SUB_OPT_RETAIN_AS_PUBLISHED,
                         nullptr);
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
  // Publishes not taken by now are lost with the connection.
  unsent_ = 0;
  if (stopping_) {
    disconnected_ = true;
    return;
  }
  SetState(rc == 0 ? "disconnected" : std::string(mosquitto_strerror(rc)) + ", reconnecting");
  if (!was) return;
  events_.Add(std::string("lost the MQTT broker (") + (rc == 0 ? "disconnected" : mosquitto_strerror(rc)) +
              "): reconnecting with a growing back-off");
}

void MqttFace::SetReceived(const std::string &topic, const std::string &payload, size_t length, bool retained) {
  if (discovery_ && topic.compare(0, discoveryConfig_.prefix.size() + 1, discoveryConfig_.prefix + "/") == 0 &&
      topic.size() > 7 && topic.compare(topic.size() - 7, 7, "/config") == 0) {
    DiscoveryReceived(topic, payload);
    return;
  }
  if (topic.size() <= base_.size() + strlen(kSetSuffix) || topic.compare(0, base_.size(), base_) != 0) return;
  std::string level = topic.substr(base_.size(), topic.size() - base_.size() - strlen(kSetSuffix));
  auto named = gateOfLevel_.find(level);
  std::string gateName = named != gateOfLevel_.end() ? named->second : level;
  const std::string quotedGate = n2host::Excerpt(gateName, 80);
  WriteResult refused;
  // The name of a gate that is not there is quoted like any outside text.
  refused.gate = store_.IndexOf(gateName) >= 0 ? gateName : quotedGate;
  refused.value = n2host::Excerpt(payload, 64);
  refused.outcome = WriteOutcome::kRejected;
  if (retained) {
    IgnoreRetained(gateName, payload, length);
    return;
  }
  std::string value, requestId, why;
  if (length > kSetPayloadLimit) {
    why = "malformed set: the payload is " + std::to_string(length) + " bytes, at most " +
          std::to_string(kSetPayloadLimit) + " are taken";
  } else if (ParseSetPayload(payload, &value, &requestId, &why)) {
    refused.value = n2host::Excerpt(value, 64);
    refused.requestId = requestId;
    SubmitResult submitted =
        writes_.Submit(gateName, value, requestId, [this, gateName](const WriteResult &result) { PublishResult(gateName, result); });
    if (submitted.queued) {
      EventLog::Note("set " + quotedGate + " = " + n2host::Quoted(value) + " from MQTT topic " +
                     n2host::Excerpt(topic, 120) + " queued");
      return;
    }
    why = submitted.reason;
  }
  refused.text = n2host::Excerpt(why, 240);
  refused.at = WallClock::now();
  metrics_.Write(WriteOutcome::kRejected);
  events_.Add("set " + quotedGate + " rejected: " + refused.text);
  PublishResult(gateName, refused);
}

// A retained set is the broker's memory of an old command: carrying it out
// at each start or reconnect would overwrite whatever an operator has set
// since. It is answered "ignored" once per topic and payload and logged;
// clearing it (an empty retained message) does nothing at all.
void MqttFace::IgnoreRetained(const std::string &gateName, const std::string &payload, size_t length) {
  const std::string quotedGate = n2host::Excerpt(gateName, 80);
  if (length == 0) {
    EventLog::Note("retained set of " + quotedGate + " cleared: nothing is done");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(publishedMutex_);
    const std::string key = gateName + '\0' + std::to_string(length) + '\0' + payload;
    if (!ignoredRetained_.insert(key).second) return;
    // Bounded: a broker full of retained sets cannot grow the gateway.
    if (ignoredRetained_.size() > kIgnoredRetainedKept) ignoredRetained_.clear();
  }
  WriteResult ignored;
  ignored.gate = gateName;
  ignored.value = n2host::Excerpt(payload, 64);
  ignored.outcome = WriteOutcome::kIgnored;
  ignored.text = "retained";
  ignored.at = WallClock::now();
  metrics_.Write(WriteOutcome::kIgnored);
  events_.Add("set " + quotedGate + " ignored: retained (value " + n2host::Quoted(payload) +
              "); publish sets without the retain flag");
  PublishResult(gateName, ignored);
}

void MqttFace::PublishResult(const std::string &gateName, const WriteResult &result) {
  int index = store_.IndexOf(gateName);
  n2host::PointMeaning meaning = index >= 0 ? store_.Gate(static_cast<size_t>(index)).meaning : n2host::PointMeaning{};
  Publish(GateTopic(gateName) + kSetSuffix + "/result", Dump(WriteResultJson(result, meaning)), false);
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
      // A move of at least the band is published, measured from the value
      // last published (so a slow drift gets out in the end). The values are
      // the device's 32-bit reals: a move of exactly the band may come out a
      // hair under it, which still counts as the band.
      const double slack = (fabs(gate.value.real) + fabs(last.value.real)) * FLT_EPSILON;
      if (gate.value.type == kGateReal && gate.deadband > 0 &&
          fabs(gate.value.real - last.value.real) < gate.deadband - slack) {
        return;
      }
    }
    last.any = true;
    last.value = gate.value;
    last.quality = gate.quality;
    last.at = WallClock::now();
  }
  Publish(base_ + levels_[static_cast<size_t>(index)], Dump(GateJson(gate, WallClock::now())), true);
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
    if (!Publish(base_ + "stations/" + std::to_string(station.station), Dump(StationJson(station)), true)) continue;
    last = {true, station.demoted, now};
  }
}

void MqttFace::PublishStatus(bool online) {
  StoreSnapshot snapshot = store_.Snapshot();
  Publish(base_ + "status", Dump(StatusJson(online, snapshot.portOpen, snapshot.portText)), true);
}

void MqttFace::ClockSynced(const ClockOutcome &outcome) {
  Publish(base_ + "stations/" + std::to_string(outcome.station) + "/clock", Dump(ClockJson(outcome)), true);
}

bool MqttFace::Publish(const std::string &topic, const std::string &payload, bool retain) {
  if (client_ == nullptr) return false;
  ++unsent_;
  int rc = mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                             config_.qos, retain);
  if (rc != MOSQ_ERR_SUCCESS) {
    --unsent_;
    return false;
  }
  metrics_.Published();
  return true;
}

}  // namespace zamgate
