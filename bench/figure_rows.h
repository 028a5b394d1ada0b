// The figures the benchmark programs hand to bench.sh, one per line of
// docs/PERFORMANCE.md: what was measured, its value, the bound it is held
// against, their ratio and whether the target is met.
#ifndef ZAMKT_BENCH_FIGURE_ROWS_H
#define ZAMKT_BENCH_FIGURE_ROWS_H

#include <stdio.h>

#include <string>
#include <vector>

namespace bench {

struct FigureRow {
  std::string figure;  // "Gate parse, worst row (020TCGCE56S7)"
  std::string value;   // "0.71 µs"
  std::string bound;   // "2 µs (target)"; empty when the figure has none
  double ratio = -1;   // value / bound; negative when there is no bound
  std::string target;  // "met: ≤ 1.10", "missed: ≤ 1.10"; empty for a figure shown for reference
};

// "12.3 ns", "4.21 µs", "4.187 ms", "2.514 s": three significant digits in
// the unit that suits the value.
std::string Duration(double seconds);

// A row whose value and bound are durations and whose target is a ratio
// limit: met when value / bound <= limit.
FigureRow TimedRow(const std::string &figure, double seconds, double boundSeconds, const std::string &boundNote,
                   double limit);

// Appends the rows to the file as tab-separated lines (figure, value, bound,
// ratio, target); false when the file cannot be written.
bool AppendRows(const std::string &path, const std::vector<FigureRow> &rows);

}  // namespace bench

#endif  // ZAMKT_BENCH_FIGURE_ROWS_H
