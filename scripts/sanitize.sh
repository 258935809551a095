#!/usr/bin/env bash
# Builds the core, CLI and their tests with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs the ordinary suite (the GUI is left to the ordinary build).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TRAJIX_ASAN_DIR:-$root/build-asan}"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
command -v ccache >/dev/null && generator+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
    -DTRAJIX_SANITIZE=ON -DTRAJIX_BUILD_GUI=OFF -DTRAJIX_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600 -LE slow
