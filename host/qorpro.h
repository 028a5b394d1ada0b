// The host logging library. The driver imports exactly one function of it.
#ifndef ZAMKT_HOST_QORPRO_H
#define ZAMKT_HOST_QORPRO_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#if defined(QORPRO_BUILDING)
#define QORPRO_API __declspec(dllexport)
#else
#define QORPRO_API __declspec(dllimport)
#endif
#else
#define QORPRO_API __attribute__((visibility("default")))
#endif

// Logs one message at the given level. With the environment variable
// QORPRO_LOG naming a file, appends "<level>\t<message>\n" to it (CR and LF
// inside the message written as \r and \n); otherwise writes a line to
// standard error. With QORPRO_LEVEL set to a number, messages of a lower
// level are dropped before anything is formatted (QORPRO_LEVEL=32 keeps the
// driver's messages and drops the value encoder's level-8 trace); unset,
// every message is written. Both variables are looked up on every call.
QORPRO_API void err(int level, const char *format, ...);

#ifdef __cplusplus
}
#endif

#endif  // ZAMKT_HOST_QORPRO_H
