"""The shipped 32-bit executable, read as a file: header, imports, resources."""
import os
import re
import struct
import subprocess
import unittest

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
        directories = optional + 96
        self.resource_rva = struct.unpack_from("<I", self.data, directories + 2 * 8)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, rva, raw_size, raw_ptr = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0"), rva, max(vsize, raw_size), raw_ptr))

    def offset(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(hex(rva))

    def resources(self):
        """{(type, name, language): bytes} for numeric ids."""
        base = self.offset(self.resource_rva)
        found = {}

        def entries(table):
            named, ids = struct.unpack_from("<HH", self.data, table + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, table + 16 + 8 * i)
                yield ident, target

        for rtype, t1 in entries(base):
            for rname, t2 in entries(base + (t1 & 0x7FFFFFFF)):
                for lang, t3 in entries(base + (t2 & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from("<II", self.data, base + t3)
                    found[(rtype, rname, lang)] = self.data[self.offset(rva):self.offset(rva) + size]
        return found


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

    def test_payload_resource_is_the_cabinet_given_and_there_is_no_manifest(self):
        resources = self.image.resources()
        with open(PRODUCT_PAYLOAD, "rb") as f:
            cabinet = f.read()
        self.assertEqual(cabinet, resources.get((5428, 137, 1041)))
        self.assertEqual([], [key for key in resources if key[0] == RT_MANIFEST])

    def test_sections_are_page_aligned_so_the_loader_can_map_the_payload(self):
        for name, _, _, raw in self.image.sections:
            self.assertEqual(0, raw % 4096, name)


if __name__ == "__main__":
    unittest.main(verbosity=2)
