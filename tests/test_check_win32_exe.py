"""The exe check's rule for imports, on made-up import tables against the
committed list: an import newer than Windows 7, or one the list lacks, fails."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_win32_exe  # noqa: E402


class ImportRule(unittest.TestCase):
    def test_only_listed_imports_that_windows_7_has_pass(self):
        minimums = check_win32_exe.read_import_minimums()
        for imports, problems in [
            ([("KERNEL32.dll", "Sleep"), ("shlwapi.dll", "#12")], 0),
            ([("KERNEL32.dll", "SetDefaultDllDirectories")], 1),
            ([("user32.dll", "GetDpiForWindow"), ("kernel32.dll", "Sleep")], 1),
            ([("KERNEL32.dll", "AddDllDirectory")], 1),
        ]:
            with self.subTest(imports=imports):
                found = check_win32_exe.import_problems(imports, minimums)
                self.assertEqual(len(found), problems, found)


if __name__ == "__main__":
    unittest.main()
