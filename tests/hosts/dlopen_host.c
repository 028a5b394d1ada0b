/* A host that loads the driver as the supervisory application does: with
 * dlopen, without linking the host logging library itself. It triggers a
 * driver message and must go on running afterwards: the driver's err() has
 * to be the logging library's, never the C library's err(), which exits. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "driver/requests.h"

typedef int32_t (*ZamMainFunction)(DriverRequest *);

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s LIBZAMKT\n", argv[0]);
    return 2;
  }
  void *driver = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (driver == NULL) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 2;
  }
  ZamMainFunction zamMain = (ZamMainFunction)dlsym(driver, "ZamMain");
  if (zamMain == NULL) {
    fprintf(stderr, "dlsym: %s\n", dlerror());
    return 2;
  }
  ChannelContext context;
  memset(&context, 0, sizeof context);
  DriverRequest request;
  memset(&request, 0, sizeof request);
  request.context = &context;
  request.command = kCmdBlockWrite;
  int32_t status = zamMain(&request);
  printf("status %d, still running\n", (int)status);
  return 0;
}
