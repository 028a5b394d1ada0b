// serial/port.h over memory, for the fuzz targets (see memory_port.h).
#include "fuzz/memory_port.h"

#include <string.h>

#include <utility>

#include "serial/exchange.h"
#include "serial/port.h"

namespace {

struct MemoryLine {
  bool open = false;
  bool failNextOpen = false;
  const void *owner = nullptr;  // the channel record the line was opened for
  uint32_t readTimeoutMs = kDefaultReadTimeoutMs;
  uint64_t elapsedMs = 0;
  bool unsettled = false;  // the next discard waits for a quiet line first
  std::vector<std::string> script;
  size_t nextAnswer = 0;
  std::string queue;        // what the station has sent and the driver not yet read
  std::string partialLine;  // bytes read since the last carriage return
  std::vector<memory_port::Exchange> exchanges;
};

MemoryLine g_line;

// The one handle the port hands out; 0 never names an open port.
PortHandle const kHandle = reinterpret_cast<PortHandle>(static_cast<uintptr_t>(1));

bool Valid(PortHandle handle) { return g_line.open && handle == kHandle; }

// Reads what the queue holds, up to count bytes, into buffer.
uint32_t Take(uint8_t *buffer, uint32_t count) {
  uint32_t n = count < g_line.queue.size() ? count : static_cast<uint32_t>(g_line.queue.size());
  memcpy(buffer, g_line.queue.data(), n);
  memory_port::Exchange *current = g_line.exchanges.empty() ? nullptr : &g_line.exchanges.back();
  for (uint32_t i = 0; i < n; ++i) {
    char c = static_cast<char>(buffer[i]);
    if (current != nullptr) current->taken += c;
    if (c == '\r') {
      // A line that filled the driver's reply buffer before its carriage
      // return is no reply to the driver: it drops the rest up to the CR.
      if (current != nullptr && g_line.partialLine.size() < kReplyBufferSize) {
        current->lines.push_back(g_line.partialLine);
      }
      g_line.partialLine.clear();
    } else {
      g_line.partialLine += c;
    }
  }
  g_line.queue.erase(0, n);
  return n;
}

}  // namespace

namespace memory_port {

void Script(std::vector<std::string> answers) {
  g_line.script = std::move(answers);
  g_line.nextAnswer = 0;
  g_line.queue.clear();
  g_line.partialLine.clear();
  g_line.exchanges.clear();
  g_line.elapsedMs = 0;
}

const std::vector<Exchange> &Exchanges() { return g_line.exchanges; }

std::vector<std::string> LinesRead() {
  std::vector<std::string> lines;
  for (const Exchange &exchange : g_line.exchanges)
    lines.insert(lines.end(), exchange.lines.begin(), exchange.lines.end());
  return lines;
}

uint64_t ElapsedMs() { return g_line.elapsedMs; }

void FailNextOpen() { g_line.failNextOpen = true; }

bool IsOpen() { return g_line.open; }

std::vector<std::string> SplitAnswers(const std::string &bytes) {
  std::vector<std::string> answers;
  size_t start = 0;
  for (;;) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) {
      answers.push_back(bytes.substr(start));
      return answers;
    }
    answers.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace memory_port

int PortOpen(const char *name, const PortSettings *settings, uint16_t lineOptions, PortHandle *handle) {
  (void)settings;
  (void)lineOptions;
  *handle = nullptr;
  bool fail = g_line.failNextOpen;
  g_line.failNextOpen = false;
  // As on a real line: no name, a name without room for its terminator, or a
  // port already held fails.
  if (fail || name == nullptr || name[0] == '\0' || strnlen(name, kPortNameSize) == kPortNameSize || g_line.open) {
    return kPortOpenFailed;
  }
  g_line.open = true;
  g_line.unsettled = false;
  g_line.owner = nullptr;
  g_line.readTimeoutMs = kDefaultReadTimeoutMs;
  g_line.queue.clear();
  *handle = kHandle;
  return kPortOk;
}

PortHandle OpenPortHandle(const char *name, const PortSettings *settings, uint16_t lineOptions, const void *owner) {
  PortHandle handle = nullptr;
  if (PortOpen(name, settings, lineOptions, &handle) != kPortOk) return nullptr;
  g_line.owner = owner;
  return handle;
}

bool PortOpenedFor(PortHandle handle, const void *owner) {
  return owner != nullptr && Valid(handle) && g_line.owner == owner;
}

int PortClose(PortHandle handle) {
  if (!Valid(handle)) return kPortIoFailed;
  g_line.open = false;
  g_line.queue.clear();
  return kPortOk;
}

int32_t PortSetReadTimeout(PortHandle handle, int32_t value10ms) {
  if (!Valid(handle)) return 0;
  if (value10ms < 0) value10ms = 0;
  if (value10ms > kMaxReadTimeout10ms) value10ms = kMaxReadTimeout10ms;
  int32_t previous = static_cast<int32_t>(g_line.readTimeoutMs / 10);
  g_line.readTimeoutMs = static_cast<uint32_t>(value10ms) * 10u;
  return previous;
}

int PortDiscardInput(PortHandle handle) {
  if (!Valid(handle)) return 1;
  // A quiet line: everything the station sent is dropped, and the read
  // time-out passes without a byte.
  if (g_line.unsettled) g_line.elapsedMs += g_line.readTimeoutMs;
  g_line.unsettled = false;
  if (!g_line.queue.empty()) g_line.elapsedMs += static_cast<uint64_t>(kDiscardTimeout10ms) * 10u;
  g_line.queue.clear();
  return 0;
}

int PortWrite(PortHandle handle, const void *bytes, uint32_t count, uint32_t *written) {
  *written = 0;
  if (!Valid(handle)) return kPortIoFailed;
  memory_port::Exchange exchange;
  exchange.written.assign(static_cast<const char *>(bytes), count);
  if (g_line.nextAnswer < g_line.script.size()) exchange.answer = g_line.script[g_line.nextAnswer++];
  // What the station sends now follows whatever still waits from before; a
  // line the driver read part of belongs to the request before.
  g_line.queue += exchange.answer;
  g_line.partialLine.clear();
  g_line.exchanges.push_back(std::move(exchange));
  *written = count;
  return kPortOk;
}

int PortReadExact(PortHandle handle, void *buffer, uint32_t count, uint32_t *got) {
  *got = 0;
  if (!Valid(handle)) return kPortIoFailed;
  *got = Take(static_cast<uint8_t *>(buffer), count);
  if (*got == count) return kPortOk;
  g_line.elapsedMs += g_line.readTimeoutMs;  // the line stays silent until the time-out
  g_line.partialLine.clear();                // the reader gives up on the line
  return kPortIoFailed;
}

// Every byte the memory line holds is there at once: a plan changes nothing.
void PortPlanReply(PortHandle, uint32_t) {}

void PortSettleBeforeNextFrame(PortHandle handle) {
  if (Valid(handle)) g_line.unsettled = true;
}

void PauseMilliseconds(uint32_t milliseconds) { g_line.elapsedMs += milliseconds; }
