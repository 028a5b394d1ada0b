// Runs a fuzz target without libFuzzer: every file named on the command line
// is replayed; with "--random N [--seed S]" N inputs are generated, mostly
// mutations of the target's seed inputs (reply lines, GAS texts), so that the
// sanitizer build exercises the parsers on hostile input in every test run.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fuzz/fuzz_target.h"

// Each target lists a few well-formed inputs to mutate from.
extern const char *const kFuzzSeeds[];

namespace {

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
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--random") == 0 && i + 1 < argc) {
      randomRuns = strtol(argv[++i], nullptr, 10);
    } else if (strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
      seed = static_cast<unsigned>(strtoul(argv[++i], nullptr, 10));
    } else {
      files.push_back(argv[i]);
    }
  }
  for (const std::string &file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
  }
  std::vector<std::string> seeds;
  for (const char *const *s = kFuzzSeeds; *s != nullptr; ++s) seeds.emplace_back(*s);
  std::mt19937 rng(seed);
  for (long run = 0; run < randomRuns; ++run) {
    std::string input;
    if (seeds.empty() || rng() % 8 == 0) {
      input.resize(rng() % 64);
      for (char &c : input) c = static_cast<char>(rng());
    } else {
      input = Mutate(seeds[rng() % seeds.size()], rng);
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
  }
  printf("%zu files replayed, %ld random inputs run\n", files.size(), randomRuns);
  return 0;
}
