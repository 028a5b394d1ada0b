#!/usr/bin/env bash
# The Windows build of the driver, checked under Wine:
#   1. installs what is missing (mingw-w64 cross compilers, Wine, GoogleTest's
#      sources) when run as root;
#   2. cross-builds build-win32 (the hosts' 32-bit ABI) and build-win64;
#   3. checks with objdump that zamkt.dll exports ZamMain alone and imports
#      err from qorpro.dll and otherwise only KERNEL32 and the C runtime;
#   4. runs the Windows unit tests of both builds under Wine;
#   5. end to end: links Wine's COM5 (and COM12) to the pseudo-terminal of an
#      n2sim serving its default plant, and runs wine_host.exe, which loads
#      zamkt.dll and reads and writes gates through the Win32 serial layer.
#
# Steps 4 and 5 run a build's programs only where its code can run. Wine's
# 32-bit loader is itself an i386 program, so on a kernel that runs no 32-bit
# programs (IA-32 emulation off) the win32 programs are cross-built and their
# DLL checked, but not run: the win64 ones run under the 64-bit loader alone,
# and the summary reports the win32 runs as skipped with the reason.
#
# Usage: tests/wine/run.sh [--no-install] [--only-win32]
# Environment: ZAMKT_N2SIM (an n2sim program to use), ZAMKT_JOBS (default 2).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
cd "$root"
jobs=${ZAMKT_JOBS:-2}
install=1
variants=(win32 win64)
for arg in "$@"; do
  case $arg in
    --no-install) install=0 ;;
    --only-win32) variants=(win32) ;;
    *) echo "usage: $0 [--no-install] [--only-win32]" >&2; exit 2 ;;
  esac
done

started=$(date +%s)
work=$(mktemp -d "${TMPDIR:-/tmp}/zamkt-wine-XXXXXX")

# Whether this kernel runs 32-bit x86 programs, found by running one: a
# 96-byte static i386 ELF whose only instructions exit with status 42. A
# kernel without IA-32 emulation refuses it (ENOEXEC) whatever its settings
# say; a setting could also be read wrongly, a run cannot.
runs_i386() {
  local probe=$work/i386-probe
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$probe"
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$probe"
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' >>"$probe"
  printf '\x00\x00\x00\x00' >>"$probe"
  # One loadable segment: the whole file at 0x08048000, readable and executable.
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$probe"
  printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$probe"
  # mov eax, 1 (exit); mov ebx, 42; int 0x80
  printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >>"$probe"
  chmod +x "$probe"
  local status=0
  "$probe" 2>/dev/null || status=$?
  [ "$status" -eq 42 ]
}
n2sim_pid=""
wineserver_pid=""
cleanup() {
  [ -z "$n2sim_pid" ] || kill "$n2sim_pid" 2>/dev/null || true
  if [ -n "${WINEPREFIX:-}" ]; then rm -f "$WINEPREFIX/dosdevices/com5" "$WINEPREFIX/dosdevices/com12"; fi
  if [ -n "$wineserver_pid" ]; then
    "$wine_server" -k 2>/dev/null || true
    wait "$wineserver_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
step() { printf '\n== %s (%ds)\n' "$*" $(( $(date +%s) - started )); }
fail() { echo "run.sh: $*" >&2; exit 1; }

# ---- 1. packages -------------------------------------------------------------
step "32-bit programs"
if runs_i386; then
  i386=1
  run_variants=("${variants[@]}")
  echo "this kernel runs 32-bit programs: the programs of ${variants[*]} run under Wine"
else
  i386=0
  run_variants=()
  for variant in "${variants[@]}"; do [ "$variant" = win32 ] || run_variants+=("$variant"); done
  skip_reason="this kernel runs no 32-bit programs (IA-32 emulation off), so neither Wine's 32-bit loader nor a win32 program starts"
  echo "$skip_reason: build-win32 is cross-built and its DLL checked, but its programs are not run"
  echo "running under Wine's 64-bit loader: ${run_variants[*]:-nothing}"
fi

step "packages"
packages=()
command -v cmake >/dev/null || packages+=(cmake)
command -v make >/dev/null || packages+=(make)
command -v g++ >/dev/null || packages+=(g++)
command -v i686-w64-mingw32-g++-posix >/dev/null || packages+=(g++-mingw-w64-i686-posix)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || packages+=(g++-mingw-w64-x86-64-posix)
# wine32 (an i386 package) only where i386 programs run.
[ $i386 -eq 0 ] || [ -x /usr/lib/wine/wine ] || packages+=(wine32:i386)
[ -x /usr/lib/wine/wine64 ] || packages+=(wine64)
command -v wine >/dev/null || packages+=(wine)
[ -f /usr/src/googletest/CMakeLists.txt ] || packages+=(googletest)
if [ ${#packages[@]} -gt 0 ]; then
  [ $install -eq 1 ] || fail "missing packages: ${packages[*]}"
  [ "$(id -u)" -eq 0 ] || fail "missing packages: ${packages[*]} (run as root to install them)"
  echo "installing: ${packages[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [ $i386 -eq 1 ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
fi
# The programs run through one loader: the launcher where 32-bit programs run
# (it starts the 32-bit loader, which hands 64-bit programs on), the 64-bit
# loader and its own server otherwise.
if [ $i386 -eq 1 ]; then
  wine_loader=$(command -v wine)
  wine_server=$(command -v wineserver)
else
  wine_loader=/usr/lib/wine/wine64
  wine_server=/usr/lib/wine/wineserver64
  export WINELOADER=$wine_loader WINESERVER=$wine_server
fi
echo "wine: $("$wine_loader" --version) ($wine_loader, server $wine_server)"

# ---- 2. cross builds ---------------------------------------------------------
toolchain_of() { case $1 in win32) echo cmake/mingw-i686.cmake ;; win64) echo cmake/mingw-x86_64.cmake ;; esac; }
objdump_of() { case $1 in win32) echo i686-w64-mingw32-objdump ;; win64) echo x86_64-w64-mingw32-objdump ;; esac; }

for variant in "${variants[@]}"; do
  step "cross build build-$variant"
  cmake -S . -B "build-$variant" -DCMAKE_TOOLCHAIN_FILE="$(toolchain_of "$variant")" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAMKT_TESTS=ON \
    -DZAMKT_WINE="$wine_loader" >"$work/configure-$variant.log" 2>&1 ||
    { cat "$work/configure-$variant.log"; fail "configuring build-$variant failed"; }
  cmake --build "build-$variant" -j"$jobs" >"$work/build-$variant.log" 2>&1 ||
    { tail -50 "$work/build-$variant.log"; fail "building build-$variant failed"; }
  grep -E 'warning:' "$work/build-$variant.log" | sort -u || true
  ls "build-$variant"/zamkt.dll "build-$variant"/qorpro.dll "build-$variant"/libqorpro.dll.a >/dev/null
done

# ---- 3. exports and imports ----------------------------------------------------
# The names under "[Ordinal/Name Pointer] Table" of objdump -p.
exports_of() {
  "$1" -p "$2" | awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF==0 {on=0; done=1} on && !done {print $NF}'
}
# "DLL function" for every import of objdump -p.
imports_of() {
  "$1" -p "$2" | awk '/DLL Name:/ {dll=$3; next} dll && NF==0 {dll=""} dll && NF>=3 && $1 ~ /^[0-9a-f]+$/ {print dll, $NF}'
}
for variant in "${variants[@]}"; do
  step "exports and imports of build-$variant/zamkt.dll"
  objdump=$(objdump_of "$variant")
  exports=$(exports_of "$objdump" "build-$variant/zamkt.dll")
  echo "exports: $(echo $exports)"
  [ "$exports" = "ZamMain" ] || fail "zamkt.dll must export ZamMain alone, exports: $(echo $exports)"
  imports=$(imports_of "$objdump" "build-$variant/zamkt.dll")
  echo "imported DLLs: $(echo "$imports" | awk '{print $1}' | sort -u | tr '\n' ' ')"
  [ "$(echo "$imports" | awk '$1 == "qorpro.dll" {print $2}')" = "err" ] ||
    fail "zamkt.dll must import err (and nothing else) from qorpro.dll"
  others=$(echo "$imports" | awk '{print $1}' | sort -u | grep -v -i -x -E 'qorpro\.dll|kernel32\.dll|msvcrt\.dll' || true)
  [ -z "$others" ] || fail "zamkt.dll imports from more than KERNEL32, the C runtime and qorpro.dll: $others"
  [ "$(exports_of "$objdump" "build-$variant/qorpro.dll")" = "err" ] || fail "qorpro.dll must export err alone"
  echo "ok: ZamMain exported alone; err imported from qorpro.dll; otherwise KERNEL32.dll and msvcrt.dll"
done

# ---- Wine and the simulator ----------------------------------------------------
# One 64-bit prefix (WoW64 where 32-bit programs run) serves both builds.
export WINEPREFIX="$root/build-win64/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer on the first start
unset DISPLAY
mkdir -p "$WINEPREFIX"

step "n2sim"
n2sim=${ZAMKT_N2SIM:-}
if [ -z "$n2sim" ]; then
  for candidate in build/n2sim build-win-linux/n2sim; do
    if [ -x "$candidate" ]; then n2sim=$root/$candidate; break; fi
  done
fi
if [ -z "$n2sim" ]; then
  echo "building n2sim in build-win-linux"
  [ ! -x scripts/install-deps.sh ] || scripts/install-deps.sh
  cmake -S . -B build-win-linux -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAMKT_TESTS=OFF >"$work/n2sim-build.log" 2>&1 &&
    cmake --build build-win-linux --target n2sim -j"$jobs" >>"$work/n2sim-build.log" 2>&1 ||
    { tail -30 "$work/n2sim-build.log"; fail "building n2sim failed"; }
  n2sim=$root/build-win-linux/n2sim
fi
echo "using $n2sim"

# The server is started here, in the background of this script and not as a
# session leader: a server that Wine starts on its own can take the
# simulator's pseudo-terminal as its controlling terminal.
step "Wine server and prefix"
"$wine_server" -f -p >"$work/wineserver.log" 2>&1 &
wineserver_pid=$!
"$wine_loader" wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; fail "wineboot failed"; }

"$n2sim" >"$work/n2sim.out" 2>"$work/n2sim.err" &
n2sim_pid=$!
pty=""
for _ in $(seq 100); do
  pty=$(head -n 1 "$work/n2sim.out" 2>/dev/null || true)
  [ -z "$pty" ] || break
  kill -0 "$n2sim_pid" 2>/dev/null || { cat "$work/n2sim.err"; fail "n2sim stopped"; }
  sleep 0.1
done
[ -n "$pty" ] || fail "n2sim printed no terminal name"
ln -sfn "/dev/$pty" "$WINEPREFIX/dosdevices/com5"
ln -sfn "/dev/$pty" "$WINEPREFIX/dosdevices/com12"
echo "COM5 and COM12 -> /dev/$pty (n2sim, pid $n2sim_pid)"
export ZAMKT_WINE_COM=COM5 ZAMKT_WINE_COM_HIGH=COM12

# ---- 4. unit tests under Wine ----------------------------------------------------
results=()
failed=0
skipped=0
if [ $i386 -eq 0 ]; then
  for variant in "${variants[@]}"; do
    [ "$variant" = win32 ] || continue
    results+=("unit tests win32: skipped ($skip_reason)" "end to end win32: skipped ($skip_reason)")
    skipped=$((skipped + 2))
  done
fi
for variant in "${run_variants[@]}"; do
  step "unit tests of build-$variant under Wine"
  if ctest --test-dir "build-$variant" --output-on-failure --no-tests=error -j"$jobs"; then
    results+=("unit tests $variant: passed")
  else
    results+=("unit tests $variant: FAILED")
    failed=$((failed + 1))
  fi
done

# ---- 5. end to end over COM5 -------------------------------------------------------
for variant in "${run_variants[@]}"; do
  step "end to end: build-$variant/wine_host.exe on COM5"
  mkdir -p "$work/host-$variant"
  if (cd "$work/host-$variant" && QORPRO_LOG="$work/host-$variant/qorpro.log" "$wine_loader" "$root/build-$variant/wine_host.exe" COM5); then
    results+=("end to end $variant: passed")
  else
    echo "-- driver log:"
    cat "$work/host-$variant/qorpro.log" 2>/dev/null || true
    echo "-- n2sim:"
    tail -20 "$work/n2sim.err" || true
    results+=("end to end $variant: FAILED")
    failed=$((failed + 1))
  fi
done

step "summary"
printf '%s\n' "${results[@]}"
echo "windows: $(( ${#results[@]} - failed - skipped )) passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ]
