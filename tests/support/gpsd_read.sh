#!/bin/sh
# Feeds an NMEA file to gpsd through a pseudo-terminal and prints gpsd's JSON reports
# on stdout. usage: gpsd_read.sh FILE FOLDER
# gpsd runs in the foreground of this script with its own control socket in FOLDER and
# a port of its own on the loopback interface; everything ends within about 30 s.
set -u
file=$1
dir=$2
pids=""
cleanup() { for p in $pids; do kill "$p" 2>/dev/null; done; }
trap cleanup EXIT INT TERM

timeout 30 socat pty,raw,echo=0,link="$dir/feed" pty,raw,echo=0,link="$dir/gps" &
pids="$pids $!"
i=0
while [ ! -e "$dir/feed" ] || [ ! -e "$dir/gps" ]; do
    i=$((i + 1)); [ $i -gt 50 ] && { echo "no pseudo-terminal" >&2; exit 1; }
    sleep 0.1
done
device=$(readlink -f "$dir/gps")

# A port of our own: gpsd ends at once when the port is taken, then the next is tried.
port=$((20000 + $$ % 20000))
tries=0
while :; do
    timeout 30 gpsd -N -n -F "$dir/control" -S "$port" "$device" 2>"$dir/gpsd.err" &
    gpsd_pid=$!
    sleep 1
    kill -0 "$gpsd_pid" 2>/dev/null && break
    tries=$((tries + 1)); [ $tries -ge 5 ] && { cat "$dir/gpsd.err" >&2; exit 1; }
    port=$((port + 7))
done
pids="$pids $gpsd_pid"

timeout 25 gpspipe -w "127.0.0.1:$port" >"$dir/reports.json" 2>"$dir/gpspipe.err" &
pipe_pid=$!
pids="$pids $pipe_pid"
# gpsd hunts for the line speed first and drops what arrived meanwhile: a neutral
# sentence is sent until gpsd has recognised NMEA, then the file at once.
i=0
until grep -q '"driver":"NMEA0183"' "$dir/reports.json"; do
    i=$((i + 1)); [ $i -gt 50 ] && { echo "gpsd did not recognise NMEA" >&2; exit 1; }
    printf '$GPTXT,01,01,02,gpsd check*0B\r\n' >"$dir/feed"
    sleep 0.2
done
sleep 1
cat "$file" >"$dir/feed"
# Wait until the reports stop growing (gpsd has read everything), at most 20 s.
last=-1
i=0
while [ $i -lt 40 ]; do
    sleep 0.5
    size=$(wc -c <"$dir/reports.json")
    [ "$size" -eq "$last" ] && [ "$size" -gt 0 ] && break
    last=$size
    i=$((i + 1))
done
cat "$dir/reports.json"
