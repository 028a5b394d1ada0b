// The one queue of writes that every face shares (MQTT sets, later Modbus
// writes). Submit checks a write completely before it is queued: the gate
// exists, the configuration marks it writable, and the value is one the
// driver will take for the gate. A write that fails a check never reaches the
// line; the queue is bounded and a full queue refuses with a reason. The poll
// thread takes the writes between its reads, carries them out, reads each
// back, and calls the write's completion with the outcome.
//
// Submit and Take are safe from any thread. Completions run on the poll
// thread and must not block.
#ifndef ZAMKT_ZAMGATE_WRITE_QUEUE_H
#define ZAMKT_ZAMGATE_WRITE_QUEUE_H

#include <stddef.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <stdint.h>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/common/gate.h"
#include "host/common/value_text.h"
#include "zamgate/core/gate_store.h"

namespace zamgate {

enum class WriteOutcome {
  kVerified,         // written, and the read-back holds the value as the device keeps it
  kNotApplied,       // acknowledged, but the read-back holds another value
  kReadBackFailed,   // acknowledged; the read-back failed
  kWritten,          // acknowledged; not read back (an override release)
  kDriverRefused,    // the driver refused it before sending a frame
  kStationRefused,   // the station answered with a refusal
  kNoReply,          // the station did not answer
  kRejected,         // refused at submit: never queued
  kCancelled,        // still queued when the gateway stopped
  kIgnored,          // a retained set: never carried out
};

// "verified", "not applied", ... as the result messages name outcomes.
const char *OutcomeName(WriteOutcome outcome);

struct WriteResult {
  std::string gate;       // the gate's name
  std::string value;      // as submitted
  std::string requestId;  // as submitted, for the caller to match
  WriteOutcome outcome = WriteOutcome::kRejected;
  std::string text;       // the outcome in words
  std::optional<n2host::GateValue> readBack;
  WallClock::time_point at{};
};

using WriteDone = std::function<void(const WriteResult &)>;

struct SubmitResult {
  bool queued = false;
  std::string reason;  // why not, when not queued
};

// A checked write waiting for the poll thread.
struct QueuedWrite {
  size_t gateIndex = 0;
  n2host::GateValue value;
  bool release = false;  // an N2 Open override release: no value is sent
  WriteResult result;    // gate, value and request id filled in
  WriteDone done;
};

// The gate's min and max from its metadata: false, naming the limit, for a
// value outside them.
bool WithinLimits(const n2host::Gate &gate, const n2host::GateValue &value, std::string *why);

class WriteQueue {
 public:
  // gates: the polled gates, in store order; writable: one flag per gate.
  WriteQueue(std::vector<n2host::Gate> gates, std::vector<bool> writable, size_t capacity);

  // Checks and queues a write of valueText (the gate's raw number or its own
  // form: 07:30, Mon-Fri, on ...; empty for an override release). On refusal
  // done is not called: the reason comes back here.
  SubmitResult Submit(const std::string &gateName, const std::string &valueText, const std::string &requestId,
                      WriteDone done);

  // Poll thread: the oldest queued write, if any.
  std::optional<QueuedWrite> Take();
  // Poll thread: waits until a write is queued or the deadline passes; true
  // when a write waits.
  bool WaitForWrite(std::chrono::steady_clock::time_point deadline);
  // Completes every queued write as cancelled and refuses further submits.
  void Close();
  bool closed() const;

  // Poll thread: the line as the poll last saw it. A write to a station that
  // does not answer its polls (demoted), or any write while the port is
  // lost, is refused at once rather than left to cost the line time-outs.
  void SetStationDown(int32_t station, bool down);
  void SetPortLost(bool lost, const std::string &text);
  // Why a write of the gate cannot go out now; "" when it can.
  std::string LineRefusal(size_t gateIndex) const;

  size_t capacity() const { return capacity_; }
  size_t size() const;
  const n2host::Gate &gate(size_t index) const { return gates_.at(index); }

 private:
  bool Check(const std::string &gateName, const std::string &valueText, QueuedWrite *write, std::string *why) const;

  const std::vector<n2host::Gate> gates_;
  const std::vector<bool> writable_;
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<QueuedWrite> queue_;
  bool closed_ = false;
  std::vector<int32_t> downStations_;
  bool portLost_ = false;
  std::string portText_;
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_WRITE_QUEUE_H
