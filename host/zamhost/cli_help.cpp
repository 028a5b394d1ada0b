#include "host/zamhost/cli_help.h"

#include <algorithm>

namespace zamhost {
namespace {

// Edits between two words, a swap of neighbouring letters counting as one
// ("raed" is one slip from "read").
size_t EditDistance(const std::string &a, const std::string &b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

std::vector<std::string> CommandNames(const CLI::App &app) {
  std::vector<std::string> names;
  for (const CLI::App *command : app.get_subcommands([](const CLI::App *) { return true; })) {
    names.push_back(command->get_name());
  }
  return names;
}

// "--interval" and "-i" of every option of the command (and the program's own).
std::vector<std::string> OptionNames(const CLI::App &command) {
  std::vector<std::string> names;
  for (const CLI::App *app = &command; app != nullptr; app = app->get_parent()) {
    for (const CLI::Option *option : app->get_options()) {
      for (const std::string &name : option->get_lnames()) names.push_back("--" + name);
      for (const std::string &name : option->get_snames()) names.push_back("-" + name);
    }
  }
  return names;
}

std::string Listed(const std::vector<std::string> &names) {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : ", ") + names[i];
  return text;
}

}  // namespace

std::string Nearest(const std::string &word, const std::vector<std::string> &candidates) {
  std::string best;
  size_t bestDistance = word.size() / 3 + 1;
  for (const std::string &candidate : candidates) {
    size_t distance = EditDistance(word, candidate);
    if (distance < bestDistance || (distance == bestDistance && best.empty() && distance <= 1)) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

std::string ExplainMistake(const CLI::App &app, int argc, char **argv) {
  const std::vector<std::string> commands = CommandNames(app);
  const CLI::App *command = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word.empty()) continue;
    if (word[0] == '-') {
      std::string name = word.substr(0, word.find('='));
      std::vector<std::string> known = OptionNames(command != nullptr ? *command : app);
      if (name == "-" || std::find(known.begin(), known.end(), name) != known.end()) continue;
      if (command == nullptr) {
        // The option may belong to a command named later on the line.
        bool later = false;
        for (int j = i + 1; j < argc && !later; ++j) later = std::find(commands.begin(), commands.end(), argv[j]) != commands.end();
        if (later) continue;
      }
      std::string nearest = Nearest(name, known);
      std::string where = command != nullptr ? " of '" + command->get_name() + "'" : "";
      return "unknown option '" + name + "'" + where +
             (nearest.empty() ? "" : ": did you mean '" + nearest + "'?") + " (zamhost " +
             (command != nullptr ? command->get_name() + " " : "") + "--help lists them)";
    }
    if (command != nullptr) continue;
    if (std::find(commands.begin(), commands.end(), word) != commands.end()) {
      command = app.get_subcommand(word);
      continue;
    }
    // The first word that is neither an option nor its value names the command.
    if (i > 1 && std::string(argv[i - 1]) == "--driver") continue;
    std::string nearest = Nearest(word, commands);
    return "unknown command '" + word + "'" + (nearest.empty() ? "" : ": did you mean '" + nearest + "'?") +
           " (commands: " + Listed(commands) + ")";
  }
  if (command == nullptr) return "no command given: choose one of " + Listed(commands) + " (zamhost demo shows them)";
  return "";
}

}  // namespace zamhost
