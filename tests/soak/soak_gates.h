// The gates of the soak: every point of the plant that a host reads or writes,
// sorted by the kind of request it takes, each parsed through ZamMain
// (command 3, and command 4 for block reads) as a host parses its gates when
// it defines them. The requests then carry the parse results back.
#ifndef ZAMKT_TESTS_SOAK_SOAK_GATES_H
#define ZAMKT_TESTS_SOAK_SOAK_GATES_H

#include <stdint.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "driver/requests.h"
#include "n2/point_tables.h"
#include "sim/simulator.h"
#include "tests/support/driver_channel.h"

namespace soak {

// The stations of the plant the soak runs on (the simulator's default plant).
constexpr int kDX9100 = 1;
constexpr int kN2Open = 5;
constexpr int kXT9100 = 10;
constexpr int kTC9100 = 20;

enum class Kind : int {
  kRead,                // command 5 of a System 91 point
  kBlockRead,           // command 6: a run of DX9100 items
  kWriteReal,           // command 7 of a System 91 point: N2 real (type code 30)
  kWriteBit,            // one bit (40, 80): read back, then written
  kWriteField,          // a bit field (90..180): read back, then written
  kWriteWord,           // a whole 16-bit word (50, 70): read back, then written whole
  kWriteCounter,        // a 32-bit item (60)
  kWriteSchedule,       // a time-schedule START, END or DAYS (area write)
  kWriteClock,          // the real-time clock's TIME or DATE (area write)
  kN2OpenRead,          // command 5 of an N2 Open object
  kN2OpenOverrideRead,  // command 5 of an "_O" tag: the override flag
  kN2OpenWrite,         // command 7 of an N2 Open output: an override
  kN2OpenRelease,       // command 7 of an "_O" tag: the release
  kWarmStart,           // command 2
};
constexpr int kKinds = 14;
const char *KindName(Kind kind);

struct Gate {
  Kind kind = Kind::kRead;
  int station = 0;
  std::string gas;  // empty for a warm start
  int32_t dataType = 0;
  int32_t items = 1;
  ParseBlock parsed{};  // what command 3 (or 4) gave; gas not kept
  // System 91 points.
  const ModuleEntry *module = nullptr;
  const PointEntry *point = nullptr;
  uint16_t address = 0;    // the memory item: module base + point offset
  bool clockWord = false;  // the item is the TC9100 clock word (holds only valid times)
  // N2 Open objects: the station's region 1..7 and the object number.
  int region = 0;
  int element = 0;
};

struct Catalogue {
  std::array<std::vector<Gate>, kKinds> gates;
  int parsed = 0;  // commands 3 and 4 sent
};

// Builds the gates of the plant the simulator holds and parses each through
// the channel. Block read gates get a random length within their run of
// items. False, with the reason, when a gate does not parse.
bool BuildCatalogue(DriverChannel &channel, n2sim::Simulator &sim, std::mt19937 &random, Catalogue *catalogue,
                    std::string *error);

// "001AI01HR", "005AO012", "005AO012_O".
std::string N2OpenGas(int station, int region, int element, bool overrideTag);
// The host's data type of an N2 Open region 1..7.
int32_t N2OpenDataType(int region);

}  // namespace soak

#endif  // ZAMKT_TESTS_SOAK_SOAK_GATES_H
