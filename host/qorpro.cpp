// A minimal host logging library: formats the message and appends one line
// per call to the file named by QORPRO_LOG, or writes it to standard error.
#define QORPRO_BUILDING
#include "host/qorpro.h"

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

}  // namespace

extern "C" QORPRO_API void err(int level, const char *format, ...) {
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
