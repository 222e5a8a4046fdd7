"""The payload written to the work folder and expanded there: complete and
byte-identical for good cabinets, whatever the folder depth, the characters
in the names or the code page; and for bad cabinets a run that ends before
the installer is launched, with nothing written outside the work folder."""
import os
import shutil
import stat
import subprocess
import unittest

import set_extraction as cabs
from winehost import (DEMO_MARKER, GUID, INSTALLER, PAYLOAD_FILE, PrefixTest, assert_stopped, bootstrapper, env,
                      helper, read, tree, unprivileged_user, wait_for)


class DemoContext:
    """The build context the test cabinets were made with."""
    demo_installer = env("DEMO_INSTALLER")


def expected_files(names):
    """name -> bytes for the demo installer and the given members."""
    files = {INSTALLER: read(env("DEMO_INSTALLER"))}
    files.update({n: cabs.content(n) for n in names})
    return files


def folders_of(paths):
    found = set()
    for p in paths:
        parts = p.split(os.sep)[:-1]
        for i in range(1, len(parts) + 1):
            found.add(os.sep.join(parts[:i]))
    return found


class ExpansionTest(PrefixTest):
    def outside_work_folder(self):
        """Every path on drive C: except those in the work folder."""
        drive = os.path.join(self.prefix.path, "drive_c")
        work = os.path.relpath(self.prefix.work_folder, drive)
        return {p for p in tree(drive) if p != work and not p.startswith(work + os.sep)}

    def expand(self, variant=None, before_run=None):
        """Runs the bootstrapper in a fresh work folder; returns the folder's
        tree. Anything appearing outside the work folder fails the test."""
        work = self.prefix.work_folder
        if os.path.islink(work):
            os.remove(work)
        shutil.rmtree(work, ignore_errors=True)
        if before_run:
            os.makedirs(work)
            before_run(work)
        return self.rerun(variant)

    def rerun(self, variant=None):
        """Runs the bootstrapper on whatever the work folder holds now, as a
        second run before the next logon would; returns the folder's tree."""
        work = self.prefix.work_folder
        outside = self.outside_work_folder()
        self.result = self.prefix.run(bootstrapper(variant))
        self.assertEqual(0, self.result.returncode, self.result.output)
        self.assertEqual(set(), self.outside_work_folder() - outside, "written outside the work folder")
        return tree(work)

    def assert_stopped(self, reason):
        """The last run ended before the launch, for `reason`."""
        assert_stopped(self, self.result, reason)

    def assert_expanded(self, files, found, payload):
        """The work folder holds exactly `files` (relative path -> bytes),
        their folders, the payload file and the launched installer's marker."""
        work = self.prefix.work_folder
        expected = set(files) | folders_of(files) | {PAYLOAD_FILE, DEMO_MARKER}
        self.assertEqual(sorted(expected), found)
        for name, data in files.items():
            self.assertEqual(data, read(os.path.join(work, name)), name)
        self.assertEqual(read(payload), read(os.path.join(work, PAYLOAD_FILE)))


def variant_payload(variant):
    return os.path.join(env("VARIANTS"), variant, "payload", "payload.cab")


def unix(name):
    return name.replace("\\", os.sep)


class GoodPayloads(ExpansionTest):
    def test_demo_payload_expands_completely(self):
        found = self.expand()
        files = demo_files()
        self.assertGreater(len(files), 5)
        self.assert_expanded(files, found, env("WEB_INSTALLER_PAYLOAD_CAB"))

    def test_stale_longer_payload_file_is_overwritten_from_the_start(self):
        payload = read(env("WEB_INSTALLER_PAYLOAD_CAB"))

        def plant(work):
            with open(os.path.join(work, PAYLOAD_FILE), "wb") as f:
                f.write(b"\xee" * (len(payload) + 4096))
        self.expand(before_run=plant)
        self.assertEqual(payload, read(os.path.join(self.prefix.work_folder, PAYLOAD_FILE)))
        self.assertTrue(os.path.exists(os.path.join(self.prefix.work_folder, DEMO_MARKER)))

    def test_members_at_every_folder_depth_and_with_odd_names(self):
        for variant, names in (("extract_deep", cabs.DEEP), ("extract_odd_names", cabs.ODD)):
            with self.subTest(variant=variant):
                found = self.expand(variant)
                files = {unix(n): data for n, data in expected_files(names).items()}
                self.assert_expanded(files, found, variant_payload(variant))

    def test_volumes_the_test_platform_cannot_show_get_the_run(self):
        # A RAM disk or a mounted image without a mount-manager entry has no
        # DOS volume name; FAT and exFAT store no security, and show every
        # file owned by Everyone.
        for seam, line in (("volume:unregistered", None),
                           ("volume:no-acls", "is on a volume that stores no security; its owner is not checked")):
            with self.subTest(seam):
                with self.prefix.setting(WEB_INSTALLER_TEST_SEAM=seam):
                    found = self.expand("seams")
                self.assertIn(DEMO_MARKER, found, self.result.reports)
                self.assert_expanded(demo_files(), found, env("WEB_INSTALLER_PAYLOAD_CAB"))
                said = [report for report in self.result.reports if line and line in report]
                self.assertEqual(1 if line else 0, len(said), self.result.reports)

    def test_uncompressed_cabinet_with_block_checksums(self):
        # The well-formed counterpart of the damaged cabinets below.
        found = self.expand("extract_stored")
        files = {unix(m.name.decode()): m.data for m in cabs.with_big(DemoContext)}
        self.assert_expanded(files, found, variant_payload("extract_stored"))


def demo_files():
    """Relative path -> bytes of every member of the demo payload."""
    source = env("DEMO_PAYLOAD_DIR")
    files = {INSTALLER: read(env("DEMO_INSTALLER"))}
    for name in tree(source):
        if os.path.isfile(os.path.join(source, name)):
            files[name] = read(os.path.join(source, name))
    return files


def leave_read_only(path):
    os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)


class Reruns(ExpansionTest):
    """A second run before the next logon finds the first run's work folder:
    whatever it holds, the payload is expanded afresh or not launched."""

    def assert_rerun_expands(self, variant=None, files=None):
        os.remove(os.path.join(self.prefix.work_folder, DEMO_MARKER))
        files = files or demo_files()
        self.assert_expanded(files, self.rerun(variant), variant_payload(variant) if variant
                             else env("WEB_INSTALLER_PAYLOAD_CAB"))

    def test_stale_and_read_only_leftovers_are_replaced(self):
        self.expand()
        work = self.prefix.work_folder
        with open(os.path.join(work, "InstData", "setup.ini"), "wb") as f:
            f.write(b"left by an older version\r\n" * 200)
        for name in (os.path.join("language", "languages.txt"), PAYLOAD_FILE, INSTALLER):
            leave_read_only(os.path.join(work, name))
        self.assert_rerun_expands()

    def test_member_held_open_by_another_program_stops_the_run_until_released(self):
        self.expand()
        member = os.path.join(self.prefix.work_folder, "InstData", "setup.ini")
        holder = self.prefix.start(helper("holdmutex"), self.prefix.windows_path(member), "60000", "file")
        try:
            self.assertTrue(wait_for(lambda: "holding" in self.prefix.output_so_far(holder)))
            os.remove(os.path.join(self.prefix.work_folder, DEMO_MARKER))
            self.assertNotIn(DEMO_MARKER, self.rerun())
            self.assert_stopped('setup.ini" in the work folder cannot be removed: error 32 (')
        finally:
            holder.kill()
            self.prefix.finish(holder)
        open(os.path.join(self.prefix.work_folder, DEMO_MARKER), "w").close()
        self.assert_rerun_expands()

    def test_member_held_by_a_reader_sharing_everything_is_waited_for_a_moment(self):
        # A scanner or an indexer that shares delete access: the name stays
        # until it closes the file. The hold lasts from when the run begins
        # to empty the folder; the short one leaves the second of retries a
        # wide margin, which an emulated, busy machine needs. Meanwhile every
        # open of that name is refused, as Windows refuses it (Wine opens it).
        member = os.path.join(self.prefix.work_folder, "InstData", "setup.ini")
        for ms, goes_through in ((100, True), (5000, False)):
            with self.subTest(ms=ms):
                self.expand("seams")
                os.remove(os.path.join(self.prefix.work_folder, DEMO_MARKER))
                holder = self.prefix.start(helper("probe"), "hold", self.prefix.windows_path(member),
                                           "WebInstallerTestSeam.emptying", str(ms))
                try:
                    self.assertTrue(wait_for(lambda: "holding" in self.prefix.output_so_far(holder)))
                    with self.prefix.setting(WEB_INSTALLER_TEST_SEAM="emptying:signal;pending:access-denied"):
                        found = self.rerun("seams")
                    self.assertIn("released", self.prefix.finish(holder).output)
                finally:
                    holder.kill()
                if goes_through:
                    self.assert_expanded(demo_files(), found, env("WEB_INSTALLER_PAYLOAD_CAB"))
                else:
                    self.assertNotIn(DEMO_MARKER, found)
                    self.assert_stopped('setup.ini" in the work folder cannot be removed: error 0x2000000F (deleted, '
                                        'but another program still holds it open')

    def test_full_disk_launches_nothing_and_the_rerun_with_space_goes_through(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small file system needs root")
        variant = "extract_stored"
        cabinet = os.path.getsize(variant_payload(variant))
        installer_size = os.path.getsize(env("DEMO_INSTALLER"))
        temp = self.prefix.temp_dir
        page = 4096
        # Too small for the cabinet; then room for the cabinet and the
        # installer, but not for the big member after it.
        for size, cabinet_fits, reason in (
                (cabinet // 2, False, 'CDInst.cab" cannot be written: error '),
                (cabinet + installer_size + 16 * page, True, "big.dat\" is ")):
            with self.subTest(cabinet_fits=cabinet_fits):
                subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size // page * page}", "tmpfs", temp], check=True)
                try:
                    found = self.expand(variant)
                    self.assertNotIn(DEMO_MARKER, found)
                    self.assert_stopped(reason)
                    written = read(os.path.join(self.prefix.work_folder, PAYLOAD_FILE))
                    self.assertEqual(cabinet_fits, written == read(variant_payload(variant)))
                    subprocess.run(["mount", "-o", "remount,size=64m", temp], check=True)
                    open(os.path.join(self.prefix.work_folder, DEMO_MARKER), "w").close()
                    files = {unix(m.name.decode()): m.data for m in cabs.with_big(DemoContext)}
                    self.assert_rerun_expands(variant, files)
                finally:
                    subprocess.run(["umount", "-l", temp], check=True)

    def test_links_are_never_followed(self):
        work = self.prefix.work_folder
        outside = os.path.join(self.prefix.path, "drive_c", "outside")
        kept = os.path.join(outside, "kept.txt")
        os.makedirs(outside)
        self.addCleanup(shutil.rmtree, outside)
        with open(kept, "wb") as f:
            f.write(b"not the bootstrapper's\r\n")
        os.chmod(outside, 0o755)
        os.chmod(kept, 0o644)

        def state():
            return [(name, stat.S_IMODE(os.lstat(os.path.join(outside, name)).st_mode),
                     read(os.path.join(outside, name))) for name in tree(outside)] + [
                stat.S_IMODE(os.stat(outside).st_mode)]
        before = state()

        def link_at(name, target):
            def plant(folder):
                os.makedirs(os.path.join(folder, "InstData"))
                os.symlink(target, os.path.join(folder, name))
            return plant
        # Wine follows a link even when asked not to, and shows it only
        # through where it leads: such a leftover cannot be removed as a
        # link, and ends the run.
        elsewhere = "in the work folder cannot be removed: error 0x20000004 (its final path is not where its path says)"
        cases = {
            "member folder": (link_at("InstData" + os.sep + "Setup", outside), "Setup\" " + elsewhere),
            "member file": (link_at(os.path.join("InstData", "setup.ini"), kept), "setup.ini\" " + elsewhere),
            "payload file": (link_at(PAYLOAD_FILE, kept), PAYLOAD_FILE + "\" " + elsewhere),
        }
        for case, (plant, reason) in cases.items():
            with self.subTest(case):
                self.assertNotIn(DEMO_MARKER, self.expand(before_run=plant))
                self.assert_stopped(reason)
                self.assertEqual(before, state())
        with self.subTest("work folder"):
            shutil.rmtree(work, ignore_errors=True)
            os.symlink(outside, work)
            self.addCleanup(os.remove, work)
            self.rerun()
            self.assert_stopped("refused; stopped before the grant: error 0x20000001 (a link or junction)")
            self.assertTrue(os.path.islink(work))
            self.assertEqual(before, state())


@unittest.skipUnless(os.geteuid() == 0, "only root can run a test as another user")
class UnprivilegedUser(ExpansionTest):
    user = unprivileged_user()

    def test_read_only_leftover_is_replaced(self):
        self.expand()
        for name in (os.path.join("InstData", "setup.ini"), PAYLOAD_FILE):
            leave_read_only(os.path.join(self.prefix.work_folder, name))
        os.remove(os.path.join(self.prefix.work_folder, DEMO_MARKER))
        self.assert_expanded(demo_files(), self.rerun(), env("WEB_INSTALLER_PAYLOAD_CAB"))

    def test_read_only_file_outside_hard_linked_at_a_member_is_left_alone(self):
        # Anyone can plant the link, and clearing the read-only attribute of
        # one name clears it for the user's file outside.
        outside = os.path.join(self.prefix.path, "drive_c", "outside.txt")
        with open(outside, "wb") as f:
            f.write(b"not the bootstrapper's\r\n")
        self.addCleanup(os.remove, outside)
        shutil.chown(outside, self.user)
        leave_read_only(outside)
        self.expand()
        member = os.path.join(self.prefix.work_folder, "InstData", "setup.ini")
        os.remove(member)
        os.link(outside, member)
        os.remove(os.path.join(self.prefix.work_folder, DEMO_MARKER))
        self.assertNotIn(DEMO_MARKER, self.rerun())
        self.assert_stopped('setup.ini" in the work folder cannot be removed: error 0x20000006 (')
        self.assertEqual(0o444, stat.S_IMODE(os.stat(outside).st_mode))
        self.assertEqual(b"not the bootstrapper's\r\n", read(outside))


class BadPayloads(ExpansionTest):
    def assert_not_launched(self, variant, found):
        self.assertNotIn(DEMO_MARKER, found)
        self.assertEqual(read(variant_payload(variant)), read(os.path.join(self.prefix.work_folder, PAYLOAD_FILE)))

    def test_damaged_cabinets_end_the_run(self):
        unreadable = 'CDInst.cab" cannot be expanded'
        short = 'big.dat" is '
        for variant, reason in (("extract_empty", unreadable), ("extract_not_a_cabinet", unreadable),
                                ("extract_truncated", short), ("extract_corrupt_mszip", short),
                                ("extract_corrupt_stored", short), ("extract_bad_checksum", short),
                                ("extract_next_cabinet", 'next cabinet "CDInst2.cab" not expanded')):
            with self.subTest(variant=variant):
                self.assert_not_launched(variant, self.expand(variant))
                self.assert_stopped(reason)

    def test_unsafe_and_over_long_member_names_are_refused(self):
        reasons = {variant: reason for variant, (_, reason) in cabs.UNSAFE.items()}
        reasons["extract_long_name"] = "target path longer than 259 bytes for member"
        for variant, reason in sorted(reasons.items()):
            with self.subTest(variant=variant):
                found = self.expand(variant)
                self.assert_not_launched(variant, found)
                self.assert_stopped(reason)
                # The installer before it is expanded; the refused member is
                # not written and gets no folder.
                self.assertEqual([PAYLOAD_FILE, INSTALLER], found)

    def test_set_is_refused_even_with_its_next_cabinet_beside_it(self):
        first, second = cabs.next_cabinet_set(DemoContext)

        def plant(work):
            with open(os.path.join(work, "CDInst2.cab"), "wb") as f:
                f.write(second)
        found = self.expand("extract_next_cabinet", before_run=plant)
        self.assertEqual(first, read(os.path.join(self.prefix.work_folder, PAYLOAD_FILE)))
        self.assertNotIn(DEMO_MARKER, found)
        self.assert_stopped('next cabinet "CDInst2.cab" not expanded')

    def test_payload_file_changed_around_its_write_ends_the_run(self):
        # Another program plants a file where the cabinet is about to be
        # created, or lengthens the cabinet between the write and the check:
        # it stays readable, so only the check can stop the run.
        self.assertIn(DEMO_MARKER, self.expand("seams"))
        for seam, planted, reason in (
                ("payload-creating:plant", b"planted before the write", 'CDInst.cab" cannot be created: error 80 ('),
                ("payload-written:append", None, 'CDInst.cab" is not as written: error 0x20000007 (')):
            with self.subTest(seam):
                with self.prefix.setting(WEB_INSTALLER_TEST_SEAM=seam):
                    self.assertEqual([PAYLOAD_FILE], self.expand("seams"))
                self.assert_stopped(reason)
                if planted:
                    self.assertEqual(planted, read(os.path.join(self.prefix.work_folder, PAYLOAD_FILE)))

    def test_objects_elsewhere_than_their_paths_say_or_owned_by_another_account_end_the_run(self):
        # What Wine cannot show: a link or junction followed silently, seen
        # only in the final path of what was opened; a work folder that
        # another account took ownership of. Refused work folders are never
        # granted to everyone.
        elsewhere = "error 0x20000004 (its final path is not where its path says)"
        work_refused = f'{GUID}" refused; stopped before the grant: '
        for seam, reason in (
                ("final-path:Temp", work_refused + elsewhere),
                (f"final-path:{GUID}", work_refused + elsewhere),
                ("owner:other", work_refused + "error 0x20000005 (owned by another account"),
                ("final-path:CDInst.cab", f'{PAYLOAD_FILE}" is not as written: ' + elsewhere),
                ("final-path:InstData", 'member "InstData\\Common\\Redist\\redist.inf" not expanded: ' + elsewhere),
                (f"final-path:{INSTALLER}", f'{INSTALLER}" not launched: ' + elsewhere)):
            with self.subTest(seam):
                with self.prefix.setting(WEB_INSTALLER_TEST_SEAM=seam):
                    found = self.expand("seams", before_run=lambda work: os.chmod(work, 0o700))
                self.assertNotIn(DEMO_MARKER, found)
                self.assert_stopped(reason)
                if reason.startswith(work_refused) and os.path.isdir(self.prefix.work_folder):
                    self.assertEqual(0, stat.S_IMODE(os.stat(self.prefix.work_folder).st_mode) & 0o007)
        # Where every account may create names (SYSTEM's temporary folder on
        # older Windows), a folder set aside there by another one is left
        # alone, and none of its content is touched.
        aside = os.path.join(self.prefix.temp_dir, GUID + ".0000000100000001")
        os.makedirs(aside)
        with open(os.path.join(aside, "kept.txt"), "wb") as f:
            f.write(b"another account's\r\n")
        with self.prefix.setting(WEB_INSTALLER_TEST_SEAM="owner:other"):
            self.expand("seams")
        self.assertEqual(["kept.txt"], os.listdir(aside))


class JapaneseHost(ExpansionTest):
    locale = "ja_JP.UTF-8"

    def test_cp932_names_with_backslash_trail_bytes(self):
        found = self.expand("extract_cp932")
        # Wine stores the names it gets in the ANSI code page as UTF-8.
        files = {}
        for name, data in expected_files(cabs.CP932).items():
            name = name if isinstance(name, bytes) else name.encode("ascii")
            files[unix(name.decode("cp932"))] = data
        self.assertIn(os.path.join("ソフト", "表.txt"), files)
        self.assert_expanded(files, found, variant_payload("extract_cp932"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
