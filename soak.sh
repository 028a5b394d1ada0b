#!/usr/bin/env bash
# Builds the soak program and runs the full fault-injection soak: 20,000
# requests of every kind through ZamMain against the simulated plant, with
# faults on about one exchange in ten, every answer checked. Prints the
# figures and exits non-zero on any invariant violation. Further arguments go
# to the program, e.g. ./soak.sh --seed 2 --requests 50000 (see
# build/zamkt_soak --help).
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zamkt_soak -j"$(nproc 2>/dev/null || echo 2)"
exec build/zamkt_soak --requests 20000 --seed 1 --progress 2000 "$@"
