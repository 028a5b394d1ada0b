#include "zamgate/core/poll_schedule.h"

#include <stdio.h>

#include <algorithm>

#include "zamgate/core/gate_metrics.h"

namespace zamgate {

PollSchedule::PollSchedule(const std::vector<n2host::PollRequest> &plan, const std::vector<n2host::Gate> &gates,
                           int defaultMs, const std::map<std::string, int> &classes) {
  std::map<std::string, size_t> counts;
  int shortest = defaultMs;
  bool anyDefault = false;
  for (const n2host::PollRequest &request : plan) {
    Entry entry;
    entry.intervalMs = -1;
    for (int index : request.gates) {
      const std::string &name = gates.at(static_cast<size_t>(index)).spec.meta.pollClass;
      auto found = classes.find(name);
      const int ms = found != classes.end() ? found->second : defaultMs;
      if (entry.intervalMs < 0 || ms < entry.intervalMs) {
        entry.intervalMs = ms;
        entry.pollClass = found != classes.end() ? name : "";
      }
    }
    if (entry.intervalMs < 0) entry.intervalMs = defaultMs;
    if (entry.pollClass.empty()) anyDefault = true;
    entry.rank = counts[entry.pollClass]++;
    entries_.push_back(entry);
  }
  // The tick is the shortest interval that some request uses.
  bool first = true;
  for (const Entry &entry : entries_) {
    if (first || entry.intervalMs < shortest) shortest = entry.intervalMs;
    first = false;
  }
  tickMs_ = entries_.empty() ? defaultMs : shortest;
  for (Entry &entry : entries_) {
    entry.of = counts[entry.pollClass];
    if (entry.intervalMs != tickMs_) active_ = true;
    figures_[entry.pollClass].intervalSeconds = entry.intervalMs / 1000.0;
  }
  (void)anyDefault;
}

bool PollSchedule::TakeIfDue(size_t request, Clock::time_point cycleStart) {
  if (request >= entries_.size()) return true;
  Entry &entry = entries_[request];
  const auto interval = std::chrono::milliseconds(entry.intervalMs);
  // Due within half a tick: a cycle that starts a little early still reads it.
  const auto slack = std::chrono::milliseconds(tickMs_ / 2);
  if (entry.sent && cycleStart + slack < entry.nextDue) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!entry.sent) {
    // After the first read a slow class's requests take their places
    // spread over its interval.
    entry.nextDue = entry.intervalMs > tickMs_ ? cycleStart + interval * static_cast<long>(entry.rank + 1) /
                                                                  static_cast<long>(entry.of)
                                               : cycleStart + interval;
  } else {
    const double period = std::chrono::duration<double>(cycleStart - entry.lastSent).count();
    ClassFigures &figures = figures_[entry.pollClass];
    // The period after the first read is not the class's pace: the first
    // cycle reads every gate, and a slow request's next read then takes its
    // place in the interval.
    if (entry.sends >= 2) {
      periodSums_[entry.pollClass] += period;
      ++figures.periods;
      figures.longestPeriodSeconds = std::max(figures.longestPeriodSeconds, period);
    }
    // A line that fell behind starts again from now rather than in a burst.
    entry.nextDue = std::max(entry.nextDue + interval, cycleStart + interval - slack);
  }
  entry.sent = true;
  ++entry.sends;
  entry.lastSent = cycleStart;
  return true;
}

std::map<std::string, PollSchedule::ClassFigures> PollSchedule::Figures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::map<std::string, ClassFigures> out = figures_;
  for (auto &[name, figures] : out) {
    auto sum = periodSums_.find(name);
    figures.meanPeriodSeconds = figures.periods > 0 && sum != periodSums_.end() ? sum->second / figures.periods : 0;
  }
  return out;
}

std::string PollSchedule::MetricsText(const std::string &gatewayId) const {
  std::string interval, mean, longest;
  const std::string gateway = "gateway=\"" + PromLabelValue(gatewayId) + "\"";
  auto number = [](double value) {
    char text[40];
    snprintf(text, sizeof text, "%.6g", value);
    return std::string(text);
  };
  for (const auto &[name, figures] : Figures()) {
    const std::string labels = "{" + gateway + ",class=\"" + PromLabelValue(name.empty() ? "default" : name) + "\"} ";
    interval += "zamgate_poll_class_interval_seconds" + labels + number(figures.intervalSeconds) + "\n";
    mean += "zamgate_poll_class_period_seconds" + labels + number(figures.meanPeriodSeconds) + "\n";
    longest += "zamgate_poll_class_longest_period_seconds" + labels + number(figures.longestPeriodSeconds) + "\n";
  }
  return "# HELP zamgate_poll_class_interval_seconds The interval a poll class asks for\n"
         "# TYPE zamgate_poll_class_interval_seconds gauge\n" + interval +
         "# HELP zamgate_poll_class_period_seconds Mean time between two reads of a poll class's requests\n"
         "# TYPE zamgate_poll_class_period_seconds gauge\n" + mean +
         "# HELP zamgate_poll_class_longest_period_seconds Longest time between two reads of a poll class's requests\n"
         "# TYPE zamgate_poll_class_longest_period_seconds gauge\n" + longest;
}

}  // namespace zamgate
