"""Outcomes of the download that a real server cannot produce, under Wine
with the scripted wininet.dll in the prefix's system32: a certificate no one
vouches for, a read that fails as on a reset connection, and a read that
never returns whatever is closed (the watchdog gives the download up). The
URL reaches WinINet without its fragment."""
import hashlib
import os
import shutil
import unittest

import winetest
import worker_run

SCRIPTED_WININET = os.path.join(winetest.PROGRAMS_DIR, "scripted_wininet.dll")


class DownloadOutcomeTest(worker_run.PrefixAndServerTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        shutil.copy(SCRIPTED_WININET, os.path.join(cls.prefix.drive_c, "windows", "system32",
                                                   "wininet.dll"))

    def run_script(self, name, local_appdata, fragment=""):
        run = worker_run.WorkerRun(self.prefix, name)
        values = run.run("run", "http://127.0.0.1:9/unused.exe" + fragment,
                         local_appdata=local_appdata,
                         WINEDLLOVERRIDES="mscoree,mshtml=;wininet=n",
                         ZORVA_SCRIPTED_DOWNLOAD=name)
        return run, values

    def fresh_local_appdata(self, name):
        unix = os.path.join(self.prefix.root, "local-" + name)
        os.makedirs(os.path.join(unix, "Zorva"))
        shutil.copy(worker_run.RECORDER, os.path.join(unix, "Zorva", "Update.exe"))
        return unix

    def test_failures_show_the_failure_texts_after_the_attempts_they_allow(self):
        pin = "#sha256=" + hashlib.sha256(worker_run.recorder_bytes()).hexdigest()
        # script, requests, closes of a stalled session
        cases = [
            ("cert-error", 1, 0),
            # Transient, but no attempt brings a byte: three in a row end it.
            ("failing-read", 3, 0),
            # The stalled read's session is closed once, and the download given
            # up when the read does not return.
            ("deaf", 1, 1),
        ]
        for name, calls, aborts in cases:
            with self.subTest(name):
                local = self.fresh_local_appdata(name)
                run, values = self.run_script(name, self.prefix.windows_path(local), pin)
                self.assertEqual({key: values.get(key) for key in worker_run.FAILURE_TEXTS},
                                 worker_run.FAILURE_TEXTS)
                self.assertEqual(run.printed("requested_url"),
                                 ["http://127.0.0.1:9/unused.exe"] * calls)
                self.assertEqual(len(run.printed("aborts")), aborts)
                # Given up while its read never returns, the worker still holds
                # the file: it goes with the process, its folder with the next run.
                left = os.path.join(local, "ZorvaSetup")
                self.assertEqual(os.listdir(left) if os.path.isdir(left) else [], [])
                self.assertEqual(sorted(set(os.listdir(local)) - {"ZorvaSetup"}), ["Zorva"])
                self.assertEqual(os.listdir(os.path.join(local, "Zorva")), ["Update.exe"])
                self.assertEqual(run.records(), [])


if __name__ == "__main__":
    unittest.main()
