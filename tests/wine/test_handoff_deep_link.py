"""The hand-off without a usable LOCALAPPDATA, under Wine: no folder is made
and the shell opens the bare zorva: deep link, here with the command recorder
registered as the scheme's handler."""
import os
import unittest

import winetest
import worker_run


class DeepLinkTest(worker_run.PrefixAndServerTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.prefix.register_url_protocol("zorva", worker_run.RECORDER,
                                         classes=winetest.MACHINE_CLASSES)
        cls.handler = cls.prefix.windows_path(worker_run.RECORDER)

    def assert_deep_link_opened(self, name, local_appdata, deep_link, probe=worker_run.PROBE):
        self.server.routes[f"/{name}/installer.exe"] = winetest.Route(worker_run.recorder_bytes())
        run = worker_run.WorkerRun(self.prefix, name)
        values = run.run("run", self.server.url(f"/{name}/installer.exe"),
                         local_appdata=local_appdata, probe=probe)
        self.assertEqual({key: values.get(key) for key in worker_run.FINISHED}, worker_run.FINISHED)
        records = run.wait_for_records(2)
        self.assertEqual(len(records), 2, records)
        self.assertTrue(records[0][1].endswith('" --silent'), records[0])
        self.assertEqual(records[1], (self.handler, f'"{self.handler}" "{deep_link}"'))
        self.assertFalse(os.path.exists(os.path.join(self.prefix.local_appdata, "Zorva")))

    def test_missing_local_appdata_opens_the_bare_deep_link(self):
        self.assert_deep_link_opened("missing", "", "zorva://")

    def test_a_value_too_long_for_its_buffer_counts_as_missing(self):
        long_value = "C:\\long" + "\\" + "\\".join(["d" * 50] * 6)  # 313 units
        self.assertGreaterEqual(len(long_value), 260)
        self.assert_deep_link_opened("long", long_value, "zorva://")
        self.assertFalse(os.path.exists(os.path.join(self.prefix.drive_c, "long")))

    def test_the_tags_launch_argument_is_appended_verbatim(self):
        argument = "open/a b?c=%20"
        probe = worker_run.tagged_probe(os.path.join(self.prefix.root, "tagged_probe.exe"), argument)
        self.assert_deep_link_opened("tagged", "", "zorva://" + argument, probe=probe)


if __name__ == "__main__":
    unittest.main()
