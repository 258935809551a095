#!/usr/bin/env bash
# The checks too heavy for the time of CI: GNSS-SDR navigating one four-system wideband
# recording (some 20 minutes of two cores, 7 GB of samples in the temporary folder).
# Run after scripts/test.sh, which builds them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TRAJIX_BUILD_DIR:-$root/build}"
TRAJIX_HEAVY_CHECKS=1 ctest --test-dir "$build" --output-on-failure --timeout 3600 -R GnssSdrFourSystems
