"""A failed download: the splash shows "FAILED TO DOWNLOAD" and ":(", the
window stays open, and a close then asks nothing and exits with 0. A screen
reader that was there hears the failure as a name change and reads the
failure texts as the name and value. A German copy fails in German: its
failure headline, too wide for one line, its hint and its link show and
are heard. A failure that comes while a frame is
being composed shows too, in the next frame. The taskbar button, once the
shell has made it, moves, then turns red with the failure; the failure
flashes it while another window is in front, and never while the splash
is; a run whose shell never makes the button loads no COM for it. A copy
that names a fallback page draws its link under the failure texts, which
Enter, a click and the screen reader's default action open in the browser,
exactly as signed, leaving the failed window as it is."""
import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402
from splash_run import SAD_FACE_MAX_WIDTH, failure_shown, is_text, text_box  # noqa: E402

# The test build whose download fails right after its first frame has read
# the headline (tests/wine/seams/text_changed_during_paint_win.cpp).
TEXT_CHANGED_DURING_PAINT_EXE = splash_run.BUILD.program("ZorvaSetupTextChangedDuringPaint")
# An offline machine fails within milliseconds of the worker's start, most
# often while the first frame is being composed: a few runs meet that moment
# in varied ways.
REFUSED_RUNS = 3
# Too wide for one line at 24 pixels: it wraps onto a second.
GERMAN_FAILURE = "HERUNTERLADEN FEHLGESCHLAGEN"
GERMAN_HINT = "BITTE WARTEN SIE, WÄHREND DIE BENÖTIGTEN\nDATEIEN HERUNTERGELADEN WERDEN"
# Too wide for one line at 16 pixels: it wraps onto a second.
GERMAN_LINK = "VOLLSTÄNDIGES INSTALLATIONSPROGRAMM"
# Nothing may be appended to it, nor its case or escapes changed.
FALLBACK_PAGE = "https://127.0.0.1:9/Zorva/full?lang=en&from=setup%20stub#top"
ENGLISH_LINK = "DOWNLOAD THE FULL INSTALLER"
# The link's lines, two at most, between the progress text and the hint (96 DPI).
LINK_REGION = (0, 380, 400, 40)


def refused_url():
    """A loopback URL whose port nothing listens on: the connection is refused."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    return f"http://127.0.0.1:{port}/ZorvaInstaller.exe"


def sad_face_shown(shot):
    box = text_box(shot, 350, 30)
    return bool(box and box[2] - box[0] <= SAD_FACE_MAX_WIDTH)


def is_link(rgb):
    """The link's light blue (0x6CB4FF), and its anti-aliased edges."""
    return rgb[2] >= 0x80 and rgb[2] - rgb[0] >= 0x40


def wait_for_failure_texts(run, shot_path, timeout):
    return winetest.wait_until(lambda: failure_shown(run.shot(shot_path)), timeout, interval=1.0)


class DownloadFailure(unittest.TestCase):
    def test_failure_texts_then_a_silent_close(self):
        shots = splash_run.artifacts_dir("splash_failure")
        # The response's status says 404, so its page is no installer; a
        # missing installer is not asked for again.
        failure_timeout = splash_run.seconds(15)
        # Answered after 2 s, the 404 comes after the screen reader, there
        # from the start, has asked for the splash's object: a failure within
        # a tenth of a second of the window would come before it.
        not_found = winetest.Route(b"not found\n" * 200, status=404, head_delay=2)
        with splash_run.session({"/missing.exe": not_found}) as s, \
                splash_run.AttentionRequests(s.prefix) as attention, \
                s.running(s.tagged_copy("/missing.exe"), screen_reader=failure_timeout) as run:
            run.wait_for_window()
            self.assertTrue(wait_for_failure_texts(run, os.path.join(shots, "failed.png"),
                                                   failure_timeout),
                            "no failure texts")
            reading = run.screen_reader.reading(30)
            self.assertEqual(reading.code, 0, reading.output)
            self.assertEqual(reading.heard_texts("name"), [splash_run.FAILURE_HEADLINE],
                             reading.output)
            self.assertEqual(reading.last, dict(reading.last, name=splash_run.FAILURE_HEADLINE,
                                                value=":(", role=splash_run.PROGRESS_BAR_ROLE))
            hint = run.shot(os.path.join(shots, "failed.png")).rows_of((0, 430, 400, 60), is_text)
            self.assertEqual(len(hint), 2, "the hint stays")
            time.sleep(2)
            self.assertIsNone(run.process.poll(), "the window did not stay open")
            self.assertEqual(run.poke("close")[0], 0)
            self.assertIsNone(run.question(timeout=3), "a close after a failure asked")
            self.assertEqual(run.wait_for_exit(30), 0)
            self.assertEqual(run.recorded(), [], "something was started")
            self.assertEqual(attention.count(), 0, "the splash in front flashed")

    def test_the_fallback_page_opens_by_enter_a_click_and_the_screen_reader(self):
        shot = os.path.join(splash_run.artifacts_dir("splash_failure"), "fallback-link.png")
        not_found = winetest.Route(b"not found\n" * 200, status=404, head_delay=2)
        failure_timeout = splash_run.seconds(15)
        with splash_run.session({"/missing.exe": not_found}) as s:
            browser = splash_run.BrowserRecorder(s.prefix)
            copy = s.tagged_copy("/missing.exe", fallback_page=FALLBACK_PAGE)
            with s.running(copy, screen_reader=failure_timeout, reader_acts=True) as run:
                run.wait_for_window()
                self.assertTrue(wait_for_failure_texts(run, shot, failure_timeout), "no failure texts")
                failed = run.shot(shot)
                self.assertEqual(splash_run.read_text(failed, LINK_REGION, "eng"), [ENGLISH_LINK])
                self.assertGreater(failed.share_of(LINK_REGION, is_link), 0.02, "not in the link's colour")
                # Heard: before the failure no default action; after it the
                # description ends with the link, whose text names the
                # default action, which opens the page.
                reading = run.screen_reader.reading(30)
                self.assertEqual(reading.code, 0, reading.output)
                self.assertEqual(reading.first.get("action"), "<failed 0x00000001>", reading.output)
                self.assertEqual(reading.last, dict(reading.last, name=splash_run.FAILURE_HEADLINE,
                                                    description=splash_run.HINT + r"\r\n" + ENGLISH_LINK,
                                                    action=ENGLISH_LINK), reading.output)
                self.assertEqual(reading.did, {"action": "0x00000000"}, reading.output)
                self.assertTrue(winetest.wait_until(lambda: len(browser.opened()) == 1, 10),
                                browser.opened())
                x, y, _, _ = run.rect
                # Enter; then a press on the headline, which drags and opens
                # nothing; then a click on the link.
                splash_run.x_input(s.prefix, "mousemove", x + 200, y + 250, "click", "1")
                splash_run.x_input(s.prefix, "key", "Return")
                self.assertTrue(winetest.wait_until(lambda: len(browser.opened()) == 2, 10),
                                browser.opened())
                splash_run.x_input(s.prefix, "mousemove", x + 200, y + 400, "click", "1")
                self.assertTrue(winetest.wait_until(lambda: len(browser.opened()) == 3, 10),
                                browser.opened())
                time.sleep(2)
                self.assertEqual(browser.opened(), [FALLBACK_PAGE] * 3)
                self.assertIsNone(run.process.poll(), "the window did not stay open")
                self.assertTrue(failure_shown(run.shot(shot)), "the failed window changed")
                self.assertEqual(run.poke("close")[0], 0)
                self.assertEqual(run.wait_for_exit(30), 0)
                self.assertEqual(run.recorded(), [], "something was started")

    def test_a_failure_behind_another_window_turns_the_button_red_and_flashes_it(self):
        with splash_run.session() as s, splash_run.AttentionRequests(s.prefix) as attention, \
                s.running(s.tagged_copy(refused_url()), **splash_run.stand_in_taskbar_list(s.prefix)) as run:
            run.wait_for_window()
            self.assertEqual(run.poke("taskbar-button")[0], 0)
            # Three attempts, 2 s and 5 s apart: time for another program's window.
            s.prefix.run(["cmd", "/c", "start", "notepad"])  # ended with the prefix
            self.assertTrue(winetest.wait_until(lambda: run.poke("state")[1].split()[-1:] == ["0"], 10),
                            "the splash stayed in front")
            self.assertTrue(winetest.wait_until(
                lambda: splash_run.ERROR in splash_run.TaskbarCalls(s.prefix).states,
                splash_run.seconds(15)), "the button did not turn red")
            splash_run.check_taskbar_calls(self, splash_run.TaskbarCalls(s.prefix),
                                           [splash_run.MOVING, splash_run.ERROR])
            self.assertEqual(splash_run.TaskbarCalls(s.prefix).values, [100])
            self.assertTrue(winetest.wait_until(attention.count, 5), "the button did not flash")

    def test_a_german_copy_fails_in_german(self):
        shot = os.path.join(splash_run.artifacts_dir("splash_failure"), "german.png")
        not_found = winetest.Route(b"nicht gefunden\n" * 200, status=404, head_delay=2)
        texts = {"failure_text": GERMAN_FAILURE, "hint": GERMAN_HINT}
        failure_timeout = splash_run.seconds(15)
        with splash_run.session({"/fehlt.exe": not_found}) as s, \
                s.running(s.tagged_copy("/fehlt.exe", headline="ZORVA WIRD INSTALLIERT", texts=texts,
                                        fallback_page=FALLBACK_PAGE, fallback_text=GERMAN_LINK),
                          screen_reader=failure_timeout) as run:
            run.wait_for_window()
            failed = winetest.wait_until(lambda: sad_face_shown(run.shot(shot)), failure_timeout,
                                         interval=1.0)
            self.assertTrue(failed, "no failure texts")
            self.assertEqual(splash_run.read_text(run.shot(shot), (0, 210, 400, 290), "deu"),
                             ["HERUNTERLADEN", "FEHLGESCHLAGEN", *GERMAN_LINK.split(" "),
                              "BITTE WARTEN SIE, WÄHREND DIE BENÖTIGTEN", "DATEIEN HERUNTERGELADEN WERDEN"])
            reading = run.screen_reader.reading(30)
            self.assertEqual(reading.code, 0, reading.output)
            self.assertEqual(reading.heard_texts("name"), [GERMAN_FAILURE], reading.output)
            self.assertEqual(reading.last, dict(reading.last, name=GERMAN_FAILURE, value=":(",
                                                description=GERMAN_HINT.replace("\n", "\\n") + r"\r\n" + GERMAN_LINK,
                                                action=GERMAN_LINK))

    def test_refused_connection_shows_the_failure_texts(self):
        shots = splash_run.artifacts_dir("splash_failure")
        for attempt in range(REFUSED_RUNS):
            with self.subTest(attempt=attempt), splash_run.session() as s, \
                    s.running(s.tagged_copy(refused_url()), **splash_run.stand_in_taskbar_list(s.prefix),
                              **splash_run.LIBRARY_REQUESTS) as run:
                run.wait_for_window()
                shot = os.path.join(shots, f"refused-{attempt}.png")
                # Three attempts, 2 s and 5 s apart.
                self.assertTrue(wait_for_failure_texts(run, shot, splash_run.seconds(15)), "no failure texts")
                self.assertEqual(run.recorded(), [], "something was started")
                # No shell made a button here.
                self.assertFalse(splash_run.asked_for_by_path(run.process, "ole32.dll"),
                                 "COM was loaded")
                self.assertEqual(splash_run.TaskbarCalls(s.prefix).lines, [])

    def test_texts_replaced_during_a_paint_show_in_the_next_paint(self):
        # The download is held open and never moves, so nothing but the
        # failure's own repaint request can bring a later frame.
        held = winetest.Route(content_length=splash_run.INSTALLER_SIZE, hold_open=True)
        shot = os.path.join(splash_run.artifacts_dir("splash_failure"), "replaced-during-paint.png")
        with splash_run.session({"/held.exe": held}) as s, \
                s.running(s.tagged_copy("/held.exe", exe=TEXT_CHANGED_DURING_PAINT_EXE)) as run:
            run.wait_for_window()
            self.assertTrue(wait_for_failure_texts(run, shot, 5),
                            "the frame that read the old texts stayed on screen")


if __name__ == "__main__":
    unittest.main()
