#!/usr/bin/env python3
"""Times the program against the write-call floor.

Runs the program and the baseline in turn, each with the item count piped
to standard input and standard output sent to a file, checks that they wrote
the same listing, and prints the median wall and CPU time of each, the median
of the per-run ratios, and the program's peak resident memory.

Usage: run.py PROGRAM BASELINE [--runs R] [--count N]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time

PROMPT = b"Input N(1-10) : "


def run(program, count, folder, env=None):
    """One run in |folder|/work; returns (wall s, cpu s, standard output,
    listing)."""
    work = os.path.join(folder, "work")
    os.makedirs(work, exist_ok=True)
    out_path = os.path.join(folder, "stdout")
    with open(out_path, "wb") as out:
        start = time.perf_counter()
        child = subprocess.Popen([program], cwd=work, stdin=subprocess.PIPE,
                                 stdout=out, stderr=subprocess.DEVNULL, env=env)
        child.stdin.write(b"%d\n" % count)
        child.stdin.close()
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise SystemExit(f"{program} exited with {child.returncode}")
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
    run(program, count, folder, env)
    with open(peak_file) as f:
        return int(f.read())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("baseline")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--count", type=int, default=10)
    args = parser.parse_args()

    programs = {"program": os.path.abspath(args.program),
                "baseline": os.path.abspath(args.baseline)}

    with tempfile.TemporaryDirectory() as folder:
        times = {name: [] for name in programs}
        ratios = {name: {"wall": [], "cpu": []} for name in programs if name != "baseline"}
        names = list(programs)
        for i in range(args.runs):
            # Which goes first turns round too, so that none always runs
            # while another's output is still being written back.
            order = names[i % len(names):] + names[:i % len(names)]
            results = {name: run(programs[name], args.count, os.path.join(folder, name))
                       for name in order}
            floor = results["baseline"]
            for name, result in results.items():
                if result[3] != floor[3] or (name != "baseline" and result[2] != PROMPT + floor[2]):
                    raise SystemExit(f"the {name} and the baseline wrote different listings")
                times[name].append(result[:2])
                if name in ratios:
                    ratios[name]["wall"].append(result[0] / floor[0])
                    ratios[name]["cpu"].append(result[1] / floor[1])
            print(f"run {i + 1}: " + ", ".join(
                f"{name} {results[name][0]:.2f} s wall {results[name][1]:.2f} s cpu"
                for name in names))

        print(f"\nN = {args.count}, {args.runs} runs each, medians:")
        for name, samples in times.items():
            wall = statistics.median(s[0] for s in samples)
            cpu = statistics.median(s[1] for s in samples)
            print(f"  {name:9} {wall:7.3f} s wall  {cpu:7.3f} s cpu")
        for name, ratio in ratios.items():
            print(f"  {name + '/baseline':18} {statistics.median(ratio['wall']):7.3f} wall   "
                  f"{statistics.median(ratio['cpu']):7.3f} cpu  (median of the per-run ratios)")

        for count in (1, args.count):
            peak = peak_memory(programs["program"], count, os.path.join(folder, "program"))
            print(f"peak resident memory, N = {count}: {peak / 1024:.2f} MiB ({peak} KiB)")


if __name__ == "__main__":
    main()
