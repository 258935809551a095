#!/usr/bin/env python3
"""A long live run at real time: a drive written by `trajix script`, served by
`trajix replay --tcp` on 127.0.0.1 and followed by `TrajixBinary --live ... --realtime
--output -`, whose samples a reader here takes from the pipe as a radio would.

    bench/live_soak.py BUILD_DIR [SECONDS] [FORMAT]

SECONDS defaults to 600. FORMAT is iq8 (8-bit I/Q at 2.6 MHz, a HackRF's; the default),
iq16 (16-bit I/Q at 4 MHz) or onebit (one bit at 16.368 MHz). Every 10 s it samples the
generator's resident memory and processor time and the bytes the reader has taken; at the
end it stops the generator with SIGINT and prints one JSON object:

  behind_notes     the generator's notes that the samples fell behind real time
  rss_kib          resident memory at each sample (flat: no growth with the run)
  rate_ratio       bytes taken per wall second over the format's bytes per second, from
                   the end of the first minute to the end (1.0: exactly real time)
  cpu_share        the generator's processor seconds per wall second
"""
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time

FORMATS = {
    "iq8": (["--iq-format", "IQ", "--bits-per-sample", "8", "--sample-rate-khz", "2600", "--if-hz", "0"], 2600e3 * 2),
    "iq16": (["--iq-format", "IQ", "--bits-per-sample", "16", "--sample-rate-khz", "4000", "--if-hz", "0"],
             4000e3 * 4),
    "onebit": ([], 16368e3 / 8),
}


def drive_script(seconds):
    # Straight legs joined by turns, at 50 km/h, for longer than the run.
    lines = ["Time=32400", "Lat=+51.99888", "Long=-0.997777", "Height=+160", "Heading=60", "Wait 2s",
             "Vel=50@10s"]
    legs = int(seconds / 60) + 2
    for k in range(legs):
        lines.append("Hdg=%+d@10s" % (90 if k % 2 == 0 else -90))
        lines.append("Vel=50@50s")  # the same speed for 50 s: a straight leg
    return "\n".join(lines) + "\n"


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def processor_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    build = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 600.0
    format_options, bytes_per_second = FORMATS[sys.argv[3] if len(sys.argv) > 3 else "iq8"]
    trajix = os.path.join(build, "cli", "trajix")
    generator = os.path.join(build, "cli", "TrajixBinary")
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    almanac = os.path.join(source, "tests", "data", "scenario", "week314.alm")

    with tempfile.TemporaryDirectory() as folder:
        env = dict(os.environ, HOME=folder)
        os.makedirs(os.path.join(folder, "GPStools"))
        script = os.path.join(folder, "drive.txt")
        with open(script, "w") as out:
            out.write(drive_script(seconds))
        drive = os.path.join(folder, "drive.nmea")
        subprocess.run([trajix, "script", script, "-o", drive, "--rate", "10", "--rmc", "--date", "2025-04-14"],
                       check=True, env=env, stdout=subprocess.DEVNULL)
        # The scenario step writes the profile (a second of signal from the drive's start).
        subprocess.run([trajix, "scenario", drive, "--almanac", almanac, "--week", "314", "--start-time",
                        "118800", "--duration", "1", "--today", "2026-12-09", "--yes"],
                       check=True, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        profile = os.path.join(folder, "GPStools", "profile.txt")

        replay = subprocess.Popen([trajix, "replay", "--tcp", "127.0.0.1:0", drive], env=env,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        port = None
        deadline = time.monotonic() + 10
        while port is None and time.monotonic() < deadline:
            line = replay.stdout.readline()
            found = re.search(r"127\.0\.0\.1:(\d+)", line)
            if found:
                port = int(found.group(1))
        if port is None:
            replay.kill()
            sys.exit("replay printed no address")
        threading.Thread(target=lambda: replay.stdout.read(), daemon=True).start()

        errors = open(os.path.join(folder, "generator.err"), "w+")
        live = subprocess.Popen([generator, "--live", "tcp://127.0.0.1:%d" % port, "--realtime", "--output", "-"] +
                                format_options + [profile], env=env, stdout=subprocess.PIPE, stderr=errors)
        taken = [0]

        def read_samples():
            while True:
                chunk = live.stdout.read1(1 << 20)
                if not chunk:
                    return
                taken[0] += len(chunk)

        reader = threading.Thread(target=read_samples, daemon=True)
        reader.start()
        start = time.monotonic()
        samples = []
        try:
            while time.monotonic() - start < seconds and live.poll() is None:
                time.sleep(min(10.0, max(0.0, seconds - (time.monotonic() - start))))
                if live.poll() is None:
                    samples.append((time.monotonic() - start, resident_kib(live.pid), processor_seconds(live.pid),
                                    taken[0]))
        finally:
            if live.poll() is None:
                live.send_signal(signal.SIGINT)
            try:
                live.wait(timeout=30)
            except subprocess.TimeoutExpired:
                live.kill()
            replay.kill()
            replay.wait()
            reader.join(timeout=10)
        errors.seek(0)
        messages = errors.read()
        minute = next((s for s in samples if s[0] >= 60), samples[0] if samples else None)
        last = samples[-1] if samples else None
        ratio = None
        if minute and last and last[0] > minute[0]:
            ratio = (last[3] - minute[3]) / (last[0] - minute[0]) / bytes_per_second
        print(json.dumps({
            "seconds": round(last[0], 1) if last else 0,
            "format": sys.argv[3] if len(sys.argv) > 3 else "iq8",
            "exit_code": live.returncode,
            "behind_notes": messages.count("behind real time at"),
            "rss_kib": [s[1] for s in samples],
            "rate_ratio": round(ratio, 5) if ratio else None,
            "cpu_share": round(last[2] / last[0], 4) if last else None,
            "load": open("/proc/loadavg").read().split()[:3],
            "last_messages": messages.strip().splitlines()[-5:],
        }))


if __name__ == "__main__":
    main()
