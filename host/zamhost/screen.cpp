#include "host/zamhost/screen.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "host/common/exit_cleanup.h"

namespace zamhost {
namespace {

// Alternate screen and cursor: enter, and the way back.
constexpr const char *kEnter = "\x1b[?1049h\x1b[?25l";
constexpr const char *kLeave = "\x1b[?25h\x1b[?1049l";
constexpr int kResizeCheckMs = 50;

std::atomic<bool> g_resized{false};

void OnResize(int) { g_resized = true; }

void WindowSize(FILE *out, int *columns, int *lines) {
  winsize size{};
  if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
    *columns = size.ws_col;
    *lines = size.ws_row;
  } else {
    *columns = 80;
    *lines = 24;
  }
}

}  // namespace

std::string CutToColumns(const std::string &text, int columns) {
  int count = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;  // continuation byte
    if (count++ == columns) return text.substr(0, at);
  }
  return text;
}

std::vector<std::string> Screen::Fit(const ScreenContent &content, int columns, int lines, int page) {
  std::vector<std::string> out;
  const int total = static_cast<int>(content.rows.size());
  // In a small window the rows keep a few lines: the tail's last lines (the
  // latest messages) give way first.
  constexpr int kFewestRows = 4;
  std::vector<std::string> tail = content.tail;
  const int head = static_cast<int>(content.head.size());
  while (!tail.empty() && lines - head - static_cast<int>(tail.size()) < std::min(total, kFewestRows)) tail.pop_back();
  int room = lines - head - static_cast<int>(tail.size());
  std::vector<std::string> rows;
  if (total <= room) {
    rows = content.rows;
  } else {
    room = std::max(room - 1, 1);  // one line says what is not shown
    const int pages = (total + room - 1) / room;
    const int first = (page % pages) * room;
    const int last = std::min(first + room, total);
    rows.assign(content.rows.begin() + first, content.rows.begin() + last);
    rows.push_back("rows " + std::to_string(first + 1) + "-" + std::to_string(last) + " of " + std::to_string(total) +
                   ", " + std::to_string(total - (last - first)) + " more (the next page comes with the next cycle)");
  }
  const std::vector<std::string> *parts[] = {&content.head, &rows, &tail};
  for (const std::vector<std::string> *part : parts) {
    for (const std::string &line : *part) out.push_back(CutToColumns(line, columns));
  }
  // Never more lines than the window has: the lines below go first.
  if (static_cast<int>(out.size()) > lines) out.resize(static_cast<size_t>(std::max(lines, 0)));
  return out;
}

Screen::Screen(FILE *out) : out_(out) {}

Screen::~Screen() { Leave(); }

void Screen::Show(const ScreenContent &content) {
  std::lock_guard<std::mutex> lock(mutex_);
  content_ = content;
  if (!entered_) {
    entered_ = true;
    n2host::SetTerminalRestore(kLeave);
    fputs(kEnter, out_);
    struct sigaction action {};
    action.sa_handler = OnResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, nullptr);
    watcher_ = std::thread([this] { WatchResizes(); });
  } else {
    ++page_;
  }
  Draw();
}

void Screen::Draw() {
  int columns, lines;
  WindowSize(out_, &columns, &lines);
  std::vector<std::string> fitted = Fit(content_, columns, lines, page_);
  std::string frame = "\x1b[H";
  for (size_t i = 0; i < fitted.size(); ++i) {
    frame += fitted[i] + "\x1b[K";
    if (i + 1 < fitted.size()) frame += "\r\n";
  }
  frame += "\x1b[J";
  fputs(frame.c_str(), out_);
  fflush(out_);
}

void Screen::WatchResizes() {
  while (!stop_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kResizeCheckMs));
    if (!g_resized.exchange(false)) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    Draw();
  }
}

void Screen::Leave() {
  stop_ = true;
  if (watcher_.joinable()) watcher_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!entered_) return;
  entered_ = false;
  fputs(kLeave, out_);
  fflush(out_);
  n2host::SetTerminalRestore(nullptr);
  signal(SIGWINCH, SIG_DFL);
}

}  // namespace zamhost
