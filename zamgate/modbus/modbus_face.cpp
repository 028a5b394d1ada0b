#include "zamgate/modbus/modbus_face.h"

#include <sstream>

#include "zamgate/modbus/modbus_requests.h"
#include "zamgate/core/gate_metrics.h"
#include "zamgate/core/html_escape.h"

namespace zamgate {

std::vector<ModbusGateInfo> ModbusGates(const GatewayConfig &config) {
  std::vector<ModbusGateInfo> gates;
  for (size_t i = 0; i < config.gates.size(); ++i) {
    const n2host::GateSpec &spec = config.gates[i];
    gates.push_back({spec.name, spec.gas, spec.type, i < config.gateOptions.size() && config.gateOptions[i].writable});
  }
  return gates;
}

int PrintModbusMap(const GatewayConfig &config, FILE *out, FILE *err) {
  if (!config.modbus.enabled || config.modbus.map.empty()) {
    fprintf(err, "zamgate: %s maps no gate to Modbus (no [[modbus.map]] entries)\n", config.file.c_str());
  }
  std::vector<n2host::GateMeta> metas;
  for (const n2host::GateSpec &spec : config.gates) metas.push_back(spec.meta);
  fputs(ModbusMapCsv(config.modbus, ModbusGates(config), metas).c_str(), out);
  return 0;
}

ModbusFace::ModbusFace(const ModbusConfig &config, GateStore &store, WriteQueue &queue)
    : source_(store, queue), server_(config, source_, [](const std::string &text) { EventLog::Note(text); }) {}

bool ModbusFace::Start(std::string *error) { return server_.Start(error); }

void ModbusFace::Stop() { server_.Stop(); }

void ModbusFace::SetWriteLog(const EventLog &events, GatewayMetrics &metrics) {
  source_.SetWriteLog([&events](const std::string &text) { events.Add(text); },
                      [&metrics] { metrics.Write(WriteOutcome::kRejected); });
}

std::string ModbusMetricsText(const std::string &gatewayId, const ModbusCountersSnapshot &counters) {
  std::ostringstream out;
  const std::string gateway = "gateway=\"" + PromLabelValue(gatewayId) + "\"";
  out << "# HELP zamgate_modbus_requests_total Modbus requests received, by function code\n"
      << "# TYPE zamgate_modbus_requests_total counter\n";
  for (const auto &[function, count] : counters.requests) {
    out << "zamgate_modbus_requests_total{" << gateway << ",function=\"" << function << "\"} " << count << "\n";
  }
  out << "# HELP zamgate_modbus_exceptions_total Modbus exception answers sent, by exception code\n"
      << "# TYPE zamgate_modbus_exceptions_total counter\n";
  for (const auto &[code, count] : counters.exceptions) {
    out << "zamgate_modbus_exceptions_total{" << gateway << ",code=\"" << code << "\"} " << count << "\n";
  }
  out << "# HELP zamgate_modbus_clients Modbus clients connected now\n"
      << "# TYPE zamgate_modbus_clients gauge\n"
      << "zamgate_modbus_clients{" << gateway << "} " << counters.clients << "\n"
      << "# HELP zamgate_modbus_dropped_clients_total Modbus clients dropped: silent, malformed frames, answers not taken\n"
      << "# TYPE zamgate_modbus_dropped_clients_total counter\n"
      << "zamgate_modbus_dropped_clients_total{" << gateway << "} " << counters.dropped << "\n"
      << "# HELP zamgate_modbus_refused_clients_total Modbus connections closed at once: max_clients reached\n"
      << "# TYPE zamgate_modbus_refused_clients_total counter\n"
      << "zamgate_modbus_refused_clients_total{" << gateway << "} " << counters.refused << "\n";
  return out.str();
}

std::string ModbusStatusHtml(const ModbusConfig &config, int port, const ModbusCountersSnapshot &counters) {
  uint64_t requests = 0, exceptions = 0;
  for (const auto &[function, count] : counters.requests) requests += count;
  for (const auto &[code, count] : counters.exceptions) exceptions += count;
  std::ostringstream out;
  out << "<h2>Modbus TCP</h2>\n<p>" << HtmlEscape(config.address) << ":" << port << ", unit " << config.unitId << ": "
      << counters.clients << " clients connected, " << requests << " requests, " << exceptions
      << " exceptions, " << counters.dropped << " clients dropped, " << counters.refused << " refused</p>\n";
  if (!counters.exceptions.empty()) {
    out << "<table><tr><th>exception</th><th>sent</th></tr>\n";
    for (const auto &[code, count] : counters.exceptions) {
      out << "<tr><td>" << code << " " << ModbusExceptionName(static_cast<uint8_t>(code)) << "</td><td>" << count
          << "</td></tr>\n";
    }
    out << "</table>\n";
  }
  return out.str();
}

}  // namespace zamgate
