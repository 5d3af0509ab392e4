"""The layering check on made-up trees: an include up or sideways, a Win32
header in a file not named _win, a folder without DEPS, and a circle of
folders (by DEPS or by includes) are caught."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_layers  # noqa: E402

DEPS = {"base": "", "state": "base/\n", "download": "base/\nstate/\n", "splash": "base/\n",
        "shell": "base/\ndownload/\nstate/\n"}


class LayeringRule(unittest.TestCase):
    def test_includes_that_point_up_sideways_or_into_the_edge_are_caught(self):
        for path, text, deps, problems in [
            ("download/worker.cpp", '#include "state/setup_state.h"\n#include "base/x.h"\n', {}, 0),
            # Not allowed, and a circle with shell/, which allows download/.
            ("download/worker.cpp", '#include "shell/window_placement.h"\n', {}, 2),
            # Not allowed, and a circle with download/, which allows base/.
            ("base/text.h", '#include "download/worker.h"\n', {}, 2),
            ("splash/painter.cpp", "#include <windows.h>\n", {}, 1),
            ("splash/painter_win.cpp", "#include <windows.h>\n", {}, 0),
            ("splash/painter.cpp", '#include "base/system_text_win.h"\n', {}, 1),
            ("tools/tag.cpp", '#include "base/x.h"\n', {}, 1),
            # One allowed file of a folder that allows this one back: a circle
            # no folder's own DEPS shows, with or without an include along it.
            ("download/worker.cpp", "", {"download": "base/\nshell/globals.h\n"}, 1),
            ("download/worker.cpp", '#include "shell/globals.h"\n',
             {"download": "base/\nshell/globals.h\n"}, 1),
            # Three floors round: state/ -> shell/ -> download/ -> state/.
            ("state/x.h", "", {"state": "base/\nshell/\n"}, 1),
        ]:
            with self.subTest(path=path, text=text, deps=deps), \
                    tempfile.TemporaryDirectory() as root:
                for folder, allowed in {**DEPS, **deps}.items():
                    os.makedirs(os.path.join(root, folder))
                    with open(os.path.join(root, folder, "DEPS"), "w") as f:
                        f.write(allowed)
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w") as f:
                    f.write(text)
                found = check_layers.problems(root)
                self.assertEqual(len(found), problems, found)

    def test_folders_that_reach_one_another_are_named_once(self):
        edges = {"a": {"b"}, "b": {"c", "a"}, "c": {"a", "d"}, "d": {"e"}, "e": {"d"}, "f": {"a"}}
        self.assertEqual(check_layers.circles(edges), [["a", "b", "c"], ["d", "e"]])


if __name__ == "__main__":
    unittest.main()
