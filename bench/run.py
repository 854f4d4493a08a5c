#!/usr/bin/env python3
"""Times the program against the write-call floor.

Runs the program and the baseline in turn, each with the item count piped
to standard input and standard output sent to a file, checks that they wrote
the same listing, and prints the median wall and CPU time of each, the median
of the per-round ratios, the program's peak resident memory and, where
valgrind is installed, the user-space instructions it spends per line.

Usage: run.py PROGRAM BASELINE [--runs R] [--count N]
"""

import argparse
import math
import os
import re
import shutil
import statistics
import subprocess
import tempfile
import time

PROMPT = b"Input N(1-10) : "


def run(command, count, folder, env=None):
    """One run in |folder|/work; returns (wall s, cpu s, standard output,
    listing)."""
    work = os.path.join(folder, "work")
    os.makedirs(work, exist_ok=True)
    out_path = os.path.join(folder, "stdout")
    with open(out_path, "wb") as out:
        start = time.perf_counter()
        child = subprocess.Popen(command, cwd=work, stdin=subprocess.PIPE, stdout=out,
                                 stderr=subprocess.DEVNULL, env=env)
        child.stdin.write(b"%d\n" % count)
        child.stdin.close()
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"{command[-1]} failed with status {status}")
    with open(out_path, "rb") as f:
        stdout = f.read()
    with open(os.path.join(folder, "Tessivolark_.txt"), "rb") as f:
        listing = f.read()
    return wall, usage.ru_utime + usage.ru_stime, stdout, listing


def peak_memory(program, count, folder):
    """The program's peak resident memory in KiB, read while it waits in its
    final pause.  (The rusage of a child forked from this interpreter would
    report the interpreter's own peak.)"""
    stand_in = os.path.join(folder, "bin")
    os.makedirs(stand_in, exist_ok=True)
    shutil.copy(os.path.join(os.path.dirname(os.path.abspath(__file__)), "pause"), stand_in)
    peak_file = os.path.join(folder, "peak")
    env = dict(os.environ, PATH=stand_in + os.pathsep + os.environ["PATH"],
               PROGRAM=os.path.realpath(program), PEAK_FILE=peak_file)
    run([program], count, folder, env)
    with open(peak_file) as f:
        return int(f.read())


def instructions_per_line(program, count, folder):
    """The user-space instructions of one whole run, startup included, over
    its count of listing lines, counted by callgrind."""
    counts = os.path.join(folder, "callgrind.out")
    run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={counts}", program], count,
        folder)
    with open(counts) as f:
        total = int(re.search(r"^summary: (\d+)", f.read(), re.M).group(1))
    return total / math.factorial(count)


def median_ratio(numerators, denominators):
    return statistics.median(a / b for a, b in zip(numerators, denominators))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("baseline")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--count", type=int, default=10)
    args = parser.parse_args()
    program, baseline = os.path.abspath(args.program), os.path.abspath(args.baseline)

    with tempfile.TemporaryDirectory() as folder:
        ours, floor = [], []
        for i in range(args.runs):
            # Which goes first turns round, so that neither always runs while
            # the other's output is still being written back.
            first, second = (program, baseline) if i % 2 == 0 else (baseline, program)
            results = {path: run([path], args.count, os.path.join(folder, str(n)))
                       for n, path in enumerate((first, second))}
            mine, base = results[program], results[baseline]
            if mine[3] != base[3] or mine[2] != PROMPT + base[2]:
                raise SystemExit("the program and the baseline wrote different listings")
            ours.append(mine[:2])
            floor.append(base[:2])
            print(f"run {i + 1}: program {mine[0]:.2f} s wall {mine[1]:.2f} s cpu, "
                  f"baseline {base[0]:.2f} s wall {base[1]:.2f} s cpu")

        print(f"\nN = {args.count}, {args.runs} runs each, medians:")
        for name, samples in (("program", ours), ("baseline", floor)):
            wall = statistics.median(s[0] for s in samples)
            cpu = statistics.median(s[1] for s in samples)
            print(f"  {name:9} {wall:7.3f} s wall  {cpu:7.3f} s cpu")
        wall = median_ratio([s[0] for s in ours], [s[0] for s in floor])
        cpu = median_ratio([s[1] for s in ours], [s[1] for s in floor])
        print(f"  program/baseline {wall:7.3f} wall   {cpu:7.3f} cpu"
              "  (median of the per-run ratios)")

        for count in (1, args.count):
            peak = peak_memory(program, count, os.path.join(folder, "memory"))
            print(f"peak resident memory, N = {count}: {peak / 1024:.2f} MiB ({peak} KiB)")

        if shutil.which("valgrind"):
            for name, path in (("program", program), ("baseline", baseline)):
                per_line = instructions_per_line(path, 8, os.path.join(folder, "callgrind"))
                print(f"user instructions per line, N = 8 (callgrind): {name} {per_line:.0f}")
        else:
            print("valgrind is missing: no instruction count")


if __name__ == "__main__":
    main()
