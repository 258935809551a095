#!/usr/bin/env bash
# Configures and builds Trajix into build/ (or $TRAJIX_BUILD_DIR).
#   scripts/build.sh programs [CMAKE_ARGS...]   only the programs (trajix, trajix-gui, the generator)
#   scripts/build.sh [CMAKE_ARGS...]            the programs, the tests and the benchmarks
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TRAJIX_BUILD_DIR:-$root/build}"
everything=ON
if [[ "${1:-}" == "programs" ]]; then
  everything=OFF
  shift
fi
generator=()
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  command -v ninja >/dev/null && generator=(-G Ninja)
  # ccache, where present, lets a second checkout reuse the first one's objects.
  command -v ccache >/dev/null && generator+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  generator+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
# A tree first built for the programs alone gains the tests when it is built again whole.
cmake -S "$root" -B "$build" "${generator[@]}" -DBUILD_TESTING="$everything" -DTRAJIX_BUILD_BENCH="$everything" "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
