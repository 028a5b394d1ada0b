// Code page 437, in which the driver's install banner is drawn, to UTF-8, so
// that the banner's box draws in a terminal.
#ifndef ZAMKT_HOST_ZAMHOST_CP437_H
#define ZAMKT_HOST_ZAMHOST_CP437_H

#include <string>
#include <string_view>

namespace zamhost {

// ASCII (0x00..0x7F) passes unchanged; every byte above maps to its code
// page 437 character.
std::string Cp437ToUtf8(std::string_view text);

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_CP437_H
