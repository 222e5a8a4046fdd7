"""Cabinets for the launch tests: stand-in installers whose end the test
controls, payloads that must not be launched, an installer longer than a few
reads of the digest check, and one whose expansion leaves time to tamper with
the installer before the launch."""
import hashlib
import os
import shutil
import subprocess
import tempfile

import installer_digest
from product_names import INSTALLER

DATA = {
    "readme.txt": b"expanded beside the installer\r\n",
    os.path.join("data", "setup.ini"): b"[setup]\r\nlanguage=en\r\n",
}


def pack(path, installer=None, extra=()):
    """Writes a cabinet of `installer` (a source file or bytes) as the first
    member (when given), the files of `extra` as (member name, source file or
    bytes) pairs, and the DATA files."""
    with tempfile.TemporaryDirectory() as stage:
        names = []
        for name, source in ([(INSTALLER, installer)] if installer else []) + list(extra):
            if isinstance(source, bytes):
                with open(os.path.join(stage, name), "wb") as f:
                    f.write(source)
            else:
                shutil.copyfile(source, os.path.join(stage, name))
            names.append(name)
        for name, content in DATA.items():
            os.makedirs(os.path.dirname(os.path.join(stage, name)), exist_ok=True)
            with open(os.path.join(stage, name), "wb") as f:
                f.write(content)
            names.append(name)
        out = os.path.abspath(path)
        subprocess.run(["gcab", "-c", "-z", out + ".tmp"] + names, cwd=stage, check=True,
                       stdout=subprocess.DEVNULL)
        os.replace(out + ".tmp", out)


def long_installer(context):
    """The demo installer followed by data its loader never reads: over three
    reads of the digest check (32 KiB each), ending in a byte other than 0."""
    with open(context.demo_installer, "rb") as f:
        return f.read() + bytes(range(1, 256)) * 400


CABINETS = {
    "launch_waiting": lambda context, path: pack(path, context.helper("launch_waiter_gui")),
    "launch_spawner": lambda context, path: pack(path, context.helper("launch_spawner_gui"),
                                                 [("waiter.exe", context.helper("launch_waiter_gui"))]),
    "launch_64bit_installer": lambda context, path: pack(path, context.demo_installer_64),
    "launch_no_installer": lambda context, path: pack(path),
    # Built with the digest of another program, as if the installer had been
    # replaced after the build.
    "launch_foreign_digest": lambda context, path: (pack(path, context.demo_installer),
                                                    hashlib.sha256(b"another program").digest())[1],
    "launch_long_installer": lambda context, path: pack(path, long_installer(context)),
    # Built with the digest the build gives a program that differs from the
    # installer only after its first reads.
    "launch_long_installer_other_tail": lambda context, path: (
        pack(path, long_installer(context)), installer_digest.digest(long_installer(context)[:-1] + b"\0"))[1],
    "launch_swap_window": lambda context, path: pack(path, context.demo_installer,
                                                     [("big.dat", bytes(range(256)) * (32 << 12))]),
}
