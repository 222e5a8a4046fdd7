"""The Everyone grant in a real run: applied to the work folder before and
after the expansion, and the run goes on whether it succeeds or not.

Wine keeps no DACL on files: SetFileSecurityA only turns the DACL into Unix
mode bits of the folder (Everyone's entry becomes the "other" bits). So the
folder's mode shows whether a grant took effect, and Wine's relay trace of
the program's own calls shows when the grant ran and what it returned. The
contents of the DACL are checked by the unit tests on in-memory descriptors.
"""
import os
import re
import stat
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
from winehost import DEMO_MARKER, Prefix, bootstrapper  # noqa: E402

TRACED = ("advapi32.SetFileSecurityA", "setupapi.SetupIterateCabinetA")
CALL = re.compile(r'Call (\S+)\([0-9a-f]+ "((?:[^"\\]|\\.)*)"')
RET = re.compile(r"Ret  (\S+)\(\) retval=([0-9a-f]+)")


def mode(path):
    return stat.S_IMODE(os.stat(path).st_mode)


class FolderAccess(unittest.TestCase):
    def setUp(self):
        self.prefix = Prefix(self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.prefix.close)
        result = self.prefix.reg("add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/d", ";".join(TRACED),
                                 "/f")
        self.assertEqual(0, result.returncode, result.output)

    def traced_run(self):
        """Runs the bootstrapper and returns its traced calls in order, as
        (function, first argument, return value)."""
        self.prefix.env["WINEDEBUG"] = "+relay"
        try:
            result = self.prefix.run(bootstrapper())
        finally:
            self.prefix.env["WINEDEBUG"] = "-all"
        self.assertEqual(0, result.returncode)
        calls = []
        pending = None
        for line in result.output.splitlines():
            call = CALL.search(line)
            if call and call.group(1) in TRACED:
                pending = (call.group(1).split(".")[1], call.group(2).replace("\\\\", "\\"))
                continue
            ret = RET.search(line)
            if ret and pending and ret.group(1).endswith("." + pending[0]):
                calls.append(pending + (int(ret.group(2), 16),))
                pending = None
        return calls

    def assert_granted_around_expansion(self, calls, granted):
        folder = self.prefix.windows_path(self.prefix.work_folder)
        self.assertEqual(["SetFileSecurityA", "SetupIterateCabinetA", "SetFileSecurityA"], [c[0] for c in calls])
        for _, path, result in (calls[0], calls[2]):
            self.assertEqual(folder.lower(), path.lower())
            self.assertEqual(granted, result != 0)
        self.assertTrue(calls[1][1].lower().startswith(folder.lower() + "\\"))
        self.assertNotEqual(0, calls[1][2])
        self.assertTrue(os.path.exists(os.path.join(self.prefix.work_folder, DEMO_MARKER)))

    def test_new_and_reused_folder_are_opened_to_everyone(self):
        self.assert_granted_around_expansion(self.traced_run(), granted=True)
        self.assertEqual(0o777, mode(self.prefix.work_folder))

        os.chmod(self.prefix.work_folder, 0o700)
        self.assert_granted_around_expansion(self.traced_run(), granted=True)
        self.assertEqual(0o777, mode(self.prefix.work_folder))

    def test_folder_whose_security_cannot_be_rewritten_still_gets_a_full_run(self):
        # An append-only folder takes new files but refuses a mode change, so
        # Wine's SetFileSecurityA fails on it.
        folder = self.prefix.work_folder
        os.makedirs(folder)
        os.chmod(folder, 0o700)
        locked = subprocess.run(["chattr", "+a", folder], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        if locked.returncode != 0:
            self.skipTest("chattr +a is not available here")
        self.addCleanup(subprocess.run, ["chattr", "-a", folder], stdin=subprocess.DEVNULL)

        self.assert_granted_around_expansion(self.traced_run(), granted=False)
        self.assertEqual(0o700, mode(folder))


if __name__ == "__main__":
    unittest.main(verbosity=2)
