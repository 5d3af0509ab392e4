#!/usr/bin/env python3
"""Runs exit_threads.exe (tests/wine/programs/exit_threads_win.cpp) some times
in one fresh prefix and counts how its runs end: exit 0, QEMU's crash, or
another status.

    exit_threads_run.py [--runs N] [--build win32|win64] MODE [ARG]

It tells an emulator with QEMU 7.2's thread-identity fault from one without:
on QEMU 7.2 (bookworm), `fault older` ended abnormally in 6 of 12 runs and
`identity` printed the newest thread's ID after the fault in 2 of 2; on QEMU
10.0.2 (bookworm-backports, which scripts/install-prereqs.sh installs; the fix
came with 8.0) `fault older` ended 6 of 6 with exit 0 and `identity` kept the
thread's own ID. Not a ctest test: the fault comes at a rate, not every time,
and the tests of the shipping exe fail on any crash anyway."""
import argparse
import collections
import os
import subprocess
import sys

import winetest

RUN_TIMEOUT = 300
EMULATOR_CRASH = "qemu: uncaught target signal 11"
MODULE_TRACE = "-all,+module"
# The main thread's traced steps once the main function has returned: the C
# runtime's exit() looks up mscoree.dll (for CorExitProcess) right before it
# calls ExitProcess, which ends the other threads and then shuts the loader down.
SHUTDOWN_STEPS = (':trace:module:LdrGetDllHandleEx L"mscoree" ', ":trace:module:LdrShutdownProcess")


def crashed_in_shutdown(output):
    """Whether QEMU ended the run after its main thread began the process
    shutdown, that is after the main function returned."""
    lines = output.splitlines()
    if not lines or EMULATOR_CRASH not in lines[-1]:
        return False
    main_thread = lines[0].split(":", 1)[0]
    return any(line.startswith(main_thread + step) for line in lines[:-1] for step in SHUTDOWN_STEPS)


def exe_for(build):
    return os.path.join(winetest.SOURCE_DIR, "build", build, "tests", "wine", "programs",
                        "exit_threads.exe")


def run_once(prefix, args):
    """('exit 0' | 'exit 0, Wine errors' | 'QEMU crash in the shutdown' |
    'QEMU crash' | 'status N' | 'hang', the run's output). The module trace
    tells a crash after the main function returned."""
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
    if crashed_in_shutdown(output):
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
