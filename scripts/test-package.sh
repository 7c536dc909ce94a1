#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and runs the
# installed programs from there: the version, a short record, the window.
set -euo pipefail
cd "$(dirname "$0")/.."
make package >/dev/null
scripts/install-deps.sh xvfb xauth
deb=$(ls build/package/zqd4830-gps_*_amd64.deb | head -n 1)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
passed=0
failed=0
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then echo "ok: $name" >&2; passed=$((passed + 1)); else echo "FAILED: $name" >&2; failed=$((failed + 1)); fi
}
info=$(dpkg-deb -I "$deb")
check "declares libmseed" grep -q "libmseed2" <<<"$info"
check "declares Qt and its platform plugins" grep -q "libqt6widgets6.*qt6-qpa-plugins\|qt6-qpa-plugins.*libqt6widgets6" <<<"$info"
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/zqd4830-cli ./usr/bin/zqd4830-gps ./usr/lib/zqd4830-gps/libadcard.so ./usr/share/man/man1/zqd4830-cli.1 \
  ./usr/lib/systemd/system/zqd4830-acquire.service ./usr/share/applications/zqd4830-gps.desktop \
  ./usr/share/applications/zqd4830-gps-monitor.desktop ./usr/share/applications/zqd4830-gps-archive.desktop \
  ./usr/share/icons/hicolor/scalable/apps/zqd4830-gps.svg; do
  check "holds $f" grep -q " $f" <<<"$contents"
done
dpkg-deb -x "$deb" "$root"
check "the manual page tells each command, stationxml's options too" \
  grep -q -- '--archive TEXT.*Archive (SDS) for the start date' "$root/usr/share/man/man1/zqd4830-cli.1"
check "installed zqd4830-cli --version" sh -c "'$root/usr/bin/zqd4830-cli' --version | grep -q '^zqd4830-cli 1\.'"
check "installed zqd4830-gps --version" sh -c "'$root/usr/bin/zqd4830-gps' --version | grep -q '^zqd4830-gps 1\.'"
mkdir -p "$root/work"
check "installed record" env ZQD4830_ACQUISITION_LOCK="$root/work/acq.lock" ADCARD_SIM_SPEED=25 ADCARD_SIM_START=2008-05-12T17:38:40.3 \
  "$root/usr/bin/zqd4830-cli" record --tick-ms 20 --dir "$root/work" >/dev/null
check "record is whole" test "$(stat -c %s "$root/work/T1.DAT")" = 92160384
# The window opens and stays up until it is ended (timeout's 124).
set +e
timeout 3 xvfb-run -a "$root/usr/bin/zqd4830-gps" >/dev/null 2>&1
status=$?
set -e
check "installed window opens under Xvfb" test "$status" = 124
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
