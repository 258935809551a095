#!/usr/bin/env python3
"""Timing of receiver-log replay, trajix beside gpsfake in one run.

A 20 Hz receiver log (RMC, GGA and GSA per fix) is played by `trajix replay` into a
pseudo-terminal and to a TCP client, and fed by gpsfake (gpsd's own replay tool) to
its gpsd, whose raw NMEA a client reads, at 1x, 10x and 0.1x. For each run, from the
arrival of every fix at the reader:

  total error  how late the last fix arrives, against the start of playback
  p99 late     99th percentile of how late each fix arrives

where the start of playback is where the least late of the first 20 fixes puts it.

    bench/replay_epochs.py TRAJIX [EPOCHS] [EPOCHS_AT_0.1X]

EPOCHS defaults to 1200 (60 s at 1x). At 0.1x that file would take 600 s, so 0.1x
plays a shorter file of EPOCHS_AT_0.1X fixes (default 120, 60 s). Prints one JSON
object per run on stdout. Only 127.0.0.1 is used.
"""
import json
import os
import pty
import select
import socket
import subprocess
import sys
import tempfile
import time

RATE = 20.0


def checksum(body):
    x = 0
    for c in body.encode():
        x ^= c
    return "$%s*%02X" % (body, x)


def make_log(path, epochs):
    start = 12 * 3600.0
    lines = []
    for i in range(epochs):
        t = start + i / RATE
        hh, mm, ss = int(t // 3600), int(t // 60 % 60), t % 60
        clock = "%02d%02d%05.2f" % (hh, mm, ss)
        lat = "4807.%04d" % (i % 10000)
        lines.append(checksum("GPRMC,%s,A,%s,N,01131.000,E,022.4,084.4,120125,003.1,W,A" % (clock, lat)))
        lines.append(checksum("GPGGA,%s,%s,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,," % (clock, lat)))
        lines.append(checksum("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1"))
    with open(path, "w", newline="") as f:
        f.write("".join(l + "\r\n" for l in lines))
    return [3 * len(lines[0]) for _ in range(epochs)], lines


def figures(arrivals, epochs, speed):
    """arrivals: epoch index -> arrival time. The start of playback is taken where the
    least late of the first 20 fixes puts it, so one late first fix does not count as
    every later fix being early."""
    seen = sorted(arrivals)
    if len(seen) < 2:
        return None
    first, last = seen[0], seen[-1]
    offset = {i: arrivals[i] - (i - first) / RATE / speed for i in seen}
    t0 = min(offset[i] for i in seen[:20])
    late = sorted(offset[i] - t0 for i in seen)
    p99 = late[min(len(late) - 1, int(round(0.99 * (len(late) - 1))))]
    return {"epochs": epochs, "received": len(seen), "due_s": (last - first) / RATE / speed,
            "total_error_ms": (offset[last] - t0) * 1e3, "p99_late_ms": p99 * 1e3,
            "period_ms": 1e3 / RATE / speed}


def epoch_of(line):
    # The fix time of an RMC line as an epoch number.
    parts = line.split(",")
    if len(parts) < 2 or not parts[0].endswith("RMC"):
        return None
    t = parts[1]
    seconds = int(t[0:2]) * 3600 + int(t[2:4]) * 60 + float(t[4:])
    return int(round((seconds - 12 * 3600.0) * RATE))


def read_lines(fd_read, arrivals, idle):
    """Reads lines (by any reader function) and notes when each epoch's RMC came."""
    pending = b""
    while True:
        chunk = fd_read(idle)
        if not chunk:
            return
        now = time.monotonic()
        pending += chunk
        *lines, pending = pending.split(b"\n")
        for raw in lines:
            i = epoch_of(raw.decode(errors="replace").strip())
            if i is not None and i not in arrivals:
                arrivals[i] = now


def trajix_run(trajix, log, epochs, speed, output):
    args = [trajix, "replay", log, "--speed", "%gx" % speed]
    args += ["--pty"] if output == "pty" else ["--tcp", "127.0.0.1:0"]
    proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    first = proc.stdout.readline().strip()
    arrivals = {}
    if output == "pty":
        fd = os.open(first, os.O_RDONLY | os.O_NOCTTY)

        def read(idle):
            r, _, _ = select.select([fd], [], [], idle)
            if not r:
                return b""
            try:
                return os.read(fd, 65536)
            except OSError:
                return b""
        read_lines(read, arrivals, 5.0)
        os.close(fd)
    else:
        host, port = first[len("tcp://"):].rsplit(":", 1)
        s = socket.create_connection((host, int(port)))

        def read(idle):
            r, _, _ = select.select([s], [], [], idle)
            return s.recv(65536) if r else b""
        read_lines(read, arrivals, 5.0)
        s.close()
    proc.wait(timeout=30)
    return figures(arrivals, epochs, speed)


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def gpsfake_run(log, epochs, speed, lines_per_epoch=3):
    port = free_port()
    # gpsfake sleeps CYCLE after each sentence: three sentences per 1/20 s fix.
    cycle = 1.0 / RATE / speed / lines_per_epoch
    proc = subprocess.Popen(["gpsfake", "-1", "-q", "-P", str(port), "-c", "%.9f" % cycle, log],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    s = None
    for _ in range(200):
        try:
            s = socket.create_connection(("127.0.0.1", port))
            break
        except OSError:
            time.sleep(0.05)
    if s is None:
        proc.kill()
        return None
    s.sendall(b'?WATCH={"enable":true,"raw":1};\n')
    arrivals = {}

    def read(idle):
        r, _, _ = select.select([s], [], [], idle)
        return s.recv(65536) if r else b""
    read_lines(read, arrivals, 5.0)
    s.close()
    proc.terminate()
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
    return figures(arrivals, epochs, speed)


def main():
    trajix = sys.argv[1]
    epochs = int(sys.argv[2]) if len(sys.argv) > 2 else 1200
    slow_epochs = int(sys.argv[3]) if len(sys.argv) > 3 else 120
    with tempfile.TemporaryDirectory() as folder:
        for speed in (1.0, 10.0, 0.1):
            n = slow_epochs if speed < 1 else epochs
            log = os.path.join(folder, "log%d.nmea" % n)
            make_log(log, n)
            for who, run in (("trajix pty", lambda: trajix_run(trajix, log, n, speed, "pty")),
                             ("trajix tcp", lambda: trajix_run(trajix, log, n, speed, "tcp")),
                             ("gpsfake", lambda: gpsfake_run(log, n, speed))):
                result = run()
                if result:
                    result.update({"who": who, "speed": speed, "load1": os.getloadavg()[0]})
                    print(json.dumps(result), flush=True)


if __name__ == "__main__":
    main()
