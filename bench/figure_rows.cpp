#include "bench/figure_rows.h"

#include <math.h>

namespace bench {

std::string Duration(double seconds) {
  struct Unit {
    double scale;
    const char *name;
  };
  static const Unit kUnits[] = {{1.0, "s"}, {1e-3, "ms"}, {1e-6, "µs"}, {1e-9, "ns"}};
  const double magnitude = fabs(seconds);
  for (const Unit &unit : kUnits) {
    if (magnitude * (1 + 1e-9) >= unit.scale || unit.scale == 1e-9) {
      const double value = seconds / unit.scale;
      // 99.99999 of a unit is shown as 100: choose the decimals on the
      // value as it will be rounded.
      const double shown = fabs(value) * (1 + 1e-9);
      const int decimals = shown >= 100 ? 0 : shown >= 10 ? 1 : 2;
      char text[64];
      snprintf(text, sizeof text, "%.*f %s", decimals, value, unit.name);
      return text;
    }
  }
  return "";
}

FigureRow TimedRow(const std::string &figure, double seconds, double boundSeconds, const std::string &boundNote,
                   double limit) {
  FigureRow row;
  row.figure = figure;
  row.value = Duration(seconds);
  row.bound = Duration(boundSeconds) + (boundNote.empty() ? "" : " (" + boundNote + ")");
  row.ratio = seconds / boundSeconds;
  char target[64];
  snprintf(target, sizeof target, "%s: ≤ %.2f", row.ratio <= limit ? "met" : "missed", limit);
  row.target = target;
  return row;
}

bool AppendRows(const std::string &path, const std::vector<FigureRow> &rows) {
  FILE *out = fopen(path.c_str(), "a");
  if (out == nullptr) return false;
  for (const FigureRow &row : rows) {
    char ratio[32] = "";
    if (row.ratio >= 0) snprintf(ratio, sizeof ratio, "%.3f", row.ratio);
    fprintf(out, "%s\t%s\t%s\t%s\t%s\n", row.figure.c_str(), row.value.c_str(), row.bound.c_str(), ratio,
            row.target.c_str());
  }
  return fclose(out) == 0;
}

}  // namespace bench
