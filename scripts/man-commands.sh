#!/usr/bin/env bash
# Writes help2man's include file for zqd4830-cli: a section of the manual page
# with every command's own --help, so that `man zqd4830-cli` tells each
# command's options (stationxml's among them), not only their names.
# Usage: man-commands.sh ZQD4830_CLI OUTPUT
set -euo pipefail
cli=$1
out=$2
{
  echo "[COMMANDS]"
  # The commands as the program lists them, in its order.
  "$cli" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && /^  [a-z]/ { print $1 }' | while read -r cmd; do
    echo ".SS \"zqd4830-cli $cmd\""
    echo ".nf"
    # roff: backslashes doubled, a line's leading dot or quote made harmless.
    "$cli" "$cmd" --help | sed -e 's|^Usage: .*zqd4830-cli|Usage: zqd4830-cli|' -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"
    echo ".fi"
  done
} >"$out"
