#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on a shipped example.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
build="${TRAJIX_BUILD_DIR:-$root/build}"
"$build/cli/trajix" --help
