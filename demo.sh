#!/usr/bin/env bash
# Installs what is missing (apt-get, when run as root), builds the driver, the
# simulator and zamhost, and runs the demo: the driver against a simulated N2
# bus on a pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zamhost -j"$(nproc 2>/dev/null || echo 2)"
exec build/zamhost demo
