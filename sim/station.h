// What every simulated station has in common: it takes one request frame
// addressed to it and says what it answers.
#ifndef ZAMKT_SIM_STATION_H
#define ZAMKT_SIM_STATION_H

#include <string>
#include <string_view>

#include "sim/plant.h"
#include "sim/wire.h"

namespace n2sim {

// A station's answer to one request, before any injected fault.
struct StationReply {
  std::string line;         // the reply line without its CR
  bool hasSum = false;      // the line ends in a two-digit frame sum
  bool refused = false;     // a negative acknowledgement of a bad request
  std::string kind;         // the command, for the counts: "mem-read", "n2open-write", ...
  std::string description;  // the exchange decoded, for the trace
};

// A negative acknowledgement with the code, of a request the station cannot
// take; why goes to the trace.
inline StationReply Refuse(int code, const std::string &why) {
  StationReply reply;
  reply.line = NakReply(code);
  reply.refused = true;
  reply.kind = "refused";
  reply.description = why;
  return reply;
}

// A bare acknowledgement, of a command done that returns no data.
inline StationReply Acknowledge(const char *kind, const std::string &description) {
  StationReply reply;
  reply.line = "A";
  reply.kind = kind;
  reply.description = description;
  return reply;
}

class Station {
 public:
  virtual ~Station() = default;

  // frame: the whole request line from its ">" on, without the CR.
  // now: host seconds.
  virtual StationReply Handle(std::string_view frame, double now) = 0;
  // Applies an initial value of the plant; false with the reason in error.
  virtual bool ApplyValue(const ValueSetting &setting, double now, std::string *error) = 0;
  // The station restarts (an injected reset): it forgets what a device keeps
  // only while it runs, and keeps what survives a power cycle.
  virtual void Restart() = 0;

  int address() const { return address_; }
  Family family() const { return family_; }

 protected:
  Station(int address, Family family) : address_(address), family_(family) {}

 private:
  int address_;
  Family family_;
};

}  // namespace n2sim

#endif  // ZAMKT_SIM_STATION_H
