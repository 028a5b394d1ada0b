#include "zamgate/bacnet/face.h"

#include <unordered_map>

#include "host/common/stored_value.h"
#include <sstream>

#include "zamgate/core/event_log.h"
#include "zamgate/core/html_escape.h"

namespace zamgate {
namespace {

bacnet::GateReading ReadingOf(const GateState &gate) {
  bacnet::GateReading reading;
  reading.good = gate.quality == Quality::kGood;
  reading.hasValue = gate.hasValue;
  reading.value = gate.value.type == kGateReal ? gate.value.real : static_cast<double>(gate.value.integer);
  reading.type = gate.value.type;
  reading.kind = gate.meaning.kind;
  reading.gas = gate.gas;
  return reading;
}

bacnet::WriteEnd EndOf(WriteOutcome outcome) {
  switch (outcome) {
    case WriteOutcome::kVerified:
    case WriteOutcome::kWritten:
      return bacnet::WriteEnd::kDone;
    case WriteOutcome::kNoReply:
      return bacnet::WriteEnd::kNoReply;
    default:
      return bacnet::WriteEnd::kRefused;
  }
}

}  // namespace

std::vector<bacnet::GateInfo> BacnetGates(const GatewayConfig &config) {
  std::vector<bacnet::GateInfo> gates;
  for (size_t i = 0; i < config.gates.size(); ++i) {
    const n2host::GateSpec &spec = config.gates[i];
    gates.push_back({spec.name, spec.gas, spec.type, i < config.gateOptions.size() && config.gateOptions[i].writable});
  }
  return gates;
}

void PrintBacnetMap(const GatewayConfig &config, FILE *out) {
  if (!config.bacnet.enabled) return;
  fputs(bacnet::MapText(config.bacnet, BacnetGates(config)).c_str(), out);
}

BacnetFace::BacnetFace(const bacnet::BacnetConfig &config, GateStore &store, WriteQueue &queue) {
  std::vector<bacnet::GateReading> readings;
  for (size_t i = 0; i < store.gateCount(); ++i) {
    GateState gate = store.Gate(i);
    readings.push_back(ReadingOf(gate));
    // The store's value type is the gate's type once read; before, the configured one.
    if (!gate.hasValue) readings.back().type = queue.gate(i).type;
  }
  // The check the queue leaves to the driver, made here so that the answer
  // is value-out-of-range: a real a System 91 point cannot hold.
  auto check = [&queue](size_t gate, const std::string &text, std::string *reason) {
    const n2host::Gate &target = queue.gate(gate);
    double stored = 0, step = 0;
    if (target.type == kGateReal && !target.meaning.n2open && !text.empty() &&
        !n2host::N2RealOf(strtof(text.c_str(), nullptr), &stored, &step)) {
      *reason = target.spec.name + ": out of range for an N2 real";
      return false;
    }
    return true;
  };
  auto submit = [this, &queue, check](size_t gate, const std::string &text, uint64_t ticket, std::string *reason) {
    if (!check(gate, text, reason)) return false;
    bacnet::Server *server = server_.get();
    SubmitResult submitted =
        queue.Submit(queue.gate(gate).spec.name, text, "bacnet", [server, ticket](const WriteResult &result) {
          server->WriteFinished(ticket, EndOf(result.outcome), result.text);
        });
    if (!submitted.queued) *reason = submitted.reason;
    return submitted.queued;
  };
  server_ = std::make_unique<bacnet::Server>(config, std::move(readings), submit, check,
                                             [](const std::string &text) { EventLog::Note(text); });
  // The listener hears the gate by name; the index is looked up once here.
  auto indexes = std::make_shared<std::unordered_map<std::string, size_t>>();
  for (size_t i = 0; i < store.gateCount(); ++i) (*indexes)[store.Gate(i).name] = i;
  bacnet::Server *server = server_.get();
  store.AddGateListener([server, indexes, &queue](const GateState &gate) {
    auto found = indexes->find(gate.name);
    if (found == indexes->end()) return;
    bacnet::GateReading reading = ReadingOf(gate);
    if (!gate.hasValue) reading.type = queue.gate(found->second).type;
    server->GateChanged(found->second, reading);
  });
}

bool BacnetFace::Start(std::string *error) { return server_->Start(error); }

void BacnetFace::Stop() { server_->Stop(); }

std::string BacnetMetricsText(const std::string &gatewayId, const bacnet::ServerCounters &counters) {
  std::ostringstream out;
  const std::string gateway = "gateway=\"" + gatewayId + "\"";
  auto counter = [&](const char *name, const char *help, uint64_t value) {
    out << "# HELP zamgate_bacnet_" << name << " " << help << "\n# TYPE zamgate_bacnet_" << name << " counter\n"
        << "zamgate_bacnet_" << name << "{" << gateway << "} " << value << "\n";
  };
  counter("datagrams_total", "BACnet/IP datagrams received", counters.datagrams);
  counter("malformed_total", "BACnet datagrams dropped: not BACnet/IP, too long", counters.malformed);
  counter("limited_total", "BACnet datagrams dropped: the sender was over requests_per_s", counters.limited);
  counter("requests_total", "BACnet requests handled", counters.requests);
  counter("errors_total", "BACnet Error answers sent", counters.errors);
  counter("rejects_total", "BACnet Reject answers sent", counters.rejects);
  counter("aborts_total", "BACnet Abort answers sent", counters.aborts);
  counter("notifications_total", "BACnet COV notifications sent", counters.notifications);
  out << "# HELP zamgate_bacnet_subscriptions BACnet COV subscriptions now\n"
      << "# TYPE zamgate_bacnet_subscriptions gauge\n"
      << "zamgate_bacnet_subscriptions{" << gateway << "} " << counters.subscriptions << "\n";
  return out.str();
}

std::string BacnetStatusHtml(const bacnet::BacnetConfig &config, int port, const bacnet::ServerCounters &counters) {
  std::ostringstream out;
  out << "<h2>BACnet/IP</h2>\n<p>device " << config.deviceInstance << " '" << HtmlEscape(config.deviceName) << "' on "
      << HtmlEscape(config.address) << ":" << port << ", " << config.map.size() << " objects: " << counters.requests
      << " requests, " << counters.errors << " errors, " << counters.rejects << " rejects, " << counters.aborts
      << " aborts, " << counters.malformed << " malformed and " << counters.limited << " rate-limited datagrams, "
      << counters.subscriptions << " COV subscriptions, " << counters.notifications << " notifications</p>\n";
  return out.str();
}

}  // namespace zamgate
