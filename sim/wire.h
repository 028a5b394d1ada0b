// The simulator's own wire primitives: hex text, the frame sum, the Fletcher
// check bytes, the N2 real format and the reply forms a station sends.
// Written independently of the driver's framing code on purpose, so that the
// simulator checks the driver against a second reading of the protocol.
#ifndef ZAMKT_SIM_WIRE_H
#define ZAMKT_SIM_WIRE_H

#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

namespace n2sim {

using Bytes = std::vector<uint8_t>;

// Error codes a station puts behind "N" in a negative acknowledgement.
enum NakCode : int {
  kNakDeviceReset = 0,     // N2 Open item command before the station was identified
  kNakUndefinedCommand = 1,
  kNakChecksum = 2,        // frame sum or Fletcher check bytes wrong
  kNakDataField = 5,       // not hex, wrong length, bad count or value
  kNakNoSuchPoint = 10,    // address, item, area or object does not exist
  kNakWrongCommand = 11,   // command not valid for the data (write to a read-only item)
  kNakDeviceProblem = 12   // the default of an injected negative acknowledgement
};

// 8-bit sum of the character codes.
uint8_t CharSum(std::string_view text);

// Fletcher check bytes c0, c1 of the bytes: ones'-complement sums where only a
// sum above 255 is folded back (255 stays 255), c0 = 255 - (s1 + s2 folded),
// c1 = s2.
void FletcherBytes(const uint8_t *bytes, size_t count, uint8_t check[2]);

// Two upper-case hex digits per byte, high nibble first.
std::string ToHex(const Bytes &bytes);
std::string HexByte(uint8_t byte);

// Strict hex text: an even number of upper-case hex digits. False on any
// other character (lower case included) or an odd length.
bool ParseHex(std::string_view text, Bytes *out);

// The 16-bit N2 real: bits 15..12 exponent e, bit 11 sign, bits 10..0
// mantissa m; value m * 2^(e - 11). Encoding picks the smallest exponent that
// holds the rounded mantissa; magnitudes above 32752 are held at 32752.
uint16_t EncodeN2Real(double value);
double DecodeN2Real(uint16_t item);

// "A" + data text + four check characters (the Fletcher check bytes of the
// data text read as hex pairs) + two-digit frame sum of everything between the
// "A" and the sum. No CR.
std::string System91DataReply(const std::string &dataText);
// "A" + data hex + frame sum of the data hex: the N2 Open item-read reply.
std::string N2OpenDataReply(const std::string &dataHex);
// "N" + the code in two decimal digits.
std::string NakReply(int code);

// Request frames as a bus master sends them, for tests and tools that talk to
// a simulated station directly; no CR.
// ">" + hex of message and its Fletcher check bytes + frame sum.
std::string System91Request(const Bytes &message);
// ">" + hex of message + frame sum (N2 Open: no check bytes).
std::string N2OpenRequest(const Bytes &message);

}  // namespace n2sim

#endif  // ZAMKT_SIM_WIRE_H
