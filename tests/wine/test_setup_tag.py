"""ReadSetupTag in a real Windows build under Wine: a probe program reads the
tag of its own file, tagged by zorva-tag in different ways."""
import os
import shutil
import subprocess
import tempfile
import unittest

import winetest

ABSENT = "<absent>"


class SetupTagTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = winetest.WinePrefix().__enter__()
        cls.prefix.boot()
        cls.folder = tempfile.mkdtemp(prefix="zorva-tag-wine-")
        cls.other_key = os.path.join(cls.folder, "other.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                        "-out", cls.other_key], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.prefix.__exit__(None, None, None)
        shutil.rmtree(cls.folder)

    def probe_copy(self, name, *fields, key=winetest.DEV_PRIVATE_KEY):
        """A copy of the probe, tagged with `fields` unless there are none."""
        path = os.path.join(self.folder, name + ".exe")
        shutil.copy(winetest.program("tag_probe"), path)
        if fields:
            subprocess.run([winetest.ZORVA_TAG, "sign", "--key", key, *fields, path, path],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def read_tag(self, path):
        code, out = self.prefix.run([path])
        self.assertEqual(code, 0, out)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        self.assertEqual(values.get("moved"), "1", "the probe could not move its own file away")
        self.assertEqual(values.get("second_call_same"), "1", "a later call read again or differed")
        return values["headline"], values["launchArgument"], values["downloadUrl"]

    def test_untagged_copy_has_no_fields(self):
        self.assertEqual(self.read_tag(self.probe_copy("plain")), (ABSENT, ABSENT, ABSENT))

    def test_tagged_copy_gives_its_fields_at_odd_offsets(self):
        # An 18-character headline puts the next string at an odd offset.
        path = self.probe_copy("tagged", "--headline", "Eighteen char text",
                               "--launch-argument", "invite/Zoë?x=1",
                               "--download-url", "https://dl.example.com/setup.exe")
        self.assertEqual(self.read_tag(path), ("Eighteen char text", "invite/Zoë?x=1",
                                               "https://dl.example.com/setup.exe"))

    def test_empty_field_is_present(self):
        path = self.probe_copy("empty", "--launch-argument", "")
        self.assertEqual(self.read_tag(path), (ABSENT, "", ABSENT))

    def test_tag_of_another_key_is_ignored(self):
        path = self.probe_copy("other", "--headline", "Forged", key=self.other_key)
        self.assertEqual(self.read_tag(path), (ABSENT, ABSENT, ABSENT))

    def test_damaged_payload_is_ignored(self):
        path = self.probe_copy("damaged", "--headline", "Damaged")
        with open(path, "r+b") as copy:
            copy.seek(-10, os.SEEK_END)
            copy.write(b"\x01")
        self.assertEqual(self.read_tag(path), (ABSENT, ABSENT, ABSENT))


if __name__ == "__main__":
    unittest.main()
