"""The demo: runs a tagged copy of the 64-bit exe (or, with --win32, of the
shipping 32-bit exe) under Wine against a local server that serves a demo
installer slowly, then a copy whose download fails, and saves screenshots of
the splash along the way.

    python3 scripts/demo.py [--win32] [OUTPUT_DIR]     (scripts/demo.sh builds first)

Uses the user's display when DISPLAY is set, otherwise an Xvfb of its own.
"""
import os
import shutil
import subprocess
import sys
import time

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "wine"))
import splash_run  # noqa: E402
import winetest  # noqa: E402
from winetest import HttpServer, Route, wait_until  # noqa: E402

HEADLINE = "WELCOME TO ZORVA"
LAUNCH_ARGUMENT = "demo/welcome"
INSTALLER_SIZE = 3 * 1024 * 1024
DOWNLOAD_SECONDS = 12


class DemoPrefix(winetest.WinePrefix):
    """A prefix of the demo's own, on the user's display when there is one."""

    def __init__(self, path):
        super().__init__()
        self.prefix_path = path

    def __enter__(self):
        subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "tests", "wine",
                                                     "make_template_prefix.py"), self.prefix_path],
                       check=True, stdout=subprocess.DEVNULL)
        self.path = self.prefix_path
        self.root = os.path.dirname(self.prefix_path)
        if os.environ.get("DISPLAY"):
            self.display = os.environ["DISPLAY"]
        else:
            self._start_xvfb()
        return self

    def __exit__(self, *exc):
        # The demo's prefix stays, for a look after the run.
        self.stop()


def say(text):
    print(f"demo: {text}", flush=True)


def window_rect(prefix):
    """The shown setup window's (x, y, width, height), asked of the X server
    rather than of Wine, so that looking does not slow the setup's start."""
    env = dict(os.environ, DISPLAY=prefix.display)
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Zorva Setup$"],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    if found.returncode != 0 or not found.stdout.split():
        return None
    geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", found.stdout.split()[0]],
                              env=env, stdout=subprocess.PIPE, text=True).stdout
    values = dict(line.split("=", 1) for line in geometry.split())
    return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))


def splash_shot(prefix, rect, path):
    x, y, width, height = rect
    prefix.screenshot(path, crop=f"{width}x{height}+{x}+{y}")
    say(f"screenshot {path}")


def tagged_copy(build, folder, name, url, headline=HEADLINE):
    """A copy tagged with the demo's launch argument, url and headline (None:
    the built-in one)."""
    out = os.path.join(folder, name)
    shown = ["--headline", headline] if headline else []
    subprocess.run([winetest.ZORVA_TAG, "sign", "--key", winetest.DEV_PRIVATE_KEY, *shown,
                    "--launch-argument", LAUNCH_ARGUMENT, "--download-url", url, build.exe, out],
                   check=True, stdout=subprocess.DEVNULL)
    say(f"tagged {out}: headline \"{headline or 'INSTALLING ZORVA'}\", URL {url}")
    return out


def start_setup(build, prefix, exe):
    command, env = prefix.command([exe])
    # No pipes: the installed application outlives the setup and would hold them.
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    rect = wait_until(lambda: window_rect(prefix), 60 * build.pace, interval=0.1)
    if not rect:
        raise SystemExit("demo: the setup window did not appear")
    say(f"setup window at ({rect[0]}, {rect[1]}), {rect[2]} x {rect[3]}")
    return process, rect


def normal_run(build, prefix, server, out):
    exe = tagged_copy(build, out, "ZorvaSetup-demo.exe", server.url("/ZorvaInstaller.exe"))
    started = time.monotonic()
    process, rect = start_setup(build, prefix, exe)
    shown = time.monotonic()
    time.sleep(0.2 * build.pace)  # the first paint
    splash_shot(prefix, rect, os.path.join(out, "1-start.png"))
    time.sleep(max(0.0, DOWNLOAD_SECONDS / 2 - (time.monotonic() - shown)))
    splash_shot(prefix, rect, os.path.join(out, "2-mid-download.png"))
    process.wait(timeout=(DOWNLOAD_SECONDS + 60) * build.pace)
    say(f"setup exited with {process.returncode} after {time.monotonic() - started:.1f} s")
    product = os.path.join(prefix.local_appdata, "Zorva")
    for folder, _, files in sorted(os.walk(product)):
        for name in sorted(files):
            say(f"installed {os.path.relpath(os.path.join(folder, name), prefix.local_appdata)}")
    app_window = wait_until(lambda: subprocess.run(
        ["xdotool", "search", "--name", "^Zorva$"], env=dict(os.environ, DISPLAY=prefix.display),
        stdout=subprocess.DEVNULL).returncode == 0, 15, interval=0.5)
    if app_window:
        time.sleep(1)
        prefix.screenshot(os.path.join(out, "3-application.png"))
        say(f"screenshot {os.path.join(out, '3-application.png')} (the demo application, "
            f"started by Update.exe with zorva://{LAUNCH_ARGUMENT})")
    else:
        say("the demo application's window did not show")


def failed_run(build, prefix, server, out):
    # The built-in headline: the failure headline is told from it by its width
    # on screen, and the demo's own is about as wide.
    exe = tagged_copy(build, out, "ZorvaSetup-missing.exe", server.url("/missing.exe"), headline=None)
    process, rect = start_setup(build, prefix, exe)
    shot = os.path.join(out, "4-failed.png")
    # The response's 404 ends the download at once: a missing installer is
    # not asked for again.
    failed = wait_until(lambda: splash_run.failure_shown(
        splash_run.Shot(prefix.screenshot(shot, crop="{2}x{3}+{0}+{1}".format(*rect)))),
        10 * build.pace, interval=1.0)
    say(f"screenshot {shot}" + ("" if failed else " (the failure texts did not show)"))
    prefix.run([winetest.program("window_poke"), "close"])
    process.wait(timeout=30 * build.pace)
    say(f"after a failed download, a close ended the setup with {process.returncode}")


def main():
    args = sys.argv[1:]
    build = splash_run.WIN32 if "--win32" in args else splash_run.WIN64
    args = [arg for arg in args if arg != "--win32"]
    if len(args) > 1 or any(arg.startswith("-") for arg in args):
        raise SystemExit("usage: demo.py [--win32] [OUTPUT_DIR]")
    if build is splash_run.WIN32 and (why := winetest.why_i386_cannot_run()):
        raise SystemExit(f"demo: --win32 cannot run here, since this machine cannot run 32-bit code: {why}")
    out = os.path.abspath(args[0] if args else os.path.join(SOURCE_DIR, "demo-output"))
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    with open(winetest.program("demo_installer"), "rb") as f:
        installer = f.read()
    route = Route(installer + bytes(INSTALLER_SIZE - len(installer)), chunk=32 * 1024,
                  delay=DOWNLOAD_SECONDS * 32 * 1024 / INSTALLER_SIZE)
    say(f"output folder {out}")
    with HttpServer({"/ZorvaInstaller.exe": route}) as server, \
            DemoPrefix(os.path.join(out, "wine-prefix")) as prefix:
        say(f"serving a {INSTALLER_SIZE // 1024} KB demo installer over about "
            f"{DOWNLOAD_SECONDS} s at {server.url('/ZorvaInstaller.exe')}")
        say(f"Wine on display {prefix.display}")
        say(f"running {os.path.relpath(build.exe, SOURCE_DIR)}" + (
            ": the 32-bit loader runs under QEMU's emulation here" if build is splash_run.WIN32
            else ""))
        normal_run(build, prefix, server, out)
        prefix.stop_programs()
        failed_run(build, prefix, server, out)
    shutil.rmtree(os.path.join(out, "wine-prefix"), ignore_errors=True)
    say(f"done; screenshots in {out}")


if __name__ == "__main__":
    main()
