"""What the Wine tests share: a fresh prefix with its own display, a loopback
HTTP server with scripted answers, and the paths of the built programs."""
import base64
import contextlib
import getpass
import http.server
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import pe_file  # noqa: E402

SOURCE_DIR = os.environ.get("ZORVA_SOURCE_DIR",
                            os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
TEMPLATE = os.environ.get("ZORVA_WINE_TEMPLATE",
                          os.path.join(SOURCE_DIR, "build", "native", "wine-template"))
NATIVE_BUILD = os.environ.get("ZORVA_NATIVE_BUILD", os.path.join(SOURCE_DIR, "build", "native"))
WIN64_BUILD = os.path.join(SOURCE_DIR, "build", "win64")
SETUP_EXE = os.path.join(WIN64_BUILD, "ZorvaSetup.exe")
PROGRAMS_DIR = os.path.join(WIN64_BUILD, "tests", "wine", "programs")
WIN32_BUILD = os.path.join(SOURCE_DIR, "build", "win32")
SHIPPING_EXE = os.path.join(WIN32_BUILD, "ZorvaSetup.exe")
ZORVA_TAG = os.path.join(NATIVE_BUILD, "zorva-tag")
DEV_PRIVATE_KEY = os.path.join(SOURCE_DIR, "keys", "development", "private.pem")


# Wine's two loaders. Debian's `wine` wrapper picks the 32-bit one whenever it
# is installed, even for 64-bit programs and the builtins of a 64-bit prefix,
# which then crawl or hang: every start names its loader.
WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"


def program(name):
    """Path of a helper program built from tests/wine/programs/<name>_win.cpp."""
    return os.path.join(PROGRAMS_DIR, name + ".exe")


def is_i386_exe(path):
    """Whether path is a PE file for i386 (a builtin's bare name is not)."""
    try:
        return pe_file.load(path).machine == pe_file.MACHINE_I386
    except (OSError, ValueError):
        return False


# Where scripts/install-prereqs.sh notes why it could not install the 32-bit set.
PREREQS_32_NOTE = "/run/zorva-prereqs-32bit.note"


def why_i386_cannot_run():
    """None where 32-bit Windows programs run here: the kernel hands i386 ELF
    programs to QEMU's emulator, and Wine's 32-bit loader is installed.
    Otherwise what is missing, with the install script's reason if it gave one."""
    if not os.access(WINE32, os.X_OK):
        try:
            with open(PREREQS_32_NOTE) as f:
                return f"no 32-bit Wine: {f.read().strip()}"
        except OSError:
            return "no 32-bit Wine (wine32:i386); scripts/install-prereqs.sh installs it"
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as f:
            if f.readline().strip() == "enabled":
                return None
    except OSError:
        pass
    return "no qemu-i386 registered with binfmt_misc; scripts/install-prereqs.sh registers it"


def loader_for(program_path):
    """The 32-bit loader (emulated here, so slow) for i386 exes; the 64-bit one
    for everything else, Wine's own builtins (reg, cmd) included."""
    return WINE32 if is_i386_exe(program_path) else WINE64


def wait_until(predicate, timeout, interval=0.1):
    """Polls predicate until it returns something true; returns that, or None at timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


# Where the whole prefix's classes live; HKCR reads them (see register_url_protocol).
MACHINE_CLASSES = r"HKLM\Software\Classes"


class WinePrefix:
    """A fresh copy of the template prefix with an Xvfb display of its own.

    Use as a context manager; everything it started is ended on exit."""

    def __init__(self, screen="1920x1080x24"):
        self.screen = screen
        self.root = None
        self.xvfb = None
        self.display = None

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="zorva-wine-")
        self.path = os.path.join(self.root, "prefix")
        if not os.path.isdir(TEMPLATE):
            raise RuntimeError(f"no template prefix at {TEMPLATE}; run make_template_prefix.py")
        subprocess.run(["cp", "-a", TEMPLATE, self.path], check=True)
        self._start_xvfb()
        return self

    def __exit__(self, *exc):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def stop(self):
        """Ends every Windows program of the prefix, and the Xvfb if it has one."""
        self.stop_programs()
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()

    def boot(self):
        """Starts the prefix's session (Wine's services) with a program that
        does nothing: a program started while a fresh prefix boots may be
        ended by the boot."""
        self.run(["cmd", "/c", "exit"])

    def stop_programs(self):
        """Ends every Windows program of the prefix and waits for Wine's server."""
        for action in ("-k", "-w"):
            subprocess.run(["wineserver", action], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen, "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number

    def env(self, **extra):
        env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=")
        if self.display:
            env["DISPLAY"] = self.display
        env.update(extra)
        return env

    # Paths ------------------------------------------------------------
    @property
    def drive_c(self):
        return os.path.join(self.path, "drive_c")

    @property
    def local_appdata(self):
        """Unix path of the prefix's LOCALAPPDATA (C:\\users\\<user>\\AppData\\Local)."""
        return os.path.join(self.drive_c, "users", getpass.getuser(), "AppData", "Local")

    @staticmethod
    def windows_path(unix_path):
        """Z: maps the Unix root in every prefix."""
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    # Running ----------------------------------------------------------
    def command(self, args, **extra_env):
        """The command line and environment that start args[0] with its own loader.

        WINELOADER names that loader, so that Wine finds the other one (the
        same path without, or with, a trailing "64") for a child of the other
        bitness, such as a 64-bit installer that the 32-bit setup starts."""
        loader = loader_for(args[0])
        return [loader] + list(args), self.env(WINELOADER=loader, **extra_env)

    # Output goes to files, never pipes: Wine's services inherit the standard
    # handles of the program that starts them and hold a pipe open long after
    # it ends.
    def start(self, args, **extra_env):
        """Starts a Windows program; returns the Popen of its wine process,
        whose output goes to the file named by its output_path."""
        command, env = self.command(args, **extra_env)
        output_path = os.path.join(self.root, f"output-{time.monotonic_ns()}.txt")
        with open(output_path, "wb") as output:
            process = subprocess.Popen(command, env=env, stdout=output, stderr=subprocess.STDOUT)
        process.output_path = output_path
        return process

    def run(self, args, timeout=120, **extra_env):
        """Runs a Windows program to its end; returns (exit code, stdout text)."""
        command, env = self.command(args, **extra_env)
        with tempfile.TemporaryFile() as output:
            code = subprocess.run(command, env=env, stdout=output, stderr=subprocess.DEVNULL,
                                  timeout=timeout).returncode
            output.seek(0)
            return code, output.read().decode("utf-8", "replace")

    def reg_add(self, key, value, data, kind="REG_SZ"):
        args = ["reg", "add", key, "/f", "/t", kind, "/d", str(data)]
        args[3:3] = ["/ve"] if value is None else ["/v", value]
        code, _ = self.run(args)
        if code != 0:
            raise RuntimeError(f"reg add {key} failed")

    def set_dpi(self, dpi):
        self.reg_add(r"HKCU\Control Panel\Desktop", "LogPixels", dpi, "REG_DWORD")

    def register_url_protocol(self, scheme, handler_exe_unix_path, classes=r"HKCU\Software\Classes"):
        """Makes `scheme:` links open with the given program, which gets the link as %1.

        Wine 8's ShellExecute looks only at HKCR, which does not merge the
        per-user HKCU classes: pass classes=MACHINE_CLASSES for links that a
        program opens through the shell."""
        key = rf"{classes}\{scheme}"
        self.reg_add(key, None, f"URL:{scheme}")
        self.reg_add(key, "URL Protocol", "")
        command = f'"{self.windows_path(handler_exe_unix_path)}" "%1"'
        self.reg_add(key + r"\shell\open\command", None, command)

    def screenshot(self, out_path, crop=None):
        """Saves the whole screen, or the WxH+X+Y crop of it, as PNG."""
        args = ["import", "-display", self.display, "-window", "root"]
        if crop:
            args += ["-crop", crop, "+repage"]
        subprocess.run(args + [out_path], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return out_path


# HTTP ---------------------------------------------------------------------
class Route:
    """A scripted answer: a status, after a pause when head_delay says so, a
    body sent in chunks with a pause after each, and optionally a cut after
    some bytes (the connection just closes).

    validators: headers that name the body's version ({"ETag": ..., 
    "Last-Modified": ...}), sent with every answer. ranges: how a request
    with "Range: bytes=N-" is answered: None ignores it (a 200 of the whole
    body); "honour" sends a 206 of the rest when If-Range names one of the
    validators, else a 200; "start at 0" claims a 206 for every byte,
    "bytes 0-END/LENGTH", and sends them all."""

    def __init__(self, body=b"", status=200, chunk=65536, delay=0.0, cut_after=None,
                 hold_open=False, content_length=None, validators=None, ranges=None,
                 head_delay=0.0):
        self.body = body
        self.head_delay = head_delay  # seconds before the status line
        self.status = status
        self.chunk = chunk
        self.delay = delay
        self.cut_after = cut_after
        self.hold_open = hold_open
        self.content_length = len(body) if content_length is None else content_length
        self.validators = dict(validators or {})
        self.ranges = ranges
        self.requests = 0
        self.request_times = []  # time.monotonic() of each request's arrival
        # (Range, If-Range) of each request, None where absent, and the body
        # bytes sent in all.
        self.range_headers = []
        self.bytes_sent = 0

    def answer(self, index):
        """The route that answers request number index (from 0)."""
        return self

    def part(self, range_header, if_range):
        """(status, extra headers, body) of the answer to a request with these headers."""
        start = None
        if self.ranges and range_header and range_header.startswith("bytes=") and \
                range_header.endswith("-"):
            start = int(range_header[len("bytes="):-1])
        if start is None or start >= len(self.body) or \
                (self.ranges == "honour" and if_range not in self.validators.values()):
            return self.status, {}, self.body
        if self.ranges == "start at 0":
            start_claimed, rest = 0, self.body
        else:
            start_claimed, rest = start, self.body[start:]
        end = start_claimed + len(rest) - 1
        return 206, {"Content-Range": f"bytes {start_claimed}-{end}/{len(self.body)}"}, rest


class Answers(Route):
    """Answers that differ per request: the n-th request gets the n-th route,
    and every request after the last one gets the last."""

    def __init__(self, *routes):
        super().__init__()
        self.routes = routes

    def answer(self, index):
        return self.routes[min(index, len(self.routes) - 1)]


class HttpServer:
    """A loopback HTTP server in a thread, answering each path with its Route.

    With proxy_login (user, password) it is also a proxy that asks for that
    login: a request for an absolute URL is answered from the routes by its
    path, and one without the login's Proxy-Authorization with a 407."""

    def __init__(self, routes=None, proxy_login=None):
        self.routes = dict(routes or {})
        self.request_lines = []  # as they arrived, e.g. "GET /installer.exe HTTP/1.1"
        # The Proxy-Authorization of each request (None where absent).
        self.proxy_authorizations = []
        login = proxy_login and "Basic " + base64.b64encode(":".join(proxy_login).encode()).decode()
        self.closing = threading.Event()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                server.request_lines.append(self.requestline)
                if login:
                    given = self.headers.get("Proxy-Authorization")
                    server.proxy_authorizations.append(given)
                    if given != login:
                        self.send_response(407)
                        self.send_header("Proxy-Authenticate", 'Basic realm="zorva-test"')
                        self.send_header("Content-Length", "0")
                        self.end_headers()
                        return
                entry = server.routes.get(urllib.parse.urlsplit(self.path).path)
                if entry is None:
                    entry = Route(b"not found", status=404)
                entry.requests += 1
                entry.request_times.append(time.monotonic())
                requested = (self.headers.get("Range"), self.headers.get("If-Range"))
                entry.range_headers.append(requested)
                route = entry.answer(entry.requests - 1)
                if route.head_delay and server.closing.wait(route.head_delay):
                    return
                status, extra, body = route.part(*requested)
                self.send_response(status)
                self.send_header("Content-Type", "application/octet-stream")
                length = route.content_length if body is route.body else len(body)
                self.send_header("Content-Length", str(length))
                self.send_header("Cache-Control", "no-store")
                for name, value in list(route.validators.items()) + list(extra.items()):
                    self.send_header(name, value)
                if route.ranges:
                    self.send_header("Accept-Ranges", "bytes")
                self.end_headers()
                sent = 0
                try:
                    while sent < len(body):
                        if route.cut_after is not None and sent >= route.cut_after:
                            self.close_connection = True
                            return
                        end = sent + route.chunk
                        if route.cut_after is not None:
                            end = min(end, route.cut_after)
                        piece = body[sent:end]
                        self.wfile.write(piece)
                        self.wfile.flush()
                        sent += len(piece)
                        entry.bytes_sent += len(piece)
                        if route.delay and server.closing.wait(route.delay):
                            return
                    while route.hold_open and not server.closing.wait(0.2):
                        pass
                except (BrokenPipeError, ConnectionResetError):
                    pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.closing.set()
        self.httpd.shutdown()
        self.httpd.server_close()


def read_records(path):
    """[(program path, command line)] that command_recorder.exe wrote to path, in order."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [tuple(line.split("\t", 1)) for line in f.read().splitlines() if line.strip()]


def unused_port():
    """A loopback port with nothing listening on it."""
    with contextlib.closing(socket.socket()) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
