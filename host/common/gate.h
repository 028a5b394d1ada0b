// A gate as zamhost keeps it once the driver has parsed it: what the user
// named, the data type it is read with, and the parse results that every
// read and write request of the gate carries back to the driver.
#ifndef ZAMKT_HOST_COMMON_GATE_H
#define ZAMKT_HOST_COMMON_GATE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "host/common/gate_list.h"
#include "host/common/point_meaning.h"

namespace n2host {

struct Gate {
  GateSpec spec;
  int type = -1;           // the gate data type used with the driver
  bool valid = false;      // command 3 accepted the gate with that type
  std::vector<std::string> problems;  // why not: the driver's messages, or zamhost's
  int32_t station = 0;     // parse results
  int32_t region = 0;
  int32_t element = 0;
  int32_t bit = 255;
  int32_t width = 16;
  PointMeaning meaning;
  bool blockEligible = false;  // command 4 admits the gate to block reads
};

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_GATE_H
