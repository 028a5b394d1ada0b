#include "zamgate/write_runner.h"

#include "host/common/stored_value.h"
#include "host/common/value_buffer.h"

namespace zamgate {
namespace {

bool Has(const std::string &text, const char *part) { return text.find(part) != std::string::npos; }

// Messages by which the driver says it refused a write itself, before any
// frame went out: read-only points, values it cannot encode, tags it cannot write.
const char *const kDriverRefusals[] = {"read only", "out of range", "exceeds", "Write not supported", "invalid",
                                       "no value buffer", "longer than"};

// What follows the marker in the message: a station's refusal code and text.
std::string After(const std::string &text, const std::string &marker) {
  size_t at = text.find(marker);
  return at == std::string::npos ? "" : text.substr(at + marker.size());
}

std::string Joined(const std::vector<n2host::DriverMessage> &messages) {
  std::string text;
  for (const n2host::DriverMessage &message : messages) text += (text.empty() ? "" : "; ") + message.text;
  return text;
}

}  // namespace

WriteOutcome ClassifyWriteFailure(int32_t writeStatus, const std::vector<n2host::DriverMessage> &messages,
                                  std::string *text) {
  if (writeStatus == n2host::kStatusNoReply) {
    *text = "no reply: the station did not answer the write";
    return WriteOutcome::kNoReply;
  }
  for (const n2host::DriverMessage &message : messages) {
    // System 91: "Write failed! ErrorCode 11 H"; N2 Open: "failed. Tag address GAS: text".
    std::string code = After(message.text, "ErrorCode ");
    if (!code.empty()) {
      while (!code.empty() && (code.back() == ' ' || code.back() == 'H')) code.pop_back();
      *text = "the station refused (N" + code + ")";
      return WriteOutcome::kStationRefused;
    }
    if (Has(message.text, "DoWriteItem() failed. Tag address")) {
      *text = "the station refused (" + After(After(message.text, "Tag address "), ": ") + ")";
      return WriteOutcome::kStationRefused;
    }
  }
  for (const n2host::DriverMessage &message : messages) {
    for (const char *refusal : kDriverRefusals) {
      if (Has(message.text, refusal)) {
        *text = "refused by the driver before sending: " + message.text;
        return WriteOutcome::kDriverRefused;
      }
    }
  }
  *text = "the station's reply was not an acknowledgement" + (messages.empty() ? "" : ": " + Joined(messages));
  return WriteOutcome::kStationRefused;
}

WriteRunner::WriteRunner(n2host::Channel &channel, WriteQueue &queue, GateStore &store, MessageCapture &capture,
                         const EventLog &events)
    : channel_(channel), queue_(queue), store_(store), capture_(capture), events_(events) {}

void WriteRunner::RunPending() {
  // Only the writes queued now: a stream of sets cannot hold the poll up for ever.
  for (size_t left = queue_.size(); left > 0; --left) {
    std::optional<QueuedWrite> write = queue_.Take();
    if (!write) return;
    Run(*write);
  }
}

void WriteRunner::Run(QueuedWrite &write) {
  const n2host::Gate &gate = queue_.gate(write.gateIndex);
  WriteResult &result = write.result;
  n2host::ValueBuffer buffer;
  buffer.Store(write.value);
  capture_.messages.clear();
  capture_.active = true;
  int32_t status = channel_.Write(gate, &buffer);
  capture_.active = false;
  if (status != 0) {
    result.outcome = ClassifyWriteFailure(status, capture_.messages, &result.text);
  } else if (write.release) {
    result.outcome = WriteOutcome::kWritten;
    result.text = "override released (override tags are not read back)";
  } else {
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
