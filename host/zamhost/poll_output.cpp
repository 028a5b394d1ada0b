#include "host/zamhost/poll_output.h"

#include <sys/time.h>
#include <time.h>

#include <math.h>

#include <algorithm>
#include <deque>

#include "host/common/gate_types.h"
#include "host/zamhost/screen.h"
#include "host/zamhost/text_table.h"

namespace zamhost {

using namespace n2host;
namespace {

constexpr size_t kRecentLines = 6;

std::string MeaningColumn(const Gate &gate, const GateReading &reading) {
  return reading.hasValue ? MeaningText(gate.meaning, reading.value) : "";
}

std::string StationState(const StationHealth &health, int32_t station) {
  return health.Demoted(station) ? "demoted" : "active";
}

std::string Ms(double ms) { return ms < 0 ? "-" : std::to_string(static_cast<long>(std::lround(ms))); }

std::string Percent(double share) {
  char text[16];
  snprintf(text, sizeof text, "%.1f%%", share * 100);
  return text;
}

std::vector<std::string> StationLines(const StationHealth &health) {
  std::vector<std::vector<std::string>> rows = {
      {"station", "state", "requests", "failures", "good", "median ms", "p95 ms", "last reply"}};
  for (const auto &[station, stats] : health.stations()) {
    rows.push_back({std::to_string(station), StationState(health, station), std::to_string(stats.requests),
                    std::to_string(stats.failures), stats.requests == 0 ? "-" : Percent(GoodShare(stats)),
                    Ms(ResponsePercentileMs(stats, 50)), Ms(ResponsePercentileMs(stats, 95)),
                    stats.lastReply.empty() ? "-" : stats.lastReply.substr(11, 12)});
  }
  return AlignRows(rows);
}

std::string PortWord(const CycleView &view) { return view.port == nullptr ? "open" : view.port->Describe(); }

// On standard error, beside CSV and JSON: a cycle that took longer than the
// interval, and a port that is lost.
void CycleNotes(const CycleView &view) {
  if (view.intervalMs > 0 && view.durationMs > view.intervalMs) {
    fprintf(stderr, "zamhost: cycle %d took %.0f ms, longer than the interval of %d ms\n", view.cycle,
            view.durationMs, view.intervalMs);
  }
}

// The value column: the value read, or for a gate whose station did not
// answer this time the last good value and its age.
std::string TableValue(const GateReading &reading) {
  if (reading.hasValue) return RawText(reading.value);
  if (!reading.hasLastGood) return "-";
  char age[32];
  snprintf(age, sizeof age, "%.0f s ago", LastGoodAgeSeconds(reading));
  return "last " + RawText(reading.lastGood) + ", " + age;
}

class TableOutput : public PollOutput {
 public:
  TableOutput(FILE *out, bool terminal) : out_(out), terminal_(terminal), screen_(out) {}

  void Start(const std::vector<std::string> &planLines) override {
    for (const std::string &line : planLines) fprintf(out_, "%s\n", line.c_str());
    fprintf(out_, "\n");
    fflush(out_);
  }

  void Cycle(const CycleView &view) override {
    ScreenContent content;
    char title[160];
    snprintf(title, sizeof title, "cycle %d  %s  took %.0f ms%s  port %s", view.cycle, view.time.c_str(),
             view.durationMs, view.intervalMs > 0 && view.durationMs > view.intervalMs ? " (over the interval)" : "",
             PortWord(view).c_str());
    content.head.push_back(title);
    std::vector<std::vector<std::string>> rows = {{"name", "gas", "type", "value", "meaning", "status", "read"}};
    for (size_t i = 0; i < view.gates->size(); ++i) {
      const Gate &gate = (*view.gates)[i];
      const GateReading &reading = (*view.readings)[i];
      rows.push_back({gate.spec.name, gate.spec.gas, GateTypeName(gate.type), TableValue(reading),
                      MeaningColumn(gate, reading), reading.status, reading.via});
    }
    std::vector<std::string> aligned = AlignRows(rows);
    content.head.push_back(aligned.front());
    content.rows.assign(aligned.begin() + 1, aligned.end());
    content.tail.push_back("");
    for (const std::string &line : StationLines(*view.health)) content.tail.push_back(line);
    if (terminal_) {
      if (!recent_.empty()) content.tail.push_back("");
      for (const std::string &line : recent_) content.tail.push_back(line);
      screen_.Show(content);
      last_ = content;
      return;
    }
    Print(content);
    for (const std::string &line : recent_) fprintf(out_, "%s\n", line.c_str());
    recent_.clear();
    fprintf(out_, "\n");
    fflush(out_);
  }

  void Event(const std::string &time, const std::string &text) override { Remember(time.substr(11, 12) + "  " + text); }

  bool Message(const DriverMessage &message) override {
    if (!terminal_) return false;  // standard error keeps them apart from the tables
    Remember("driver: " + message.text);
    return true;
  }

  void Finish(const CycleView &) override {
    if (terminal_) {
      // The alternate screen goes; the last table stays on the normal one.
      screen_.Leave();
      Print(last_);
    }
    for (const std::string &line : recent_) fprintf(out_, "%s\n", line.c_str());
    fflush(out_);
  }

 private:
  void Print(const ScreenContent &content) {
    for (const std::vector<std::string> *part : {&content.head, &content.rows, &content.tail}) {
      for (const std::string &line : *part) fprintf(out_, "%s\n", line.c_str());
    }
  }

  void Remember(const std::string &line) {
    recent_.push_back(line);
    if (terminal_ && recent_.size() > kRecentLines) recent_.pop_front();
  }

  FILE *out_;
  bool terminal_;
  Screen screen_;
  ScreenContent last_;
  std::deque<std::string> recent_;
};

// The columns of a gate's row in CSV and JSON. "quality" says why a value
// is missing or old: "not finite", "last good" (a value kept from an earlier
// cycle, its age in last_good_age_s), or empty.
std::vector<Column> GateColumns(bool json) {
  std::vector<Column> columns = {{"time"}, {"cycle"}, {"name"}, {"gas"}, {"type"}, {"status"}, {"value"},
                                 {"text"}, {"read"}, {"station"}, {"quality"}, {"last_good"}, {"last_good_age_s"}};
  if (json) columns.insert(columns.begin(), Column{"record"});
  return columns;
}

std::vector<nlohmann::json> GateValues(const CycleView &view, size_t i) {
  const Gate &gate = (*view.gates)[i];
  const GateReading &reading = (*view.readings)[i];
  nlohmann::json value = reading.hasValue ? RawValueJson(reading.value) : nlohmann::json();
  std::string quality;
  if (reading.hasValue && value.is_null()) quality = "not finite";
  nlohmann::json lastGood, age;
  if (!reading.hasValue && reading.hasLastGood) {
    quality = "last good";
    lastGood = RawValueJson(reading.lastGood);
    age = std::round(LastGoodAgeSeconds(reading) * 10) / 10;
  }
  std::string meaning = MeaningColumn(gate, reading);
  return {reading.time, view.cycle, gate.spec.name, gate.spec.gas, GateTypeName(gate.type), reading.status, value,
          meaning.empty() ? nlohmann::json() : nlohmann::json(meaning), reading.via, gate.station,
          quality.empty() ? nlohmann::json() : nlohmann::json(quality), lastGood, age};
}

class CsvOutput : public PollOutput {
 public:
  explicit CsvOutput(FILE *out) : rows_(OutputFormat::kCsv, out, GateColumns(false)) {}

  void Start(const std::vector<std::string> &planLines) override {
    for (const std::string &line : planLines) fprintf(stderr, "zamhost: %s\n", line.c_str());
  }

  void Cycle(const CycleView &view) override {
    for (size_t i = 0; i < view.gates->size(); ++i) {
      if ((*view.readings)[i].readThisCycle) rows_.Row(GateValues(view, i));
    }
    CycleNotes(view);
  }

  void Event(const std::string &time, const std::string &text) override {
    fprintf(stderr, "zamhost: %s %s\n", time.c_str(), text.c_str());
  }

  bool Message(const DriverMessage &) override { return false; }

  void Finish(const CycleView &view) override {
    for (const std::string &line : StationLines(*view.health)) fprintf(stderr, "zamhost: %s\n", line.c_str());
  }

 private:
  ResultRows rows_;
};

class JsonOutput : public PollOutput {
 public:
  explicit JsonOutput(FILE *out)
      : out_(out),
        gates_(OutputFormat::kJson, out, GateColumns(true)),
        stations_(OutputFormat::kJson, out,
                  {{"record"}, {"time"}, {"cycle"}, {"station"}, {"state"}, {"requests"}, {"failures"},
                   {"good_share"}, {"median_ms"}, {"p95_ms"}, {"last_reply"}}),
        events_(OutputFormat::kJson, out, {{"record"}, {"time"}, {"text"}}),
        cycles_(OutputFormat::kJson, out, {{"record"}, {"time"}, {"cycle"}, {"duration_ms"}, {"port"}}) {}

  void Start(const std::vector<std::string> &planLines) override {
    for (const std::string &line : planLines) fprintf(stderr, "zamhost: %s\n", line.c_str());
  }

  void Cycle(const CycleView &view) override {
    for (size_t i = 0; i < view.gates->size(); ++i) {
      if (!(*view.readings)[i].readThisCycle) continue;
      std::vector<nlohmann::json> values = GateValues(view, i);
      values.insert(values.begin(), "gate");
      gates_.Row(values);
    }
    for (const auto &[station, stats] : view.health->stations()) {
      double median = ResponsePercentileMs(stats, 50), p95 = ResponsePercentileMs(stats, 95);
      stations_.Row({"station", view.time, view.cycle, station, StationState(*view.health, station), stats.requests,
                     stats.failures, std::round(GoodShare(stats) * 1000) / 1000,
                     median < 0 ? nlohmann::json() : nlohmann::json(std::round(median * 10) / 10),
                     p95 < 0 ? nlohmann::json() : nlohmann::json(std::round(p95 * 10) / 10),
                     stats.lastReply.empty() ? nlohmann::json() : nlohmann::json(stats.lastReply)});
    }
    cycles_.Row({"cycle", view.time, view.cycle, std::round(view.durationMs), PortWord(view)});
    CycleNotes(view);
  }

  void Event(const std::string &time, const std::string &text) override { events_.Row({"event", time, text}); }

  bool Message(const DriverMessage &) override { return false; }

  void Finish(const CycleView &view) override {
    for (const std::string &line : StationLines(*view.health)) fprintf(stderr, "zamhost: %s\n", line.c_str());
    fflush(out_);
  }

 private:
  FILE *out_;
  ResultRows gates_, stations_, events_, cycles_;
};

}  // namespace

std::unique_ptr<PollOutput> MakePollOutput(PollFormat format, FILE *out, bool terminal) {
  switch (format) {
    case PollFormat::kCsv:
      return std::make_unique<CsvOutput>(out);
    case PollFormat::kJson:
      return std::make_unique<JsonOutput>(out);
    default:
      return std::make_unique<TableOutput>(out, terminal);
  }
}

}  // namespace zamhost
