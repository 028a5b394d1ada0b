// The per-channel station-type file "ZAMKTnn.int": one assignment per line,
// " %03u = %s", naming the device family at a station address. The reader
// takes at most 1000 lines and the first 255 characters of each (the
// assignment is at the start; the rest of a longer line is dropped with a
// message), stops at the first empty line, and reports what it skips.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "driver/handlers.h"
#include "driver/log.h"
#include "driver/station_types.h"

namespace {

constexpr int kMaxLines = 1000;
constexpr int kLineBufferSize = 256;  // 255 characters of a line and the NUL

// Families the file may assign; DX9100 is the default and not assignable.
constexpr const char *kAssignableTypes[] = {kTypeTC9100, kTypeXT9100, kTypeN2Open};

bool IsAssignable(const char *name) {
  for (const char *type : kAssignableTypes) {
    if (strcmp(name, type) == 0) return true;
  }
  return false;
}

// One line of the file, without its line feed: at most kLineBufferSize - 1
// characters are kept and terminated, the rest of a longer line is read and
// dropped (*cut), so that its tail is never taken for a line of its own.
// *kept counts the characters kept, NUL bytes included. False at the end of
// the file when not even a line feed was left to read.
bool ReadFileLine(FILE *file, char (&line)[kLineBufferSize], size_t *kept, bool *cut) {
  size_t count = 0;
  bool any = false;
  *cut = false;
  for (int c = getc(file); c != EOF; c = getc(file)) {
    any = true;
    if (c == '\n') break;
    if (count < kLineBufferSize - 1) {
      line[count++] = static_cast<char>(c);
    } else {
      *cut = true;
    }
  }
  line[count] = '\0';
  *kept = count;
  return any;
}

// True when the file goes on with a line that is not empty (an empty line or
// the end of the file would have ended the reading anyway).
bool MoreLinesFollow(FILE *file) {
  const int c = getc(file);
  return c != EOF && c != '\n' && c != '\r';
}

}  // namespace

int ReadInitFile(DriverRequest *request) {
  ChannelContext *context = request->context;
  int channel = context->channelNumber;
  char fileName[32];
  snprintf(fileName, sizeof fileName, "ZAMKT%02d.int", channel);

  FILE *file = fopen(fileName, "r");
  if (file == nullptr) {
    ZamLog(kLogLevel, "ZAMKT%02d: ReadInitFile() File '%s' not found. All PLC's default to DX9100", channel,
           fileName);
    return 0;
  }

  char line[kLineBufferSize];
  int count = 0;
  for (; count < kMaxLines; ++count) {
    size_t length = 0;
    bool cut = false;
    if (!ReadFileLine(file, line, &length, &cut)) break;
    // An empty line ends the file: nothing after it is read.
    if (length == 0 || line[0] == '\r') break;
    // Drop a carriage return before the line feed (a CR LF pair counts as one
    // line end, as text mode reading gives it on the host's platform).
    if (line[length - 1] == '\r') line[--length] = '\0';
    // The assignment stands at the start of the line; whatever a long line
    // holds past the buffer is dropped with it, never read as a line.
    if (cut) {
      ZamLog(kLogLevel, "ZAMKT%02d: ReadInitFile() File '%s' Line '%s' longer than %d characters, the rest ignored",
             channel, fileName, line, kLineBufferSize - 1);
    }

    unsigned station = 0;
    char name[kLineBufferSize];
    if (sscanf(line, " %03u = %255s", &station, name) < 2) {
      ZamLog(kLogLevel, "ZAMKT%02d: ReadInitFile() File '%s' Line '%s' is invalid", channel, fileName, line);
      continue;
    }
    if (station == 0 || station > static_cast<unsigned>(kLastTypedStation)) {
      ZamLog(kLogLevel, "ZAMKT%02d: ReadInitFile() File '%s' Line '%s' invalid station number", channel, fileName,
             line);
      continue;
    }
    for (char *p = name; *p != '\0'; ++p) *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    if (!IsAssignable(name)) {
      ZamLog(kLogLevel, "ZAMKT%02d: ReadInitFile() File '%s' Line '%s' invalid Johnson device type", channel,
             fileName, line);
      continue;
    }
    ZamLog(kLogLevel, "ZAMKT%02d: ReadInitFile() PLC #%03d set to type '%s'", channel, static_cast<int>(station),
           name);
    memset(context->stationTypes[station], 0, kStationTypeSize);
    memcpy(context->stationTypes[station], name, strlen(name) + 1);
  }
  if (count == kMaxLines && MoreLinesFollow(file)) {
    ZamLog(kLogLevel, "ZAMKT%02d: ReadInitFile() File '%s' has more than %d lines, the rest ignored", channel,
           fileName, kMaxLines);
  }
  fclose(file);
  return 1;
}
