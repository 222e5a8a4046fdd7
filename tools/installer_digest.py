"""The installer member of a payload cabinet, as the bootstrapper checks it
before the launch: its bytes, extracted with cabextract (which reads every
compression type a cabinet may use), and their SHA-256."""
import hashlib
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from product_names import INSTALLER  # noqa: E402


def installer_bytes(cabinet):
    """The bytes of the installer at the root of `cabinet`, or None when
    cabextract cannot extract it."""
    with tempfile.TemporaryDirectory() as out:
        result = subprocess.run(["cabextract", "-q", "-d", out, "-F", INSTALLER, cabinet],
                                stdin=subprocess.DEVNULL, capture_output=True)
        found = [name for name in os.listdir(out) if name.lower() == INSTALLER.lower()]
        if result.returncode != 0 or len(found) != 1:
            return None
        with open(os.path.join(out, found[0]), "rb") as f:
            return f.read()


def digest(data):
    return hashlib.sha256(data).digest()
