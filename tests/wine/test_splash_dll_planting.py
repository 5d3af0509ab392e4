"""DLL planting: a copy of every DLL the setup loads once it runs, with a
screen reader asking for its accessible object, planted beside the exe with
Wine told to prefer DLLs found there, is never loaded, and the run still
answers the reader, installs and hands off. A control program in the same
folder that loads by bare name does pick up a plant, which shows the plant
would work on a careless program."""
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import winetest  # noqa: E402
from splash_run import is_logo  # noqa: E402

# Every DLL the setup process loads after WinMain begins, as a +loaddll trace
# of a normal run with a screen reader asking lists them, the same for the
# 64-bit and the 32-bit exe. The list stops there: the static imports' own
# dependencies (version.dll, shcore.dll, ...) are resolved before any code of
# ours runs, which Wine does through the exe's folder while Windows takes them
# through KnownDLLs, so planting them would test Wine's loader, not the
# program.
LOADED_AFTER_START = ("rpcrt4.dll", "combase.dll", "ole32.dll", "oleaut32.dll", "gdiplus.dll",
                      "winex11.drv", "uxtheme.dll", "propsys.dll", "windowscodecs.dll",
                      "mpr.dll", "ws2_32.dll", "wininet.dll", "oleacc.dll")
# Where Windows cannot restrict the search (7 without its update), it still
# maps KnownDLLs from the system folder, and winex11.drv is Wine's own display
# driver: the build that stands for that Windows is tried with the others.
NOT_SEARCHED_ON_WINDOWS = {"rpcrt4.dll", "combase.dll", "ole32.dll", "oleaut32.dll",
                           "ws2_32.dll", "winex11.drv"}
WITHOUT_DEFAULT_DLL_DIRECTORIES = splash_run.BUILD.program("ZorvaSetupWithoutDefaultDllDirectories")


def prefer_planted(names):
    """WINEDLLOVERRIDES that make Wine load a DLL found beside the exe rather
    than its builtin one, as Windows would."""
    modules = ",".join(name.removesuffix(".dll") for name in names)
    return f"mscoree,mshtml=;{modules}=n,b"


class DllPlanting(unittest.TestCase):
    def plant(self, folder, names):
        """Plants each of names in folder; returns the markers a load leaves."""
        for name in names:
            shutil.copy(os.path.join(splash_run.BUILD.programs_dir, "planted.dll"),
                        os.path.join(folder, name))
        return {name: os.path.join(folder, name + ".loaded") for name in names}

    def assert_run_takes_no_plant(self, exe, names, shot_name):
        with splash_run.session({"/installer.exe": splash_run.slow_route(3)}) as s:
            markers = self.plant(s.folder, names)
            loader = os.path.join(s.folder, "dll_loader.exe")
            shutil.copy(splash_run.BUILD.program("dll_loader"), loader)
            code, _ = s.prefix.run([loader, "gdiplus.dll"], WINEDLLOVERRIDES=prefer_planted(names))
            self.assertEqual(code, 0)
            self.assertTrue(os.path.exists(markers["gdiplus.dll"]), "the control found no plant")
            os.remove(markers["gdiplus.dll"])

            copy = s.tagged_copy("/installer.exe", exe=exe)
            with s.running(copy, screen_reader=splash_run.seconds(60),
                           WINEDLLOVERRIDES=prefer_planted(names)) as run:
                run.wait_for_window()
                shot = run.shot(os.path.join(splash_run.artifacts_dir("splash_dll_planting"),
                                             shot_name))
                self.assertGreater(shot.share_of((77, 60, 246, 151), is_logo), 0.1,
                                   "the system's GDI+ did not paint the logo")
                self.assertEqual(run.wait_for_exit(60), 0)
                self.assertEqual(len(run.recorded()), 2, "the run did not install and hand off")
                reading = run.screen_reader.reading(30)
                self.assertEqual(reading.first.get("role"), splash_run.PROGRESS_BAR_ROLE,
                                 reading.output)
            loaded = [name for name, marker in markers.items() if os.path.exists(marker)]
            self.assertEqual(loaded, [], "planted DLLs were loaded")

    def test_no_dll_beside_the_exe_is_loaded(self):
        self.assert_run_takes_no_plant(splash_run.BUILD.exe, LOADED_AFTER_START, "planted.png")

    def test_without_default_dll_directories_system_dlls_come_from_the_system_folder(self):
        names = [name for name in LOADED_AFTER_START if name not in NOT_SEARCHED_ON_WINDOWS]
        self.assert_run_takes_no_plant(WITHOUT_DEFAULT_DLL_DIRECTORIES, names,
                                       "without_default_dll_directories.png")


if __name__ == "__main__":
    unittest.main()
