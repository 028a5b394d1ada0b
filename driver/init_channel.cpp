// Command 1: brings a channel to life. Opens and configures the port, fills
// the ChannelContext and learns the station types from the station-type file.
#include <string.h>

#include "driver/handlers.h"
#include "driver/log.h"
#include "driver/station_types.h"
#include "serial/port.h"

namespace {

// The channel's time-out never goes below this (units of 10 ms).
constexpr int32_t kMinContextTimeout = 100;

int32_t BoundedTimeout(int32_t timeout) {
  if (timeout < 0) return 0;
  return timeout > kMaxReadTimeout10ms ? kMaxReadTimeout10ms : timeout;
}

}  // namespace

int32_t InitChannel(DriverRequest *request) {
  ZamLog(kLogLevel, "ZAMKT: ver. compiled on %s at %s", __DATE__, __TIME__);

  ChannelContext *context = request->context;
  const InitChannelBlock *block = static_cast<const InitChannelBlock *>(request->parameters);
  if (context == nullptr || block == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: InitChannel() no channel or parameter block");
    return 2;
  }

  context->enabled = static_cast<uint32_t>(block->enabled);
  if (block->enabled == 0) {
    // Nothing is opened. The port field keeps only a port opened for this
    // record (a channel started again, now disabled); any other number the
    // host's memory left there would later be closed or written to as if it
    // were this channel's port, and is dropped.
    if (!PortOpenedFor(context->port, context)) context->port = nullptr;
    return 0;
  }

  context->channelNumber = request->channelNumber;

  // The name as a terminated copy; a name that fills all 12 characters is
  // refused by the opener.
  char portName[kPortNameSize];
  memcpy(portName, block->portName, kPortNameSize);
  PortSettings settings = block->settings;
  uint16_t lineOptions = kLineOptionsDefault;

  PortHandle handle = OpenPortHandle(portName, &settings, lineOptions, context);
  if (handle == nullptr) {
    ZamLog(kLogLevel, "ZAMKT : Fail to open %.*s", kPortNameSize, portName);
    return 2;
  }
  // A channel started again (the host repeats command 1, or a USB adapter
  // came back under its name) still holds its former port: it is let go, or
  // every start would cost one entry of the port table. The record holds
  // whatever the host's memory held before the channel's first start, so
  // only a port opened for this very record is closed, never another
  // channel's port whose number happens to lie there.
  if (context->port != handle && PortOpenedFor(context->port, context)) (void)PortClose(context->port);
  context->port = handle;
  int32_t timeout = BoundedTimeout(block->timeout);
  (void)PortSetReadTimeout(handle, timeout);

  memcpy(context->portName, portName, kPortNameSize);
  context->settings = settings;
  context->lineOptions = lineOptions;
  context->timeout = timeout < kMinContextTimeout ? kMinContextTimeout : timeout;

  ResetStationTypes(context);
  (void)ReadInitFile(request);
  // N2 Open stations are initialised by their first read or write.
  for (int32_t station = 0; station <= kLastTypedStation; ++station) {
    if (IsN2OpenStation(context, station)) context->n2openInitialised[station] = 0;
  }

  ZamLog(kLogLevel, "ZAMKT: Johnson N2  Driver, loaded successfully.");
  return 0;
}
