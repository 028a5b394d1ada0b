// The simulated N2 bus: the stations of a plant behind one request/reply
// interface, with fault injection, exchange counts and a decoded trace. Pure
// of I/O: the pty server (pty_server.h) or a test feeds it request lines.
//
//   n2sim::Simulator sim;
//   std::string error;
//   sim.LoadPlant(n2sim::DefaultPlantText(), &error);
//   std::string wire = sim.Handle(">0180105A1405");  // "A....\r", "" when silent
//
// All members are safe to call from several threads (one lock inside).
#ifndef ZAMKT_SIM_SIMULATOR_H
#define ZAMKT_SIM_SIMULATOR_H

#include <stdint.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "sim/faults.h"
#include "sim/plant.h"
#include "sim/station.h"

namespace n2sim {

class N2OpenStation;
class System91Station;

// One exchange as the bus saw it.
struct ExchangeRecord {
  std::string request;      // the request line without its CR
  int station = -1;         // the addressed station; -1 when the line named none
  std::string family;       // its family ("DX9100", ...); empty when none
  std::string kind;         // "mem-read", "block-read", "area-read", "mem-write",
                            // "area-write", "n2open-identify", "n2open-status",
                            // "n2open-read", "n2open-write", "n2open-release",
                            // "refused" (bad request), "garbled" (no start
                            // character or station), "unaddressed" (no such
                            // station: silence), "reset" (the station
                            // restarted and lost the request: silence)
  std::string description;  // the request decoded, or what was wrong with it
  Delivery delivery;        // what goes back; silent when nothing does
  // A request that reached a System 91 station less than kStationPauseMs after
  // the station's last clean acknowledgement: the milliseconds since then.
  // -1 for every other request.
  double earlyMs = -1;
  // The reply is a clean acknowledgement of a System 91 station: an "A" line
  // that goes out without an injected fault, which a master takes as good and
  // must pause after.
  bool cleanAck = false;
};

// The pause a master keeps after a System 91 station's good reply before it
// sends that station the next request.
constexpr double kStationPauseMs = 4.0;

class Simulator {
 public:
  Simulator();
  ~Simulator();

  // Replaces the bus with the plant. False with "line N: reason" in error on
  // a bad statement or value; the bus is then left as it was.
  bool LoadPlant(std::string_view text, std::string *error);
  bool LoadPlant(const PlantSpec &plant, std::string *error);

  using Clock = std::chrono::steady_clock;

  // Answers one request line (a trailing CR is allowed and ignored).
  ExchangeRecord Exchange(std::string_view requestLine);
  // The same for a request line complete at `arrival` (Exchange above takes
  // the time of the call).
  ExchangeRecord Exchange(std::string_view requestLine, Clock::time_point arrival);
  // Tells the bus that the last byte of the record's reply went out at
  // `sent`: a station's pause runs from there. Without the call it runs from
  // the request's arrival, which is earlier and so never finds a request
  // early that was not.
  void ReplySent(const ExchangeRecord &record, Clock::time_point sent);
  // The same, as the bytes that go on the wire (CR included); "" for silence.
  std::string Handle(std::string_view requestLine);

  // Host seconds now; the default is the system clock. Tests step time.
  void SetTimeSource(std::function<double()> now);
  // Seeds the fault draws (the default seed is 1).
  void SetSeed(uint32_t seed);
  // Replaces the fault script of a station of the plant: from its next
  // exchange on, one step per exchange, on top of the faults drawn by
  // probability (as a "script" statement would). An empty script ends the
  // one it had. False when the plant has no such station.
  bool SetScript(int address, const std::vector<FaultSet> &steps, bool repeats = false);
  // Called with every exchange as it happens (for the trace).
  void SetObserver(std::function<void(const ExchangeRecord &)> observer);

  // Line speed of the plant, 0 when pacing is off.
  int baud() const;
  PlantSpec plant() const;

  // Counts of the exchanges so far: "requests", "answered", "silent",
  // "request-bytes" and "reply-bytes" (the bytes on the line each way, CRs
  // included), every kind of ExchangeRecord, "station-N" per station,
  // "fault-KIND" per injected fault, and "early-after-ack": the requests that
  // reached a System 91 station within kStationPauseMs of its last clean
  // acknowledgement (an "A" reply that went out without an injected fault).
  // Kinds never seen are absent (count 0).
  std::map<std::string, uint64_t> Counts() const;
  uint64_t Count(const std::string &key) const;
  // "requests=12 answered=11 silent=1 request-bytes=180 reply-bytes=144
  // block-read=1 ..." on one line.
  std::string FormatCounts() const;
  // One trace line: station, decoded request, request and reply text.
  static std::string FormatTrace(const ExchangeRecord &record);

  // Runs fn on a station under the simulator's lock (null when there is no
  // such station of that kind): for tests that look inside or set values.
  void WithSystem91(int address, const std::function<void(System91Station *)> &fn);
  void WithN2Open(int address, const std::function<void(N2OpenStation *)> &fn);

  // Host seconds now, from the time source.
  double Now() const;

 private:
  struct Bus;
  ExchangeRecord ExchangeLocked(std::string_view line, Clock::time_point arrival);
  void CountLocked(const ExchangeRecord &record);

  mutable std::mutex mutex_;
  std::unique_ptr<Bus> bus_;
  std::function<double()> now_;
  std::function<void(const ExchangeRecord &)> observer_;
  std::mt19937 random_;
  std::map<std::string, uint64_t> counts_;
};

}  // namespace n2sim

#endif  // ZAMKT_SIM_SIMULATOR_H
