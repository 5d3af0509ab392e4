"""The download worker under Wine, against a loopback HTTP server: the
installer it downloads is the command recorder, so is Update.exe, and every
run records the command lines it caused. A URL's installer pin decides what
may run, and no fragment reaches the server; what the server answers
decides how often it is asked."""
import getpass
import hashlib
import os
import shutil
import unittest

import winetest
import worker_run


class DownloadWorkerTest(worker_run.PrefixAndServerTest):
    def serve(self, path, route):
        """Each test has URLs of its own, so each counts its own requests."""
        self.server.routes[path] = route
        return self.server.url(path)

    def local_appdata(self, name, with_update_exe=False):
        """A fresh local application-data folder with a space in its path;
        returns its Unix and Windows paths."""
        unix = os.path.join(self.prefix.root, "local " + name)
        os.makedirs(unix)
        if with_update_exe:
            os.makedirs(os.path.join(unix, "Zorva"))
            shutil.copy(worker_run.RECORDER, os.path.join(unix, "Zorva", "Update.exe"))
        return unix, self.prefix.windows_path(unix)

    @staticmethod
    def output_of(process):
        with open(process.output_path, errors="replace") as f:
            return f.read()

    def assert_state(self, values, expected):
        self.assertEqual({name: values.get(name) for name in expected}, expected)

    def assert_installer_then_launcher(self, records, update_exe, parameters):
        self.assertEqual(len(records), 2, records)
        installer, installer_command = records[0]
        self.assertRegex(installer, r"\\ZorvaSetup\\ZorvaInstaller-\d+\.exe$")
        self.assertEqual(installer_command, f'"{installer}" --silent')
        self.assertEqual(records[1], (update_exe, f'"{update_exe}" {parameters}'))

    def setup_folders(self, local_unix):
        zorva = os.path.join(local_unix, "Zorva")
        return [zorva, os.path.join(zorva, "packages"),
                os.path.join(zorva, "packages", "SquirrelTemp")]

    def test_the_file_being_written_is_held_against_others_and_goes_after_a_cancel(self):
        url = self.serve("/held/installer.exe",
                         winetest.Route(bytes(600 * 1024), chunk=8192, delay=0.04))
        values = worker_run.WorkerRun(self.prefix, "held").run("hold", url)
        self.assertRegex(values["file"], r"\\AppData\\Local\\ZorvaSetup\\ZorvaInstaller-\d+\.exe$")
        self.assertEqual({name: values[name] for name in
                          ("write_refused", "rename_refused", "delete_refused", "left")},
                         {"write_refused": "1", "rename_refused": "1", "delete_refused": "1",
                          "left": "0"})
        self.assertFalse(os.path.exists(os.path.join(self.prefix.local_appdata, "ZorvaSetup")))

    def test_download_runs_the_installer_and_starts_update_exe(self):
        # The prefix's own LOCALAPPDATA, as a real run has it.
        zorva = os.path.join(self.prefix.local_appdata, "Zorva")
        os.makedirs(zorva)
        shutil.copy(worker_run.RECORDER, os.path.join(zorva, "Update.exe"))
        url = self.serve("/ok/installer.exe", winetest.Route(worker_run.recorder_bytes(), chunk=4096))
        run = worker_run.WorkerRun(self.prefix, "ok")
        self.assert_state(run.run("run", url), worker_run.FINISHED)
        for folder in self.setup_folders(self.prefix.local_appdata):
            self.assertTrue(os.path.isdir(folder), folder)
        update_exe = rf"C:\users\{getpass.getuser()}\AppData\Local\Zorva\Update.exe"
        self.assert_installer_then_launcher(run.wait_for_records(2), update_exe,
                                            worker_run.LAUNCHER_PARAMETERS + '"')

    def test_installer_exiting_with_an_error_still_hands_off(self):
        local_unix, local = self.local_appdata("exit code", with_update_exe=True)
        url = self.serve("/exit7/installer.exe", winetest.Route(worker_run.recorder_bytes()))
        run = worker_run.WorkerRun(self.prefix, "exit7")
        values = run.run("run", url, local_appdata=local, ZORVA_RECORDER_EXIT_CODE="7")
        self.assert_state(values, worker_run.FINISHED)
        self.assert_installer_then_launcher(run.wait_for_records(2), local + r"\Zorva\Update.exe",
                                            worker_run.LAUNCHER_PARAMETERS + '"')

    def test_launch_argument_from_the_tag_reaches_update_exe_verbatim(self):
        argument = "open 'a b' c?d=%20"
        probe = worker_run.tagged_probe(os.path.join(self.prefix.root, "tagged_probe.exe"), argument)
        local_unix, local = self.local_appdata("tagged", with_update_exe=True)
        url = self.serve("/tagged/installer.exe", winetest.Route(worker_run.recorder_bytes()))
        run = worker_run.WorkerRun(self.prefix, "tagged")
        self.assert_state(run.run("run", url, local_appdata=local, probe=probe), worker_run.FINISHED)
        self.assert_installer_then_launcher(run.wait_for_records(2), local + r"\Zorva\Update.exe",
                                            worker_run.LAUNCHER_PARAMETERS + argument + '"')

    def test_installer_that_is_no_program_fails_before_anything_is_made(self):
        local_unix, local = self.local_appdata("not a program")
        # No "MZ": Wine would hand an MZ file that is no PE file to its DOS
        # and Win16 runner, which starts (wine32 has one) and fails later.
        url = self.serve("/garbage/installer.exe", winetest.Route(b"not a program " * 64))
        run = worker_run.WorkerRun(self.prefix, "garbage")
        values = run.run("run", url, local_appdata=local)
        self.assert_state(values, worker_run.FAILURE_TEXTS)
        self.assertEqual(os.listdir(local_unix), [])
        self.assertEqual(run.records(), [])

    def test_failed_downloads_show_the_failure_texts(self):
        body = worker_run.recorder_bytes()
        # The status and the announced length tell a 404 page or a cut body
        # from the installer, before any folder is made. A cut that keeps no
        # resumable bytes (the server names no validator) starts over, and
        # three attempts that bring nothing new end the download.
        cases = {
            "HTTP 404": (winetest.Route(b"not found", status=404), 1),
            "connection closed mid-body": (
                winetest.Route(body, chunk=1024, cut_after=len(body) // 4), 4),
            "nothing listening": (None, 0),
        }
        for name, (route, requests) in cases.items():
            with self.subTest(name):
                path = "/" + name.replace(" ", "-") + "/installer.exe"
                url = (self.serve(path, route) if route else
                       f"http://127.0.0.1:{winetest.unused_port()}/installer.exe")
                local_unix, local = self.local_appdata(name)
                run = worker_run.WorkerRun(self.prefix, name.replace(" ", "-"))
                self.assert_state(run.run("run", url, local_appdata=local), worker_run.FAILURE_TEXTS)
                self.assertEqual(os.listdir(local_unix), [])
                if route:
                    self.assertEqual(route.requests, requests)
                self.assertEqual(run.records(), [])

    def test_installer_pin_lets_only_the_pinned_installer_run(self):
        body = worker_run.recorder_bytes()
        pin = hashlib.sha256(body).hexdigest()
        cases = [
            # name, URL fragment, served bytes, runs
            ("pin matches", "#sha256=" + pin, body, True),
            ("pin in capitals matches", "#SHA256=" + pin.upper(), body, True),
            ("other fragment", "#top", body, True),
            ("other bytes served", "#sha256=" + pin, body + b"\0", False),
            ("malformed pin", "#sha256=" + pin[1:], body, False),
        ]
        for name, fragment, served, runs in cases:
            with self.subTest(name):
                path = "/" + name.replace(" ", "-") + "/installer.exe"
                route = winetest.Route(served)
                url = self.serve(path, route) + fragment
                local_unix, local = self.local_appdata(name, with_update_exe=True)
                run = worker_run.WorkerRun(self.prefix, name.replace(" ", "-"))
                values = run.run("run", url, local_appdata=local)
                lines = [line for line in self.server.request_lines if path in line]
                if runs:
                    self.assert_state(values, worker_run.FINISHED)
                    self.assert_installer_then_launcher(
                        run.wait_for_records(2), local + r"\Zorva\Update.exe",
                        worker_run.LAUNCHER_PARAMETERS + '"')
                    self.assertEqual(lines, [f"GET {path} HTTP/1.1"])
                else:
                    self.assert_state(values, worker_run.FAILURE_TEXTS)
                    # Checked before the folders are made; a malformed pin fetches nothing.
                    self.assertEqual(os.listdir(os.path.join(local_unix, "Zorva")), ["Update.exe"])
                    # A mismatch is fetched once more, whole.
                    self.assertEqual(route.requests, 0 if name == "malformed pin" else 2)
                    self.assertEqual(run.records(), [])

    def test_a_take_over_between_two_reads_leaves_file_and_texts_to_one_owner(self):
        # The first read's repaint holds the worker past the stall bound and
        # its grace: the watchdog gives it up, then the worker goes on.
        local_unix, local = self.local_appdata("taken over")
        url = self.serve("/stuck/installer.exe",
                         winetest.Route(bytes(600 * 1024), chunk=8192, delay=0.04))
        run = worker_run.WorkerRun(self.prefix, "taken-over")
        values = run.run("takeover", url, local_appdata=local)
        self.assert_state(values, worker_run.FAILURE_TEXTS)
        self.assertEqual(values["worker_returned"], "1")
        # No write after the take-over, and the file was not deleted under
        # the worker: it went once, with the process that held it.
        self.assertGreater(int(values["file_bytes_at_take_over"]), 0)
        self.assertEqual(values["file_bytes_at_end"], values["file_bytes_at_take_over"])
        self.assertEqual(os.listdir(os.path.join(local_unix, "ZorvaSetup")), [])
        # The failure texts once, and no percentage after them.
        repaints = run.printed("repaint")
        self.assertEqual(repaints.count(":("), 1, repaints)
        self.assertEqual(repaints[-1], ":(", repaints)
        self.assertTrue(all(text.endswith("%") for text in repaints[:-1]), repaints)

    def test_a_run_removes_the_files_runs_left_and_never_a_held_one(self):
        local_unix, local = self.local_appdata("left files", with_update_exe=True)
        folder = os.path.join(local_unix, "ZorvaSetup")
        os.makedirs(folder)
        # A run ended from outside left its file, and a file that is none of
        # a run's sits beside it.
        for name in ("ZorvaInstaller-4000000003.exe", "notes.txt"):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(bytes(100))
        # A run at work holds its file.
        holder = self.prefix.start([worker_run.PROBE, "leave", self.prefix.windows_path(folder), "60"])
        try:
            self.assertTrue(winetest.wait_until(lambda: "holding=1" in self.output_of(holder), 30),
                            "nothing held")
            kept = sorted(os.listdir(folder))
            url = self.serve("/left/installer.exe", winetest.Route(worker_run.recorder_bytes()))
            run = worker_run.WorkerRun(self.prefix, "left")
            self.assert_state(run.run("run", url, local_appdata=local), worker_run.FINISHED)
            self.assertEqual(sorted(os.listdir(folder)),
                             [name for name in kept if name != "ZorvaInstaller-4000000003.exe"])
            self.assertEqual(len(kept), 3, kept)
        finally:
            holder.kill()
            holder.wait()

    def test_a_cancel_ends_the_transfer_and_stays(self):
        # About three seconds of body, so the cancel lands mid-transfer.
        url = self.serve("/slow/installer.exe",
                         winetest.Route(bytes(600 * 1024), chunk=8192, delay=0.04))
        values = worker_run.WorkerRun(self.prefix, "cancel").run("cancel", url)
        self.assertGreater(int(values["percent_at_cancel"]), 0)
        self.assertLess(int(values["percent_at_cancel"]), 100)
        self.assertEqual(values["state_after_cancel"], "2")
        self.assertEqual(values["result"], "0")
        self.assertEqual(values["state"], "2")


if __name__ == "__main__":
    unittest.main()
