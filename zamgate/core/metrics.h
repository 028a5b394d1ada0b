// The gateway's Prometheus metrics (prometheus-cpp's registry, served as
// text by the HTTP face): requests and failures by kind per station, each
// station up or down and its response times, the poll cycle's duration and
// the share of time the line is busy, the MQTT connection and messages, and
// writes by outcome. Every call is safe from any thread.
#ifndef ZAMKT_ZAMGATE_METRICS_H
#define ZAMKT_ZAMGATE_METRICS_H

#include <stdint.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include "zamgate/core/write_queue.h"

namespace zamgate {

// The failure kinds of a poll request.
enum class FailureKind { kNone, kNoReply, kBadReply, kRefused };

class GatewayMetrics {
 public:
  explicit GatewayMetrics(const std::string &gatewayId);

  void Request(int32_t station, FailureKind failure, double seconds);
  void StationUp(int32_t station, bool up);
  void Cycle(double seconds, double busySeconds, double elapsedSeconds);
  void Port(bool open);
  void MqttConnected(bool connected);
  void Published();
  void Write(WriteOutcome outcome);

  // The text exposition format.
  std::string Text() const;

 private:
  prometheus::Counter &Failures(int32_t station, const char *kind);

  std::shared_ptr<prometheus::Registry> registry_;
  prometheus::Family<prometheus::Counter> &requests_;
  prometheus::Family<prometheus::Counter> &failures_;
  prometheus::Family<prometheus::Gauge> &stationUp_;
  prometheus::Family<prometheus::Histogram> &responseTime_;
  prometheus::Histogram &cycleDuration_;
  prometheus::Gauge &lineUtilisation_;
  prometheus::Gauge &portUp_;
  prometheus::Gauge &mqttConnected_;
  prometheus::Counter &published_;
  prometheus::Family<prometheus::Counter> &writes_;
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_METRICS_H
