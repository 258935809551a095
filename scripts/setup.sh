#!/usr/bin/env bash
# Installs the Debian packages Trajix needs, in two sets:
#   scripts/setup.sh example        what building and running the programs needs
#   scripts/setup.sh [test]         that and everything any test calls, the slow tests,
#                                   sanitizers, fuzzers and package checks included
#   scripts/setup.sh --list SET     prints the packages of SET, one per line
# Idempotent: does nothing (and prints nothing) when all are present.
set -euo pipefail

example_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  qt6-charts-dev qt6-serialport-dev
  libfmt-dev libcli11-dev libzip-dev
  libgdal-dev libboost-dev
)
test_packages=(
  git ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  libgeographiclib-dev geographiclib-tools
  clang libclang-rt-14-dev llvm
  xvfb xauth x11-utils imagemagick fonts-dejavu-core
  socat python3
  gpsbabel gpsd gpsd-clients rtklib
  gnss-sdr faketime
  zip unzip
  file lintian desktop-file-utils man-db
)

packages_of() {
  case "$1" in
    example) printf '%s\n' "${example_packages[@]}" ;;
    test) printf '%s\n' "${example_packages[@]}" "${test_packages[@]}" ;;
    *) echo "setup: unknown set '$1' (example or test)" >&2; exit 2 ;;
  esac
}

if [[ "${1:-}" == "--list" ]]; then
  [[ $# -eq 2 ]] || { echo "usage: scripts/setup.sh --list example|test" >&2; exit 2; }
  packages_of "$2"
  exit 0
fi
[[ $# -le 1 ]] || { echo "usage: scripts/setup.sh [example|test] | --list example|test" >&2; exit 2; }

mapfile -t packages < <(packages_of "${1:-test}")
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
