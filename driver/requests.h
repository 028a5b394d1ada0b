// The records that cross the boundary between the host application and the
// driver. The host builds and owns every one of them; the driver only reads
// the request and parameter blocks and fills the outputs named below.
//
// Plain C layout: the fields in the host's order, the gaps the host leaves
// as explicit reserved fields, natural alignment. On the host's 32-bit ABI the
// offsets are the host's own tables (checked below); a 64-bit build keeps the
// same fields with pointer-sized pointers.
#ifndef ZAMKT_DRIVER_REQUESTS_H
#define ZAMKT_DRIVER_REQUESTS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The open serial port of a channel; 0 (null) means closed. Pointer-sized so
// that it holds a Windows handle; the POSIX port layer stores a descriptor in
// a form where 0 never names an open port.
typedef void *PortHandle;

// The host's command codes; ZamMain indexes its 16-slot table with them.
enum DriverCommand {
  kCmdInitChannel = 1,
  kCmdWarmStart = 2,
  kCmdSingleParse = 3,
  kCmdBlockParse = 4,
  kCmdSingleRead = 5,
  kCmdBlockRead = 6,
  kCmdSingleWrite = 7,
  kCmdBlockWrite = 10,
  kCmdClosePort = 11,
  kCmdClosePortAlt = 12,
  kCmdReopenPort = 13,
  kCmdDriverInfo = 14,
  kCmdChangePort = 15,
  kCommandSlots = 16
};

// The host's gate data types.
enum GateDataType {
  kGateInt16 = 0,
  kGateUInt16 = 1,
  kGateReal = 3,
  kGateInt32 = 5,
  kGateDigital = 6
};

typedef struct PortSettings {
  uint16_t baud;      // bits per second
  uint16_t dataBits;  // low byte used
  uint16_t stopBits;  // 0 one, 1 one and a half, 2 two; low byte used
  uint16_t parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space; low byte used
} PortSettings;

enum { kPortNameSize = 12, kStationTypeSize = 8, kStationSlots = 256, kN2OpenFlagSlots = 255 };

// One per channel, allocated by the host with the size command 14 reports.
typedef struct ChannelContext {
  int32_t timeout;                  // configured time-out, units of 10 ms
  PortHandle port;                  // null when closed
  uint32_t enabled;                 // enabled flag from command 1
  char portName[kPortNameSize];     // NUL-terminated device name
  PortSettings settings;            // serial settings in force
  uint16_t lineOptions;             // option bits for the port opener; always 8
  char stationTypes[kStationSlots][kStationTypeSize];  // "DX9100", "XT9100", ...
  uint16_t channelNumber;           // host's channel number, "ZAMKT%02d"
  int32_t n2openInitialised[kN2OpenFlagSlots];  // per station 0..254
} ChannelContext;

typedef struct DriverRequest {
  ChannelContext *context;
  int32_t command;          // DriverCommand
  uint16_t channelNumber;   // read only by command 1
  uint8_t reserved[6];
  void *parameters;         // the command's parameter block
} DriverRequest;

// Command 1, initialise channel.
typedef struct InitChannelBlock {
  char portName[kPortNameSize];
  int32_t enabled;          // 0: channel not used, nothing opened
  int32_t timeout;          // units of 10 ms
  PortSettings settings;
} InitChannelBlock;

// Command 2, warm start.
typedef struct WarmStartBlock {
  int32_t station;
} WarmStartBlock;

// Commands 3 and 4, gate address parsing.
typedef struct ParseBlock {
  const char *gas;          // in: gate address string
  uint32_t reserved;
  int32_t dataType;         // in: GateDataType
  int32_t itemCount;        // in: consecutive items wanted (command 4)
  int32_t station;          // out
  int32_t region;           // out: special kind or N2 Open region code
  int32_t element;          // out: device address or N2 Open element
  int32_t bit;              // out: 255 = no bit
  int32_t width;            // out: 16, 32, or 1 for digital N2 Open gates
} ParseBlock;

// Commands 5, 6 and 7, read and write of a gate.
typedef struct ReadWriteBlock {
  const char *gas;
  uint32_t reserved1;
  int32_t station;
  int32_t region;           // special kind or N2 Open region code (16 bits used)
  int32_t element;          // device address or N2 Open element (16 bits used)
  int32_t bit;              // 255 = none (16 bits used)
  uint32_t reserved2;
  int32_t dataType;         // GateDataType (8 bits used)
  int32_t itemCount;        // 1 for single reads and writes
  uint32_t reserved3;
  void *value;              // value buffer
} ReadWriteBlock;

// Command 14, driver information (filled by the driver).
typedef struct DriverInfoBlock {
  int32_t driverId;         // 82
  const char *catalogueText;
  const char *banner;
  int32_t recordSize;       // sizeof(ChannelContext)
  int32_t constant4;        // 4
  PortSettings defaults;    // 9600, 8, 0, 0
  int32_t constant3;        // 3
} DriverInfoBlock;

// Command 15, change port.
typedef struct ChangePortBlock {
  char portName[kPortNameSize];
  int32_t timeout;          // units of 10 ms; 0 keeps the stored value
  PortSettings settings;
} ChangePortBlock;

#ifdef __cplusplus
}  // extern "C"
#endif

#ifdef __cplusplus
#define ZAMKT_OFFSET(type, field, at32, at64) \
  static_assert(offsetof(type, field) == (sizeof(void *) == 4 ? (at32) : (at64)), #type "." #field)
#define ZAMKT_SIZE(type, s32, s64) \
  static_assert(sizeof(type) == (sizeof(void *) == 4 ? (s32) : (s64)), "sizeof " #type)
#else
#define ZAMKT_OFFSET(type, field, at32, at64) \
  _Static_assert(offsetof(type, field) == (sizeof(void *) == 4 ? (at32) : (at64)), #type "." #field)
#define ZAMKT_SIZE(type, s32, s64) \
  _Static_assert(sizeof(type) == (sizeof(void *) == 4 ? (s32) : (s64)), "sizeof " #type)
#endif

// The host's tables give the 32-bit offsets; the 64-bit ones follow from
// natural alignment.
ZAMKT_SIZE(PortSettings, 8, 8);
ZAMKT_OFFSET(PortSettings, parity, 6, 6);
ZAMKT_OFFSET(DriverRequest, command, 4, 8);
ZAMKT_OFFSET(DriverRequest, channelNumber, 8, 12);
ZAMKT_OFFSET(DriverRequest, reserved, 10, 14);
ZAMKT_OFFSET(DriverRequest, parameters, 16, 24);
ZAMKT_SIZE(DriverRequest, 20, 32);
ZAMKT_OFFSET(InitChannelBlock, enabled, 12, 12);
ZAMKT_OFFSET(InitChannelBlock, timeout, 16, 16);
ZAMKT_OFFSET(InitChannelBlock, settings, 20, 20);
ZAMKT_SIZE(InitChannelBlock, 28, 28);
ZAMKT_OFFSET(ChangePortBlock, timeout, 12, 12);
ZAMKT_OFFSET(ChangePortBlock, settings, 16, 16);
ZAMKT_SIZE(ChangePortBlock, 24, 24);
ZAMKT_SIZE(WarmStartBlock, 4, 4);
ZAMKT_OFFSET(ParseBlock, reserved, 4, 8);
ZAMKT_OFFSET(ParseBlock, dataType, 8, 12);
ZAMKT_OFFSET(ParseBlock, itemCount, 12, 16);
ZAMKT_OFFSET(ParseBlock, station, 16, 20);
ZAMKT_OFFSET(ParseBlock, region, 20, 24);
ZAMKT_OFFSET(ParseBlock, element, 24, 28);
ZAMKT_OFFSET(ParseBlock, bit, 28, 32);
ZAMKT_OFFSET(ParseBlock, width, 32, 36);
ZAMKT_SIZE(ParseBlock, 36, 40);
ZAMKT_OFFSET(ReadWriteBlock, reserved1, 4, 8);
ZAMKT_OFFSET(ReadWriteBlock, station, 8, 12);
ZAMKT_OFFSET(ReadWriteBlock, region, 12, 16);
ZAMKT_OFFSET(ReadWriteBlock, element, 16, 20);
ZAMKT_OFFSET(ReadWriteBlock, bit, 20, 24);
ZAMKT_OFFSET(ReadWriteBlock, reserved2, 24, 28);
ZAMKT_OFFSET(ReadWriteBlock, dataType, 28, 32);
ZAMKT_OFFSET(ReadWriteBlock, itemCount, 32, 36);
ZAMKT_OFFSET(ReadWriteBlock, reserved3, 36, 40);
ZAMKT_OFFSET(ReadWriteBlock, value, 40, 48);
ZAMKT_SIZE(ReadWriteBlock, 44, 56);
ZAMKT_OFFSET(DriverInfoBlock, catalogueText, 4, 8);
ZAMKT_OFFSET(DriverInfoBlock, banner, 8, 16);
ZAMKT_OFFSET(DriverInfoBlock, recordSize, 12, 24);
ZAMKT_OFFSET(DriverInfoBlock, constant4, 16, 28);
ZAMKT_OFFSET(DriverInfoBlock, defaults, 20, 32);
ZAMKT_OFFSET(DriverInfoBlock, constant3, 28, 40);
ZAMKT_SIZE(DriverInfoBlock, 32, 48);
ZAMKT_OFFSET(ChannelContext, port, 4, 8);
ZAMKT_OFFSET(ChannelContext, enabled, 8, 16);
ZAMKT_OFFSET(ChannelContext, portName, 12, 20);
ZAMKT_OFFSET(ChannelContext, settings, 24, 32);
ZAMKT_OFFSET(ChannelContext, lineOptions, 32, 40);
ZAMKT_OFFSET(ChannelContext, stationTypes, 34, 42);
ZAMKT_OFFSET(ChannelContext, channelNumber, 2082, 2090);
ZAMKT_OFFSET(ChannelContext, n2openInitialised, 2084, 2092);
ZAMKT_SIZE(ChannelContext, 3104, 3112);

#undef ZAMKT_OFFSET
#undef ZAMKT_SIZE

#endif  // ZAMKT_DRIVER_REQUESTS_H
