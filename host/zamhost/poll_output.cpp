#include "host/zamhost/poll_output.h"

#include <sys/time.h>
#include <time.h>

#include <algorithm>
#include <deque>

#include "host/common/gate_types.h"
#include "host/zamhost/text_table.h"

namespace zamhost {

using namespace n2host;
namespace {

constexpr size_t kRecentLines = 6;

std::string ValueColumn(const GateReading &reading) { return reading.hasValue ? RawText(reading.value) : "-"; }

std::string MeaningColumn(const Gate &gate, const GateReading &reading) {
  return reading.hasValue ? MeaningText(gate.meaning, reading.value) : "";
}

std::string StationState(const StationHealth &health, int32_t station) {
  return health.Demoted(station) ? "demoted" : "active";
}

std::vector<std::string> StationLines(const StationHealth &health) {
  std::vector<std::vector<std::string>> rows = {{"station", "state", "requests", "failures"}};
  for (const auto &[station, stats] : health.stations()) {
    rows.push_back({std::to_string(station), StationState(health, station), std::to_string(stats.requests),
                    std::to_string(stats.failures)});
  }
  return AlignRows(rows);
}

class TableOutput : public PollOutput {
 public:
  TableOutput(FILE *out, bool terminal) : out_(out), terminal_(terminal) {}

  void Start(const std::vector<std::string> &planLines) override {
    for (const std::string &line : planLines) fprintf(out_, "%s\n", line.c_str());
    fprintf(out_, "\n");
    fflush(out_);
  }

  void Cycle(const CycleView &view) override {
    std::vector<std::string> lines;
    lines.push_back("cycle " + std::to_string(view.cycle) + "  " + view.time);
    std::vector<std::vector<std::string>> rows = {{"name", "gas", "type", "value", "meaning", "status", "read"}};
    for (size_t i = 0; i < view.gates->size(); ++i) {
      const Gate &gate = (*view.gates)[i];
      const GateReading &reading = (*view.readings)[i];
      rows.push_back({gate.spec.name, gate.spec.gas, GateTypeName(gate.type), ValueColumn(reading),
                      MeaningColumn(gate, reading), reading.status, reading.via});
    }
    for (const std::string &line : AlignRows(rows)) lines.push_back(line);
    lines.push_back("");
    for (const std::string &line : StationLines(*view.health)) lines.push_back(line);
    if (terminal_ && !recent_.empty()) {
      lines.push_back("");
      for (const std::string &line : recent_) lines.push_back(line);
    }
    if (terminal_ && drawn_ > 0) fprintf(out_, "\x1b[%dA\r\x1b[J", drawn_);
    for (const std::string &line : lines) fprintf(out_, "%s\n", line.c_str());
    if (!terminal_) {
      for (const std::string &line : recent_) fprintf(out_, "%s\n", line.c_str());
      recent_.clear();
      fprintf(out_, "\n");
    }
    drawn_ = static_cast<int>(lines.size());
    fflush(out_);
  }

  void Event(const std::string &time, const std::string &text) override { Remember(time.substr(11, 12) + "  " + text); }

  bool Message(const DriverMessage &message) override {
    if (!terminal_) return false;  // standard error keeps them apart from the tables
    Remember("driver: " + message.text);
    return true;
  }

  void Finish(const CycleView &) override {
    if (!terminal_) {
      for (const std::string &line : recent_) fprintf(out_, "%s\n", line.c_str());
    }
    fflush(out_);
  }

 private:
  void Remember(const std::string &line) {
    recent_.push_back(line);
    if (terminal_ && recent_.size() > kRecentLines) recent_.pop_front();
  }

  FILE *out_;
  bool terminal_;
  int drawn_ = 0;
  std::deque<std::string> recent_;
};

class CsvOutput : public PollOutput {
 public:
  explicit CsvOutput(FILE *out) : out_(out) {}

  void Start(const std::vector<std::string> &planLines) override {
    for (const std::string &line : planLines) fprintf(stderr, "zamhost: %s\n", line.c_str());
    fprintf(out_, "time,cycle,name,gas,type,status,value,text,read\n");
    fflush(out_);
  }

  void Cycle(const CycleView &view) override {
    for (size_t i = 0; i < view.gates->size(); ++i) {
      const Gate &gate = (*view.gates)[i];
      const GateReading &reading = (*view.readings)[i];
      if (!reading.readThisCycle) continue;
      fprintf(out_, "%s,%d,%s,%s,%s,%s,%s,%s,%s\n", CsvField(reading.time).c_str(), view.cycle,
              CsvField(gate.spec.name).c_str(), CsvField(gate.spec.gas).c_str(), GateTypeName(gate.type).c_str(),
              CsvField(reading.status).c_str(), reading.hasValue ? RawText(reading.value).c_str() : "",
              CsvField(MeaningColumn(gate, reading)).c_str(), CsvField(reading.via).c_str());
    }
    fflush(out_);
  }

  void Event(const std::string &time, const std::string &text) override {
    fprintf(stderr, "zamhost: %s %s\n", time.c_str(), text.c_str());
  }

  bool Message(const DriverMessage &) override { return false; }

  void Finish(const CycleView &view) override {
    for (const std::string &line : StationLines(*view.health)) fprintf(stderr, "zamhost: %s\n", line.c_str());
  }

 private:
  FILE *out_;
};

class JsonOutput : public PollOutput {
 public:
  explicit JsonOutput(FILE *out) : out_(out) {}

  void Start(const std::vector<std::string> &planLines) override {
    for (const std::string &line : planLines) fprintf(stderr, "zamhost: %s\n", line.c_str());
  }

  void Cycle(const CycleView &view) override {
    for (size_t i = 0; i < view.gates->size(); ++i) {
      const Gate &gate = (*view.gates)[i];
      const GateReading &reading = (*view.readings)[i];
      if (!reading.readThisCycle) continue;
      std::string meaning = MeaningColumn(gate, reading);
      fprintf(out_,
              "{\"record\":\"gate\",\"time\":%s,\"cycle\":%d,\"name\":%s,\"gas\":%s,\"type\":%s,\"station\":%d,"
              "\"status\":%s,\"value\":%s,\"text\":%s,\"read\":%s}\n",
              JsonString(reading.time).c_str(), view.cycle, JsonString(gate.spec.name).c_str(),
              JsonString(gate.spec.gas).c_str(), JsonString(GateTypeName(gate.type)).c_str(), gate.station,
              JsonString(reading.status).c_str(), reading.hasValue ? RawText(reading.value).c_str() : "null",
              meaning.empty() ? "null" : JsonString(meaning).c_str(), JsonString(reading.via).c_str());
    }
    for (const auto &[station, stats] : view.health->stations()) {
      fprintf(out_,
              "{\"record\":\"station\",\"time\":%s,\"cycle\":%d,\"station\":%d,\"state\":%s,\"requests\":%d,"
              "\"failures\":%d}\n",
              JsonString(view.time).c_str(), view.cycle, station,
              JsonString(StationState(*view.health, station)).c_str(), stats.requests, stats.failures);
    }
    fflush(out_);
  }

  void Event(const std::string &time, const std::string &text) override {
    fprintf(out_, "{\"record\":\"event\",\"time\":%s,\"text\":%s}\n", JsonString(time).c_str(),
            JsonString(text).c_str());
    fflush(out_);
  }

  bool Message(const DriverMessage &) override { return false; }

  void Finish(const CycleView &) override {}

 private:
  FILE *out_;
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

std::string CsvField(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string JsonString(const std::string &text) {
  std::string out = "\"";
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace zamhost
