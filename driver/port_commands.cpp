// The small handlers that only manage the channel's port: block write
// refusal (10), close (11, 12), reopen (13) and change port (15).
#include <string.h>

#include "driver/handlers.h"
#include "driver/log.h"
#include "serial/port.h"

namespace {

// The port name of a block, as a terminated copy (a name that fills all 12
// characters has no terminator and is then refused by the opener).
bool SameName(const char *a, const char *b) { return strncmp(a, b, kPortNameSize) == 0; }

// Stores a newly opened handle in place of the one the record held. The old
// one is closed only when it is a port opened for this very record (the
// close's result is not checked: the record keeps the new port either way);
// any other number there is another channel's port or none, and is dropped.
void ReplaceHandle(ChannelContext *context, PortHandle handle) {
  if (context->port != handle && PortOpenedFor(context->port, context)) (void)PortClose(context->port);
  context->port = handle;
}

}  // namespace

int32_t BlockWrite(DriverRequest *) {
  // Every gate is written with command 7; there is no multi-element write.
  ZamLog(kLogLevel, "ZAMKT: Block Write not allowed!");
  return 1;
}

int32_t ClosePort(DriverRequest *request) {
  ChannelContext *context = request->context;
  if (context == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: ClosePort() no channel");
    return 2;
  }
  if (context->port == nullptr) return 0;
  // A number this record's port was never opened for (what the host's memory
  // held, or the leftover of a port closed by other means) is dropped without
  // closing anything: it may name another channel's port.
  if (PortOpenedFor(context->port, context) && PortClose(context->port) != kPortOk) {
    return 2;  // kept, so the host may try again
  }
  context->port = nullptr;
  return 0;
}

int32_t ReopenPort(DriverRequest *request) {
  ChannelContext *context = request->context;
  if (context == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: ReopenPort() no channel");
    return 2;
  }
  PortHandle handle = OpenPortHandle(context->portName, &context->settings, context->lineOptions, context);
  if (handle == nullptr) return 2;
  // A port still open under the same name is not closed first: the exclusive
  // open then fails above and the old handle stays in the record. When the
  // open succeeds all the same (the device went away and came back under its
  // name), the old handle is stale and is let go, so that its slot is free.
  ReplaceHandle(context, handle);
  context->enabled = 1;
  return 0;
}

int32_t ChangePort(DriverRequest *request) {
  ChannelContext *context = request->context;
  const ChangePortBlock *block = static_cast<const ChangePortBlock *>(request->parameters);
  if (context == nullptr || block == nullptr) {
    ZamLog(kLogLevel, "ZAMKT: ChangePort() no channel or parameter block");
    return 2;
  }

  if (block->timeout != 0) {
    int32_t timeout = block->timeout < 0 ? 0 : block->timeout;
    context->timeout = timeout > kMaxReadTimeout10ms ? kMaxReadTimeout10ms : timeout;
  }
  if (!SameName(block->portName, context->portName) && context->port != nullptr) {
    // Only this record's own port is closed; another number is dropped.
    if (!PortOpenedFor(context->port, context) || PortClose(context->port) == kPortOk) context->port = nullptr;
  }
  memcpy(context->portName, block->portName, kPortNameSize);
  context->settings = block->settings;

  PortHandle handle = OpenPortHandle(context->portName, &context->settings, context->lineOptions, context);
  if (handle == nullptr) return 2;
  ReplaceHandle(context, handle);
  return 0;
}
