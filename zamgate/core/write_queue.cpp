#include "zamgate/core/write_queue.h"

#include <stdio.h>

#include <algorithm>

#include "host/common/gate_types.h"
#include "host/common/write_check.h"
#include "host/common/text_util.h"

namespace zamgate {

const char *OutcomeName(WriteOutcome outcome) {
  switch (outcome) {
    case WriteOutcome::kVerified: return "verified";
    case WriteOutcome::kNotApplied: return "not applied";
    case WriteOutcome::kReadBackFailed: return "read-back failed";
    case WriteOutcome::kWritten: return "written";
    case WriteOutcome::kDriverRefused: return "refused by the driver";
    case WriteOutcome::kStationRefused: return "refused by the station";
    case WriteOutcome::kNoReply: return "no reply";
    case WriteOutcome::kRejected: return "rejected";
    case WriteOutcome::kCancelled: return "cancelled";
    case WriteOutcome::kIgnored: return "ignored";
  }
  return "rejected";
}

namespace {

std::string LimitText(double limit) {
  char text[32];
  snprintf(text, sizeof text, "%.15g", limit);
  return text;
}

}  // namespace

bool WithinLimits(const n2host::Gate &gate, const n2host::GateValue &value, std::string *why) {
  const n2host::GateMeta &meta = gate.spec.meta;
  if (!meta.min && !meta.max) return true;
  const double number = value.type == kGateReal ? value.real : static_cast<double>(value.integer);
  if (meta.min && number < *meta.min) {
    *why = n2host::RawText(value) + " is below the gate's min " + LimitText(*meta.min);
    return false;
  }
  if (meta.max && number > *meta.max) {
    *why = n2host::RawText(value) + " is above the gate's max " + LimitText(*meta.max);
    return false;
  }
  return true;
}

WriteQueue::WriteQueue(std::vector<n2host::Gate> gates, std::vector<bool> writable, size_t capacity)
    : gates_(std::move(gates)), writable_(std::move(writable)), capacity_(capacity < 1 ? 1 : capacity) {}

bool WriteQueue::Check(const std::string &gateName, const std::string &valueText, QueuedWrite *write,
                       std::string *why) const {
  int index = -1;
  for (size_t i = 0; i < gates_.size(); ++i) {
    if (gates_[i].spec.name == gateName) index = static_cast<int>(i);
  }
  if (index < 0) {
    *why = "no gate named '" + gateName + "'";
    return false;
  }
  if (!writable_.at(static_cast<size_t>(index))) {
    *why = "gate '" + gateName + "' is not writable: the configuration does not list it under writable";
    return false;
  }
  const n2host::Gate &gate = gates_[static_cast<size_t>(index)];
  write->gateIndex = static_cast<size_t>(index);
  std::string_view text = n2host::Trim(valueText);
  std::optional<std::string> typed;
  if (!text.empty()) {
    typed = std::string(text);
  } else if (gate.meaning.kind != n2host::PointKind::kOverride) {
    *why = "no value given for '" + gateName + "'";
    return false;
  }
  // The same checks as zamhost write: the value read for the gate, then
  // every rule by which the driver would refuse it before sending.
  std::string reason;
  if (!n2host::PrepareWrite(gate, typed, &write->value, &reason)) {
    *why = gateName + ": " + reason;
    return false;
  }
  if (typed && !WithinLimits(gate, write->value, why)) {
    *why = gateName + ": " + *why;
    return false;
  }
  write->release = !typed;
  return true;
}

SubmitResult WriteQueue::Submit(const std::string &gateName, const std::string &valueText,
                                const std::string &requestId, WriteDone done) {
  SubmitResult submitted;
  QueuedWrite write;
  if (!Check(gateName, valueText, &write, &submitted.reason)) return submitted;
  write.result.gate = gateName;
  write.result.value = valueText;
  write.result.requestId = requestId;
  write.done = std::move(done);
  std::string down = LineRefusal(write.gateIndex);
  if (!down.empty()) {
    submitted.reason = down;
    return submitted;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    submitted.reason = "the gateway is stopping";
    return submitted;
  }
  if (queue_.size() >= capacity_) {
    submitted.reason = "the write queue is full (" + std::to_string(capacity_) + " writes waiting): try again later";
    return submitted;
  }
  queue_.push_back(std::move(write));
  submitted.queued = true;
  queued_.notify_one();
  return submitted;
}

std::optional<QueuedWrite> WriteQueue::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queue_.empty()) return std::nullopt;
  QueuedWrite write = std::move(queue_.front());
  queue_.pop_front();
  return write;
}

bool WriteQueue::WaitForWrite(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return queued_.wait_until(lock, deadline, [this] { return !queue_.empty() || closed_; }) && !queue_.empty();
}

void WriteQueue::Close() {
  std::deque<QueuedWrite> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    left.swap(queue_);
  }
  for (QueuedWrite &write : left) {
    write.result.outcome = WriteOutcome::kCancelled;
    write.result.text = "not written: the gateway stopped first";
    write.result.at = WallClock::now();
    if (write.done) write.done(write.result);
  }
}

bool WriteQueue::closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

void WriteQueue::SetStationDown(int32_t station, bool down) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto at = std::find(downStations_.begin(), downStations_.end(), station);
  if (down && at == downStations_.end()) downStations_.push_back(station);
  if (!down && at != downStations_.end()) downStations_.erase(at);
}

void WriteQueue::SetPortLost(bool lost, const std::string &text) {
  std::lock_guard<std::mutex> lock(mutex_);
  portLost_ = lost;
  portText_ = text;
}

std::string WriteQueue::LineRefusal(size_t gateIndex) const {
  const int32_t station = gates_.at(gateIndex).station;
  std::lock_guard<std::mutex> lock(mutex_);
  if (portLost_) return "not written: the port is lost (" + portText_ + "); nothing was sent";
  if (std::find(downStations_.begin(), downStations_.end(), station) != downStations_.end()) {
    return "not written: station " + std::to_string(station) +
           " does not answer its polls (demoted); writes are taken again once it answers";
  }
  return "";
}

size_t WriteQueue::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

}  // namespace zamgate
