#!/usr/bin/env python3
"""Measures watch mode on a generated project: save-to-CSS latency and idle CPU.

The script generates a project with gen_project.py (default 10,000 files),
starts `zeviziz --watch INTERVAL` in it and waits until the first build is
over. Then, for each trial, it appends a style region with a declaration no
earlier trial used to one HTML page and measures the time from the write to
the moment the CSS file holds the new declaration (the CSS file is checked
every half millisecond). Idle CPU is the process's user and system time over
a quiet period (nothing changes), as a share of one core. The process runs
with --log task, so the medians of the woken cycles' `template.scan` and
`compile.process` tasks are printed too: the latency is the settle time, the
scan and the pipeline (whose CSS file is written before the cache file).

Each mode runs the same steps: `notify` (file-system notifications, the
default) and `poll` (notifications turned off with ZEVIZIZ_NO_INOTIFY=1, so
the interval decides, as before notifications were used).

Usage: watch_bench.py [--binary PATH] [--files 10000] [--trials 15]
                      [--idle 60] [--interval 1] [--workdir /dev/shm]
                      [--modes notify poll]
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import gen_project  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User plus system time of the process so far, in seconds."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def wait_until_idle(proc, css, timeout=600):
    """Waits until the CSS file exists and the process stopped using CPU."""
    deadline = time.time() + timeout
    while not os.path.exists(css):
        if proc.poll() is not None or time.time() > deadline:
            sys.exit("watch mode ended or did not build in time")
        time.sleep(0.1)
    last = cpu_seconds(proc.pid)
    while time.time() < deadline:
        time.sleep(1.0)
        now = cpu_seconds(proc.pid)
        if now - last < 0.02:
            return
        last = now
    sys.exit("watch mode did not become idle")


def save_to_css(page, css, marker, timeout=10.0):
    """Appends a region with `marker` to `page`; seconds until the CSS has it."""
    needle = marker.encode()
    before = os.stat(css).st_mtime_ns
    start = time.perf_counter()
    with open(page, "a", encoding="utf-8") as f:
        f.write(f'<p class="!{{{marker}}}">edit</p>\n')
    while time.perf_counter() - start < timeout:
        try:
            if os.stat(css).st_mtime_ns != before:
                with open(css, "rb") as f:
                    if needle in f.read():
                        return time.perf_counter() - start
        except FileNotFoundError:
            pass
        time.sleep(0.0005)
    return None


def run_mode(binary, root, pages, mode, args, counter):
    env = dict(os.environ)
    interval = str(args.interval)
    if mode == "poll":
        env["ZEVIZIZ_NO_INOTIFY"] = "1"
        interval = "1"
    css = os.path.join(root, "out", "velt.css")
    shutil.rmtree(os.path.join(root, "out"), ignore_errors=True)
    log_path = os.path.join(os.path.dirname(root), f"{mode}.log")
    log = open(log_path, "wb")
    proc = subprocess.Popen([binary, "--watch", interval, "--log", "task"], cwd=root, env=env,
                            stdout=log, stderr=subprocess.DEVNULL)
    try:
        wait_until_idle(proc, css)
        latencies = []
        trials = args.trials if mode == "notify" else min(args.trials, 5)
        for i in range(trials):
            counter[0] += 1
            page = pages[(counter[0] * 7919) % len(pages)]
            latency = save_to_css(page, css, f"margin:{counter[0]}.{counter[0]}px")
            if latency is not None:
                latencies.append(latency)
            time.sleep(0.3)
        time.sleep(1.0)
        start_cpu, start = cpu_seconds(proc.pid), time.perf_counter()
        time.sleep(args.idle)
        idle = (cpu_seconds(proc.pid) - start_cpu) / (time.perf_counter() - start)
        with open(log_path, "rb") as f:
            text = f.read().decode(errors="replace")
        # The first cycle is the initial build; the later ones are the trials'.
        scans = [int(us) for us in re.findall(r"task template\.scan \S+ (\d+)us", text)][1:]
        builds = [int(us) for us in re.findall(r"task compile\.process (\d+)us", text)][1:]
        return {"mode": mode, "interval": interval, "latencies": latencies,
                "trials": trials, "idle": idle, "scans": scans, "builds": builds}
    finally:
        proc.kill()
        proc.wait()
        log.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", default=os.path.join(HERE, "..", "build", "zeviziz"))
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--trials", type=int, default=15)
    parser.add_argument("--idle", type=float, default=60.0, help="seconds of idle measurement")
    parser.add_argument("--interval", type=int, default=1, help="--watch interval (notify)")
    parser.add_argument("--workdir", default=None, help="where to generate (e.g. /dev/shm)")
    parser.add_argument("--modes", nargs="+", default=["notify", "poll"])
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    if not os.access(binary, os.X_OK):
        sys.exit(f"{binary} is not an executable; build it first")
    workdir = tempfile.mkdtemp(prefix="zeviziz-watch-", dir=args.workdir)
    try:
        root = os.path.join(workdir, "p")
        pages = [p for p in gen_project.generate(root, args.files, 12, seed=args.files)
                 if p.endswith(".html")]
        counter = [0]
        print(f"{'mode':>7} {'interval':>8} {'trials':>6} {'median':>9} {'min':>9} "
              f"{'max':>9} {'idle CPU':>9} {'scan':>8} {'pipeline':>9}")
        for mode in args.modes:
            r = run_mode(binary, root, pages, mode, args, counter)
            lat = r["latencies"]
            if lat:
                cols = [f"{statistics.median(lat) * 1000:.1f}ms", f"{min(lat) * 1000:.1f}ms",
                        f"{max(lat) * 1000:.1f}ms"]
            else:
                cols = ["n/a"] * 3
            scan = f"{statistics.median(r['scans']) / 1000:.1f}ms" if r["scans"] else "n/a"
            build = f"{statistics.median(r['builds']) / 1000:.1f}ms" if r["builds"] else "n/a"
            print(f"{r['mode']:>7} {r['interval']:>7}s {len(lat):>3}/{r['trials']:<2} "
                  f"{cols[0]:>9} {cols[1]:>9} {cols[2]:>9} {r['idle'] * 100:>8.2f}% "
                  f"{scan:>8} {build:>9}")
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
