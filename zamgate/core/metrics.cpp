#include "zamgate/core/metrics.h"

#include <prometheus/text_serializer.h>

namespace zamgate {
namespace {

using prometheus::Histogram;

// A request takes tens of milliseconds when answered and five time-outs when
// not; a cycle from milliseconds to minutes on a long, slow bus.
const Histogram::BucketBoundaries kResponseBuckets = {0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5};
const Histogram::BucketBoundaries kCycleBuckets = {0.01, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60};

std::string StationLabel(int32_t station) { return std::to_string(station); }

const char *FailureLabel(FailureKind kind) {
  switch (kind) {
    case FailureKind::kNoReply: return "no_reply";
    case FailureKind::kBadReply: return "bad_reply";
    case FailureKind::kRefused: return "refused";
    case FailureKind::kNone: break;
  }
  return "";
}

}  // namespace

GatewayMetrics::GatewayMetrics(const std::string &gatewayId)
    : registry_(std::make_shared<prometheus::Registry>()),
      requests_(prometheus::BuildCounter()
                    .Name("zamgate_exchanges_total")
                    .Help("Poll requests sent through the driver (each up to five tries on the line)")
                    .Labels({{"gateway", gatewayId}})
                    .Register(*registry_)),
      failures_(prometheus::BuildCounter()
                    .Name("zamgate_failures_total")
                    .Help("Poll requests that failed, by kind: no_reply, bad_reply, refused")
                    .Labels({{"gateway", gatewayId}})
                    .Register(*registry_)),
      stationUp_(prometheus::BuildGauge()
                     .Name("zamgate_station_up")
                     .Help("1 while the station answers, 0 while it is demoted")
                     .Labels({{"gateway", gatewayId}})
                     .Register(*registry_)),
      responseTime_(prometheus::BuildHistogram()
                        .Name("zamgate_response_time_seconds")
                        .Help("Time the driver took for one poll request, tries included")
                        .Labels({{"gateway", gatewayId}})
                        .Register(*registry_)),
      cycleDuration_(prometheus::BuildHistogram()
                         .Name("zamgate_cycle_duration_seconds")
                         .Help("Time from the start to the end of one poll cycle")
                         .Labels({{"gateway", gatewayId}})
                         .Register(*registry_)
                         .Add({}, kCycleBuckets)),
      lineUtilisation_(prometheus::BuildGauge()
                           .Name("zamgate_line_utilisation_ratio")
                           .Help("Share of the last cycle's time the line was busy with requests")
                           .Labels({{"gateway", gatewayId}})
                           .Register(*registry_)
                           .Add({})),
      portUp_(prometheus::BuildGauge()
                  .Name("zamgate_port_up")
                  .Help("1 while the serial port is open, 0 while it is lost")
                  .Labels({{"gateway", gatewayId}})
                  .Register(*registry_)
                  .Add({})),
      mqttConnected_(prometheus::BuildGauge()
                         .Name("zamgate_mqtt_connected")
                         .Help("1 while connected to the MQTT broker")
                         .Labels({{"gateway", gatewayId}})
                         .Register(*registry_)
                         .Add({})),
      published_(prometheus::BuildCounter()
                     .Name("zamgate_mqtt_messages_published_total")
                     .Help("MQTT messages handed to the broker")
                     .Labels({{"gateway", gatewayId}})
                     .Register(*registry_)
                     .Add({})),
      writes_(prometheus::BuildCounter()
                  .Name("zamgate_writes_total")
                  .Help("Writes by outcome")
                  .Labels({{"gateway", gatewayId}})
                  .Register(*registry_)) {
  portUp_.Set(1);
}

void GatewayMetrics::Request(int32_t station, FailureKind failure, double seconds) {
  std::string label = StationLabel(station);
  requests_.Add({{"station", label}}).Increment();
  responseTime_.Add({{"station", label}}, kResponseBuckets).Observe(seconds);
  // Every kind appears from the first request on, so that rate() sees a zero.
  for (FailureKind kind : {FailureKind::kNoReply, FailureKind::kBadReply, FailureKind::kRefused}) {
    prometheus::Counter &counter = failures_.Add({{"station", label}, {"kind", FailureLabel(kind)}});
    if (kind == failure) counter.Increment();
  }
}

void GatewayMetrics::StationUp(int32_t station, bool up) {
  stationUp_.Add({{"station", StationLabel(station)}}).Set(up ? 1 : 0);
}

void GatewayMetrics::Cycle(double seconds, double busySeconds, double elapsedSeconds) {
  cycleDuration_.Observe(seconds);
  lineUtilisation_.Set(elapsedSeconds > 0 ? std::min(1.0, busySeconds / elapsedSeconds) : 0);
}

void GatewayMetrics::Port(bool open) { portUp_.Set(open ? 1 : 0); }
void GatewayMetrics::MqttConnected(bool connected) { mqttConnected_.Set(connected ? 1 : 0); }
void GatewayMetrics::Published() { published_.Increment(); }

void GatewayMetrics::Write(WriteOutcome outcome) { writes_.Add({{"outcome", OutcomeName(outcome)}}).Increment(); }

std::string GatewayMetrics::Text() const {
  prometheus::TextSerializer serializer;
  return serializer.Serialize(registry_->Collect());
}

}  // namespace zamgate
