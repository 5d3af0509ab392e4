#!/usr/bin/env python3
"""Tests of make_tag_key.py: the generated key matches the PEM's numbers, the
output is the same bytes every time, and keys the program cannot use are
rejected with one clear line.

Usage: test_make_tag_key.py   (ZORVA_SOURCE_DIR names the source tree)
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ.get("ZORVA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
GENERATOR = os.path.join(SOURCE_DIR, "tag", "make_tag_key.py")
PUBLIC_KEY = os.path.join(SOURCE_DIR, "keys", "development", "public.pem")


def generate(public_key, output):
    return subprocess.run([sys.executable, GENERATOR, public_key, output],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)


def openssl(*args):
    return subprocess.run(["openssl", *args], check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL).stdout


class MakeTagKeyTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="zorva-make-tag-key-")

    def tearDown(self):
        shutil.rmtree(self.folder)

    def path(self, name):
        return os.path.join(self.folder, name)

    def public_key(self, name, *options):
        private = self.path(name + ".key")
        openssl("genpkey", "-algorithm", *options, "-out", private)
        public = self.path(name + ".pem")
        openssl("pkey", "-in", private, "-pubout", "-out", public)
        return public

    def test_numbers_and_fingerprint_match_the_key(self):
        self.assertEqual(generate(PUBLIC_KEY, self.path("key.cpp")).returncode, 0)
        with open(self.path("key.cpp")) as source:
            text = source.read()
        words = [int(w, 16) for w in re.findall(r"0x([0-9a-f]{8})", text)]
        self.assertEqual(len(words), 1 + 64 + 64)
        modulus_hex = openssl("pkey", "-pubin", "-in", PUBLIC_KEY, "-noout", "-text")
        n = int(re.sub(r"[^0-9a-f]", "", modulus_hex.decode().split("Modulus:")[1].split("Exponent")[0]), 16)
        self.assertEqual(sum(w << (32 * i) for i, w in enumerate(words[1:65])), n)
        self.assertEqual(sum(w << (32 * i) for i, w in enumerate(words[65:])), pow(2, 4096, n))
        self.assertEqual((words[0] * n) % (1 << 32), (1 << 32) - 1)
        der = openssl("pkey", "-pubin", "-in", PUBLIC_KEY, "-outform", "DER")
        fingerprint = re.findall(r"0x([0-9a-f]{2})", text.split("compiledTagKeyDerSha256")[1])
        self.assertEqual("".join(fingerprint), hashlib.sha256(der).hexdigest())

    def test_same_key_gives_the_same_bytes(self):
        for name in ("a.cpp", "b.cpp"):
            self.assertEqual(generate(PUBLIC_KEY, self.path(name)).returncode, 0)
        with open(self.path("a.cpp"), "rb") as a, open(self.path("b.cpp"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_unusable_keys_are_rejected(self):
        garbage = self.path("garbage.pem")
        with open(garbage, "w") as out:
            out.write("not a key\n")
        cases = [
            (self.public_key("small", "RSA", "-pkeyopt", "rsa_keygen_bits:1024"),
             "modulus has 1024 bits"),
            (self.public_key("large", "RSA", "-pkeyopt", "rsa_keygen_bits:3072"),
             "modulus has 3072 bits"),
            (self.public_key("e3", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                             "-pkeyopt", "rsa_keygen_pubexp:3"), "public exponent is 3"),
            (self.public_key("ec", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"), "not an RSA key"),
            (garbage, "not a PEM public key"),
            (self.path("missing.pem"), "not a PEM public key"),
        ]
        for key, message in cases:
            with self.subTest(key=os.path.basename(key)):
                result = generate(key, self.path("out.cpp"))
                self.assertEqual(result.returncode, 1)
                error = result.stderr.decode()
                self.assertEqual(error.count("\n"), 1, error)
                self.assertIn(message, error)
                self.assertFalse(os.path.exists(self.path("out.cpp")))

    def test_top_bit_clear_is_rejected(self):
        # A 2047-bit modulus: 2048 bits in the DER integer but the top bit clear.
        key = self.public_key("short", "RSA", "-pkeyopt", "rsa_keygen_bits:2047")
        result = generate(key, self.path("out.cpp"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("modulus has 2047 bits", result.stderr.decode())


if __name__ == "__main__":
    unittest.main()
