#include "host/common/write_check.h"

#include <math.h>
#include <stdint.h>
#include <string.h>

#include "driver/requests.h"
#include "host/common/calendar.h"
#include "host/common/stored_value.h"
#include "n2/point_tables.h"

namespace n2host {
namespace {

// N2 Open regions that hold inputs: the item write has no frame for them.
constexpr int32_t kN2OpenAnalogInput = 1001;
constexpr int32_t kN2OpenBinaryInput = 1002;

// The GAS split as the device tables name points: "001AI01AI" is module
// "AI01", point "AI"; a DX9100's general module is "GC" followed by the point.
void SplitGas(const std::string &gas, std::string *module, std::string *mnemonic, std::string *generalMnemonic) {
  *module = gas.size() > 3 ? gas.substr(3, 4) : "";
  *mnemonic = gas.size() > 7 ? gas.substr(7, 6) : "";
  *generalMnemonic = gas.size() > 5 && gas.compare(3, 2, "GC") == 0 ? gas.substr(5, 6) : "";
}

// The access marks ('R' or 'W') the family tables give the point, over all
// three families (a GAS names one module of one family; where two families
// share a module name, the point is read-only only if both say so).
void AccessMarks(const std::string &gas, bool *anyWritable, bool *anyReadOnly) {
  std::string module, mnemonic, general;
  SplitGas(gas, &module, &mnemonic, &general);
  for (const FamilyTable &family : kFamilies) {
    for (uint16_t m = 0; m < family.moduleCount; ++m) {
      const ModuleEntry &entry = family.modules[m];
      const bool isGeneral = strcmp(entry.name, "GC") == 0 && !general.empty();
      if (!isGeneral && module != entry.name) continue;
      const std::string &wanted = isGeneral ? general : mnemonic;
      for (uint16_t p = 0; p < entry.pointCount; ++p) {
        if (wanted != entry.points[p].mnemonic) continue;
        (entry.points[p].access == 'R' ? *anyReadOnly : *anyWritable) = true;
      }
    }
  }
}

std::string OutOfRange(const Gate &gate, const std::string &value, const std::string &range) {
  return gate.spec.gas + ": value " + value + " is out of range (" + range + ")";
}

std::string CheckReal(const Gate &gate, double real) {
  if (!isfinite(real)) return gate.spec.gas + ": the value is not a finite number";
  if (gate.meaning.n2open) return "";
  double stored = 0, step = 0;
  // The driver's encoder refuses an integer part above 32750; what it takes
  // is what N2RealOf models.
  if (!N2RealOf(static_cast<float>(real), &stored, &step)) {
    char text[48];
    snprintf(text, sizeof text, "%g", real);
    return OutOfRange(gate, text, "-32750 to 32750: the devices' 16-bit real");
  }
  return "";
}

std::string CheckInteger(const Gate &gate, int64_t v) {
  const std::string text = std::to_string(v);
  switch (gate.meaning.kind) {
    case PointKind::kOverride:
      return v == 0 ? "" : gate.spec.gas + ": an override tag can only be released: write it without a value";
    case PointKind::kDigital:
      return v == 0 || v == 1 ? "" : OutOfRange(gate, text, "0 or 1");
    case PointKind::kScheduleTime:
      return v >= 0 && v <= 1440 ? "" : OutOfRange(gate, text, "0 to 1440 minutes, 00:00 to 24:00");
    case PointKind::kScheduleDays:
      return v >= 0 && v <= INT32_MAX ? "" : OutOfRange(gate, text, "day digits 0 to 9");
    case PointKind::kClockTime:
      return v >= 0 && v <= 86399 ? "" : OutOfRange(gate, text, "0 to 86399 seconds, 00:00:00 to 23:59:59");
    case PointKind::kClockDate:
      return v >= 1 && v <= DayNumberOf(2038, 12, 31) ? ""
                                                     : OutOfRange(gate, text, "1980-01-01 to 2038-12-31, day 1 to " +
                                                                                   std::to_string(DayNumberOf(2038, 12, 31)));
    case PointKind::kPlain:
      break;
  }
  if (gate.meaning.region == kN2OpenByteRegion && (v < 0 || v > 255)) {
    return OutOfRange(gate, text, "0 to 255: a BD object holds one byte");
  }
  switch (gate.type) {
    case kGateInt16:
      return v >= -32768 && v <= 32767 ? "" : OutOfRange(gate, text, "-32768 to 32767");
    case kGateUInt16:
      return v >= 0 && v <= 65535 ? "" : OutOfRange(gate, text, "0 to 65535");
    case kGateDigital:
      return v == 0 || v == 1 ? "" : OutOfRange(gate, text, "0 or 1");
    default:
      return v >= INT32_MIN && v <= static_cast<int64_t>(UINT32_MAX) ? "" : OutOfRange(gate, text, "32 bits");
  }
}

}  // namespace

bool IsReadOnlyPoint(const Gate &gate) {
  if (gate.meaning.n2open) return gate.region == kN2OpenAnalogInput || gate.region == kN2OpenBinaryInput;
  bool writable = false, readOnly = false;
  AccessMarks(gate.spec.gas, &writable, &readOnly);
  return readOnly && !writable;
}

std::string WriteRefusal(const Gate &gate, const GateValue &value) {
  if (!gate.valid) {
    std::string why = gate.spec.gas + ": invalid gate";
    for (const std::string &problem : gate.problems) why += "; " + problem;
    return why;
  }
  if (IsReadOnlyPoint(gate)) {
    return gate.spec.gas + (gate.meaning.n2open ? " is an N2 Open input: inputs cannot be written (its override "
                                                  "is released by writing " + gate.spec.gas + "_O)"
                                                : " is a read-only point: the driver refuses to write it");
  }
  if (value.type != gate.type) {
    return gate.spec.gas + ": the value is of type " + std::to_string(value.type) + ", the gate of type " +
           std::to_string(gate.type);
  }
  return gate.type == kGateReal ? CheckReal(gate, value.real) : CheckInteger(gate, value.integer);
}

bool PrepareWrite(const Gate &gate, const std::optional<std::string> &text, GateValue *value, std::string *reason) {
  *value = GateValue{gate.type, 0, 0};
  if (gate.valid && gate.meaning.kind == PointKind::kOverride && !text) {
    // The driver writes an override tag without data: it releases the override.
  } else if (!text) {
    *reason = gate.spec.gas + ": no value given (write " + gate.spec.gas + "=VALUE)";
    return false;
  } else if (gate.valid) {
    std::string error;
    if (!ParseValue(gate.meaning, gate.type, *text, value, &error)) {
      *reason = gate.spec.gas + ": " + error;
      return false;
    }
  }
  *reason = WriteRefusal(gate, *value);
  return reason->empty();
}

}  // namespace n2host
