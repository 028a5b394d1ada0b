// A minimal host logging library: formats the message and appends one line
// per call to the file named by QORPRO_LOG, or writes it to standard error;
// messages below the level QORPRO_LEVEL names are dropped.
#define QORPRO_BUILDING
#include "host/qorpro.h"

#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Writes the message with CR and LF spelled as \r and \n, so that one call is
// always exactly one line of the log.
void WriteEscaped(FILE *out, const char *message) {
  for (const char *p = message; *p != '\0'; ++p) {
    if (*p == '\r') {
      fputs("\\r", out);
    } else if (*p == '\n') {
      fputs("\\n", out);
    } else {
      fputc(*p, out);
    }
  }
}

// The lowest level written: QORPRO_LEVEL as a decimal number, or every
// level when it is unset, empty or not a number.
long LowestLevelWritten() {
  const char *text = getenv("QORPRO_LEVEL");
  if (text == nullptr || text[0] == '\0') return LONG_MIN;
  char *end = nullptr;
  const long level = strtol(text, &end, 10);
  return *end == '\0' ? level : LONG_MIN;
}

}  // namespace

extern "C" QORPRO_API void err(int level, const char *format, ...) {
  // The level comes first: a message the configuration drops costs neither
  // formatting nor a file access (the value encoder's level-8 line comes
  // with every value it encodes).
  if (level < LowestLevelWritten()) return;

  char message[4096];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format != nullptr ? format : "", args);
  va_end(args);

  // Looked up on every call, so a host (or a test) may redirect the log at
  // any time.
  const char *path = getenv("QORPRO_LOG");
  if (path != nullptr && path[0] != '\0') {
    FILE *file = fopen(path, "ab");
    if (file != nullptr) {
      fprintf(file, "%d\t", level);
      WriteEscaped(file, message);
      fputc('\n', file);
      fclose(file);
      return;
    }
  }
  fprintf(stderr, "[qorpro %d] ", level);
  WriteEscaped(stderr, message);
  fputc('\n', stderr);
  fflush(stderr);
}
