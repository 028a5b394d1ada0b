#include "host/common/stored_value.h"

#include <math.h>
#include <stdio.h>

#include <string>

#include "driver/requests.h"

namespace n2host {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
// How far the clock may have run on between a write and its read-back.
constexpr int64_t kClockSlackSeconds = 5;

// The binary fraction (bit 15 = 1/2 .. bit 5 = 1/2048, truncated) of a decimal
// fraction in units of 1/10000.
unsigned BinaryFraction(unsigned fraction) {
  unsigned result = 0;
  for (int step = 0; step <= 10 && fraction != 0; ++step) {
    fraction *= 2;
    if (fraction >= 10000) {
      result |= 1u << (15 - step);
      fraction -= 10000;
    }
  }
  return result;
}

unsigned BitLength(unsigned value) {
  unsigned bits = 0;
  for (; value != 0; value >>= 1) ++bits;
  return bits;
}

// The day mask a day-digit number is written as, and the number a read of
// that mask gives.
int64_t DaysThroughMask(int64_t value) {
  unsigned mask = 0;
  for (char c : std::to_string(value)) {
    if (c == '0') { mask = 0x7F; break; }
    if (c == '9') { mask = 0x1F; break; }
    if (c == '8') { mask = 0x80; break; }
    if (c >= '1' && c <= '7') mask |= 1u << (c - '1');
  }
  if (mask == 0x1F) return 9;
  if (mask == 0x7F) return 0;
  int64_t number = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (mask & (1u << bit)) number = number * 10 + bit + 1;
  }
  return number;
}

}  // namespace

bool N2RealOf(float value, double *stored, double *step) {
  char digits[64];
  const double magnitude = fabs(static_cast<double>(value));
  int length = snprintf(digits, sizeof digits, "%.10f", magnitude);
  if (!isfinite(value) || length <= 11 || length >= static_cast<int>(sizeof digits)) return false;
  int integerDigits = length - 11;
  if (integerDigits > 5) return false;
  unsigned integerPart = static_cast<unsigned>(std::stoul(std::string(digits, static_cast<size_t>(integerDigits))));
  if (integerPart > 32750) return false;
  unsigned fraction = static_cast<unsigned>(std::stoul(std::string(digits + integerDigits + 1, 4)));

  unsigned exponent = 0;
  unsigned mantissa;
  if (integerPart >= 1) {
    exponent = BitLength(integerPart);
    mantissa = exponent <= 11 ? integerPart << (11 - exponent) : integerPart >> (exponent - 11);
    mantissa += BinaryFraction(fraction) >> (exponent + 5);
  } else {
    mantissa = BinaryFraction(fraction) >> 5;
  }
  *step = ldexp(1.0, static_cast<int>(exponent) - 11);
  *stored = (value < 0 ? -1.0 : 1.0) * mantissa * *step;
  return true;
}

GateValue StoredValue(const PointMeaning &meaning, const GateValue &written) {
  GateValue stored = written;
  switch (written.type) {
    case kGateReal: {
      double step = 0;
      if (!meaning.n2open) N2RealOf(static_cast<float>(written.real), &stored.real, &step);
      return stored;
    }
    case kGateDigital:
      stored.integer = written.integer != 0 ? 1 : 0;
      return stored;
    case kGateInt16:
    case kGateUInt16:
      // The gate's 16 bits (a BD object keeps one byte), shown as the type shows them.
      stored.integer = meaning.region == kN2OpenByteRegion ? written.integer & 0xFF : written.integer & 0xFFFF;
      if (written.type == kGateInt16) stored.integer = static_cast<int16_t>(stored.integer);
      return stored;
    default:
      break;
  }
  if (meaning.kind == PointKind::kScheduleTime && written.integer == 1440) {
    stored.integer = 1439;  // 24:00 is sent like 23:59 and reads back as 23:59
  } else if (meaning.kind == PointKind::kScheduleDays) {
    stored.integer = DaysThroughMask(written.integer);
  } else {
    stored.integer = static_cast<int32_t>(written.integer);
  }
  return stored;
}

bool WriteApplied(const PointMeaning &meaning, const GateValue &written, const GateValue &readBack) {
  GateValue expected = StoredValue(meaning, written);
  if (meaning.kind == PointKind::kClockTime) {
    // The clock runs on between the write and the read-back.
    int64_t ahead = (readBack.integer - expected.integer + kSecondsPerDay) % kSecondsPerDay;
    return ahead <= kClockSlackSeconds;
  }
  if (written.type != kGateReal) return expected.integer == readBack.integer;
  if (meaning.n2open) return static_cast<float>(expected.real) == static_cast<float>(readBack.real);
  double stored = 0, step = 0;
  if (!N2RealOf(static_cast<float>(written.real), &stored, &step)) return false;
  return fabs(readBack.real - stored) <= step * 1.0001;
}

}  // namespace n2host
