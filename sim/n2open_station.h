// An N2 Open station: objects 1..N in each of the seven regions (AI, BI, AO,
// BO, AF, AD, BD), the two-frame initialisation, item reads, item writes that
// override an object and releases of the override.
//
// Requests: ">" + hex message + frame sum, no Fletcher check bytes:
//   station 04              identify (first initialisation frame)   -> "A"
//   station "F"             status (second initialisation frame)   -> "A"
//   station 1r ee 02        read object ee+1 of region r            -> data reply
//   station 72 r ee data    write: override the value, set the flag -> "A"
//   station 73 r ee         release the override                    -> "A"
// Read replies, "A" + data hex + frame sum, data by region:
//   AI, AO, AF: status byte, IEEE single most significant byte first
//   BI, BO:     status byte
//   AD:         the 16-bit value, most significant byte first (no status)
//   BD:         status byte, the byte value
// Status byte: bit 1 the override flag, bit 6 the state of a binary object.
// A restart (an injected reset) forgets the identification and releases
// every override.
// Errors: N00 item command before identify (init=required), N01 unknown
// command, N02 frame sum, N05 not hex, wrong length or value, N10 no such
// region or object, N11 write or release of an input region.
#ifndef ZAMKT_SIM_N2OPEN_STATION_H
#define ZAMKT_SIM_N2OPEN_STATION_H

#include <array>
#include <vector>

#include "sim/station.h"

namespace n2sim {

enum N2OpenRegion { kAI = 1, kBI = 2, kAO = 3, kBO = 4, kAF = 5, kAD = 6, kBD = 7 };
constexpr int kN2OpenRegions = 7;

// "AI" .. "BD" for 1..7.
const char *N2OpenRegionName(int region);

class N2OpenStation : public Station {
 public:
  struct Object {
    double own = 0;          // the device's own value (a state 0/1 for BI and BO)
    double forced = 0;       // the value of the last item write
    bool overridden = false;
  };

  N2OpenStation(int address, int objects, bool initRequired, bool dynamics, double now);

  StationReply Handle(std::string_view frame, double now) override;
  bool ApplyValue(const ValueSetting &setting, double now, std::string *error) override;
  // The station comes back unidentified (item commands get "N00" until the
  // master identifies it again, when init=required) and with every override
  // released: overrides are the master's commands, held only while the
  // device runs. The objects' own values are kept.
  void Restart() override;

  // Object element (1..N) of region 1..7, or null.
  const Object *Find(int region, int element) const;
  // The value a read reports now: the forced value while overridden.
  double ValueOf(int region, int element, double now) const;
  bool identified() const { return identified_; }
  int objects() const { return objects_; }

 private:
  Object *FindMutable(int region, int element);
  StationReply Read(int region, int element, double now);
  StationReply Write(int region, int element, const uint8_t *data, size_t size);
  StationReply Release(int region, int element);

  int objects_;
  bool initRequired_;
  bool dynamics_;
  bool identified_ = false;
  std::array<std::vector<Object>, kN2OpenRegions + 1> regions_;  // index 1..7
};

}  // namespace n2sim

#endif  // ZAMKT_SIM_N2OPEN_STATION_H
