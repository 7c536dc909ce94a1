#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# only those that are missing. Run as root, or with sudo available.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  libmseed-dev libtomlplusplus-dev libxxhash-dev libsamplerate0-dev libasio-dev libfftw3-dev mseed2sac sac2mseed libxml2-utils
  xvfb xauth fonts-noto-cjk help2man dpkg-dev locales
)
packages+=("$@")

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

# A locale that writes numbers with a decimal comma, for the tests that prove
# the program's numbers do not depend on the user's locale.
german_locale() {
  locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' && return 0
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  german_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
german_locale
