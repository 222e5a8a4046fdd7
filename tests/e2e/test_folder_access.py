"""The Everyone grant in a real run: once, after the expansion, through
handles only, to the work folder and everything expanded in it; the folder
is private until then, and the run goes on whether the grant succeeds or not.

Wine keeps no DACL on files: a DACL set through a handle only becomes Unix
mode bits (Everyone's entry becomes the "other" bits). So the modes show
whether the grant took effect, the debugger channel shows the DACL as Wine
reports it at each seam, and Wine's relay trace of the program's own calls
shows when the grant ran and what it returned. The contents of the DACL are
checked by the unit tests on in-memory descriptors.
The same trace shows that the installer's process handle, once waited on, is
closed, that the DLL search is restricted to the system folder before
anything else, and that advapi32 is loaded by its full path there. (A DLL
planted beside the program cannot show the restriction: what Wine loads by
name during a run, it delay-loads, and its delay-loads ignore it.)
That path names system32 in every configuration: under WOW64 the file system
redirects a 32-bit program's system32 to syswow64, and Wine shows that in no
name a program or its traces see.
The unit tests' conversions between UTF-16 and code pages, traced too, show
the arguments that Wine accepts whatever they are and Windows refuses for
some code pages.
"""
import os
import re
import shutil
import stat
import subprocess
import unittest

from winehost import DEMO_MARKER, GUID, PrefixTest, bootstrapper, env

# Security changes by name: none may be made.
BY_NAME = ("GetFileSecurityA", "GetFileSecurityW", "SetFileSecurityA", "SetFileSecurityW", "SetNamedSecurityInfoA",
           "SetNamedSecurityInfoW", "GetNamedSecurityInfoA", "GetNamedSecurityInfoW")
TRACED = ("kernel32.SetDefaultDllDirectories", "kernel32.SetProcessMitigationPolicy", "kernel32.LoadLibraryA",
          "advapi32.SetKernelObjectSecurity", "setupapi.SetupIterateCabinetA", "shell32.ShellExecuteExA",
          "kernel32.WaitForSingleObject", "kernel32.CloseHandle") + tuple("advapi32." + name for name in BY_NAME)
TRACED_NAMES = {name.split(".")[1] for name in TRACED}
CALL = re.compile(r'^(\w+):Call (\w+)\.(\w+)\(([0-9a-f]+)(?: "((?:[^"\\]|\\.)*)")?(?:,([0-9a-f]+))?')
RET = re.compile(r"^(\w+):Ret  \w+\.(\w+)\(\) retval=([0-9a-f]+)")
# WideCharToMultiByte's eight arguments; a string follows its pointer.
ARGUMENT = r'([0-9a-f]+)(?: L"(?:[^"\\]|\\.)*")?'
NARROWING = re.compile(r"^\w+:Call \w+\.WideCharToMultiByte\(" + ",".join([ARGUMENT] * 8) + r"\) ret=")
WC_NO_BEST_FIT_CHARS = 0x400
WC_ERR_INVALID_CHARS = 0x80


DACL = re.compile(r'OutputDebugStringA "seam: (\S+) dacl (\S+?)\\n"')


def mode(path):
    return stat.S_IMODE(os.stat(path).st_mode)


def tree_below(folder):
    """`folder` and every file and folder in it."""
    yield folder
    for base, dirs, files in os.walk(folder):
        for name in dirs + files:
            yield os.path.join(base, name)


class FolderAccess(PrefixTest):
    def setUp(self):
        super().setUp()
        result = self.prefix.reg("add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/d", ";".join(TRACED),
                                 "/f")
        self.assertEqual(0, result.returncode, result.output)

    def traced_run(self, variant=None):
        """Runs the bootstrapper and returns, in order, the traced calls its
        thread makes outside other traced calls (not the shell's own, nor the
        cabinet callback's), as (function, first argument, return value,
        second argument); the first argument is the string or, for other
        types, its hex digits; the second, hex digits or None."""
        with self.prefix.setting(WINEDEBUG="+relay,warn+debugstr"):
            result = self.prefix.run(bootstrapper(variant))
        self.last_output = result.output
        self.assertEqual(0, result.returncode)
        # The launched installer's trace shares the output.
        calls = []
        running = []
        thread = None
        for line in result.output.splitlines():
            call = CALL.match(line)
            traced = call and call.group(3) in TRACED_NAMES
            if traced and call.group(1) == (thread or call.group(1)):
                thread = call.group(1)
                argument = call.group(4) if call.group(5) is None else call.group(5).replace("\\\\", "\\")
                running.append([call.group(3), argument, None, call.group(6)])
                if len(running) == 1:
                    calls.append(running[0])
                continue
            ret = RET.match(line)
            if ret and ret.group(1) == thread and running and running[-1][0] == ret.group(2):
                running.pop()[2] = int(ret.group(3), 16)
        return [tuple(c) for c in calls]

    def assert_full_run(self, calls, granted):
        """Expanded, then granted through handles (the work folder, then
        everything expanded): reading and running before the launch, full
        access with the labels taken away only once the installer's process
        has ended; the installer's process handle closed after the wait."""
        names = [c[0] for c in calls]
        self.assertEqual([], [c for c in calls if c[0] in BY_NAME], "no security call by name")
        expanded = names.index("SetupIterateCabinetA")
        self.assertNotEqual(0, calls[expanded][2])
        folder = self.prefix.windows_path(self.prefix.work_folder)
        self.assertTrue(calls[expanded][1].lower().startswith(folder.lower() + "\\"))
        launch = names.index("ShellExecuteExA")
        wait = names.index("WaitForSingleObject", launch)
        self.assertEqual(0, calls[wait][2], "the installer's process ended")
        grants = [i for i, name in enumerate(names) if name == "SetKernelObjectSecurity"]
        self.assertTrue(grants and grants[0] > expanded, "the first security change follows the expansion")
        reading = [calls[i] for i in grants if i < launch]
        full = [calls[i] for i in grants if i > wait]
        self.assertEqual(len(grants), len(reading) + len(full), "no security change while the installer runs")
        # Everything there but the installer's marker, which came later.
        granted_objects = sum(1 for _ in tree_below(self.prefix.work_folder)) - 1
        for calls_of_pass, information in ((reading, "%08x" % 0x4), (full, "%08x" % 0x14)):
            self.assertEqual(granted_objects if granted else 1, len(calls_of_pass))
            self.assertEqual([(granted, information)] * len(calls_of_pass),
                             [(c[2] != 0, c[3]) for c in calls_of_pass])
        self.assertTrue(os.path.exists(os.path.join(self.prefix.work_folder, DEMO_MARKER)))

        self.assertEqual(("SetDefaultDllDirectories", "%08x" % 0x800, 1), calls[0][:3], "only system32, first of all")
        self.assertEqual(("SetProcessMitigationPolicy", "%08x" % 16), calls[1][:2], "no untrusted redirection")
        loads = [c[1].lower() for c in calls if c[0] == "LoadLibraryA" and "advapi32" in c[1].lower()]
        self.assertEqual(["c:\\windows\\system32\\advapi32.dll"] * 2, loads, "one load for each grant")
        self.assertIn(("CloseHandle", calls[wait][1], 1), [c[:3] for c in calls[wait + 1:]])

    def test_new_folder_is_private_until_the_expansion_then_open_to_everyone(self):
        self.assert_full_run(self.traced_run(), granted=True)
        for path in tree_below(self.prefix.work_folder):
            if not path.endswith(DEMO_MARKER):
                self.assertEqual(0o7, mode(path) & 0o7, path)

        # A rerun puts the last run's folder aside, deletes it and makes a
        # new one (held open here, the old one keeps its inode number).
        first = os.open(self.prefix.work_folder, os.O_RDONLY)
        self.addCleanup(os.close, first)
        with self.prefix.setting(WEB_INSTALLER_TEST_SEAM="*:dacl"):
            result = self.prefix.run(bootstrapper("seams"))
        self.assertEqual(0, os.fstat(first).st_nlink, "the earlier folder is deleted")
        self.assertNotEqual(os.fstat(first).st_ino, os.stat(self.prefix.work_folder).st_ino)
        self.assertEqual([], [n for n in os.listdir(self.prefix.temp_dir) if n.startswith(GUID + ".")])
        shown = dict(DACL.findall(result.output))
        private = ("work-held", "payload-written", "member-extracted", "expanded", "digest-checked")
        reading = ("granted-expanded", "launching", "installer-running")
        self.assertEqual(set(), set(private + reading + ("granted-full",)) - set(shown), result.output)
        for point in private:
            self.assertNotIn(";;;WD)", shown[point], point)
        for point in reading:
            self.assertIn("(A;OICI;0x1200a9;;;WD)", shown[point], point)
        # Wine shows what the mode bits allow: everything but WRITE_DAC and WRITE_OWNER.
        self.assertRegex(shown["granted-full"], r"\(A;OICI;(FA|0x1301ff);;;WD\)")

    def test_installer_may_move_its_files_and_what_it_moves_out_is_not_granted(self):
        # The run holds every object through the wait, in a way that keeps
        # no installer from renaming its folders; a file the installer moves
        # or links into its own place outside keeps the protection it had.
        with self.prefix.setting(WEB_INSTALLER_TEST_SEAM="installer-running:rename-folder"):
            result = self.prefix.run(bootstrapper("seams"))
        self.assertIn("seam: installer-running:rename-folder done", result.output)
        # Wine shows a moved file's final path where it was opened; the seam
        # answers as Windows does (for the first run's setup.ini too, which
        # is therefore removed first).
        shutil.rmtree(self.prefix.work_folder)
        self.prefix.env["WEB_INSTALLER_TEST_SEAM"] = ("launching:link-out;installer-running:move-out;"
                                                     "final-path-out:setup.ini")
        calls = self.traced_run("seams")
        self.assertIn("seam: launching:link-out done", self.last_output)
        self.assertIn("seam: installer-running:move-out done", self.last_output)
        linked = os.path.join(self.prefix.work_folder, "language", "languages.txt")
        for path in (os.path.join(self.prefix.temp_dir, "moved-out.ini"), linked):
            self.assertEqual(0o4, mode(path) & 0o6, f"{path}: others read it, as while the installer ran, not write")
        for path in tree_below(self.prefix.work_folder):
            if not path.endswith(DEMO_MARKER) and path != linked:
                self.assertEqual(0o7, mode(path) & 0o7, path)
        # Both left out of the full grant.
        grants = [c for c in calls if c[0] == "SetKernelObjectSecurity"]
        self.assertEqual(2 * sum(1 for _ in tree_below(self.prefix.work_folder)) - 2, len(grants))

    def test_folder_whose_security_cannot_be_rewritten_still_gets_a_full_run(self):
        # An append-only folder refuses a change of its mode, so Wine's
        # SetKernelObjectSecurity fails on it.
        self.prefix.env["WEB_INSTALLER_TEST_SEAM"] = "expanded:append-only"
        self.addCleanup(subprocess.run, ["chattr", "-a", self.prefix.work_folder], stdin=subprocess.DEVNULL,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        calls = self.traced_run("seams")
        if "expanded:append-only done" not in self.last_output:
            self.skipTest("this file system cannot make a folder append-only (chattr +a)")
        self.assert_full_run(calls, granted=False)
        self.assertIn("keeps its private protection", self.last_output)
        self.assertEqual(0, mode(self.prefix.work_folder) & 0o7)

    def test_code_pages_that_refuse_a_used_default_report_are_never_asked_for_one(self):
        # Windows fails UTF-8 and ISO-2022-JP conversions given a used-default
        # pointer, or flags they do not take; Wine converts them anyway.
        result = self.prefix.reg("add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/d",
                                 "kernel32.WideCharToMultiByte", "/f")
        self.assertEqual(0, result.returncode, result.output)
        with self.prefix.setting(WINEDEBUG="+relay"):
            result = self.prefix.run(env("UNIT_TESTS"), "--gtest_filter=CodePages.*", timeout=300)
        self.assertEqual(0, result.returncode, result.output[-2000:])
        # (code page, flags, used-default pointer is NULL)
        calls = [(int(c.group(1), 16), int(c.group(2), 16), c.group(8) == "00000000")
                 for c in map(NARROWING.match, result.output.splitlines()) if c]
        for code_page, allowed in ((65001, WC_ERR_INVALID_CHARS), (50220, 0)):
            asked = [call for call in calls if call[0] == code_page]
            self.assertTrue(asked, code_page)
            self.assertEqual([], [c for c in asked if not c[2] or c[1] & ~allowed], code_page)
        for code_page in (1252, 932):
            # (The runtime converts without flags for itself.)
            asked = [call for call in calls if call[0] == code_page and call[1]]
            self.assertTrue(asked, code_page)
            self.assertEqual([], [c for c in asked if c[2] or c[1] != WC_NO_BEST_FIT_CHARS], code_page)


if __name__ == "__main__":
    unittest.main(verbosity=2)
