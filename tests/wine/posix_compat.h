// The few POSIX calls of the driver's portable tests that the Windows C
// runtime spells differently. Included ahead of every Windows test source
// (cmake/tests.cmake), so the test files stay as they are on Linux.
#ifndef ZAMKT_TESTS_WINE_POSIX_COMPAT_H
#define ZAMKT_TESTS_WINE_POSIX_COMPAT_H

#include <stdlib.h>

#ifdef __cplusplus
extern "C++" {
// setenv(name, value, overwrite) over _putenv_s.
inline int setenv(const char *name, const char *value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

// An empty value removes the variable from the C runtime's environment.
inline int unsetenv(const char *name) { return _putenv_s(name, "") == 0 ? 0 : -1; }
}
#endif

#endif  // ZAMKT_TESTS_WINE_POSIX_COMPAT_H
