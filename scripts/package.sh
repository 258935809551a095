#!/usr/bin/env bash
# Builds the Debian package trajix_VERSION_amd64.deb into the current folder (or
# $TRAJIX_PACKAGE_OUT): the programs, manual pages, desktop entry, icon, completion
# and the example route, installed under /usr.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(realpath "${TRAJIX_PACKAGE_OUT:-$PWD}")"
build="${TRAJIX_PACKAGE_DIR:-$root/build-package}"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
command -v ccache >/dev/null && generator+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF -DTRAJIX_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)" >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
package="$(ls -t "$build"/trajix_*_amd64.deb | head -1)"
cp "$package" "$out/"
echo "$out/$(basename "$package")"
