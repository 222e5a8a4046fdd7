"""The shipped 32-bit executable, read as a file: header, imports, resources."""
import os
import re
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from support import SOURCE_DIR, resources  # noqa: E402
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import installer_digest  # noqa: E402

PRODUCT_EXE = os.environ["PRODUCT_EXE"]
PRODUCT_PAYLOAD = os.environ["PRODUCT_PAYLOAD"]
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "setupapi.dll", "shell32.dll", "user32.dll", "msvcrt.dll"}
RT_MANIFEST = 24


class PeImage:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        assert self.data[pe:pe + 4] == b"PE\0\0"
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", self.data, optional)[0]
        (self.os_major, self.os_minor, _, _, self.subsystem_major, self.subsystem_minor) = struct.unpack_from(
            "<HHHHHH", self.data, optional + 40)
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", self.data, optional + 68)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, raw_ptr = struct.unpack_from("<8s12xI", self.data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0"), raw_ptr))


class ProductImage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = PeImage(PRODUCT_EXE)
        cls.dump = subprocess.run([os.environ["OBJDUMP"], "-p", PRODUCT_EXE], check=True,
                                  capture_output=True, text=True).stdout

    def test_header_asks_for_a_32_bit_gui_on_windows_6(self):
        image = self.image
        self.assertEqual(0x14C, image.machine)  # i386
        self.assertEqual(0x10B, image.magic)  # PE32
        self.assertEqual(2, image.subsystem)  # Windows GUI
        self.assertEqual((6, 0), (image.os_major, image.os_minor))
        self.assertEqual((6, 0), (image.subsystem_major, image.subsystem_minor))
        self.assertEqual(0x0140, image.dll_characteristics & 0x0140)  # DYNAMIC_BASE, NX_COMPAT

    def test_imports_system_dlls_only_and_set_default_dll_directories_directly(self):
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", self.dump)}
        self.assertTrue(dlls, self.dump)
        self.assertLessEqual(dlls, SYSTEM_DLLS)
        kernel32 = self.dump.split("DLL Name: KERNEL32.dll", 1)[1].split("DLL Name:", 1)[0]
        self.assertIn("SetDefaultDllDirectories", kernel32)

    def test_payload_resource_is_the_cabinet_given_with_its_installer_digest_and_there_is_no_manifest(self):
        found = resources(PRODUCT_EXE)
        with open(PRODUCT_PAYLOAD, "rb") as f:
            cabinet = f.read()
        self.assertEqual(cabinet, found.get((5428, 137, 1041)))
        installer = installer_digest.installer_bytes(PRODUCT_PAYLOAD)
        self.assertIsNotNone(installer)
        self.assertEqual(installer_digest.digest(installer), found.get((5428, 138, 0)))
        self.assertEqual([], [key for key in found if key[0] == RT_MANIFEST])

    def test_sections_are_page_aligned_so_the_loader_can_map_the_payload(self):
        for name, raw in self.image.sections:
            self.assertEqual(0, raw % 4096, name)


if __name__ == "__main__":
    unittest.main(verbosity=2)
