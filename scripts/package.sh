#!/usr/bin/env bash
# Builds the Debian package zamkt_<version>_<arch>.deb in build/ from the
# build folder that is there (configured for the prefix /usr: the package
# installs into /usr, /etc/zamgate and /lib/systemd/system).
#   scripts/package.sh [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" --target zamhost zamgate n2sim zamkt qorpro zamkt_man zamkt_changelog -j"$(nproc 2>/dev/null || echo 2)"
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/zamkt_*.deb
