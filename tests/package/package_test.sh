#!/usr/bin/env bash
# Builds the package, unpacks it into a throwaway root and runs the installed copy:
# trajix --version, the installed example route, and the scenario step with the
# installed generator. Then lintian, desktop-file-validate and man on what it holds.
set -euo pipefail
source_dir="$1"
work="$2"
almanac="$3"
rm -rf "$work"
mkdir -p "$work/out" "$work/root" "$work/home/GPStools"
fail() { echo "package test: $*" >&2; exit 1; }
for tool in dpkg-deb dpkg-shlibdeps file lintian desktop-file-validate man gzip; do
  command -v "$tool" >/dev/null || fail "$tool is missing: scripts/setup.sh installs it"
done

deb="$(TRAJIX_PACKAGE_OUT="$work/out" bash "$source_dir/scripts/package.sh" | tail -1)"
version="$(sed -nE 's/^project\(trajix VERSION ([0-9.]+).*/\1/p' "$source_dir/CMakeLists.txt")"
[[ "$(basename "$deb")" == "trajix_${version}_amd64.deb" ]] || fail "package named $(basename "$deb")"

dpkg -x "$deb" "$work/root"
bin="$work/root/usr/bin"
share="$work/root/usr/share"
for program in trajix trajix-gui TrajixBinary; do
  [[ -x "$bin/$program" ]] || fail "$program is not installed"
done

# The GNSS-SDR configurations for the one-bit and the I/Q recordings.
for configuration in gnss-sdr-gps-l1.conf gnss-sdr-gps-l1-iq8.conf gnss-sdr-gps-l1-iq16.conf \
    gnss-sdr-galileo-e1.conf gnss-sdr-gps-galileo.conf gnss-sdr-beidou-b1i.conf gnss-sdr-glonass-l1.conf \
    gnss-sdr-four-systems.conf gnss-sdr-gps-l1-iq8-street.conf; do
  [[ -s "$share/trajix/$configuration" ]] || fail "$configuration is not installed"
done

# One version everywhere: the command, the package and the window's title.
[[ "$("$bin/trajix" --version)" == "trajix $version" ]] || fail "trajix --version says $("$bin/trajix" --version)"
[[ "$(dpkg-deb -f "$deb" Version)" == "$version" ]] || fail "package version $(dpkg-deb -f "$deb" Version)"
[[ "$("$bin/TrajixBinary" --version)" == "TrajixBinary $version" ]] ||
  fail "TrajixBinary --version says $("$bin/TrajixBinary" --version)"
# The window prints its options and exits without a display.
"$bin/trajix-gui" --help | grep -q -- "--tab" || fail "trajix-gui --help shows no options"
# Read whole: grep -q stops at the first match, and a long help would meet a closed pipe.
generator_help="$("$bin/TrajixBinary" --help)"
grep -q -- "Profile key: Ephemeris_File" <<<"$generator_help" || fail "TrajixBinary --help shows no options"

# The installed example drives from the installed copy.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
"$bin/trajix" route "$share/trajix/examples/loop.kml" -o "$work/home/loop.txt" --vtg >/dev/null
grep -q '^\$GPGGA' "$work/home/loop.txt" || fail "the example route wrote no GGA"

# The scenario step runs the installed generator (go.sh finds it beside trajix).
cp "$almanac" "$work/home/almanac.alm"
PATH="$bin:/usr/bin:/bin" "$bin/trajix" scenario "$work/home/loop.txt" --almanac "$work/home/almanac.alm" \
    --yes --today 2025-06-01 </dev/null >/dev/null 2>"$work/scenario.err" || { cat "$work/scenario.err"; fail "scenario step failed"; }
recording="$work/home/loop.bin"
[[ -s "$recording" ]] || fail "the scenario step wrote no recording"
(( $(stat -c %s "$recording") % 2046000 == 0 )) || fail "the recording is not whole seconds"

# Debian's tools on the package and what it installs.
if lintian --no-tag-display-limit "$deb" >"$work/lintian.txt" 2>&1; then :; fi
if grep -E '^E: ' "$work/lintian.txt"; then fail "lintian reports errors"; fi
desktop-file-validate "$share/applications/trajix.desktop" || fail "desktop entry is not valid"
for page in trajix trajix-gui TrajixBinary; do
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$share/man/man1/$page.1.gz" 2>&1 >/dev/null)"
  [[ -z "$warnings" ]] || fail "man $page: $warnings"
done
bash -n "$share/bash-completion/completions/trajix" || fail "completion does not parse"
echo "package test: $(basename "$deb") installs and runs"
