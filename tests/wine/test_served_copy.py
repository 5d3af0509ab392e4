"""A copy downloaded from `zorva-tag serve`, run under Wine: the code asked
for in the download's query reaches Update.exe in the zorva:// deep link, the
installer comes from the campaign's fixed download URL, and the run's ping
reaches the same service, which counts it under the campaign."""
import os
import sys
import tempfile
import unittest
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "service"))
import splash_run  # noqa: E402
import test_serve  # noqa: E402
import winetest  # noqa: E402

CODE = "Wine42ab"
CONFIG = """
listen = "127.0.0.1:{port}"
key = "{key}"

[campaigns.invite]
exe = "{exe}"
launch_argument = "invite?code={{code}}"
download_url = "{url}"
ping_url = "http://127.0.0.1:{port}/ping"

[campaigns.invite.parameters]
code = "[A-Za-z0-9]{{4,32}}"
"""


class ServedCopyRun(unittest.TestCase):
    def test_the_requested_code_reaches_update_exe(self):
        route = winetest.Route(splash_run.padded_installer())
        test_serve.TOOL = winetest.ZORVA_TAG
        with splash_run.session({"/installer.exe": route}) as s, tempfile.TemporaryDirectory() as folder:
            config = os.path.join(folder, "serve.toml")
            with open(config, "w") as f:
                f.write(CONFIG.format(key=winetest.DEV_PRIVATE_KEY, exe=splash_run.BUILD.exe,
                                      url=s.server.url("/installer.exe"),
                                      port=winetest.unused_port()))
            service = test_serve.Service(config)
            try:
                copy = os.path.join(s.folder, "ZorvaSetup.exe")
                url = f"http://127.0.0.1:{service.port}/invite/ZorvaSetup.exe?code={CODE}"
                with urllib.request.urlopen(url, timeout=30) as response, open(copy, "wb") as f:
                    f.write(response.read())
                with s.running(copy) as run:
                    self.assertEqual(run.wait_for_exit(90), 0)
                    recorded = run.recorded()
                runs = {labels: count for (name, labels), count in service.run_series().items()
                        if name == "zorva_setup_runs_total" and count}
            finally:
                self.assertEqual(service.stop(), 0)
                service.close()
        splash_run.check_commands(self, recorded, f"invite?code={CODE}")
        self.assertEqual(runs, {'campaign="invite",outcome="installed",reason="none"': 1}, runs)


if __name__ == "__main__":
    unittest.main()
