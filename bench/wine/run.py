"""Runs the Wine benchmarks of the real exe, each against its floor measured
in the same run, and prints one Markdown table row per figure.

Usage: run.py [startup] [paint] [download] [memory] [size]   (default: all)
Needs the native, win32 and win64 builds (bench/run.sh makes them).
"""
import hashlib
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "wine"))
import winetest  # noqa: E402
from winetest import HttpServer, Route, WinePrefix  # noqa: E402

BENCH_DIR = os.path.join(winetest.WIN64_BUILD, "bench", "wine")
STARTUP_RUNS = 21
DOWNLOAD_RUNS = 6  # twice in each place of the order
TIMED_DOWNLOADS = ["unpinned", "pinned", "floor"]
MB = 1024 * 1024


def bench_program(name):
    return os.path.join(BENCH_DIR, name + ".exe")


def tagged_copy(source_exe, url, folder, name="ZorvaSetup.exe"):
    """A copy of the exe whose tag sends it to url (signed with the development key)."""
    out = os.path.join(folder, name)
    subprocess.run([winetest.ZORVA_TAG, "sign", "--key", winetest.DEV_PRIVATE_KEY,
                    "--download-url", url, source_exe, out], check=True,
                   stdout=subprocess.DEVNULL)
    return out


def padded_installer(size):
    """The marker installer padded with zeros to size bytes (the loader ignores the overlay)."""
    with open(bench_program("marker_installer"), "rb") as f:
        body = f.read()
    return body + bytes(size - len(body))


def row(name, value, floor, unit, target, note=""):
    ratio = value / floor if floor else float("nan")
    print(f"| {name} | {value:.2f} {unit} | {floor:.2f} {unit} | {ratio:.3f} | {target} | {note} |",
          flush=True)
    return ratio


def startup_medians(prefix, programs):
    """Median milliseconds to a visible window, by window class, the programs
    ({class: Unix path}) started in turn."""
    args = [bench_program("startup_driver"), str(STARTUP_RUNS)]
    for window_class, path in programs.items():
        args += [window_class, prefix.windows_path(path)]
    code, out = prefix.run(args, timeout=900)
    if code != 0:
        raise RuntimeError(f"startup driver failed:\n{out}")
    medians = [line.split() for line in out.splitlines() if line.startswith("median ")]
    return {fields[1].rstrip(":"): float(fields[2]) for fields in medians}


def bench_startup(prefix, server, scratch):
    server.routes["/held"] = Route(b"x" * 1000, content_length=100 * MB, hold_open=True)
    exe = tagged_copy(winetest.SETUP_EXE, server.url("/held"), scratch)
    medians = startup_medians(prefix, {"ZorvaFloorWindow": bench_program("image_window_floor"),
                                       "ZorvaSetupWindow": exe})
    floor, setup = medians["ZorvaFloorWindow"], medians["ZorvaSetupWindow"]
    row(f"start-up to visible splash (median of {STARTUP_RUNS})", setup, floor, "ms", "≤ 1.10",
        "floor: GDI+ start-up and an empty 400 × 500 popup, with the three PNG decodes the "
        "splash needs before it shows (its icon's, the pattern's and the logo's), as the "
        "program makes them")


def bench_paint(prefix, scratch):
    del scratch
    for dpi in (96, 144):
        code, out = prefix.run([bench_program("paint_bench"), str(dpi)], timeout=600)
        if code != 0:
            raise RuntimeError(f"paint bench failed at {dpi} DPI:\n{out}")
        figures = dict(line.split(": ") for line in out.strip().splitlines())
        row(f"paint at {dpi} DPI (ms per frame)", float(figures["splash"]), float(figures["floor"]),
            "ms", "≤ 1.50", "floor: fill and blit a bitmap of the window's size")


def wait_for_file(path, process, timeout):
    deadline = time.monotonic() + timeout
    while not os.path.exists(path):
        if time.monotonic() > deadline or process.poll() not in (None, 0):
            raise RuntimeError(f"{path} never appeared")
        time.sleep(0.005)


def time_to_installer(prefix, args, marker, route):
    """Seconds from the download's request reaching the server until the
    installer creates its marker file. Start-up has a benchmark of its own,
    so it is left out here."""
    if os.path.exists(marker):
        os.remove(marker)
    process = prefix.start(args, ZORVA_BENCH_MARKER=prefix.windows_path(marker))
    wait_for_file(marker, process, 600)
    elapsed = time.monotonic() - route.request_times[0]
    process.wait(timeout=120)
    return elapsed


def bench_download(prefix, server, scratch):
    body = padded_installer(64 * MB)
    pin = "#sha256=" + hashlib.sha256(body).hexdigest()
    marker = os.path.join(scratch, "installer-started")
    kinds = ("unpinned", "pinned", "floor", "curl")
    times = {kind: [] for kind in kinds}
    for run in range(DOWNLOAD_RUNS):
        # A fresh path each run, so no run can be answered from a cache.
        routes = {kind: Route(body, chunk=256 * 1024) for kind in kinds}
        for kind, route in routes.items():
            server.routes[f"/{kind}-{run}.exe"] = route
        # Each takes each place in the order equally often: the one after a
        # program's 64 MB file was written and deleted meets its writeback.
        for kind in TIMED_DOWNLOADS[run % 3:] + TIMED_DOWNLOADS[:run % 3]:
            url = server.url(f"/{kind}-{run}.exe")
            args = ([bench_program("download_floor"), url] if kind == "floor" else
                    [tagged_copy(winetest.SETUP_EXE, url + (pin if kind == "pinned" else ""),
                                 scratch)])
            times[kind].append(time_to_installer(prefix, args, marker, routes[kind]))
        start = time.monotonic()
        subprocess.run(["curl", "-s", "-o", "/dev/null", server.url(f"/curl-{run}.exe")], check=True)
        times["curl"].append(time.monotonic() - start)
    floor = statistics.median(times["floor"])
    for kind, target in (("unpinned", "≤ 1.10"), ("pinned", "≤ 1.25")):
        row(f"64 MB download, {kind}, request to installer start",
            statistics.median(times[kind]), floor, "s", target,
            f"median of {DOWNLOAD_RUNS}; floor: the same WinINet calls writing a file, no "
            f"progress or check; curl: {statistics.median(times['curl']):.2f} s")
    print(f"| repaints during the 64 MB download | {count_repaints(prefix, server, scratch, body)} "
          "| | | ≤ 101 | counted through the benchmark build's repaint hook |", flush=True)


def count_repaints(prefix, server, scratch, body):
    server.routes["/counted.exe"] = Route(body, chunk=64 * 1024)
    exe = tagged_copy(bench_program("ZorvaSetupCountingRepaints"), server.url("/counted.exe"),
                      scratch, "ZorvaSetupCountingRepaints.exe")
    report = os.path.join(scratch, "repaints.txt")
    code, _ = prefix.run([exe], timeout=600, ZORVA_BENCH_REPAINTS=prefix.windows_path(report))
    if code != 0 or not os.path.exists(report):
        raise RuntimeError("the counting build did not report its repaints")
    with open(report) as f:
        return int(f.read())


def peak_working_set_kb(prefix, args, marker=None, settle=None):
    """Highest VmHWM of the program's process (the wine process that runs it)."""
    process = prefix.start(args, ZORVA_BENCH_MARKER=prefix.windows_path(marker) if marker else "")
    peak = 0
    deadline = time.monotonic() + (settle or 600)
    while process.poll() is None and time.monotonic() < deadline:
        try:
            with open(f"/proc/{process.pid}/status") as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]))
        except FileNotFoundError:
            break
        time.sleep(0.02)
    if process.poll() is None:
        process.kill()
    process.wait()
    return peak


def bench_memory(prefix, server, scratch):
    floor = peak_working_set_kb(prefix, [bench_program("empty_window_floor")], settle=3)
    marker = os.path.join(scratch, "installer-started")
    for size in (8, 64):
        server.routes[f"/memory-{size}.exe"] = Route(padded_installer(size * MB), chunk=256 * 1024)
        exe = tagged_copy(winetest.SETUP_EXE, server.url(f"/memory-{size}.exe"), scratch)
        peak = peak_working_set_kb(prefix, [exe], marker)
        row(f"peak working set, {size} MB download", peak / 1024, floor / 1024, "MB",
            "flat in the installer's size", "floor: the empty-window program")


def bench_size():
    sys.path.insert(0, os.path.dirname(__file__))
    import exe_size  # noqa: E402
    exe_size.print_rows(os.path.join(winetest.SOURCE_DIR, "build", "win32", "ZorvaSetup.exe"))


def main():
    wanted = sys.argv[1:] or ["startup", "paint", "download", "memory", "size"]
    print("| figure | program | floor | ratio | target | note |")
    print("|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory(prefix="zorva-bench-") as scratch, \
            WinePrefix() as prefix, HttpServer() as server:
        for name in wanted:
            if name == "size":
                bench_size()
            elif name == "paint":
                bench_paint(prefix, scratch)
            else:
                globals()["bench_" + name](prefix, server, scratch)


if __name__ == "__main__":
    main()
