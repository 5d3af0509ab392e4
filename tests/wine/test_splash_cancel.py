"""Cancel during a slow download: a close asks "Are you sure you want to
cancel the setup?" with Yes, No and Cancel; No keeps the download going; a
second close answered Yes ends the process with 0, no installer starts and
the partial file is gone. Once the shell has said it made the taskbar
button, COM is loaded and the button moves until the first byte, then
shows the percentage and pauses while each question is up.
A Yes while the worker waits to try again ends it as at once: no further
request, no installer; so does one while a read never returns, and its file
goes with the process. That copy is Russian: its question and title, read
back with the wide-character functions, are its own Cyrillic texts."""
import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402

PROGRESS = (0, 320, 400, 60)
QUESTION = ("title: Zorva Setup\ntext: Are you sure you want to cancel the setup?\n"
            "buttons: yes no cancel")
RUSSIAN = {"cancel_question": "Вы действительно хотите отменить установку?",
           "cancel_title": "Установка Zorva"}


def installer_files(s):
    """The files in the setup's own folder: a cancel ends the process at once,
    which leaves the folder, but the file it was writing goes with it."""
    folder = os.path.join(s.prefix.local_appdata, "ZorvaSetup")
    return os.listdir(folder) if os.path.isdir(folder) else []


class CancelDuringDownload(unittest.TestCase):
    def test_no_keeps_going_and_yes_ends_without_installing(self):
        shots = splash_run.artifacts_dir("splash_cancel")
        # Slow enough that the emulated 32-bit exe is still downloading at the
        # Yes; the first byte comes after the shell has spoken.
        route = splash_run.slow_route(splash_run.seconds(40))
        route.head_delay = splash_run.seconds(6)
        with splash_run.session({"/slow.exe": route}) as s, \
                s.running(s.tagged_copy("/slow.exe"), **splash_run.stand_in_taskbar_list(s.prefix),
                          **splash_run.LIBRARY_REQUESTS) as run:
            run.wait_for_window()
            self.assertEqual(run.poke("taskbar-button")[0], 0)
            self.assertTrue(winetest.wait_until(lambda: splash_run.TaskbarCalls(s.prefix).values,
                                                splash_run.seconds(20)), "no percentage on the button")
            self.assertEqual(run.poke("close")[0], 0)
            self.assertEqual(run.question().replace("\r", "").strip(), QUESTION)
            s.prefix.screenshot(os.path.join(shots, "question.png"))
            self.assertEqual(splash_run.TaskbarCalls(s.prefix).states[-1:], [splash_run.PAUSED])
            self.assertEqual(run.poke("answer", "no")[0], 0)
            self.assertTrue(run.question_closed(), "the question stayed open")
            before = run.shot(os.path.join(shots, "after_no.png")).region_bytes(PROGRESS)
            moved = winetest.wait_until(
                lambda: run.shot(os.path.join(shots, "going_on.png")).region_bytes(PROGRESS)
                != before, splash_run.seconds(10), interval=0.5)
            self.assertTrue(moved, "the download stopped after No")

            self.assertEqual(run.poke("close")[0], 0)
            self.assertIsNotNone(run.question(), "no question on the second close")
            self.assertEqual(run.poke("answer", "yes")[0], 0)
            self.assertEqual(run.wait_for_exit(15), 0)
            time.sleep(1)
            self.assertEqual(run.recorded(), [], "the installer started after a cancel")
            self.assertEqual(installer_files(s), [], "the partial installer file was left")
            # A Yes ends the process at once, its window with it: the shell
            # takes the button away, so nothing clears it first.
            splash_run.check_taskbar_calls(self, splash_run.TaskbarCalls(s.prefix), [
                splash_run.MOVING, splash_run.NORMAL, splash_run.PAUSED, splash_run.NORMAL,
                splash_run.PAUSED])
            self.assertTrue(splash_run.asked_for_by_path(run.process, "ole32.dll"),
                            "COM was not loaded from the system folder")

    def test_yes_during_the_wait_before_another_attempt_ends_at_once(self):
        # Two busy answers, each taking a second to send; after the second
        # one the shipping schedule waits 5 s before the third attempt.
        busy = winetest.Route(b"busy" * 1000, status=503, chunk=400, delay=0.1)
        route = winetest.Answers(busy, busy, splash_run.slow_route(splash_run.seconds(40)))
        with splash_run.session({"/busy.exe": route}) as s, \
                s.running(s.tagged_copy("/busy.exe", headline="УСТАНОВКА ZORVA", texts=RUSSIAN)) as run:
            run.wait_for_window()
            self.assertEqual(run.poke("close")[0], 0)
            self.assertEqual(run.question().replace("\r", "").strip(),
                             f"title: {RUSSIAN['cancel_title']}\ntext: {RUSSIAN['cancel_question']}\n"
                             "buttons: yes no cancel")
            waiting = winetest.wait_until(
                lambda: route.requests == 2 and time.monotonic() - route.request_times[1] > 1.5,
                splash_run.seconds(20))
            self.assertTrue(waiting, f"not waiting after the second answer: {route.requests} requests")
            self.assertEqual(run.poke("answer", "yes")[0], 0)
            self.assertEqual(run.wait_for_exit(5), 0)
            time.sleep(1)
            self.assertEqual(route.requests, 2, "another attempt after the cancel")
            self.assertEqual(run.recorded(), [], "the installer started after a cancel")

    def test_yes_during_a_read_that_never_returns_ends_within_a_bound(self):
        # The scripted wininet.dll answers a 200 whose read never returns.
        system = "syswow64" if splash_run.BUILD is splash_run.WIN32 else "system32"
        with splash_run.session() as s:
            shutil.copy(os.path.join(splash_run.BUILD.programs_dir, "scripted_wininet.dll"),
                        os.path.join(s.prefix.drive_c, "windows", system, "wininet.dll"))
            with s.running(s.tagged_copy("http://127.0.0.1:9/deaf.exe"),
                           WINEDLLOVERRIDES="mscoree,mshtml=;wininet=n",
                           ZORVA_SCRIPTED_DOWNLOAD="deaf") as run:
                run.wait_for_window()
                written = winetest.wait_until(lambda: installer_files(s), splash_run.seconds(10))
                self.assertTrue(written, "no installer file is written")
                self.assertEqual(run.poke("close")[0], 0)
                self.assertIsNotNone(run.question())
                self.assertEqual(run.poke("answer", "yes")[0], 0)
                self.assertEqual(run.wait_for_exit(splash_run.seconds(10)), 0)
            self.assertEqual(installer_files(s), [])


if __name__ == "__main__":
    unittest.main()
