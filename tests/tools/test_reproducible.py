"""Two builds of the same sources and payload, from copies in different
folders, give the same 32-bit exe byte for byte; the version resource carries
the fields given at configure time."""
import os
import tempfile
import unittest

from support import PAYLOAD_RESOURCE, build, certificate_table, copy_sources, resources, version_info
from winehost import read

FIELDS = ["WEB_INSTALLER_VERSION=3.1.4.15", "WEB_INSTALLER_PRODUCT_NAME=Sample Product 7",
          "WEB_INSTALLER_DESCRIPTION=Sample Product 7 Setup", "WEB_INSTALLER_COMPANY=Sample Maker"]


class ReproducibleBuild(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        cls.exes = []
        for where in ("a", os.path.join("a much longer", "second place")):
            source = os.path.join(cls.work.name, where, "src")
            copy_sources(source)
            cls.exes.append(build(source, os.path.join(cls.work.name, where, "out"), definitions=FIELDS))

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def test_both_builds_are_byte_identical(self):
        first, second = (read(exe) for exe in self.exes)
        self.assertEqual(len(first), len(second))
        self.assertTrue(first == second, "the two builds differ")
        self.assertIn(PAYLOAD_RESOURCE, resources(self.exes[0]))
        self.assertEqual((0, 0), certificate_table(self.exes[0]), "signed without being asked to")

    def test_version_resource_carries_the_configured_fields(self):
        file_version, product_version, strings = version_info(self.exes[0])
        self.assertEqual((3, 1, 4, 15), file_version)
        self.assertEqual((3, 1, 4, 15), product_version)
        expected = {"FileVersion": "3.1.4.15", "ProductVersion": "3.1.4.15", "ProductName": "Sample Product 7",
                    "FileDescription": "Sample Product 7 Setup", "CompanyName": "Sample Maker"}
        self.assertEqual(expected, {key: strings.get(key) for key in expected})


if __name__ == "__main__":
    unittest.main(verbosity=2)
