#include "host/common/address_hints.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

#include <string_view>

namespace n2host {
namespace {

constexpr const char *kN2OpenRegions[] = {"AI", "BI", "AO", "BO", "AF", "AD", "BD"};

size_t LeadingDigits(std::string_view text) {
  size_t count = 0;
  while (count < text.size() && isdigit(static_cast<unsigned char>(text[count]))) ++count;
  return count;
}

bool IsRegionMnemonic(std::string_view text) {
  for (const char *region : kN2OpenRegions) {
    if (text == region) return true;
  }
  return false;
}

}  // namespace

std::string DigitCountHint(const std::string &gas) {
  const size_t stationDigits = LeadingDigits(gas);
  if (stationDigits == 0 || gas.size() < stationDigits + 2) return "";
  if (stationDigits != 3) {
    const int station = atoi(gas.substr(0, stationDigits).c_str());
    if (station < 1 || station > 255) return "";
    char fixed[8];
    snprintf(fixed, sizeof fixed, "%03d", station);
    return "a station is written in three digits: " + std::string(fixed) + gas.substr(stationDigits);
  }
  // An N2 Open object: a region and a number of other than three digits.
  std::string_view rest = std::string_view(gas).substr(3);
  if (!IsRegionMnemonic(rest.substr(0, 2))) return "";
  std::string_view number = rest.substr(2);
  const size_t objectDigits = LeadingDigits(number);
  if (objectDigits == 0 || objectDigits == 3) return "";
  std::string_view tail = number.substr(objectDigits);
  if (!tail.empty() && tail != "_O") return "";
  const int object = atoi(std::string(number.substr(0, objectDigits)).c_str());
  if (object < 1 || object > 999) return "";
  char fixed[8];
  snprintf(fixed, sizeof fixed, "%03d", object);
  return "an N2 Open object is written in three digits: " + gas.substr(0, 5) + fixed + std::string(tail);
}

}  // namespace n2host
