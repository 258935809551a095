#!/usr/bin/env bash
# Writes the same matrix of NMEA files with the sky (the test routes and the 50 km
# route of bench_route_sky, rates of 1 to 50 Hz, masks of 0, 5 and 20 degrees, every
# sky file of the tests with GPS alone, each other system alone and mixed sets, and a
# motion script) with two builds of trajix, and tells whether every file is the same:
# the check that a change to the sky's speed changed no byte.
#
#   bench/compare_sky_files.sh OLD_TRAJIX NEW_TRAJIX [WORK_DIR]
#
# bench_route_sky must have run once (it writes the 50 km route's KML to the temporary
# folder); without it the 50 km rows are left out. Writes about 1 GB under WORK_DIR.
set -u
if [[ $# -lt 2 ]]; then
  echo "usage: $0 OLD_TRAJIX NEW_TRAJIX [WORK_DIR]" >&2
  exit 2
fi
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/data" && pwd)
work=${3:-$(mktemp -d)}
mkdir -p "$work"
kml50=${TMPDIR:-/tmp}/trajix-bench-sky-50km.kml

# write TRAJIX OUTDIR: the matrix, one md5 line per file.
write() {
bin=$1; out=$2; mkdir -p "$out"
routes=("$src/route/corner.kml" "$src/route/straight.kml" "$src/route/equator.kml")
[[ -f $kml50 ]] && routes+=("$kml50")
declare -A date start
date[brdc]=2010-07-01; start[brdc]=3600
declare -A sky=( [brdc]=$src/sky/brdc1820_0000-0400.10n [vill]=$src/sky/VILL00ESP_R_20181700000_0930-1230_MN.rnx
  [esbc]=$src/sky/ESBC00DNK_R_20201770000_1130-1230_MN.rnx [kms]=$src/sky/KMS300DNK_R_20221591000_01H_MN_cut.rnx
  [ge]=$src/signal/VILL00ESP_R_20181700000_0300-1100_GE.rnx )
date[vill]=2018-06-19; start[vill]=37800
date[esbc]=2020-06-25; start[esbc]=42000
date[kms]=2022-06-08; start[kms]=36300
date[ge]=2018-06-19; start[ge]=25200
n=0
for route in "${routes[@]}"; do
  for s in brdc vill esbc kms ge; do
    case $s in
      brdc) sets="gps" ;;
      ge) sets="gps galileo gps,galileo" ;;
      *) sets="gps gps,galileo,beidou,glonass glonass beidou galileo,glonass" ;;
    esac
    for systems in $sets; do
      for rate in 1 10 20 50; do
        [[ $route == $kml50 && $rate != 20 && $rate != 1 ]] && continue
        for mask in 5 0 20; do
          [[ $mask != 5 && $rate != 10 ]] && continue
          name=$(basename $route .kml)_${s}_${systems//,/+}_${rate}hz_m$mask.nmea
          "$bin" route "$route" -o "$out/$name" --rate $rate --rmc --vtg --zda --sky "${sky[$s]}" --systems $systems \
            --mask $mask --date ${date[$s]} --start-time ${start[$s]} >/dev/null 2>"$out/$name.err" || echo "FAIL $name $(head -c 300 $out/$name.err)"
          n=$((n+1))
        done
      done
    done
  done
done
# A script with the sky.
for s in vill esbc kms; do
  sed "1s/.*/Time=${start[$s]}/" $src/script/drive.txt > "$out/turns_$s.txt"
  for systems in gps gps,galileo,beidou,glonass glonass; do
    for rate in 5 20; do
      name=script_turns_${s}_${systems//,/+}_${rate}hz.nmea
      "$bin" script "$out/turns_$s.txt" -o "$out/$name" --rate $rate --rmc --sky "${sky[$s]}" --systems $systems \
        --date ${date[$s]} >/dev/null 2>"$out/$name.err" || echo "FAIL $name $(head -c 300 $out/$name.err)"
    done
  done
done
(cd "$out" && md5sum *.nmea)
}

write "$1" "$work/old" >"$work/old.md5" 2>&1
write "$2" "$work/new" >"$work/new.md5" 2>&1
if grep -q FAIL "$work/old.md5" "$work/new.md5"; then
  grep FAIL "$work/old.md5" "$work/new.md5" >&2
  exit 1
fi
if cmp -s "$work/old.md5" "$work/new.md5"; then
  echo "$(wc -l <"$work/new.md5") files, every one the same"
else
  diff "$work/old.md5" "$work/new.md5" >&2
  exit 1
fi
