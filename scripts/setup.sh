#!/usr/bin/env bash
# Installs every Debian package that building and testing Trajix needs.
# Idempotent: does nothing (and prints nothing) when all are present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  qt6-charts-dev qt6-serialport-dev
  libfmt-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev
  libgeographiclib-dev geographiclib-tools
  clang libclang-rt-14-dev llvm
  xvfb xauth x11-utils imagemagick fonts-dejavu-core
  socat python3
  gpsbabel gpsd gpsd-clients
  gnss-sdr faketime
  libzip-dev zip unzip
  ccache
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
