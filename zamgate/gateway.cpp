#include "zamgate/gateway.h"

#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "host/common/channel.h"
#include "host/common/driver_library.h"
#include "host/common/driver_log.h"
#include "host/common/gate_resolver.h"
#include "host/common/gate_types.h"
#include "host/common/poll_plan.h"
#include "host/common/poller.h"
#include "zamgate/event_log.h"
#include "zamgate/gate_store.h"
#include "zamgate/gateway_output.h"
#include "zamgate/http_face.h"
#include "zamgate/metrics.h"
#include "zamgate/modbus_face.h"
#include "zamgate/mqtt_face.h"
#include "zamgate/write_queue.h"
#include "zamgate/write_runner.h"

namespace zamgate {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The longest the poll thread waits before it looks at the stop flag again.
constexpr auto kStopCheck = std::chrono::milliseconds(100);
// The shortest cycle while the port is lost (its reopen has its own back-off).
constexpr int kLostPortCycleMs = 100;

bool LoadDriver(const GatewayConfig &config, n2host::DriverLibrary *driver) {
  std::string error;
  std::string path = config.driverPath.empty() ? n2host::DefaultDriverPath() : config.driverPath;
  if (driver->Load(path, &error)) return true;
  fprintf(stderr, "zamgate: %s\n", error.c_str());
  return false;
}

// Resolves every gate; false after printing the invalid ones.
bool ResolveAll(n2host::Channel &channel, const GatewayConfig &config, std::vector<n2host::Gate> *gates, FILE *out) {
  *gates = n2host::ResolveGates(channel, config.gates);
  bool ok = true;
  for (const n2host::Gate &gate : *gates) {
    if (gate.valid) continue;
    ok = false;
    fprintf(out, "zamgate: %s: invalid gate '%s' (%s):\n", gate.spec.origin.c_str(), gate.spec.name.c_str(),
            gate.spec.gas.c_str());
    for (const std::string &problem : gate.problems) fprintf(out, "    %s\n", problem.c_str());
  }
  return ok;
}

// A poll read's failure kind, from its status and the driver's messages.
FailureKind FailureOf(int32_t status, const std::vector<n2host::DriverMessage> &messages) {
  if (status == 0) return FailureKind::kNone;
  if (status == n2host::kStatusNoReply) return FailureKind::kNoReply;
  for (const n2host::DriverMessage &message : messages) {
    if (message.text.find("ErrorCode") != std::string::npos || message.text.find("failed. Tag address") != std::string::npos) {
      return FailureKind::kRefused;
    }
  }
  return FailureKind::kBadReply;
}

std::vector<GateState> InitialStates(const std::vector<n2host::Gate> &gates, const GatewayConfig &config) {
  std::vector<GateState> states;
  for (size_t i = 0; i < gates.size(); ++i) {
    GateState state;
    state.name = gates[i].spec.name;
    state.gas = gates[i].spec.gas;
    state.typeName = n2host::GateTypeName(gates[i].type);
    state.meaning = gates[i].meaning;
    state.station = gates[i].station;
    state.writable = config.gateOptions[i].writable;
    state.deadband = config.gateOptions[i].deadband;
    states.push_back(state);
  }
  return states;
}

}  // namespace

int CheckGatewayConfig(const GatewayConfig &config) {
  n2host::DriverLibrary driver;
  if (!LoadDriver(config, &driver)) return kGatewayDriver;
  n2host::DriverLog log;
  n2host::Channel channel(driver, log);
  n2host::ChannelOptions options = config.channel;
  options.port = "NUL";  // parsing sends nothing
  std::string error;
  int code = 0;
  if (!channel.Open(options, &error, &code)) {
    fprintf(stdout, "zamgate: %s: %s\n", config.file.c_str(), error.c_str());
    return kGatewayConfig;
  }
  std::vector<n2host::Gate> gates;
  bool valid = ResolveAll(channel, config, &gates, stdout);
  int writable = 0;
  for (const GateOptions &gate : config.gateOptions) writable += gate.writable ? 1 : 0;
  std::vector<n2host::PollRequest> plan = n2host::PlanPoll(gates, config.poll.blocks);
  fprintf(stdout, "%s: gateway %s, port %s, %zu gates (%d writable), %zu requests per cycle, MQTT %s:%d as %s%s, HTTP %s\n",
          config.file.c_str(), config.gatewayId.c_str(), config.channel.port.c_str(), gates.size(), writable,
          plan.size(), config.mqtt.host.c_str(), config.mqtt.port, config.mqtt.clientId.c_str(),
          config.mqtt.caFile.empty() ? "" : " over TLS",
          config.http.enabled ? (config.http.address + ":" + std::to_string(config.http.port)).c_str() : "off");
  if (config.modbus.enabled) {
    fprintf(stdout, "Modbus TCP %s:%d, unit %d, %zu gates mapped\n", config.modbus.address.c_str(), config.modbus.port,
            config.modbus.unitId, config.modbus.map.size());
  }
  fprintf(stdout, "%s\n", valid ? "configuration ok" : "configuration has invalid gates");
  return valid ? kGatewayOk : kGatewayInvalidGate;
}

int RunGateway(const GatewayConfig &config, const std::atomic<bool> &stop) {
  n2host::DriverLibrary driver;
  if (!LoadDriver(config, &driver)) return kGatewayDriver;
  n2host::DriverLog log;
  n2host::Channel channel(driver, log);
  // The driver's messages that explain a failure go to the log; those of
  // requests that went well would only bury them.
  channel.SetSink([](const n2host::DriverMessage &message) { EventLog::Note("driver: " + message.text); }, true);
  std::string error;
  int code = 0;
  if (!channel.Open(config.channel, &error, &code)) {
    fprintf(stderr, "zamgate: %s\n", error.c_str());
    return kGatewayPort;
  }
  std::vector<n2host::Gate> gates;
  if (!ResolveAll(channel, config, &gates, stderr)) return kGatewayInvalidGate;

  GateStore store(config.gatewayId, InitialStates(gates, config));
  EventLog events(&store);
  GatewayMetrics metrics(config.gatewayId);
  std::vector<bool> writable;
  for (const GateOptions &options : config.gateOptions) writable.push_back(options.writable);
  WriteQueue writes(gates, writable, static_cast<size_t>(config.writeQueueSize));
  WriteRunner runner(channel, writes, store, events);
  runner.SetResultObserver([&metrics](const WriteResult &result) { metrics.Write(result.outcome); });

  std::optional<ModbusFace> modbus;
  if (config.modbus.enabled) {
    modbus.emplace(config.modbus, store, writes);
    if (!modbus->Start(&error)) {
      fprintf(stderr, "zamgate: %s\n", error.c_str());
      return kGatewayFace;
    }
    EventLog::Note("Modbus TCP on " + config.modbus.address + ":" + std::to_string(modbus->port()) + ", unit " +
                   std::to_string(config.modbus.unitId) + ", " + std::to_string(config.modbus.map.size()) +
                   " gates mapped");
  }
  std::optional<HttpFace> http;
  if (config.http.enabled) {
    http.emplace(config.http, store, metrics);
    if (modbus) {
      http->AddMetricsText([&] { return ModbusMetricsText(config.gatewayId, modbus->counters().Snapshot()); });
      http->AddStatusSection([&] { return ModbusStatusHtml(config.modbus, modbus->port(), modbus->counters().Snapshot()); });
    }
    if (!http->Start(&error)) {
      fprintf(stderr, "zamgate: %s\n", error.c_str());
      return kGatewayFace;
    }
    EventLog::Note("HTTP on http://" + config.http.address + ":" + std::to_string(http->port()) + "/");
  }
  MqttFace mqtt(config.mqtt, config.gatewayId, store, writes, metrics, events);
  store.AddGateListener([&mqtt](const GateState &gate) { mqtt.GateChanged(gate); });
  if (!mqtt.Start(&error)) {
    fprintf(stderr, "zamgate: %s\n", error.c_str());
    return kGatewayFace;
  }

  GatewayOutput output(store, events);
  n2host::Poller poller(channel, gates, config.poll, output, stop);
  double busySeconds = 0;
  poller.SetBetweenRequests([&] { runner.RunPending(); });
  poller.SetRequestObserver([&](const n2host::PollRequest &request, int32_t status, std::chrono::nanoseconds took,
                                const std::vector<n2host::GateReading> &readings) {
    output.Request(request, status, readings);
    double seconds = std::chrono::duration<double>(took).count();
    busySeconds += seconds;
    metrics.Request(request.station, FailureOf(status, channel.lastMessages()), seconds);
  });
  output.SetAfterCycle([&](const n2host::CycleView &view, bool portChanged) {
    for (const auto &[station, stats] : view.health->stations()) metrics.StationUp(station, !stats.demoted);
    if (portChanged) {
      metrics.Port(view.port == nullptr || !view.port->lost());
      mqtt.PortChanged();
    }
    mqtt.AfterCycle();
  });

  EventLog::Note("gateway " + config.gatewayId + " polls " + std::to_string(gates.size()) + " gates on " +
                 config.channel.port + " every " + std::to_string(config.poll.intervalMs) + " ms");
  ClockSync clocks(channel, gates, config.clock, events);
  poller.Start();
  for (int cycle = 1; !stop; ++cycle) {
    const auto cycleStart = SteadyClock::now();
    busySeconds = 0;
    poller.RunCycle(cycle);
    clocks.AfterCycle();
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - cycleStart).count();
    // The line's share of the cycle's time slot: the interval, or the cycle
    // itself when it runs longer.
    metrics.Cycle(seconds, busySeconds, std::max(seconds, config.poll.intervalMs / 1000.0));
    // While the port is lost a cycle sends nothing: it must not spin.
    const int waitMs = poller.port().state == n2host::PortState::kLost ? std::max(config.poll.intervalMs, kLostPortCycleMs)
                                                                     : config.poll.intervalMs;
    // Until the next cycle: writes as they come.
    const auto next = cycleStart + std::chrono::milliseconds(waitMs);
    while (!stop) {
      auto now = SteadyClock::now();
      if (now >= next) break;
      if (writes.WaitForWrite(std::min(next, now + kStopCheck))) runner.RunPending();
    }
  }

  events.Add("stopping: status offline, port closed");
  if (modbus) modbus->Stop();
  writes.Close();
  mqtt.Stop();
  if (http) http->Stop();
  channel.Close();
  return kGatewayOk;
}

}  // namespace zamgate
