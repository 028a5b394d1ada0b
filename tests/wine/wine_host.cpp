// A Windows host for the end-to-end check: loads zamkt.dll the way the
// supervisory application does (LoadLibrary, GetProcAddress("ZamMain")),
// starts channel 1 on a COM port with a device simulator behind it, and reads
// and writes a few gates of n2sim's default plant through the Win32 serial
// layer. Prints one line per step; the exit status is the number of failed
// steps (or 100 when the driver cannot be loaded).
//
//   wine_host.exe PORT [PATH-OF-ZAMKT.DLL]
//
// The station-type file of channel 1 is written into the working folder, as
// an installation keeps it beside the host.
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "driver/requests.h"

namespace {

using ZamMainEntry = int32_t(__cdecl *)(DriverRequest *);

ZamMainEntry g_zamMain = nullptr;
ChannelContext *g_context = nullptr;
int g_failures = 0;

void Report(bool ok, const char *format, ...) {
  va_list args;
  va_start(args, format);
  printf("%s ", ok ? "ok  " : "FAIL");
  vprintf(format, args);
  printf("\n");
  fflush(stdout);
  va_end(args);
  if (!ok) ++g_failures;
}

int32_t Call(int32_t command, void *parameters, uint16_t channel = 1) {
  DriverRequest request;
  memset(&request, 0, sizeof request);
  request.context = g_context;
  request.command = command;
  request.channelNumber = channel;
  request.parameters = parameters;
  return g_zamMain(&request);
}

// Parses the gate as the host does when the gate is defined, then sends the
// read or write with the parse results.
int32_t Gate(int32_t command, const char *gas, int32_t dataType, void *value) {
  ParseBlock parsed;
  memset(&parsed, 0, sizeof parsed);
  parsed.gas = gas;
  parsed.dataType = dataType;
  parsed.itemCount = 1;
  int32_t status = Call(kCmdSingleParse, &parsed);
  if (status != 0) {
    printf("     parse of %s gave %d\n", gas, static_cast<int>(status));
    return 100 + status;
  }
  ReadWriteBlock block;
  memset(&block, 0, sizeof block);
  block.gas = gas;
  block.station = parsed.station;
  block.region = parsed.region;
  block.element = parsed.element;
  block.bit = parsed.bit;
  block.dataType = dataType;
  block.itemCount = 1;
  block.value = value;
  return Call(command, &block);
}

void ReadReal(const char *gas, float expected, bool checkValue) {
  float value = NAN;
  int32_t status = Gate(kCmdSingleRead, gas, kGateReal, &value);
  bool ok = status == 0 && !isnan(value) && (!checkValue || value == expected);
  Report(ok, "read  %-11s status %d value %g%s", gas, static_cast<int>(status), static_cast<double>(value),
         checkValue ? (value == expected ? " (as written)" : " (expected another value)") : "");
}

void WriteReal(const char *gas, float value) {
  int32_t status = Gate(kCmdSingleWrite, gas, kGateReal, &value);
  Report(status == 0, "write %-11s status %d value %g", gas, static_cast<int>(status), static_cast<double>(value));
}

bool WriteStationTypes() {
  FILE *file = fopen("ZAMKT01.int", "w");
  if (file == nullptr) return false;
  fputs("005 = N2OPEN\n010 = XT9100\n020 = TC9100\n", file);
  return fclose(file) == 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: wine_host PORT [PATH-OF-ZAMKT.DLL]\n");
    return 100;
  }
  const char *port = argv[1];
  const char *library = argc > 2 ? argv[2] : "zamkt.dll";

  HMODULE driver = LoadLibraryA(library);
  if (driver == nullptr) {
    fprintf(stderr, "LoadLibrary(%s) failed: error %lu\n", library, GetLastError());
    return 100;
  }
  g_zamMain = reinterpret_cast<ZamMainEntry>(reinterpret_cast<void (*)()>(GetProcAddress(driver, "ZamMain")));
  if (g_zamMain == nullptr) {
    fprintf(stderr, "GetProcAddress(ZamMain) failed: error %lu\n", GetLastError());
    return 100;
  }

  // The host learns the record size first and allocates the channel record.
  DriverInfoBlock info;
  memset(&info, 0, sizeof info);
  int32_t status = Call(kCmdDriverInfo, &info);
  Report(status == 0 && info.recordSize == static_cast<int32_t>(sizeof(ChannelContext)),
         "driver information: \"%s\", channel record %d bytes (%d-bit host)", info.catalogueText,
         static_cast<int>(info.recordSize), static_cast<int>(8 * sizeof(void *)));
  g_context = static_cast<ChannelContext *>(calloc(1, info.recordSize > 0 ? info.recordSize : 1));

  Report(WriteStationTypes(), "station-type file ZAMKT01.int written");

  InitChannelBlock init;
  memset(&init, 0, sizeof init);
  strncpy(init.portName, port, sizeof init.portName - 1);
  init.enabled = 1;
  init.timeout = 20;  // 200 ms per read
  init.settings = PortSettings{9600, 8, 0, 0};
  status = Call(kCmdInitChannel, &init);
  Report(status == 0 && g_context->port != nullptr, "start channel 1 on %s: status %d", port, static_cast<int>(status));
  if (status != 0) {
    printf("%d step(s) failed\n", g_failures);
    return g_failures;
  }

  // System 91: a DX9100 analog input's high range, and a control-module
  // set-point written and read back.
  ReadReal("001AI01HR", 0.0f, false);
  WriteReal("001PM01LSP", 42.5f);
  ReadReal("001PM01LSP", 42.5f, true);
  WriteReal("001PM01LSP", -17.25f);
  ReadReal("001PM01LSP", -17.25f, true);

  // N2 Open: the first item read initialises the station; then an analog
  // output written and read back.
  ReadReal("005AI001", 0.0f, false);
  WriteReal("005AO003", 12.5f);
  ReadReal("005AO003", 12.5f, true);

  // A station that is not on the bus: every attempt times out.
  float value = 0.0f;
  status = Gate(kCmdSingleRead, "030AI01HR", kGateReal, &value);
  Report(status == 2, "read  030AI01HR   status %d (no station 30: no reply)", static_cast<int>(status));

  // Warm start of the N2 Open station, then close and reopen the port.
  WarmStartBlock warm = {5};
  status = Call(kCmdWarmStart, &warm);
  Report(status == 0, "warm start of station 5: status %d", static_cast<int>(status));
  status = Call(kCmdClosePort, nullptr);
  Report(status == 0 && g_context->port == nullptr, "close port: status %d", static_cast<int>(status));
  status = Call(kCmdReopenPort, nullptr);
  Report(status == 0 && g_context->port != nullptr, "reopen port: status %d", static_cast<int>(status));
  ReadReal("001PM01LSP", -17.25f, true);
  status = Call(kCmdClosePort, nullptr);
  Report(status == 0, "close port: status %d", static_cast<int>(status));

  free(g_context);
  FreeLibrary(driver);
  printf("%d step(s) failed\n", g_failures);
  return g_failures;
}
