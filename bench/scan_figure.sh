#!/usr/bin/env bash
# zamhost scan's figure, for bench.sh: the wall-clock time of a full scan of
# addresses 1..254 on n2sim's default plant with the line paced at 9600 baud
# (presence probed with the scan's short time-out, the four stations
# identified with the configured one), against the 20 s a commissioning
# engineer waits at most. Appends a row "figure, value, bound, ratio, target"
# to the rows file.
#
#   bench/scan_figure.sh BUILD_DIR ROWS_FILE
set -euo pipefail
build=$1
rows=$2
source_dir=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d)
sim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$source_dir/$build/n2sim" --pacing --link "$work/bus" >"$work/n2sim.out" 2>"$work/n2sim.log" &
sim=$!
for _ in $(seq 50); do [ -e "$work/bus" ] && break; sleep 0.1; done

started=$(date +%s.%N)
"$source_dir/$build/zamhost" scan --port "$work/bus" >"$work/scan.out" 2>"$work/scan.err"
ended=$(date +%s.%N)
found=$(grep -c -E 'System 91|N2 Open' "$work/scan.out" || true)
seconds=$(awk -v s="$started" -v e="$ended" 'BEGIN {printf "%.1f", e - s}')
ratio=$(awk -v v="$seconds" 'BEGIN {printf "%.3f", v / 20}')
verdict=$(awk -v r="$ratio" 'BEGIN {print (r <= 1.0) ? "met: ≤ 1.00" : "not met: ≤ 1.00"}')
printf 'zamhost scan of addresses 1..254, default plant (%s stations found), 9600 baud\t%s s\t20 s\t%s\t%s\n' \
  "$found" "$seconds" "$ratio" "$verdict" >>"$rows"
