#!/usr/bin/env python3
"""Measures zeviziz on synthetic projects next to plain file-system baselines.

For each project size (default 1,000 and 10,000 files) the script generates a
project with gen_project.py and measures, each as the median of several runs:

  cp -r      copying the input tree (the floor for a cold build)
  find       a walk that stats every input file (the floor for a no-change
             rebuild, which must at least notice that nothing changed)
  cold       a build from scratch: no output directory, no cache
  no-change  a second run with nothing changed
  one-file   a run after one HTML page was edited
  watch      the compile.process task of a watch-mode cycle after one edit
             (the work itself, without process start, configuration load and
             cache decode)

Peak memory is the largest resident set of the cold build, read from the
child's resource usage (wait4). It prints the figures and the ratios to the
targets: cold <= 2x cp -r, no-change <= 2x find, one-file well under 100 ms,
peak memory < 2x input size + 50 MB.

Usage: project_bench.py [--binary PATH] [--sizes 1000 10000] [--runs 3]
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import gen_project  # noqa: E402


def run_timed(argv, cwd):
    """Runs argv; returns (seconds, peak RSS in bytes). Fails on exit != 0."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if proc.returncode != 0:
        sys.exit(f"{' '.join(argv)} failed ({proc.returncode}): {err}")
    return elapsed, usage.ru_maxrss * 1024


def tree_size(root):
    total = 0
    for folder, _, files in os.walk(root):
        total += sum(os.lstat(os.path.join(folder, f)).st_size for f in files)
    return total


def median_time(runs, setup, argv, cwd):
    times, peaks = [], []
    for _ in range(runs):
        setup()
        t, peak = run_timed(argv, cwd)
        times.append(t)
        peaks.append(peak)
    return statistics.median(times), max(peaks)


def edit_one(path, counter=[0]):
    """Appends a new region to one page, giving it a new time and content."""
    counter[0] += 1
    with open(path, "a", encoding="utf-8") as f:
        f.write(f'<p class="!{{margin:{counter[0]}px}}">edit</p>\n')
    now = time.time() + counter[0]
    os.utime(path, (now, now))


def watch_cycle_us(binary, root, page, settle=2.0):
    """compile.process duration (us) of a watch cycle that rebuilds `page`.

    Task lines stay open (no line feed) while the same task repeats, so the
    output is read as raw bytes rather than lines.
    """
    proc = subprocess.Popen([binary, "--watch", "1", "--log", "task"], cwd=root,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    chunks = []
    reader = threading.Thread(target=lambda: chunks.extend(iter(
        lambda: os.read(proc.stdout.fileno(), 65536), b"")), daemon=True)
    reader.start()
    try:
        time.sleep(settle)  # the first cycle (scan and pruning) is over
        mark = len(b"".join(chunks))
        edit_one(page)
        deadline = time.time() + 30
        while time.time() < deadline:
            text = b"".join(chunks)[mark:].decode(errors="replace")
            m = re.search(r"task compile\.process (\d+)us", text)
            if m:
                return int(m.group(1))
            time.sleep(0.05)
        return None
    finally:
        proc.kill()
        proc.wait()


def bench_size(binary, n, runs, workdir):
    root = os.path.join(workdir, f"p{n}")
    pages = gen_project.generate(root, n, 12, seed=n)
    src, out = os.path.join(root, "src"), os.path.join(root, "out")
    size = tree_size(src)
    copy = os.path.join(workdir, f"copy{n}")

    def clear_copy():
        shutil.rmtree(copy, ignore_errors=True)

    def clear_out():
        shutil.rmtree(out, ignore_errors=True)

    r = {"n": n, "input_bytes": size}
    r["cp"], _ = median_time(runs, clear_copy, ["cp", "-r", src, copy], root)
    r["find"], _ = median_time(runs, lambda: None,
                               ["find", src, "-printf", "%T@ %s\n"], root)
    r["cold"], r["peak"] = median_time(runs, clear_out, [binary], root)
    r["nochange"], _ = median_time(runs, lambda: None, [binary], root)
    page = pages[len(pages) // 2]
    r["onefile"], _ = median_time(runs, lambda: edit_one(page), [binary], root)
    r["watch_us"] = watch_cycle_us(binary, root, page)
    clear_copy()
    return r


def report(results):
    mb = 1024 * 1024
    print(f"{'files':>7} {'input':>8} {'cp -r':>8} {'find':>8} {'cold':>8} {'cold/cp':>8} "
          f"{'nochg':>8} {'nochg/find':>10} {'one-file':>9} {'watch':>8} {'peak':>8} {'limit':>8}")
    for r in results:
        limit = 2 * r["input_bytes"] + 50 * mb
        watch = f"{r['watch_us'] / 1000:.1f}ms" if r["watch_us"] is not None else "n/a"
        print(f"{r['n']:>7} {r['input_bytes'] / mb:>7.1f}M {r['cp'] * 1000:>6.0f}ms "
              f"{r['find'] * 1000:>6.0f}ms {r['cold'] * 1000:>6.0f}ms {r['cold'] / r['cp']:>7.2f}x "
              f"{r['nochange'] * 1000:>6.0f}ms {r['nochange'] / r['find']:>9.2f}x "
              f"{r['onefile'] * 1000:>7.0f}ms {watch:>8} {r['peak'] / mb:>7.1f}M "
              f"{limit / mb:>7.1f}M")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", default=os.path.join(HERE, "..", "build", "zeviziz"))
    parser.add_argument("--sizes", type=int, nargs="+", default=[1000, 10000])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--keep", action="store_true", help="keep the generated projects")
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    if not os.access(binary, os.X_OK):
        sys.exit(f"{binary} is not an executable; build it first (make build)")
    workdir = tempfile.mkdtemp(prefix="zeviziz-bench-")
    try:
        results = [bench_size(binary, n, args.runs, workdir) for n in args.sizes]
        report(results)
    finally:
        if args.keep:
            print(f"projects kept in {workdir}")
        else:
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
