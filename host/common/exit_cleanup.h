// What must not outlive the process however it ends: the short port links
// made for long port paths, child processes such as a simulator, and a
// terminal left in its alternate screen. Normal exits let go of each in
// their destructors; a signal handler that ends the process at once calls
// RunExitCleanup, which only makes async-signal-safe calls.
#ifndef ZAMKT_HOST_COMMON_EXIT_CLEANUP_H
#define ZAMKT_HOST_COMMON_EXIT_CLEANUP_H

#include <sys/types.h>

#include <string>

namespace n2host {

// A file (a symbolic link) removed by RunExitCleanup; ForgetPath once it has
// been removed the usual way. At most a few are held; more are ignored.
void RemovePathOnExit(const std::string &path);
void ForgetPath(const std::string &path);

// A child process sent SIGTERM by RunExitCleanup; ForgetChild once reaped.
void StopChildOnExit(pid_t pid);
void ForgetChild(pid_t pid);

// Text written to standard output by RunExitCleanup (e.g. the escape
// sequence that leaves the terminal's alternate screen); null for none.
void SetTerminalRestore(const char *text);

// Removes the paths, stops the children, restores the terminal.
// Async-signal-safe.
void RunExitCleanup();

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_EXIT_CLEANUP_H
