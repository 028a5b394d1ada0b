// The gate store's quality of a gate through a run of reads, and when its
// listeners hear of it: only a change of value or quality is news.
#include <gtest/gtest.h>

#include "zamgate/core/gate_store.h"

namespace {

using zamgate::Quality;

n2host::GateValue Real(double value) { return n2host::GateValue{3, value, 0}; }

TEST(ZamgateStore, QualityFollowsReadsAndTheStationsDemotion) {
  struct Step {
    const char *status;
    std::optional<n2host::GateValue> value;
    bool demoted;
    Quality quality;
    bool news;  // the listeners hear of it
  };
  const Step steps[] = {
      {"no reply", std::nullopt, false, Quality::kFailed, false},  // failed from the start: no change
      {"no reply", std::nullopt, true, Quality::kFailed, false},   // demoted, but nothing good to show
      {"ok", Real(21.5), false, Quality::kGood, true},
      {"ok", Real(21.5), false, Quality::kGood, false},            // the same value again
      {"ok", Real(21.75), false, Quality::kGood, true},
      {"no reply", std::nullopt, false, Quality::kFailed, true},   // not yet demoted
      {"waiting", std::nullopt, true, Quality::kStale, true},      // demoted: the last good value
      {"waiting", std::nullopt, true, Quality::kStale, false},
      {"ok", Real(21.75), false, Quality::kGood, true},            // back: same value, new quality
  };
  zamgate::GateStore store("bus1", {zamgate::GateState{}});
  int heard = 0;
  store.AddGateListener([&heard](const zamgate::GateState &) { ++heard; });
  int expectHeard = 0;
  const auto start = zamgate::WallClock::now();
  for (size_t i = 0; i < std::size(steps); ++i) {
    const Step &step = steps[i];
    store.UpdateGate(0, step.status, step.value, step.demoted, start + std::chrono::seconds(i));
    zamgate::GateState gate = store.Gate(0);
    EXPECT_EQ(gate.quality, step.quality) << "step " << i;
    expectHeard += step.news ? 1 : 0;
    EXPECT_EQ(heard, expectHeard) << "step " << i;
    EXPECT_EQ(gate.status, step.status);
  }
  // The stale value kept its time: the age counts from the last good read.
  EXPECT_EQ(store.Gate(0).value.real, 21.75);
}

TEST(ZamgateStore, KeepsTheLastEventsOnly) {
  zamgate::GateStore store("bus1", {}, 3);
  for (int i = 1; i <= 5; ++i) store.AddEvent("event " + std::to_string(i));
  zamgate::StoreSnapshot snapshot = store.Snapshot();
  ASSERT_EQ(snapshot.events.size(), 3u);
  EXPECT_EQ(snapshot.events.front().text, "event 3");
  EXPECT_EQ(snapshot.events.back().text, "event 5");
}

TEST(ZamgateStore, IsoTimeIsUtcWithMilliseconds) {
  EXPECT_EQ(zamgate::IsoTime(zamgate::WallClock::time_point(std::chrono::milliseconds(1700000000123))),
            "2023-11-14T22:13:20.123Z");
}

}  // namespace
