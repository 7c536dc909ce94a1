#!/usr/bin/env bash
# Fetches libmseed's upstream source from the distribution's source package,
# for the Windows cross-builds, and prints the folder it unpacked to. Adds a
# deb-src entry for this machine's Debian suite if there is none. Fetching the
# Debian part of the package may fail; the upstream tarball is what is used.
set -euo pipefail
cd "$(dirname "$0")/.."
dest=build/libmseed-src
if [ -f "$dest/src/libmseed.h" ]; then
  echo "$(pwd)/$dest/src"
  exit 0
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  . /etc/os-release
  $sudo tee /etc/apt/sources.list.d/zqd4830-gps-src.sources >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: ${VERSION_CODENAME}
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  $sudo apt-get update -qq >&2
fi
mkdir -p "$dest"
(cd "$dest" && apt-get source --download-only libmseed >&2 2>&1) || true
tarball=$(ls "$dest"/libmseed_*.orig.tar.* 2>/dev/null | head -n 1)
if [ -z "$tarball" ]; then
  echo "libmseed's source could not be fetched" >&2
  exit 1
fi
rm -rf "$dest/src" "$dest/unpack"
mkdir -p "$dest/unpack"
tar -xf "$tarball" -C "$dest/unpack"
mv "$dest/unpack"/*/ "$dest/src"
rmdir "$dest/unpack"
echo "$(pwd)/$dest/src"
