#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan on) and runs each
# for a bounded time: scripts/fuzz.sh [SECONDS_PER_TARGET] (default 30).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
build="${TRAJIX_FUZZ_DIR:-$root/build-fuzz}"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTRAJIX_FUZZ=ON -DTRAJIX_BUILD_GUI=OFF -DTRAJIX_BUILD_BENCH=OFF -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)" --target fuzzers >/dev/null
# One target per core at a time: each runs for the same bounded time.
run_target() {
  local target="$1" name module corpus seeds=()
  name="$(basename "$target")"
  module="$(echo "$name" | sed -E 's/^fuzz_([a-z]+)_.*/\1/')"
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  [[ -d "$root/fuzz/seeds/$name" ]] && seeds+=("$root/fuzz/seeds/$name")
  [[ -d "$root/tests/data/$module" ]] && seeds+=("$root/tests/data/$module")
  echo "fuzz: $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$build/crash-$name-" -print_final_stats=0 "$corpus" "${seeds[@]}" \
      >"$build/$name.log" 2>&1; then
    echo "fuzz: $name FAILED (see $build/$name.log)"; tail -40 "$build/$name.log"; return 1
  fi
}
status=0
jobs_at_once="$(nproc)"
running=0
for target in "$build"/fuzz/fuzz_*; do
  [[ -x "$target" && -f "$target" ]] || continue
  if (( running >= jobs_at_once )); then
    wait -n || status=1
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
while (( running > 0 )); do
  wait -n || status=1
  running=$((running - 1))
done
exit $status
