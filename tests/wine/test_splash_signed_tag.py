"""A copy signed with Authenticode and then tagged, the tag inside the
signature where Windows' strict check accepts it: the exe still finds the tag
in its last 1024 bytes, shows its headline and downloads from its URL."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import splash_run  # noqa: E402
import test_splash_tag as tagged  # noqa: E402
import winetest  # noqa: E402


def authenticode_signed(exe, folder):
    """`exe` signed with a throwaway code-signing certificate (Wine checks none)."""
    key, certificate, signed = (os.path.join(folder, name) for name in ("code.key", "code.pem", "signed.exe"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", certificate, "-days", "2", "-subj", "/CN=Zorva Test Signing",
                    "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["osslsigncode", "sign", "-certs", certificate, "-key", key, "-in", exe, "-out", signed],
                   check=True, stdout=subprocess.DEVNULL)
    return signed


class SignedTaggedCopy(unittest.TestCase):
    def test_tag_inside_the_signature_is_used(self):
        shots = splash_run.artifacts_dir("splash_signed_tag")
        route = splash_run.slow_route(4)
        with splash_run.session({"/tagged.exe": route}) as s:
            signed = authenticode_signed(splash_run.BUILD.exe, s.folder)
            copy = s.tagged_copy("/tagged.exe", exe=signed, headline=tagged.TAG_HEADLINE)
            shown = subprocess.run([winetest.ZORVA_TAG, "show", copy], check=True,
                                   stdout=subprocess.PIPE).stdout.decode()
            self.assertIn("placement: inside the signature", shown)
            with s.running(copy) as run:
                run.wait_for_window()
                width = tagged.headline_width(run.shot(os.path.join(shots, "tag_headline.png")))
                self.assertTrue(0 < width <= tagged.TAG_HEADLINE_MAX_WIDTH, f"headline width {width}")
                self.assertTrue(winetest.wait_until(lambda: route.requests == 1, splash_run.seconds(20)),
                                "the tag's URL was not used")


if __name__ == "__main__":
    unittest.main()
