#!/usr/bin/env bash
# Builds every benchmark under bench/ in release mode in its own build directory, runs
# each benchmark in its own process (so that peak memory belongs to that benchmark
# alone) and prints one table: each figure beside its reference from the same run.
#
#   bench/report.sh [build-dir]      (default: <source>/build-bench-report)
#
# TRAJIX_BENCH_TIMER_SECONDS shortens the replay timer runs (default here 20 s each).
# TRAJIX_BENCH_REPLAY_EPOCHS sets the 20 Hz receiver log played by trajix replay and
# gpsfake side by side (default 1200 fixes, 60 s at 1x; 0.1x plays
# TRAJIX_BENCH_REPLAY_SLOW_EPOCHS fixes, default 120, as 1200 would take 600 s there);
# TRAJIX_BENCH_REPLAY=0 leaves that comparison out.
# TRAJIX_BENCH_SOAK_SECONDS=600 adds a live run at real time of that length (bench/live_soak.py).
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-$source_dir/build-bench-report}
jobs=${TRAJIX_BENCH_JOBS:-2}
export TRAJIX_BENCH_TIMER_SECONDS=${TRAJIX_BENCH_TIMER_SECONDS:-20}
# The recordings of the copy benchmarks (up to 2 GiB, and a copy of each) go here.
export TRAJIX_BENCH_DIR=${TRAJIX_BENCH_DIR:-$build_dir}

cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRAJIX_BUILD_GUI=OFF \
    -DTRAJIX_BUILD_BENCH=ON "-DTRAJIX_MODULES=replay;route;script;convert;scenario" >/dev/null
programs=()
for source in "$source_dir"/bench/bench_*.cpp; do programs+=("$(basename "$source" .cpp)"); done
cmake --build "$build_dir" -j "$jobs" --target "${programs[@]}" trajix >/dev/null

results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
# Wall-clock figures mean little on a busy machine: the load is printed beside them.
export TRAJIX_BENCH_LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
for program in "${programs[@]}"; do
    binary="$build_dir/bench/$program"
    [[ -x $binary ]] || continue
    # One process per benchmark: getrusage's peak then measures that benchmark only.
    "$binary" --benchmark_list_tests | sed 's|/.*||' | sort -u | while read -r name; do
        "$binary" --benchmark_filter="^$name(/|\$)" --benchmark_format=json \
            --benchmark_out="$results/$program.$name.json" --benchmark_out_format=json >/dev/null 2>&1 ||
            echo "warning: $program $name failed" >&2
    done
done

# Receiver-log replay through a pty and TCP, and gpsfake on the same file.
if [[ ${TRAJIX_BENCH_REPLAY:-1} != 0 ]] && command -v gpsfake >/dev/null; then
    python3 "$source_dir/bench/replay_epochs.py" "$build_dir/cli/trajix" "${TRAJIX_BENCH_REPLAY_EPOCHS:-1200}" \
        "${TRAJIX_BENCH_REPLAY_SLOW_EPOCHS:-120}" >"$results/replay_epochs.jsonl" ||
        echo "warning: replay_epochs failed" >&2
fi

# A long live run at real time (10 minutes when asked for with 600).
if [[ ${TRAJIX_BENCH_SOAK_SECONDS:-0} != 0 ]]; then
    cmake --build "$build_dir" -j "$jobs" --target TrajixBinary >/dev/null
    python3 "$source_dir/bench/live_soak.py" "$build_dir" "$TRAJIX_BENCH_SOAK_SECONDS" >"$results/live_soak.jsonl" ||
        echo "warning: live_soak failed" >&2
fi

export TRAJIX_BENCH_LOAD_AFTER=$(cut -d' ' -f1-3 /proc/loadavg)
python3 - "$results" <<'EOF'
import glob, json, os, sys

runs = {}
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.json"))):
    with open(path) as f:
        for b in json.load(f).get("benchmarks", []):
            if b.get("run_type", "iteration") != "iteration":
                continue
            runs[b["name"]] = b

def ms(b, clock="real_time"):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
    return b[clock] * scale

# Computing figures in processor time, which a busy machine disturbs least; copying
# (DSF to BIN beside cp, which runs in a child process) and timers in wall-clock time.
def cpu(b):
    return ms(b, "cpu_time")

rows = []
def row(what, figure, reference, ratio):
    rows.append((what, figure, reference, ratio))

def find(prefix):
    return next((n for n in runs if n == prefix or n.startswith(prefix + "/")), None)

def pair(label, fast, plain, detail=""):
    fast, plain = find(fast), find(plain)
    if fast and plain:
        f, p = cpu(runs[fast]), cpu(runs[plain])
        same = all(runs[fast].get(k) == runs[plain].get(k) for k in ("grid_points", "found"))
        row(label, f"{f:.3f} ms{detail}", f"step by step {p:.1f} ms", f"{p / f:.0f}x faster" + ("" if same else " (!)"))

# The peak-acceleration search, fast against step by step.
for name, label in [("BM_ScriptUnachievableSpeedChange", "search: 0-100 km/h in 1 s, 0.1 g/s (fails)"),
                    ("BM_ScriptPeakSearch0To100In10s", "search: 0-100 km/h in 10 s, 1 g/s"),
                    ("BM_ScriptPeakSearch20To80In7s5", "search: 20-80 km/h in 7.5 s, 0.5 g/s"),
                    ("BM_ScriptPeakSearchBrake100In60m", "search: 100-0 km/h in 60 m, 0.5 g/s")]:
    pair(label, name + "/0", name + "/1")

# The slowest single search of a sweep over speeds up to the fastest a script accepts.
b = runs.get("BM_ScriptPeakSearchSweep/iterations:1")
if b:
    row(f"search: slowest of {b['searches']:.0f} changes up to 100000 km/h", f"{b['worst_ms']:.1f} ms",
        "bound 50 ms", f"{b['worst_ms'] / 50:.2f} of bound ({b.get('label', '')})")

# Routes: time against the driven time, peak memory against the NMEA written.
for name, label in [("BM_Route50km/iterations:3", "route 50 km (0.1 m path)"),
                    ("BM_Route600km/iterations:1", "route 600 km (1.0 m path)")]:
    b = runs.get(name)
    if not b:
        continue
    driven = b.get("samples", 0) * 0.05  # samples of the default 20 Hz output
    t = cpu(b)
    row(label + " time", f"{t / 1000:.2f} s", f"driven {driven / 3600:.1f} h", f"{driven / (t / 1000):.0f}x real time")
    row(label + " peak memory", f"{b['peak_rss_MiB']:.0f} MiB", f"NMEA {b['nmea_MiB']:.0f} MiB",
        f"{b['peak_rss_MiB'] / b['nmea_MiB']:.2f}x output")

# Reading a 200,000-point track: GPX and KMZ against the same points as KML.
kml = next((b for n, b in runs.items() if n.startswith("BM_ReadTrackFile/0")), None)
for arg, kind in (("1", "GPX"), ("2", "KMZ")):
    b = next((b for n, b in runs.items() if n.startswith(f"BM_ReadTrackFile/{arg}")), None)
    if kml and b:
        row(f"read 200k-point track as {kind} ({b['file_MiB']:.0f} MiB)", f"{cpu(b):.0f} ms",
            f"KML {cpu(kml):.0f} ms ({kml['file_MiB']:.0f} MiB)", f"{cpu(b) / cpu(kml):.2f}x KML")

# The lateral limit check: the same 50 km route with and without it.
checked, unchecked = runs.get("BM_Route50km/iterations:3"), runs.get("BM_Route50kmWithoutLimitCheck/iterations:3")
if checked and unchecked:
    c, u = cpu(checked), cpu(unchecked)
    row("route 50 km with the lateral limit check", f"{c / 1000:.3f} s, {checked['corners']:.0f} corners",
        f"without {u / 1000:.3f} s, {unchecked['corners']:.0f} corners", f"{(c / u - 1) * 100:+.1f} %")

# The street: reading buildings (goal: 100,000 in under 2 s) and one satellite's lookups.
b = runs.get("BM_StreetReadSharedCity/iterations:3")
if b:
    row(f"street: read Lower Manhattan OSM ({b['file_MiB']:.1f} MiB)", f"{cpu(b):.0f} ms",
        f"{b['buildings']:.0f} buildings, {b['walls']:.0f} walls", f"peak {b['peak_rss_MiB']:.0f} MiB")
b = runs.get("BM_StreetReadGenerated/iterations:1")
if b:
    row(f"street: read {b['buildings']:.0f} generated buildings (GeoJSON {b['file_MiB']:.0f} MiB)",
        f"{cpu(b) / 1000:.2f} s", "bound 2 s", f"peak {b['peak_rss_MiB']:.0f} MiB")
direct, whole = find("BM_StreetDirectPath"), find("BM_StreetSatellite")
if direct and whole:
    d, w = runs[direct], runs[whole]
    row("street: one satellite among the towers", f"{cpu(w) * 1000:.1f} us with reflections",
        f"direct path alone {cpu(d) * 1000:.1f} us", f"{w['reflected_share'] * 100:.0f} % reflected")

# The one-hour script.
for name, b in runs.items():
    if name.startswith("BM_ScriptOneHourAt20Hz"):
        t = cpu(b)
        row("script one hour at 20 Hz time", f"{t / 1000:.2f} s", f"script {b['script_s'] / 3600:.2f} h",
            f"{b['script_s'] / (t / 1000):.0f}x real time")
        row("script one hour peak memory", f"{b['peak_rss_MiB']:.0f} MiB", f"step arrays {b['arrays_MiB']:.0f} MiB",
            f"{b['peak_rss_MiB'] / max(b['arrays_MiB'], 1e-9):.2f}x arrays")

# DSF to BIN and the dropout copy against cp of the same file to a new file, the fastest
# of the repetitions of each, wall-clock and processor time (cp's counted in its child).
for bench, label in (("BM_ConvertDsf", "DSF to BIN"), ("BM_CreateDropouts", "dropout copy")):
    for size in (500, 2048):
        for warm, cache in ((1, "warm"), (0, "cold")):
            b = next((b for n, b in runs.items() if n.startswith(f"{bench}/{size}/{warm}")), None)
            if not b:
                continue
            what = f"{label} {size} MiB, cache {cache}"
            row(what + " wall", f"{b['wall_ms']:.0f} ms", f"cp {b['cp_wall_ms']:.0f} ms",
                f"{b['wall_ms'] / b['cp_wall_ms']:.2f}x cp")
            row(what + " cpu", f"{b['cpu_ms']:.0f} ms", f"cp {b['cp_cpu_ms']:.0f} ms",
                f"{b['cpu_ms'] / b['cp_cpu_ms']:.2f}x cp")
            row(what + " max RSS growth", f"{b['maxRSS_growth_MiB']:.1f} MiB", f"file {size} MiB",
                f"{b['maxRSS_growth_MiB'] / size:.4f}x file")

# The L1 C/A signal generator against real time (wall clock: it runs on every core),
# beside the plain scalar loops on one thread; its memory against the duration.
formats = {0: "one-bit 16368 kHz", 1: "8-bit I/Q 2600 kHz", 2: "16-bit I/Q 4000 kHz"}
for name, b in sorted(runs.items()):
    if name.startswith("BM_SignalGenerator/"):
        plain = next((p for p in runs.values() if p.get("reference_loops") == 1 and p.get("format") == b["format"]
                      and p.get("signal_s") == b["signal_s"] and p is not b), None)
        loops = "scalar loops" if b["reference_loops"] else "vector loops"
        label = (f"L1 C/A signal {formats.get(int(b['format']), '?')}, {b['satellites']:.0f} satellites, "
                 f"{b['signal_s']:.0f} s, {b['threads']:.0f} thread(s), {loops}")
        reference = f"scalar, 1 thread {plain['signal_s_per_wall_s']:.1f}x" if plain else "real time 1x"
        row(label + " speed", f"{b['signal_s_per_wall_s']:.1f}x real time", reference,
            f"{b['signal_s_per_wall_s'] / plain['signal_s_per_wall_s']:.1f}x scalar" if plain else "-")
        row(label + " processor time", f"{b['cpu_s_per_signal_s'] * 1000:.0f} ms per signal s", "-", "-")
        row(label + " peak memory", f"{b['peak_rss_MiB']:.0f} MiB", "-", "-")

# GPS with Galileo beside GPS alone at 4092 kHz 8-bit I/Q (goal 20x real time), and its
# memory at two durations.
for name, b in sorted(runs.items()):
    if name.startswith("BM_SignalSystems/systems:1/"):
        gps = next((p for p in runs.values() if p.get("systems") == 0 and p.get("signal_s") == b["signal_s"]), None)
        label = f"GPS+Galileo 4092 kHz 8-bit I/Q, {b['satellites']:.0f} satellites, {b['signal_s']:.0f} s"
        reference = (f"GPS alone {gps['satellites']:.0f} satellites {gps['signal_s_per_wall_s']:.1f}x"
                     if gps else "goal 20x")
        row(label + " speed", f"{b['signal_s_per_wall_s']:.1f}x real time", reference,
            f"goal 20x, load {b['load_1min']:.1f}")
        reference = f"GPS alone {gps['signal_s_per_idle_cores_s']:.1f}x" if gps else "goal 20x"
        row(label + " speed on idle cores", f"{b['signal_s_per_idle_cores_s']:.1f}x real time", reference, "goal 20x")
        short = next((p for p in runs.values() if p.get("systems") == 1 and p.get("signal_s") == 10), None)
        row(label + " peak memory growth", f"{b['run_peak_growth_MiB']:.1f} MiB",
            f"GPS alone {gps['run_peak_growth_MiB']:.1f} MiB" if gps else "-",
            f"10 s: {short['run_peak_growth_MiB']:.1f} MiB" if short and short is not b else "-")

# What the sky adds to writing a 50 km route at 20 Hz: against the same route without it.
plain = runs.get("BM_Route50kmWrite/iterations:3")
for name, label in [("BM_Route50kmWriteSkyRinex/iterations:3", "GPS sky (RINEX 2)"),
                    ("BM_Route50kmWriteSkyMixedGps/iterations:3", "GPS sky (mixed file)"),
                    ("BM_Route50kmWriteSkyFourSystems/iterations:3", "four-system sky")]:
    b = runs.get(name)
    if plain and b:
        row(f"route 50 km at 20 Hz written with the {label}", f"{cpu(b):.0f} ms", f"no sky {cpu(plain):.0f} ms",
            f"{(cpu(b) / cpu(plain) - 1) * 100:+.0f} % (goal under +50 %)")

# The replay timer: lateness and drift against the tick period.
for rate in (200, 20):
    b = next((b for n, b in runs.items() if n.startswith(f"BM_ReplayTimer/{rate}/")), None)
    if not b:
        continue
    period = 1e6 / rate
    row(f"replay {rate} Hz lateness p99", f"{b['late_p99_us']:.0f} us", f"period {period:.0f} us",
        f"{b['late_p99_us'] / period:.3f} period")
    row(f"replay {rate} Hz drift trend", f"{b.get('drift_trend_us', b['drift_last_us']):.0f} us",
        f"period {period:.0f} us", f"{b.get('drift_trend_us', b['drift_last_us']) / period:.3f} period")

# Receiver-log replay: trajix beside gpsfake, the same file and speed.
epoch_runs = []
if os.path.exists(os.path.join(sys.argv[1], "replay_epochs.jsonl")):
    with open(os.path.join(sys.argv[1], "replay_epochs.jsonl")) as f:
        epoch_runs = [json.loads(l) for l in f if l.strip()]
for speed in (1.0, 10.0, 0.1):
    fake = next((r for r in epoch_runs if r["who"] == "gpsfake" and r["speed"] == speed), None)
    for r in (r for r in epoch_runs if r["who"] != "gpsfake" and r["speed"] == speed):
        label = f"20 Hz log {r['epochs']} fixes at {speed:g}x, {r['who']}"
        ref = lambda key: f"gpsfake {fake[key]:+.1f} ms" if fake else "gpsfake -"
        row(label + " total error", f"{r['total_error_ms']:+.2f} ms", ref("total_error_ms"),
            f"{abs(r['total_error_ms']) / r['period_ms']:.3f} period")
        row(label + " p99 late", f"{r['p99_late_ms']:.2f} ms", ref("p99_late_ms"),
            f"{r['p99_late_ms'] / r['period_ms']:.3f} period, load {r.get('load1', float('nan')):.1f}")

# TCP readers of one replay: the most served on time (every fix, p99 and the last fix
# under one period) at each speed, beside the goal, with the load the run saw.
for speed, goal in ((1, 1000), (10, 500)):
    served = [b for n, b in runs.items() if n.startswith(f"BM_ReplayReaders/{speed}/")]
    if not served:
        continue
    best = max((b for b in served if b.get("on_time") == 1), key=lambda b: b["readers"], default=None)
    worst_load = max(b.get("load1", 0) for b in served)
    if best:
        row(f"replay TCP readers served on time at {speed}x", f"{best['readers']:.0f} readers",
            f"goal {goal}", f"p99 {best['p99_late_ms']:.2f} ms of {best['period_ms']:.0f} ms, load up to {worst_load:.1f}")
    else:
        row(f"replay TCP readers served on time at {speed}x", "none of those tried", f"goal {goal}",
            f"load up to {worst_load:.1f}")
    for b in sorted(served, key=lambda b: b["readers"]):
        row(f"  {b['readers']:.0f} readers at {speed}x", f"p99 {b['p99_late_ms']:.2f} ms, last {b['last_late_ms']:.2f} ms",
            f"period {b['period_ms']:.0f} ms", f"missing {b['missing']:.0f}, server cpu {b['server_cpu_s']:.2f} s, load {b['load1']:.1f}")

# The long live run: moments behind real time against none, memory at the start and end.
if os.path.exists(os.path.join(sys.argv[1], "live_soak.jsonl")):
    with open(os.path.join(sys.argv[1], "live_soak.jsonl")) as f:
        for soak in (json.loads(l) for l in f if l.strip()):
            rss = soak["rss_kib"]
            row(f"live {soak['format']} at real time for {soak['seconds']:.0f} s", f"{soak['behind_notes']} moments behind",
                "none", f"rate {soak['rate_ratio']}x, cpu {soak['cpu_share']:.3f}")
            if rss:
                row(f"live {soak['format']} memory", f"{rss[-1] / 1024:.1f} MiB at the end", f"{rss[0] / 1024:.1f} MiB at 10 s",
                    f"peak {max(rss) / 1024:.1f} MiB")

# Everything else, plain.
listed = {"BM_Script", "BM_Route", "BM_ReadTrackFile", "BM_ConvertDsf", "BM_CreateDropouts", "BM_ReplayTimer",
          "BM_SignalGenerator", "BM_SignalSystems", "BM_ReplayReaders"}
for name, b in sorted(runs.items()):
    if not any(name.startswith(p) for p in listed):
        row(name, f"{cpu(b):.4f} ms", "-", "-")

widths = [max(len(r[i]) for r in rows + [("figure", "value", "reference", "ratio")]) for i in range(4)]
line = lambda r: "| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |"
print("Search, route, script and the rest in processor time; replay in wall-clock time; DSF, dropout and cp in both.")
print(f"Load average (1, 5, 15 min) before the runs: {os.environ.get('TRAJIX_BENCH_LOAD_BEFORE', '-')}, "
      f"after: {os.environ.get('TRAJIX_BENCH_LOAD_AFTER', '-')}")
print(line(("figure", "value", "reference", "ratio")))
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for r in rows:
    print(line(r))
EOF
