// Runs a fuzz target without libFuzzer: every file named on the command line
// is replayed, and every file of a directory named there (a corpus); with
// "--random N [--seed S]" N inputs are generated, mostly mutations of the
// corpus files and of the target's seed texts, so that the sanitizer build
// exercises the driver on hostile input in every test run.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"

// A target may list a few well-formed inputs as texts to mutate from (reply
// lines, GAS texts); targets whose inputs hold binary fields keep theirs as
// corpus files instead.
extern const char *const kFuzzSeeds[] __attribute__((weak));

namespace {

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Mutate(std::string input, std::mt19937 &rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  int edits = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < edits; ++i) {
    size_t at = input.empty() ? 0 : rng() % (input.size() + 1);
    switch (rng() % 5) {
      case 0:  // replace
        if (!input.empty() && at < input.size()) input[at] = static_cast<char>(byte(rng));
        break;
      case 1:  // insert
        input.insert(at, 1, static_cast<char>(byte(rng)));
        break;
      case 2:  // delete
        if (at < input.size()) input.erase(at, 1);
        break;
      case 3:  // truncate
        input.resize(at);
        break;
      default:  // repeat a piece
        if (!input.empty()) input += input.substr(rng() % input.size());
        break;
    }
  }
  if (input.size() > 1200) input.resize(1200);
  return input;
}

}  // namespace

int main(int argc, char **argv) {
  long randomRuns = 0;
  unsigned seed = 1;
  std::vector<std::string> files;
  std::vector<std::string> seeds;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--random") == 0 && i + 1 < argc) {
      randomRuns = strtol(argv[++i], nullptr, 10);
    } else if (strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
      seed = static_cast<unsigned>(strtoul(argv[++i], nullptr, 10));
    } else if (std::filesystem::is_directory(argv[i])) {
      // In name order, so that a run repeats whatever the directory's order.
      std::vector<std::string> corpus;
      for (const auto &entry : std::filesystem::directory_iterator(argv[i])) {
        if (entry.is_regular_file()) corpus.push_back(entry.path().string());
      }
      std::sort(corpus.begin(), corpus.end());
      for (const std::string &file : corpus) {
        files.push_back(file);
        seeds.push_back(ReadFile(file));
      }
    } else {
      files.push_back(argv[i]);
    }
  }
  for (const std::string &file : files) {
    std::string input = ReadFile(file);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
  }
  if (kFuzzSeeds != nullptr) {
    for (const char *const *s = kFuzzSeeds; *s != nullptr; ++s) seeds.emplace_back(*s);
  }
  // With ZAMKT_FUZZ_LAST naming a file, each generated input is written there
  // before it runs: after a failure the file holds the input to replay.
  const char *lastInput = getenv("ZAMKT_FUZZ_LAST");
  std::mt19937 rng(seed);
  for (long run = 0; run < randomRuns; ++run) {
    std::string input;
    if (seeds.empty() || rng() % 8 == 0) {
      input.resize(rng() % 64);
      for (char &c : input) c = static_cast<char>(rng());
    } else {
      input = Mutate(seeds[rng() % seeds.size()], rng);
    }
    if (lastInput != nullptr) std::ofstream(lastInput, std::ios::binary | std::ios::trunc) << input;
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
  }
  printf("%zu files replayed, %ld random inputs run\n", files.size(), randomRuns);
  return 0;
}
