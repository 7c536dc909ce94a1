#!/usr/bin/env bash
# Two writers at once, again and again: pairs of `record` into one folder and
# pairs of `export` to one file, started a varying few milliseconds apart.
# Every final file must be one writer's whole output, and no writer may
# report success for output that is neither in place nor replaced whole by a
# later complete write.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" --target zqd4830-cli adcard >/dev/null
cli=$(pwd)/build/default/bin/zqd4830-cli
pairs=${PAIRS:-50}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" TMPDIR="$work/tmp"
mkdir -p "$TMPDIR" "$work/ref-a" "$work/ref-b" "$work/d" "$work/run-a" "$work/run-b"
fast="ADCARD_SIM_SPEED=25"
start_a=2008-05-12T17:38:40.300000000
start_b=2011-03-11T05:46:20.000000000

# What each writer alone produces.
env $fast ADCARD_SIM_START=$start_a "$cli" record --tick-ms 20 --dir "$work/ref-a" >/dev/null
env $fast ADCARD_SIM_START=$start_b "$cli" record --tick-ms 20 --dir "$work/ref-b" >/dev/null
"$cli" decode "$work/ref-a/T1.DAT" >"$work/decode-a"
"$cli" decode "$work/ref-b/T1.DAT" >"$work/decode-b"

failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

for i in $(seq 1 "$pairs"); do
  delay=$(printf '0.%03d' $(((i * 37) % 80)))
  # Two simulated cards, each with an acquisition lock of its own: they do
  # not share the machine's, only the record's folder.
  env ZQD4830_ACQUISITION_LOCK="$work/run-a.lock" $fast ADCARD_SIM_START=$start_a "$cli" record --tick-ms 20 --dir "$work/d" >"$work/a.out" 2>&1 &
  pid_a=$!
  sleep "$delay"
  env ZQD4830_ACQUISITION_LOCK="$work/run-b.lock" $fast ADCARD_SIM_START=$start_b "$cli" record --tick-ms 20 --dir "$work/d" >"$work/b.out" 2>&1 &
  pid_b=$!
  status_a=0; wait $pid_a || status_a=$?
  status_b=0; wait $pid_b || status_b=$?
  "$cli" decode "$work/d/T1.DAT" >"$work/decode-final" 2>&1 || fail "record pair $i: T1.DAT does not decode"
  if cmp -s "$work/decode-final" "$work/decode-a"; then final=a
  elif cmp -s "$work/decode-final" "$work/decode-b"; then final=b
  else final=none; fail "record pair $i: T1.DAT is not one whole record"; fi
  [ "$final" = none ] || cmp -s "$work/d/T1.DAT" "$work/ref-$final/T1.DAT" || fail "record pair $i: T1.DAT differs from record $final"
  for w in a b; do
    st=status_$w
    if [ "${!st}" = 0 ] && ! grep -q '保存完毕！' "$work/$w.out"; then fail "record pair $i: $w exited 0 without saving"; fi
    if [ "${!st}" != 0 ] && ! grep -q '记录已另存为' "$work/$w.out"; then fail "record pair $i: $w failed and its record is nowhere"; fi
  done
  ls -A "$work/d" | grep -q '\.tmp$' && fail "record pair $i: a temporary file was left"
done
echo "record pairs: $pairs run"

rec="$work/ref-a/T1.DAT"
"$cli" export --from 17:38:43 --to 17:38:45 --channel 0 --out "$work/exp-a.csv" "$rec"
"$cli" export --from 17:38:50 --to 17:38:55 --channel 2 --out "$work/exp-b.csv" "$rec"
for i in $(seq 1 "$pairs"); do
  delay=$(printf '0.%03d' $(((i * 7) % 20)))
  "$cli" export --from 17:38:43 --to 17:38:45 --channel 0 --out "$work/out.csv" "$rec" 2>"$work/a.err" &
  pid_a=$!
  sleep "$delay"
  "$cli" export --from 17:38:50 --to 17:38:55 --channel 2 --out "$work/out.csv" "$rec" 2>"$work/b.err" &
  pid_b=$!
  status_a=0; wait $pid_a || status_a=$?
  status_b=0; wait $pid_b || status_b=$?
  [ "$status_a" = 0 ] && [ "$status_b" = 0 ] || fail "export pair $i: exit $status_a and $status_b"
  cmp -s "$work/out.csv" "$work/exp-a.csv" || cmp -s "$work/out.csv" "$work/exp-b.csv" ||
    fail "export pair $i: the file is neither export whole"
done
echo "export pairs: $pairs run"
echo "$((2 * pairs - failures)) passed, $failures failed"
[ "$failures" = 0 ]
