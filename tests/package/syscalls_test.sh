#!/usr/bin/env bash
# The unit's sandbox fits the gateway: zamgate runs under strace against
# n2sim and a real mosquitto, serves HTTP and a Modbus read, takes a write
# from MQTT and stops on SIGTERM; every system call it made must be one that
# zamgate@.service's SystemCallFilter= allows and none it denies, and every
# socket it opened of a family RestrictAddressFamilies= allows. A call outside
# the filter would fail with EPERM in the service and nowhere else.
#   syscalls_test.sh BUILD_FOLDER SOURCE_FOLDER      (exit 77: skipped)
set -uo pipefail
build=$1
source=$2
unit=$source/contrib/zamgate@.service
for tool in strace systemd-analyze mosquitto_pub mbpoll; do
  command -v $tool >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
folder=$(mktemp -d "${TMPDIR:-/tmp}/zamgate-syscalls.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$folder"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  [ -f "$folder/zamgate.log" ] && tail -20 "$folder/zamgate.log"
  exit 1
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$(( $(date +%s) + $1 ))
  shift
  until "$@"; do
    [ "$(date +%s)" -lt $limit ] || return 1
    sleep 0.1
  done
}

# Free loopback ports: the kernel's choice, through a listener that closes.
free_port() {
  local port
  for _ in $(seq 1 50); do
    port=$(( 20000 + RANDOM % 20000 ))
    (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null || { echo $port; return; }
  done
  return 1
}
mqtt_port=$(free_port) && http_port=$(free_port) && modbus_port=$(free_port) || fail "no free port"

printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n%s' "$mqtt_port" \
  "$([ "$(id -u)" -eq 0 ] && echo 'user root')" >"$folder/mosquitto.conf"
/usr/sbin/mosquitto -c "$folder/mosquitto.conf" >"$folder/mosquitto.log" 2>&1 &
pids+=($!)
"$build/n2sim" --static --link "$folder/bus" >"$folder/n2sim.out" 2>"$folder/n2sim.log" &
pids+=($!)
wait_for 10 test -L "$folder/bus" || fail "n2sim did not start"
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$mqtt_port" 2>/dev/null || fail "mosquitto did not start"

cp "$source/examples/gates.csv" "$folder/gates.csv"
cat >"$folder/bus1.toml" <<CONFIG
[gateway]
id = "bus1"
[line]
port = "$folder/bus"
timeout_ms = 200
stations = { 5 = "N2OPEN", 10 = "XT9100", 20 = "TC9100" }
[poll]
interval_ms = 500
[gates]
csv = "gates.csv"
writable = ["Loop 1 setpoint"]
[mqtt]
port = $mqtt_port
[http]
listen = "127.0.0.1:$http_port"
[modbus]
listen = "127.0.0.1:$modbus_port"
[[modbus.map]]
gate = "Loop 1 setpoint"
table = "holding"
address = 0
CONFIG

strace -f -qq -o "$folder/trace" "$build/zamgate" --config "$folder/bus1.toml" >"$folder/zamgate.log" 2>&1 &
tracer=$!
pids+=($tracer)
wait_for 20 grep -q "connected to the MQTT broker" "$folder/zamgate.log" || fail "zamgate did not connect"
for path in / /metrics /api/state; do
  (exec 3<>/dev/tcp/127.0.0.1/$http_port && printf 'GET %s HTTP/1.0\r\n\r\n' "$path" >&3 && cat <&3) >"$folder/http" ||
    fail "HTTP $path"
  grep -q "200 OK" "$folder/http" || fail "HTTP $path: $(head -1 "$folder/http")"
done
mbpoll -m tcp -a 1 -p "$modbus_port" -t 4:float -r 1 -c 1 -1 127.0.0.1 >"$folder/mbpoll" 2>&1 || fail "mbpoll: $(cat "$folder/mbpoll")"
mosquitto_pub -p "$mqtt_port" -t "n2/bus1/Loop 1 setpoint/set" -m 21.5 || fail "mosquitto_pub"
wait_for 20 grep -q "write Loop 1 setpoint = 21.5: written" "$folder/zamgate.log" || fail "the write was not made"
gateway=$(pgrep -P $tracer -x zamgate) || fail "no zamgate under strace"
kill -TERM "$gateway"
wait_for 20 grep -q "stopping" "$folder/zamgate.log" || fail "zamgate did not stop"
wait $tracer
status=$?
[ $status -eq 0 ] || fail "zamgate exited $status"

# The calls made, and the sets the unit allows and denies.
calls=$(sed -nE 's/^[0-9]+ +([a-z_0-9]+)\(.*/\1/p; s/^[0-9]+ +<\.\.\. ([a-z_0-9]+) resumed>.*/\1/p' "$folder/trace" | sort -u)
[ -n "$calls" ] || fail "no system calls traced"
systemd-analyze syscall-filter >"$folder/groups" 2>/dev/null || fail "systemd-analyze syscall-filter"
# The calls of a list of groups and names, nested groups expanded.
expand() {
  local items="$*" more
  while grep -q '@' <<<"$items"; do
    more=""
    for item in $items; do
      if [[ $item == @* ]]; then
        more+=" $(awk -v g="$item" '/^@/ {inside = ($1 == g); next} inside && NF && $1 !~ /^#/ {print $1}' "$folder/groups")"
      else
        more+=" $item"
      fi
    done
    items=$more
  done
  tr ' ' '\n' <<<"$items" | sed '/^$/d' | sort -u
}
allow=$(sed -nE 's/^SystemCallFilter=([^~].*)/\1/p' "$unit")
deny=$(sed -nE 's/^SystemCallFilter=~(.*)/\1/p' "$unit")
[ -n "$allow" ] && [ -n "$deny" ] || fail "the unit has no SystemCallFilter= allow and deny lines"
outside=$(comm -23 <(echo "$calls") <(expand $allow))
denied=$(comm -12 <(echo "$calls") <(expand $deny))
[ -z "$outside" ] || fail "zamgate calls what SystemCallFilter=$allow leaves out:" $outside
[ -z "$denied" ] || fail "zamgate calls what SystemCallFilter=~$deny denies:" $denied

families=$(grep -oE 'socket\(AF_[A-Z0-9]+' "$folder/trace" | sed 's/socket(//' | sort -u)
allowed_families=$(sed -nE 's/^RestrictAddressFamilies=(.*)/\1/p' "$unit")
for family in $families; do
  [[ " $allowed_families " == *" $family "* ]] || fail "zamgate opens $family sockets; the unit allows $allowed_families"
done
echo "$(wc -l <<<"$calls") system calls and the socket families $(echo $families) all fit the unit"
