"""DLL planting: a urlmon.dll and a gdiplus.dll beside the exe, with Wine told
to prefer native DLLs, are never loaded, and the run still succeeds. A
control program in the same folder that loads by bare name does pick up the
planted gdiplus.dll, which shows the plant would work on a careless program."""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402
from splash_run import SetupRun, is_logo  # noqa: E402

PLANTED = ("urlmon", "gdiplus")
PREFER_NATIVE = "mscoree,mshtml=;urlmon,gdiplus=n,b"


class DllPlanting(unittest.TestCase):
    def test_planted_dlls_beside_the_exe_are_never_loaded(self):
        shots = splash_run.artifacts_dir("splash_dll_planting")
        with tempfile.TemporaryDirectory() as folder, winetest.WinePrefix() as prefix, \
                winetest.HttpServer({"/installer.exe": splash_run.slow_route(3)}) as server:
            exe = splash_run.tagged_copy(folder, winetest.DEV_PRIVATE_KEY,
                                         download_url=server.url("/installer.exe"))
            markers = {}
            for name in PLANTED:
                planted = os.path.join(folder, name + ".dll")
                shutil.copy(os.path.join(winetest.PROGRAMS_DIR, f"planted_{name}.dll"), planted)
                markers[name] = planted + ".loaded"

            loader = os.path.join(folder, "dll_loader.exe")
            shutil.copy(winetest.program("dll_loader"), loader)
            code, _ = prefix.run([loader, "gdiplus.dll"], WINEDLLOVERRIDES=PREFER_NATIVE)
            self.assertEqual(code, 0)
            self.assertTrue(os.path.exists(markers["gdiplus"]), "the control found no plant")
            os.remove(markers["gdiplus"])

            run = SetupRun(prefix, exe, WINEDLLOVERRIDES=PREFER_NATIVE)
            try:
                run.wait_for_window()
                shot = run.shot(os.path.join(shots, "planted.png"))
                self.assertGreater(shot.share_of((77, 60, 246, 151), is_logo), 0.1,
                                   "the system's GDI+ did not paint the logo")
                self.assertEqual(run.wait_for_exit(60), 0)
            finally:
                run.kill()
            for name, marker in markers.items():
                self.assertFalse(os.path.exists(marker), f"the planted {name}.dll was loaded")
            self.assertEqual(len(run.recorded()), 2, "the run did not install and hand off")


if __name__ == "__main__":
    unittest.main()
