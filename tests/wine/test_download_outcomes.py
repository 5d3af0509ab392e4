"""Outcomes of the download call that a real server cannot produce, under
Wine with the scripted urlmon.dll in the prefix's system32: an end of
transfer reported after the call returned (the worker waits for it), a call
that returns S_OK with no end at all (a cancel decides, or the stall bound
ends the wait), a failed end with S_OK, a successful end with a failing
call, and a call that never returns whatever its binding is told (the
watchdog gives the download up). The installer is pinned in the late end:
the worker hashes the file the call named, and hands the call the URL
without its fragment."""
import hashlib
import os
import shutil
import unittest

import winetest
import worker_run

SCRIPTED_URLMON = os.path.join(winetest.PROGRAMS_DIR, "scripted_urlmon.dll")


class DownloadOutcomeTest(worker_run.PrefixAndServerTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        shutil.copy(SCRIPTED_URLMON, os.path.join(cls.prefix.drive_c, "windows", "system32",
                                                  "urlmon.dll"))
        # The "downloaded" installer: a path with spaces, kept one token by its quotes.
        cls.installer = os.path.join(cls.prefix.root, "Zorva Setup 6.0.exe")
        shutil.copy(worker_run.RECORDER, cls.installer)

    def run_script(self, name, mode, local_appdata, fragment=""):
        run = worker_run.WorkerRun(self.prefix, name)
        values = run.run(mode, "http://127.0.0.1:9/unused.exe" + fragment, local_appdata=local_appdata,
                         WINEDLLOVERRIDES="mscoree,mshtml=;urlmon=n",
                         ZORVA_SCRIPTED_DOWNLOAD=name,
                         ZORVA_SCRIPTED_FILE=self.prefix.windows_path(self.installer))
        return run, values

    def fresh_local_appdata(self, name):
        unix = os.path.join(self.prefix.root, "local-" + name)
        os.makedirs(os.path.join(unix, "Zorva"))
        shutil.copy(worker_run.RECORDER, os.path.join(unix, "Zorva", "Update.exe"))
        return unix

    def test_an_end_reported_after_the_call_is_waited_for(self):
        local = self.fresh_local_appdata("late")
        pin = "#sha256=" + hashlib.sha256(worker_run.recorder_bytes()).hexdigest()
        run, values = self.run_script("late-success", "run", self.prefix.windows_path(local), pin)
        self.assertEqual(values["requested_url"], "http://127.0.0.1:9/unused.exe")
        self.assertEqual({key: values.get(key) for key in worker_run.FINISHED},
                         dict(worker_run.FINISHED, percent="0", progress="0%"))
        records = run.wait_for_records(2)
        installer = self.prefix.windows_path(self.installer)
        update_exe = self.prefix.windows_path(local) + r"\Zorva\Update.exe"
        self.assertEqual(records, [
            (installer, f'"{installer}" --silent'),
            (update_exe, f'"{update_exe}" {worker_run.LAUNCHER_PARAMETERS}"')])

    def test_without_an_end_a_cancel_decides_and_stays(self):
        run, values = self.run_script("no-end", "cancel", worker_run.PREFIX_LOCAL_APPDATA)
        self.assertEqual(values["percent_at_cancel"], "50")
        self.assertEqual(values["state_after_cancel"], "2")
        self.assertEqual(values["result"], "0")
        self.assertEqual(values["state"], "2")
        self.assertEqual(run.records(), [])

    def test_failures_show_the_failure_texts_after_the_attempts_they_allow(self):
        # script, download calls, aborts of the binding
        cases = [
            ("failed-end", 1, 0),
            ("failing-call", 1, 0),
            # Each wait for the end is cut short by the stall bound; a stall is retried once.
            ("no-end", 2, 0),
            # The stalled call is aborted once, and given up when it does not end.
            ("deaf", 1, 1),
        ]
        for name, calls, aborts in cases:
            with self.subTest(name):
                local = self.fresh_local_appdata(name)
                run, values = self.run_script(name, "run", self.prefix.windows_path(local))
                self.assertEqual({key: values.get(key) for key in worker_run.FAILURE_TEXTS},
                                 worker_run.FAILURE_TEXTS)
                self.assertEqual(len(run.printed("requested_url")), calls)
                self.assertEqual(len(run.printed("aborts")), aborts)
                self.assertEqual(os.listdir(os.path.join(local, "Zorva")), ["Update.exe"])
                self.assertEqual(run.records(), [])


if __name__ == "__main__":
    unittest.main()
