#!/usr/bin/env python3
"""Tests of `zorva-tag serve`, started for real on a loopback port: tags that
verify with the configured fields, fields a query cannot reach, invalid values
never signed, the HMAC, 304, texts tables chosen by lang and Accept-Language,
start-up refusals, request limits, slow clients, SIGTERM and SIGHUP, base
files that carry an older tag, and the runs' pings, counted in /metrics and
read by the real Prometheus with the shipped rules.

Usage: test_serve.py PATH/TO/zorva-tag   (ZORVA_SOURCE_DIR names the source tree)
"""
import hashlib
import hmac
import http.client
import ctypes
import json
import os
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import test_zorva_tag as tool  # noqa: E402

TOOL = None
SOURCE_DIR = os.environ.get("ZORVA_SOURCE_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
URL = "https://downloads.example.com/ZorvaInstaller.exe"
HMAC_KEY = "site secret"
BASE_EXE = tool.pe_file()

CONFIG = """
listen = "127.0.0.1:0"
key = "{key}"
connection_timeout_seconds = 2

[campaigns.invite]
exe = "base.exe"
file_name = "ZorvaSetup.exe"
headline = "YOU ARE INVITED"
launch_argument = "invite?code={{code}}"
download_url = "{url}"
install_ratio_alert = 0.75

[campaigns.invite.parameters]
code = "[A-Za-z0-9]{{4,32}}"

[campaigns.loose]
exe = "base.exe"
headline = "from {{who}}"
launch_argument = "who={{who}}"
download_url = "{url}"
on_invalid = "reject"

[campaigns.loose.parameters]
who = "(.|\\n){{1,600}}"

[campaigns.pinned]
exe = "base.exe"
download_url = "{url}"
installer = "base.exe"
ping_url = "https://ping.example.com/ping"

[campaigns.mirrored]
exe = "base.exe"
download_url = "{url}"
installer = "base.exe"
mirrors = ["http://mirror1.example.com/ZorvaInstaller.exe", "https://mirror2.example.com/ZorvaInstaller.exe"]
fallback_page = "https://example.com/full"
ping_url = "https://ping.example.com/ping?source=setup"
default_language = "de"

[campaigns.mirrored.texts.en]

[campaigns.mirrored.texts.de]
fallback = "VOLLSTÄNDIGES INSTALLATIONSPROGRAMM"

[campaigns.signed]
exe = "base.exe"
launch_argument = "invite?code={{code}}&ref={{ref}}"
download_url = "{url}"
on_invalid = "{on_invalid}"
hmac_key_env = "SITE_HMAC_KEY"

[campaigns.signed.parameters]
code = "[a-z0-9]{{4,8}}"
ref = "[a-z]{{1,8}}"

[campaigns.world]
exe = "base.exe"
headline = "HELLO"
launch_argument = "invite?code={{code}}"
download_url = "{url}"
default_language = "en"

[campaigns.world.parameters]
code = "[A-Za-z0-9]{{4,32}}"

[campaigns.world.texts.en]

[campaigns.world.texts.en-GB]

[campaigns.world.texts.de]
headline = "WILLKOMMEN, {{code}}"
failure = "DOWNLOAD FEHLGESCHLAGEN"
hint = "BITTE WARTEN\\nDIE DATEIEN WERDEN GELADEN"
cancel_question = "Möchten Sie die Installation abbrechen?"
cancel_title = "Zorva Setup"

[campaigns.world.texts.fr]
failure = "ÉCHEC DU TÉLÉCHARGEMENT"
hint = ""
"""


def write_config(folder, name="serve.toml", text=None, on_invalid="fallback"):
    with open(os.path.join(folder, "base.exe"), "wb") as f:
        f.write(BASE_EXE)
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write(text if text is not None else CONFIG.format(key=tool.PRIVATE_KEY, url=URL, on_invalid=on_invalid))
    return path


def signed_pe():
    """A PE file whose certificate table holds one PKCS #7 SignedData of the
    shape Authenticode signs: one SignerInfo, no unsigned attributes."""
    signer = tool.der(0x30, tool.der(2, b"\1") + tool.der(0x30, b"") * 3 + tool.der(4, b"signature"))
    signed_data = tool.der(0x30, tool.der(2, b"\1") + tool.der(0x31, b"") + tool.der(0x30, b"") +
                           tool.der(0x31, signer))
    blob = tool.der(0x30, bytes.fromhex("06092a864886f70d010702") + tool.der(0xA0, signed_data))
    return tool.pe_file(certificates=tool.certificate(blob))


def environment():
    return dict(os.environ, SITE_HMAC_KEY=HMAC_KEY)


def sig(campaign, **values):
    message = campaign + "".join(f"\n{name}={values[name]}" for name in sorted(values))
    return hmac.new(HMAC_KEY.encode(), message.encode(), hashlib.sha256).hexdigest()


def inconsistent_key(folder):
    """The development key with its private exponents off by two: it loads
    as an RSA-2048 key, and its signatures do not verify."""
    text = subprocess.run(["openssl", "rsa", "-in", tool.PRIVATE_KEY, "-text", "-noout"], capture_output=True,
                          text=True, check=True).stdout
    numbers = [int(re.sub(r"[\s:]", "", digits), 16) for digits in re.findall(r":\s*\n((?:\s+[0-9a-f:]+\n)+)", text)]
    n, d, p, q, dp, dq, qi = numbers
    fields = [("n", n), ("d", d + 2), ("p", p), ("q", q), ("dp", dp + 2), ("dq", dq + 2), ("qi", qi)]
    config = os.path.join(folder, "inconsistent.conf")
    with open(config, "w") as f:
        f.write("asn1=SEQUENCE:rsa\n[rsa]\nversion=INTEGER:0\n" + f"n=INTEGER:0x{n:X}\ne=INTEGER:65537\n" +
                "".join(f"{name}=INTEGER:0x{value:X}\n" for name, value in fields[1:]))
    der, pem = os.path.join(folder, "inconsistent.der"), os.path.join(folder, "inconsistent.pem")
    subprocess.run(["openssl", "asn1parse", "-genconf", config, "-out", der, "-noout"], check=True)
    subprocess.run(["openssl", "rsa", "-inform", "DER", "-in", der, "-traditional", "-out", pem], check=True,
                   stderr=subprocess.DEVNULL)
    return pem


def dies_with_this_test():
    """For preexec_fn: the child gets SIGKILL when the test process ends, so
    that a test killed at its timeout leaves no server running."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# A ping as the program sends it; a field given as None is left out.
PING = dict(outcome="installed", reason="none", detail="0", bytes="52428800", size="52428800", attempts="1",
            resumes="0", mirror="0", download_ms="12500", installer_ms="30000", installer_exit="0",
            os="10.0.19045", arch="x64", ui_lang="de-AT", tag_lang="", version="1.2.0")
LABEL_SETS = {
    "campaign": {"invite", "loose", "pinned", "signed", "world", "unknown"},
    "outcome": {"installed", "download_failed", "pin_mismatch", "installer_failed", "cancelled", "stalled"},
    "reason": {"none", "http", "refused", "reset", "tls", "dns", "stall", "cut", "proxy_auth", "disk", "other"},
    "os_major_minor": {"6.1", "6.2", "6.3", "10.0", "other"},
    "arch": {"x86", "x64", "arm64"},
}


def ping_path(campaign="invite", **fields):
    values = dict({"campaign": campaign}, **PING, id=os.urandom(8).hex())
    values.update(fields)
    return "/ping?" + urllib.parse.urlencode({name: value for name, value in values.items() if value is not None})


def run_series(metrics_text):
    """{(name, labels): value} of every zorva_setup_ series."""
    return {(name, labels): float(value) for name, labels, value in
            re.findall(r"^(zorva_setup_\w+)\{([^}]*)\} (\S+)$", metrics_text, re.M)}


def read_line(stream, deadline):
    line = b""
    while not line.endswith(b"\n"):
        if not select.select([stream], [], [], max(0, deadline - time.monotonic()))[0]:
            raise AssertionError("no line from the service in time")
        byte = os.read(stream.fileno(), 1)
        if not byte:
            raise AssertionError("the service ended its output: " + line.decode(errors="replace"))
        line += byte
    return json.loads(line)


class Service:
    """The real service on a free port; its log lines gathered as they come."""

    def __init__(self, config):
        self.process = subprocess.Popen([TOOL, "serve", "--config", config], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, env=environment(),
                                        preexec_fn=dies_with_this_test)
        started = read_line(self.process.stdout, time.monotonic() + 20)
        assert started["event"] == "listening", started
        self.port = int(started["detail"].rsplit(":", 1)[1])

    def request(self, path, method="GET", headers=None, source="127.0.0.1"):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10, source_address=(source, 0))
        connection.request(method, path, headers=headers or {})
        response = connection.getresponse()
        body = response.read()
        connection.close()
        return response, body

    def run_series(self):
        return run_series(self.request("/metrics")[1].decode())

    def log_until(self, event):
        deadline = time.monotonic() + 20
        lines = []
        while not lines or lines[-1].get("event") != event:
            lines.append(read_line(self.process.stdout, deadline))
        return lines

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        return self.process.wait(timeout=30)

    def close(self):
        if self.process.poll() is None:
            self.stop()
        self.process.stdout.close()
        self.process.stderr.close()


class ServeTest(unittest.TestCase):
    on_invalid = "fallback"

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.config = write_config(cls.folder.name, on_invalid=cls.on_invalid)
        cls.service = Service(cls.config)

    @classmethod
    def tearDownClass(cls):
        cls.service.close()
        cls.folder.cleanup()

    def shown(self, body):
        """Each field of a served copy as `show` prints it, its tag verified."""
        path = os.path.join(self.folder.name, "served.exe")
        with open(path, "wb") as f:
            f.write(body)
        lines = dict(line.split(": ", 1) for line in tool.show_lines(path))
        self.assertEqual(lines["signature"], "verified")
        return lines

    def fields(self, body):
        """(headline, launch argument, download URL) of a served copy, its tag verified."""
        lines = self.shown(body)
        return lines["headline"], lines["launch argument"], lines["download URL"]

    def assertTagged(self, path, headline, launch_argument, headers=None):
        response, body = self.service.request(path, headers=headers)
        self.assertEqual(response.status, 200, body[:200])
        self.assertEqual(self.fields(body), (headline, launch_argument, f'"{URL}"'))
        return response, body


class TaggingTest(ServeTest):
    def test_tags_carry_the_configured_fields_whatever_the_query_adds(self):
        valid = ('"YOU ARE INVITED"', '"invite?code=Abcd1234"')
        cases = [
            ("/invite?code=Abcd1234", valid, "ZorvaSetup.exe"),
            ("/invite/Friend-Setup.exe?code=Abcd1234", valid, "Friend-Setup.exe"),
            ("/invite?code=Abcd1234&download_url=https%3A%2F%2Fevil.example&headline=x&launch_argument=y", valid,
             "ZorvaSetup.exe"),
            ("/loose?who=Ann+%E2%98%85", ('"from Ann \u2605"', '"who=Ann \u2605"'), "base.exe"),
            ("/loose?who=%7Bwho%7D", ('"from {who}"', '"who={who}"'), "base.exe"),
        ]
        for path, (headline, launch_argument), file_name in cases:
            with self.subTest(path=path):
                response, body = self.assertTagged(path, headline, launch_argument)
                self.assertEqual(response.getheader("Content-Type"), "application/vnd.microsoft.portable-executable")
                self.assertEqual(response.getheader("Content-Disposition"), f'attachment; filename="{file_name}"')
                self.assertEqual(int(response.getheader("Content-Length")), len(body))
                self.assertEqual(response.getheader("Cache-Control"), "public, max-age=86400")
                self.assertEqual(body[:0x40], BASE_EXE[:0x40])

    def test_a_campaign_pins_its_installer_in_the_download_url(self):
        response, body = self.service.request("/pinned")
        self.assertEqual(response.status, 200)
        self.assertEqual(self.fields(body)[2], f'"{URL}#sha256={hashlib.sha256(BASE_EXE).hexdigest()}"')

    def test_a_copy_carries_its_mirrors_fallback_page_and_ping_url_with_its_campaign(self):
        mirrors = ['mirror: "http://mirror1.example.com/ZorvaInstaller.exe"',
                   'mirror: "https://mirror2.example.com/ZorvaInstaller.exe"']
        cases = [
            ("/pinned", [], "absent", '"https://ping.example.com/ping?campaign=pinned"', "absent", "absent"),
            ("/mirrored?lang=de", mirrors, '"https://example.com/full"',
             '"https://ping.example.com/ping?source=setup&campaign=mirrored"', '"VOLLSTÄNDIGES INSTALLATIONSPROGRAMM"',
             '"de"'),
            ("/mirrored?lang=en", mirrors, '"https://example.com/full"',
             '"https://ping.example.com/ping?source=setup&campaign=mirrored"', "absent", '"en"'),
        ]
        for path, mirror_lines, page, ping, fallback_text, language in cases:
            with self.subTest(path=path):
                response, body = self.service.request(path)
                self.assertEqual(response.status, 200, body[:200])
                lines = self.shown(body)
                self.assertEqual([line for line in tool.show_lines(os.path.join(self.folder.name, "served.exe"))
                                  if line.startswith("mirror: ")], mirror_lines)
                self.assertEqual((lines["fallback page"], lines["ping URL"], lines["fallback text"],
                                  lines["texts language"]), (page, ping, fallback_text, language))

    def test_invalid_values_are_never_signed(self):
        fallback = ('"YOU ARE INVITED"', "absent")
        cases = [
            "/invite", "/invite?code=abc", "/invite?code=Abcd1234&code=Efgh5678", "/invite?code=Abcd%22234",
            "/invite?code=Abcd1234%00x", "/invite?code=" + "a" * 33, "/invite?code=Abcd%0A234",
        ]
        for path in cases:
            with self.subTest(path=path):
                _, body = self.assertTagged(path, *fallback)
                self.assertNotIn("Abcd".encode("utf-16-le"), body[-767:])
        # Values that pass their pattern but not the tag's own rules.
        for value in ['a"b', "ab%5C", "a%01b", "x" * 400, "%FF"]:
            with self.subTest(value=value):
                response, body = self.service.request("/loose?who=" + value)
                self.assertEqual(response.status, 400)
                self.assertEqual(body.count(b"\n"), 1, body)
                self.assertTrue(body.startswith(b"invalid request: "), body)

    def test_the_hmac_decides_whether_a_request_is_valid(self):
        good = sig("signed", code="abcd", ref="site")
        cases = [
            (f"code=abcd&ref=site&sig={good}", True),
            (f"ref=site&sig={good}&code=abcd&other=1", True),
            (f"code=abcd&ref=site&sig={good.upper()}", False),
            ("code=abcd&ref=site&sig=" + sig("signed", code="abce", ref="site"), False),
            ("code=abcd&ref=site&sig=" + sig("invite", code="abcd", ref="site"), False),
            (f"code=abcd&ref=site&sig={good[:-1]}", False),
            ("code=abcd&ref=site", False),
            (f"code=abcd&ref=site&sig={good}&sig={good}", False),
        ]
        for query, accepted in cases:
            with self.subTest(query=query):
                launch_argument = '"invite?code=abcd&ref=site"' if accepted else "absent"
                self.assertTagged("/signed?" + query, "absent", launch_argument)

    def test_a_matching_etag_gives_304_and_head_no_body(self):
        response, body = self.service.request("/invite?code=Etag1234")
        etag = response.getheader("ETag")
        self.assertRegex(etag, r'^"[0-9a-f-]+"$')
        for if_none_match, status in [(etag, 304), ("W/" + etag, 304), ('"other", ' + etag, 304), ("*", 304),
                                      ('"other"', 200)]:
            with self.subTest(if_none_match=if_none_match):
                again, again_body = self.service.request("/invite?code=Etag1234", headers={"If-None-Match": if_none_match})
                self.assertEqual(again.status, status)
                self.assertEqual(again_body, b"" if status == 304 else body)
        head, head_body = self.service.request("/invite?code=Etag1234", method="HEAD")
        self.assertEqual((head.status, head_body, int(head.getheader("Content-Length"))), (200, b"", len(body)))
        self.assertNotEqual(self.service.request("/invite?code=Etag5678")[0].getheader("ETag"), etag)

    def test_a_text_table_is_chosen_by_lang_then_accept_language(self):
        german = ('"WILLKOMMEN, Abcd1234"', '"DOWNLOAD FEHLGESCHLAGEN"', '"BITTE WARTEN\\nDIE DATEIEN WERDEN GELADEN"',
                  '"Möchten Sie die Installation abbrechen?"', '"Zorva Setup"')
        french = ('"HELLO"', '"ÉCHEC DU TÉLÉCHARGEMENT"', "empty", "absent", "absent")
        default = ('"HELLO"', "absent", "absent", "absent", "absent")
        # Vary says whether the header chose: also when it chose the default by its absence.
        cases = [
            ("code=Abcd1234", "de-AT, en;q=0.5", german, True),
            ("code=Abcd1234&lang=fr", "de-AT, en;q=0.5", french, False),
            ("code=Abcd1234&lang=FR-ca", None, french, False),
            ("code=Abcd1234", "ja, fr;q=0.4, de;q=0.7", german, True),
            ("code=Abcd1234", "ja, ko", default, True),
            ("code=Abcd1234&lang=xx", None, default, True),
            ("code=Abcd1234&lang=fr&lang=de", "ja", default, True),
            # An invalid request gets its language's fallback.
            ("code=ab", "de", ("absent",) + german[1:], True),
        ]
        for query, accept_language, texts, varies in cases:
            with self.subTest(query=query, accept_language=accept_language):
                headers = {"Accept-Language": accept_language} if accept_language else {}
                response, body = self.service.request("/world?" + query, headers=headers)
                self.assertEqual(response.status, 200, body[:200])
                lines = self.shown(body)
                self.assertEqual(tuple(lines[name] for name in ("headline", "failure text", "hint", "cancel question",
                                                                "cancel title")), texts)
                self.assertEqual(response.getheader("Vary"), "Accept-Language" if varies else None)
        response, _ = self.service.request("/invite?code=Abcd1234", headers={"Accept-Language": "de"})
        self.assertIsNone(response.getheader("Vary"), "a campaign without tables")

    def test_the_cache_and_the_etag_keep_languages_apart(self):
        etags = {}
        for lang in ["de", "en", "en-GB", "de"]:
            response, body = self.service.request("/world?code=Cache123&lang=" + lang)
            etags.setdefault(lang, set()).add((response.getheader("ETag"), hashlib.sha256(body).hexdigest()))
        self.assertEqual(len(etags["de"]), 1, "a repeat gives the same copy")
        (de_etag, de_body), = etags["de"]
        (en_etag, en_body), = etags["en"]
        (gb_etag, gb_body), = etags["en-GB"]
        self.assertNotEqual(de_body, en_body)
        self.assertNotEqual(gb_body, en_body, "each copy's tag names the language of its table")
        self.assertEqual([de_etag[-4:], en_etag[-4:], gb_etag[-7:]], ['-de"', '-en"', '-en-gb"'])
        header = {"Accept-Language": "de"}
        again, _ = self.service.request("/world?code=Cache123", headers=dict(header, **{"If-None-Match": de_etag}))
        self.assertEqual((again.status, again.getheader("Vary")), (304, "Accept-Language"))
        other, _ = self.service.request("/world?code=Cache123&lang=en", headers={"If-None-Match": de_etag})
        self.assertEqual(other.status, 200)

    def test_routes_answer_with_their_status(self):
        cases = [("/healthz", "GET", 200), ("/readyz", "GET", 200), ("/nobody", "GET", 404),
                 ("/invite/../x.exe", "GET", 404), ("/invite/x.zip", "GET", 404), ("/invite", "POST", 405)]
        for path, method, status in cases:
            with self.subTest(path=path, method=method):
                self.assertEqual(self.service.request(path, method=method)[0].status, status)

    def test_metrics_count_outcomes_and_logs_hold_no_value(self):
        for _ in range(2):
            self.service.request("/invite?code=Metric12")
        self.service.request("/world?code=Metric34&lang=de-CH")
        _, text = self.service.request("/metrics")
        text = text.decode()
        self.assertRegex(text, r'zorva_tag_requests_total\{campaign="invite",outcome="tagged"\} [1-9]')
        self.assertRegex(text, r"zorva_tag_cache_hits_total [1-9]")
        self.assertRegex(text, r"zorva_tag_signing_seconds_count [1-9]")
        self.service.process.send_signal(signal.SIGHUP)
        lines = self.service.log_until("reloaded")
        tagged = [line for line in lines if line.get("parameter_sha256", {}).get("code") ==
                  hashlib.sha256(b"Metric12").hexdigest()]
        self.assertEqual(len(tagged), 2)
        self.assertEqual({(line["outcome"], line["status"]) for line in tagged}, {("tagged", 200)})
        self.assertEqual(len({line["request_id"] for line in tagged}), 2)
        self.assertNotIn("language", tagged[0])
        self.assertEqual([line["language"] for line in lines if line.get("parameter_sha256", {}).get("code") ==
                          hashlib.sha256(b"Metric34").hexdigest()], ["de"])
        self.assertNotIn("Metric12", json.dumps(lines))


class RejectTest(ServeTest):
    on_invalid = "reject"

    def test_reject_answers_400_and_signs_nothing(self):
        for query in ["code=abcd&ref=site", "code=ABCD&ref=site&sig=" + sig("signed", code="ABCD", ref="site")]:
            with self.subTest(query=query):
                response, body = self.service.request("/signed?" + query)
                self.assertEqual(response.status, 400)
                self.assertEqual(response.getheader("Cache-Control"), "no-store")
                self.assertNotIn(b"MZ", body)


class StartUpTest(unittest.TestCase):
    def test_configs_that_cannot_serve_are_refused(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        ec_key = tool.make_key(folder.name, "ec.pem", "EC", "-pkeyopt", "ec_paramgen_curve:P-256")
        good = CONFIG.format(key=tool.PRIVATE_KEY, url=URL, on_invalid="fallback")

        def with_key_options(options, key=tool.PRIVATE_KEY):
            return good.replace(tool.PRIVATE_KEY, key).replace("connection_timeout", options + "\nconnection_timeout")

        cases = [
            (good.replace(URL, URL + "?code={code}"), 2, "download_url holds a placeholder"),
            (good.replace(URL, URL + "{"), 2, "download_url holds a placeholder"),
            (good.replace('exe = "base.exe"', 'exe = "missing.exe"', 1), 1, "missing.exe"),
            (good.replace(tool.PRIVATE_KEY, ec_key), 1, "not an RSA key"),
            (good.replace(tool.PRIVATE_KEY, inconsistent_key(folder.name)), 1, "does not verify its own test tag"),
            (good.replace('"YOU ARE INVITED"', '"{nobody}"'), 2, "not among the campaign's parameters"),
            (good.replace("{4,32}", "[", 1), 2, "not a valid regular expression"),
            (good.replace("SITE_HMAC_KEY", "UNSET_HMAC_KEY"), 2, "unset or empty"),
            (good.replace("connection_timeout_seconds", "connection_timout_seconds"), 2, "unknown key"),
            (good.replace('"127.0.0.1:0"', '"localhost:80"'), 2, "numeric"),
            (good.replace('"YOU ARE INVITED"', '"' + "x" * 800 + '"'), 2, "fixed fields"),
            (good + "[", 2, "serve.toml:"),
            (good.replace('installer = "base.exe"', 'installer = "gone.exe"'), 1, "gone.exe"),
            (good.replace(f'"{URL}"', f'"{URL}#sha256=12"', 1), 2, "download_url"),
            (with_key_options('key_pin_env = "NOPE"'), 2, "key_pin_env and public_key go with a pkcs11: key"),
            (with_key_options('public_key = "gone.pem"'), 2, "key_pin_env and public_key go with a pkcs11: key"),
            (with_key_options('key_passphrase_env = "P"', key="pkcs11:object=k"), 2,
             "key_passphrase_env goes with a PEM key"),
            (good.replace('hint = ""', 'hint = "' + "x" * 400 + '"'), 2,
             "campaigns.world.texts.fr: its fixed fields: the strings do not fit the 767-byte payload"),
            (good.replace('"WILLKOMMEN, {code}"', '"' + "W" * 250 + '{code}"'), 2,
             "campaigns.world.texts.de: the fields need 872 bytes even with every {parameter} empty, 105 more"),
            (good.replace('"WILLKOMMEN, {code}"', '"WILLKOMMEN,\\u0000 {code}"'), 2,
             "campaigns.world.texts.de: its fields: --headline: embedded NUL at byte 11"),
            (good.replace("cancel_question =", "cancel_questoin ="), 2,
             "unknown key campaigns.world.texts.de.cancel_questoin"),
            (good.replace("texts.fr]", "texts.fr_FR]"), 2, "campaigns.world.texts.fr_FR: not a well-formed language tag"),
            (good.replace("texts.en-GB]", "texts.DE]"), 2, "a second table for de"),
            (good.replace('default_language = "en"', 'default_language = "es"'), 2, "names es, which has no texts"),
            (good.replace('default_language = "en"', ""), 2, "campaigns.world.default_language is missing"),
            (good.replace("{code}\"\nfailure", "{nobody}\"\nfailure"), 2, "texts.de.headline names {nobody}"),
            (good.replace('hint = ""', 'hint = "1\\n2\\n3"'), 2, "--hint: line break at byte 3 begins a line too many"),
            (good.replace('ref = "[a-z]{1,8}"', 'lang = "[a-z]{1,8}"'), 2, "not sig or lang"),
            (good.replace('mirrors = ["', 'mirrors = ["https://m0.example.com/i.exe", "'), 2,
             "campaigns.mirrored.mirrors holds 3 URLs; a copy takes at most 2"),
            (good.replace('installer = "base.exe"\nmirrors', 'mirrors'), 2,
             "campaigns.mirrored: --mirror: a plain http:// mirror needs a pinned copy"),
            (good.replace('mirror2.example.com/ZorvaInstaller.exe"', 'mirror2.example.com/ZorvaInstaller.exe#sha256=' +
                          "1" * 64 + '"'), 2, "campaigns.mirrored: --mirror: its pin differs from the download URL's"),
            (good.replace('"https://example.com/full"', '"ftp://example.com/full"'), 2,
             "campaigns.mirrored: --fallback-page: not an http:// or https:// URL"),
            (good.replace('"https://example.com/full"', '"https://example.com/{code}"'), 2,
             "campaigns.mirrored.fallback_page holds a placeholder"),
            (good.replace("mirror1.example.com", "{code}.example.com"), 2, "campaigns.mirrored.mirrors holds a placeholder"),
            (good.replace("mirrors = [", "mirrors = [1, "), 2, "campaigns.mirrored.mirrors must be an array of strings"),
            (good.replace("?source=setup", "?campaign=other"), 2,
             "campaigns.mirrored.ping_url has a campaign parameter already"),
            (good.replace('fallback_page = "https://example.com/full"\n', ""), 2,
             "campaigns.mirrored.texts.de: --fallback-text: given without --fallback-page"),
            (good.replace('"VOLLSTÄNDIGES INSTALLATIONSPROGRAMM"', '"' + "V" * 250 + '"'), 2,
             "campaigns.mirrored.texts.de: its fixed fields: the strings do not fit the 767-byte payload: they need "
             "938 bytes, 171 too many"),
            (good.replace("campaigns.loose", "campaigns.ping"), 2, "campaigns.ping: the name is the service's own"),
            (good.replace("install_ratio_alert = 0.75", "install_ratio_alert = 1.5"), 2,
             "campaigns.invite.install_ratio_alert must be a number in 0..1"),
        ]
        for text, exit_code, message in cases:
            with self.subTest(message=message):
                config = write_config(folder.name, text=text)
                result = subprocess.run([TOOL, "serve", "--config", config], capture_output=True, timeout=30,
                                        env=environment(), stdin=subprocess.DEVNULL)
                self.assertEqual(result.returncode, exit_code, result.stderr)
                self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)
                self.assertIn(message, result.stderr.decode())
                self.assertEqual(result.stdout, b"")


class HostileClientTest(ServeTest):
    def test_oversized_requests_are_refused(self):
        for path, headers in [("/invite?code=" + "a" * 200_000, {}), ("/invite?code=Abcd1234", {"X-Big": "b" * 200_000})]:
            with self.subTest(size=len(path) + sum(map(len, headers.values()))):
                try:
                    response, _ = self.service.request(path, headers=headers)
                    self.assertIn(response.status, (414, 431))
                except (ConnectionError, http.client.HTTPException):
                    pass  # closed: as good as a refusal
        self.assertEqual(self.service.request("/healthz")[0].status, 200)

    def test_idle_half_sent_requests_do_not_delay_others(self):
        idle = []
        self.addCleanup(lambda: [connection.close() for connection in idle])
        # Spread over loopback addresses, so each stays under the per-address limit.
        for k in range(300):
            connection = socket.socket()
            connection.bind((f"127.0.0.{2 + k // 50}", 0))
            connection.connect(("127.0.0.1", self.service.port))
            connection.sendall(b"GET /invite?code=Slow1234 HTTP/1.1\r\nHost: x\r\n")
            idle.append(connection)
        start = time.monotonic()
        self.assertTagged("/invite?code=Fast1234", '"YOU ARE INVITED"', '"invite?code=Fast1234"')
        self.assertLess(time.monotonic() - start, 1.0)
        # The connection timeout (2 s here) closes them.
        idle[0].settimeout(10)
        self.assertEqual(idle[0].recv(100), b"")

    def test_connections_beyond_the_per_address_limit_are_refused(self):
        held = []
        self.addCleanup(lambda: [connection.close() for connection in held])
        for _ in range(70):
            connection = socket.create_connection(("127.0.0.1", self.service.port), source_address=("127.0.0.9", 0))
            held.append(connection)
        held[-1].settimeout(5)
        try:
            self.assertEqual(held[-1].recv(100), b"")
        except ConnectionResetError:
            pass


class PingTest(ServeTest):
    def test_pings_count_once_each_and_log_no_id(self):
        repeated = ping_path(outcome="pin_mismatch")
        pings = [repeated, repeated, ping_path(outcome="pin_mismatch"), ping_path("nobody", outcome="pin_mismatch"),
                 ping_path(None, outcome="pin_mismatch", os="6.0.6002", arch="x86"),
                 ping_path(outcome="download_failed", reason="http", detail="404", bytes="0")]
        for path in pings:
            response, body = self.service.request(path)
            self.assertEqual((response.status, body, response.getheader("Content-Length")), (204, b"", None))
        series = self.service.run_series()
        runs = 'zorva_setup_runs_total', 'campaign="{}",outcome="{}",reason="{}"'
        self.assertEqual(series[runs[0], runs[1].format("invite", "pin_mismatch", "none")], 2)
        self.assertEqual(series[runs[0], runs[1].format("unknown", "pin_mismatch", "none")], 2)
        self.assertEqual(series[runs[0], runs[1].format("invite", "download_failed", "http")], 1)
        by_os = "zorva_setup_runs_by_os_total", 'campaign="unknown",os_major_minor="other",arch="x86"'
        self.assertEqual(series[by_os], 1)
        # The failed download is no download's time or size.
        self.assertEqual(series["zorva_setup_download_bytes_bucket", 'campaign="invite",le="67108864"'], 2)
        self.assertEqual(series["zorva_setup_download_seconds_bucket", 'campaign="invite",le="10"'], 0)
        self.assertEqual(series["zorva_setup_download_seconds_bucket", 'campaign="invite",le="20"'], 2)
        self.assertEqual(series["zorva_setup_install_ratio_threshold", 'campaign="invite"'], 0.75)
        self.service.process.send_signal(signal.SIGHUP)
        lines = [line for line in self.service.log_until("reloaded")
                 if line.get("run", {}).get("outcome") in ("pin_mismatch", "download_failed")]
        self.assertEqual([line["outcome"] for line in lines], ["ping_counted", "ping_repeat"] + ["ping_counted"] * 4)
        self.assertEqual(lines[-1]["run"], {"outcome": "download_failed", "reason": "http", "detail": 404})
        self.assertEqual(set(lines[0]), {"time", "request_id", "method", "campaign", "outcome", "status", "bytes", "ms",
                                         "run"})
        ids = {urllib.parse.parse_qs(urllib.parse.urlsplit(path).query)["id"][0] for path in pings}
        self.assertFalse([value for value in ids if value in json.dumps(lines)])

    def test_hostile_pings_get_400_and_count_nothing(self):
        before = self.service.run_series()
        cases = [
            ping_path() + "&user=ann", ping_path() + "&outcome=installed", ping_path() + "&campaign=invite",
            ping_path(id=None), ping_path(outcome="success"), ping_path(outcome="installed\n"), ping_path(mirror="3"),
            ping_path(campaign='invite"} 1\nzorva_setup_runs_total{campaign="x'), ping_path(ui_lang="a" * 600),
            ping_path(ui_lang="de_AT"), ping_path(version="1\0"), "/ping",
        ]
        for path in cases:
            with self.subTest(path=path[:120]):
                response, body = self.service.request(path)
                self.assertEqual(response.status, 400)
                self.assertEqual(body.count(b"\n"), 1, body)
                self.assertTrue(body.startswith(b"invalid ping: "), body)
        for method in ["POST", "HEAD", "PUT"]:
            self.assertEqual(self.service.request(ping_path(), method=method)[0].status, 405)
        self.assertEqual(self.service.run_series(), before)

    def test_no_label_takes_a_value_outside_its_set(self):
        for fields in [dict(os="5.1.2600", arch="arm64"), dict(os="6.1.7601", outcome="cancelled"),
                       dict(outcome="stalled", reason="stall", tag_lang="pt-BR")]:
            self.assertEqual(self.service.request(ping_path("nobody", **fields))[0].status, 204)
        text = self.service.request("/metrics")[1]
        lint = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True, timeout=30)
        self.assertEqual((lint.returncode, lint.stdout + lint.stderr), (0, b""))
        series = run_series(text.decode())
        self.assertTrue(series)
        for name, labels in series:
            for label, value in re.findall(r'(\w+)="([^"]*)"', labels):
                with self.subTest(series=name, label=label):
                    if label == "le":
                        self.assertTrue(value == "+Inf" or float(value) > 0)
                    else:
                        self.assertIn(value, LABEL_SETS[label])

    def test_a_flood_from_one_address_meets_the_per_address_limit(self):
        counted = "zorva_setup_runs_total", 'campaign="invite",outcome="stalled",reason="stall"'
        before = self.service.run_series().get(counted, 0)
        held = []
        self.addCleanup(lambda: [connection.close() for connection in held])
        for _ in range(70):
            held.append(socket.create_connection(("127.0.0.1", self.service.port), source_address=("127.0.0.5", 0)))
        for connection in held:
            request = f"GET {ping_path(outcome='stalled', reason='stall')} HTTP/1.1\r\nHost: x\r\n\r\n"
            try:
                connection.sendall(request.encode())
            except OSError:
                pass  # already closed by the service
        answered = 0
        for connection in held:
            connection.settimeout(5)
            answer = b""
            try:
                while b"\r\n\r\n" not in answer and (chunk := connection.recv(4096)):
                    answer += chunk
            except ConnectionResetError:
                pass
            answered += answer.startswith(b"HTTP/1.1 204")
        # Held open, the answered ones keep the address at its limit; another address is served.
        self.assertEqual(self.service.request("/invite?code=Other123", source="127.0.0.2")[0].status, 200)
        self.assertEqual(answered, 64)
        self.assertEqual(self.service.run_series()[counted] - before, 64)


class PrometheusTest(ServeTest):
    """The real Prometheus, on a loopback port with a data folder of its
    own, scraping the service each second with the shipped rules."""

    def setUp(self):
        self.port = free_port()
        config = os.path.join(self.folder.name, "prometheus.yml")
        with open(config, "w") as f:
            f.write(f"""global: {{scrape_interval: 1s, evaluation_interval: 1s}}
rule_files: [{os.path.join(SOURCE_DIR, "service", "prometheus", "zorva-rules.yml")}]
scrape_configs:
  - job_name: zorva-tag
    static_configs: [{{targets: ["127.0.0.1:{self.service.port}"]}}]
""")
        self.prometheus = subprocess.Popen(
            ["prometheus", "--config.file", config, "--storage.tsdb.path", os.path.join(self.folder.name, "tsdb"),
             "--web.listen-address", f"127.0.0.1:{self.port}", "--log.level", "warn"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, preexec_fn=dies_with_this_test)
        self.addCleanup(self.stop_prometheus)

    def stop_prometheus(self):
        self.prometheus.terminate()
        self.prometheus.wait(timeout=30)
        self.prometheus.stderr.close()

    def query(self, expression):
        url = f"http://127.0.0.1:{self.port}/api/v1/query?" + urllib.parse.urlencode({"query": expression})
        try:
            with urllib.request.urlopen(url, timeout=5) as response:
                return [round(float(sample["value"][1]), 9) for sample in json.load(response)["data"]["result"]]
        except OSError:
            return None  # not listening yet

    def wait_for(self, expression, expected):
        deadline = time.monotonic() + 60
        while (found := self.query(expression)) != expected:
            if self.prometheus.poll() is not None:
                self.fail("prometheus ended: " + self.prometheus.stderr.read().decode(errors="replace"))
            self.assertLess(time.monotonic(), deadline, f"{expression} is {found}, not {expected}")
            time.sleep(0.2)

    def test_prometheus_answers_the_install_ratio_from_the_pings(self):
        self.wait_for('up{job="zorva-tag"}', [1])
        # A rate needs a counter's rise between two scrapes: a second round of
        # the same pings gives it.
        for total in (4, 8):
            for outcome in ["installed"] * 3 + ["download_failed"]:
                self.assertEqual(self.service.request(ping_path("world", outcome=outcome))[0].status, 204)
            self.wait_for('sum(zorva_setup_runs_total{campaign="world"})', [total])
        self.wait_for('campaign:zorva_setup_install_ratio:ratio1h{campaign="world"}', [0.75])
        self.assertEqual(self.query('campaign_reason:zorva_setup_failure_share:ratio1h{campaign="world"}'), [1])


class SignalTest(ServeTest):
    def test_sighup_keeps_the_old_config_when_the_new_one_is_bad(self):
        good = CONFIG.format(key=tool.PRIVATE_KEY, url=URL, on_invalid="fallback")
        steps = [
            (good.replace(URL, URL + "?code={code}"), "reload_refused", '"YOU ARE INVITED"'),
            (good.replace("texts.fr]", "texts.fr_FR]"), "reload_refused", '"YOU ARE INVITED"'),
            (good.replace('"YOU ARE INVITED"', '"WELCOME"'), "reloaded", '"WELCOME"'),
            (good.replace('"127.0.0.1:0"', '"127.0.0.1:1"'), "reload_refused", '"WELCOME"'),
        ]
        for text, event, headline in steps:
            with self.subTest(event=event, headline=headline):
                write_config(self.folder.name, text=text)
                self.service.process.send_signal(signal.SIGHUP)
                self.service.log_until(event)
                self.assertTagged("/invite?code=Hup12345", headline, '"invite?code=Hup12345"')

    def test_sigterm_finishes_the_request_in_flight_and_exits_0(self):
        connection = socket.create_connection(("127.0.0.1", self.service.port))
        self.addCleanup(connection.close)
        connection.sendall(b"GET /invite?code=Term1234 HTTP/1.1\r\nHost: x\r\n")
        time.sleep(0.2)
        self.service.process.send_signal(signal.SIGTERM)
        time.sleep(0.2)
        connection.sendall(b"\r\n")
        connection.settimeout(10)
        answer = b""
        while chunk := connection.recv(65536):
            answer += chunk
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer[:100])
        self.assertEqual(self.service.process.wait(timeout=30), 0)
        self.assertEqual(self.service.log_until("stopped")[-1]["event"], "stopped")


class OlderTagTest(unittest.TestCase):
    CONFIG = """
listen = "127.0.0.1:0"
key = "{key}"
{campaigns}"""
    CAMPAIGN = """
[campaigns.{name}]
exe = "{name}.exe"
headline = "{headline}"
launch_argument = "invite?code={{code}}"
download_url = "{url}"

[campaigns.{name}.parameters]
code = "[A-Za-z0-9]{{4,32}}"
"""
    BASES = {"appended": BASE_EXE, "signed": signed_pe()}

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def sign(self, source, target, headline, *fields):
        result = tool.run("sign", "--key", tool.PRIVATE_KEY, "--headline", headline, *fields, source, target)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(target, "rb") as f:
            return f.read()

    def serve_bases_tagged(self, old_headline, headline):
        """Each base file tagged with `old_headline`, and a config whose
        campaigns serve them with `headline`."""
        for name, data in self.BASES.items():
            with open(self.path(name + ".untagged"), "wb") as f:
                f.write(data)
            self.sign(self.path(name + ".untagged"), self.path(name + ".exe"), old_headline)
        campaigns = "".join(self.CAMPAIGN.format(name=name, headline=headline, url=URL) for name in self.BASES)
        with open(self.path("serve.toml"), "w") as f:
            f.write(self.CONFIG.format(key=tool.PRIVATE_KEY, campaigns=campaigns))

    def test_an_older_tag_in_the_base_file_is_replaced_also_after_a_reload(self):
        self.serve_bases_tagged("AN OLDER TAG", "YOU ARE INVITED")
        service = Service(self.path("serve.toml"))
        self.addCleanup(service.close)
        for old_headline, headline in [("AN OLDER TAG", "YOU ARE INVITED"), ("ANOTHER OLDER TAG", "WELCOME")]:
            if headline == "WELCOME":
                self.serve_bases_tagged(old_headline, headline)
                service.process.send_signal(signal.SIGHUP)
                service.log_until("reloaded")
            for name, placement in [("appended", "appended"), ("signed", "inside the signature")]:
                with self.subTest(name=name, headline=headline):
                    response, body = service.request(f"/{name}?code=Abcd1234")
                    self.assertEqual(response.status, 200, body[:200])
                    # What `sign` writes into the untagged file: no trace of the older tag.
                    expected = self.sign(self.path(name + ".untagged"), self.path("expected.exe"), headline,
                                         "--launch-argument", "invite?code=Abcd1234", "--download-url", URL)
                    self.assertEqual(body, expected)
                    self.assertIn(f"placement: {placement}", tool.show_lines(self.path("expected.exe")))


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    tool.TOOL = TOOL
    unittest.main(verbosity=1)
