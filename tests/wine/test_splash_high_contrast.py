"""High contrast: with a high-contrast theme the splash draws in the system's
colours (the window's background, its text colour for every text) without
the pattern, and keeps the logo; a change of theme while it runs redraws it.
Wine reports no such theme, so the test build answers "on" while a file
exists; the system's colours are a black theme's, set in the prefix."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402
from splash_run import is_logo  # noqa: E402

HIGH_CONTRAST_EXE = splash_run.BUILD.program("ZorvaSetupHighContrast")
# The system's colours of the theme, "R G B" as the registry holds them.
THEME = {"Window": "0 0 0", "WindowText": "255 255 0", "HotTrackingColor": "0 255 255"}
BLACK, YELLOW = (0, 0, 0), (255, 255, 0)
LOGO = (77, 60, 246, 151)
# Bands of the 96-DPI splash that hold no text and no logo, where only the
# background (and, without the theme, the pattern) shows.
EMPTY_BANDS = [(0, 0, 400, 55), (0, 275, 400, 50), (0, 380, 400, 55), (0, 485, 400, 15)]


def background_share(shot, colour):
    return min(shot.share_of(band, lambda rgb: rgb == colour) for band in EMPTY_BANDS)


class HighContrast(unittest.TestCase):
    def check_high_contrast(self, shot):
        self.assertEqual(background_share(shot, BLACK), 1.0, "pattern or a foreign background")
        self.assertGreater(shot.share_of(LOGO, is_logo), 0.1, "no logo")
        for centre_y, font in ((250, 24), (350, 30), (460, 14)):
            band = (0, centre_y - font, 400, 2 * font)
            self.assertGreater(shot.share_of(band, lambda rgb: rgb == YELLOW), 0.005, centre_y)
            # Yellow on black, smoothed or not, has no blue: the splash's
            # own greys would.
            self.assertEqual(shot.share_of(band, lambda rgb: rgb[2] != 0), 0, centre_y)

    def check_own_colours(self, shot):
        self.assertGreater(background_share(shot, splash_run.BACKGROUND), 0.3)
        self.assertLess(background_share(shot, splash_run.BACKGROUND), 0.99, "no pattern")

    def test_system_colours_without_the_pattern_and_a_change_of_theme_redraws(self):
        shots = splash_run.artifacts_dir("splash_high_contrast")
        with splash_run.session({"/slow.exe": splash_run.slow_route(60)}) as s:
            for name, value in THEME.items():
                s.prefix.reg_add(r"HKCU\Control Panel\Colors", name, value)
            theme_on = os.path.join(s.folder, "high-contrast-on")
            open(theme_on, "w").close()
            exe = s.tagged_copy("/slow.exe", exe=HIGH_CONTRAST_EXE)
            with s.running(exe, ZORVA_HIGH_CONTRAST_FILE=s.prefix.windows_path(theme_on)) as run:
                run.wait_for_window()
                shot = run.shot(os.path.join(shots, "on.png"))
                self.check_high_contrast(shot)
                self.assertEqual(splash_run.read_text(shot, (0, 225, 400, 50), "eng"),
                                 ["INSTALLING ZORVA"])
                self.assertEqual(splash_run.read_text(shot, (0, 430, 400, 60), "eng"),
                                 ["PLEASE WAIT WHILE THE REQUIRED", "FILES ARE DOWNLOADED"])

                # Turned off: the next system colour change brings the
                # splash's own colours and the pattern back.
                os.remove(theme_on)
                self.assertEqual(run.poke("colors")[0], 0)
                off = os.path.join(shots, "off.png")
                winetest.wait_until(lambda: background_share(run.shot(off), BLACK) < 1.0,
                                    splash_run.seconds(5), interval=0.5)
                self.check_own_colours(run.shot(off))

                # On again, told by a change of settings.
                open(theme_on, "w").close()
                self.assertEqual(run.poke("theme")[0], 0)
                again = os.path.join(shots, "on_again.png")
                winetest.wait_until(lambda: background_share(run.shot(again), BLACK) == 1.0,
                                    splash_run.seconds(5), interval=0.5)
                self.check_high_contrast(run.shot(again))


if __name__ == "__main__":
    unittest.main()
