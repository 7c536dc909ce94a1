#!/usr/bin/env bash
# Cross-builds the Windows programs (zqd4830-cli.exe and the simulated card
# adcard.dll) and runs the command-line checks under wine, comparing the files
# with those of the Linux build for the same simulated start time.
#
# The maker's card library is 32-bit, so the i686 build and its decorated
# stdcall export names are checked on every machine. Where this machine runs
# 32-bit programs, the checks run on that build under wine32. Where it does
# not, they run on the same code built for 64-bit Windows under wine64, which
# still exercises the Windows platform code (UTF-16 paths, GBK, the replace).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
start_time=$(date +%s)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

# Does this machine run 32-bit x86 programs? Run one and see: a 96-byte i386
# ELF program that only exits with status 42.
probe=$(mktemp)
printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"
set +e
probe_error=$("$probe" 2>&1)
probe_status=$?
set -e
rm -f "$probe"
if [ -n "${ZQD_WINDOWS_MODE:-}" ]; then
  mode=$ZQD_WINDOWS_MODE
  echo "Windows checks: mode $mode chosen by ZQD_WINDOWS_MODE"
elif [ "$probe_status" = 42 ]; then
  mode=32
  echo "32-bit programs run here: checking the 32-bit Windows build under wine32"
else
  mode=64
  reason=$(printf '%s' "$probe_error" | sed -n 's/.*: \([^:]*\)$/\1/p' | tail -n 1 | tr 'A-Z' 'a-z')
  echo "32-bit programs do not run here (${reason:-exit status $probe_status}): checking the 64-bit Windows build under wine64"
fi

if [ "$mode" = 32 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    $sudo apt-get update -qq
  fi
  scripts/install-deps.sh g++-mingw-w64-i686 wine wine32:i386
  wine=(wine)
  win_preset=win32
else
  scripts/install-deps.sh g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64
  wine=(/usr/lib/wine/wine64)
  win_preset=win64
fi

jobs=$(nproc 2>/dev/null || echo 2)
# The archive needs libmseed: its upstream source, built with mingw.
mseed_source=$(scripts/libmseed-source.sh) || {
  mseed_source=""
  echo "WARNING: libmseed's source could not be fetched: the Windows builds go without the archive" >&2
}
cmake --preset win32 -DZQD_MSEED_SOURCE="$mseed_source" >/dev/null
cmake --build --preset win32 -j "$jobs"
if [ "$win_preset" != win32 ]; then
  cmake --preset "$win_preset" -DZQD_MSEED_SOURCE="$mseed_source" >/dev/null
  cmake --build --preset "$win_preset" -j "$jobs"
fi
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs" --target zqd4830-cli adcard
built=$(date +%s)

passed=0
failed=0
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then
    echo "ok: $name" >&2
    passed=$((passed + 1))
  else
    echo "FAILED: $name" >&2
    failed=$((failed + 1))
  fi
}

exported_names() {  # exported_names OBJDUMP DLL
  "$1" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ {print $NF}' |
    LC_ALL=C sort | tr '\n' ' '
}

win="$root/build/$win_preset/bin"
lin="$root/build/default/bin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -n "${KEEP_WORK:-}" ] && trap - EXIT && echo "work: $work"
export HOME="${HOME:-$root/build/$win_preset}"
export WINEPREFIX="$root/build/$win_preset/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# The decorated stdcall exports of the maker's 32-bit library, and the
# simulated card's own marker, and nothing else.
check "32-bit adcard.dll exports" test "$(exported_names i686-w64-mingw32-objdump "$root/build/win32/bin/adcard.dll")" = \
  "_ADResult@4 _AdcardSimulated@0 _GetLastADError@0 _Initial@16 _QueryBuf@0 _StartIntr@28 _StopIntr@0 _Zqd_DI@8 _Zqd_DO@8 "
if [ "$mode" != 32 ]; then
  check "64-bit adcard.dll exports" test "$(exported_names x86_64-w64-mingw32-objdump "$win/adcard.dll")" = \
    "ADResult AdcardSimulated GetLastADError Initial QueryBuf StartIntr StopIntr Zqd_DI Zqd_DO "
fi

# The Windows program sits in a folder with a non-ASCII name, beside its card library.
app="$work/采集 程序"
mkdir -p "$app" "$work/linux"
cp "$win/zqd4830-cli.exe" "$win/adcard.dll" "$app/"
wapp=$("${wine[@]}" winepath -w "$app" 2>/dev/null | tr -d '\r')
run_win() { "${wine[@]}" "$app/zqd4830-cli.exe" "$@"; }

sim=(env ADCARD_SIM_SPEED=10 ADCARD_SIM_START=2008-05-12T17:38:40.300000000)
check "record under wine" "${sim[@]}" "${wine[@]}" "$app/zqd4830-cli.exe" record --tick-ms 20 >"$work/win-record.txt"
check "record on Linux" "${sim[@]}" "$lin/zqd4830-cli" record --tick-ms 20 --dir "$work/linux" >"$work/linux-record.txt"
check "T1.DAT byte-identical" cmp "$app/T1.DAT" "$work/linux/T1.DAT"
check "T1.DAT size" test "$(stat -c %s "$app/T1.DAT")" = 92160384

check "decode under wine" run_win decode >"$work/win-decode.txt"
check "decode on Linux" "$lin/zqd4830-cli" decode "$work/linux/T1.DAT" >"$work/linux-decode.txt"
check "decode output identical" cmp "$work/win-decode.txt" "$work/linux-decode.txt"
check "decode lists 20 blocks" test "$(grep -c ':300000000' "$work/win-decode.txt")" = 20

check "export under wine" run_win export --from 17:38:43 --to 17:38:45 --channel 0
check "export under wine, non-ASCII path" run_win export --from 17:38:44 --to 17:38:46.5 --channel 2 \
  --out "$wapp\\导出.csv" "$wapp\\T1.DAT"
check "export on Linux" "$lin/zqd4830-cli" export --from 17:38:43 --to 17:38:45 --channel 0 \
  --out "$work/linux/T2.csv" "$work/linux/T1.DAT"
check "export on Linux, second range" "$lin/zqd4830-cli" export --from 17:38:44 --to 17:38:46.5 --channel 2 \
  --out "$work/linux/second.csv" "$work/linux/T1.DAT"
check "T2.csv byte-identical" cmp "$app/T2.csv" "$work/linux/T2.csv"
check "second export byte-identical" cmp "$app/导出.csv" "$work/linux/second.csv"

if [ -n "$mseed_source" ]; then
check "acquire under wine" "${sim[@]}" "${wine[@]}" "$app/zqd4830-cli.exe" acquire --archive "$wapp\\存档" \
  --duration 20 --poll-ms 50 >"$work/win-acquire.txt"
check "acquire on Linux" "${sim[@]}" "$lin/zqd4830-cli" acquire --archive "$work/linux/archive" --duration 20 \
  --poll-ms 50 >"$work/linux-acquire.txt"
check "archive of 27 day files (17 channels, the clock's 3, the receiver's 7)" test "$(find "$app/存档" -type f | wc -l)" = 27
check "archive byte-identical" diff -r "$app/存档" "$work/linux/archive"
check "stationxml under wine" "${wine[@]}" "$app/zqd4830-cli.exe" stationxml --archive "$wapp\\存档" --out "$wapp\\台站.xml"
check "stationxml on Linux" "$lin/zqd4830-cli" stationxml --archive "$work/linux/archive" --out "$work/linux/station.xml"
check "StationXML valid against the FDSN schema" xmllint --noout --schema "$root/tests/stationxml/fdsn-station-1.2.xsd" "$app/台站.xml"
check "StationXML identical but for its time of writing" \
  diff <(grep -v '<Created>' "$app/台站.xml") <(grep -v '<Created>' "$work/linux/station.xml")

# Live data under wine: a SeedLink client (bash's /dev/tcp) gets HELLO and
# the first record of a fresh ring.
seedlink_client() {  # seedlink_client PORT: waits for the server, asks, checks
  local port=$1 hello="" packet=""
  for _ in $(seq 1 60); do
    if { exec 3<>"/dev/tcp/127.0.0.1/$port"; } 2>/dev/null; then break; fi
    sleep 1
  done
  printf 'HELLO\r\n' >&3
  IFS= read -r -t 20 hello <&3 || true
  IFS= read -r -t 5 _ <&3 || true
  printf 'STATION ZQD01 XX\r\nDATA 000000\r\nEND\r\n' >&3
  packet=$(timeout 40 head -c 528 <&3 | tail -c +9 | head -c 8 || true)
  exec 3<&-
  echo "HELLO: $hello; first packet: $packet"
  [[ "$hello" == "SeedLink v3.1 (ZQD4830_GPS "* ]] && [ "$packet" = "SL000000" ]
}
"${sim[@]}" "${wine[@]}" "$app/zqd4830-cli.exe" acquire --archive "$wapp\\实时" --duration 300 --poll-ms 50 \
  --seedlink 127.0.0.1:18731 >"$work/win-seedlink.txt" 2>&1 &
acquire_pid=$!
check "SeedLink under wine: HELLO and the first record" seedlink_client 18731
check "acquire --seedlink under wine ends well" wait "$acquire_pid"
fi

# The windows, driven as a user would (clicks, typing, reading the labels
# back) on a virtual screen: the same files and texts as on Linux.
if [ -f "$win/zqd4830-gps.exe" ]; then
  display=":$((100 + RANDOM % 800))"
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY="$display"
  sleep 2
  gui="$work/窗口 程序"
  drive="$work/drive"
  mkdir -p "$gui" "$drive"
  cp "$win/zqd4830-gps.exe" "$win/adcard.dll" "$gui/"
  wdrive=$("${wine[@]}" winepath -w "$drive" 2>/dev/null | tr -d '\r')
  wgui=$("${wine[@]}" winepath -w "$gui" 2>/dev/null | tr -d '\r')
  drive_windows() { timeout 400 "${wine[@]}" "$win/zqd_win32_drive.exe" "$@"; }
  ended() {  # ended PID: the program ended well within a minute (else it is killed)
    for _ in $(seq 1 60); do
      if ! kill -0 "$1" 2>/dev/null; then wait "$1"; return; fi
      sleep 1
    done
    kill "$1" 2>/dev/null
    return 1
  }
  check "the program's --version under wine" test "$(timeout 60 "${wine[@]}" "$gui/zqd4830-gps.exe" --version | tr -d '\r')" = \
    "$("$lin/zqd4830-cli" --version | sed 's/zqd4830-cli/zqd4830-gps/')"

  env ADCARD_SIM_SPEED=4 ADCARD_SIM_START=2008-05-12T17:38:40.300000000 "${wine[@]}" "$gui/zqd4830-gps.exe" &
  gui_pid=$!
  check "main window: record 20 blocks, 打开文件, 查询, 导出, 退出, driven" drive_windows main "$wdrive"
  check "main window gone after 退出" ended "$gui_pid"
  check "main window's T1.DAT byte-identical to Linux's" cmp "$gui/T1.DAT" "$work/linux/T1.DAT"
  check "main window's 打开文件 listing identical to Linux's" cmp "$drive/main-open.txt" "$work/linux-decode.txt"
  check "main window's T2.csv byte-identical to Linux's" cmp "$gui/T2.csv" "$work/linux/T2.csv"

  monsim=(env ADCARD_SIM_SPEED=0.5 ADCARD_SIM_START=2008-05-12T17:38:40.300000000)
  "${monsim[@]}" "$lin/zqd4830-cli" monitor --ticks 150 >"$work/linux-monitor.txt" &
  linux_monitor=$!
  "${monsim[@]}" "${wine[@]}" "$gui/zqd4830-gps.exe" --monitor &
  gui_pid=$!
  check "monitor: start, ticks, stop, output A5 read back, driven" drive_windows monitor "$wdrive"
  check "monitor gone after 退出" ended "$gui_pid"
  check "Linux monitor ran" ended "$linux_monitor"
  shown=$(cut -f1-6 "$drive/monitor-stopped.txt")
  check "monitor's read-outs as Linux shows them at the same count ($shown)" \
    grep -qxF "$shown" <(cut -f1-6 "$work/linux-monitor.txt")

  if [ -n "$mseed_source" ]; then
    "${sim[@]}" "${wine[@]}" "$gui/zqd4830-gps.exe" --archive &
    gui_pid=$!
    check "archive window: start, stop, close, driven" drive_windows archive "$wdrive" "$wgui\\窗口存档"
    check "archive window gone" ended "$gui_pid"
    same=0
    while IFS= read -r f; do
      if cmp -s -n 512 "$gui/窗口存档/$f" "$work/linux/archive/$f"; then same=$((same + 1)); fi
    done < <(cd "$work/linux/archive" && find . -type f -path '*/GY?.D/*')
    # The health channels' records are written at the stop or every ten minutes: longer in the longer run.
    check "archive window's data day files begin as the command line's ($same of 17)" test "$same" = 17
    check "archive window wrote 27 day files" test "$(find "$gui/窗口存档" -type f | wc -l)" = 27
  fi

  mkdir -p "build/$win_preset/screenshots"
  for s in main monitor archive; do
    if [ -f "$drive/$s-window.bmp" ]; then
      check "picture of the $s window" python3 scripts/bmp2png.py "$drive/$s-window.bmp" "build/$win_preset/screenshots/$s-window.png"
    fi
  done
  kill "$xvfb_pid" 2>/dev/null || true
  unset DISPLAY
fi

check "monitor under wine" run_win monitor --ticks 5 >"$work/win-monitor.txt"
check "monitor printed its read-outs" test -s "$work/win-monitor.txt"
check "output under wine" run_win output --group 1 --value ff
set +e
run_win output --group -1 --value ff 2>/dev/null
status=$?
set -e
check "refused output exits 2" test "$status" = 2

if [ "$mode" = 32 ]; then
  # A header that promises 360 million samples (a 46 GB sparse file): more
  # than a 32-bit program can hold, refused before anything is read.
  big="$app/big.DAT"
  printf '\x14\x00' >"$big"
  truncate -s 128 "$big"
  printf '\x40\x42\x0f\x00' >>"$big"
  truncate -s $(((360000001 + 2) * 128)) "$big"
  set +e
  run_win decode "$wapp\\big.DAT" 2>"$work/big.err" >/dev/null
  status=$?
  set -e
  check "32-bit build refuses a record beyond its memory" test "$status" = 2
  check "and says why" grep -q "32 位" "$work/big.err"
  rm -f "$big"
fi

# The Windows zip of the 32-bit build: the program, the simulated card in sim/,
# the note on where the maker's adcard.dll goes, and no adcard.dll at the top.
(cd build/win32 && cpack -G ZIP >/dev/null)
zip=$(ls build/win32/zqd4830-gps-*-win32.zip | head -n 1)
listing=$(cmake -E tar tf "$zip")
check "zip holds zqd4830-cli.exe" grep -qx "zqd4830-cli.exe" <<<"$listing"
check "zip holds zqd4830-gps.exe" grep -qx "zqd4830-gps.exe" <<<"$listing"
check "zip has no window driver" test -z "$(grep "drive" <<<"$listing")"
check "zip holds sim/adcard.dll" grep -qx "sim/adcard.dll" <<<"$listing"
check "zip holds README.txt" grep -qx "README.txt" <<<"$listing"
check "zip has no adcard.dll beside the program" test -z "$(grep -x "adcard.dll" <<<"$listing")"

finish=$(date +%s)
echo "mode: $mode-bit Windows under ${wine[*]}; build $((built - start_time)) s, checks $((finish - built)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
