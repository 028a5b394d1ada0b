#!/usr/bin/env bash
# zamgate's figures on the benchmark plant (bench/plant/, 240 gates, the line
# paced at 9600 baud), for bench.sh: appends rows "figure, value, bound,
# ratio, target" to the rows file.
#
#   latency  from a value changing in n2sim to its MQTT message at a
#            subscriber. The probe is the DX9100's clock time (001RTCLTIME),
#            which n2sim keeps on the host's clock: the value names the
#            second at which it became current, and mosquitto_sub stamps the
#            arrival. Cycles run back to back (interval 0), so the bound is
#            one mean cycle (from zamgate's own metrics) + 10 ms.
#   CPU      zamgate's user + system time over the run, per cent of one core
#   memory   zamgate's resident set after warming up and at the end
#
#   bench/zamgate_figures.sh BUILD_DIR ROWS_FILE [SECONDS]
set -euo pipefail
build=$1
rows=$2
seconds=${3:-60}
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

# The probe first: it is read at the start of each cycle, the farthest from
# the cycle's end, where a gateway that publishes per cycle would send it.
{
  echo "name,gas,type"
  echo "Clock probe,001RTCLTIME,auto"
  grep -v '^name,gas' "$source_dir/bench/plant/gates.csv"
} >"$work/gates.csv"
cat >"$work/zamgate.toml" <<TOML
[gateway]
id = "bench"
[line]
port = "$work/bus"
timeout_ms = 200
station_types_file = "$work/ZAMKT01.int"
[poll]
interval_ms = 0
[gates]
csv = "$work/gates.csv"
[mqtt]
port = $port
prefix = "bench"
[http]
listen = "127.0.0.1:0"
TOML
"$source_dir/$build/zamgate" --config "$work/zamgate.toml" 2>"$work/zamgate.log" &
gateway=$!
pids+=($gateway)
sleep 5  # connected, the first cycles run
http=$(sed -n 's|.*HTTP on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/zamgate.log" | head -1)

mosquitto_sub -h 127.0.0.1 -p "$port" -t 'bench/bench/Clock probe' -F '%U %p' >"$work/clock.txt" &
pids+=($!)
ticks() { awk '{print $14 + $15}' "/proc/$gateway/stat"; }
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$gateway/status"; }
hz=$(getconf CLK_TCK)
rss_start=$(rss_kb)
cpu_start=$(ticks)
started=$(date +%s.%N)
sleep "$seconds"
cpu_end=$(ticks)
ended=$(date +%s.%N)
rss_end=$(rss_kb)
metrics=$(curl -s "http://127.0.0.1:$http/metrics")

cycle_ms=$(echo "$metrics" | awk '/^zamgate_cycle_duration_seconds_sum/ {s=$2} /^zamgate_cycle_duration_seconds_count/ {c=$2} END {if (c > 0) printf "%.1f", 1000*s/c}')
offset=$(date +%z | awk '{sign = substr($0,1,1) == "-" ? -1 : 1; print sign * (substr($0,2,2)*3600 + substr($0,4,2)*60)}')
# Per message: arrival (local seconds since midnight) minus the second the value names.
latency=$(grep -o '^[0-9.]* {.*"value":[0-9]*' "$work/clock.txt" | sed 's/ {.*"value":/ /' |
  awk -v off="$offset" 'NR > 1 { a = ($1 + off) % 86400; d = a - $2; if (d < -43200) d += 86400; print d * 1000 }' | sort -n)
count=$(echo "$latency" | grep -c . || true)
median=$(echo "$latency" | awk -v n="$count" 'NR == int((n + 1) / 2) {printf "%.1f", $1}')
worst=$(echo "$latency" | tail -1 | awk '{printf "%.1f", $1}')
bound=$(awk -v c="$cycle_ms" 'BEGIN {printf "%.1f", c + 10}')
cpu=$(awk -v t=$((cpu_end - cpu_start)) -v hz="$hz" -v s="$started" -v e="$ended" 'BEGIN {printf "%.2f", 100 * t / hz / (e - s)}')
ratio() { awk -v v="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.3f", v / b}'; }
verdict() { awk -v r="$1" 'BEGIN {print (r != "" && r <= 1.0) ? "met: ≤ 1.00" : "not met: ≤ 1.00"}'; }
row() {  # figure, value, unit, bound, bound text
  local r
  r=$(ratio "$2" "$4")
  printf '%s\t%s %s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$5" "$r" "$(verdict "$r")" >>"$rows"
}
rss_start_mb=$(awk -v k="$rss_start" 'BEGIN {printf "%.1f", k / 1024}')
rss_end_mb=$(awk -v k="$rss_end" 'BEGIN {printf "%.1f", k / 1024}')

row "zamgate: value change in n2sim to MQTT arrival, median of $count (240 gates, 9600 baud)" "$median" ms \
  "$bound" "$bound ms (one cycle + 10 ms)"
row "zamgate: value change in n2sim to MQTT arrival, worst of $count" "$worst" ms "$bound" "$bound ms (one cycle + 10 ms)"
printf 'zamgate: poll cycle of the 240-gate plant, mean\t%s ms\t–\t–\treference\n' "$cycle_ms" >>"$rows"
row "zamgate: CPU over $seconds s, share of one core" "$cpu" "%" 2 "2 % (target)"
row "zamgate: resident memory after warm-up ($rss_start_mb MB) and $seconds s later" "$rss_end_mb" MB 30 "30 MB (target)"
