"""A normal run as the user meets it, at 96 DPI on a 1920 x 1080 screen: the
splash appears centred with every layer, the percentage moves while the
installer is served slowly, the three folders appear, the installer runs with
--silent, Update.exe gets the deep link with the tag's launch argument as it
stands, and the window closes by itself with exit code 0. The copy is signed
with Authenticode and then tagged, as a distributor ships it: the tag sits
inside the signature and still shows its headline; it pins the installer,
which passes its check, and the server is asked for the path alone. Its
taskbar button, once the shell has made it, shows the percentage up to the
whole and nothing after the hand-off.

A screen reader beside a download hears it as a progress bar named by the
tag's headline, with the hint as its description: each new percentage as a
value change, read as it is heard, and the percentage the splash rests on as
the value while the download holds."""
import hashlib
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import test_splash_tag as tagged  # noqa: E402
import winetest  # noqa: E402
from splash_run import centre_of, is_background, is_logo, is_text, text_box  # noqa: E402

DOWNLOAD_SECONDS = 8
PROGRESS = (0, 320, 400, 60)
# Long enough for the window to appear, the first quarter to arrive and the
# splash to rest on its percentage.
READER_SECONDS = 12
# Quotes, spaces and the characters of a query: copied as they stand. (The
# tagging tool refuses a double quote, which would end the quoted deep link.)
LAUNCH_ARGUMENT = "invite?code=42&name='Ada Lovelace'"


class NormalRun(unittest.TestCase):
    def test_splash_progress_install_and_hand_off(self):
        shots = splash_run.artifacts_dir("splash_run")
        route = splash_run.slow_route(DOWNLOAD_SECONDS)
        pin = hashlib.sha256(route.body).hexdigest()
        with splash_run.session({"/installer.exe": route}) as s:
            signed = splash_run.authenticode_signed(splash_run.BUILD.exe, s.folder)
            copy = s.tagged_copy("/installer.exe", exe=signed, headline=tagged.TAG_HEADLINE,
                                 launch_argument=LAUNCH_ARGUMENT, installer_sha256=pin)
            shown = subprocess.run([winetest.ZORVA_TAG, "show", copy], check=True,
                                   stdout=subprocess.PIPE).stdout.decode()
            self.assertIn("placement: inside the signature", shown)
            with s.running(copy, **splash_run.stand_in_taskbar_list(s.prefix)) as run:
                self.check_run(s, run, shots)
            calls = splash_run.TaskbarCalls(s.prefix)
            splash_run.check_taskbar_calls(self, calls, [splash_run.NORMAL, splash_run.NO_PROGRESS])
            self.assertEqual(calls.values[-1:], [100], calls.lines)

    def check_run(self, s, run, shots):
        """The splash, the progress, the installer and the hand-off."""
        self.assertEqual(run.wait_for_window(), (760, 290, 400, 500))
        # The shell makes the button as the window shows; the first bytes are there by now.
        self.assertEqual(run.poke("taskbar-button")[0], 0)
        first = run.shot(os.path.join(shots, "start.png"))
        self.check_layers(first)
        width = tagged.headline_width(first)
        self.assertTrue(0 < width <= tagged.TAG_HEADLINE_MAX_WIDTH, f"headline width {width}")
        moved = winetest.wait_until(
            lambda: run.shot(os.path.join(shots, "later.png")).region_bytes(PROGRESS)
            != first.region_bytes(PROGRESS), splash_run.seconds(DOWNLOAD_SECONDS), interval=0.5)
        self.assertTrue(moved, "the percentage did not move")
        # Each hint line is drawn on its own: no line break reaches the
        # drawing call, which would draw it as a box after "REQUIRED".
        self.assertEqual(splash_run.read_text(splash_run.Shot(os.path.join(shots, "later.png")),
                                              (0, 430, 400, 60), "eng"),
                         ["PLEASE WAIT WHILE THE REQUIRED", "FILES ARE DOWNLOADED"])
        self.assertEqual(run.wait_for_exit(DOWNLOAD_SECONDS + 60), 0)
        splash_run.check_commands(self, run.recorded(), LAUNCH_ARGUMENT)
        self.assertEqual(s.server.request_lines, ["GET /installer.exe HTTP/1.1"])
        packages = os.path.join(s.prefix.local_appdata, "Zorva", "packages")
        self.assertTrue(os.path.isdir(os.path.join(packages, "SquirrelTemp")), "no folders")

    def check_layers(self, shot):
        self.assertGreater(shot.share_of((0, 0, 400, 500), is_background), 0.3,
                           "the background colour does not show")
        self.assertGreater(shot.share_of((77, 60, 246, 151), is_logo), 0.1, "no logo")
        self.assertEqual(shot.share_of((0, 0, 400, 55), is_logo), 0, "logo above its box")
        for centre_y, font, label in [(250, 24, "headline"), (350, 30, "progress text")]:
            box = text_box(shot, centre_y, font)
            self.assertIsNotNone(box, f"no {label}")
            x, y = centre_of(box)
            self.assertAlmostEqual(x, 200, delta=splash_run.centre_x_tolerance(font), msg=label)
            self.assertAlmostEqual(y, centre_y, delta=4, msg=label)
        hint_lines = shot.rows_of((0, 430, 400, 60), is_text)
        self.assertEqual(len(hint_lines), 2, f"hint lines: {hint_lines}")
        self.assertAlmostEqual((hint_lines[0][0] + hint_lines[1][1]) / 2, 460, delta=4)


class ReadAloud(unittest.TestCase):
    @unittest.skipIf(splash_run.BUILD is splash_run.WIN32, "the 64-bit twin stands for both")
    def test_a_screen_reader_hears_the_percentage_the_splash_shows(self):
        shots = splash_run.artifacts_dir("splash_run")
        # The installer's first quarter over about 4 s, then nothing more.
        quarter = splash_run.INSTALLER_SIZE // 4
        route = winetest.Route(splash_run.padded_installer()[:quarter], chunk=32 * 1024,
                               delay=0.25, content_length=splash_run.INSTALLER_SIZE, hold_open=True)
        with splash_run.session({"/held.exe": route}) as s, \
                s.running(s.tagged_copy("/held.exe", headline=tagged.TAG_HEADLINE),
                          screen_reader=READER_SECONDS) as run:
            window = run.wait_for_window()
            resting = winetest.wait_until(lambda: self.resting_progress(run, shots), 15)
            self.assertTrue(resting, "the percentage did not come to rest")
            reading = run.screen_reader.reading(READER_SECONDS + 30)
            after = run.shot(os.path.join(shots, "read_aloud_after.png")).region_bytes(PROGRESS)
        self.assertEqual(reading.code, 0, reading.output)
        self.assertEqual(reading.first, dict(reading.first, name=tagged.TAG_HEADLINE,
                                             role=splash_run.PROGRESS_BAR_ROLE,
                                             description=splash_run.HINT,
                                             location=" ".join(map(str, window))))
        values = reading.heard_texts("value")
        percents = [splash_run.percent_of(value) for value in values]
        self.assertTrue(values and None not in percents, reading.output)
        # Two changes heard in quick succession may both read the later one.
        self.assertEqual(percents, sorted(percents), "values heard out of order")
        # What it read last is what the splash has shown since it came to rest.
        self.assertEqual(reading.last["value"], values[-1])
        self.assertLessEqual(percents[-1], 25)
        self.assertEqual(after, resting, "the splash changed after resting")

    @staticmethod
    def resting_progress(run, shots):
        """The progress text's pixels when two shots a second apart agree."""
        before = run.shot(os.path.join(shots, "read_aloud.png")).region_bytes(PROGRESS)
        time.sleep(1)
        now = run.shot(os.path.join(shots, "read_aloud.png")).region_bytes(PROGRESS)
        return now if now == before else None


if __name__ == "__main__":
    unittest.main()
