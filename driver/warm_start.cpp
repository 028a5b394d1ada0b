// Command 2: the host resynchronises one station of a running channel.
#include "driver/handlers.h"
#include "driver/log.h"
#include "driver/station_types.h"
#include "n2open/item_exchange.h"
#include "serial/port.h"

int32_t WarmStart(DriverRequest *request) {
  if (request == nullptr || request->context == nullptr) return 0;
  ChannelContext *context = request->context;
  const WarmStartBlock *block = static_cast<const WarmStartBlock *>(request->parameters);
  if (block == nullptr) {
    ZamLog(kLogLevel, "ZAMKT%02d: WarmStart() no station given", context->channelNumber);
    return 0;
  }
  int32_t station = block->station;
  ZamLog(kLogLevel, "ZAMKT%02d: WarmStart. Station %d", context->channelNumber, station);

  // Whatever the station was still sending belongs to no request any more.
  if (context->port != nullptr) PortDiscardInput(context->port);

  if (!IsStationAddress(station)) return 0;
  // An N2 Open station comes back only through its initialisation handshake.
  // Its initialised flag stays as it is: a station never initialised is still
  // initialised by the next read or write, and one that was stays marked even
  // when this handshake fails.
  if (IsN2OpenStation(context, station)) N2OPEN_InitStation(context, station);
  return 0;
}
