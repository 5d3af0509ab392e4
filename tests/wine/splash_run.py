"""What the tests of the running setup share: a prepared prefix (a recorder
as Update.exe), a served installer, the setup window driven from outside, and
screenshots read region by region.

Screenshots are compared with tolerances, never glyph by glyph: text is found
as the bounding box of light grey pixels in a band, the logo as colourful
pixels, the background as pixels of exactly its colour."""
import contextlib
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import winetest
from winetest import wait_until

BACKGROUND = (0x24, 0x24, 0x24)
INSTALLER_SIZE = 2 * 1024 * 1024


# Screenshots ---------------------------------------------------------------
class Shot:
    """An RGB screenshot (decoded through ImageMagick's PPM output)."""

    def __init__(self, png_path):
        ppm = subprocess.run(["convert", png_path, "-depth", "8", "ppm:-"], check=True,
                             stdout=subprocess.PIPE).stdout
        fields, offset = [], 0
        while len(fields) < 4:  # P6, width, height, maximum
            while ppm[offset:offset + 1].isspace():
                offset += 1
            end = offset
            while not ppm[end:end + 1].isspace():
                end += 1
            fields.append(ppm[offset:end])
            offset = end
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = ppm[offset + 1:]
        self.path = png_path

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.pixels[i:i + 3])

    def points(self, left, top, width, height):
        for y in range(max(top, 0), min(top + height, self.height)):
            for x in range(max(left, 0), min(left + width, self.width)):
                yield x, y, self.pixel(x, y)

    def share_of(self, region, predicate):
        hits = total = 0
        for _, _, rgb in self.points(*region):
            total += 1
            hits += bool(predicate(rgb))
        return hits / total if total else 0.0

    def box_of(self, region, predicate):
        """(left, top, right, bottom) of the matching pixels, right and bottom
        exclusive; None when none match."""
        xs, ys = [], []
        for x, y, rgb in self.points(*region):
            if predicate(rgb):
                xs.append(x)
                ys.append(y)
        if not xs:
            return None
        return min(xs), min(ys), max(xs) + 1, max(ys) + 1

    def rows_of(self, region, predicate):
        """The runs of consecutive rows holding a matching pixel, as (top, bottom)."""
        left, top, width, height = region
        runs, start = [], None
        for y in range(top, top + height + 1):
            hit = y < top + height and any(predicate(self.pixel(x, y))
                                           for x in range(left, left + width))
            if hit and start is None:
                start = y
            elif not hit and start is not None:
                runs.append((start, y))
                start = None
        return runs

    def region_bytes(self, region):
        return bytes(v for _, _, rgb in self.points(*region) for v in rgb)


def is_text(rgb):
    """Light grey: the headline and progress text (0xD9) and the hint (0xB3)."""
    return min(rgb) >= 0x80 and max(rgb) - min(rgb) <= 0x30


def is_logo(rgb):
    """Clearly coloured: only the logo is not grey."""
    return max(rgb) - min(rgb) >= 0x40


def is_background(rgb):
    return rgb == BACKGROUND


def read_text(shot, region, language):
    """The lines tesseract reads (`language`: eng, deu, jpn, ...) in the
    region (left, top, width, height) of a screenshot, the light text on the
    dark splash inverted and enlarged first; empty lines left out."""
    left, top, width, height = region
    prepared = f"{shot.path}.{language}.png"
    subprocess.run(["convert", shot.path, "-crop", f"{width}x{height}+{left}+{top}", "+repage",
                    "-colorspace", "Gray", "-negate", "-resize", "300%", prepared], check=True)
    read = subprocess.run(["tesseract", prepared, "-", "-l", language, "--psm", "6"], check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    return [line.strip() for line in read.decode().splitlines() if line.strip()]


def text_box(shot, centre_y, font_pixels):
    """Bounding box of the text centred near centre_y, in a band of one font size each way."""
    return shot.box_of((0, centre_y - font_pixels, shot.width, 2 * font_pixels), is_text)


# At 24 pixels "FAILED TO DOWNLOAD" is about 270 pixels wide, "INSTALLING
# ZORVA" about 230; ":(" is a narrow pair, "0%" twice as wide.
FAILURE_HEADLINE_MIN_WIDTH = 250
SAD_FACE_MAX_WIDTH = 25


def failure_shown(shot):
    """Whether a 96-DPI splash shows the failure texts."""
    headline = text_box(shot, 250, 24)
    progress = text_box(shot, 350, 30)
    return bool(headline and headline[2] - headline[0] >= FAILURE_HEADLINE_MIN_WIDTH and
                progress and progress[2] - progress[0] <= SAD_FACE_MAX_WIDTH)


def centre_x_tolerance(font_pixels):
    """Wine's GDI+ centres a line with its side padding (a sixth of the font
    size) on one side only, a few pixels right of the point."""
    return font_pixels / 4 + 2


def centre_of(box):
    left, top, right, bottom = box
    return (left + right) / 2, (top + bottom) / 2


# Which exe ------------------------------------------------------------------
class Build:
    """The exe a test runs, the folder of the helpers that must match its
    bitness (planted DLLs, the bare-name loader), and how much slower than
    the 64-bit twin it starts and reacts."""

    def __init__(self, name, exe, programs_dir, pace):
        self.name = name
        self.exe = exe
        self.programs_dir = programs_dir
        self.pace = pace

    def program(self, name):
        return os.path.join(self.programs_dir, name + ".exe")


WIN64 = Build("win64", winetest.SETUP_EXE, winetest.PROGRAMS_DIR, pace=1)
# The shipping exe runs on Wine's 32-bit loader, which QEMU emulates here: its
# window shows within a second, as the twin's does, and a normal run takes
# 15 s against the twin's 14 s; the pace leaves room for a loaded machine.
WIN32 = Build("win32", winetest.SHIPPING_EXE,
              os.path.join(winetest.WIN32_BUILD, "tests", "wine", "programs"), pace=2)
# ctest runs the tests of the shipping exe with ZORVA_WINE_BUILD=win32.
BUILD = WIN32 if os.environ.get("ZORVA_WINE_BUILD") == "win32" else WIN64
# The exit status that ctest counts as a skipped test (SKIP_RETURN_CODE).
SKIPPED = 77


# The last commit whose tag reader knows records 1 to 3 alone: its exe shows
# what a copy built before the splash's texts came does with a newer tag.
OLDER_COMMIT = "12d5021"
# The last commit whose reader knows records 1 to 3 and the splash's texts
# (17 to 20) but none of the records after them.
TEXTS_ONLY_COMMIT = "075f259"


def older_exe(commit=OLDER_COMMIT):
    """The exe under test as `commit` builds it."""
    folder = commit_build(commit, commit, "ZorvaSetup")
    return os.path.join(folder, "build", BUILD.name, "ZorvaSetup.exe")


def commit_build(commit, name, target, prepare=None):
    """The source folder of commit's files with `target` of the build under
    test built in it, once, inside the native build folder under `name`;
    prepare(folder), when given, changes the files first."""
    folder = os.path.join(winetest.NATIVE_BUILD, "older-exe", name)
    stamp = os.path.join(folder, f"built-{BUILD.name}-{target}")
    if not os.path.exists(stamp):
        if not os.path.isdir(folder):
            os.makedirs(folder)
            archive = subprocess.run(["git", "-C", winetest.SOURCE_DIR, "archive", commit],
                                     check=True, stdout=subprocess.PIPE).stdout
            subprocess.run(["tar", "-x", "-C", folder], input=archive, check=True)
            if prepare:
                prepare(folder)
        for step in (["cmake", "--preset", BUILD.name],
                     ["cmake", "--build", "--preset", BUILD.name, "-j2", "--target", target]):
            subprocess.run(step, cwd=folder, check=True, stdout=subprocess.DEVNULL)
        open(stamp, "w").close()
    return folder


def seconds(n):
    """n seconds of the 64-bit twin, in the time of the exe under test."""
    return n * BUILD.pace


if BUILD is WIN32 and (why := winetest.why_i386_cannot_run()):
    print(f"skipped: this machine cannot run 32-bit code: {why}")
    sys.exit(SKIPPED)


# Programs and the run ------------------------------------------------------
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"


def padded_installer():
    """The recorder, padded to INSTALLER_SIZE: the loader ignores the overlay,
    and a larger body gives the progress time to move."""
    with open(winetest.program("command_recorder"), "rb") as f:
        body = f.read()
    return body + bytes(INSTALLER_SIZE - len(body))


def slow_route(seconds):
    """The installer served over about `seconds`."""
    chunk = 64 * 1024
    return winetest.Route(padded_installer(), chunk=chunk, delay=seconds * chunk / INSTALLER_SIZE)


class Session:
    """A scratch folder, a fresh prefix and a loopback server for one test."""

    def __init__(self, folder, prefix, server):
        self.folder = folder
        self.prefix = prefix
        self.server = server

    def tagged_copy(self, path, key=winetest.DEV_PRIVATE_KEY, exe=None, texts=None, **fields):
        """A copy of the exe under test (or of exe) in the folder whose tag,
        signed by key, points at the server's path (or at path, a whole URL);
        fields may add headline and launch_argument, texts the splash's
        other texts (failure_text, hint, cancel_question, cancel_title) and
        any other option of sign; a list gives the option once per value."""
        out = os.path.join(self.folder, "ZorvaSetup.exe")
        url = path if "://" in path else self.server.url(path)
        args = [winetest.ZORVA_TAG, "sign", "--key", key, "--download-url", url]
        for field, value in dict(fields, **(texts or {})).items():
            for each in value if isinstance(value, list) else [value]:
                args += ["--" + field.replace("_", "-"), each]
        subprocess.run(args + [exe or BUILD.exe, out], check=True, stdout=subprocess.DEVNULL)
        return out

    @contextlib.contextmanager
    def running(self, exe, screen_reader=None, reader_acts=False, **extra_env):
        """The exe running; with screen_reader (seconds), a ScreenReader
        waiting for its window from before it starts, which with reader_acts
        does the default action once it has read the object last."""
        run = SetupRun(self.prefix, exe, screen_reader, reader_acts, **extra_env)
        try:
            yield run
        finally:
            run.kill()


@contextlib.contextmanager
def session(routes=None, proxy_login=None):
    """proxy_login: the server is the prefix's system proxy too, and asks
    for that login (winetest.HttpServer)."""
    with tempfile.TemporaryDirectory() as folder, winetest.WinePrefix() as prefix, \
            winetest.HttpServer(routes, proxy_login) as server:
        if proxy_login:
            prefix.reg_add(INTERNET_SETTINGS, "ProxyEnable", 1, "REG_DWORD")
            prefix.reg_add(INTERNET_SETTINGS, "ProxyServer", f"127.0.0.1:{server.port}")
        yield Session(folder, prefix, server)


class SetupRun:
    """The setup exe running in a prefix, with a recorder standing in for the
    installer (served) and for Update.exe (placed in the product folder)."""

    def __init__(self, prefix, exe, screen_reader=None, reader_acts=False, **extra_env):
        self.prefix = prefix
        self.record = os.path.join(prefix.root, "record.txt")
        self.ran_copy = os.path.join(prefix.root, "ran-installer.exe")
        product = os.path.join(prefix.local_appdata, "Zorva")
        os.makedirs(product, exist_ok=True)
        shutil.copy(winetest.program("command_recorder"), os.path.join(product, "Update.exe"))
        prefix.boot()
        self.screen_reader = ScreenReader(prefix, screen_reader, reader_acts) if screen_reader else None
        self.later_starts = []
        self.process = self._start(exe, **extra_env)
        self.rect = None

    def _start(self, exe, **extra_env):
        return self.prefix.start([exe], ZORVA_RECORD_FILE=self.prefix.windows_path(self.record),
                                 ZORVA_RECORD_COPY=self.prefix.windows_path(self.ran_copy),
                                 **extra_env)

    def start_again(self, exe, **extra_env):
        """Starts exe once more beside the run, as a second double-click,
        with the same recorders; returns its Popen, ended with the run."""
        process = self._start(exe, **extra_env)
        self.later_starts.append(process)
        return process

    def poke(self, *args):
        """Runs window_poke; returns (exit code, output)."""
        return self.prefix.run([winetest.program("window_poke")] + list(args), timeout=60)

    def window_rect(self):
        code, out = self.poke("rect")
        return tuple(int(v) for v in out.split()) if code == 0 else None

    def wait_for_window(self, timeout=60):
        """Waits until the window is shown and painted; returns (x, y, width,
        height). Timeouts here are in the 64-bit twin's seconds."""
        # A second program started at the very moment the setup starts may
        # find the session half up; give the setup a head start.
        time.sleep(2.0)
        self.rect = wait_until(lambda: self.process.poll() is None and self.window_rect(),
                               seconds(timeout), interval=0.5)
        if not self.rect:
            raise AssertionError("the setup window did not appear")
        time.sleep(1.0)
        return self.rect

    def shot(self, path):
        x, y, width, height = self.rect
        return Shot(self.prefix.screenshot(path, crop=f"{width}x{height}+{x}+{y}"))

    def wait_for_exit(self, timeout=60):
        """The exit code, or None when the process still runs after timeout.
        Any end but 0 is the run's own, whichever loader ran it; its last
        output is printed."""
        try:
            self.process.communicate(timeout=seconds(timeout))
        except subprocess.TimeoutExpired:
            return None
        code = self.process.returncode
        if code != 0:
            with open(self.process.output_path, errors="replace") as f:
                print("the run's last output:", *f.read().splitlines()[-8:], sep="\n",
                      file=sys.stderr)
        return code

    def question(self, timeout=15):
        """The question box's description, or None when none opens."""
        def open_question():
            code, out = self.poke("question")
            return out if code == 0 else None

        return wait_until(open_question, seconds(timeout), interval=0.5)

    def question_closed(self, timeout=5):
        """Whether the question box is gone within timeout: an answer is
        posted to it, so it may still be open right after."""
        return wait_until(lambda: self.poke("question")[0] == 3, seconds(timeout), interval=0.5)

    def recorded(self):
        """[(program path, command line)] of every recorder start so far."""
        return winetest.read_records(self.record)

    def ran_sha256(self):
        """The SHA-256 of the installer that ran, as its copy of itself
        shows; None when none ran."""
        if not os.path.exists(self.ran_copy):
            return None
        with open(self.ran_copy, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()

    def kill(self):
        processes = [self.process] + self.later_starts + (
            [self.screen_reader.process] if self.screen_reader else [])
        for process in processes:
            if process.poll() is None:
                process.kill()
            process.communicate()


# The taskbar button --------------------------------------------------------
TASKBAR_LIST_CLASS = "{56FDF344-FD6D-11D0-958A-006097C9A090}"
# The shell's TBPF_* values, as the stand-in records them.
NO_PROGRESS, MOVING, NORMAL, ERROR, PAUSED = 0, 1, 2, 4, 8
# Wine then prints each library a process asks to load, under the name it
# asked for: 'load_dll looking for L"C:\\windows\\system32\\ole32.dll"'.
LIBRARY_REQUESTS = {"WINEDEBUG": "+module"}


def stand_in_taskbar_list(prefix):
    """Registers the tests' taskbar list (programs/taskbar_list_dll_win.cpp)
    for the exe under test in place of Wine's, which tells only of its first
    call; returns the environment under which a run's calls on it are
    recorded, to read with TaskbarCalls(prefix)."""
    classes = winetest.MACHINE_CLASSES + (r"\Wow6432Node" if BUILD is WIN32 else "")
    key = rf"{classes}\CLSID\{TASKBAR_LIST_CLASS}\InprocServer32"
    prefix.reg_add(key, None, prefix.windows_path(os.path.join(BUILD.programs_dir, "taskbar_list.dll")))
    prefix.reg_add(key, "ThreadingModel", "Apartment")
    return {"ZORVA_TASKBAR_RECORD": prefix.windows_path(os.path.join(prefix.root, "taskbar.txt"))}


class TaskbarCalls:
    """The calls the stand-in taskbar list recorded so far: every line, and
    the values of SetProgressState and of SetProgressValue (of 100) in order."""

    def __init__(self, prefix):
        path = os.path.join(prefix.root, "taskbar.txt")
        with open(path) if os.path.exists(path) else contextlib.nullcontext([]) as f:
            self.lines = [line.strip() for line in f]
        self.states = [int(line.split()[1]) for line in self.lines
                       if line.startswith("SetProgressState ")]
        self.values = [int(line.split()[1]) for line in self.lines
                       if line.startswith("SetProgressValue ")]


def check_taskbar_calls(test, calls, states):
    """The list was initialised first, then told `states` in this order, and
    values of 100 that only grow, each on the window's thread; nothing else."""
    test.assertEqual(calls.lines[:1], ["HrInit"], calls.lines)
    test.assertEqual(calls.states, states, calls.lines)
    test.assertEqual(calls.values, sorted(calls.values), "the value went back")
    for line in calls.lines[1:]:
        test.assertRegex(line, r"^SetProgress(State \d+|Value \d+ 100)$", calls.lines)


def asked_for_by_path(process, library):
    """Whether a run started with LIBRARY_REQUESTS loaded `library` by a
    full path, as the program loads system DLLs (their own dependencies come
    by bare name)."""
    with open(process.output_path, errors="replace") as f:
        return any("load_dll looking for" in line and f'\\{library}"' in line.lower() for line in f)


class AttentionRequests:
    """What the splash asks of the window manager, as an X client on the root
    window sees it: Wine's FlashWindowEx sends a _NET_WM_STATE message that
    asks for attention (no window manager runs, so nothing else does)."""

    def __init__(self, prefix):
        self.path = os.path.join(prefix.root, "xev.txt")
        with open(self.path, "w") as out:
            self.process = subprocess.Popen(["xev", "-display", prefix.display, "-root", "-event",
                                             "substructure"], stdout=out, stderr=subprocess.STDOUT)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait()

    def count(self):
        with open(self.path, errors="replace") as f:
            return f.read().count("(_NET_WM_STATE)")


FAILURE_HEADLINE = "FAILED TO DOWNLOAD"
# The hint as the screen reader prints it, CR and LF escaped.
HINT = r"PLEASE WAIT WHILE THE REQUIRED\r\nFILES ARE DOWNLOADED"
PROGRESS_BAR_ROLE = "48"


class ScreenReader:
    """The tests' screen reader (programs/screen_reader_win.cpp) as assistive
    technology meets the setup: out of process, already there when the setup
    starts, listening to its changes for `seconds` and ending at a name
    change or at the setup's end."""

    def __init__(self, prefix, seconds, act=False):
        self.process = prefix.start([winetest.program("screen_reader"), str(int(seconds))] +
                                    (["act"] if act else []))
        if not wait_until(self.waiting, 30, interval=0.05):
            raise AssertionError("the screen reader did not start")

    def waiting(self):
        with open(self.process.output_path, errors="replace") as f:
            return f.read().startswith("waiting")

    def reading(self, timeout):
        """Waits for the reader's end; returns its Reading, whose code is
        None when the reader had to be ended after timeout."""
        try:
            self.process.communicate(timeout=timeout)
            code = self.process.returncode
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.communicate()
            code = None
        with open(self.process.output_path, encoding="utf-8", errors="replace") as f:
            return Reading(code, f.read())


class Reading:
    """The reader's exit code, what it read first and last ({property:
    text}), and the changes it heard ([(property, text read as it was
    heard)])."""

    def __init__(self, code, output):
        self.code = code
        self.output = output
        self.first, self.last, self.heard = {}, {}, []
        self.did = {}
        for line in output.splitlines():
            when, _, field = line.partition(" ")
            name, _, text = field.partition("=")
            if when == "heard":
                self.heard.append((name, text))
            elif when in ("first", "last", "did"):
                getattr(self, when)[name] = text

    def heard_texts(self, name):
        return [text for heard, text in self.heard if heard == name]


# The browser ------------------------------------------------------------
class BrowserRecorder:
    """Stands in for the person's browser: Wine's shell hands an http(s) URL
    to winebrowser, which runs the (Unix) programs named in
    HKCU\Software\Wine\WineBrowser "Browsers" with the URL as their
    argument; here a script that writes it down, a line each."""

    def __init__(self, prefix):
        self.path = os.path.join(prefix.root, "opened.txt")
        script = os.path.join(prefix.root, "browser.sh")
        with open(script, "w") as f:
            f.write(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{self.path}"\n')
        os.chmod(script, 0o755)
        prefix.reg_add(r"HKCU\Software\Wine\WineBrowser", "Browsers", script)

    def opened(self):
        """The URLs opened so far, in order."""
        if not os.path.exists(self.path):
            return []
        with open(self.path) as f:
            return f.read().splitlines()


def x_input(prefix, *args):
    """Keyboard and mouse input on the prefix's X display, as a person's."""
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True,
                   env=dict(os.environ, DISPLAY=prefix.display))


def percent_of(progress_text):
    """The whole percentage a progress text shows ("37%" 37, ":)" 100), or
    None for any other text."""
    if progress_text == ":)":
        return 100
    match = re.fullmatch(r"([1-9]?[0-9])%", progress_text)
    return int(match.group(1)) if match else None


def check_commands(test, recorded, launch_argument):
    """The installer ran with --silent, then Update.exe with the deep link
    carrying launch_argument as it stands."""
    test.assertEqual(len(recorded), 2, recorded)
    (installer, installer_line), (launcher, launcher_line) = recorded
    test.assertEqual(installer_line, f'"{installer}" --silent')
    test.assertTrue(launcher.lower().endswith(r"\zorva\update.exe"), launcher)
    test.assertEqual(launcher_line, f'"{launcher}" --processStart "Zorva.exe" '
                                    f'--process-start-args "zorva://{launch_argument}"')


def authenticode_signed(exe, folder):
    """`exe` signed with a throwaway code-signing certificate (Wine checks none)."""
    key, certificate, signed = (os.path.join(folder, name) for name in ("code.key", "code.pem", "signed.exe"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", certificate, "-days", "2", "-subj", "/CN=Zorva Test Signing",
                    "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["osslsigncode", "sign", "-certs", certificate, "-key", key, "-in", exe, "-out", signed],
                   check=True, stdout=subprocess.DEVNULL)
    return signed


def artifacts_dir(test_name):
    """Where a test keeps its screenshots (inside the native build)."""
    folder = os.path.join(winetest.NATIVE_BUILD, "wine-artifacts", BUILD.name, test_name)
    os.makedirs(folder, exist_ok=True)
    return folder
