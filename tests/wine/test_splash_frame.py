"""The frame, pixel for pixel: the painter that draws the background, pattern
and logo once per size and DPI and lays each text out once shows exactly the
frames of the painter that drew everything again each time (commit
PAINTER_BEFORE), at 96, 120 and 144 DPI, in English and German, after a
change of DPI and of the texts. Both are read back from the window by the
frame probe (programs/splash_frame_probe_win.cpp), built from each tree."""
import hashlib
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402

# The last commit whose painter drew every layer in every frame.
PAINTER_BEFORE = "075f259"
PROBE = "splash_frame_probe"
PROBE_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "programs",
                            PROBE + "_win.cpp")
PROBE_LINK = "\ntarget_link_libraries(splash_frame_probe PRIVATE zorva_resources)\n"
# The window's size at each DPI.
WINDOW = {96: (400, 500), 120: (500, 625), 144: (600, 750)}
LANGUAGES = ("en", "de")
FRAMES = ("progress", "failure")


def add_probe(folder):
    """Puts the frame probe into an older tree, as this one builds it."""
    programs = os.path.join(folder, "tests", "wine", "programs")
    with open(PROBE_SOURCE, "rb") as source, \
            open(os.path.join(programs, PROBE + "_win.cpp"), "wb") as copy:
        copy.write(source.read())
    with open(os.path.join(programs, "CMakeLists.txt"), "a") as cmake:
        cmake.write(PROBE_LINK)


def probe_before():
    with open(PROBE_SOURCE, "rb") as f:
        version = hashlib.sha256(f.read()).hexdigest()[:12]
    folder = splash_run.commit_build(PAINTER_BEFORE, f"painter-{PAINTER_BEFORE}-{version}", PROBE,
                                     add_probe)
    return os.path.join(folder, "build", splash_run.BUILD.name, "tests", "wine", "programs",
                        PROBE + ".exe")


def read_frame(path):
    with open(path, "rb") as f:
        data = f.read()
    width, height = (int.from_bytes(data[i:i + 4], "little") for i in (0, 4))
    return width, height, data[8:]


def save_png(path, frame):
    width, height, pixels = frame
    subprocess.run(["convert", "-size", f"{width}x{height}", "-depth", "8", "bgra:-",
                    "-alpha", "off", path], input=pixels, check=True)


def differing_pixels(a, b):
    return sum(a[i:i + 3] != b[i:i + 3] for i in range(0, min(len(a), len(b)), 4))


class FrameUnchanged(unittest.TestCase):
    def test_frames_match_the_painter_that_drew_everything_each_time(self):
        painters = {"before": probe_before(), "now": splash_run.BUILD.program(PROBE)}
        shots = splash_run.artifacts_dir("splash_frame")
        with winetest.WinePrefix() as prefix:
            prefix.boot()
            for dpi in WINDOW:
                for language in LANGUAGES:
                    with self.subTest(dpi=dpi, language=language):
                        self.check_frames(prefix, painters, shots, dpi, language)

    def check_frames(self, prefix, painters, shots, dpi, language):
        frames = {}
        for painter, exe in painters.items():
            out = os.path.join(prefix.root, f"{painter}-{dpi}-{language}")
            code, _ = prefix.run([exe, str(dpi), language, prefix.windows_path(out)],
                                 timeout=splash_run.seconds(60))
            self.assertEqual(code, 0, f"the {painter} probe failed")
            frames[painter] = {name: read_frame(f"{out}-{name}.bgra") for name in FRAMES}
        now, before = frames["now"], frames["before"]
        self.assertNotEqual(now["progress"][2], now["failure"][2], "the texts did not change")
        for name in FRAMES:
            self.assertEqual(now[name][:2], WINDOW[dpi], name)
            # Not a blank window: the background, the pattern, the logo and
            # the texts give many colours.
            self.assertGreater(len(set(now[name][2][i:i + 3] for i in range(0, len(now[name][2]),
                                                                            4))), 50, name)
            if now[name] != before[name]:
                for painter in painters:
                    save_png(os.path.join(shots, f"{dpi}-{language}-{name}-{painter}.png"),
                             frames[painter][name])
                self.fail(f"{name} frame at {dpi} DPI, {language}: "
                          f"{differing_pixels(now[name][2], before[name][2])} pixels differ "
                          f"(both frames in {shots})")


if __name__ == "__main__":
    unittest.main()
