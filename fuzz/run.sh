#!/usr/bin/env bash
# Builds the fuzz targets for libFuzzer with clang (build-fuzz/, everything
# under AddressSanitizer and UndefinedBehaviorSanitizer) and runs each one
# over its seed corpus fuzz/corpus/<target>/ and then on new inputs for a
# bounded time. Any crash, sanitizer report, broken check or hang fails the
# script; the input that caused it is kept in build-fuzz/findings/.
#
#   bash fuzz/run.sh                  every target, 25 s each
#   bash fuzz/run.sh exchange_fuzz    one target
#   FUZZ_SECONDS=300 bash fuzz/run.sh longer runs
#
# New inputs that reach new code collect in build-fuzz/corpus/<target>/ (not
# in the repository), so that later local runs start from there.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

seconds=${FUZZ_SECONDS:-25}
runs=${FUZZ_RUNS:-100000000}
jobs=$(nproc 2>/dev/null || echo 2)
build=build-fuzz

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

echo "== libFuzzer build ($build/)"
CC=clang CXX=clang++ cmake -S . -B "$build" -DZAMKT_LIBFUZZER=ON -DZAMKT_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# The driver's messages of hostile inputs go nowhere.
unset ZAMKT_FUZZ_VERBOSE

mkdir -p "$build/findings" "$build/logs"
passed=0
failed=0
printf '%-20s %10s %8s %6s %6s %s\n' target runs exec/s cov ft result
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus"
  result=ok
  # New inputs go to the first directory; the seed corpus is only read.
  if ! "$build/fuzz/$target" "$corpus" "fuzz/corpus/$target" -max_total_time="$seconds" -runs="$runs" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
      >"$log" 2>&1; then
    result=FAILED
  fi
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  features=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-20s %10s %8s %6s %6s %s\n' "$target" "${executed:--}" "${rate:--}" "${coverage:--}" "${features:--}" "$result"
  if [ "$result" = ok ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "---- $log (end)"
    tail -40 "$log"
    ls "$build/findings/$target-"* 2>/dev/null | sed 's/^/kept: /' || true
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
