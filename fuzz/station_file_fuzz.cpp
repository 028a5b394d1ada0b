// The station-type file "ZAMKTnn.int" as command 1 reads it from the current
// directory: the target writes the input as the channel's file into a
// directory of its own, starts the channel there through ZamMain on the port
// in memory, then closes it with command 11.
//
// Input:
//   0      channel number (the file's name)
//   1      bit 0: no file at all
//   2...   the file's contents
// The checks: both commands return 0; every station slot holds one of the
// four family names, terminated and padded with NULs, and station 0 stays a
// DX9100; a family other than DX9100 is assigned only when the file names
// it; exactly the N2 Open stations have their initialised flag cleared.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "driver/requests.h"
#include "driver/station_types.h"
#include "driver/zam_main.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/memory_port.h"

namespace {

constexpr int32_t kFlagPattern = 0x11111111;

// In memory where the system offers it: a file is written for every input.
char g_scratch[64];
int g_home = -1;

// Removes the files of every channel number and the directory at exit.
void RemoveScratchDirectory() {
  for (unsigned channel = 0; channel <= 0xFF; ++channel) {
    char fileName[sizeof g_scratch + 32];
    snprintf(fileName, sizeof fileName, "%s/ZAMKT%02u.int", g_scratch, channel);
    unlink(fileName);
  }
  rmdir(g_scratch);
}

// Moves into a directory of this process's own, made at the first call, so
// that the files written never meet a real channel's file. The driver's
// calls run there; everything else (the checks, and libFuzzer, which names
// its corpus and findings relative to where it started) runs back home.
void EnterScratchDirectory() {
  if (g_home < 0) {
    g_home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(g_home >= 0, "cannot hold the current directory");
    const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    snprintf(g_scratch, sizeof g_scratch, "%s/zamkt-station-file-fuzz-XXXXXX", base);
    FUZZ_CHECK(mkdtemp(g_scratch) != nullptr, "cannot make a scratch directory");
    atexit(RemoveScratchDirectory);
  }
  FUZZ_CHECK(chdir(g_scratch) == 0, "cannot enter %s", g_scratch);
}

void LeaveScratchDirectory() { FUZZ_CHECK(fchdir(g_home) == 0, "cannot return from %s", g_scratch); }

bool SlotHolds(const char *slot, const char *name) {
  char expected[kStationTypeSize] = {};
  memcpy(expected, name, strlen(name));
  return memcmp(slot, expected, kStationTypeSize) == 0;
}

std::string Upper(std::string text) {
  for (char &c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  EnterScratchDirectory();
  fuzz::Input input(data, size);
  const uint16_t channel = input.Byte();
  const bool noFile = input.Byte() & 1;
  const std::string contents = input.Rest();

  char fileName[32];
  snprintf(fileName, sizeof fileName, "ZAMKT%02d.int", channel);
  if (noFile) {
    unlink(fileName);
  } else {
    FILE *file = fopen(fileName, "wb");
    FUZZ_CHECK(file != nullptr, "cannot write %s", fileName);
    fwrite(contents.data(), 1, contents.size(), file);
    fclose(file);
  }

  static ChannelContext context;
  memset(&context, 0x5A, sizeof context);
  context.port = nullptr;
  for (int32_t &flag : context.n2openInitialised) flag = kFlagPattern;
  InitChannelBlock init;
  memset(&init, 0, sizeof init);
  strcpy(init.portName, "ttyFUZZ");
  init.enabled = 1;
  init.timeout = 100;
  init.settings = {9600, 8, 0, 0};
  DriverRequest request = {&context, kCmdInitChannel, channel, {}, &init};
  const int32_t started = ZamMain(&request);
  const bool portOpened = context.port != nullptr;
  DriverRequest close = {&context, kCmdClosePort, channel, {}, nullptr};
  const int32_t closed = ZamMain(&close);
  LeaveScratchDirectory();

  FUZZ_CHECK(started == 0 && portOpened, "command 1 returned %d", started);
  FUZZ_CHECK(closed == 0 && !memory_port::IsOpen(), "command 11 returned %d", closed);
  FUZZ_CHECK(context.channelNumber == channel, "channel number %u stored for %u", context.channelNumber, channel);

  const std::string upper = Upper(contents);
  FUZZ_CHECK(SlotHolds(context.stationTypes[0], kTypeDX9100), "station 0 became '%.8s'", context.stationTypes[0]);
  for (int32_t station = 0; station <= kLastTypedStation; ++station) {
    const char *slot = context.stationTypes[station];
    bool known = false;
    for (const char *name : {kTypeDX9100, kTypeXT9100, kTypeTC9100, kTypeN2Open}) {
      if (!SlotHolds(slot, name)) continue;
      known = true;
      FUZZ_CHECK(name == kTypeDX9100 || (!noFile && upper.find(name) != std::string::npos),
                 "station %d became %s, which the file does not name", station, name);
    }
    FUZZ_CHECK(known, "station %d holds '%.8s'", station, slot);
    const int32_t flag = context.n2openInitialised[station];
    if (SlotHolds(slot, kTypeN2Open)) {
      FUZZ_CHECK(flag == 0, "N2 Open station %d left flagged initialised (%d)", station, flag);
    } else {
      FUZZ_CHECK(flag == kFlagPattern, "flag of the %.8s station %d changed to %d", slot, station, flag);
    }
  }
  return 0;
}
