#!/usr/bin/env bash
# Months unattended, in a few minutes: the archive on a small disk of its own
# with a floor of free space, fed by the simulated card far faster than real
# time for several days of data, the waveform viewer's model opened on the
# live archive again after every hour of data, its summary cache on a disk of
# its own with a size limit. Checked: recording never stops, the oldest days
# are removed with a line each, the free space never falls below the floor,
# the cache stays within its limit, and the summary counts every block that
# is not on disk.
#
# To keep it within minutes the station is reduced (one signal channel at
# 1000 samples/s, the least at which the GPS messages still travel) and the
# card runs at 2000 times real time: three days of data in about two minutes.
# Needs root to mount the two small disks; says so and passes without it.
set -euo pipefail
cd "$(dirname "$0")/.."

bin=${ZQD_BIN:-build/default/bin}
speed=${SOAK_SPEED:-2000}
days=${SOAK_DAYS:-3}
disk_mb=${SOAK_DISK_MB:-96}
floor_mb=${SOAK_FLOOR_MB:-24}
cache_limit_mb=${SOAK_CACHE_MB:-48}
start=2008-05-12T16:00:00

if [ "$(id -u)" -ne 0 ]; then
  echo "soak: SKIPPED: mounting the small disks needs root"
  exit 0
fi
work=$(mktemp -d)
cleanup() {
  [ -n "${acquire_pid:-}" ] && kill "$acquire_pid" 2>/dev/null || true
  umount "$work/disk" 2>/dev/null || true
  umount "$work/cache" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/disk" "$work/cache"
if ! mount -t tmpfs -o size=${disk_mb}m tmpfs "$work/disk" 2>/dev/null ||
   ! mount -t tmpfs -o size=256m tmpfs "$work/cache" 2>/dev/null; then
  echo "soak: SKIPPED: this machine does not let us mount small tmpfs disks"
  exit 0
fi

cat >"$work/soak.toml" <<EOF
[acquisition]
channels = 3
points_per_channel = 1000
scan_rate = 1000
buffers = 400

[retention]
min_free_mb = $floor_mb

[channels]
0 = false
2 = "GY0"
EOF

seconds=$((days * 86400))
fail=0
failed() { echo "soak: FAILED: $*" >&2; fail=1; }
free_bytes() { df -B1 --output=avail "$work/disk" | tail -1 | tr -d ' '; }
cache_bytes() { find "$work/cache" -name '*.zidx' -printf '%s\n' | awk '{ n += $1 } END { print n + 0 }'; }
floor=$((floor_mb * 1048576))
limit=$((cache_limit_mb * 1048576))

echo "soak: $days days of data at ${speed}x on a ${disk_mb} MB disk with a ${floor_mb} MB floor; cache limit ${cache_limit_mb} MB"
began=$(date +%s)
# The acquisition forgets the summaries of the days it removes, in the same cache as the viewer's.
XDG_CACHE_HOME="$work/cache" ZQD4830_ACQUISITION_LOCK="$work/acq.lock" ADCARD_SIM_SPEED=$speed ADCARD_SIM_START=$start \
  "$bin/zqd4830-cli" acquire --archive "$work/disk/arc" --config "$work/soak.toml" --duration "$seconds" \
  --poll-ms 20 >"$work/acquire.out" 2>"$work/acquire.err" &
acquire_pid=$!

# An hour of data goes by every 3600/speed seconds: the viewer opens the archive again.
hour=$(awk "BEGIN { print 3600 / $speed }")
opens=0
least_free=$(free_bytes)
most_cache=0
while kill -0 "$acquire_pid" 2>/dev/null; do
  sleep "$hour"
  [ -n "$(find "$work/disk/arc" -type f -name '*.D.*' 2>/dev/null | head -1)" ] || continue
  if XDG_CACHE_HOME="$work/cache" ZQD4830_CACHE_LIMIT_MB=$cache_limit_mb \
     "$bin/zqd4830-cli" plot --size 800x300 --out "$work/view.png" "$work/disk/arc" >"$work/plot.out" 2>"$work/plot.err"; then
    opens=$((opens + 1))
  elif kill -0 "$acquire_pid" 2>/dev/null; then
    failed "the viewer could not open the live archive: $(cat "$work/plot.err")"
  fi
  f=$(free_bytes); [ "$f" -lt "$least_free" ] && least_free=$f
  c=$(cache_bytes); [ "$c" -gt "$most_cache" ] && most_cache=$c
done
status=0
wait "$acquire_pid" || status=$?
acquire_pid=
took=$(( $(date +%s) - began ))

echo "soak: $took s; the viewer opened the archive $opens times; least free $((least_free / 1048576)) MB; most cache $((most_cache / 1048576)) MB"
tail -n 2 "$work/acquire.out"
[ "$status" -eq 0 ] || failed "acquire exited with $status: $(tail -n 3 "$work/acquire.err")"
[ "$opens" -ge $((days * 12)) ] || failed "the viewer opened the archive only $opens times"
removed=$(grep -c "删除最旧的一天" "$work/acquire.out" || true)
[ "$removed" -ge 1 ] || failed "no old day was removed"
echo "soak: $removed old days removed"
[ "$least_free" -ge "$floor" ] || failed "free space fell to $least_free bytes, below the floor of $floor"
[ "$most_cache" -le "$limit" ] || failed "the cache grew to $most_cache bytes, beyond its limit of $limit"
# Recording never stopped: every second of data archived, or counted as lost.
summary=$(grep "^结束：" "$work/acquire.out" || true)
archived=$(sed -n 's/^结束：存档 \([0-9]*\) 块.*/\1/p' <<<"$summary")
[ "${archived:-0}" -eq "$seconds" ] || failed "archived ${archived:-none} blocks of $seconds: $summary"
lost=$(grep -o '[0-9]* 块' <<<"${summary#*损失：}" | awk '{ n += $1 } END { print n + 0 }')
last=$(grep -o 'GPS 正常 [0-9T:.-]*' "$work/acquire.out" | tail -1 | cut -d' ' -f3)
span=$(( $(date -u -d "${last%.*}" +%s) - $(date -u -d "$start" +%s) + 1 ))
[ "$span" -eq $((archived + lost)) ] || failed "$span s of data went by, $archived archived and $lost counted as lost"
grep -q "未写入磁盘 0 个记录" <<<"$summary" || failed "records were written nowhere: $summary"
# What is left on disk is whole.
while IFS= read -r -d '' f; do
  [ $(( $(stat -c %s "$f") % 512 )) -eq 0 ] || failed "$f is not whole records"
done < <(find "$work/disk/arc" -type f -print0)
[ "$fail" -eq 0 ] && echo "soak: passed"
exit "$fail"
