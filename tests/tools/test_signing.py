"""Authenticode signing at build time with a throw-away certificate: the
signature verifies, the payload resource is untouched, and the signed x86-64
twin still runs its installer under Wine."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from support import PAYLOAD_RESOURCE, SOURCE_DIR, build, certificate_table, resources
from winehost import DEMO_MARKER, Prefix, read

SIGNING_TIME = "1700000000"  # 2023-11-14 22:13:20 UTC
PASSWORD = "throw away"


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_credentials(folder):
    """A CA, a code-signing certificate it issued, and the same pair as a
    password-protected PKCS#12 file."""
    with open(os.path.join(folder, "leaf.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    with open(os.path.join(folder, "password"), "w") as f:
        f.write(PASSWORD)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
            "-subj", "/CN=Throw-away Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "leaf.key", "-out", "leaf.csr",
            "-subj", "/CN=Throw-away Signer", cwd=folder)
    openssl("x509", "-req", "-in", "leaf.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "leaf.pem", "-days", "2", "-extfile", "leaf.ext", cwd=folder)
    openssl("pkcs12", "-export", "-in", "leaf.pem", "-inkey", "leaf.key", "-out", "leaf.p12",
            "-passout", "file:password", cwd=folder)


class SignedBuilds(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        keys = cls.keys = os.path.join(cls.work.name, "keys")
        os.makedirs(keys)
        make_credentials(keys)
        epoch = {"SOURCE_DATE_EPOCH": SIGNING_TIME}
        # The 32-bit product from a PKCS#12 file, its x86-64 twin from PEM files.
        cls.trees = {
            "i686": (os.path.join(cls.work.name, "i686"),
                     [f"WEB_INSTALLER_SIGN_PKCS12={keys}/leaf.p12", f"WEB_INSTALLER_SIGN_PASSWORD_FILE={keys}/password"]),
            "x86_64": (os.path.join(cls.work.name, "x86_64"),
                       [f"WEB_INSTALLER_SIGN_CERT={keys}/leaf.pem", f"WEB_INSTALLER_SIGN_KEY={keys}/leaf.key"]),
        }
        cls.exes = {arch: build(SOURCE_DIR, tree, arch, definitions, env=epoch)
                    for arch, (tree, definitions) in cls.trees.items()}

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def verify(self, exe):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", os.path.join(self.keys, "ca.pem"), "-in", exe],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)

    def test_signatures_verify_with_the_signing_time_from_source_date_epoch(self):
        for arch, exe in self.exes.items():
            with self.subTest(arch=arch):
                result = self.verify(exe)
                self.assertEqual(0, result.returncode, result.stdout)
                self.assertIn("Signature verification: ok", result.stdout)
                self.assertIn("Subject: /CN=Throw-away Signer", result.stdout)
                self.assertRegex(result.stdout, r"Signing time: Nov 14 22:13:20 2023 GMT")
                self.assertRegex(result.stdout, r"Text description: QVLM Management\b")
                self.assertNotEqual((0, 0), certificate_table(exe))

    def test_payload_resource_is_the_cabinet_given(self):
        for arch, exe in self.exes.items():
            with self.subTest(arch=arch):
                tree = self.trees[arch][0]
                payload = read(os.path.join(tree, "installer/module/Web_Installer/payload/payload.cab"))
                self.assertEqual(payload, resources(exe)[PAYLOAD_RESOURCE])

    def test_a_changed_byte_breaks_the_signature(self):
        tampered = os.path.join(self.work.name, "tampered.exe")
        data = bytearray(read(self.exes["i686"]))
        payload = data.find(resources(self.exes["i686"])[PAYLOAD_RESOURCE][:64])
        data[payload + 100] ^= 0x01
        with open(tampered, "wb") as f:
            f.write(data)
        result = self.verify(tampered)
        self.assertNotEqual(0, result.returncode, result.stdout)

    def test_a_failed_signing_leaves_no_unsigned_exe_behind(self):
        copy = os.path.join(self.work.name, "unsigned.exe")
        shutil.copyfile(os.path.join(self.trees["x86_64"][0], "bin", "WebInstaller.exe"), copy)
        wrong = os.path.join(self.work.name, "wrong-password")
        with open(wrong, "w") as f:
            f.write("not " + PASSWORD)
        result = subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "tools", "sign_exe.py"), "--pkcs12",
                                 os.path.join(self.keys, "leaf.p12"), "--password-file", wrong, copy],
                                capture_output=True, text=True)
        self.assertNotEqual(0, result.returncode)
        self.assertTrue(re.search("unsigned file was removed", result.stderr), result.stderr)
        self.assertEqual([], [n for n in os.listdir(self.work.name) if n.startswith("unsigned.exe")])

    def test_signed_x86_64_twin_runs_its_installer_under_wine(self):
        with Prefix("signed") as prefix:
            result = prefix.run(self.exes["x86_64"])
            self.assertEqual(0, result.returncode, result.output)
            self.assertTrue(os.path.exists(os.path.join(prefix.work_folder, DEMO_MARKER)))


if __name__ == "__main__":
    unittest.main(verbosity=2)
