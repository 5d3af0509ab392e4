"""Tagged copies: a tag signed with the development key shows its headline and
downloads from its URL; a tag signed with another key is ignored, so the copy
behaves as untagged (built-in headline and HTTPS URL, which fails here).

A copy built before the splash's texts came takes a newer tag's headline,
launch argument and URL as it always did, and draws what it shares with
today's exe pixel for pixel as today's does; so does one that knows the
splash's texts but not the mirrors, fallback page and ping URL that follow. A Japanese copy draws its
headline and hint with the system's CJK font (no missing-glyph boxes)."""
import difflib
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402
from splash_run import text_box  # noqa: E402

TAG_HEADLINE = "ZORVA"
# At 24 pixels "ZORVA" is under 100 pixels wide; the built-in headline and
# the failure headline are both over 200.
TAG_HEADLINE_MAX_WIDTH = 110
BUILT_IN_MIN_WIDTH = 200


# Texts an older copy must pass over; the failure and the cancel do not come,
# so the splash is the same for every exe. Nothing answers the mirrors and the
# page, which a copy that installs from its main URL never asks. The fallback
# text's first unit, U+4E03, is the bytes 03 4E: a reader of records 17 to 20
# that walked into it would take a download URL "N" from there.
NEWER_TEXTS = {"failure_text": "DOWNLOAD FEHLGESCHLAGEN", "cancel_question": "Abbrechen?",
               "cancel_title": "Zorva-Einrichtung",
               "mirror": ["https://127.0.0.1:9/mirror-1.exe", "https://127.0.0.1:9/mirror-2.exe"],
               "fallback_page": "https://127.0.0.1:9/full", "fallback_text": "\u4e03 VOLLSTÄNDIG",
               "texts_language": "de"}
LAUNCH_ARGUMENT = "invite?code=7"
# The headline and the hint's second line: the first hint line of the older
# exe ends in a box, the line break it drew as a glyph.
SHARED_REGIONS = [(0, 226, 400, 48), (0, 460, 400, 20)]
JAPANESE = {"headline": "Zorvaをインストールしています",
            "hint": "必要なファイルをダウンロードしています\nしばらくお待ちください"}


def headline_width(shot):
    box = text_box(shot, 250, 24)
    return box[2] - box[0] if box else 0


class TaggedCopies(unittest.TestCase):
    def test_tag_of_the_development_key_is_used(self):
        shots = splash_run.artifacts_dir("splash_tag")
        route = splash_run.slow_route(4)
        with splash_run.session({"/tagged.exe": route}) as s, \
                s.running(s.tagged_copy("/tagged.exe", headline=TAG_HEADLINE)) as run:
            run.wait_for_window()
            width = headline_width(run.shot(os.path.join(shots, "tag_headline.png")))
            self.assertTrue(0 < width <= TAG_HEADLINE_MAX_WIDTH, f"headline width {width}")
            self.assertEqual(run.wait_for_exit(60), 0)
            self.assertEqual(route.requests, 1)
            self.assertEqual(len(run.recorded()), 2)

    def test_an_older_copy_passes_over_the_newer_texts(self):
        shots = splash_run.artifacts_dir("splash_tag")
        exes = [("older", splash_run.older_exe()), ("texts only", splash_run.older_exe(splash_run.TEXTS_ONLY_COMMIT)),
                ("today", splash_run.BUILD.exe)]
        regions = {}
        for name, exe in exes:
            route = splash_run.slow_route(4)
            ping = winetest.Route(status=204)
            with self.subTest(exe=name), splash_run.session({"/tagged.exe": route, "/ping": ping}) as s, \
                    s.running(s.tagged_copy("/tagged.exe", exe=exe, headline=TAG_HEADLINE,
                                            launch_argument=LAUNCH_ARGUMENT, ping_url=s.server.url("/ping"),
                                            texts=NEWER_TEXTS)) as run:
                run.wait_for_window()
                shot = run.shot(os.path.join(shots, f"newer_texts_{name}.png"))
                width = headline_width(shot)
                self.assertTrue(0 < width <= TAG_HEADLINE_MAX_WIDTH, f"headline width {width}")
                regions[name] = [shot.region_bytes(region) for region in SHARED_REGIONS]
                self.assertEqual(run.wait_for_exit(60), 0)
                self.assertEqual(route.requests, 1)
                splash_run.check_commands(self, run.recorded(), LAUNCH_ARGUMENT)
                if name != "today":
                    self.assertEqual(ping.requests, 0)
        for name in ("older", "texts only"):
            self.assertEqual(regions.get(name), regions.get("today"), f"the shared texts of the {name} exe draw differently")

    def test_a_japanese_copy_draws_with_the_systems_font(self):
        shot = os.path.join(splash_run.artifacts_dir("splash_tag"), "japanese.png")
        held = winetest.Route(content_length=splash_run.INSTALLER_SIZE, hold_open=True)
        with splash_run.session({"/held.exe": held}) as s, \
                s.running(s.tagged_copy("/held.exe", headline=JAPANESE["headline"],
                                        texts={"hint": JAPANESE["hint"]})) as run:
            run.wait_for_window()
            shown = run.shot(shot)
            self.assertEqual(splash_run.read_text(shown, (0, 220, 400, 60), "jpn"), [JAPANESE["headline"]])
            # At 14 pixels OCR may misread a character or two; boxes it
            # reads as strokes of Latin letters, nothing like the line.
            hint = splash_run.read_text(shown, (0, 430, 400, 60), "jpn")
            self.assertEqual(len(hint), 2, hint)
            for read, line in zip(hint, JAPANESE["hint"].split("\n")):
                self.assertGreater(difflib.SequenceMatcher(None, read, line).ratio(), 0.8, hint)

    def test_tag_of_another_key_is_ignored(self):
        shots = splash_run.artifacts_dir("splash_tag")
        route = splash_run.slow_route(4)
        with splash_run.session({"/tagged.exe": route}) as s:
            other_key = os.path.join(s.folder, "other.pem")
            subprocess.run(["openssl", "genrsa", "-out", other_key, "2048"], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            with s.running(s.tagged_copy("/tagged.exe", other_key, headline=TAG_HEADLINE)) as run:
                run.wait_for_window()
                width = headline_width(run.shot(os.path.join(shots, "other_key.png")))
                self.assertGreaterEqual(width, BUILT_IN_MIN_WIDTH, "the tag's headline shows")
                self.assertEqual(run.poke("close")[0], 0)
                if run.question(timeout=3):
                    run.poke("answer", "yes")
                self.assertEqual(run.wait_for_exit(30), 0)
            self.assertEqual(route.requests, 0, "the tag's URL was used")


if __name__ == "__main__":
    unittest.main()
