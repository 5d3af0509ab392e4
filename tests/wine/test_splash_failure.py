"""A failed download (404): the splash shows "FAILED TO DOWNLOAD" and ":(",
the window stays open, and a close then asks nothing and exits with 0."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402
from splash_run import is_text, text_box  # noqa: E402

# At 24 pixels "FAILED TO DOWNLOAD" is about 270 pixels wide, "INSTALLING
# ZORVA" about 230; ":(" is a narrow pair, "0%" twice as wide.
FAILURE_HEADLINE_MIN_WIDTH = 250
SAD_FACE_MAX_WIDTH = 25


def failure_shown(shot):
    headline = text_box(shot, 250, 24)
    progress = text_box(shot, 350, 30)
    return (headline and headline[2] - headline[0] >= FAILURE_HEADLINE_MIN_WIDTH and
            progress and progress[2] - progress[0] <= SAD_FACE_MAX_WIDTH)


class DownloadFailure(unittest.TestCase):
    def test_failure_texts_then_a_silent_close(self):
        shots = splash_run.artifacts_dir("splash_failure")
        with splash_run.session() as s, s.running(s.tagged_copy("/missing.exe")) as run:
            run.wait_for_window()
            # Wine's urlmon hands over the 404 page as a complete file; the
            # failure then comes from the installer start, at times only
            # after half a minute or more.
            shown = winetest.wait_until(
                lambda: failure_shown(run.shot(os.path.join(shots, "failed.png"))), 120,
                interval=1.0)
            self.assertTrue(shown, "no failure texts")
            hint = run.shot(os.path.join(shots, "failed.png")).rows_of((0, 430, 400, 60), is_text)
            self.assertEqual(len(hint), 2, "the hint stays")
            time.sleep(2)
            self.assertIsNone(run.process.poll(), "the window did not stay open")
            self.assertEqual(run.poke("close")[0], 0)
            self.assertIsNone(run.question(timeout=3), "a close after a failure asked")
            self.assertEqual(run.wait_for_exit(30), 0)
            self.assertEqual(run.recorded(), [], "something was started")

if __name__ == "__main__":
    unittest.main()
