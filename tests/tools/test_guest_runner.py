"""The emulated guest's runner (tests/guest/run.sh) passes a failing guest
command's status on, and stops a guest that hangs at its time-out."""
import os
import re
import subprocess
import sys
import unittest

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


if __name__ == "__main__":
    unittest.main(verbosity=2)
