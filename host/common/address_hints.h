// Hints for gate addresses the driver refused because a number has the wrong
// count of digits: stations are always three digits ("001AI01AI", not
// "1AI01AI") and N2 Open objects too ("005AI001", not "005AI01" or
// "005AI0001").
#ifndef ZAMKT_HOST_COMMON_ADDRESS_HINTS_H
#define ZAMKT_HOST_COMMON_ADDRESS_HINTS_H

#include <string>

namespace n2host {

// The hint for the GAS, or empty when its digits are not the trouble.
std::string DigitCountHint(const std::string &gas);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_ADDRESS_HINTS_H
