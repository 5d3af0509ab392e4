#!/usr/bin/env python3
"""Runs exit_threads.exe (tests/wine/programs/exit_threads_win.cpp) some times
in one fresh prefix and counts how its runs end: exit 0, QEMU's crash, or
another status.

    exit_threads_run.py [--runs N] [--build win32|win64] MODE [ARG]

Not a ctest test: under QEMU a run takes about half a minute, and the crash
comes at a rate, not every time."""
import argparse
import collections
import os
import subprocess
import sys

import winetest
from splash_run import EMULATOR_CRASH

RUN_TIMEOUT = 300


def exe_for(build):
    return os.path.join(winetest.SOURCE_DIR, "build", build, "tests", "wine", "programs",
                        "exit_threads.exe")


def run_once(prefix, args):
    """('exit 0' | 'QEMU crash' | 'status N' | 'hang', the run's output)."""
    process = prefix.start(args)
    try:
        code = process.wait(timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        prefix.stop_programs()
        code = None
    with open(process.output_path, errors="replace") as f:
        output = f.read()
    if code is None:
        return "hang", output
    if EMULATOR_CRASH in output:
        return "QEMU crash", output
    return ("exit 0" if code == 0 else f"status {code}"), output


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--build", choices=("win32", "win64"), default="win32")
    parser.add_argument("mode", nargs="+")
    options = parser.parse_args()
    args = [exe_for(options.build)] + options.mode
    ends = collections.Counter()
    with winetest.WinePrefix() as prefix:
        # One session for every run: Wine's services start once.
        subprocess.run(["wineserver", "-p"], env=prefix.env(), check=True)
        prefix.boot()
        for n in range(options.runs):
            end, output = run_once(prefix, args)
            ends[end] += 1
            lines = " | ".join(line[:100] for line in output.strip().splitlines()[-3:])
            print(f"run {n + 1}: {end}  {lines}", flush=True)
    print(f"{options.build} {' '.join(options.mode)}: {options.runs} runs, " +
          ", ".join(f"{count} {end}" for end, count in sorted(ends.items())))
    return 0


if __name__ == "__main__":
    sys.exit(main())
