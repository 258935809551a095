#!/usr/bin/env bash
# Installs what is missing, builds the programs and tests, and runs the ordinary suite
# (.ci/run adds the slow tests, the sanitizer build and the fuzzers).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh" test
bash "$root/scripts/build.sh"
build="${TRAJIX_BUILD_DIR:-$root/build}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 300 -LE slow
