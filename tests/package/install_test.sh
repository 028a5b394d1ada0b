#!/usr/bin/env bash
# What `cmake --install` puts down runs from there alone: installed into a
# staging folder (DESTDIR, no root needed), the programs find the driver in
# the private library folder and n2sim beside zamhost, zamgate checks the
# installed example, no file names the build folder, and the unit names the
# installed program.
#   install_test.sh BUILD_FOLDER
set -uo pipefail
build=$(cd "$1" && pwd)
stage=$(mktemp -d "${TMPDIR:-/tmp}/zamkt-install.XXXXXX")
trap 'rm -rf "$stage"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! DESTDIR="$stage" cmake --install "$build" >"$stage.log" 2>&1; then
  cat "$stage.log"
  rm -f "$stage.log"
  echo "FAIL: cmake --install"
  exit 1
fi
rm -f "$stage.log"
prefix=$(sed -nE 's/^CMAKE_INSTALL_PREFIX:PATH=(.*)/\1/p' "$build/CMakeCache.txt")
root=$stage$prefix
sysconf=$stage$( [ "$prefix" = /usr ] && echo /etc || echo "$prefix/etc")
unitdir=$stage$( [ "$prefix" = /usr ] && echo /lib/systemd/system || echo "$prefix/lib/systemd/system")

for file in bin/zamhost bin/n2sim sbin/zamgate lib/zamkt/libzamkt.so lib/zamkt/libqorpro.so \
            share/man/man1/zamhost.1.gz share/man/man1/n2sim.1.gz share/man/man8/zamgate.8.gz \
            share/doc/zamkt/zamgate.md share/doc/zamkt/copyright share/doc/zamkt/examples/modbus-port-502.conf; do
  [ -f "$root/$file" ] || fail "$prefix/$file not installed"
done
for file in "$sysconf/zamgate/example.toml" "$sysconf/zamgate/example-gates.csv" "$unitdir/zamgate@.service"; do
  [ -f "$file" ] || fail "${file#$stage} not installed"
done

# Nothing installed may lead back to the build folder: no RUNPATH of a
# program or library, no path in a text file (debugging information of an
# unstripped build names its sources, and is left out).
while IFS= read -r -d '' file; do
  if [ "$(head -c 4 "$file" | tr -d '\0')" = $'\x7fELF' ]; then
    runpath=$(readelf -d "$file" | grep -E 'RUNPATH|RPATH')
    [[ "$runpath" != *"$build"* ]] || fail "${file#$stage} leads to the build folder: $runpath"
  elif grep -qF "$build" "$file"; then
    fail "${file#$stage} names the build folder"
  fi
done < <(find "$stage" -type f -print0)

# Run from an empty folder with a bare environment.
work=$stage/work
mkdir -p "$work"
run() { (cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work" TMPDIR="$work" "$@"); }

info=$(run "$root/bin/zamhost" info 2>&1) || fail "installed zamhost info: $info"
[[ "$info" == *"driver "*"$root/bin/../lib/zamkt/libzamkt.so"* ]] ||
  fail "zamhost did not load the installed driver: $(head -1 <<<"$info")"
# The --driver option still wins over the installed driver.
out=$(run "$root/bin/zamhost" --driver "$work/none.so" info 2>&1)
[ $? -eq 6 ] && [[ "$out" == *"$work/none.so"* ]] || fail "--driver did not override: $out"

out=$(run "$root/sbin/zamgate" --check-config "$sysconf/zamgate/example.toml" 2>&1) ||
  fail "zamgate --check-config on the installed example: $out"
out=$(run "$root/bin/zamhost" demo 2>&1) || fail "installed zamhost demo: $(tail -5 <<<"$out")"
[[ "$out" == *"Demo finished"* ]] || fail "installed zamhost demo did not finish: $(tail -5 <<<"$out")"

unit=$(cat "$unitdir/zamgate@.service")
[[ "$unit" == *"ExecStart=$prefix/sbin/zamgate --config "*"/zamgate/%i.toml"* ]] ||
  fail "the unit does not start the installed zamgate: $(grep ExecStart= <<<"$unit")"
[[ "$unit" != *"@"ZAMKT* ]] || fail "the unit has unreplaced names: $(grep -o '@ZAMKT[A-Z_]*@' <<<"$unit" | sort -u)"

if [ $failures -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "the installed programs run from the installed files alone"
