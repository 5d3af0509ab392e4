#!/usr/bin/env python3
"""Runs exit_threads.exe (tests/wine/programs/exit_threads_win.cpp) some times
in one fresh prefix and counts how its runs end: exit 0, QEMU's crash, or
another status.

    exit_threads_run.py [--runs N] [--build win32|win64] MODE [ARG]

Not a ctest test: under QEMU a run takes over a minute, and the crash
comes at a rate, not every time."""
import argparse
import collections
import os
import subprocess
import sys

import winetest
from splash_run import EMULATOR_CRASH, MODULE_TRACE, ended_in_emulated_teardown

RUN_TIMEOUT = 300


def exe_for(build):
    return os.path.join(winetest.SOURCE_DIR, "build", build, "tests", "wine", "programs",
                        "exit_threads.exe")


def run_once(prefix, args):
    """('exit 0' | 'exit 0, Wine errors' | 'QEMU crash in the shutdown' |
    'QEMU crash' | 'status N' | 'hang', the run's output). The module trace
    tells a crash after the main function returned, as the Wine tests do."""
    process = prefix.start(args, WINEDEBUG=MODULE_TRACE)
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
    if ended_in_emulated_teardown(process.output_path):
        return "QEMU crash in the shutdown", output
    if EMULATOR_CRASH in output:
        return "QEMU crash", output
    if code != 0:
        return f"status {code}", output
    # A thread that lost its own state may take Wine down with it or not.
    damaged = "wine client error" in output or "stack smashing" in output
    return ("exit 0, Wine errors" if damaged else "exit 0"), output


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
            own = [line for line in output.splitlines() if line and ":trace:" not in line]
            lines = " | ".join(line[:100] for line in own[-2:])
            print(f"run {n + 1}: {end}  {lines}", flush=True)
    print(f"{options.build} {' '.join(options.mode)}: {options.runs} runs, " +
          ", ".join(f"{count} {end}" for end, count in sorted(ends.items())))
    return 0


if __name__ == "__main__":
    sys.exit(main())
