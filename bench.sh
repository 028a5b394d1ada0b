#!/usr/bin/env bash
# Runs every benchmark from a fresh build (build-bench/) and writes
# docs/PERFORMANCE.md: one row per figure with its value, the bound it is held
# against, their ratio, the target, the machine and the date.
#
#   zamkt_bench       the pure parts (gate parsing over every point of every
#                     table, N2 real encoding and decoding, frames, reply
#                     checks) and single reads through ZamMain against n2sim,
#                     unpaced: median time per read against the 4 ms pause
#                     (also on the old read path), the driver's CPU per
#                     exchange
#   zamkt_poll_bench  zamhost's poll of the benchmark plant (bench/plant/)
#                     against n2sim paced at 9600 baud: cycle time against the
#                     wire lower bound, exchanges per cycle against the fewest
#                     the plant allows; with --compare-per-byte every cycle
#                     runs on the port's planned reads and on the old read
#                     path (ZAMKT_PORT_READS=per-byte) in turn: wake-ups per
#                     exchange and host and driver CPU per cycle side by side
#   zamgate           the gateway polling the benchmark plant paced at 9600
#                     baud and publishing to a local mosquitto: value change
#                     to MQTT arrival against one cycle + 10 ms, CPU, memory
#   zamgate poll classes  the same plant with every tenth gate read every second
#                     and the rest every minute: the fast gates' period against
#                     their interval (goal <= 1.1) and the line's busy share
#   zamgate_modbus_bench  zamgate's Modbus face during the same paced poll:
#                     reads of 100 holding registers by 10 clients (median
#                     against 1 ms, p99 against 5 ms), the cycle with them
#                     against the cycle without (within 2 %)
#   zamgate_bacnet_bench  zamgate's BACnet/IP face the same way: ReadProperty
#                     by 10 clients (median against 1 ms, p99 against 5 ms),
#                     the cycle with them against the cycle without (within 2 %)
#   zamhost scan      a full scan of 1..254 on n2sim's default plant paced at
#                     9600 baud, against 20 s
#   callgrind         (when valgrind is installed) the driver's instructions
#                     per single read, a figure that does not move with the
#                     machine's load
#
# Timings on a shared machine are noise: the page records the load average
# before and after the run. The tests never assert timings; CTest only runs
# each benchmark briefly to see that it still works.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh

build=build-bench
jobs=$(nproc 2>/dev/null || echo 2)
echo "== fresh build ($build/)"
rm -rf "$build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAMKT_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target zamkt_bench zamkt_poll_bench zamgate n2sim zamgate_modbus_bench \
  zamgate_bacnet_bench zamhost

rows=$(mktemp)
trap 'rm -f "$rows" "$rows".cg' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date '+%Y-%m-%d %H:%M')

echo "== zamkt_bench"
"$build"/zamkt_bench --benchmark_min_time=1 --report_out="$rows"

echo "== zamkt_poll_bench"
"$build"/zamkt_poll_bench --cycles 5 --single-cycles 1 --compare-per-byte --report_out="$rows"

echo "== zamgate on the benchmark plant (60 s)"
bench/zamgate_figures.sh "$build" "$rows" 60

echo "== zamgate's poll classes on the benchmark plant (90 s)"
bench/zamgate_poll_classes.sh "$build" "$rows" 90

echo "== zamhost scan of 1..254"
bench/scan_figure.sh "$build" "$rows"

echo "== zamgate_modbus_bench"
"$build"/zamgate_modbus_bench --cycles 4 --clients 10 --report_out="$rows"

echo "== zamgate_bacnet_bench"
"$build"/zamgate_bacnet_bench --cycles 4 --clients 10 --report_out="$rows"

if command -v valgrind >/dev/null; then
  echo "== callgrind: the driver's instructions per single read"
  valgrind --tool=callgrind --callgrind-out-file="$rows".cg --toggle-collect=ZamMain \
    "$build"/zamkt_bench --benchmark_filter='^BM_SingleReadOfARealPoint' --benchmark_min_time=0.2 >/dev/null 2>&1
  # The calls of SingleRead and their inclusive cost, summed over its callers.
  awk '
    /^c?fn=\([0-9]+\) SingleRead\(DriverRequest\*\)$/ { match($0, /\([0-9]+\)/); id = substr($0, RSTART, RLENGTH) }
    /^cfn=/ { want = id != "" && ($0 == "cfn=" id || index($0, "cfn=" id " ") == 1); next }
    want && /^calls=/ { split($1, c, "="); calls += c[2]; next }
    want { cost += $2; want = 0 }
    END { if (calls > 0) printf "Driver instructions per single read (callgrind, user space: SingleRead and below)\t%.0f\t\t\t\n", cost / calls }
  ' "$rows".cg >>"$rows"
fi

load_after=$(cut -d' ' -f1-3 /proc/loadavg)
model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1 | sed 's/([^)]*)//g; s/  */ /g; s/ CPU//; s/ @.*//')
machine="$(nproc) cores, ${model:-unknown CPU}"
date=$(date '+%Y-%m-%d')

{
  echo "# Performance"
  echo
  echo "Written by \`./bench.sh\` from a fresh build ($build/, RelWithDebInfo) on $started."
  echo "Machine: $machine; $(uname -sr). Load average (1, 5, 15 min) before the run"
  echo "$load_before, after it $load_after: on a shared machine the wall-clock figures move with"
  echo "the load, the counts and the callgrind figure do not."
  echo
  echo "| Figure | Value | Bound | Ratio | Target | Machine | Date |"
  echo "|---|---|---|---|---|---|---|"
  while IFS=$'\t' read -r figure value bound ratio target; do
    echo "| $figure | $value | ${bound:-–} | ${ratio:-–} | ${target:-reference} | $machine | $date |"
  done <"$rows"
  echo
  cat bench/performance_notes.md
} >docs/PERFORMANCE.md
echo "== docs/PERFORMANCE.md written"
