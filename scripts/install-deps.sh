#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the driver.
# Installs only when run as root; otherwise names what is missing.
set -euo pipefail

packages=()
command -v cmake >/dev/null || packages+=(cmake)
command -v g++ >/dev/null || packages+=(g++)
command -v make >/dev/null || packages+=(make)
command -v nm >/dev/null || packages+=(binutils)
[ -f /usr/include/gtest/gtest.h ] || packages+=(libgtest-dev)
[ -f /usr/include/CLI/CLI.hpp ] || packages+=(libcli11-dev)
# zamhost writes and its tests check JSON with nlohmann-json; the terminal
# table's test reads the screen through tmux.
[ -f /usr/include/nlohmann/json.hpp ] || packages+=(nlohmann-json3-dev)
command -v tmux >/dev/null || packages+=(tmux)
[ -f /usr/include/benchmark/benchmark.h ] || packages+=(libbenchmark-dev)
# The libFuzzer build of the fuzz targets (fuzz/run.sh): clang and its
# fuzzer and sanitizer runtimes.
command -v clang++ >/dev/null || packages+=(clang)
compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null ||
  packages+=(libclang-rt-14-dev)

# zamgate: TOML, MQTT (client library, broker and clients for the tests),
# HTTP, Prometheus metrics (JSON as zamhost above); openssl and chromium for
# its tests.
[ -f /usr/include/toml++/toml.h ] || packages+=(libtomlplusplus-dev)
[ -f /usr/include/mosquitto.h ] || packages+=(libmosquitto-dev)
command -v mosquitto >/dev/null || [ -x /usr/sbin/mosquitto ] || packages+=(mosquitto)
command -v mosquitto_sub >/dev/null || packages+=(mosquitto-clients)
[ -f /usr/include/httplib.h ] || packages+=(libcpp-httplib-dev)
[ -f /usr/include/prometheus/registry.h ] || packages+=(prometheus-cpp-dev)
command -v pkg-config >/dev/null || packages+=(pkg-config)
command -v openssl >/dev/null || packages+=(openssl)
command -v chromium >/dev/null || packages+=(chromium)
# zamgate's Modbus TCP face: libmodbus; mbpoll for its tests and guide.
[ -f /usr/include/modbus/modbus.h ] || packages+=(libmodbus-dev)
command -v mbpoll >/dev/null || packages+=(mbpoll)
# zamgate's integrations: Jinja renders the Home Assistant value templates in
# their test; a Prometheus server scrapes the gateway, promtool checks /metrics.
python3 -c 'import jinja2' 2>/dev/null || packages+=(python3-jinja2)
command -v prometheus >/dev/null || packages+=(prometheus)
# The Debian package (scripts/package.sh, tests/package/): CPack's DEB
# generator with dpkg-shlibdeps and file, lintian, man, systemd-analyze for
# the unit, strace for the test of its system-call filter, adduser for the
# maintainer scripts.
command -v dpkg-shlibdeps >/dev/null || packages+=(dpkg-dev)
command -v file >/dev/null || packages+=(file)
command -v lintian >/dev/null || packages+=(lintian)
command -v man >/dev/null || packages+=(man-db)
command -v systemd-analyze >/dev/null || packages+=(systemd)
command -v strace >/dev/null || packages+=(strace)
command -v adduser >/dev/null || [ -x /usr/sbin/adduser ] || packages+=(adduser)
# promtool checks the gateway's /metrics text in its tests.
command -v promtool >/dev/null || packages+=(prometheus)
# zamgate's BACnet/IP face is tested against the npm package
# @bacnet-js/client: Node and npm, then the package as
# tests/bacnet/package-lock.json pins it (nothing is fetched at test time).
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
# Its tests decode the captured traffic with tshark: no malformed packet.
command -v tshark >/dev/null || packages+=(tshark)

install_node_packages() {
  local folder
  folder="$(cd "$(dirname "$0")/.." && pwd)/tests/bacnet"
  [ -d "$folder/node_modules/@bacnet-js/client" ] && return 0
  echo "installing the npm packages of tests/bacnet"
  (cd "$folder" && npm ci --no-audit --no-fund --silent)
}

if [ ${#packages[@]} -eq 0 ]; then
  install_node_packages
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${packages[*]} (run as root, or: sudo apt-get install ${packages[*]})" >&2
  exit 1
fi
echo "installing: ${packages[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${packages[@]}" >/dev/null
install_node_packages
