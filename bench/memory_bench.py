#!/usr/bin/env python3
"""Peak memory of a build of one template made of dense style regions.

Each shape writes one HTML template of the given size into a fresh project
(the configuration of --init) and runs a cold build; the peak is the largest
resident set of the process (wait4). The bound is 8 x template size + 50 MB.

  attributes  <p class="!{color:red}">x</p> lines: one region per string
  one-string  one class attribute holding every region, space-separated
  distinct    like attributes, but every region has a declaration of its own
              (the registry and the CSS grow with the regions)

Usage: memory_bench.py [--binary PATH] [--sizes-mb 9 50] [--shapes ...]
"""

import argparse
import os
import subprocess
import sys
import tempfile

MB = 1000 * 1000


def attributes(size):
    line = '<p class="!{color:red}">x</p>\n'
    return line * (size // len(line)), size // len(line)


def one_string(size):
    region = "!{color:red} "
    count = (size - 20) // len(region)
    return '<p class="' + region * count + '">x</p>\n', count


def distinct(size):
    lines, total, i = [], 0, 0
    while total < size:
        line = f'<p class="!{{margin:{i}px}}">x</p>\n'
        lines.append(line)
        total += len(line)
        i += 1
    return "".join(lines), i


SHAPES = {"attributes": attributes, "one-string": one_string, "distinct": distinct}


def run(binary, cwd, args):
    """Runs the binary; returns its CPU seconds and peak resident set in bytes.

    The child starts as a copy of this process, and its peak counts from
    then on, so this process never holds a large text itself."""
    proc = subprocess.Popen([binary] + args, cwd=cwd, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{binary} {' '.join(args)} failed: {err}")
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024


def write_template(shape, size, path):
    """Writes the template in a child process and returns its size and region
    count. The kernel carries the peak resident set of a process across
    exec, so a build started from this process would report this process's
    own peak if the text had been made here."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        text, regions = SHAPES[shape](size)
        with open(path, "w") as out:
            out.write(text)
        os.write(write_end, f"{len(text)} {regions}".encode())
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        reply = pipe.read()
    os.waitpid(pid, 0)
    size, regions = map(int, reply.split())
    return size, regions


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default="build/zeviziz")
    parser.add_argument("--sizes-mb", type=int, nargs="+", default=[9, 50])
    parser.add_argument("--shapes", nargs="+", default=list(SHAPES), choices=list(SHAPES))
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    print("| shape | template | regions | CPU | peak | peak / template | bound |")
    print("|---|---|---|---|---|---|---|")
    for shape in args.shapes:
        for size_mb in args.sizes_mb:
            with tempfile.TemporaryDirectory() as root:
                run(binary, root, ["--init"])
                os.makedirs(os.path.join(root, "src"))
                size, regions = write_template(shape, size_mb * MB,
                                               os.path.join(root, "src", "page.html"))
                cpu, peak = run(binary, root, [])
                bound = 8 * size + 50 * MB
                print(f"| {shape} | {size / MB:.1f} MB | {regions:,} | {cpu:.1f} s "
                      f"| {peak / MB:.0f} MB | {peak / size:.1f}x | {bound / MB:.0f} MB"
                      f"{'' if peak <= bound else ' (missed)'} |", flush=True)


if __name__ == "__main__":
    main()
