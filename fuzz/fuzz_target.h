// The one entry every fuzz target defines, in libFuzzer's form, so that the
// same targets run under libFuzzer (clang) and under the replay and random
// runner of fuzz/runner.cpp (any compiler).
#ifndef ZAMKT_FUZZ_FUZZ_TARGET_H
#define ZAMKT_FUZZ_FUZZ_TARGET_H

#include <stddef.h>
#include <stdint.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

#endif  // ZAMKT_FUZZ_FUZZ_TARGET_H
