// The request lines the stations expect, built here from the line format
// itself and not by the driver's framing code, so that every frame the driver
// sends is checked against a construction of its own. No CR at the end.
#ifndef ZAMKT_TESTS_SUPPORT_EXPECTED_FRAMES_H
#define ZAMKT_TESTS_SUPPORT_EXPECTED_FRAMES_H

#include <stdint.h>

#include <string>
#include <vector>

// Two upper-case hex digits per byte.
std::string Hex(const std::vector<uint8_t> &bytes);

// The frame sum of a line: the 8-bit sum of its characters, as two hex digits.
std::string FrameSumHex(const std::string &text);

// A System 91 request: ">" + the message bytes and their two Fletcher check
// bytes as hex + the frame sum of that hex. The Fletcher sums fold only above
// 255 (a sum of exactly 255 stays 255).
std::string System91Frame(std::vector<uint8_t> message);

// An N2 Open request: ">" + the message bytes as hex + the frame sum, no
// Fletcher check bytes.
std::string N2OpenFrame(const std::vector<uint8_t> &message);
// The same from the text between ">" and the sum, for the status request
// "05F" whose command is a single character.
std::string N2OpenTextFrame(const std::string &body);

#endif  // ZAMKT_TESTS_SUPPORT_EXPECTED_FRAMES_H
