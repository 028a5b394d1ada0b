#include "host/common/exit_cleanup.h"

#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

namespace n2host {
namespace {

constexpr int kSlots = 8;
constexpr size_t kPathSize = 256;

// Fixed slots, so that the signal handler reads no heap memory: a path is
// usable once its flag is set, and the flag is cleared before it is reused.
struct PathSlot {
  std::atomic<bool> used{false};
  char path[kPathSize] = {};
};

PathSlot g_paths[kSlots];
std::atomic<pid_t> g_children[kSlots];
std::atomic<const char *> g_terminalRestore{nullptr};

}  // namespace

void RemovePathOnExit(const std::string &path) {
  if (path.empty() || path.size() >= kPathSize) return;
  for (PathSlot &slot : g_paths) {
    if (slot.used) continue;
    memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.used = true;
    return;
  }
}

void ForgetPath(const std::string &path) {
  for (PathSlot &slot : g_paths) {
    if (slot.used && path == slot.path) slot.used = false;
  }
}

void StopChildOnExit(pid_t pid) {
  for (auto &child : g_children) {
    pid_t empty = 0;
    if (child.compare_exchange_strong(empty, pid)) return;
  }
}

void ForgetChild(pid_t pid) {
  for (auto &child : g_children) {
    pid_t expected = pid;
    child.compare_exchange_strong(expected, 0);
  }
}

void SetTerminalRestore(const char *text) { g_terminalRestore = text; }

void RunExitCleanup() {
  for (PathSlot &slot : g_paths) {
    if (slot.used) unlink(slot.path);
  }
  for (auto &child : g_children) {
    pid_t pid = child.load();
    if (pid > 0) kill(pid, SIGTERM);
  }
  if (const char *text = g_terminalRestore.load(); text != nullptr) {
    ssize_t ignored = write(STDOUT_FILENO, text, strlen(text));
    (void)ignored;
  }
}

}  // namespace n2host
