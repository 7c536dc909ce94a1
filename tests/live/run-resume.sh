#!/usr/bin/env bash
# A client resumes after acquire was killed with kill -9 and started again on
# the same archive: the records it resumes with continue those it had, with no
# gap and no duplicate. Usage: run-resume.sh ZQD4830-CLI
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=$1
work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; rm -rf "$work"' EXIT
port=$((20000 + RANDOM % 20000))
acquire() {
  ZQD4830_ACQUISITION_LOCK="$work/lock" ADCARD_SIM_SPEED=10 "$cli" acquire --archive "$work/archive" \
    --duration 3000 --seedlink "127.0.0.1:$port" >>"$work/acquire.txt" 2>&1 &
  pid=$!
  for _ in $(seq 1 100); do
    grep -q "SeedLink 服务在 .* 上提供实时数据" "$work/acquire.txt" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "the server did not start" >&2
  cat "$work/acquire.txt" >&2
  return 1
}
acquire
sleep 4  # a few flushes' worth of records
node "$here/resume_client.mjs" "$port" ALL 40 >"$work/before.txt"
sleep 1
kill -9 "$pid"
wait "$pid" 2>/dev/null || true
held=$(ls -l "$work/archive/.zqd4830/live.ring" | awk '{print $5}')
: >"$work/acquire.txt"
acquire
# "…保留了 K 个记录…新记录的序号从 N 起": what the ring kept, and where the new numbers begin.
said=$(grep "实时数据的环形缓存" "$work/acquire.txt" || true)
echo "$said"
kept=$(sed -n 's/.*保留了 \([0-9]*\) 个记录.*/\1/p' <<<"$said")
next=$(sed -n 's/.*序号从 \([0-9]*\) 起.*/\1/p' <<<"$said")
last=$(tail -n 1 "$work/before.txt" | cut -d' ' -f1)
sleep 3
# The rest of the old run's records, then 50 of the new run's.
node "$here/resume_client.mjs" "$port" $((last + 1)) $((kept - last - 1 + 50)) >"$work/after.txt"
kill -INT "$pid"
wait "$pid" || true
pid=""
status=0
first=$(head -n 1 "$work/after.txt" | cut -d' ' -f1)
echo "before the kill: $(wc -l <"$work/before.txt") packets, the last $last; after: the first $first (ring file $held bytes)"
[ "$first" = $((last + 1)) ] || { echo "FAILED: resumed at $first, not $((last + 1))"; status=1; }
# Every sequence number once, growing; one jump only, where the restart's reservation begins.
jumps=$(cat "$work/before.txt" "$work/after.txt" | awk 'NR > 1 && $1 != prev + 1 {print prev " -> " $1} {prev = $1}')
dupes=$(cat "$work/before.txt" "$work/after.txt" | awk '{print $1}' | sort | uniq -d | wc -l)
echo "jumps: ${jumps:-none}; duplicates: $dupes"
[ "$dupes" = 0 ] || status=1
[ "$jumps" = "$((kept - 1)) -> $next" ] || { echo "FAILED: the numbers jump at ${jumps:-nowhere}, not at the restart"; status=1; }
# The old run's records go on where they stopped: per channel, each record starts after the one before.
# (The new run's simulated card starts again from the clock, behind a run at ten times real time.)
cat "$work/before.txt" "$work/after.txt" | awk -v next_run="$next" '
  $1 >= next_run { exit }
  { split($3, t, "."); key = sprintf("%04d%03d%02d%02d%02d%05d", t[1], t[2], t[3], t[4], t[5], t[6]) }
  ($2 in last) && key <= last[$2] { print "FAILED: " $2 " goes back at sequence " $1; bad = 1 }
  { last[$2] = key } END { exit bad }' || status=1
[ "$status" = 0 ] && echo "resumed without a gap or a duplicate"
exit $status
