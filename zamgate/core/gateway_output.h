// The poll's results into the store: after every cycle each gate read in it
// gets its new value or failure, and the stations their health; the
// stations' changes of state become events.
#ifndef ZAMKT_ZAMGATE_GATEWAY_OUTPUT_H
#define ZAMKT_ZAMGATE_GATEWAY_OUTPUT_H

#include <functional>

#include "host/common/poll_output.h"
#include "host/common/poll_plan.h"
#include "zamgate/core/event_log.h"
#include "zamgate/core/gate_store.h"

namespace zamgate {

class GatewayOutput : public n2host::PollOutput {
 public:
  GatewayOutput(GateStore &store, const EventLog &events) : store_(store), events_(events) {}

  // Called after every cycle's store update (the MQTT refresh, metrics);
  // portChanged when the port was lost or came back in the cycle.
  using AfterCycle = std::function<void(const n2host::CycleView &, bool portChanged)>;
  void SetAfterCycle(AfterCycle after) { after_ = std::move(after); }
  // Each station's family, for the stations' states.
  void SetFamilies(std::function<std::string(int32_t)> families) { families_ = std::move(families); }

  // After each request: the values it read go to the store at once, so that
  // a change is published within a cycle of happening. Failures wait for the
  // cycle's end, where the stations' health says whether they are stale.
  void Request(const n2host::PollRequest &request, int32_t status, const std::vector<n2host::GateReading> &readings);

  // Good values not read for kStaleAfterIntervals intervals turn stale: also
  // between requests, so that a cycle held up cannot keep them good.
  void AgeOut(int intervalMs);

  void Start(const std::vector<std::string> &planLines) override;
  void Cycle(const n2host::CycleView &view) override;
  void Event(const std::string &time, const std::string &text) override;
  bool Message(const n2host::DriverMessage &) override { return false; }
  void Finish(const n2host::CycleView &) override {}

 private:
  GateStore &store_;
  const EventLog &events_;
  AfterCycle after_;
  std::function<std::string(int32_t)> families_;
  bool portOpen_ = true;
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_GATEWAY_OUTPUT_H
