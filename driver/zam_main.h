// The driver's one exported entry.
#ifndef ZAMKT_DRIVER_ZAM_MAIN_H
#define ZAMKT_DRIVER_ZAM_MAIN_H

#include <stdint.h>

#include "driver/requests.h"

#if defined(_WIN32)
#define ZAMKT_EXPORT __declspec(dllexport)
#else
#define ZAMKT_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Calls the handler in the table slot of request->command and returns its
// status unchanged. Codes without a handler (0, 8, 9, anything outside 0..15)
// return 1 and touch nothing.
ZAMKT_EXPORT int32_t ZamMain(DriverRequest *request);

#ifdef __cplusplus
}
#endif

#endif  // ZAMKT_DRIVER_ZAM_MAIN_H
