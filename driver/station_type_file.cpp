// The per-channel station-type file "ZAMKTnn.int": one assignment per line,
// " %03u = %s", naming the device family at a station address.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "driver/handlers.h"
#include "driver/log.h"
#include "driver/station_types.h"

namespace {

constexpr int kMaxLines = 1000;
constexpr int kLineBufferSize = 256;

// Families the file may assign; DX9100 is the default and not assignable.
constexpr const char *kAssignableTypes[] = {kTypeTC9100, kTypeXT9100, kTypeN2Open};

bool IsAssignable(const char *name) {
  for (const char *type : kAssignableTypes) {
    if (strcmp(name, type) == 0) return true;
  }
  return false;
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
  for (int count = 0; count < kMaxLines; ++count) {
    if (fgets(line, sizeof line, file) == nullptr) break;
    // An empty line ends the file: nothing after it is read.
    if (line[0] == '\r' || line[0] == '\n') break;
    // Drop the line end (a CR LF pair counts as one line end, as text mode
    // reading gives it on the host's platform).
    size_t length = strlen(line);
    if (length > 0 && line[length - 1] == '\n') line[--length] = '\0';
    if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';

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
  fclose(file);
  return 1;
}
