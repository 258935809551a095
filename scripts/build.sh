#!/usr/bin/env bash
# Configures and builds Trajix into build/ (or $TRAJIX_BUILD_DIR).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TRAJIX_BUILD_DIR:-$root/build}"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# ccache, where present, lets a second checkout reuse the first one's objects.
command -v ccache >/dev/null && generator+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)"
