#!/usr/bin/env bash
# zamgate's poll classes on the benchmark plant (bench/plant/, 240 gates, the
# line paced at 9600 baud), for bench.sh: every tenth gate of the list in a
# fast class (1 s), the rest in a slow one (60 s). Appends rows "figure,
# value, bound, ratio, target" to the rows file:
#
#   fast period  the fast gates' mean and longest time between two reads (the
#                gateway's zamgate_poll_class_*period_seconds) against their
#                1 s interval; goal <= 1.1
#   line         the share of the run's time the line was busy with requests
#                (the response times' sum over the run's seconds)
#
#   bench/zamgate_poll_classes.sh BUILD_DIR ROWS_FILE [SECONDS]
set -euo pipefail
build=$1
rows=$2
seconds=${3:-90}
source_dir=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

port=$(( 20000 + RANDOM % 20000 ))
{
  [ "$(id -u)" -eq 0 ] && echo "user root"
  echo "listener $port 127.0.0.1"
  echo "allow_anonymous true"
  echo "persistence false"
} >"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
pids+=($!)
(cd "$work" && exec "$source_dir/$build/n2sim" --plant "$source_dir/bench/plant/bench.plant" --station-types 1 \
  --link "$work/bus") >"$work/n2sim.out" 2>"$work/n2sim.log" &
pids+=($!)
sleep 1

# Every tenth gate fast, the others slow.
{
  echo "name,gas,type,poll"
  grep -v '^#' "$source_dir/bench/plant/gates.csv" | grep -v '^name,gas' | grep . |
    awk -F, 'BEGIN {OFS = ","} {print $1, $2, $3, (NR % 10 == 1 ? "fast" : "slow")}'
} >"$work/gates.csv"
fast_gates=$(grep -c ',fast$' "$work/gates.csv")
all_gates=$(( $(wc -l <"$work/gates.csv") - 1 ))
cat >"$work/zamgate.toml" <<TOML
[gateway]
id = "bench"
[line]
port = "$work/bus"
timeout_ms = 200
station_types_file = "$work/ZAMKT01.int"
[poll]
interval_ms = 60000
classes = { fast = 1000, slow = 60000 }
[gates]
csv = "$work/gates.csv"
[mqtt]
port = $port
prefix = "bench"
[http]
listen = "127.0.0.1:0"
TOML
"$source_dir/$build/zamgate" --config "$work/zamgate.toml" 2>"$work/zamgate.log" &
pids+=($!)
sleep 5  # connected, the first cycle (every gate) run
http=$(sed -n 's|.*HTTP on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/zamgate.log" | head -1)
busy() { curl -s "http://127.0.0.1:$http/metrics" | awk '/^zamgate_response_time_seconds_sum/ {s += $2} END {printf "%.6f", s}'; }
busy_start=$(busy)
started=$(date +%s.%N)
sleep "$seconds"
busy_end=$(busy)
ended=$(date +%s.%N)
metrics=$(curl -s "http://127.0.0.1:$http/metrics")

mean=$(echo "$metrics" | awk '/^zamgate_poll_class_period_seconds\{.*class="fast"/ {printf "%.3f", $2}')
longest=$(echo "$metrics" | awk '/^zamgate_poll_class_longest_period_seconds\{.*class="fast"/ {printf "%.3f", $2}')
slow=$(echo "$metrics" | awk '/^zamgate_poll_class_period_seconds\{.*class="slow"/ {printf "%.1f", $2}')
line=$(awk -v a="$busy_start" -v b="$busy_end" -v s="$started" -v e="$ended" 'BEGIN {printf "%.1f", 100 * (b - a) / (e - s)}')
ratio() { awk -v v="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.3f", v / b}'; }
verdict() { awk -v r="$1" 'BEGIN {print (r != "" && r <= 1.1) ? "met: ≤ 1.10" : "not met: ≤ 1.10"}'; }
row() {  # figure, value, unit, bound, bound text
  local r
  r=$(ratio "$2" "$4")
  printf '%s\t%s %s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$5" "$r" "$(verdict "$r")" >>"$rows"
}
row "zamgate poll classes: fast gates' period, mean ($fast_gates of $all_gates gates at 1 s, the rest at 60 s, $seconds s)" \
  "$mean" s 1 "1 s (their interval)"
row "zamgate poll classes: fast gates' period, longest" "$longest" s 1 "1 s (their interval)"
printf 'zamgate poll classes: slow gates'"'"' period, mean\t%s s\t60 s\t–\treference\n' "$slow" >>"$rows"
printf 'zamgate poll classes: line utilisation over the run\t%s %%\t–\t–\treference\n' "$line" >>"$rows"
