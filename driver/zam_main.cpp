#include "driver/zam_main.h"

#include "driver/handlers.h"
#include "n2/read.h"
#include "n2/tag_parse.h"
#include "n2/write.h"

namespace {

// The command table: one slot per command code; empty slots have no handler.
constexpr CommandHandler kCommandTable[kCommandSlots] = {
    nullptr,       // 0
    InitChannel,   // 1
    WarmStart,     // 2
    SingleParse,   // 3
    BlockParse,    // 4
    SingleRead,    // 5
    BlockRead,     // 6
    SingleWrite,   // 7
    nullptr,       // 8
    nullptr,       // 9
    BlockWrite,    // 10
    ClosePort,     // 11
    ClosePort,     // 12
    ReopenPort,    // 13
    DriverInfo,    // 14
    ChangePort,    // 15
};

// Status for a request the table has no handler for.
constexpr int32_t kNoHandler = 1;

}  // namespace

extern "C" int32_t ZamMain(DriverRequest *request) {
  if (request == nullptr) return kNoHandler;
  int32_t command = request->command;
  if (command < 0 || command >= kCommandSlots) return kNoHandler;
  CommandHandler handler = kCommandTable[command];
  if (handler == nullptr) return kNoHandler;
  return handler(request);
}
