#!/usr/bin/env bash
# Starts trajix-gui under Xvfb once per tab and saves a PNG of the screen for each.
# Usage: scripts/screenshots.sh [BUILD_DIR] [OUT_DIR]
#   BUILD_DIR defaults to build, OUT_DIR to BUILD_DIR/screenshots.
# Set SIZES to the screen sizes to take (default "1280x800"), e.g. SIZES="1024x600 1920x1080";
# the window fills the screen and each file name ends in its size.
# Set SIMULATOR_FEATURES=1 to take them with the scenario controls enabled.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=${2:-$build/screenshots}
gui=$build/app/trajix-gui
[[ -x $gui ]] || { echo "screenshots: $gui not built" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "screenshots: xvfb-run missing (run scripts/setup.sh)" >&2; exit 1; }
command -v import >/dev/null || { echo "screenshots: ImageMagick import missing (run scripts/setup.sh)" >&2; exit 1; }
mkdir -p "$out"

# The screenshots use their own settings file and never reach for the network.
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
export TRAJIX_CONFIG=$config/trajix-gui.ini
export TRAJIX_ADVERT_URL=
extra=()
[[ ${SIMULATOR_FEATURES:-0} == 1 ]] && extra+=(--simulator-features)

names=(google_earth user_commands kelo dsf serial settings)
sizes=(${SIZES:-1280x800})
for size in "${sizes[@]}"; do
  suffix=
  [[ ${#sizes[@]} -gt 1 || -n ${SIZES:-} ]] && suffix=_$size
  for tab in "${!names[@]}"; do
    file=$out/tab${tab}_${names[$tab]}$suffix.png
    xvfb-run -a -s "-screen 0 ${size}x24" bash -c '
      "$1" --tab "$2" -qwindowgeometry "$4+0+0" "${@:5}" &
      pid=$!
      sleep 3
      import -window root "$3"
      kill "$pid"
      wait "$pid" 2>/dev/null || true
    ' screenshot "$gui" "$((tab + 1))" "$file" "$size" "${extra[@]}"
    echo "$file"
  done
done
