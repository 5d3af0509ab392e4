"""What the download-worker tests share: running worker_probe (the real
worker, with the test builds' short download schedule) in a prefix,
with the prefix's LOCALAPPDATA, another one, or none, and reading what the
command recorder (standing in for the installer, Update.exe and the zorva:
handler) wrote."""
import contextlib
import os
import subprocess
import unittest

import winetest

PROBE = winetest.program("worker_probe")
RECORDER = winetest.program("command_recorder")
PREFIX_LOCAL_APPDATA = None  # run() leaves the prefix's own value alone

# What the probe prints after a failed and after a finished run.
FAILURE_TEXTS = {"state": "3", "percent": "0", "headline": "FAILED TO DOWNLOAD", "progress": ":(",
                 "finished": "1", "closed": "0"}
FINISHED = {"state": "5", "percent": "100", "headline": "INSTALLING ZORVA", "progress": ":)",
            "finished": "1", "closed": "1"}
LAUNCHER_PARAMETERS = '--processStart "Zorva.exe" --process-start-args "zorva://'


def recorder_bytes():
    with open(RECORDER, "rb") as f:
        return f.read()


def tagged_probe(out_path, launch_argument):
    """A copy of the probe whose setup tag carries launch_argument, signed with
    the development key that the program's builds accept."""
    if not os.path.exists(winetest.ZORVA_TAG):
        raise RuntimeError(f"no tagging tool at {winetest.ZORVA_TAG}; build the native preset")
    subprocess.run([winetest.ZORVA_TAG, "sign", "--key", winetest.DEV_PRIVATE_KEY,
                    "--launch-argument", launch_argument, PROBE, out_path],
                   check=True, stdout=subprocess.DEVNULL)
    return out_path


class WorkerRun:
    """One probe run in `prefix`, with a record file of its own."""

    def __init__(self, prefix, name):
        self.prefix = prefix
        self.record_file = os.path.join(prefix.root, f"records-{name}.log")

    def run(self, mode, url=None, local_appdata=PREFIX_LOCAL_APPDATA, probe=PROBE, **env):
        """Runs the probe; returns its "name=value" lines as a dict.

        local_appdata: PREFIX_LOCAL_APPDATA, or the Windows text to set
        LOCALAPPDATA to ("" removes it); cmd sets it, since Wine takes the
        variable from the prefix and ignores the Unix environment."""
        arguments = [mode] + ([url] if url else [])
        if local_appdata is PREFIX_LOCAL_APPDATA:
            command = [probe] + arguments
        else:
            line = " ".join([self.prefix.windows_path(probe)] + arguments)
            command = ["cmd", "/c", f"set LOCALAPPDATA={local_appdata}& {line}"]
        code, out = self.prefix.run(
            command, ZORVA_RECORD_FILE=self.prefix.windows_path(self.record_file), **env)
        if code != 0:
            raise AssertionError(f"worker_probe {mode} exited with {code}: {out}")
        self.output = out
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)

    def printed(self, name):
        """Every value the last run printed under name, in order."""
        return [line.split("=", 1)[1] for line in self.output.splitlines()
                if line.startswith(name + "=")]

    def records(self):
        """(program path, command line) of every recorder start so far, in order."""
        return winetest.read_records(self.record_file)

    def wait_for_records(self, count, timeout=20):
        """The shell starts Update.exe and the zorva: handler without waiting."""
        winetest.wait_until(lambda: len(self.records()) >= count, timeout)
        return self.records()


class PrefixAndServerTest(unittest.TestCase):
    """One fresh prefix and one loopback server for all tests of a class."""

    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        cls.prefix = cls.stack.enter_context(winetest.WinePrefix())
        cls.prefix.boot()
        cls.server = cls.stack.enter_context(winetest.HttpServer())

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()
