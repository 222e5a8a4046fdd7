"""Launching the expanded installer and waiting for it: the bootstrapper
lives, holding its mutex, exactly as long as the installer's own process, and
copies started meanwhile stop without touching anything."""
import os
import re
import subprocess
import time
import unittest

import nsis_installer as nsis
from winehost import (CLEANUP_VALUE, CONFIG, DEMO_MARKER, INSTALLER, MUTEX_GLOBAL, PAYLOAD_FILE,
                      RUNONCE_SUBKEY, PrefixTest, assert_stopped, bootstrapper, helper, read, tree,
                      unprivileged_user, wait_for)

# Written by the stand-in installers (tests/helpers/launch_*_gui.cpp).
LOG = "launch-log.txt"
RELEASE = "launch-release"
DATA_FILES = ["data", os.path.join("data", "setup.ini"), "readme.txt"]


class Launch(PrefixTest):
    def start(self, variant):
        process = self.prefix.start(bootstrapper(variant))
        self.addCleanup(self.stop, process)
        return process

    @staticmethod
    def stop(process):
        if process.poll() is None:
            process.kill()
            process.wait()

    def log(self):
        try:
            with open(os.path.join(self.prefix.work_folder, LOG)) as f:
                return f.read().split()
        except FileNotFoundError:
            return []

    def events(self, kind):
        words = self.log()
        return [words[i + 1] for i in range(0, len(words) - 1, 2) if words[i] == kind]

    def wait_for_event(self, kind, count=1, timeout=30):
        self.assertTrue(wait_for(lambda: len(self.events(kind)) >= count, timeout=timeout),
                        f"no '{kind}' in the installer log: {self.log()}")

    def release(self):
        open(os.path.join(self.prefix.work_folder, RELEASE), "w").close()

    def snapshot(self):
        """The registry value and every file's size and time in the work
        folder, to show that nothing was written."""
        folder = self.prefix.work_folder
        files = {}
        for name in tree(folder):
            info = os.stat(os.path.join(folder, name))
            files[name] = (info.st_size, info.st_mtime_ns)
        return self.prefix.reg_value(RUNONCE_SUBKEY, CLEANUP_VALUE), files

    def assert_ends(self, process, timeout=10):
        try:
            self.assertEqual(0, process.wait(timeout=timeout))
        except subprocess.TimeoutExpired:
            self.fail(f"the bootstrapper still runs {timeout} s later")

    def test_runs_exactly_as_long_as_the_installer(self):
        first = self.start("launch_waiting")
        self.wait_for_event("started")
        before = self.snapshot()
        self.assertIsNotNone(before[0])

        # While the installer runs, the first copy waits with its mutex held,
        # and another copy stops at once without writing anything.
        time.sleep(1)
        self.assertIsNone(first.poll())
        self.assertTrue(self.prefix.mutex_exists(MUTEX_GLOBAL))
        second = self.prefix.run(bootstrapper("launch_waiting"), timeout=20)
        self.assertEqual(0, second.returncode, second.output)
        assert_stopped(self, second, "another copy is running")
        self.assertEqual(before, self.snapshot())
        self.assertEqual(1, len(self.events("started")), self.log())
        self.assertIsNone(first.poll())
        self.assertEqual([], self.events("ended"))
        # The work folder and the temporary folder it lies in are held open:
        # neither can be renamed, nor swapped for a link.
        folders = [self.prefix.windows_path(path) for path in (self.prefix.work_folder, self.prefix.temp_dir)]
        for folder in folders:
            self.assertNotEqual(0, self.prefix.probe("move", folder, folder + ".moved").returncode, folder)

        self.release()
        self.wait_for_event("ended")
        self.assert_ends(first)
        self.assertFalse(self.prefix.mutex_exists(MUTEX_GLOBAL))
        for folder in folders:
            self.assertEqual(0, self.prefix.probe("move", folder, folder + ".moved").returncode, folder)

    def test_other_accounts_only_read_and_run_while_the_installer_runs(self):
        # Wine turns the DACL into mode bits, which the kernel enforces on
        # another Unix account: that is the other local account here.
        other = unprivileged_user()
        if other is None:
            self.skipTest("acting as another account needs root")
        process = self.start("launch_waiting")
        self.wait_for_event("started")
        work = self.prefix.work_folder
        # Every account may pass through folders it cannot list, as on Windows.
        folder = os.path.dirname(work)
        while folder != os.path.dirname(self.prefix.path):
            os.chmod(folder, os.stat(folder).st_mode | 0o001)
            folder = os.path.dirname(folder)
        installer = os.path.join(work, INSTALLER)
        member = os.path.join(work, "data", "setup.ini")
        moves = {
            "a DLL beside the installer": f"echo planted > '{work}/version.dll'",
            "a DLL in a member folder": f"echo planted > '{work}/data/version.dll'",
            "the installer opened for writing": f"exec 3>>'{installer}'",
            "a member opened for writing": f"exec 3>>'{member}'",
            "a member renamed aside": f"mv '{member}' '{member}.aside'",
            "reading the installer": f"cat '{installer}' >/dev/null",
        }
        done = {what: subprocess.run(["runuser", "-u", other, "--", "sh", "-c", script], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
                for what, script in moves.items()}
        self.assertEqual({what: what == "reading the installer" for what in moves}, done)
        self.assertEqual(sorted(DATA_FILES + [INSTALLER, PAYLOAD_FILE, LOG]), tree(work))

        self.release()
        self.wait_for_event("ended")
        self.assert_ends(process)
        for name in [""] + DATA_FILES + [INSTALLER, PAYLOAD_FILE]:
            self.assertEqual(0o7, os.stat(os.path.join(work, name)).st_mode & 0o7, name)

    def test_installer_that_hands_over_and_ends_ends_the_wait(self):
        process = self.start("launch_spawner")
        self.wait_for_event("spawned")
        self.wait_for_event("started")
        waiter = self.events("spawned")[0]
        self.assertEqual([waiter], self.events("started"))

        self.assert_ends(process)
        self.assertFalse(self.prefix.mutex_exists(MUTEX_GLOBAL))
        # The process started by the installer still runs, and only ends now.
        self.assertEqual([], self.events("ended"))
        self.release()
        self.wait_for_event("ended")
        self.assertEqual([waiter], self.events("ended"))

    def test_copies_started_at_once_run_the_installer_once(self):
        copies = 8
        program = "Z:" + bootstrapper("launch_waiting").replace("/", "\\")
        race = self.prefix.start(helper("launch_race"), str(copies), program)
        self.addCleanup(self.stop, race)

        def race_lines():
            with open(race.log_path) as f:
                return re.findall(r"^ended (\d+) exit=(\d+)", f.read(), re.M)

        # Eight copies at once take long to start under emulation.
        self.wait_for_event("started", timeout=120)
        self.assertTrue(wait_for(lambda: len(race_lines()) >= copies - 1, timeout=120), race_lines())
        # All but one ended, with 0, while the one that won still waits.
        self.assertEqual(["0"] * (copies - 1), [code for _, code in race_lines()])
        self.assertEqual(1, len(self.events("started")), self.log())
        self.assertTrue(self.prefix.mutex_exists(MUTEX_GLOBAL))

        self.release()
        result = self.prefix.finish(race, timeout=30)
        self.assertEqual(0, result.returncode, result.output)
        lines = race_lines()
        self.assertEqual(copies, len(lines), result.output)
        self.assertEqual(copies, len({index for index, _ in lines}))
        self.assertEqual("0", lines[-1][1])
        self.assertEqual(1, len(self.events("started")), self.log())

        kind, command = self.prefix.reg_value(RUNONCE_SUBKEY, CLEANUP_VALUE)
        self.assertEqual(1, kind)  # REG_SZ
        folder = self.prefix.windows_path(self.prefix.work_folder).encode()
        self.assertEqual(1, command.count(folder), command)
        self.assertEqual(1, command.count(b"\x00"), command)
        self.assertTrue(command.endswith(b"\x00"), command)
        self.assertEqual(sorted([PAYLOAD_FILE, INSTALLER, LOG, RELEASE] + DATA_FILES),
                         tree(self.prefix.work_folder))

    def test_a_64bit_installer_is_started_and_waited_for_on_64bit_windows(self):
        if CONFIG == "win32":
            self.skipTest("32-bit Windows cannot start a 64-bit installer")
        result = self.run_bootstrapper("launch_64bit_installer")
        self.assertRegex(result.stop, r"^installer started \(process \d+\); it ended with exit code 0$")
        self.assertTrue(os.path.exists(os.path.join(self.prefix.work_folder, DEMO_MARKER)))

    def test_an_installer_made_with_a_real_toolkit_installs_the_product(self):
        if CONFIG == "win64":
            self.skipTest("the x86-64 stand-in has no 32-bit Wine to run a 32-bit installer")
        result = self.run_bootstrapper("toolkit_nsis")
        self.assertRegex(result.stop, r"^installer started \(process \d+\); it ended with exit code 0$")
        # 64-bit Windows gives a 32-bit installer its own Program Files and
        # registry view.
        program_files = "Program Files (x86)" if CONFIG == "wow64" else "Program Files"
        installed = os.path.join(self.prefix.path, "drive_c", program_files, nsis.PRODUCT)
        for name, content in nsis.INSTALLED_FILES.items():
            self.assertEqual(content, read(os.path.join(installed, name)), name)
        key = "HKLM\\" + nsis.UNINSTALL_KEY
        view32 = self.prefix.reg("query", key, "/v", "DisplayName", "/reg:32")
        self.assertEqual(0, view32.returncode, view32.output)
        self.assertIn(nsis.PRODUCT, view32.output)
        if CONFIG == "wow64":
            self.assertNotEqual(0, self.prefix.reg("query", key, "/reg:64").returncode, "in the 64-bit view")

    def test_payloads_without_the_packed_installer_end_the_run_at_once(self):
        for variant, files, reason in (
                ("launch_no_installer", [PAYLOAD_FILE] + DATA_FILES, "not launched: error 2 ("),
                ("launch_foreign_digest", [PAYLOAD_FILE, INSTALLER] + DATA_FILES,
                 "not launched: error 0x20000008 (not the installer that was packed")):
            with self.subTest(variant):
                started = time.monotonic()
                result = self.prefix.run(bootstrapper(variant), timeout=30)
                self.assertEqual(0, result.returncode, result.output)
                assert_stopped(self, result, reason)
                self.assertLess(time.monotonic() - started, 15)
                self.assertEqual(sorted(files), tree(self.prefix.work_folder))
                self.assertIsNotNone(self.prefix.cleanup_command())
                self.assertFalse(self.prefix.mutex_exists(MUTEX_GLOBAL))

    def test_installer_longer_than_one_read_is_checked_to_its_end(self):
        # The digest is read 32 KiB at a time. Two payloads of a longer
        # installer: its own digest, and one of a program that differs from
        # it only in its last byte.
        for variant, stop in (
                ("launch_long_installer", r"^installer started \(process \d+\); it ended with exit code 0$"),
                ("launch_long_installer_other_tail", r"not launched: error 0x20000008 \(not the installer that was")):
            with self.subTest(variant):
                self.assertRegex(self.run_bootstrapper(variant).stop, stop)

    def test_installer_rewritten_after_its_expansion_never_runs(self):
        # Another user rewrites the installer with another program as soon as
        # it is expanded, while a big member still expands after it.
        target = self.prefix.windows_path(os.path.join(self.prefix.work_folder, INSTALLER))
        other = "Z:" + helper("launch_waiter_gui").replace("/", "\\")
        swapper = self.prefix.start(helper("probe"), "swap", target, str(os.path.getsize(os.environ["DEMO_INSTALLER"])),
                                    other, "120000")
        self.addCleanup(self.stop, swapper)
        self.assertTrue(wait_for(lambda: "watching" in self.prefix.output_so_far(swapper)))
        process = self.start("launch_swap_window")
        self.assert_ends(process, timeout=60)
        self.assertEqual([], self.events("started"), "the other program ran")
        # The rewrite came before the size check, or before the digest, or
        # the installer was held for the check first and the rewrite refused.
        stop = self.prefix.finish(process).stop
        self.assertRegex(stop, r"installer started|not launched: error 0x20000008 \(|not launched: error 32 \(|"
                               + re.escape(INSTALLER) + r"\" is \d+ bytes on disk")


if __name__ == "__main__":
    unittest.main(verbosity=2)
