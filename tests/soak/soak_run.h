// The soak run: the simulator's default plant, its values held still and
// faults injected on about one exchange in ten, served on a pseudo-terminal
// inside this process; one driver channel on it, driven through ZamMain as a
// host drives it. Requests of every kind are drawn at random, one at a time,
// and each is checked (soak_checks.h) as soon as the driver has answered.
//
// Faults come two ways: drawn independently for every exchange, which a retry
// mostly recovers from; and, for a few requests, an outage of the station:
// a run of faulty exchanges (one kind, or a mix) long enough to outlast all
// the attempts, so that the failure statuses are exercised as well.
#ifndef ZAMKT_TESTS_SOAK_SOAK_RUN_H
#define ZAMKT_TESTS_SOAK_SOAK_RUN_H

#include <stdint.h>

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "sim/pty_server.h"
#include "sim/simulator.h"
#include "tests/soak/soak_checks.h"
#include "tests/soak/soak_gates.h"
#include "tests/soak/soak_plant.h"
#include "tests/support/driver_channel.h"

namespace soak {

struct Options {
  long requests = 20000;
  uint32_t seed = 1;
  double faultRate = 0.08;                   // chance of a fault on each exchange, drawn independently
  double outageRate = 0.01;                  // chance that a request meets an outage of its station
  int timeoutMs = 200;                       // the channel's read time-out (a multiple of 10)
  size_t reportLimit = 20;                   // violations described in full
  long progressEvery = 0;                    // a progress line on standard error every so many requests; 0 none
  std::vector<std::string> extraStatements;  // plant statements after the soak's own (more faults, say)
  std::string logFile;                       // where the driver's log goes; empty: a file removed at the end
};

// The plant statements of the faults: the rate spread over the kinds, on
// every station, with delays and dribbles well within the read time-out; and
// on the bus, rarer replies held back beyond it.
std::string FaultStatements(double rate, int timeoutMs);

struct Tally {
  std::array<uint64_t, kKinds> requests{};
  std::array<std::array<uint64_t, 3>, kKinds> statuses{};  // status 0, 1, 2 per kind
  uint64_t otherStatuses = 0;                              // any status but 0, 1 and 2
  uint64_t exchanges = 0;
  uint64_t faultyExchanges = 0;  // exchanges with at least one fault
  uint64_t lateDelays = 0;       // replies that started beyond the read time-out
  uint64_t lateDribbles = 0;     // replies whose bytes came further apart than it
  uint64_t loose = 0;            // requests judged loosely: a reply came late
  uint64_t outages = 0;          // requests that met an outage of their station
  uint64_t violations = 0;       // requests that broke an invariant
  std::vector<std::string> reports;
};

class Soak {
 public:
  explicit Soak(const Options &options);
  ~Soak();
  Soak(const Soak &) = delete;
  Soak &operator=(const Soak &) = delete;

  // Loads the plant, serves it, starts the channel and parses every gate.
  bool Start(std::string *error);
  void Run();

  const Tally &tally() const { return tally_; }
  const Catalogue &catalogue() const { return catalogue_; }
  n2sim::Simulator &sim() { return sim_; }

 private:
  const Gate &Pick();
  // A run of faulty steps for the station's next exchanges.
  std::vector<n2sim::FaultSet> Outage();
  void RunOne(long number);
  int32_t Send(const Gate &gate, Request *request);
  std::vector<n2sim::ExchangeRecord> TakeRecords();
  bool AnyLate();
  void Report(long number, const Gate &gate, int32_t status, const std::vector<std::string> &problems,
              const std::vector<n2sim::ExchangeRecord> &records, long logFrom);
  long LogSize() const;

  Options options_;
  TempWorkDir dir_;  // where the driver finds the station-type file
  std::string logPath_;
  n2sim::Simulator sim_;
  n2sim::PtyServer server_{&sim_};
  std::unique_ptr<DriverChannel> channel_;
  Catalogue catalogue_;
  // Per kind, the gates of each station that has some: a station is drawn
  // first, so that the small XT9100 and TC9100 tables get their share.
  std::array<std::vector<std::vector<const Gate *>>, kKinds> byStation_;
  std::mt19937 random_;
  std::mutex recordsMutex_;
  std::vector<n2sim::ExchangeRecord> records_;
  PlantState state_;
  Tally tally_;
};

}  // namespace soak

#endif  // ZAMKT_TESTS_SOAK_SOAK_RUN_H
