"""The Everyone grant in a real run: applied to the work folder before and
after the expansion, and the run goes on whether it succeeds or not.

Wine keeps no DACL on files: SetFileSecurityA only turns the DACL into Unix
mode bits of the folder (Everyone's entry becomes the "other" bits). So the
folder's mode shows whether a grant took effect, and Wine's relay trace of
the program's own calls shows when the grant ran and what it returned. The
contents of the DACL are checked by the unit tests on in-memory descriptors.
The same trace shows that the installer's process handle, once waited on, is
closed, that the DLL search is restricted to the system folder before
anything else, and that advapi32 is loaded by its full path there. (A DLL
planted beside the program cannot show the restriction: what Wine loads by
name during a run, it delay-loads, and its delay-loads ignore it.)
That path names system32 in every configuration: under WOW64 the file system
redirects a 32-bit program's system32 to syswow64, and Wine shows that in no
name a program or its traces see.
"""
import os
import re
import stat
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
from winehost import DEMO_MARKER, QUIET_DEBUG, Prefix, bootstrapper  # noqa: E402

TRACED = ("kernel32.SetDefaultDllDirectories", "kernel32.LoadLibraryA", "advapi32.SetFileSecurityA",
          "setupapi.SetupIterateCabinetA", "shell32.ShellExecuteExA", "kernel32.WaitForSingleObject",
          "kernel32.CloseHandle")
CALL = re.compile(r'^(\w+):Call (\w+)\.(\w+)\(([0-9a-f]+)(?: "((?:[^"\\]|\\.)*)")?')
RET = re.compile(r"^(\w+):Ret  \w+\.(\w+)\(\) retval=([0-9a-f]+)")


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
        """Runs the bootstrapper and returns, in order, the traced calls its
        thread makes outside other traced calls (not the shell's own, nor the
        cabinet callback's), as (function, first argument, return value); the
        first argument is the string or, for other types, its hex digits."""
        self.prefix.env["WINEDEBUG"] = "+relay"
        try:
            result = self.prefix.run(bootstrapper())
        finally:
            self.prefix.env["WINEDEBUG"] = QUIET_DEBUG
        self.assertEqual(0, result.returncode)
        # The launched installer's trace shares the output.
        calls = []
        running = []
        thread = None
        for line in result.output.splitlines():
            call = CALL.match(line)
            traced = call and f"{call.group(2).lower()}.{call.group(3)}" in TRACED
            if traced and call.group(1) == (thread or call.group(1)):
                thread = call.group(1)
                argument = call.group(4) if call.group(5) is None else call.group(5).replace("\\\\", "\\")
                running.append([call.group(3), argument, None])
                if len(running) == 1:
                    calls.append(running[0])
                continue
            ret = RET.match(line)
            if ret and ret.group(1) == thread and running and running[-1][0] == ret.group(2):
                running.pop()[2] = int(ret.group(3), 16)
        return [tuple(c) for c in calls]

    def assert_full_run(self, calls, granted):
        """Granted before and after the expansion, expanded, launched, and
        the installer's process handle closed after the wait."""
        folder = self.prefix.windows_path(self.prefix.work_folder)
        steps = [c for c in calls if c[0] in ("SetFileSecurityA", "SetupIterateCabinetA")]
        self.assertEqual(["SetFileSecurityA", "SetupIterateCabinetA", "SetFileSecurityA"], [c[0] for c in steps])
        for _, path, result in (steps[0], steps[2]):
            self.assertEqual(folder.lower(), path.lower())
            self.assertEqual(granted, result != 0)
        self.assertTrue(steps[1][1].lower().startswith(folder.lower() + "\\"))
        self.assertNotEqual(0, steps[1][2])
        self.assertTrue(os.path.exists(os.path.join(self.prefix.work_folder, DEMO_MARKER)))

        self.assertEqual(("SetDefaultDllDirectories", "%08x" % 0x800, 1), calls[0], "only system32, first of all")
        loads = [c[1].lower() for c in calls if c[0] == "LoadLibraryA" and "advapi32" in c[1].lower()]
        self.assertEqual(["c:\\windows\\system32\\advapi32.dll"] * 2, loads, "one load for each grant")

        names = [c[0] for c in calls]
        wait = names.index("WaitForSingleObject", names.index("ShellExecuteExA"))
        self.assertEqual(0, calls[wait][2], "the installer's process ended")
        self.assertIn(("CloseHandle", calls[wait][1], 1), calls[wait + 1:])

    def test_new_and_reused_folder_are_opened_to_everyone(self):
        self.assert_full_run(self.traced_run(), granted=True)
        self.assertEqual(0o777, mode(self.prefix.work_folder))

        os.chmod(self.prefix.work_folder, 0o700)
        self.assert_full_run(self.traced_run(), granted=True)
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

        self.assert_full_run(self.traced_run(), granted=False)
        self.assertEqual(0o700, mode(folder))


if __name__ == "__main__":
    unittest.main(verbosity=2)
