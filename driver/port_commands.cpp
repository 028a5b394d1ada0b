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

// Stores a newly opened handle, closing the one it replaces (its result is
// not checked: the record keeps the new port either way).
void ReplaceHandle(ChannelContext *context, PortHandle handle) {
  if (context->port != nullptr && context->port != handle) (void)PortClose(context->port);
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
  if (PortClose(context->port) != kPortOk) return 2;  // kept, so the host may try again
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
    if (PortClose(context->port) == kPortOk) context->port = nullptr;
  }
  memcpy(context->portName, block->portName, kPortNameSize);
  context->settings = block->settings;

  PortHandle handle = OpenPortHandle(context->portName, &context->settings, context->lineOptions, context);
  if (handle == nullptr) return 2;
  ReplaceHandle(context, handle);
  return 0;
}
