"""DLL planting: a urlmon.dll and a gdiplus.dll beside the exe, with Wine told
to prefer native DLLs, are never loaded, and the run still succeeds. A
control program in the same folder that loads by bare name does pick up the
planted gdiplus.dll, which shows the plant would work on a careless program."""
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402
from splash_run import is_logo  # noqa: E402

PLANTED = ("urlmon", "gdiplus")
PREFER_NATIVE = "mscoree,mshtml=;urlmon,gdiplus=n,b"


class DllPlanting(unittest.TestCase):
    def test_planted_dlls_beside_the_exe_are_never_loaded(self):
        shots = splash_run.artifacts_dir("splash_dll_planting")
        with splash_run.session({"/installer.exe": splash_run.slow_route(3)}) as s:
            markers = {}
            for name in PLANTED:
                planted = os.path.join(s.folder, name + ".dll")
                shutil.copy(os.path.join(winetest.PROGRAMS_DIR, f"planted_{name}.dll"), planted)
                markers[name] = planted + ".loaded"

            loader = os.path.join(s.folder, "dll_loader.exe")
            shutil.copy(winetest.program("dll_loader"), loader)
            code, _ = s.prefix.run([loader, "gdiplus.dll"], WINEDLLOVERRIDES=PREFER_NATIVE)
            self.assertEqual(code, 0)
            self.assertTrue(os.path.exists(markers["gdiplus"]), "the control found no plant")
            os.remove(markers["gdiplus"])

            with s.running(s.tagged_copy("/installer.exe"), WINEDLLOVERRIDES=PREFER_NATIVE) as run:
                run.wait_for_window()
                shot = run.shot(os.path.join(shots, "planted.png"))
                self.assertGreater(shot.share_of((77, 60, 246, 151), is_logo), 0.1,
                                   "the system's GDI+ did not paint the logo")
                self.assertEqual(run.wait_for_exit(60), 0)
                self.assertEqual(len(run.recorded()), 2, "the run did not install and hand off")
            for name, marker in markers.items():
                self.assertFalse(os.path.exists(marker), f"the planted {name}.dll was loaded")

if __name__ == "__main__":
    unittest.main()
