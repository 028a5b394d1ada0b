#include "driver/log.h"

#include <stdarg.h>
#include <stdio.h>

#include "host/qorpro.h"

void ZamLog(int level, const char *format, ...) {
  // Formatting here keeps the host's call simple ("%s" and one string) and
  // bounds every message, whatever the GAS or reply line it quotes.
  char message[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  err(level, "%s", message);
}

void ZamTraceWord(uint16_t word) { err(kTraceLevel, "16 Bit Value = %x ", static_cast<unsigned>(word)); }
