#!/usr/bin/env bash
# Installs what is missing, builds, and drives the shipped example route: the loop in
# examples/loop.kml becomes the NMEA file examples/loop-out.txt (20 Hz, with VTG).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh" example
bash "$root/scripts/build.sh" programs
build="${TRAJIX_BUILD_DIR:-$root/build}"
output="$root/examples/loop-out.txt"
"$build/cli/trajix" route "$root/examples/loop.kml" -o "$output" --vtg
echo "NMEA file written to $output"
