"""The clean-up command stored under the current user's RunOnce key: what is
stored, on which host, and that running it at the next logon removes the
work folder."""
import os
import stat
import unittest

from winehost import CLEANUP_VALUE, GUID, RUNONCE_KEY, RUNONCE_SUBKEY, PrefixTest, helper

REG_SZ = 1


def rd_form(folder):
    return b'cmd /Q /C rd /S /Q "' + folder.encode() + b'"\0'


def deltree_form(folder):
    return b'command /C deltree /Y "' + folder.encode() + b'"\0'


class Cleanup(PrefixTest):
    def runonce_values(self):
        """Names of the values under the RunOnce key, or None without the key."""
        result = self.prefix.reg("query", RUNONCE_KEY)
        if result.returncode != 0:
            return None
        return [line.split()[0] for line in result.output.splitlines() if "    REG_" in line]

    def logon(self):
        """What the shell does at logon: each value is read, deleted, run and
        waited for."""
        result = self.prefix.run(helper("runonce"), "logon")
        self.assertEqual(0, result.returncode, result.output)
        return result.output

    def test_stored_command_follows_the_host_and_replaces_the_last_one(self):
        self.assertIsNone(self.runonce_values(), "a fresh prefix has no HKCU RunOnce key")
        folder = self.prefix.windows_path(self.prefix.work_folder)
        # The first run creates the key; each later one overwrites the value.
        for version, expected in ((None, rd_form(folder)), ("win98", deltree_form(folder)),
                                  ("win7", rd_form(folder)), ("win10", rd_form(folder))):
            with self.subTest(version=version):
                if version:
                    self.prefix.set_windows_version(version)
                self.run_bootstrapper()
                self.assertEqual((REG_SZ, expected), self.prefix.reg_value(RUNONCE_SUBKEY, CLEANUP_VALUE))
                self.assertEqual([CLEANUP_VALUE], self.runonce_values())

    def test_next_logon_removes_the_work_folder_and_nothing_else(self):
        # A temporary folder with spaces in its path, beside folders that an
        # unquoted path would name.
        temp_unix = os.path.join(self.prefix.path, "drive_c", "temp dir")
        temp = self.prefix.windows_path(temp_unix)
        for var in ("TMP", "TEMP"):
            self.prefix.reg("add", "HKCU\\Environment", "/v", var, "/d", temp, "/f")
        bystanders = [os.path.join(self.prefix.path, "drive_c", "temp", "keep.txt"),
                      os.path.join(temp_unix, GUID + " copy", "keep.txt")]
        for path in bystanders:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write("not the work folder")
        work = os.path.join(temp_unix, GUID)

        self.run_bootstrapper()
        nested = os.path.join(work, "InstData", "deeper")
        os.makedirs(nested)
        read_only = os.path.join(nested, "read-only.txt")
        with open(read_only, "w") as f:
            f.write("left behind")
        os.chmod(read_only, stat.S_IRUSR)
        self.assertEqual((REG_SZ, rd_form(temp + "\\" + GUID)),
                         self.prefix.reg_value(RUNONCE_SUBKEY, CLEANUP_VALUE))

        output = self.logon()
        self.assertIn("exit=0", output)
        self.assertFalse(os.path.exists(work), output)
        for path in bystanders:
            self.assertTrue(os.path.exists(path), path)
        self.assertEqual([], self.runonce_values(), "the shell takes the value out before running it")

    def test_registry_write_failing_ends_the_run_before_the_folder(self):
        result = self.prefix.run(helper("runonce"), "block")
        self.assertEqual(0, result.returncode, result.output)
        self.run_bootstrapper()
        self.assertFalse(os.path.exists(self.prefix.work_folder))
        self.assertIsNone(self.prefix.cleanup_command())


if __name__ == "__main__":
    unittest.main(verbosity=2)
