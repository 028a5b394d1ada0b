#!/usr/bin/env bash
# The Debian package on this machine, as an integrator installs it (root):
# build the package from build/, check it with lintian, install it, run the
# installed programs from the installed files alone, check the unit, then
# purge it and check that nothing of it is left. Whatever happens halfway, the
# package, its user and its files are removed on the way out.
#   tests/package/run.sh [BUILD_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
start=$(date +%s)

if [ "$(id -u)" -ne 0 ]; then
  echo "tests/package/run.sh installs a package: run it as root" >&2
  exit 1
fi
for tool in lintian systemd-analyze dpkg-shlibdeps adduser man; do
  command -v $tool >/dev/null || [ -x /usr/sbin/$tool ] || { echo "no $tool: run scripts/install-deps.sh" >&2; exit 1; }
done
# A machine where the package, or a zamgate user of someone else's, is
# already there is left alone.
if dpkg-query -W -f='${Status}' zamkt 2>/dev/null | grep -q installed; then
  echo "zamkt is installed on this machine already: not touching it" >&2
  exit 1
fi
if getent passwd zamgate >/dev/null || getent group zamgate >/dev/null || [ -e /etc/zamgate ]; then
  echo "a zamgate user, group or /etc/zamgate exists already: not touching it" >&2
  exit 1
fi

work=$(mktemp -d /tmp/zamkt-package.XXXXXX)
chmod 755 "$work"
installed=0
cleanup() {
  local status=$?
  if [ $installed -eq 1 ]; then
    echo "== removing the package after a failure"
    dpkg --purge zamkt >/dev/null 2>&1 || true
    # A postinst that failed before dpkg knew the package leaves its user.
    getent passwd zamgate >/dev/null && deluser --quiet --system zamgate >/dev/null 2>&1
    getent group zamgate >/dev/null && delgroup --quiet --system zamgate >/dev/null 2>&1
    rm -rf /etc/zamgate
  fi
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

echo "== building the package"
scripts/package.sh "$build" >"$work/package.log" 2>&1 || { cat "$work/package.log"; fail "scripts/package.sh"; }
deb=$(ls "$build"/zamkt_*.deb)
version=$(dpkg-deb -f "$deb" Version)
[ "$version" = "$(sed -nE 's/^project\(zamkt VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)" ] ||
  fail "the package's version $version is not the project's"

echo "== lintian"
lintian --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1 || true
sed -n '/^[EW]: /p' "$work/lintian.log"
! grep -q '^E: ' "$work/lintian.log" || fail "lintian reports errors"

echo "== installing $deb"
installed=1
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
dpkg-query -L zamkt >"$work/files"

# The system user, in dialout; the example a conffile; the unit not enabled.
id -nG zamgate | tr ' ' '\n' | grep -qx dialout || fail "the zamgate user is not in dialout: $(id zamgate)"
[ "$(getent passwd zamgate | cut -d: -f7)" = /usr/sbin/nologin ] || fail "the zamgate user has a login shell"
dpkg-query -W -f='${Conffiles}\n' zamkt | grep -q '/etc/zamgate/example.toml' ||
  fail "/etc/zamgate/example.toml is not a conffile"
! compgen -G '/etc/systemd/system/*.wants/zamgate@*' >/dev/null || fail "the unit was enabled on install"

# Installed again (an upgrade's path through the maintainer scripts): an
# edit of the example is kept, as a conffile's is.
echo "# edited on this machine" >>/etc/zamgate/example.toml
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i over the installed package"; }
tail -1 /etc/zamgate/example.toml | grep -q "edited on this machine" || fail "reinstalling overwrote the edited example"
sed -i '$d' /etc/zamgate/example.toml

echo "== the installed programs, from the installed files alone"
# From an empty folder with a bare environment: zamhost loads the installed
# driver and starts the installed n2sim.
run() { (cd "$work" && env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$work" TMPDIR="$work" "$@"); }
out=$(run zamgate --version) || fail "zamgate --version: $out"
[[ "$out" =~ ^zamgate\ $version\ \(commit\ [0-9a-f]+ ]] || fail "zamgate --version printed '$out'"
run zamhost --version | grep -q "^zamhost $version " || fail "zamhost --version"
run n2sim --version | grep -q "^n2sim $version " || fail "n2sim --version"
out=$(run zamhost info 2>&1) || fail "zamhost info: $out"
[[ "$(head -1 <<<"$out")" =~ ^driver\ +/usr/bin/../lib/zamkt/libzamkt.so$ ]] ||
  fail "zamhost did not load the installed driver: $(head -1 <<<"$out")"
out=$(run zamgate --check-config /etc/zamgate/example.toml 2>&1) || fail "zamgate --check-config on the example: $out"
# The service's user can read its configuration and load the driver.
install -d -o zamgate -m 700 "$work/zamgate-tmp"
out=$(cd "$work" && runuser -u zamgate -- env -i PATH=/usr/sbin:/usr/bin TMPDIR="$work/zamgate-tmp" \
      zamgate --check-config /etc/zamgate/example.toml 2>&1) || fail "the zamgate user's check-config: $out"
out=$(run zamhost demo 2>&1) || fail "zamhost demo: $(tail -5 <<<"$out")"
[[ "$out" == *"Demo finished"* ]] || fail "zamhost demo did not finish"
run man -l /usr/share/man/man8/zamgate.8.gz >/dev/null 2>&1 || fail "man zamgate"

echo "== the unit"
out=$(systemd-analyze verify /lib/systemd/system/zamgate@.service 2>&1) || fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify: $out"
cp /lib/systemd/system/zamgate@.service "$work/zamgate@bus1.service"
security=$(systemd-analyze security --offline=true --no-pager "$work/zamgate@bus1.service" 2>&1 | tail -1)
echo "$security"
[[ "$security" =~ (OK|SAFE|PERFECT) ]] || fail "exposure: $security"

echo "== purging"
installed=0
dpkg --purge zamkt >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; installed=1; fail "dpkg --purge"; }
# Every file of the package is gone; of its folders only those that other
# packages share (/usr/bin, /lib/systemd/system, ...) stay.
left=""
while IFS= read -r path; do
  [ -e "$path" ] || continue
  [ -d "$path" ] && dpkg -S "$path" >/dev/null 2>&1 && continue
  left+=" $path"
done <"$work/files"
[ -z "$left" ] || fail "left after purge:$left"
[ ! -e /etc/zamgate ] || fail "/etc/zamgate left after purge"
! getent passwd zamgate >/dev/null || fail "the zamgate user is left after purge"
! getent group zamgate >/dev/null || fail "the zamgate group is left after purge"

echo "== package test passed in $(( $(date +%s) - start )) s"
