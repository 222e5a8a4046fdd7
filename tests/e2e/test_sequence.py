"""The run from start to exit: single instance, host-dependent mutex name,
work folder handling, and exit code 0 on every road."""
import contextlib
import os
import shutil
import unittest

from winehost import (DEMO_MARKER, GUID, INSTALLER, MUTEX_GLOBAL, MUTEX_LOCAL, PAYLOAD_FILE, PrefixTest,
                      assert_stopped, helper, read, tree, wait_for)


class Sequence(PrefixTest):
    def test_full_run_on_fresh_prefix(self):
        self.assertFalse(os.path.exists(self.prefix.work_folder))
        self.run_bootstrapper()
        files = tree(self.prefix.work_folder)
        for name in (PAYLOAD_FILE, INSTALLER, DEMO_MARKER, "InstData", "language"):
            self.assertIn(name, files)
        self.assertIsNotNone(self.prefix.cleanup_command())

    @contextlib.contextmanager
    def holding(self, name, *kind):
        """A running copy's mutex, as another program holds it; or, with
        "event", an object of another type that takes the name."""
        holder = self.prefix.start(helper("holdmutex"), name, "60000", *kind)
        try:
            self.assertTrue(wait_for(lambda: "holding" in self.prefix.output_so_far(holder)), f"{name} was not taken")
            yield
        finally:
            holder.kill()
            self.prefix.finish(holder)

    def assert_stopped_at_mutex(self, reason="another copy is running (mutex"):
        assert_stopped(self, self.run_bootstrapper(), reason)
        self.assertFalse(os.path.exists(self.prefix.work_folder))
        self.assertIsNone(self.prefix.cleanup_command())

    def assert_ran(self):
        shutil.rmtree(self.prefix.work_folder, ignore_errors=True)
        self.run_bootstrapper()
        self.assertTrue(os.path.exists(os.path.join(self.prefix.work_folder, DEMO_MARKER)))

    def test_second_copy_stops_before_touching_registry_or_disk(self):
        # A copy already running holds the global name on every NT 5+ host.
        for version in ("win7", "win10", "winxp", "win2k"):
            with self.subTest(version=version), self.holding(MUTEX_GLOBAL):
                self.prefix.set_windows_version(version)
                self.assert_stopped_at_mutex()

    def test_nt4_host_uses_the_local_name(self):
        self.prefix.set_windows_version("nt40")
        with self.holding(MUTEX_LOCAL):
            self.assert_stopped_at_mutex()
        # The global name alone does not stop it there.
        with self.holding(MUTEX_GLOBAL):
            self.assert_ran()

    def test_name_taken_by_another_kind_of_object_stops_the_run(self):
        with self.holding(MUTEX_GLOBAL, "event"):
            self.assert_stopped_at_mutex(f'single-instance mutex "{MUTEX_GLOBAL}" cannot be created: error 6 (')

    def test_other_hosts_ignore_the_local_name(self):
        for version in ("win98", "win2k", "win7"):
            with self.subTest(version=version), self.holding(MUTEX_LOCAL):
                self.prefix.set_windows_version(version)
                self.assert_ran()

    def test_work_folder_left_by_an_earlier_run_is_reused_and_starts_empty(self):
        work = self.prefix.work_folder
        os.makedirs(os.path.join(work, "stale", "deeper"))
        for name in ("extra.dll", os.path.join("stale", "deeper", "old.txt")):
            with open(os.path.join(work, name), "w") as f:
                f.write("from an earlier run")
        self.run_bootstrapper()
        files = tree(work)
        self.assertIn(DEMO_MARKER, files)
        self.assertEqual([], [name for name in ("extra.dll", "stale") if name in files])

    def test_temporary_folder_reached_through_a_link_is_used_where_it_leads(self):
        # As a profile redirected elsewhere, or a RAM disk mounted there.
        drive = os.path.join(self.prefix.path, "drive_c")
        real = os.path.join(drive, "ram-disk", "temp")
        os.makedirs(real)
        os.symlink(real, os.path.join(drive, "linked-temp"))
        for var in ("TMP", "TEMP"):
            self.prefix.reg("add", "HKCU\\Environment", "/v", var, "/d", "C:\\linked-temp", "/f")
        self.run_bootstrapper()
        self.assertTrue(os.path.exists(os.path.join(real, GUID, DEMO_MARKER)))

    def test_temporary_folder_comes_from_GetTempPath2A_where_kernel32_has_it(self):
        # Windows 11 gives a SYSTEM process its own folder there; Wine has no
        # such function, so the seam stands in for it, naming another folder.
        system_temp = os.path.join(self.prefix.path, "drive_c", "windows", "SystemTemp")
        os.makedirs(system_temp)
        self.prefix.env["WEB_INSTALLER_TEST_SEAM"] = "temp-path-2:C:\\windows\\SystemTemp\\"
        self.run_bootstrapper("seams")
        self.assertTrue(os.path.exists(os.path.join(system_temp, GUID, DEMO_MARKER)))
        self.assertFalse(os.path.exists(self.prefix.work_folder))
        self.assertIn(b"C:\\windows\\SystemTemp\\" + GUID.encode(), self.prefix.cleanup_command())

    def test_temporary_folder_named_by_its_short_form_is_used(self):
        # As TEMP is for an account whose name is longer than eight letters.
        real = os.path.join(self.prefix.path, "drive_c", "users", "Administrator of this PC", "Temp")
        os.makedirs(real)
        found = self.prefix.probe("short", self.prefix.windows_path(real))
        self.assertEqual(0, found.returncode, found.output)
        short = found.output.strip()
        self.assertIn("~", short)
        for var in ("TMP", "TEMP"):
            self.prefix.reg("add", "HKCU\\Environment", "/v", var, "/d", short, "/f")
        self.run_bootstrapper()
        self.assertTrue(os.path.exists(os.path.join(real, GUID, DEMO_MARKER)))
        self.assertIn(short.encode(), self.prefix.cleanup_command())

    def test_file_standing_at_the_work_folder_path_ends_the_run(self):
        os.makedirs(self.prefix.temp_dir, exist_ok=True)
        with open(self.prefix.work_folder, "wb") as f:
            f.write(b"not a folder")
        assert_stopped(self, self.run_bootstrapper(), "refused; stopped before the grant: error 0x20000002 (not a folder)")
        self.assertEqual(b"not a folder", read(self.prefix.work_folder))
        # Registration comes before the folder, so the value is there.
        self.assertIsNotNone(self.prefix.cleanup_command())

    def test_temporary_folder_that_does_not_exist_ends_the_run_saying_so(self):
        # As a drive mapped only in the unelevated session looks elevated.
        for temp in ("C:\\missing-temp", "C:\\missing\\deeper", "Q:\\Temp"):
            with self.subTest(temp=temp):
                for var in ("TMP", "TEMP"):
                    self.prefix.reg("add", "HKCU\\Environment", "/v", var, "/d", temp, "/f")
                assert_stopped(self, self.run_bootstrapper(), f'temporary folder "{temp}\\" does not exist: error 3 (')
                self.assertFalse(os.path.exists(os.path.join(self.prefix.path, "drive_c", "missing-temp")))
                self.assertFalse(os.path.exists(os.path.join(self.prefix.path, "drive_c", "missing")))

    def test_temporary_folder_too_long_for_the_buffer_ends_the_run(self):
        long_temp = "C:\\" + "\\".join(["d" * 60] * 5)  # 308 characters
        for var in ("TMP", "TEMP"):
            self.prefix.reg("add", "HKCU\\Environment", "/v", var, "/d", long_temp, "/f")
        assert_stopped(self, self.run_bootstrapper(), "temporary folder path cannot be read")
        self.assertIsNone(self.prefix.cleanup_command())
        self.assertFalse(os.path.exists(os.path.join(self.prefix.path, "drive_c", "d" * 60)))


if __name__ == "__main__":
    unittest.main(verbosity=2)
