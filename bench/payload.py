"""Payload trees generated from a fixed seed, in two shapes.

The product's shape, 76 members: the installer at the root, 41 under
"InstData" (at most three folder levels), 34 under "language". About 60 % of
the bytes are already compressed (random), the rest exe-like and text-like,
so that the MSZIP cabinet of the full-size tree is about 143 MB. Every
member's bytes depend only on its name, kind, size and SEED.

The many-member shape: the installer at the root and, by default, 10,000
small members of 1 to 4 KiB (about 26 MB) spread evenly over 100 folders: ten
groups "gNN", each a folder with nine subfolders "sN". About 40 % of the
members are already compressed (random); the exe-like and text-like ones are
cut from a pool of their kind, at a place that their seed chooses.
"""
import hashlib
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from product_names import INSTALLER  # noqa: E402

SEED = "web-installer-bench-1"

# Kinds: "packed" (already compressed), "code" (exe-like), "text".
# Sizes in KiB at full scale. File names start in upper case and folder names
# in lower case: in the byte order the cabinet is packed in, the files of a
# folder then come before its subfolders, so that no member needs more than
# one new folder level.
_LANGUAGES = ("de", "en", "es", "fr", "it", "ja", "ko", "zh")

MEMBERS = [
    ("InstData/Data1.cab", "packed", 40000),
    ("InstData/Data2.cab", "packed", 32000),
    ("InstData/Data3.cab", "packed", 18000),
    ("InstData/Engine.dll", "code", 9000),
    ("InstData/Setup.exe", "code", 3000),
    ("InstData/Setup.ini", "text", 12),
    ("InstData/Setup.xml", "text", 900),
    ("InstData/common/Core.dll", "code", 6400),
    ("InstData/common/Runtime.dll", "code", 8000),
    ("InstData/common/Network.dll", "code", 3500),
    ("InstData/common/Ui.dll", "code", 4500),
    ("InstData/common/Readme.txt", "text", 80),
    ("InstData/common/License.txt", "text", 60),
    ("InstData/common/Manifest.xml", "text", 2000),
    ("InstData/common/fonts/Fonts.ini", "text", 4),
    ("InstData/common/fonts/Mono.ttf", "code", 500),
    ("InstData/common/fonts/Ui.ttf", "code", 700),
    ("InstData/common/redist/Dotnet.exe", "packed", 5000),
    ("InstData/common/redist/Redist.inf", "text", 6),
    ("InstData/common/redist/Vcredist.msi", "packed", 6000),
    ("InstData/drivers/Drivers.inf", "text", 10),
    ("InstData/drivers/x64/Driver.cat", "packed", 20),
    ("InstData/drivers/x64/Driver.inf", "text", 8),
    ("InstData/drivers/x64/Driver.sys", "code", 900),
    ("InstData/drivers/x86/Driver.cat", "packed", 20),
    ("InstData/drivers/x86/Driver.inf", "text", 8),
    ("InstData/drivers/x86/Driver.sys", "code", 700),
    ("InstData/setup/Actions.dll", "code", 2400),
    ("InstData/setup/Actions.xml", "text", 1500),
    ("InstData/setup/Components.xml", "text", 3000),
    ("InstData/setup/Schema.sql", "text", 6000),
    ("InstData/setup/res/Banner.jpg", "packed", 300),
    ("InstData/setup/res/Setup.ico", "code", 100),
    ("InstData/setup/res/Splash.png", "packed", 400),
    ("InstData/setup/res/Wizard.bmp", "code", 1100),
    ("InstData/tools/Diag.exe", "code", 1200),
    ("InstData/tools/Diag.ini", "text", 3),
    ("InstData/tools/Uninst.exe", "code", 800),
    ("InstData/tools/plugins/Export.dll", "code", 600),
    ("InstData/tools/plugins/Import.dll", "code", 600),
    ("InstData/tools/plugins/Plugins.xml", "text", 30),
    ("language/Codepages.txt", "text", 20),
    ("language/Languages.ini", "text", 4),
] + [
    (f"language/{lang}/{name}", kind, size)
    for lang in _LANGUAGES
    for name, kind, size in (("Help.chm", "packed", 1200), ("License.rtf", "text", 400),
                             ("Resource.dll", "code", 1000), ("Strings.ini", "text", 700))
]


def _packed(rnd, n):
    return rnd.randbytes(n)


def _code(rnd, n):
    # A few hot opcodes, a small operand set and rare random immediates:
    # deflate packs this about 2:1, like machine code.
    ops = [rnd.randbytes(rnd.randint(1, 3)) for _ in range(32)]
    operands = [rnd.randbytes(rnd.randint(1, 4)) for _ in range(64)]
    immediates = [rnd.randbytes(4) for _ in range(2048)]
    pool = ops + operands + immediates + [b"\0" * 8, b"\xcc" * 4, b"\x90" * 2]
    weights = ([40.0 / (i + 1) for i in range(len(ops))] + [2.0 / (1 + i / 64) for i in range(len(operands))]
               + [0.002] * len(immediates) + [3, 1, 1])
    out = bytearray()
    while len(out) < n:
        out += b"".join(rnd.choices(pool, weights, k=65536))
    return bytes(out[:n])


def _text(rnd, n):
    letters = "etaoinshrdlcumwfgypbvkjxqz"
    frequency = [12, 9, 8, 7, 7, 6, 6, 6, 4, 4, 3, 3, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1]
    vocabulary = ["".join(rnd.choices(letters, frequency, k=rnd.randint(2, 10))) for _ in range(3000)]
    weights = [1.0 / (i + 1) for i in range(len(vocabulary))]
    chunks = []
    size = 0
    while size < n:
        words = rnd.choices(vocabulary, weights, k=4092)
        chunk = "".join(" ".join(words[i:i + 12]).capitalize() + ".\r\n" for i in range(0, len(words), 12)).encode()
        chunks.append(chunk)
        size += len(chunk)
    return b"".join(chunks)[:n]


_GENERATORS = {"packed": _packed, "code": _code, "text": _text}


def members(scale=1.0):
    """[(relative path with '/', kind, size in bytes)] of the tree at `scale`."""
    return [(name, kind, max(1024, int(kib * 1024 * scale))) for name, kind, kib in MEMBERS]


def many_members(count=10000, folders=100):
    """[(relative path with '/', kind, size in bytes)] of the many-member
    shape: `count` members over `folders` folders (a multiple of ten)."""
    paths = []
    for group in range(folders // 10):
        paths += [f"g{group:02d}"] + [f"g{group:02d}/s{sub}" for sub in range(1, 10)]
    found = []
    for index in range(count):
        rnd = random.Random(f"{SEED}:many:{index}")
        kind = rnd.choices(("packed", "code", "text"), (4, 3, 3))[0]
        extension = {"packed": "bin", "code": "dll", "text": "txt"}[kind]
        found.append((f"{paths[index % len(paths)]}/File{index:05d}.{extension}", kind, rnd.randint(1024, 4096)))
    return found


def recipe_digest(scale, installer):
    """Changes whenever the tree that generate() or generate_many() writes
    would change; `scale` stands for the shape's parameters."""
    digest = hashlib.sha256()
    with open(__file__, "rb") as source:
        digest.update(source.read())
    with open(installer, "rb") as program:
        digest.update(program.read())
    digest.update(repr(scale).encode())
    return digest.hexdigest()


def generate(folder, scale, installer):
    """Writes the tree to `folder` (which must not exist yet)."""
    os.makedirs(folder)
    with open(installer, "rb") as program, open(os.path.join(folder, INSTALLER), "wb") as out:
        out.write(program.read())
    for name, kind, size in members(scale):
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        rnd = random.Random(f"{SEED}:{name}:{kind}:{size}")
        with open(path, "wb") as out:
            out.write(_GENERATORS[kind](rnd, size))


def generate_many(folder, installer, count=10000, folders=100):
    """Writes the many-member tree to `folder` (which must not exist yet)."""
    os.makedirs(folder)
    with open(installer, "rb") as program, open(os.path.join(folder, INSTALLER), "wb") as out:
        out.write(program.read())
    pools = {kind: _GENERATORS[kind](random.Random(f"{SEED}:pool:{kind}"), 1 << 20) for kind in ("code", "text")}
    for name, kind, size in many_members(count, folders):
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        rnd = random.Random(f"{SEED}:{name}:{kind}:{size}")
        if kind == "packed":
            data = rnd.randbytes(size)
        else:
            start = rnd.randrange(len(pools[kind]) - size)
            data = pools[kind][start:start + size]
        with open(path, "wb") as out:
            out.write(data)


def new_folder_levels(names):
    """For names in cabinet order ('\\' separated), how many folder levels
    each one needs that no earlier member brought."""
    present = {""}
    levels = []
    for name in names:
        parts = name.split("\\")[:-1]
        folders = ["\\".join(parts[:i]) for i in range(1, len(parts) + 1)]
        levels.append(sum(1 for f in folders if f not in present))
        present.update(folders)
    return levels
