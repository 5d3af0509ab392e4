"""One setup at a time in the user's session. While a setup downloads (for
about 10 s), a second start of the same copy, and then one of a copy with
another tag, each bring the first one's window forward, restored from
minimised or in front of another program's window, and exit with 0 within
seconds, with no window of their own; the first run alone asks for the
installer, runs it and hands off. After a run whose transfers were all cut
shows the failure texts, or one whose worker could not start, a start of
the same copy closes that window, which asks nothing, and installs and hands
off itself. A second start loads no
module that the first did not."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402
from splash_run import failure_shown, seconds  # noqa: E402

DOWNLOAD_SECONDS = 10
# From a second start to its exit: the look for the earlier window, a Wine
# process start and its end.
SECOND_START_SECONDS = 5
# Wine then prints each module a process loads: 'Loaded L"C:\\...\\name.dll"'.
LOADED_MODULES = {"WINEDEBUG": "+loaddll"}


def setup_windows(run):
    """(count, iconic, foreground) of the setup windows, as window_poke sees them."""
    code, out = run.poke("state")
    if code == 2:
        return 0, False, False
    fields = out.split()
    return int(fields[1]), fields[3] == "1", fields[5] == "1"


def loaded_modules(process):
    """The names of the modules that a process started with LOADED_MODULES loaded."""
    with open(process.output_path, errors="replace") as f:
        return {line.split('Loaded L"', 1)[1].split('"')[0].rsplit("\\", 1)[-1].lower()
                for line in f if 'Loaded L"' in line}


class SecondStart(unittest.TestCase):
    def start_again(self, run, exe):
        """Starts exe beside the run; the window counts seen until it exited."""
        second = run.start_again(exe, **LOADED_MODULES)
        counts = []

        def counted_until_exit():
            counts.append(setup_windows(run)[0])
            return second.poll() is not None

        ended = winetest.wait_until(counted_until_exit, seconds(SECOND_START_SECONDS), interval=0.2)
        self.assertTrue(ended, "the second start did not exit")
        self.assertEqual(second.returncode, 0)
        modules = loaded_modules(second)
        self.assertLessEqual(modules, loaded_modules(run.process))
        # Neither the painter's library nor the download's.
        self.assertFalse(modules & {"gdiplus.dll", "urlmon.dll", "wininet.dll"}, modules)
        return counts

    def test_a_start_during_a_download_brings_the_first_forward(self):
        route = splash_run.slow_route(seconds(DOWNLOAD_SECONDS))
        with splash_run.session({"/installer.exe": route}) as s:
            other_tag = os.path.join(s.folder, "other", "ZorvaSetup.exe")
            os.makedirs(os.path.dirname(other_tag))
            os.rename(s.tagged_copy("/installer.exe", headline="ZORVA"), other_tag)
            copy = s.tagged_copy("/installer.exe")
            with s.running(copy, **LOADED_MODULES) as run:
                run.wait_for_window()
                notepad = ["cmd", "/c", "start", "notepad"]  # ended with the prefix
                starts = [
                    ("same copy, first minimised", copy,
                     lambda: self.assertEqual(run.poke("minimize")[0], 0)),
                    ("another tag, first behind another window", other_tag,
                     lambda: s.prefix.run(notepad)),
                ]
                for name, exe, hide in starts:
                    with self.subTest(name):
                        hide()
                        self.assertTrue(winetest.wait_until(
                            lambda: setup_windows(run)[1:] != (False, True), 10), "not hidden")
                        counts = self.start_again(run, exe)
                        self.assertEqual(set(counts), {1}, "a second window")
                        self.assertEqual(setup_windows(run), (1, False, True),
                                         "not brought forward")
                self.assertEqual(run.wait_for_exit(2 * DOWNLOAD_SECONDS + 60), 0)
                splash_run.check_commands(self, run.recorded(), "")
            self.assertEqual(s.server.request_lines, ["GET /installer.exe HTTP/1.1"])

    def test_a_start_after_a_failure_closes_it_and_installs(self):
        body = splash_run.padded_installer()
        cut = winetest.Route(body, cut_after=len(body) // 4)
        cases = [
            # Four attempts, all cut: the first brings bytes, the three after
            # it bring none beyond them, which ends the download; then the
            # server answers.
            ("transfers cut", splash_run.BUILD.exe,
             winetest.Answers(cut, cut, cut, cut, winetest.Route(body)), 4),
            # A test build whose worker's thread cannot be created.
            ("worker never started", splash_run.BUILD.program("ZorvaSetupWorkerCannotStart"),
             winetest.Route(body), 0),
        ]
        for name, first_exe, route, failed_requests in cases:
            with self.subTest(name), splash_run.session({"/installer.exe": route}) as s:
                shot = os.path.join(splash_run.artifacts_dir("second_start"),
                                    f"failed-{failed_requests}.png")
                failed = os.path.join(s.folder, "failed", "ZorvaSetup.exe")
                os.makedirs(os.path.dirname(failed))
                os.rename(s.tagged_copy("/installer.exe", exe=first_exe), failed)
                copy = s.tagged_copy("/installer.exe")
                with s.running(failed) as run:
                    run.wait_for_window()
                    self.assertTrue(winetest.wait_until(lambda: failure_shown(run.shot(shot)),
                                                        seconds(20), interval=0.5),
                                    "no failure texts")
                    self.assertEqual(route.requests, failed_requests)
                    second = run.start_again(copy)
                    # A question would keep it open.
                    self.assertEqual(run.wait_for_exit(10), 0, "the failed window stayed")
                    second.communicate(timeout=seconds(60))
                    self.assertEqual(second.returncode, 0)
                    splash_run.check_commands(self, run.recorded(), "")
                    self.assertEqual(setup_windows(run)[0], 0, "a setup window is left")
                self.assertEqual(route.requests, failed_requests + 1)

if __name__ == "__main__":
    unittest.main()
