#include "zamgate/modbus/modbus_gateway_source.h"

#include <atomic>
#include <memory>
#include <unordered_map>

#include "driver/requests.h"
#include "host/common/stored_value.h"

namespace zamgate {
namespace {

// The outcome of a group: the worst of its writes.
WriteCompletion CompletionOf(WriteOutcome outcome) {
  switch (outcome) {
    case WriteOutcome::kVerified:
    case WriteOutcome::kWritten:
      return WriteCompletion::kDone;
    case WriteOutcome::kNoReply:
      return WriteCompletion::kNoReply;
    default:
      return WriteCompletion::kFailed;
  }
}

// The checks the queue makes, made before anything of the group is queued.
bool Acceptable(const n2host::Gate &gate, bool writable, const n2host::GateValue &value, std::string *why) {
  if (!writable) {
    *why = "gate '" + gate.spec.name + "' is not writable";
    return false;
  }
  n2host::GateValue parsed;
  if (!n2host::ParseValue(gate.meaning, gate.type, ModbusWriteText(value), &parsed, why)) return false;
  double stored = 0, step = 0;
  if (gate.type == kGateReal && !gate.meaning.n2open && !n2host::N2RealOf(static_cast<float>(value.real), &stored, &step)) {
    *why = gate.spec.name + ": out of range for an N2 real";
    return false;
  }
  return true;
}

ModbusReading ReadingOf(const GateState &gate) {
  ModbusReading reading;
  reading.good = gate.quality == Quality::kGood;
  reading.hasValue = gate.hasValue;
  reading.value = gate.value;
  return reading;
}

}  // namespace

std::string ModbusWriteText(const n2host::GateValue &value) { return n2host::RawText(value); }

GatewayModbusSource::GatewayModbusSource(GateStore &store, WriteQueue &queue)
    : store_(store), queue_(queue), readings_(store.gateCount()) {
  for (size_t i = 0; i < readings_.size(); ++i) readings_[i] = ReadingOf(store.Gate(i));
  // The listener hears the gate by name; the index is looked up once here.
  auto indexes = std::make_shared<std::unordered_map<std::string, size_t>>();
  for (size_t i = 0; i < readings_.size(); ++i) (*indexes)[store.Gate(i).name] = i;
  store.AddGateListener([this, indexes](const GateState &gate) {
    auto found = indexes->find(gate.name);
    if (found == indexes->end()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    readings_[found->second] = ReadingOf(gate);
  });
}

void GatewayModbusSource::Read(const std::vector<size_t> &gates, std::vector<ModbusReading> *readings) {
  readings->resize(gates.size());
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < gates.size(); ++i) (*readings)[i] = readings_.at(gates[i]);
}

WriteAdmission GatewayModbusSource::Refuse(const std::string &client, const std::string &gateName,
                                           WriteAdmission admission, const std::string &reason) {
  if (log_) log_("modbus write from " + client + (gateName.empty() ? "" : " to " + gateName) + " refused: " + reason);
  if (refused_) refused_();
  return admission;
}

WriteAdmission GatewayModbusSource::Submit(const std::string &client, const std::vector<ModbusWrite> &writes,
                                           std::function<void(WriteCompletion)> done, std::string *reason) {
  for (const ModbusWrite &write : writes) {
    if (!Acceptable(queue_.gate(write.gate), store_.Gate(write.gate).writable, write.value, reason)) {
      return Refuse(client, queue_.gate(write.gate).spec.name, WriteAdmission::kInvalid, *reason);
    }
  }
  if (queue_.size() + writes.size() > queue_.capacity()) {
    *reason = "the write queue has no room for " + std::to_string(writes.size()) + " writes";
    return Refuse(client, "", WriteAdmission::kBusy, *reason);
  }
  // done is called once, after the last write of the group, with the worst outcome.
  struct Group {
    std::atomic<size_t> left;
    std::atomic<int> worst{static_cast<int>(WriteCompletion::kDone)};
    std::function<void(WriteCompletion)> done;
  };
  auto group = std::make_shared<Group>();
  group->left = writes.size();
  group->done = std::move(done);
  for (const ModbusWrite &write : writes) {
    const n2host::Gate &gate = queue_.gate(write.gate);
    SubmitResult submitted =
        queue_.Submit(gate.spec.name, ModbusWriteText(write.value), "modbus", [group](const WriteResult &result) {
          int completion = static_cast<int>(CompletionOf(result.outcome));
          int worst = group->worst.load();
          while (completion > worst && !group->worst.compare_exchange_weak(worst, completion)) {
          }
          if (group->left.fetch_sub(1) == 1) group->done(static_cast<WriteCompletion>(group->worst.load()));
        });
    if (!submitted.queued) {
      *reason = submitted.reason;
      return Refuse(client, gate.spec.name,
                    submitted.reason.find("full") != std::string::npos ? WriteAdmission::kBusy : WriteAdmission::kInvalid,
                    submitted.reason);
    }
    if (log_) log_("modbus write from " + client + ": " + gate.spec.name + " = " + ModbusWriteText(write.value) + " queued");
  }
  return WriteAdmission::kQueued;
}

}  // namespace zamgate
