"""The splash on the networks people have, with the test build whose stall
bound and waits are seconds (tests/wine/seams/short_download_schedule_win.cpp):
a server that stops sending, a transfer cut once, a server busy once, a
missing installer and a refused connection; and a transfer cut at 85 % whose
rest is fetched with a checked Range (pinned too), by a server that ignores
Range, after the file changed, and by a server whose 206 starts elsewhere.
Each run either installs and hands off, the installer that ran being the
bytes served (by their hash), or shows the failure texts within the
schedule's bound, after as many requests as the schedule allows. One stall meets the shipping
schedule's 30-second bound, and shows the failure texts within 75 seconds.
Wine's WinINet goes on waiting in a read whose session was closed, so here a
stall ends by the watchdog's take-over, the stall bound and its grace after
the last byte, without the retry Windows makes.
Each case prints how long it took, from the first request (the exe's start,
when nothing answers) to what it ends in."""
import base64
import hashlib
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402
from splash_run import failure_shown  # noqa: E402

SHORT_SCHEDULE_EXE = splash_run.BUILD.program("ZorvaSetupShortDownloadSchedule")
PAUSED_EXE = splash_run.BUILD.program("ZorvaSetupPausedBeforeStrictHold")
# The test build's schedule: a 5 s stall bound and 2 s of grace, waits of
# 0.5 s and 1 s.
SHORT_STALL, SHORT_GRACE, SHORT_WAITS = 5, 2, (0.5, 1)
# The shipping schedule's.
STALL, GRACE, WAITS = 30, 10, (2, 5)
# The screenshots, the emulated exe's pace and a loaded machine, beyond what
# the schedule itself takes.
SLACK = splash_run.seconds(3)


def stalling_route():
    """A quarter of the installer, then neither another byte nor a close."""
    body = splash_run.padded_installer()
    return winetest.Route(body[:len(body) // 4], content_length=len(body), hold_open=True)


def cut_route():
    """A quarter of the installer, then the connection closes."""
    body = splash_run.padded_installer()
    return winetest.Route(body, cut_after=len(body) // 4)


def served_route():
    return winetest.Route(splash_run.padded_installer())


# Two versions of the installer, told apart by their validators and bytes.
V1 = {"ETag": '"v1"', "Last-Modified": "Wed, 09 Dec 2026 20:00:00 GMT"}
V2 = {"ETag": '"v2"', "Last-Modified": "Wed, 09 Dec 2026 21:00:00 GMT"}


def second_version():
    body = splash_run.padded_installer()
    return body[:-4096] + b"v2" * 2048


def cut_at_85(body=None, validators=V1):
    body = body or splash_run.padded_installer()
    return winetest.Route(body, cut_after=len(body) * 85 // 100, validators=validators)


def resumed_route():
    """Cut at 85 %, then the rest for a request that names the same version."""
    return winetest.Answers(cut_at_85(), winetest.Route(splash_run.padded_installer(),
                                                        validators=V1, ranges="honour"))


ASKED_REST = ("bytes=1782579-", '"v1"')  # 85 % of the 2 MB installer
ASKED_ALL = (None, None)


# name, route (None: nothing listens), whether it installs, requests, and
# the schedule's time to the failure texts
CASES = [
    ("stall", stalling_route, False, 1, SHORT_STALL + SHORT_GRACE),
    ("cut then served", lambda: winetest.Answers(cut_route(), served_route()), True, 2, None),
    ("503 then served", lambda: winetest.Answers(winetest.Route(b"busy", status=503),
                                                  served_route()), True, 2, None),
    ("404", lambda: winetest.Route(b"not found", status=404), False, 1, 0),
    ("refused", None, False, 0, sum(SHORT_WAITS)),
]

# Cut at 85 %, then: name, route, the requests' (Range, If-Range), the bytes
# that must run, and the most bytes sent, in files.
RESUMED_CASES = [
    ("resumed", resumed_route, [ASKED_ALL, ASKED_REST], splash_run.padded_installer, 1.2),
    ("Range ignored", lambda: winetest.Answers(
        cut_at_85(), winetest.Route(splash_run.padded_installer(), validators=V1)),
     [ASKED_ALL, ASKED_REST], splash_run.padded_installer, 1.9),
    ("changed in between", lambda: winetest.Answers(
        cut_at_85(), winetest.Route(second_version(), validators=V2, ranges="honour")),
     [ASKED_ALL, ASKED_REST], second_version, 1.9),
    # Nothing of the 206 is spliced: the next attempt asks for the whole file.
    ("206 from elsewhere", lambda: winetest.Answers(
        cut_at_85(), winetest.Route(splash_run.padded_installer(), validators=V1,
                                    ranges="start at 0"),
        winetest.Route(splash_run.padded_installer(), validators=V1)),
     [ASKED_ALL, ASKED_REST, ASKED_ALL], splash_run.padded_installer, 2.9),
]


def pinned(installer=splash_run.padded_installer):
    return "#sha256=" + hashlib.sha256(installer()).hexdigest()


def refused():
    return None


# Mirrors, each of a copy pinned to the bytes that must run (sign takes a
# plain http:// mirror only so): name, the download URL's route (None:
# nothing listens), the mirrors' routes, whether it installs (with the bytes
# that must run, the served installer by default), the requests each route
# that listens must see, and the schedule's time to the failure texts.
MIRROR_CASES = [
    ("404, then a mirror", lambda: winetest.Route(b"not found", status=404), [served_route],
     True, None, [1, 1], None),
    ("refused, then a mirror", None, [served_route], True, None, [1], None),
    ("other bytes, then a mirror with the pinned ones",
     lambda: winetest.Route(second_version()), [served_route], True, None, [1, 1], None),
    ("every URL failing", lambda: winetest.Route(b"busy", status=503),
     [lambda: winetest.Route(b"not found", status=404), refused], False, None, [1, 1],
     SHORT_WAITS[0]),
    # Cut at 85 %: the rest from a mirror of the same strong ETag, the whole
    # file from one of another; bytes dated only are not resumed elsewhere.
    ("resumed from a mirror", cut_at_85,
     [lambda: winetest.Route(splash_run.padded_installer(), validators=V1, ranges="honour")],
     True, None, [1, 1], None),
    ("another ETag on the mirror", cut_at_85,
     [lambda: winetest.Route(second_version(), validators=V2, ranges="honour")],
     True, second_version, [1, 1], None),
    ("dated only, then a mirror",
     lambda: cut_at_85(validators={"Last-Modified": V1["Last-Modified"]}),
     [lambda: winetest.Route(splash_run.padded_installer(), validators=V1, ranges="honour")],
     True, None, [1, 1], None),
]
# What the mirror of each resumed case was asked: the rest, or all.
MIRROR_ASKED = {"resumed from a mirror": [ASKED_REST], "another ETag on the mirror": [ASKED_REST],
                "dated only, then a mirror": [ASKED_ALL]}


class BadNetwork(unittest.TestCase):
    def run_case(self, name, make_route, exe, installs, requests, failure_after, runs=None,
                 pin="", listen=False, mirrors=()):
        """runs: the bytes the installer that runs must be (the served
        installer by default); pin: a fragment for the download URL; listen:
        a screen reader must hear the percentage only grow, no "0%" after
        the cut; mirrors: (path, route) of each mirror, a route of None for
        one where nothing listens. Returns the download URL's route."""
        shots = splash_run.artifacts_dir("splash_network")
        route = make_route() if make_route else None
        served = [(p, r) for p, r in [("/installer.exe", route)] + list(mirrors) if r]
        with splash_run.session(dict(served)) as s:
            def url(path, route):
                return (s.server.url(path) if route else
                        f"http://127.0.0.1:{winetest.unused_port()}{path}")
            mirror_urls = [url(p, r) for p, r in mirrors]
            copy = s.tagged_copy(url("/installer.exe", route) + pin, exe=exe,
                                 **({"mirror": mirror_urls} if mirrors else {}))
            started = time.monotonic()
            with s.running(copy, screen_reader=splash_run.seconds(60) if listen else None) as run:
                if installs:
                    # At full speed the window may close before it is seen.
                    self.assertEqual(run.wait_for_exit(30), 0)
                    splash_run.check_commands(self, run.recorded(), "")
                    expected = (runs or splash_run.padded_installer)()
                    self.assertEqual(run.ran_sha256(), hashlib.sha256(expected).hexdigest(),
                                     "the installer that ran is not the one served")
                    self.assertFalse(os.path.exists(os.path.join(s.prefix.local_appdata,
                                                                 "ZorvaSetup")),
                                     "the installer file was left")
                    if listen:
                        reading = run.screen_reader.reading(30)
                        heard = [splash_run.percent_of(text)
                                 for text in reading.heard_texts("value")]
                        self.assertEqual(heard, sorted(heard), reading.output)
                        self.assertGreaterEqual(max(heard, default=0), 85, reading.output)
                else:
                    run.wait_for_window()
                    shot = os.path.join(shots, name.replace(" ", "-") + ".png")
                    shown = winetest.wait_until(lambda: failure_shown(run.shot(shot)),
                                                failure_after + SLACK, interval=0.5)
                    self.assertTrue(shown, "no failure texts in time")
                    self.assertIsNone(run.process.poll(), "the window did not stay open")
                    self.assertEqual(run.recorded(), [], "something was started")
                first = min((r.request_times[0] for _, r in served if r.request_times),
                            default=started)
                sent = sum(r.bytes_sent for _, r in served)
                print(f"{splash_run.BUILD.name} {name}: {time.monotonic() - first:.1f} s, "
                      f"{sent} bytes sent", file=sys.stderr)
        if route:
            self.assertEqual(route.requests, requests)
        return route

    def test_short_schedule_meets_each_network(self):
        for name, make_route, installs, requests, failure_after in CASES:
            with self.subTest(name):
                self.run_case(name, make_route, SHORT_SCHEDULE_EXE, installs, requests,
                              failure_after)

    def test_a_cut_transfer_goes_on_from_where_it_stopped_and_only_whole_files_run(self):
        size = len(splash_run.padded_installer())
        self.assertEqual(ASKED_REST[0], f"bytes={size * 85 // 100}-")
        for name, make_route, asked, runs, most_files in RESUMED_CASES:
            with self.subTest(name):
                route = self.run_case(name, make_route, SHORT_SCHEDULE_EXE, True, len(asked), None,
                                      runs)
                self.assertEqual(route.range_headers, asked)
                self.assertLessEqual(route.bytes_sent, most_files * size)
        with self.subTest("resumed, pinned"):
            pin = "#sha256=" + hashlib.sha256(splash_run.padded_installer()).hexdigest()
            route = self.run_case("resumed, pinned", resumed_route, splash_run.BUILD.exe, True, 2,
                                  None, pin=pin, listen=True)
            self.assertEqual(route.range_headers, [ASKED_ALL, ASKED_REST])
            self.assertLessEqual(route.bytes_sent, 1.2 * size)

    def test_mirrors_take_over_under_the_download_urls_pin(self):
        for name, make_route, make_mirrors, installs, runs, requests, failure_after in MIRROR_CASES:
            with self.subTest(name):
                mirrors = [(f"/mirror-{i + 1}.exe", make()) for i, make in enumerate(make_mirrors)]
                route = self.run_case(name, make_route, SHORT_SCHEDULE_EXE, installs,
                                      requests[0], failure_after, runs,
                                      pinned(runs or splash_run.padded_installer), mirrors=mirrors)
                listened = [r for _, r in mirrors if r]
                self.assertEqual([r.requests for r in listened], requests[-len(listened):])
                if name in MIRROR_ASKED:
                    self.assertEqual(listened[0].range_headers, MIRROR_ASKED[name])
                    self.assertEqual(route.range_headers, [ASKED_ALL])

    def test_three_refused_urls_show_the_failure_within_20_seconds(self):
        started = time.monotonic()
        self.run_case("three refused", None, splash_run.BUILD.exe, False, 0, sum(WAITS),
                      pin=pinned(), mirrors=[("/mirror-1.exe", None), ("/mirror-2.exe", None)])
        self.assertLessEqual(time.monotonic() - started, splash_run.seconds(20) + 10)

    def test_a_proxy_that_asks_for_a_login_gets_the_system_prompt_once(self):
        login = ("zorva", "pass word")
        expected = "Basic " + base64.b64encode(b"zorva:pass word").decode()
        shots = splash_run.artifacts_dir("splash_network")
        # The answer to the prompt, and what the proxy serves; a cut makes
        # a second attempt, whose request the login is given again.
        cases = [("login", served_route), ("cancel", served_route),
                 ("login, then a cut", lambda: winetest.Answers(cut_route(), served_route()))]
        for answer, make_route in cases:
            with self.subTest(answer), \
                    splash_run.session({"/installer.exe": make_route()}, login) as s:
                # Nothing listens there: only the proxy can serve it.
                copy = s.tagged_copy("http://127.0.0.2:9/installer.exe" + pinned())
                with s.running(copy) as run:
                    run.wait_for_window()
                    self.assertIsNotNone(run.question(30), "no login prompt")
                    if answer == "cancel":
                        self.assertEqual(run.poke("answer", "cancel")[0], 0)
                        shot = os.path.join(shots, "proxy-login-cancelled.png")
                        self.assertTrue(winetest.wait_until(lambda: failure_shown(run.shot(shot)),
                                                            SLACK + 5, interval=0.5))
                        self.assertEqual(run.recorded(), [], "something was started")
                        self.assertIsNone(run.question(2), "asked twice")
                    else:
                        self.assertEqual(run.poke("login", *login)[0], 0)
                        self.assertEqual(run.wait_for_exit(30), 0, "asked twice, or failed")
                        self.assertEqual(run.ran_sha256(), pinned()[len("#sha256="):])
                given = s.server.proxy_authorizations
                self.assertIsNone(given[0], given)
                self.assertEqual(given[-1] == expected, answer != "cancel", given)
                self.assertEqual(given.count(expected), 2 if "cut" in answer else
                                 int(answer != "cancel"), given)

    def test_no_other_bytes_get_in_between_the_writer_and_the_hold(self):
        # Another process of the user tries to change the file while the run
        # is held between the writer's close and the strict reader's open.
        # An overwrite is refused outright. An append or a swap may get
        # through; the run then starts over, and the installer that runs is
        # the served one either way.
        for how, pin, requests in (("write", "", 1), ("append", pinned(), 2), ("swap", "", 2)):
            route = served_route()
            with self.subTest(how), splash_run.session({"/installer.exe": route}) as s:
                marker = os.path.join(s.prefix.root, "paused")
                copy = s.tagged_copy("/installer.exe" + pin, exe=PAUSED_EXE)
                with s.running(copy, ZORVA_TEST_PAUSE_MARKER=s.prefix.windows_path(marker)) as run:
                    self.assertTrue(winetest.wait_until(lambda: os.path.exists(marker),
                                                        splash_run.seconds(60)), "never held")
                    folder = os.path.join(s.prefix.local_appdata, "ZorvaSetup")
                    [name] = [n for n in os.listdir(folder) if n.endswith(".exe")]
                    code, out = s.prefix.run([winetest.program("file_poke"), how,
                                              s.prefix.windows_path(os.path.join(folder, name))])
                    self.assertEqual(code, 0, out)
                    if how == "write":
                        self.assertIn("refused 32", out)
                    open(marker + ".go", "w").close()
                    self.assertEqual(run.wait_for_exit(60), 0)
                    self.assertEqual(run.ran_sha256(),
                                     hashlib.sha256(splash_run.padded_installer()).hexdigest(),
                                     f"the installer that ran is not the one served ({out.strip()})")
                    self.assertEqual(route.requests, requests if "changed" in out else 1, out)

    def test_shipping_schedule_gives_up_a_stall_within_75_seconds(self):
        self.assertLessEqual(STALL + WAITS[0] + STALL, 75)
        self.run_case("stall, shipping schedule", stalling_route, splash_run.BUILD.exe, False, 1,
                      STALL + GRACE)


if __name__ == "__main__":
    unittest.main()
