#include "host/common/point_meaning.h"

#include "driver/requests.h"

namespace n2host {
namespace {

// Where the mnemonic starts in the GAS of a four-character module (TSnn,
// RTCL): behind three station digits and the module name.
constexpr size_t kMnemonicStart = 7;

bool MnemonicStartsWith(std::string_view gas, std::string_view prefix) {
  return gas.size() > kMnemonicStart && gas.substr(kMnemonicStart).substr(0, prefix.size()) == prefix;
}

}  // namespace

PointMeaning MeaningOf(std::string_view gas, int32_t region, int dataType) {
  PointMeaning meaning;
  meaning.n2open = IsN2OpenRegion(region);
  meaning.region = region;
  if (meaning.n2open && region >= kFirstOverrideRegion) {
    meaning.kind = PointKind::kOverride;
  } else if (dataType == kGateDigital) {
    meaning.kind = PointKind::kDigital;
  } else if (region == kSpecialSchedule) {
    meaning.kind = MnemonicStartsWith(gas, "DAYS") ? PointKind::kScheduleDays : PointKind::kScheduleTime;
  } else if (region == kSpecialClock && MnemonicStartsWith(gas, "TIME")) {
    meaning.kind = PointKind::kClockTime;
  } else if (region == kSpecialClock && MnemonicStartsWith(gas, "DATE")) {
    meaning.kind = PointKind::kClockDate;
  }
  return meaning;
}

}  // namespace n2host
