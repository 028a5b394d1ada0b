#include "tests/soak/soak_run.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <map>

#include "driver/zam_main.h"
#include "sim/plant.h"
#include "tests/soak/soak_oracle.h"

namespace soak {

namespace {

// The plant's clock stands still here, so that what the driver reads and what
// the soak looks up are the same values.
constexpr double kNow = e2e::kFrozenTime;

// How often each kind of request is drawn.
constexpr int kKindWeights[kKinds] = {
    22,  // read
    8,   // block-read
    7,   // write-real
    7,   // write-bit
    6,   // write-field
    5,   // write-word
    4,   // write-counter
    4,   // write-schedule
    2,   // write-clock
    12,  // n2open-read
    4,   // n2open-override-read
    8,   // n2open-write
    4,   // n2open-release
    3,   // warm-start
};

// How long the line must stay quiet after a request with a late reply, and
// how long the soak waits for that.
constexpr int kQuietMs = 30;
constexpr int kSettleLimitMs = 120000;

bool IsReadKind(Kind kind) {
  return kind == Kind::kRead || kind == Kind::kN2OpenRead || kind == Kind::kN2OpenOverrideRead ||
         kind == Kind::kBlockRead;
}

}  // namespace

std::string FaultStatements(double rate, int timeoutMs) {
  struct Share {
    const char *kind;
    double weight;
    std::string parameter;
  };
  // On every station: replies that do not come, come wrong or come slowly
  // but within the time-out, and restarts.
  const Share kStation[] = {
      {"silence", 2, ""},        {"nak", 2, "code=12"}, {"badsum", 1.5, ""},
      {"noise", 1.5, "bytes=3"}, {"cut", 1, ""},        {"delay", 1, "ms=" + std::to_string(timeoutMs / 8)},
      {"dribble", 1, "ms=2"},    {"reset", 0.5, ""},
  };
  // On the bus: replies held back beyond the time-out.
  const Share kBus[] = {
      {"delay", 0.6, "ms=" + std::to_string(timeoutMs * 3 / 2)},
      {"dribble", 0.05, "ms=" + std::to_string(timeoutMs * 5 / 4)},
  };
  double total = 0;
  for (const Share &s : kStation) total += s.weight;
  for (const Share &s : kBus) total += s.weight;
  std::string text;
  auto line = [&](const std::string &scope, const Share &s) {
    char probability[32];
    snprintf(probability, sizeof probability, "%.6f", rate * s.weight / total);
    text += "fault " + scope + " " + s.kind + " " + probability + " " + s.parameter + "\n";
  };
  for (int station : {kDX9100, kN2Open, kXT9100, kTC9100}) {
    for (const Share &s : kStation) line(std::to_string(station), s);
  }
  for (const Share &s : kBus) line("bus", s);
  return text;
}

Soak::Soak(const Options &options) : options_(options), random_(options.seed) {}

Soak::~Soak() {
  if (channel_) channel_->Close();
  server_.Stop();
}

bool Soak::Start(std::string *error) {
  // The driver's log, one line per message (level, tab, text): quoted in the
  // report of a request that broke an invariant.
  logPath_ = options_.logFile.empty() ? dir_.path() + "/driver.log" : options_.logFile;
  setenv("QORPRO_LOG", logPath_.c_str(), 1);
  sim_.SetTimeSource([] { return kNow; });
  sim_.SetSeed(options_.seed);
  std::string plant = std::string(n2sim::DefaultPlantText()) + "\ndynamics off\n" +
                      FaultStatements(options_.faultRate, options_.timeoutMs);
  for (const std::string &statement : options_.extraStatements) plant += statement + "\n";
  if (!sim_.LoadPlant(plant, error)) return false;
  dir_.WriteFile(n2sim::StationTypesFileName(1), n2sim::StationTypesFileText(sim_.plant()));
  sim_.SetObserver([this](const n2sim::ExchangeRecord &record) {
    std::lock_guard<std::mutex> lock(recordsMutex_);
    records_.push_back(record);
  });
  if (!server_.Start(error)) return false;
  channel_ = std::make_unique<DriverChannel>();
  if (channel_->Init(server_.portName(), options_.timeoutMs / 10) != 0) {
    *error = "command 1 did not open " + server_.portName();
    return false;
  }
  if (!BuildCatalogue(*channel_, sim_, random_, &catalogue_, error)) return false;
  if (!TakeRecords().empty()) {
    *error = "parsing the gates sent frames";
    return false;
  }
  for (int kind = 0; kind < kKinds; ++kind) {
    std::map<int, std::vector<const Gate *>> stations;
    for (const Gate &gate : catalogue_.gates[kind]) stations[gate.station].push_back(&gate);
    for (auto &[station, gates] : stations) byStation_[kind].push_back(std::move(gates));
  }
  state_ = Capture(sim_, kNow);
  return true;
}

void Soak::Run() {
  for (long number = 1; number <= options_.requests; ++number) {
    RunOne(number);
    if (options_.progressEvery > 0 && number % options_.progressEvery == 0) {
      fprintf(stderr, "zamkt_soak: %ld requests, %llu violations\n", number,
              static_cast<unsigned long long>(tally_.violations));
    }
  }
}

const Gate &Soak::Pick() {
  std::vector<double> weights(kKinds);
  for (int kind = 0; kind < kKinds; ++kind) weights[kind] = byStation_[kind].empty() ? 0 : kKindWeights[kind];
  const int kind = std::discrete_distribution<int>(weights.begin(), weights.end())(random_);
  const auto &stations = byStation_[kind];
  const auto &gates = stations[std::uniform_int_distribution<size_t>(0, stations.size() - 1)(random_)];
  return *gates[std::uniform_int_distribution<size_t>(0, gates.size() - 1)(random_)];
}

int32_t Soak::Send(const Gate &gate, Request *request) {
  if (gate.kind == Kind::kWarmStart) return channel_->WarmStartStation(gate.station);
  ReadWriteBlock block =
      DriverChannel::BlockFromParse(gate.parsed, gate.gas.c_str(), gate.dataType, request->value.data(), gate.items);
  int32_t command = kCmdSingleWrite;
  if (gate.kind == Kind::kBlockRead) command = kCmdBlockRead;
  if (IsReadKind(gate.kind) && gate.kind != Kind::kBlockRead) command = kCmdSingleRead;
  return channel_->Call(command, &block);
}

std::vector<n2sim::ExchangeRecord> Soak::TakeRecords() {
  std::lock_guard<std::mutex> lock(recordsMutex_);
  std::vector<n2sim::ExchangeRecord> records;
  records.swap(records_);
  return records;
}

bool Soak::AnyLate() {
  std::lock_guard<std::mutex> lock(recordsMutex_);
  for (const n2sim::ExchangeRecord &record : records_) {
    if (SeenOf(record, false, options_.timeoutMs) == Seen::kLate) return true;
  }
  return false;
}

std::vector<n2sim::FaultSet> Soak::Outage() {
  using n2sim::FaultBit;
  using n2sim::FaultKind;
  static constexpr FaultKind kOutageKinds[] = {FaultKind::kSilence, FaultKind::kNak, FaultKind::kBadSum,
                                               FaultKind::kNoise,   FaultKind::kCut, FaultKind::kReset};
  auto uniform = [this](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); };
  std::vector<n2sim::FaultSet> steps;
  if (uniform(0, 1) == 0) {
    // One kind throughout: the station is silent, or answers only wrong.
    steps.assign(uniform(5, 12), FaultBit(kOutageKinds[uniform(0, 5)]));
  } else {
    // A mix, with some good exchanges among the faulty ones.
    const int length = uniform(3, 12);
    for (int i = 0; i < length; ++i) {
      const int pick = uniform(0, 6);
      steps.push_back(pick == 6 ? 0 : FaultBit(kOutageKinds[pick]));
    }
  }
  return steps;
}

void Soak::RunOne(long number) {
  const Gate &gate = Pick();
  Request request = MakeRequest(gate, state_, random_);
  const bool outage = std::uniform_real_distribution<double>(0, 1)(random_) < options_.outageRate;
  if (outage) {
    sim_.SetScript(gate.station, Outage());
    ++tally_.outages;
  }
  const int32_t flagBefore = channel_->context()->n2openInitialised[kN2Open];
  const bool read = IsReadKind(gate.kind);
  const e2e::Reading readingBefore = read ? ExpectedReading(sim_, gate, kNow) : e2e::Reading();

  const long logFrom = LogSize();
  const int32_t status = Send(gate, &request);

  // A reply held back beyond the time-out still goes out after the driver
  // gave up on it: let it, so that it cannot reach the next request.
  const bool late = AnyLate();
  const bool quiet = server_.WaitIdle(late ? kQuietMs : 0, kSettleLimitMs);
  if (outage) sim_.SetScript(gate.station, {});  // what the request did not use ends with it
  const std::vector<n2sim::ExchangeRecord> records = TakeRecords();
  PlantState after = Capture(sim_, kNow);
  const e2e::Reading readingAfter = read ? ExpectedReading(sim_, gate, kNow) : e2e::Reading();

  const Verdict verdict = Judge(PlanOf(gate, flagBefore != 0), records, options_.timeoutMs);
  std::vector<std::string> problems =
      CheckRequest(request, Outcome{status, verdict, state_, after, readingBefore, readingAfter});
  if (!quiet) problems.push_back("the line was still busy " + std::to_string(kSettleLimitMs / 1000) + " s after");
  if (gate.kind == Kind::kWarmStart && channel_->context()->n2openInitialised[kN2Open] != flagBefore) {
    problems.push_back("a warm start changed the channel's N2 Open initialised flag");
  }

  const int kind = static_cast<int>(gate.kind);
  ++tally_.requests[kind];
  if (status >= 0 && status <= 2) {
    ++tally_.statuses[kind][status];
  } else {
    ++tally_.otherStatuses;
  }
  tally_.loose += verdict.loose ? 1 : 0;
  tally_.exchanges += records.size();
  for (const n2sim::ExchangeRecord &record : records) {
    const n2sim::Delivery &d = record.delivery;
    tally_.faultyExchanges += d.faults != 0 ? 1 : 0;
    if (d.silent) continue;
    tally_.lateDelays += d.delayMs > options_.timeoutMs ? 1 : 0;
    tally_.lateDribbles += d.dribbleMs > options_.timeoutMs ? 1 : 0;
  }
  if (!problems.empty()) Report(number, gate, status, problems, records, logFrom);
  state_ = std::move(after);
}

long Soak::LogSize() const {
  struct stat info;
  return stat(logPath_.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : 0;
}

void Soak::Report(long number, const Gate &gate, int32_t status, const std::vector<std::string> &problems,
                  const std::vector<n2sim::ExchangeRecord> &records, long logFrom) {
  ++tally_.violations;
  if (tally_.reports.size() >= options_.reportLimit) return;
  std::string text = "request " + std::to_string(number) + ": " + KindName(gate.kind) + " " +
                     (gate.gas.empty() ? "station " + std::to_string(gate.station) : gate.gas) + ", status " +
                     std::to_string(status) + "\n";
  for (const std::string &problem : problems) text += "  - " + problem + "\n";
  text += "  exchanges:\n";
  for (const n2sim::ExchangeRecord &record : records) text += "    " + n2sim::Simulator::FormatTrace(record) + "\n";
  text += "  driver log:\n";
  std::ifstream log(logPath_, std::ios::binary);
  log.seekg(logFrom);
  std::string line;
  while (std::getline(log, line)) text += "    " + line + "\n";
  tally_.reports.push_back(text);
}

}  // namespace soak
