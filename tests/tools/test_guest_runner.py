"""The emulated guest's runner (tests/guest/run.sh) passes a failing guest
command's status on, and stops a guest that hangs at its time-out. The guest
image is unpacked from the mirrors in the machine's apt sources
(tests/guest/apt_sources.py), which the project itself never names."""
import os
import re
import subprocess
import tempfile
import unittest

import apt_sources

RUNNER = os.path.join(os.environ["SOURCE_DIR"], "tests", "guest", "run.sh")


def image_is_cached():
    return subprocess.run(["bash", "-c", f'source "{os.path.dirname(RUNNER)}/guest.sh" && test -f "$guest_dir/ready"'],
                          stdin=subprocess.DEVNULL).returncode == 0


class GuestRunner(unittest.TestCase):
    def test_failure_and_hang_reach_the_caller(self):
        if not image_is_cached():
            self.skipTest("no guest image is cached; scripts/test makes one where the kernel needs it")
        for command, timeout, status in (("echo in-guest; exit 3", 300, 3), ("sleep 900", 60, 124)):
            with self.subTest(command):
                result = subprocess.run([RUNNER, "--timeout", str(timeout), command], stdin=subprocess.DEVNULL,
                                        capture_output=True, text=True, timeout=timeout + 60)
                self.assertEqual(status, result.returncode, result.stdout + result.stderr)
                if status == 3:
                    self.assertIn("in-guest", result.stdout)
                else:
                    stopped = re.search(r"still running after 60 s; stopped it \(qemu pid (\d+)\)", result.stderr)
                    self.assertTrue(stopped, result.stderr)
                    self.assertFalse(os.path.exists(f"/proc/{stopped.group(1)}"), "qemu still runs")


class AptSources(unittest.TestCase):
    FILES = {
        "sources.list": """# deb http://old.example/debian bookworm main
deb [arch=amd64,i386 signed-by=/k.gpg] http://one.example/debian bookworm main contrib # the main suite
deb-src http://one.example/debian bookworm main
deb http://one.example/debian bookworm-backports main
""",
        "sources.list.d/debian.sources": """Types: deb deb-src
# http://note.example/archive
URIs: http://two.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 -----END PGP PUBLIC KEY BLOCK-----

Types: deb
URIs: http://two.example/debian-security
Suites: bookworm-security
Components: main

Types: deb
URIs: http://off.example/debian
Suites: bookworm
Components: main
Enabled: no

Types: deb
URIs: https://third.example/apt
Suites: bookworm
Components: stable
""",
        "sources.list.d/extra.list": "deb http://user:pw@four.example:8080/debian bookworm-updates main\n",
        "sources.list.d/old.list.disabled": "deb http://ignored.example/debian bookworm main\n",
    }

    def test_mirrors_and_hosts_of_one_line_and_deb822_files(self):
        with tempfile.TemporaryDirectory() as apt_dir:
            for name, text in self.FILES.items():
                os.makedirs(os.path.dirname(os.path.join(apt_dir, name)), exist_ok=True)
                with open(os.path.join(apt_dir, name), "w") as f:
                    f.write(text)
            self.assertEqual(["deb http://one.example/debian bookworm main",
                              "deb http://two.example/debian bookworm main",
                              "deb http://two.example/debian bookworm-updates main",
                              "deb http://user:pw@four.example:8080/debian bookworm-updates main",
                              "deb http://two.example/debian-security bookworm-security main"],
                             apt_sources.mirrors(apt_dir, "bookworm"))
            self.assertEqual(["four.example", "note.example", "off.example", "old.example", "one.example",
                              "third.example", "two.example"], apt_sources.hosts(apt_dir))

    def test_no_tracked_file_names_a_package_host_of_this_machine(self):
        hosts = apt_sources.hosts("/etc/apt")
        if not hosts or not os.path.exists(os.path.join(os.environ["SOURCE_DIR"], ".git")):
            self.skipTest("no apt sources or no git checkout here")
        found = subprocess.run(["git", "grep", "-I", "-l", "-i", "-F"] + [a for h in hosts for a in ("-e", h)],
                               cwd=os.environ["SOURCE_DIR"], capture_output=True, text=True)
        self.assertEqual(1, found.returncode, f"files naming a package host: {found.stdout}{found.stderr}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
