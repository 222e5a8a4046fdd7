"""The shipped 32-bit executable, read as a file: header, imports, resources."""
import os
import unittest

import pefile

import installer_digest
from product_names import DIGEST_RESOURCE, RESOURCE_TYPE
from support import PAYLOAD_RESOURCE, read_pe, resources

PRODUCT_EXE = os.environ["PRODUCT_EXE"]
PRODUCT_PAYLOAD = os.environ["PRODUCT_PAYLOAD"]
SYSTEM_DLLS = {"ntdll.dll", "kernel32.dll", "advapi32.dll", "setupapi.dll", "shell32.dll", "user32.dll", "msvcrt.dll"}
RT_MANIFEST = 24


class ProductImage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = read_pe(PRODUCT_EXE, "IMPORT")

    def test_header_asks_for_a_32_bit_gui_on_windows_6(self):
        header, optional = self.pe.FILE_HEADER, self.pe.OPTIONAL_HEADER
        self.assertEqual(pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], header.Machine)
        self.assertTrue(header.IMAGE_FILE_EXECUTABLE_IMAGE and header.IMAGE_FILE_32BIT_MACHINE)
        self.assertFalse(header.IMAGE_FILE_DLL)
        # Without its relocations the image cannot be moved, whatever DYNAMIC_BASE says.
        self.assertFalse(header.IMAGE_FILE_RELOCS_STRIPPED)
        self.assertEqual(pefile.OPTIONAL_HEADER_MAGIC_PE, optional.Magic)
        self.assertEqual(pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"], optional.Subsystem)
        self.assertEqual((6, 0), (optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion))
        self.assertEqual((6, 0), (optional.MajorSubsystemVersion, optional.MinorSubsystemVersion))
        self.assertTrue(optional.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE and optional.IMAGE_DLLCHARACTERISTICS_NX_COMPAT)

    def test_imports_system_dlls_only_and_set_default_dll_directories_directly(self):
        imports = {entry.dll.decode("ascii").lower(): {i.name for i in entry.imports}
                   for entry in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", [])}
        self.assertTrue(imports)
        self.assertLessEqual(set(imports), SYSTEM_DLLS)
        self.assertIn(b"SetDefaultDllDirectories", imports.get("kernel32.dll", set()))

    def test_payload_resource_is_the_cabinet_given_with_its_installer_digest_and_there_is_no_manifest(self):
        found = resources(PRODUCT_EXE)
        with open(PRODUCT_PAYLOAD, "rb") as f:
            cabinet = f.read()
        self.assertEqual(cabinet, found.get(PAYLOAD_RESOURCE))
        installer = installer_digest.installer_bytes(PRODUCT_PAYLOAD)
        self.assertIsNotNone(installer)
        self.assertEqual(installer_digest.digest(installer), found.get((RESOURCE_TYPE, DIGEST_RESOURCE, 0)))
        self.assertEqual([], [key for key in found if key[0] == RT_MANIFEST])

    def test_payload_section_alone_is_page_aligned_and_every_byte_is_in_a_section(self):
        # A page boundary lets the loader map the payload; the others keep 512
        # so that the exe stays small. No byte between sections, where a
        # signature's hash would not reach.
        optional = self.pe.OPTIONAL_HEADER
        self.assertEqual(512, optional.FileAlignment)
        end = optional.SizeOfHeaders
        for section in sorted((s for s in self.pe.sections if s.SizeOfRawData), key=lambda s: s.PointerToRawData):
            self.assertEqual(end, section.PointerToRawData, section.Name)
            end += section.SizeOfRawData
            if section.Name.rstrip(b"\0") == b".rsrc":
                self.assertEqual(0, section.PointerToRawData % 4096)
        self.assertEqual(os.path.getsize(PRODUCT_EXE), end)
        self.assertEqual(self.pe.generate_checksum(), optional.CheckSum)


if __name__ == "__main__":
    unittest.main(verbosity=2)
