"""The run ping, as a distributor's ping server meets it: a run that
installs, one whose download fails (404), one cancelled, and one whose
installer is not the pinned one each send exactly one GET of the tag's ping
URL, its campaign kept and every field of the README's table present once,
in its order and form, with what the run came to; a copy without a ping URL
sends nothing; and a ping server that never answers holds neither the
hand-off nor the exit past the ping's 3 s."""
import os
import re
import sys
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402
from splash_run import failure_shown  # noqa: E402

FIELDS = ["outcome", "reason", "detail", "bytes", "size", "attempts", "resumes", "mirror",
          "download_ms", "installer_ms", "installer_exit", "os", "arch", "ui_lang", "tag_lang",
          "version", "id"]
DECIMAL = r"0|[1-9][0-9]*"
# The README's table: each number's most, and the form of every other field.
MOST = {"detail": 2**32 - 1, "bytes": 2**40, "size": 2**40, "attempts": 100, "resumes": 100,
        "mirror": 2, "download_ms": 604800000, "installer_ms": 604800000,
        "installer_exit": 2**32 - 1}
LANGUAGE_TAG = r"[A-Za-z]{2,8}(-[A-Za-z0-9]{1,8})*"
FORMS = {
    "outcome": "installed|download_failed|pin_mismatch|installer_failed|cancelled|stalled",
    "reason": "none|http|refused|reset|tls|dns|stall|cut|proxy_auth|disk|other",
    "os": r"[1-9][0-9]?\.(0|[1-9][0-9]?)\.(0|[1-9][0-9]{0,5})",
    "arch": "x86|x64|arm64",
    "ui_lang": LANGUAGE_TAG,
    "tag_lang": f"({LANGUAGE_TAG})?",
    "version": r"(0|[1-9][0-9]{0,4})(\.(0|[1-9][0-9]{0,4})){0,3}",
    "id": "[0-9a-f]{16}",
}
PING_SECONDS = 3
# The test build whose stall bound and waits are seconds.
SHORT_SCHEDULE_EXE = splash_run.BUILD.program("ZorvaSetupShortDownloadSchedule")
# What the emulated exe and a loaded machine add to an exit after the ping's bound.
EXIT_SLACK = splash_run.seconds(3)


class RunPing(unittest.TestCase):
    def pings(self, server):
        return [line.split()[1] for line in server.request_lines if line.startswith("GET /ping")]

    def check_ping(self, target, **expected):
        """The one ping's fields, each in its form; returns them."""
        path, _, query = target.partition("?")
        self.assertEqual(path, "/ping")
        pairs = urllib.parse.parse_qsl(query, keep_blank_values=True, strict_parsing=True)
        self.assertEqual([name for name, _ in pairs], ["campaign"] + FIELDS, target)
        fields = dict(pairs)
        self.assertEqual(fields["campaign"], "spring")
        for name, most in MOST.items():
            self.assertRegex(fields[name], f"^({DECIMAL})$", name)
            self.assertLessEqual(int(fields[name]), most, name)
        for name, form in FORMS.items():
            self.assertRegex(fields[name], f"^({form})$", name)
        self.assertEqual(fields["version"], "6.0.0.0")
        self.assertEqual(fields["tag_lang"], "de")
        self.assertEqual({name: fields[name] for name in expected}, expected, target)
        return fields

    def run_copy(self, routes, ping=True, **fields):
        """A session serving routes, with a copy whose tag points its download
        at /installer.exe and, with ping, its ping at /ping (a 204)."""
        routes = dict(routes)
        if ping:
            routes.setdefault("/ping", winetest.Route(status=204))
        s = splash_run.session(routes)
        session = s.__enter__()
        self.addCleanup(s.__exit__, None, None, None)
        if ping:
            fields["ping_url"] = session.server.url("/ping?campaign=spring")
        copy = session.tagged_copy("/installer.exe", texts_language="de", **fields)
        return session, copy

    def test_an_installed_run_pings_once_after_the_hand_off(self):
        s, copy = self.run_copy({"/installer.exe": winetest.Route(splash_run.padded_installer())})
        with s.running(copy) as run:
            self.assertEqual(run.wait_for_exit(60), 0)
            self.assertEqual(len(run.recorded()), 2, "no hand-off")
        pings = self.pings(s.server)
        self.assertEqual(len(pings), 1, pings)
        size = str(splash_run.INSTALLER_SIZE)
        fields = self.check_ping(pings[0], outcome="installed", reason="none", detail="0",
                                 bytes=size, size=size, attempts="1", resumes="0", mirror="0",
                                 installer_exit="0")
        self.assertGreater(int(fields["download_ms"]), 0)

    def test_a_failed_download_pings_while_its_window_stands(self):
        not_found = winetest.Route(b"not found\n" * 100, status=404)
        s, copy = self.run_copy({"/installer.exe": not_found})
        with s.running(copy) as run:
            run.wait_for_window()
            pinged = winetest.wait_until(lambda: self.pings(s.server), splash_run.seconds(15))
            self.assertTrue(pinged, "no ping after the failure")
            self.assertTrue(failure_shown(run.shot(os.path.join(
                splash_run.artifacts_dir("run_ping"), "failed.png"))), "no failure texts")
            self.assertIsNone(run.process.poll(), "the window did not stand")
            self.assertEqual(run.poke("close")[0], 0)
            self.assertEqual(run.wait_for_exit(30), 0)
        pings = self.pings(s.server)
        self.assertEqual(len(pings), 1, pings)
        self.check_ping(pings[0], outcome="download_failed", reason="http", detail="404",
                        bytes="0", attempts="1", installer_ms="0", installer_exit="0")

    def test_a_cancelled_run_pings_after_the_yes(self):
        s, copy = self.run_copy({"/installer.exe": splash_run.slow_route(splash_run.seconds(40))})
        with s.running(copy) as run:
            run.wait_for_window()
            self.assertEqual(run.poke("close")[0], 0)
            self.assertIsNotNone(run.question(), "no question")
            self.assertEqual(self.pings(s.server), [], "a ping before the answer")
            self.assertEqual(run.poke("answer", "yes")[0], 0)
            self.assertEqual(run.wait_for_exit(PING_SECONDS + 15), 0)
            self.assertEqual(run.recorded(), [], "the installer started after a cancel")
        pings = self.pings(s.server)
        self.assertEqual(len(pings), 1, pings)
        self.check_ping(pings[0], outcome="cancelled", installer_ms="0")

    def test_an_installer_that_is_not_the_pinned_one_pings_its_mismatch(self):
        s, copy = self.run_copy({"/installer.exe": winetest.Route(splash_run.padded_installer())},
                                installer_sha256="ab" * 32)
        with s.running(copy) as run:
            run.wait_for_window()
            pinged = winetest.wait_until(lambda: self.pings(s.server), splash_run.seconds(30))
            self.assertTrue(pinged, "no ping after the mismatch")
            self.assertEqual(run.recorded(), [], "an installer ran")
        size = str(splash_run.INSTALLER_SIZE)
        self.check_ping(self.pings(s.server)[0], outcome="pin_mismatch", reason="other",
                        attempts="2", bytes=size, size=size)
        self.assertEqual(len(self.pings(s.server)), 1)

    def test_a_download_the_watchdog_gives_up_pings_as_stalled(self):
        # A quarter of the installer, then nothing: the test build's stall
        # bound and grace end it within seconds.
        body = splash_run.padded_installer()
        held = winetest.Route(body[:len(body) // 4], content_length=len(body), hold_open=True)
        s, copy = self.run_copy({"/installer.exe": held}, exe=SHORT_SCHEDULE_EXE)
        with s.running(copy) as run:
            run.wait_for_window()
            pinged = winetest.wait_until(lambda: self.pings(s.server), splash_run.seconds(30))
            self.assertTrue(pinged, "no ping after the stall")
            self.assertIsNone(run.process.poll(), "the window did not stand")
        self.check_ping(self.pings(s.server)[0], outcome="stalled", reason="stall")

    def test_a_copy_without_a_ping_url_sends_nothing(self):
        s, copy = self.run_copy({"/installer.exe": winetest.Route(splash_run.padded_installer())},
                                ping=False)
        with s.running(copy) as run:
            self.assertEqual(run.wait_for_exit(60), 0)
            self.assertEqual(len(run.recorded()), 2, "no hand-off")
        self.assertEqual(s.server.request_lines, ["GET /installer.exe HTTP/1.1"])

    def test_a_ping_server_that_never_answers_holds_neither_the_hand_off_nor_the_exit(self):
        silent = winetest.Route(status=204, head_delay=60)
        s, copy = self.run_copy({"/installer.exe": winetest.Route(splash_run.padded_installer()),
                                 "/ping": silent})
        with s.running(copy) as run:
            asked = winetest.wait_until(lambda: silent.requests, splash_run.seconds(60))
            self.assertTrue(asked, "no ping")
            self.assertEqual(run.wait_for_exit(PING_SECONDS + EXIT_SLACK), 0,
                             "the exit waited for the ping server")
            ended = time.monotonic()
            self.assertEqual(len(run.recorded()), 2, "no hand-off")
        took = ended - silent.request_times[0]
        print(f"{splash_run.BUILD.name}: exit {took:.1f} s after the ping arrived", file=sys.stderr)
        self.assertLessEqual(took, PING_SECONDS + EXIT_SLACK)
        self.assertEqual(silent.requests, 1, "the ping was sent again")


if __name__ == "__main__":
    unittest.main()
