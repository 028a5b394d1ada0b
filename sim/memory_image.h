// The memory of a System 91 station, built from the family's point tables:
// one item per device address that a point names, in the width its points
// imply (1 byte for type codes 40 and 90..120, 4 bytes for type code 60, 2
// bytes otherwise). Time-schedule points (type 60 in a TS module) and the
// RTCL module live in their areas (clock_schedule.h), not here.
#ifndef ZAMKT_SIM_MEMORY_IMAGE_H
#define ZAMKT_SIM_MEMORY_IMAGE_H

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "n2/point_tables.h"

namespace n2sim {

// How an item changes by itself.
enum class Dynamics : uint8_t {
  kNone,
  kDrift,      // an analog input: its N2 real wanders around the stored value
  kCount,      // a counter: the stored value plus one per second since it was set
  kClockWord,  // TC9100 minutes/hours/weekday word: follows the host's clock
};

struct MemoryItem {
  uint16_t address = 0;
  uint8_t width = 2;      // bytes
  bool writable = false;  // some point of the item has access 'W'
  bool real = false;      // an N2 real (type code 30)
  Dynamics dynamics = Dynamics::kNone;
  uint32_t stored = 0;    // the raw item; the base value of a dynamic item
  double since = 0;       // host seconds when stored was set
  long clockOffsetMinutes = 0;
  std::string label;      // "MODULE MNEMONIC" of the first point at the address
};

// A point found by module and mnemonic.
struct PointRef {
  const ModuleEntry *module = nullptr;
  const PointEntry *point = nullptr;
  bool inArea = false;  // a schedule or clock point: not in the memory image
  uint16_t address = 0; // base + offset for memory points
};

class MemoryImage {
 public:
  // Builds the items of the family at host time now. dynamics false makes
  // every item hold still (the clock word excepted: it is a clock).
  void Build(const FamilyTable &family, bool dynamics, double now);

  const MemoryItem *Find(uint16_t address) const;
  MemoryItem *Find(uint16_t address);
  const std::map<uint16_t, MemoryItem> &items() const { return items_; }

  // The raw item at host time now (dynamics applied), `width` bytes.
  uint32_t ValueAt(const MemoryItem &item, double now) const;
  // Stores a raw item as written at host time now.
  void Store(MemoryItem &item, uint32_t value, double now);

  // Finds a point of the family by module name and mnemonic (exact, upper case).
  bool FindPoint(const std::string &module, const std::string &mnemonic, PointRef *ref) const;
  // Sets a point's initial value from plant text (see plant.h). False with the
  // reason in error when the text does not suit the point.
  bool SetPoint(const PointRef &ref, const std::string &text, double now, std::string *error);

  // Addresses whose points imply different widths (the wider one is kept).
  const std::vector<uint16_t> &conflicts() const { return conflicts_; }

 private:
  const FamilyTable *family_ = nullptr;
  std::map<uint16_t, MemoryItem> items_;
  std::vector<uint16_t> conflicts_;
};

// Item width of a point type code.
int ItemWidthOf(uint16_t typeCode);
// Shift and mask of the field of type codes 90..180 (mask before shifting);
// false for any other type code.
bool FieldOf(uint16_t typeCode, int *shift, uint16_t *mask);

}  // namespace n2sim

#endif  // ZAMKT_SIM_MEMORY_IMAGE_H
