"""The install script's decisions on a mirror caught mid-sync, run against
stand-ins for apt-get, dpkg and dpkg-query (no network, no package changes)
under a root of its own: which packages it asks for, what it says, and how it
exits."""
import os
import subprocess
import tempfile
import textwrap
import unittest

SOURCE_DIR = os.environ.get("ZORVA_SOURCE_DIR", os.path.join(os.path.dirname(__file__), ".."))
SCRIPT = os.path.join(SOURCE_DIR, "scripts", "install-prereqs.sh")
BROKEN_INDEX = ("E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/"
                "binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?")

STANDINS = {
    "apt-get": r"""
        echo "$*" >> "$STATE/calls"
        case " $* " in
        *" update "*)
            left=$(cat "$STATE/update_failures")
            [ "$left" = 0 ] && exit 0
            [ "$left" = always ] || echo $((left - 1)) > "$STATE/update_failures"
            echo "$BROKEN_INDEX" >&2
            echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
            exit 100 ;;
        *" install "*)
            for p in "$@"; do
                if grep -qxF -- "$p" "$STATE/uninstallable"; then
                    echo "E: Unable to correct problems, you have held broken packages." >&2
                    exit 100
                fi
            done
            for p in "$@"; do case "$p" in -*|install) ;; *) echo "$p" >> "$STATE/installed" ;; esac; done ;;
        esac
    """,
    "dpkg-query": r"""
        package=${!#}
        grep -qxF -- "$package" "$STATE/installed" || exit 1
        case "$2" in
        *Status*) echo "install ok installed" ;;
        *) echo "1:10.0.2+ds-2" ;;
        esac
    """,
    "systemctl": r"""
        echo "systemctl $*" >> "$STATE/calls"
    """,
    "dpkg": r"""
        case "$1" in
        --print-foreign-architectures) cat "$STATE/architectures" ;;
        --add-architecture) echo "$2" >> "$STATE/architectures" ;;
        *) exec /usr/bin/dpkg "$@" ;;
        esac
    """,
}


def packages_of(script, name):
    """The words of the script's bash array `name=( ... )`."""
    text = open(script).read()
    start = text.index(f"\n{name}=(") + len(name) + 3
    return [word for line in text[start:text.index(")", start)].splitlines()
            for word in line.split("#")[0].split()]


FIRST_SET = packages_of(SCRIPT, "packages")
SET_32 = packages_of(SCRIPT, "packages_32") + ["qemu-user-static"]


class InstallPrereqs(unittest.TestCase):
    def run_script(self, installed=(), update_failures="0", uninstallable=(), systemd=False):
        root = tempfile.mkdtemp(prefix="zorva-prereqs-")
        self.addCleanup(subprocess.run, ["rm", "-rf", root])
        state, bin_dir = os.path.join(root, "state"), os.path.join(root, "bin")
        for folder in (state, bin_dir, "etc/apt/sources.list.d", "etc/apt/preferences.d", "run",
                       "proc/sys/fs/binfmt_misc", "usr/bin"):
            os.makedirs(os.path.join(root, folder), exist_ok=True)
        for name, body in STANDINS.items():
            with open(os.path.join(bin_dir, name), "w") as f:
                f.write("#!/bin/bash\n" + textwrap.dedent(body))
            os.chmod(os.path.join(bin_dir, name), 0o755)
        files = {"installed": "\n".join(installed), "update_failures": update_failures,
                 "uninstallable": "\n".join(uninstallable), "architectures": "", "calls": ""}
        for name, text in files.items():
            with open(os.path.join(state, name), "w") as f:
                f.write(text + "\n" if text else "")
        if systemd:
            os.makedirs(os.path.join(root, "run/systemd/system"))
        open(os.path.join(root, "usr/bin/qemu-i386-static"), "w").close()
        open(os.path.join(root, "proc/sys/fs/binfmt_misc/register"), "w").close()
        env = dict(os.environ, PATH=bin_dir + ":" + os.environ["PATH"], STATE=state, BROKEN_INDEX=BROKEN_INDEX,
                   ZORVA_PREREQS_ROOT=root, ZORVA_APT_RETRY_PAUSE="0")
        result = subprocess.run(["bash", SCRIPT], env=env, capture_output=True, text=True, timeout=60)
        with open(os.path.join(state, "calls")) as f:
            calls = f.read().splitlines()
        note_path = os.path.join(root, "run", "zorva-prereqs-32bit.note")
        note = None
        if os.path.exists(note_path):
            with open(note_path) as f:
                note = f.read().strip()
        with open(os.path.join(root, "proc/sys/fs/binfmt_misc/register")) as f:
            registered = ":qemu-i386:" in f.read()
        return result, calls, note, registered

    @staticmethod
    def installs(calls):
        """The packages of each apt-get install call."""
        return [[word for word in call.split()[call.split().index("install") + 1:] if not word.startswith("-")]
                for call in calls if " install " in f" {call} "]

    def test_an_index_that_fails_once_then_loads(self):
        result, calls, note, registered = self.run_script(update_failures="1")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sum(call.startswith("update") for call in calls), 2)
        self.assertTrue(all("Acquire::Retries=3" in call for call in calls if call.startswith("update")))
        self.assertEqual(self.installs(calls), [FIRST_SET, SET_32])
        self.assertNotIn("note:", result.stderr)
        self.assertIsNone(note)
        self.assertTrue(registered)

    def test_an_index_that_keeps_failing_and_a_32_bit_set_that_cannot_be_had(self):
        result, calls, note, registered = self.run_script(update_failures="always", uninstallable=["wine32:i386"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sum(call.startswith("update") for call in calls), 3)
        self.assertEqual(self.installs(calls), [FIRST_SET, SET_32])
        self.assertEqual(result.stderr.splitlines(), [
            "note: apt could not load the index bookworm-security main i386 after 3 tries (the mirror may be "
            "mid-sync); going on with the lists that loaded",
            "note: the 32-bit set (wine32:i386 qemu-user-static) could not be installed while the index "
            "bookworm-security main i386 failed to load; the tests of the shipping 32-bit exe will report "
            "themselves skipped, and demo.sh --win32 cannot run here"])
        self.assertEqual(note, "the 32-bit set (wine32:i386 qemu-user-static) could not be installed while the "
                               "index bookworm-security main i386 failed to load")
        self.assertFalse(registered)

    def test_a_first_set_that_cannot_be_had_stops_the_script(self):
        result, calls, note, registered = self.run_script(update_failures="always", uninstallable=["wine64"])
        self.assertEqual(result.returncode, 1)
        self.assertEqual(self.installs(calls), [FIRST_SET])
        self.assertIn("E: Unable to correct problems", result.stderr)
        self.assertEqual(result.stderr.splitlines()[-1].split(" (")[0],
                         "error: could not install " + " ".join(FIRST_SET))
        self.assertFalse(registered)

    def test_the_prometheus_server_the_package_starts_is_stopped_only_when_just_installed(self):
        for installed, stopped in [((), True), (["prometheus"], False)]:
            with self.subTest(installed=installed):
                result, calls, _, _ = self.run_script(installed=installed, systemd=True)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual("systemctl disable --now prometheus.service" in calls, stopped)

    def test_nothing_missing_asks_apt_nothing(self):
        result, calls, note, registered = self.run_script(installed=FIRST_SET + SET_32)
        self.assertEqual((result.returncode, calls, result.stderr), (0, [], ""))
        self.assertTrue(registered)


class TestSummary(unittest.TestCase):
    """The test command's last lines, from ctest's JUnit file."""

    def test_skips_are_named_with_their_reason_and_counted(self):
        results = textwrap.dedent("""\
            <testsuite>
              <testcase name="unit.a" status="run"><system-out>ok</system-out></testcase>
              <testcase name="wine32.run" status="notrun"><skipped message="SKIP_RETURN_CODE=77"/>
                <system-out>skipped: this machine cannot run 32-bit code: no 32-bit Wine</system-out></testcase>
              <testcase name="wine32.cancel" status="notrun"><skipped message="SKIP_RETURN_CODE=77"/>
                <system-out>skipped: this machine cannot run 32-bit code: no 32-bit Wine</system-out></testcase>
              <testcase name="other" status="notrun"><skipped message="Disabled"/></testcase>
              <testcase name="bad" status="fail"><system-out>boom</system-out></testcase>
            </testsuite>""")
        with tempfile.NamedTemporaryFile("w", suffix=".xml") as f:
            f.write(results)
            f.flush()
            summary = subprocess.run(["python3", os.path.join(SOURCE_DIR, "tests", "test_summary.py"), f.name],
                                     capture_output=True, text=True, check=True).stdout
        self.assertEqual(summary.splitlines(), [
            "skipped 2 tests (wine32.run, wine32.cancel): this machine cannot run 32-bit code: no 32-bit Wine",
            "skipped 1 test (other): Disabled",
            "tests: 1 passed, 1 failed, 3 skipped"])


if __name__ == "__main__":
    unittest.main()
