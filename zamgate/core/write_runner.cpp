#include "zamgate/core/write_runner.h"

#include "host/common/stored_value.h"
#include "host/common/value_buffer.h"
#include "host/common/write_outcome.h"

namespace zamgate {
namespace {

// The shared classification of a failed command 7 in the gateway's outcomes.
WriteOutcome OutcomeOf(n2host::WriteResult result) {
  switch (result) {
    case n2host::WriteResult::kDriverRefused: return WriteOutcome::kDriverRefused;
    case n2host::WriteResult::kStationRefused:
    case n2host::WriteResult::kBadReply: return WriteOutcome::kStationRefused;
    case n2host::WriteResult::kNoReply: return WriteOutcome::kNoReply;
    case n2host::WriteResult::kWritten: break;
  }
  return WriteOutcome::kWritten;
}

}  // namespace

WriteRunner::WriteRunner(n2host::Channel &channel, WriteQueue &queue, GateStore &store, const EventLog &events)
    : channel_(channel), queue_(queue), store_(store), events_(events) {}

void WriteRunner::RunPending() {
  // Only the writes queued now: a stream of sets cannot hold the poll up for ever.
  for (size_t left = queue_.size(); left > 0; --left) {
    if (!RunOne()) return;
  }
}

bool WriteRunner::RunOne() {
  busy_ = true;
  std::optional<QueuedWrite> write = queue_.Take();
  if (write) Run(*write);
  busy_ = false;
  return write.has_value();
}

void WriteRunner::Run(QueuedWrite &write) {
  const n2host::Gate &gate = queue_.gate(write.gateIndex);
  WriteResult &result = write.result;
  n2host::ValueBuffer buffer;
  buffer.Store(write.value);
  // The station went silent or the port was lost while the write waited:
  // refused now, with the reason, instead of costing the line time-outs.
  std::string refusal = queue_.LineRefusal(write.gateIndex);
  int32_t status = 0;
  if (!refusal.empty()) {
    result.outcome = WriteOutcome::kRejected;
    result.text = refusal;
  } else if ((status = channel_.Write(gate, &buffer)) != 0) {
    n2host::WriteOutcome outcome = n2host::ClassifyWrite(status, channel_.lastMessages());
    result.outcome = OutcomeOf(outcome.result);
    result.text = outcome.text;
  } else if (write.release) {
    store_.GateWritten(write.gateIndex);
    result.outcome = WriteOutcome::kWritten;
    result.text = "override released (override tags are not read back)";
  } else {
    // Acknowledged: a poll read that went out before now holds the old value.
    store_.GateWritten(write.gateIndex);
    n2host::ValueBuffer readBack;
    int32_t readStatus = channel_.Read(gate, &readBack);
    if (readStatus != 0) {
      result.outcome = WriteOutcome::kReadBackFailed;
      result.text = "written, but the read-back failed (" + n2host::StatusWord(readStatus) + ")";
    } else {
      n2host::GateValue held = readBack.Single(gate.type);
      result.readBack = held;
      store_.UpdateGate(write.gateIndex, "ok", held, false, WallClock::now());
      if (n2host::WriteApplied(gate.meaning, write.value, held)) {
        result.outcome = WriteOutcome::kVerified;
        result.text = "written and verified: reads back " + n2host::ValueText(gate.meaning, held);
      } else {
        result.outcome = WriteOutcome::kNotApplied;
        result.text = "the station acknowledged but reads back " + n2host::ValueText(gate.meaning, held) +
                      " instead of " + n2host::ValueText(gate.meaning, n2host::StoredValue(gate.meaning, write.value)) +
                      ": the point may be held by the device's own logic or by an override";
      }
    }
  }
  result.at = WallClock::now();
  events_.Add("write " + result.gate + " = " + (result.value.empty() ? "(release)" : result.value) + ": " + result.text);
  if (observer_) observer_(result);
  if (write.done) write.done(result);
}

}  // namespace zamgate
