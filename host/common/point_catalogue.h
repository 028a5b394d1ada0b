// What commissioning needs from the driver's device point tables: the
// process points of each System 91 family (inputs, outputs, setpoints,
// schedules, clock) with a name a user reads, and the test points that tell
// the families apart on the bus. Every request still goes through ZamMain;
// the tables only say what to ask for.
#ifndef ZAMKT_HOST_COMMON_POINT_CATALOGUE_H
#define ZAMKT_HOST_COMMON_POINT_CATALOGUE_H

#include <string>
#include <vector>

namespace n2host {

// One process point of a station.
struct CataloguePoint {
  std::string name;   // "st1 AI1 input"
  std::string gas;    // "001AI01AI"
  int type = 0;       // the gate data type the point takes (kGateReal, ...)
  bool writable = false;
  std::string role;   // "input", "output", "setpoint", "schedule", "clock"
};

// The process points of a System 91 station of the family ("DX9100",
// "XT9100", "TC9100") at the address, in the tables' order; empty for any
// other family.
std::vector<CataloguePoint> ProcessPoints(const std::string &family, int station);

// The test point of a family: "MODULE" + "MNEMONIC" (without the station),
// a readable whole item at a device address that no point of the other
// families names, so that only a station of this family answers it. Empty
// when the tables hold no such point for the family.
std::string FamilyTestPoint(const std::string &family);

// The gate data type a point of the type code takes.
int GateTypeOfPointType(int pointType);

// True when the clock of a station of the family can be read and set
// (DX9100: RTCL; TC9100: the minute, hour and weekday word).
bool HasClock(const std::string &family);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_POINT_CATALOGUE_H
