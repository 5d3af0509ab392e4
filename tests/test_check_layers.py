"""The layering check on made-up trees: an include up or sideways, a Win32
header in a file not named _win, and a folder without DEPS are caught."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_layers  # noqa: E402

DEPS = {"base": "", "download": "base/\nshell/setup_globals.h\n", "splash": "base/\n"}


class LayeringRule(unittest.TestCase):
    def test_includes_that_point_up_sideways_or_into_the_edge_are_caught(self):
        for path, text, problems in [
            ("download/worker.cpp", '#include "shell/setup_globals.h"\n#include "base/x.h"\n', 0),
            ("download/worker.cpp", '#include "shell/window_placement.h"\n', 1),
            ("base/text.h", '#include "download/worker.h"\n', 1),
            ("splash/painter.cpp", "#include <windows.h>\n", 1),
            ("splash/painter_win.cpp", "#include <windows.h>\n", 0),
            ("splash/painter.cpp", '#include "base/system_text_win.h"\n', 1),
            ("tools/tag.cpp", '#include "base/x.h"\n', 1),
        ]:
            with self.subTest(path=path, text=text), tempfile.TemporaryDirectory() as root:
                for folder, deps in DEPS.items():
                    os.makedirs(os.path.join(root, folder))
                    with open(os.path.join(root, folder, "DEPS"), "w") as f:
                        f.write(deps)
                os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(root, path), "w") as f:
                    f.write(text)
                found = check_layers.problems(root)
                self.assertEqual(len(found), problems, found)


if __name__ == "__main__":
    unittest.main()
