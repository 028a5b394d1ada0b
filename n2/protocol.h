// Wire constants of the System 91 and N2 Open request frames, named once.
#ifndef ZAMKT_N2_PROTOCOL_H
#define ZAMKT_N2_PROTOCOL_H

#include <stdint.h>

constexpr char kStartChar = '>';
constexpr char kFrameEnd = '\r';
constexpr char kAckChar = 'A';
constexpr char kNakChar = 'N';

// System 91 command bytes. The paged forms add the page (address / 256, 0..3)
// to the command byte; a write command byte is its read command byte | 0x40.
constexpr uint8_t kCmdMemReadPaged = 0x80;
constexpr uint8_t kCmdMemReadFull = 0x84;
constexpr uint8_t kCmdBlockReadPaged = 0xA8;
constexpr uint8_t kCmdBlockReadFull = 0xAC;
constexpr uint8_t kCmdAreaRead = 0x98;
constexpr uint8_t kCmdMemWritePaged = 0xC0;
constexpr uint8_t kCmdMemWriteFull = 0xC4;
constexpr uint8_t kCmdAreaWrite = 0xD8;

// Area codes of the area reads and writes.
constexpr uint8_t kAreaTimeSchedule = 0x10;
constexpr uint8_t kAreaRealTimeClock = 0x01;

// Addresses from here on use the full address form.
constexpr uint16_t kFirstFullAddress = 1024;

// Special kinds that SingleParse puts in the region code of System 91 gates.
constexpr int32_t kSpecialNone = 0;
constexpr int32_t kSpecialSchedule = 84;  // 'T'
constexpr int32_t kSpecialClock = 82;     // 'R'

constexpr int32_t kNoBit = 255;
// Highest bit number of a 16-bit item.
constexpr int32_t kHighestBit = 15;

// Every protocol request is tried up to this many times.
constexpr int kAttempts = 5;
// A block read fetches at most this many consecutive items (the limit the
// eligibility check of command 4 admits); the host's value buffer and the
// reply line are sized for it.
constexpr int32_t kMaxBlockItems = 32;
// Pause after a successful System 91 read or write, and between read-back and
// write of a read-modify-write.
constexpr uint32_t kSuccessPauseMs = 4;

// N2 Open command bytes.
constexpr uint8_t kN2OpenIdentify = 0x04;   // first initialisation frame
constexpr char kN2OpenStatusChar = 'F';     // second initialisation frame
constexpr uint8_t kN2OpenReadBase = 0x10;   // + region number
constexpr uint8_t kN2OpenReadAttribute = 0x02;
constexpr uint8_t kN2OpenWrite = 0x72;
constexpr uint8_t kN2OpenRelease = 0x73;    // write to an override tag
constexpr uint32_t kN2OpenInitPauseMs = 100;

// N2 Open region codes as the host sees them; 1008..1012 are the override
// forms of 1003..1007.
constexpr int32_t kRegionAI = 1001;
constexpr int32_t kRegionBI = 1002;
constexpr int32_t kRegionAO = 1003;
constexpr int32_t kRegionBO = 1004;
constexpr int32_t kRegionAF = 1005;
constexpr int32_t kRegionAD = 1006;
constexpr int32_t kRegionBD = 1007;
constexpr int32_t kRegionOverrideFirst = 1008;
constexpr int32_t kRegionOverrideLast = 1012;
// Elements the one-byte element field of a frame can address (element - 1).
constexpr int32_t kN2OpenMaxElement = 256;

#endif  // ZAMKT_N2_PROTOCOL_H
