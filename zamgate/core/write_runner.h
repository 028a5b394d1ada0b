// Carries out the queued writes on the poll thread, between reads: command 7,
// then a read of the gate to see what the device holds, and the outcome in
// the terms a user acts on. The read-back becomes the gate's current value.
#ifndef ZAMKT_ZAMGATE_WRITE_RUNNER_H
#define ZAMKT_ZAMGATE_WRITE_RUNNER_H

#include <atomic>
#include <functional>
#include <vector>

#include "host/common/channel.h"
#include "zamgate/core/event_log.h"
#include "zamgate/core/gate_store.h"
#include "zamgate/core/write_queue.h"

namespace zamgate {

class WriteRunner {
 public:
  WriteRunner(n2host::Channel &channel, WriteQueue &queue, GateStore &store, const EventLog &events);

  // Every write queued now, one after another (until the queue is closed).
  void RunPending();
  // At most one queued write: the poll runs one between two of its requests,
  // so that writes never take the line from the reads. True when one ran.
  bool RunOne();
  // True while a write is on the line (any thread).
  bool busy() const { return busy_; }
  // Also told of every finished write (metrics).
  void SetResultObserver(std::function<void(const WriteResult &)> observer) { observer_ = std::move(observer); }

 private:
  void Run(QueuedWrite &write);

  n2host::Channel &channel_;
  WriteQueue &queue_;
  GateStore &store_;
  const EventLog &events_;
  std::function<void(const WriteResult &)> observer_;
  std::atomic<bool> busy_{false};
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_WRITE_RUNNER_H
