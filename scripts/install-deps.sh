#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# only those that are missing. Run as root, or with sudo available.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  libmseed-dev libtomlplusplus-dev libxxhash-dev libsamplerate0-dev libasio-dev libfftw3-dev mseed2sac sac2mseed libxml2-utils
  xvfb xauth fonts-noto-cjk help2man dpkg-dev
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
