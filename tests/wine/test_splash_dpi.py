"""DPI: with Wine's LogPixels at 144 the window is 600 x 750 and the splash
scales; at 120 it is 500 x 625; a WM_DPICHANGED with a suggested rectangle
resizes the window to it and repaints at the new scale."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402
from splash_run import centre_of, is_logo, is_text, text_box  # noqa: E402

# (dpi, window rectangle on 1920 x 1080, logo box, [(centre y, font) of the
# headline and the progress text], hint centre y)
SCALES = {
    96: ((760, 290, 400, 500), (77, 60, 246, 151), [(250, 24), (350, 30)], 460),
    120: ((710, 228, 500, 625), (96, 75, 308, 189), [(313, 30), (438, 38)], 575),
    144: ((660, 165, 600, 750), (116, 90, 369, 227), [(375, 36), (525, 45)], 690),
}


class DpiScaling(unittest.TestCase):
    def check_splash(self, shot, dpi):
        rect, logo, texts, hint_y = SCALES[dpi]
        width = rect[2]
        left, top, logo_width, logo_height = logo
        self.assertGreater(shot.share_of(logo, is_logo), 0.1, f"no logo at {dpi}")
        self.assertEqual(shot.share_of((0, 0, width, top - 4), is_logo), 0,
                         f"logo above its box at {dpi}")
        self.assertEqual(shot.share_of((0, top + logo_height + 4, width, 20), is_logo), 0,
                         f"logo below its box at {dpi}")
        for centre_y, font in texts:
            box = text_box(shot, centre_y, font)
            self.assertIsNotNone(box, f"no text at y {centre_y}, {dpi} DPI")
            x, y = centre_of(box)
            self.assertAlmostEqual(x, width // 2, delta=splash_run.centre_x_tolerance(font))
            self.assertAlmostEqual(y, centre_y, delta=4, msg=f"{dpi} DPI")
        hint = shot.rows_of((0, hint_y - 40, width, 80), is_text)
        self.assertEqual(len(hint), 2, f"hint lines at {dpi}: {hint}")
        self.assertAlmostEqual((hint[0][0] + hint[1][1]) / 2, hint_y, delta=4)

    def check_logical_dpi(self, dpi):
        shots = splash_run.artifacts_dir("splash_dpi")
        with splash_run.session({"/slow.exe": splash_run.slow_route(60)}) as s:
            s.prefix.set_dpi(dpi)
            with s.running(s.tagged_copy("/slow.exe")) as run:
                self.assertEqual(run.wait_for_window(), SCALES[dpi][0])
                path = os.path.join(shots, f"dpi_{dpi}.png")
                # The first paint draws the static layer too: on a loaded
                # machine the emulated exe may not have finished it yet.
                logo = SCALES[dpi][1]
                winetest.wait_until(lambda: run.shot(path).share_of(logo, is_logo) > 0.1,
                                    splash_run.seconds(10), interval=0.5)
                self.check_splash(run.shot(path), dpi)

    def test_144_dpi(self):
        self.check_logical_dpi(144)

    def test_120_dpi(self):
        self.check_logical_dpi(120)

    def test_dpi_change_takes_the_suggested_rectangle(self):
        shots = splash_run.artifacts_dir("splash_dpi")
        with splash_run.session({"/slow.exe": splash_run.slow_route(60)}) as s, \
                s.running(s.tagged_copy("/slow.exe")) as run:
            run.wait_for_window()
            self.check_splash(run.shot(os.path.join(shots, "before_change.png")), 96)
            # A suggestion off the centre, to tell it from a recomputed placement.
            self.assertEqual(run.poke("dpi", "144", "600", "100", "1200", "850")[0], 0)
            moved = winetest.wait_until(lambda: run.window_rect() == (600, 100, 600, 750), 10)
            self.assertTrue(moved, f"window at {run.window_rect()}")
            run.rect = (600, 100, 600, 750)
            # The repaint follows the move; the emulated exe's may come a second later.
            after = os.path.join(shots, "after_change.png")
            winetest.wait_until(lambda: run.shot(after).share_of(SCALES[144][1], is_logo) > 0.1,
                                splash_run.seconds(5), interval=0.5)
            self.check_splash(run.shot(after), 144)

if __name__ == "__main__":
    unittest.main()
