"""Tagged copies: a tag signed with the development key shows its headline and
downloads from its URL; a tag signed with another key is ignored, so the copy
behaves as untagged (built-in headline and HTTPS URL, which fails here)."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
from splash_run import text_box  # noqa: E402

TAG_HEADLINE = "ZORVA"
# At 24 pixels "ZORVA" is under 100 pixels wide; the built-in headline and
# the failure headline are both over 200.
TAG_HEADLINE_MAX_WIDTH = 110
BUILT_IN_MIN_WIDTH = 200


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
