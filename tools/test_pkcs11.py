#!/usr/bin/env python3
"""zorva-tag with keys inside a SoftHSM2 token made in a temporary folder: a
token-signed tag is byte for byte the tag the same key signs as a PEM file,
by either signing mechanism; a key made in the token signs tags that its
exported public half verifies; each key that cannot be used gives its line.

Usage: test_pkcs11.py PATH/TO/zorva-tag   (ZORVA_SOURCE_DIR names the source tree)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

import test_zorva_tag as tool
from test_zorva_tag import PRIVATE_KEY, PUBLIC_KEY, run

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "service"))
import test_serve  # noqa: E402

MODULE = os.environ.get("ZORVA_SOFTHSM2_MODULE", "/usr/lib/softhsm/libsofthsm2.so")
PIN = "271828"
WRONG_PIN = "314159"
# What softhsm2.conf lets the token offer: every mechanism, plain PKCS #1 v1.5
# signing alone, or no RSA signing mechanism at all.
MECHANISMS = {"all": "ALL", "no-combined": "CKM_RSA_PKCS", "none": "CKM_SHA1_RSA_PKCS"}
FIELDS = ("--headline", "FROM THE TOKEN", "--download-url", "https://dl.example.com/Setup.exe")


def key_uri(attributes, module=MODULE):
    return f"pkcs11:token=zorva;{attributes}?module-path={module}"


class TokenTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="zorva-pkcs11-test-")
        cls.addClassCleanup(shutil.rmtree, cls.folder)
        os.mkdir(cls.path("tokens"))
        for name, mechanisms in MECHANISMS.items():
            with open(cls.path(name + ".conf"), "w") as conf:
                conf.write(f"directories.tokendir = {cls.path('tokens')}\nobjectstore.backend = file\n"
                           f"log.level = ERROR\nslots.mechanisms = {mechanisms}\n")
        cls.softhsm("--init-token", "--free", "--label", "zorva", "--so-pin", "so-pin-0", "--pin", PIN)
        development = cls.pkcs8(PRIVATE_KEY, "development.p8")
        small = cls.path("small.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024",
                        "-out", small], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for key, label, key_id, *options in (
                (development, "tag-key", "01"), (development, "bare", "02", "--no-public-key"),
                (cls.pkcs8(small, "small.p8"), "small", "03"),
                (development, "twin", "04"), (development, "twin", "05")):
            cls.softhsm("--import", key, "--token", "zorva", "--label", label, "--id", key_id,
                        "--pin", PIN, *options)
        cls.input = cls.path("input.exe")
        with open(cls.input, "wb") as out:
            out.write(os.urandom(4000))
        with_pem = cls.path("pem.exe")
        result = run("sign", "--key", PRIVATE_KEY, *FIELDS, cls.input, with_pem)
        assert result.returncode == 0, result.stderr
        with open(with_pem, "rb") as signed:
            cls.pem_signed = signed.read()

    @classmethod
    def path(cls, name):
        return os.path.join(cls.folder, name)

    @classmethod
    def softhsm(cls, *args):
        subprocess.run(["softhsm2-util", *args], check=True, stdout=subprocess.DEVNULL,
                       env=cls.environment("all"))

    @classmethod
    def pkcs8(cls, key, name):
        subprocess.run(["openssl", "pkcs8", "-topk8", "-nocrypt", "-in", key, "-out", cls.path(name)],
                       check=True)
        return cls.path(name)

    @classmethod
    def environment(cls, mechanisms):
        return dict(os.environ, SOFTHSM2_CONF=cls.path(mechanisms + ".conf"),
                    ZORVA_TEST_PIN=PIN, ZORVA_TEST_WRONG_PIN=WRONG_PIN)

    def sign(self, uri, *options, mechanisms="all"):
        output = self.path("token.exe")
        if os.path.exists(output):
            os.remove(output)
        return run("sign", "--key", uri, *options, *FIELDS, self.input, output,
                   env=self.environment(mechanisms)), output

    def test_the_service_signs_with_the_token_key(self):
        # The service opens its key as sign does: a campaign of the same exe
        # and fields serves the very bytes the PEM key gives.
        config = self.path("serve.toml")
        with open(config, "w") as f:
            f.write(f'listen = "127.0.0.1:0"\nkey = "{key_uri("object=tag-key")}"\n'
                    f'key_pin_env = "ZORVA_TEST_PIN"\n\n[campaigns.token]\nexe = "input.exe"\n'
                    f'headline = "{FIELDS[1]}"\ndownload_url = "{FIELDS[3]}"\n')
        with mock.patch.dict(os.environ, SOFTHSM2_CONF=self.path("all.conf"), ZORVA_TEST_PIN=PIN):
            service = test_serve.Service(config)
        self.addCleanup(service.close)
        response, body = service.request("/token")
        self.assertEqual(response.status, 200, body[:200])
        self.assertEqual(body, self.pem_signed)

    def test_token_signs_the_bytes_the_pem_key_signs(self):
        cases = [
            ("public key object", key_uri("object=tag-key"), (), "all"),
            ("id alone", key_uri("id=%01"), (), "all"),
            ("public key from a file", key_uri("object=bare"), ("--public-key", PUBLIC_KEY), "all"),
            ("CKM_RSA_PKCS over the DigestInfo", key_uri("object=tag-key"), (), "no-combined"),
        ]
        for name, uri, options, mechanisms in cases:
            with self.subTest(name):
                result, output = self.sign(uri, "--key-pin-env", "ZORVA_TEST_PIN", *options,
                                           mechanisms=mechanisms)
                self.assertEqual(result.returncode, 0, result.stderr)
                with open(output, "rb") as signed:
                    self.assertEqual(signed.read(), self.pem_signed)

    def test_made_key_signs_tags_its_exported_half_verifies(self):
        uri = key_uri("object=made;id=%10")
        public = self.path("made.pem")
        made = run("make-key", "--key", uri, "--key-pin-env", "ZORVA_TEST_PIN", "--public-out", public,
                   env=self.environment("all"))
        self.assertEqual(made.returncode, 0, made.stderr)
        result, output = self.sign(uri, "--key-pin-env", "ZORVA_TEST_PIN")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("signature: verified", tool.show_lines(output, "--public-key", public))
        with open(output, "rb") as signed:
            trailer = signed.read()[-1024:]
        with open(self.path("signature"), "wb") as out:
            out.write(trailer[1:257])
        openssl = subprocess.run(["openssl", "dgst", "-sha256", "-verify", public, "-signature",
                                  self.path("signature")], input=trailer[257:], stdout=subprocess.PIPE)
        self.assertEqual(openssl.stdout, b"Verified OK\n")
        again = run("make-key", "--key", uri, "--key-pin-env", "ZORVA_TEST_PIN", "--public-out", public,
                    env=self.environment("all"))
        self.assertEqual(again.returncode, 1)
        self.assertIn("the token already holds a key by this name", again.stderr.decode())

    def test_keys_that_cannot_be_used_give_one_line(self):
        junk = self.path("junk.so")
        with open(junk, "w") as out:
            out.write("not a library\n")
        other_key = tool.make_key(self.folder, "other.key", "RSA", "-pkeyopt", "rsa_keygen_bits:2048")
        other = tool.public_half(other_key, self.folder, "other.pem")
        pin = ("--key-pin-env", "ZORVA_TEST_PIN")
        tag_key = key_uri("object=tag-key")
        cases = [
            (key_uri("object=tag-key", "/nonexistent/module.so"), pin, "all", "cannot load the PKCS #11 module"),
            (key_uri("object=tag-key", junk), pin, "all", "cannot load the PKCS #11 module"),
            (tag_key.replace("token=zorva", "token=other"), pin, "all", "no such token"),
            (key_uri("object=tag-key;library-manufacturer=Other"), pin, "all",
             "the module is not the library the URI's library attributes name"),
            (tag_key, ("--key-pin-env", "ZORVA_TEST_WRONG_PIN"), "all", "wrong PIN (from ZORVA_TEST_WRONG_PIN)"),
            (tag_key, ("--key-pin-env", "ZORVA_TEST_UNSET"), "all",
             "the environment variable ZORVA_TEST_UNSET (the token's PIN) is not set"),
            (tag_key, (), "all", "name it with --key-pin-env NAME"),
            (key_uri("object=missing"), pin, "all", "no such private key on the token"),
            (key_uri("object=twin"), pin, "all", "more than one private key matches"),
            (key_uri("object=small"), pin, "all", "the modulus has 1024 bits, a tag key needs exactly 2048"),
            (tag_key, pin, "none",
             "the token offers neither CKM_SHA256_RSA_PKCS nor CKM_RSA_PKCS"),
            (key_uri("object=bare"), pin, "all", "the token holds no public key beside the private key"),
            (tag_key, (*pin, "--public-key", other), "all", "the public key is not the private key's other half"),
            (f"{tag_key}&pin-value={PIN}", pin, "all", "the PKCS #11 URI holds a PIN"),
            (key_uri("objekt=tag-key"), pin, "all", "the PKCS #11 URI has an attribute this tool does not know"),
        ]
        for uri, options, mechanisms, message in cases:
            with self.subTest(message, uri=uri):
                result, output = self.sign(uri, *options, mechanisms=mechanisms)
                error = result.stderr.decode()
                self.assertEqual(result.returncode, 1, error)
                self.assertEqual(error.count("\n"), 1, error)
                self.assertIn(message, error)
                self.assertNotIn(PIN, error)
                self.assertNotIn(WRONG_PIN, error)
                self.assertFalse(os.path.exists(output))


if __name__ == "__main__":
    tool.TOOL = test_serve.TOOL = sys.argv.pop(1)
    unittest.main()
