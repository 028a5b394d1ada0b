// The built-in description of the memory of the System 91 device families
// (DX9100, XT9100, TC9100): per family a module table, per module a point
// table. Constant data, searched linearly by LookupTag.
#ifndef ZAMKT_N2_POINT_TABLES_H
#define ZAMKT_N2_POINT_TABLES_H

#include <stdint.h>

// Value representation of a point.
enum PointType : uint16_t {
  kTypeN2Real = 30,      // 16-bit N2 real
  kTypeBit8 = 40,        // one bit of an 8-bit item
  kTypeWord = 50,        // 16-bit item
  kTypeLong = 60,        // 32-bit item, or a schedule or clock value
  kTypeWord70 = 70,      // 16-bit item
  kTypeBit16 = 80,       // one bit of a 16-bit item
  kTypeField0 = 90,      // bits 0..1
  kTypeField2 = 100,     // bits 2..3
  kTypeField4 = 110,     // bits 4..5
  kTypeField6 = 120,     // bits 6..7
  kTypeField8 = 130,     // bits 8..9
  kTypeField10 = 140,    // bits 10..11
  kTypeField12 = 150,    // bits 12..14
  kTypeMinutes = 160,    // bits 0..5
  kTypeHours = 170,      // bits 8..12
  kTypeWeekday = 180     // bits 13..15
};

constexpr uint16_t kWholeItem = 255;  // bit index of a point that is the whole item

struct PointEntry {
  char mnemonic[8];   // up to 6 characters, NUL padded
  uint16_t type;      // PointType
  uint16_t offset;    // relative to the module base
  uint16_t access;    // 'R' read only, 'W' readable and writable
  uint16_t bit;       // bit within the item, kWholeItem for whole items
};

struct ModuleEntry {
  char name[6];              // up to 4 characters, NUL padded
  uint16_t base;             // device address of offset 0
  uint16_t pointCount;
  const PointEntry *points;  // shared by all modules of one kind
};

struct FamilyTable {
  const char *name;          // "DX9100", "XT9100", "TC9100"
  const ModuleEntry *modules;
  uint16_t moduleCount;      // 52, 2, 7
};

// The family table of a station type name, or null for any other name
// (N2OPEN included).
const FamilyTable *FindFamily(const char *stationType);

// All three families, for tools and tests that walk every point.
extern const FamilyTable kFamilies[3];

#endif  // ZAMKT_N2_POINT_TABLES_H
