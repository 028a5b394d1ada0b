// The host's logging call for the fuzz targets. Every message is formatted in
// full, as the host library would, so that a message quoting a reply line or
// a GAS is read to its end under the sanitizers; it is then dropped, unless
// ZAMKT_FUZZ_VERBOSE is set (for replaying one input by hand), when it goes to
// standard error.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "host/qorpro.h"

extern "C" void err(int level, const char *format, ...) {
  static const bool verbose = getenv("ZAMKT_FUZZ_VERBOSE") != nullptr;
  char message[4096];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format != nullptr ? format : "", args);
  va_end(args);
  if (verbose) fprintf(stderr, "[%d] %s\n", level, message);
}
