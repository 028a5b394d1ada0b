#include "zamgate/core/gateway.h"

#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include <unistd.h>

#include "host/common/channel.h"
#include "host/common/driver_library.h"
#include "host/common/driver_log.h"
#include "host/common/exit_cleanup.h"
#include "host/common/exit_codes.h"
#include "host/common/gate_resolver.h"
#include "host/common/gate_types.h"
#include "host/common/poll_plan.h"
#include "host/common/poller.h"
#include "host/common/write_check.h"
#include "zamgate/core/event_log.h"
#include "zamgate/core/gate_store.h"
#include "zamgate/core/gate_metrics.h"
#include "zamgate/core/gateway_output.h"
#include "zamgate/http/http_face.h"
#include "zamgate/core/metrics.h"
#include "zamgate/bacnet/face.h"
#include "zamgate/modbus/modbus_face.h"
#include "zamgate/mqtt/mqtt_face.h"
#include "zamgate/core/poll_schedule.h"
#include "zamgate/core/write_queue.h"
#include "zamgate/core/write_runner.h"

namespace zamgate {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The longest the poll thread waits before it looks at the stop flag again.
constexpr auto kStopCheck = std::chrono::milliseconds(100);
// The shortest cycle while the port is lost (its reopen has its own back-off).
constexpr int kLostPortCycleMs = 100;
// Kept free of the stop's bound for the last steps of the exit.
constexpr auto kStopMargin = std::chrono::milliseconds(200);

bool LoadDriver(const GatewayConfig &config, n2host::DriverLibrary *driver) {
  std::string error;
  std::string path = config.driverPath.empty() ? n2host::DefaultDriverPath() : config.driverPath;
  if (driver->Load(path, &error)) return true;
  fprintf(stderr, "zamgate: %s\n", InGatewayTerms(error).c_str());
  return false;
}

// The writable gates that name read-only points: the driver would refuse
// every write of them. False after printing them.
bool WritablePointsWritable(const std::vector<n2host::Gate> &gates, const GatewayConfig &config, FILE *out) {
  bool ok = true;
  for (size_t i = 0; i < gates.size(); ++i) {
    if (!config.gateOptions[i].writable || !gates[i].valid || !n2host::IsReadOnlyPoint(gates[i])) continue;
    ok = false;
    fprintf(out, "zamgate: %s: gate '%s' (%s) is listed as writable, but it is a read-only point: no write of it "
                 "can be carried out\n",
            gates[i].spec.origin.c_str(), gates[i].spec.name.c_str(), gates[i].spec.gas.c_str());
  }
  return ok;
}

// What one poll cycle takes on the line, roughly: each request's frame and
// its reply as hex text, 10 bits a character, and a few milliseconds for the
// station to turn round.
double EstimatedCycleMs(const std::vector<n2host::PollRequest> &plan, int baud) {
  constexpr double kTurnaroundMs = 5;
  double ms = 0;
  for (const n2host::PollRequest &request : plan) {
    const double characters = 12 + 4 + 8.0 * request.items;
    ms += characters * 10 * 1000 / baud + kTurnaroundMs;
  }
  return ms;
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
    for (const std::string &problem : gate.problems) fprintf(out, "    %s\n", InGatewayTerms(problem).c_str());
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
    state.meta = gates[i].spec.meta;
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
    fprintf(stdout, "zamgate: %s: %s\n", config.file.c_str(), InGatewayTerms(error).c_str());
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
  valid = WritablePointsWritable(gates, config, stdout) && valid;
  const double cycleMs = EstimatedCycleMs(plan, config.channel.baud);
  if (config.poll.intervalMs < cycleMs) {
    fprintf(stdout, "zamgate: warning: [poll] interval_ms %d is shorter than the cycle estimated for %zu requests at %d "
                    "baud (about %.0f ms): cycles will run back to back\n",
            config.poll.intervalMs, plan.size(), config.channel.baud, cycleMs);
  }
  if (config.bacnet.enabled) {
    fprintf(stdout, "BACnet/IP %s:%d, device %u, %zu objects\n", config.bacnet.address.c_str(), config.bacnet.port,
            config.bacnet.deviceInstance, config.bacnet.map.size() + 1);
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
  // A port that is not there yet (an adapter that appears late at boot) is
  // waited for as a port lost later is.
  bool portMissing = false;
  if (!channel.OpenOrWait(config.channel, &error, &code, &portMissing)) {
    fprintf(stderr, "zamgate: %s\n", InGatewayTerms(error).c_str());
    return code == n2host::kExitPort ? kGatewayPort : kGatewayConfig;
  }
  std::vector<n2host::Gate> gates;
  if (!ResolveAll(channel, config, &gates, stderr)) return kGatewayInvalidGate;
  if (!WritablePointsWritable(gates, config, stderr)) return kGatewayInvalidGate;

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
    modbus->SetWriteLog(events, metrics);
    if (!modbus->Start(&error)) {
      fprintf(stderr, "zamgate: %s\n", error.c_str());
      return kGatewayFace;
    }
    EventLog::Note("Modbus TCP on " + config.modbus.address + ":" + std::to_string(modbus->port()) + ", unit " +
                   std::to_string(config.modbus.unitId) + ", " + std::to_string(config.modbus.map.size()) +
                   " gates mapped");
  }
  std::optional<BacnetFace> bacnetFace;
  if (config.bacnet.enabled) {
    bacnetFace.emplace(config.bacnet, store, writes);
    if (!bacnetFace->Start(&error)) {
      fprintf(stderr, "zamgate: %s\n", error.c_str());
      return kGatewayFace;
    }
    EventLog::Note("BACnet/IP on " + config.bacnet.address + ":" + std::to_string(bacnetFace->port()) + ", device " +
                   std::to_string(config.bacnet.deviceInstance) + ", " + std::to_string(config.bacnet.map.size()) +
                   " gate objects");
  }
  // The poll classes, from the plan the poller makes of the same gates.
  PollSchedule schedule(n2host::PlanPoll(gates, config.poll.blocks), gates, config.poll.intervalMs, config.pollClasses);
  std::optional<HttpFace> http;
  if (config.http.enabled) {
    http.emplace(config.http, store, metrics);
    http->AddMetricsText([&store] { return GateMetricsText(store.Snapshot(), WallClock::now()); });
    if (schedule.active()) http->AddMetricsText([&] { return schedule.MetricsText(config.gatewayId); });
    if (modbus) {
      http->AddMetricsText([&] { return ModbusMetricsText(config.gatewayId, modbus->counters().Snapshot()); });
      http->AddStatusSection([&] { return ModbusStatusHtml(config.modbus, modbus->port(), modbus->counters().Snapshot()); });
    }
    if (bacnetFace) {
      http->AddMetricsText([&] { return BacnetMetricsText(config.gatewayId, bacnetFace->counters()); });
      http->AddStatusSection([&] { return BacnetStatusHtml(config.bacnet, bacnetFace->port(), bacnetFace->counters()); });
    }
    if (!http->Start(&error)) {
      fprintf(stderr, "zamgate: %s\n", error.c_str());
      return kGatewayFace;
    }
    EventLog::Note("HTTP on http://" + config.http.address + ":" + std::to_string(http->port()) + "/");
  }
  MqttFace mqtt(config.mqtt, config.gatewayId, store, writes, metrics, events);
  mqtt.SetDiscovery(config.homeAssistant);
  store.AddGateListener([&mqtt](const GateState &gate) { mqtt.GateChanged(gate); });
  if (!mqtt.Start(&error)) {
    fprintf(stderr, "zamgate: %s\n", error.c_str());
    return kGatewayFace;
  }

  GatewayOutput output(store, events);
  output.SetFamilies([&channel](int32_t station) { return channel.StationFamily(station); });
  n2host::Poller poller(channel, gates, config.poll, output, stop);
  auto cycleStart = SteadyClock::now();
  if (schedule.active()) {
    poller.SetRequestFilter([&](size_t request) { return schedule.TakeIfDue(request, cycleStart); });
  }
  const int tickMs = schedule.active() ? schedule.tickMs() : config.poll.intervalMs;
  if (portMissing) {
    poller.StartWithPortMissing(error);
    EventLog::Note("port " + config.channel.port + " is not there: waiting for it (" + error + ")");
    store.SetPort(false, poller.port().reason);
    writes.SetPortLost(true, poller.port().reason);
    metrics.Port(false);
  }
  // The line as the poll sees it, for the writes: a demoted station's and a
  // lost port's writes are refused at once.
  auto lineToWrites = [&] {
    const n2host::PortStatus port = poller.port();
    writes.SetPortLost(port.state == n2host::PortState::kLost, port.reason);
    for (const auto &[station, stats] : poller.health().stations()) writes.SetStationDown(station, stats.demoted);
  };
  double busySeconds = 0;
  // One write between two poll requests at most: a stream of writes cannot
  // take the line from the reads, and every station keeps its reads.
  poller.SetBetweenRequests([&] {
    if (!stop) runner.RunOne();
    output.AgeOut(config.poll.intervalMs);
  });
  poller.SetRequestObserver([&](const n2host::PollRequest &request, int32_t status, std::chrono::nanoseconds took,
                                const std::vector<n2host::GateReading> &readings) {
    output.Request(request, status, readings);
    double seconds = std::chrono::duration<double>(took).count();
    busySeconds += seconds;
    metrics.Request(request.station, FailureOf(status, channel.lastMessages()), seconds);
    lineToWrites();
  });
  output.SetAfterCycle([&](const n2host::CycleView &view, bool portChanged) {
    lineToWrites();
    for (const auto &[station, stats] : view.health->stations()) metrics.StationUp(station, !stats.demoted);
    if (portChanged) {
      metrics.Port(view.port == nullptr || !view.port->lost());
      mqtt.PortChanged();
    }
    mqtt.AfterCycle();
  });

  // The stop: queued writes are answered "cancelled" and the clean "offline"
  // goes out at once, on this thread, while the poll finishes the request
  // under way. A request to a station that has just gone silent can keep the
  // driver for several reply time-outs (it retries): the gateway does not
  // wait for it past one time-out and a second, and ends without it (the
  // system closes the port).
  std::atomic<bool> pollDone{false};
  std::thread stopper([&] {
    while (!stop && !pollDone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (pollDone && !stop) return;
    const auto stopAt = SteadyClock::now();
    const auto bound = stopAt + std::chrono::milliseconds(config.channel.timeoutMs) + std::chrono::seconds(1);
    writes.Close();
    // A write on the line finishes first, so that its result goes out too.
    while (runner.busy() && SteadyClock::now() < bound - kStopMargin) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    events.Add("stopping: status offline, port closed");
    mqtt.Stop(bound - kStopMargin);
    while (!pollDone && SteadyClock::now() < bound - kStopMargin / 2) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!pollDone) {
      EventLog::Note("stopped with a request still on the line: it is abandoned, the port closed by the system");
      fflush(nullptr);
      n2host::RunExitCleanup();
      _exit(kGatewayOk);
    }
  });

  EventLog::Note("gateway " + config.gatewayId + " polls " + std::to_string(gates.size()) + " gates on " +
                 config.channel.port + " every " + std::to_string(config.poll.intervalMs) + " ms");
  ClockSync clocks(channel, gates, config.clock, events);
  clocks.SetObserver([&mqtt](const ClockOutcome &outcome) { mqtt.ClockSynced(outcome); });
  poller.Start();
  for (int cycle = 1; !stop; ++cycle) {
    cycleStart = SteadyClock::now();
    busySeconds = 0;
    poller.RunCycle(cycle);
    clocks.AfterCycle();
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - cycleStart).count();
    // The line's share of the cycle's time slot: the interval, or the cycle
    // itself when it runs longer.
    metrics.Cycle(seconds, busySeconds, std::max(seconds, tickMs / 1000.0));
    store.SetCycle(seconds, busySeconds / std::max(seconds, tickMs / 1000.0), tickMs);
    store.SetPortRetries(poller.port().reopenTries);
    // While the port is lost a cycle sends nothing: it must not spin.
    const int waitMs = poller.port().state == n2host::PortState::kLost ? std::max(tickMs, kLostPortCycleMs) : tickMs;
    // Until the next cycle: writes as they come, one at a time, none started
    // once the next cycle is due.
    const auto next = cycleStart + std::chrono::milliseconds(waitMs);
    while (!stop) {
      auto now = SteadyClock::now();
      if (now >= next) break;
      if (writes.WaitForWrite(std::min(next, now + kStopCheck)) && !stop && SteadyClock::now() < next) runner.RunOne();
      output.AgeOut(config.poll.intervalMs);
    }
  }
  pollDone = true;
  stopper.join();

  if (modbus) modbus->Stop();
  if (bacnetFace) bacnetFace->Stop();
  writes.Close();
  mqtt.Stop(SteadyClock::now());
  if (http) http->Stop();
  channel.Close();
  return kGatewayOk;
}

}  // namespace zamgate
