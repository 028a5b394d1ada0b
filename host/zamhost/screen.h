// The poll table on a terminal: drawn in the terminal's alternate screen,
// fitted to the window (lines cut at its width, the gate rows paged with a
// visible "n more"), redrawn when the window changes size, and the normal
// screen restored on exit, however zamhost ends.
#ifndef ZAMKT_HOST_ZAMHOST_SCREEN_H
#define ZAMKT_HOST_ZAMHOST_SCREEN_H

#include <stdio.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zamhost {

// What one refresh shows: lines above the rows, the rows (paged when they do
// not fit), lines below.
struct ScreenContent {
  std::vector<std::string> head;
  std::vector<std::string> rows;
  std::vector<std::string> tail;
};

class Screen {
 public:
  explicit Screen(FILE *out);
  ~Screen();  // leaves the alternate screen

  // Enters the alternate screen (once) and draws the content; a later
  // resize redraws it.
  void Show(const ScreenContent &content);
  // Leaves the alternate screen; what was drawn disappears with it.
  void Leave();

  // The lines the content takes in a window of the size: each cut at the
  // width, the rows of the page shown (page counts on), a line "rows a-b of
  // n, m more" when they do not all fit. Pure, for the tests.
  static std::vector<std::string> Fit(const ScreenContent &content, int columns, int lines, int page);

 private:
  void Draw();
  void WatchResizes();

  FILE *out_;
  std::mutex mutex_;
  ScreenContent content_;
  int page_ = 0;
  bool entered_ = false;
  std::atomic<bool> stop_{false};
  std::thread watcher_;
};

// Text cut to at most `columns` characters (code points) of UTF-8.
std::string CutToColumns(const std::string &text, int columns);

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_SCREEN_H
