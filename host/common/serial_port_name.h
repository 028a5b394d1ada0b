// Port names between the user and the driver. The driver takes a name of at
// most 11 characters: "COM1" (/dev/ttyS0), "ttyUSB0" or "pts/3" (under
// /dev/), "NUL" (no device), or a path starting with "/". The user may name
// any path; a long one reaches the driver through a short symbolic link.
// When the driver cannot open the port, the port is examined here to tell the
// user why.
#ifndef ZAMKT_HOST_COMMON_SERIAL_PORT_NAME_H
#define ZAMKT_HOST_COMMON_SERIAL_PORT_NAME_H

#include <string>

namespace n2host {

// Longest port name the driver's field holds.
constexpr size_t kMaxDriverPortName = 11;

// The device the driver opens for a port name; "" for NUL.
std::string DevicePathOf(const std::string &portName);

// A port name as the driver takes it: the user's name when it fits,
// "/dev/X" as "X", and otherwise a symbolic link /tmp/zhNNNN to the path
// (its name in *link, for removal). False with a message when no name fits.
bool DriverPortName(const std::string &port, std::string *name, std::string *link, std::string *error);

// Why the driver could not open the port, in words a user can act on: the
// device does not exist, is held by another program, may not be opened by
// this user, or is not a serial port.
std::string DiagnosePortFailure(const std::string &portName);

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_SERIAL_PORT_NAME_H
