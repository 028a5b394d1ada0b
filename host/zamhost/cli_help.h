// Command-line mistakes in the user's words: an unknown command or option
// named with the nearest one that exists, a choice listed by its names.
#ifndef ZAMKT_HOST_ZAMHOST_CLI_HELP_H
#define ZAMKT_HOST_ZAMHOST_CLI_HELP_H

#include <CLI/CLI.hpp>
#include <map>
#include <string>
#include <vector>

namespace zamhost {

// The candidate nearest to word by edit distance, when it is near enough to
// be a slip of the fingers (at most a third of its letters differ); "" else.
std::string Nearest(const std::string &word, const std::vector<std::string> &candidates);

// A validator that maps the names of a choice to their values and, for any
// other text, says "'x' is not a WHAT: choose a, b or c".
template <typename T>
CLI::Validator NamedChoice(const std::map<std::string, T> &choices, const std::string &what, std::vector<std::string> order) {
  std::string names;
  for (size_t i = 0; i < order.size(); ++i) names += (i == 0 ? "" : i + 1 == order.size() ? " or " : ", ") + order[i];
  return CLI::Validator(
      [choices, what, names](std::string &text) -> std::string {
        std::string lower = CLI::detail::to_lower(text);
        auto found = choices.find(lower);
        if (found == choices.end()) return "'" + text + "' is not " + what + ": choose " + names;
        text = std::to_string(static_cast<int>(found->second));
        return "";
      },
      "", "");
}

// After a failed parse: a message naming the unknown command or option with
// the nearest one, or "" when the mistake is of another kind.
std::string ExplainMistake(const CLI::App &app, int argc, char **argv);

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_CLI_HELP_H
