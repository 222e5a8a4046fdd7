"""The payload tools on good and broken cabinets: packing a folder, and the
check that stops the build, one broken cabinet for each rule."""
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

import cabfile
import cabwriter
import check_payload
import nsis_installer
import set_extraction
import set_toolkit
from product_names import INSTALLER
from support import SOURCE_DIR, BuildError, build

TOOLS = os.path.join(SOURCE_DIR, "tools")

# C:\Users\<20 characters>\AppData\Local\Temp\ + GUID folder + backslash.
NAME_BUDGET = 259 - 49 - 38 - 1


def write_tree(root, files):
    for name, data in files.items():
        path = os.path.join(root, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def pack(root, out, *args):
    return subprocess.run([sys.executable, os.path.join(TOOLS, "pack_payload.py"), root, "--out", out, *args],
                          capture_output=True, text=True)


class CabinetCase(unittest.TestCase):
    packed = {}

    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.addCleanup(self.work.cleanup)
        self.count = 0

    def path(self, name):
        return os.path.join(self.work.name, name)

    def cabinet(self, files=None, multi_block=False):
        """Bytes of a gcab cabinet packed from `files`, the installer included."""
        files = dict(files or {"InstData\\setup.ini": b"[Setup]\r\n"})
        key = (tuple(sorted(files.items())), multi_block)
        if key in CabinetCase.packed:
            return CabinetCase.packed[key]
        files.setdefault(INSTALLER, os.urandom(70000) if multi_block else b"MZ installer")
        self.count += 1
        root = self.path(f"tree{self.count}")
        write_tree(root, files)
        out = self.path(f"packed{self.count}.cab")
        result = pack(root, out)
        self.assertEqual(0, result.returncode, result.stderr)
        with open(out, "rb") as f:
            CabinetCase.packed[key] = f.read()
        return CabinetCase.packed[key]

    def renamed(self, data, renames):
        """`data` with members renamed: {old name: new name bytes or (bytes, attribs)}."""
        cabinet = cabfile.read(data)
        changes = {}
        for index, member in enumerate(cabinet.members):
            new = renames.get(member.name.decode("ascii", "replace"))
            if new is not None:
                changes[index] = new if isinstance(new, tuple) else (new, member.attribs)
        self.assertEqual(len(renames), len(changes))
        return cabfile.with_names(cabinet, changes)

    def check(self, data, *args, env=None):
        self.count += 1
        path = self.path(f"check{self.count}.cab")
        with open(path, "wb") as f:
            f.write(data)
        result = subprocess.run([sys.executable, os.path.join(TOOLS, "check_payload.py"), path, *args],
                                capture_output=True, text=True, env=env)
        # One line for each fault, whatever the names hold.
        self.assertEqual([], [line for line in result.stderr.splitlines() if not line.startswith("check_payload: ")])
        return result

    def assertFault(self, data, rule, member=None, *args):
        result = self.check(data, *args)
        self.assertEqual(1, result.returncode, result.stdout + result.stderr)
        lines = [line for line in result.stderr.splitlines() if f": {rule}: " in line]
        self.assertTrue(lines, f"no {rule!r} fault in:\n{result.stderr}")
        if member is not None:
            self.assertTrue(any(f'member "{member}"' in line for line in lines), result.stderr)
        return result.stderr


class Packing(CabinetCase):
    def test_same_folder_anywhere_gives_the_same_bytes_installer_first(self):
        files = {"language\\ja\\strings.txt": b"ja", "InstData\\b.txt": b"b", "InstData\\a.txt": b"a",
                 INSTALLER: b"MZ"}
        outputs = []
        for where in ("one", "a/much/longer/second/place"):
            root = self.path(where)
            write_tree(root, files)
            os.utime(os.path.join(root, "InstData", "a.txt"), (1e9, 1e9))
            out = self.path(where.replace("/", "_") + ".cab")
            self.assertEqual(0, pack(root, out).returncode)
            with open(out, "rb") as f:
                outputs.append(f.read())
        self.assertEqual(outputs[0], outputs[1])
        names = [m.name for m in cabfile.read(outputs[0]).members]
        self.assertEqual([INSTALLER.encode(), b"InstData\\a.txt", b"InstData\\b.txt", b"language\\ja\\strings.txt"],
                         names)

    def test_names_outside_ascii_are_stored_in_the_code_page(self):
        # The second character of "表" has the backslash code as its trail byte in cp932.
        data = self.cabinet({"表示\\データ.txt": b"x" * 1000})
        member = cabfile.read(data).members[1]
        self.assertEqual("表示\\データ.txt".encode("cp932"), member.name)
        self.assertFalse(member.attribs & cabfile.NAME_IS_UTF)
        result = self.check(data)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertEqual(0, subprocess.run(["cabextract", "-t", "-q", self.path(f"check{self.count}.cab")],
                                            capture_output=True).returncode)

    def test_a_name_the_code_page_cannot_hold_stops_packing(self):
        root = self.path("tree")
        write_tree(root, {INSTALLER: b"MZ", "caf\u00e9\u2603.txt": b"x"})
        result = pack(root, self.path("out.cab"))
        self.assertNotEqual(0, result.returncode)
        self.assertIn("code page 932", result.stderr)

    def test_a_folder_without_the_installer_stops_packing(self):
        root = self.path("tree")
        write_tree(root, {"setup.exe": b"MZ"})
        result = pack(root, self.path("out.cab"))
        self.assertNotEqual(0, result.returncode)
        self.assertIn(INSTALLER, result.stderr)


class GoodCabinets(CabinetCase):
    def test_a_multi_block_cabinet_passes_and_the_margin_is_told(self):
        result = self.check(self.cabinet({"InstData\\Common\\runtime.dat": os.urandom(100000)}, multi_block=True))
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertIn('longest target path is 115 bytes, for "InstData\\Common\\runtime.dat"', result.stdout)
        self.assertIn("144 bytes to spare", result.stdout)

    def test_the_longest_name_that_fits_passes_with_a_warning(self):
        name = "d\\" + "n" * (NAME_BUDGET - 2)
        data = self.renamed(self.cabinet(), {"InstData\\setup.ini": name.encode()})
        result = self.check(data)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertIn("warning: longest target path is 259 bytes", result.stdout)

    def test_a_utf8_flagged_ascii_name_passes(self):
        cabinet = cabfile.read(self.cabinet())
        data = cabfile.with_names(cabinet, {1: (b"InstData\\setup.ini", cabinet.members[1].attribs | 0x80)})
        self.assertEqual(0, self.check(data).returncode)


# A small installer importing version.dll, which is not a KnownDLL; the
# marker reserves room for a load configuration (GNU ld writes none). It
# embeds no manifest.
PLANTABLE_SOURCE = r"""
#include <windows.h>
__attribute__((used)) const char load_config[72] = "LOAD CONFIGURATION";
int WINAPI WinMain(HINSTANCE i, HINSTANCE p, LPSTR c, int s) { return GetFileVersionInfoSizeA(c, NULL); }
"""
COMMON_CONTROLS = (b'<dependency><dependentAssembly><assemblyIdentity type="win32" '
                   b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture="*"%s '
                   b'language="*"/></dependentAssembly></dependency>')
MICROSOFT_KEY = b' publicKeyToken="6595b64144ccf1df"'
# Manifests for an installer that imports comctl32.dll, and whether they bind it to the system's copy.
MANIFESTS = {
    "BOM, blank lines, prefixed namespace": (
        b'\xef\xbb\xbf\r\n  <?xml version="1.0" encoding="UTF-8"?><asmv1:assembly '
        b'xmlns:asmv1="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">' +
        (COMMON_CONTROLS % MICROSOFT_KEY).replace(b"<", b"<asmv1:").replace(b"<asmv1:/", b"</asmv1:") +
        b"</asmv1:assembly>\r\n\0\0", True),
    "UTF-16, name in other case": (
        ('<?xml version="1.0" encoding="UTF-16"?><assembly xmlns="urn:schemas-microsoft-com:asm.v1" '
         'manifestVersion="1.0">' + (COMMON_CONTROLS % MICROSOFT_KEY).decode().replace("Microsoft", "MICROSOFT") +
         "</assembly>").encode("utf-16"), True),
    "private assembly (no public key)": (
        b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">' + COMMON_CONTROLS % b"" +
        b"</assembly>", False),
    "dependency outside the namespace": (
        b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">' +
        (COMMON_CONTROLS % MICROSOFT_KEY).replace(b"<dependency>", b"<dependency xmlns=''>") + b"</assembly>", False),
}
BROKEN_MANIFESTS = {
    "not well-formed": b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1"><dependency></assembly>',
    "no namespace": b"<assembly>" + COMMON_CONTROLS % MICROSOFT_KEY + b"</assembly>",
}


def with_dependent_load_flags(exe, flags):
    """`exe` with a load configuration whose DependentLoadFlags are `flags`."""
    import pefile
    pe = pefile.PE(data=exe)
    at = exe.find(b"LOAD CONFIGURATION")
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"]]
    directory.VirtualAddress, directory.Size = pe.get_rva_from_offset(at), 72
    pe.set_bytes_at_offset(at, struct.pack("<I50xH16x", 72, flags))
    return bytes(pe.write())


def with_manifest(exe, manifest, resource_id=1):
    """`exe` with `manifest` in place of its embedded one, which it must fit
    into, under the ID `resource_id`."""
    import pefile
    pe = pefile.PE(data=exe)
    kind = next(entry for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries if entry.id == 24)
    kind.directory.entries[0].struct.Name = resource_id
    data = kind.directory.entries[0].directory.entries[0].data.struct
    assert len(manifest) <= data.Size
    pe.set_bytes_at_rva(data.OffsetToData, manifest)
    data.Size = len(manifest)
    return bytes(pe.write())


class InstallerChecks(CabinetCase):
    def test_digest_is_the_installer_as_cabextract_reads_it_whatever_the_compression(self):
        installer = os.urandom(20001)
        members = [cabwriter.Member(INSTALLER, installer), cabwriter.Member("InstData\\setup.ini", b"[Setup]\r\n")]
        for kind, data in (("MSZIP", self.cabinet({INSTALLER: installer})), ("stored", cabwriter.build(members)),
                           ("LZX", cabwriter.build(members, lzx=True))):
            with self.subTest(kind):
                digest = self.path(f"{kind}.sha256")
                result = self.check(data, "--digest", digest)
                self.assertEqual(0, result.returncode, result.stderr)
                with open(digest, "rb") as f:
                    self.assertEqual(hashlib.sha256(installer).digest(), f.read())

    def test_an_installer_open_to_dll_planting_is_warned_about(self):
        source = self.path("plantable.c")
        with open(source, "w") as f:
            f.write(PLANTABLE_SOURCE)
        exe = self.path("plantable.exe")
        subprocess.run(["i686-w64-mingw32-gcc", "-O2", "-s", "-mwindows", source, "-lversion", "-o", exe], check=True)
        with open(exe, "rb") as f:
            plain = f.read()
        nsis = {}
        for xp_style in (False, True):
            nsis_installer.build(self.path("nsis.exe"), xp_style=xp_style)
            with open(self.path("nsis.exe"), "rb") as f:
                nsis[xp_style] = f.read()
        # (installer, DLLs named as open to planting, warned of a missing manifest, of one that does not parse)
        cases = {
            "MinGW": (plain, "version.dll", True, False),
            "MinGW, DependentLoadFlags 0x200": (with_dependent_load_flags(plain, 0x200), "version.dll", True, False),
            "MinGW, DependentLoadFlags 0x800": (with_dependent_load_flags(plain, 0x800), None, True, False),
            "NSIS, XPStyle off": (nsis[False], "comctl32.dll", False, False),
            "NSIS, XPStyle on": (nsis[True], None, False, False),
        }
        for label, (manifest, binds) in MANIFESTS.items():
            cases[f"NSIS, manifest: {label}"] = (with_manifest(nsis[False], manifest),
                                                 None if binds else "comctl32.dll", False, False)
        # ID 2 is the manifest of a DLL: Windows reads the process's from beside the program then.
        isolation = with_manifest(nsis[True], MANIFESTS["BOM, blank lines, prefixed namespace"][0], resource_id=2)
        cases["NSIS, manifest under ID 2"] = (isolation, "comctl32.dll", True, False)
        for label, manifest in BROKEN_MANIFESTS.items():
            cases[f"NSIS, manifest: {label}"] = (with_manifest(nsis[True], manifest), "comctl32.dll", False, True)
        for label, (installer, dlls, no_manifest, unparsed) in cases.items():
            with self.subTest(label):
                result = self.check(self.cabinet({INSTALLER: installer}))
                self.assertEqual(0, result.returncode, result.stderr)
                warnings = re.findall(r"^check_payload: warning: (.*)$", result.stdout, re.M)
                imports = [re.match(r"\S+ imports (.*?), which .*/DEPENDENTLOADFLAG:0x800", line) for line in warnings]
                imports = [match[1] for match in imports if match]
                self.assertEqual([dlls] if dlls else [], imports, result.stdout)
                self.assertEqual(no_manifest, any(f"so Windows reads {INSTALLER}.manifest from" in line
                                                  for line in warnings), result.stdout)
                self.assertEqual(unparsed, any("embedded manifest does not parse" in line for line in warnings),
                                 result.stdout)
                self.assertEqual(len(imports) + no_manifest + unparsed, len(warnings), result.stdout)

    def test_a_real_installer_with_its_data_passes_without_a_planting_warning(self):
        path = self.path("toolkit.cab")
        set_toolkit.CABINETS["toolkit_nsis"](None, path)
        with open(path, "rb") as f:
            data = f.read()
        self.assertEqual([INSTALLER.encode(), nsis_installer.DATA_MEMBER.encode()],
                         [member.name for member in cabfile.read(data).members])
        result = self.check(data)
        self.assertEqual(0, result.returncode, result.stderr)
        self.assertNotIn("warning", result.stdout)


class BrokenCabinets(CabinetCase):
    def test_unsafe_member_names(self):
        # Every name of the shared table, read in its row's code page. The
        # refused names of a code page share a cabinet, each with its fault;
        # the safe ones pass, in cabinets where none is another's file or
        # folder (a fault of its own), beside the installer each holds.
        pages = {}
        for code_page, verdict, _, name in set_extraction.member_names():
            pages.setdefault(code_page, []).append((verdict, name))
        for code_page, rows in sorted(pages.items()):
            codec = f"cp{code_page}"
            cabinets = [[name for verdict, name in rows if verdict != "safe"]]
            for name in (name for verdict, name in rows if verdict == "safe" and name != INSTALLER.encode()):
                key = name.decode(codec).upper() + "\\"
                group = next((g for g in cabinets[1:] if not any(key.startswith(k) or k.startswith(key) for k in (
                    n.decode(codec).upper() + "\\" for n in g))), None)
                if group is None:
                    cabinets.append(group := [])
                group.append(name)
            for number, names in enumerate(cabinets):
                with self.subTest(code_page=code_page, cabinet="refused" if number == 0 else f"safe {number}"):
                    placeholders = {f"n{i}": b"x" for i in range(len(names))}
                    data = self.renamed(self.cabinet(placeholders), {f"n{i}": name for i, name in enumerate(names)})
                    result = self.check(data, "--code-page", str(code_page))
                    self.assertEqual(1 if number == 0 else 0, result.returncode, result.stderr)
                    members = {m.name: m for m in cabfile.read(data).members}
                    for verdict, name in rows:
                        if name in names and verdict != "safe":
                            fault = check_payload.name_fault(name.decode(codec))
                            self.assertEqual(verdict, fault and fault[0], name)
                            shown = check_payload.display_name(members[name], codec)
                            self.assertIn(f'member "{shown}": relative name: {fault[1]}\n', result.stderr)

    def test_installer_missing_or_not_at_the_root(self):
        good = self.cabinet()
        for name in (b"setup.exe", b"bin\\" + INSTALLER.encode()):
            with self.subTest(name=name):
                self.assertFault(self.renamed(good, {INSTALLER: name}), "installer at the root")

    def test_target_path_one_byte_too_long_and_with_a_longer_temp_folder(self):
        long_name = "d\\" + "n" * (NAME_BUDGET - 1)
        data = self.renamed(self.cabinet(), {"InstData\\setup.ini": long_name.encode()})
        self.assertIn("260 bytes", self.assertFault(data, "path length", long_name))
        fitting = "d\\" + "n" * (NAME_BUDGET - 2)
        data = self.renamed(self.cabinet(), {"InstData\\setup.ini": fitting.encode()})
        self.assertFault(data, "path length", fitting, "--temp-folder-length", "50")

    def test_names_the_code_page_cannot_read(self):
        good = self.cabinet()
        cabinet = cabfile.read(good)
        attribs = cabinet.members[1].attribs
        cases = [
            ("stored as UTF-8", ("データ.txt".encode("utf-8"), attribs | cabfile.NAME_IS_UTF), ["--code-page", "932"]),
            ("lead byte without a trail byte", (b"InstData\\\x81", attribs), ["--code-page", "932"]),
            ("byte undefined in the code page", (b"InstData\\\x81.txt", attribs), ["--code-page", "1252"]),
        ]
        for label, name, args in cases:
            with self.subTest(label):
                data = cabfile.with_names(cabinet, {1: name})
                self.assertFault(data, "code page", None, *args)

    def test_two_members_for_one_file(self):
        good = self.cabinet({"a\\x.txt": b"1", "b.txt": b"2", "c": b"3"})
        self.assertFault(self.renamed(good, {"b.txt": b"A\\X.TXT"}), "unique name", "A\\X.TXT")
        self.assertFault(self.renamed(good, {"c": b"a"}), "unique name", "a")

    def test_part_of_a_cabinet_set(self):
        good = self.cabinet()
        for flag, label in ((cabfile.PREV_CABINET, "previous"), (cabfile.NEXT_CABINET, "next")):
            with self.subTest(label):
                self.assertIn(f"a {label} cabinet", self.assertFault(with_set_flag(good, flag), "single cabinet"))
        cabinet = cabfile.read(good)
        continued = bytearray(good)
        struct.pack_into("<H", continued, cabinet.members[1].entry_offset + 8, 0xFFFE)
        self.assertFault(bytes(continued), "single cabinet", "InstData\\setup.ini")

    def test_cut_short_or_with_bytes_behind_it(self):
        good = self.cabinet(multi_block=True)
        for label, data in (("truncated", good[:-100]), ("trailing bytes", good + b"\0" * 16),
                            ("header only", good[:40])):
            with self.subTest(label):
                self.assertFault(data, "readable to the end")

    def test_damaged_blocks(self):
        mszip = self.cabinet(multi_block=True)
        members = [cabwriter.Member(INSTALLER, os.urandom(20000)), cabwriter.Member("InstData\\setup.ini", b"[Setup]")]
        stored = cabwriter.build(members)
        lzx = cabwriter.build(members, lzx=True)
        size = sum(len(m.data) for m in members)
        retyped = bytearray(stored)
        struct.pack_into("<H", retyped, cabfile.read(stored).folders[0].entry_offset + 6, 7)
        # (cabinet, the rule broken, what its fault says, the member named)
        cases = {
            "MSZIP, no checksum": (with_block(mszip, 1, checksum=0), "data checksum",
                                   "folder 0, data block 1 carries no checksum", None),
            "MSZIP, a byte flipped": (with_block(mszip, 1, 100, flip=True, checksum="kept"), "readable to the end",
                                      "cabextract -t cannot expand it: checksum error", INSTALLER),
            "MSZIP, damaged under a right checksum": (with_block(mszip, 0, 2, b"\xff" * 38), "readable to the end",
                                                      "cabextract -t cannot expand it: decompression error", INSTALLER),
            "LZX, a byte flipped": (cabwriter.build(members, lzx=True, flip_data_byte=(0, 100)), "readable to the end",
                                    "cabextract -t cannot expand it: checksum error", INSTALLER),
            # The second byte holds the LZX block type: 3 (uncompressed) becomes 4, which LZX has not.
            "LZX, damaged under a right checksum": (with_block(lzx, 0, 1, b"\x70", flip=True), "readable to the end",
                                                    "cabextract -t cannot expand it: decompression error", INSTALLER),
            "stored, a byte flipped": (cabwriter.build(members, flip_data_byte=(0, 100)), "readable to the end",
                                       "cabextract -t cannot expand it: checksum error", INSTALLER),
            "stored, more out than in": (cabwriter.build(members, blocks=[(stored[-size:], size + 10)]),
                                         "readable to the end", f"folder 0, data block 0 is stored but declares "
                                         f"{size} bytes in and {size + 10} out", None),
            "a block that expands to nothing": (cabwriter.build(members, blocks=[(stored[-size:], 0)]),
                                                "readable to the end",
                                                "folder 0, data block 0 declares 0 expanded bytes (1 to 32768)", None),
            "unknown compression": (bytes(retyped), "readable to the end",
                                    "cabextract -t cannot expand it: error in CAB data format", INSTALLER),
            "refused whole by cabextract (a member without a name)": (
                cabwriter.build(members[:1] + [cabwriter.Member(b"", b"")]), "readable to the end",
                "cabextract -t fails: no valid cabinets found", None),
        }
        for label, (data, rule, says, member) in cases.items():
            with self.subTest(label):
                stderr = self.assertFault(data, rule, member)
                self.assertIn(f": {rule}: {says}", stderr)
                other = ({"data checksum", "readable to the end"} - {rule}).pop()
                self.assertNotIn(f": {other}: ", stderr)

    def test_without_cabextract_no_cabinet_passes(self):
        result = self.check(self.cabinet(), env=dict(os.environ, PATH=self.work.name))
        self.assertEqual(1, result.returncode)
        self.assertIn("cabextract (Debian's cabextract) is not installed", result.stderr)

    def test_member_past_the_end_of_its_folder(self):
        good = self.cabinet()
        cabinet = cabfile.read(good)
        grown = bytearray(good)
        struct.pack_into("<I", grown, cabinet.members[1].entry_offset, 10 ** 6)
        self.assertFault(bytes(grown), "readable to the end", "InstData\\setup.ini")

    def test_not_a_cabinet(self):
        for data in (b"", b"PK\3\4 not a cabinet at all" * 4):
            with self.subTest(data=data[:8]):
                self.assertFault(data, "cabinet format")


class BuildStops(CabinetCase):
    def test_a_broken_cabinet_fails_the_build_every_time_naming_member_and_rule(self):
        cabinet = self.path("given.cab")
        with open(cabinet, "wb") as f:
            f.write(self.renamed(self.cabinet(), {"InstData\\setup.ini": b"..\\setup.ini"}))
        tree = self.path("tree")
        for attempt in (1, 2):
            with self.subTest(attempt=attempt):
                with self.assertRaises(BuildError) as failure:
                    build(SOURCE_DIR, tree, definitions=[f"WEB_INSTALLER_PAYLOAD={cabinet}"],
                          target="web_installer_payload")
                self.assertIn('member "..\\setup.ini": relative name:', str(failure.exception))


def with_block(data, number, at=0, replacement=b"", flip=False, checksum=None):
    """`data` with the bytes of data block `number` of its first folder
    replaced from `at` on (or XORed with `replacement`, when `flip`), and
    the checksum `checksum`: the right one for the new bytes when None, the
    one the block had when "kept"."""
    block = cabfile.read(data).folders[0].blocks[number]
    out = bytearray(data)
    start = block.data_start + at
    if flip:
        replacement = bytes(a ^ b for a, b in zip(data[start:], replacement or b"\x01"))
    out[start:start + len(replacement)] = replacement
    if checksum is None:
        checksum = cabwriter.block_checksum(bytes(out[block.data_start:block.data_start + block.size]),
                                            block.uncompressed)
    if checksum != "kept":
        struct.pack_into("<I", out, block.offset, checksum)
    return bytes(out)


def with_set_flag(data, flag):
    """`data` marked as part of a set: the flag and its cabinet and disk names
    after the header, every later offset moved along."""
    cabinet = cabfile.read(data)
    extra = b"other.cab\0Disk 2\0"
    out = bytearray(data[:cabfile.HEADER.size] + extra + data[cabfile.HEADER.size:])
    flags_offset = 30
    struct.pack_into("<H", out, flags_offset, cabinet.flags | flag)
    struct.pack_into("<I", out, 8, len(out))
    struct.pack_into("<I", out, 16, cabinet.files_offset + len(extra))
    for folder in cabinet.folders:
        struct.pack_into("<I", out, folder.entry_offset + len(extra), folder.data_offset + len(extra))
    return bytes(out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
