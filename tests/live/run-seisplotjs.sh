#!/usr/bin/env bash
# Runs acquire with its SeedLink server on the simulated card and seisplotjs
# against it (seisplotjs_test.mjs). Usage: run-seisplotjs.sh ZQD4830-CLI
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=$1
if [ ! -d "$here/node_modules/seisplotjs" ]; then
  echo "seisplotjs is not installed: run 'make deps' (npm ci in tests/live)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
port=$((20000 + RANDOM % 20000))
ZQD4830_ACQUISITION_LOCK="$work/lock" ADCARD_SIM_SPEED=10 ADCARD_SIM_START=2008-05-12T17:38:40.300000000 \
  "$cli" acquire --archive "$work/archive" --duration 600 --seedlink "127.0.0.1:$port" >"$work/acquire.txt" 2>&1 &
pid=$!
# The first records reach the ring at the first flush (ten seconds of data).
day="$work/archive/2008/XX/ZQD01/GY0.D/XX.ZQD01.00.GY0.D.2008.133"
for _ in $(seq 1 100); do
  [ -s "$day" ] && grep -q "SeedLink 服务在 .* 上提供实时数据" "$work/acquire.txt" && break
  sleep 0.2
done
status=0
node --experimental-websocket "$here/seisplotjs_test.mjs" "ws://127.0.0.1:$port" "$day" || status=$?
kill -INT "$pid"
wait "$pid" || status=1
grep "SeedLink client" "$work/acquire.txt" || true
exit $status
