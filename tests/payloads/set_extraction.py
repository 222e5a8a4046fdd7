"""Cabinets for the payload expansion: folder depth, unusual and cp932 names,
and payloads that must end the run before the installer is launched. The
demo installer sits at the root of each, so a launch leaves its marker file.
The end-to-end tests import this module for the expected members, and the
build check's tests for the rows of the shared member-name table."""
import hashlib
import os
import re
import subprocess
import tempfile

import cabwriter
from cabfile import read as read_cabinet
from cabwriter import Member
from product_names import INSTALLER, PAYLOAD_FILE


def content(name, size=None):
    """Deterministic bytes for a member, distinct per name."""
    name = name if isinstance(name, bytes) else name.encode("utf-8")
    if size is None:
        return b"member " + name + b"\r\n"
    out = b""
    seed = hashlib.sha256(name).digest()
    while len(out) < size:
        seed = hashlib.sha256(seed).digest()
        out += seed
    return out[:size]


# In the order of the cabinet; the comments give the folder levels each
# member needs created.
DEEP = [
    "root.txt",                                       # none
    "one\\file1.txt",                                 # 1
    "two1\\two2\\file2.txt",                          # 2
    "three1\\three2\\three3\\file3.txt",              # 3
    "five1\\five2\\five3\\five4\\five5\\file5.txt",   # 5
    "one\\file1b.txt",                                # none, made for an earlier member
    "one\\four1\\four2\\four3\\four4\\file4.txt",     # 4 below a folder made earlier
]

ODD = [
    "with space\\file name (1).txt",
    "{braces}\\(parens) [square] & semi;colon.txt",
    "a b\\c d\\e f\\{g} (h).txt",
    "%percent%\\!bang! ^caret 'quote'.txt",
    "#hash\\~tilde@at=eq+plus,comma.txt",
    "many.dots.in.the.name.txt",
    "no extension",
]

# cp932 names. 0x83 0x5C and 0x95 0x5C are double-byte characters whose
# trail byte is the backslash code; 0xB6 and 0xC5 are single-byte
# half-width katakana.
SO = b"\x83\x5c"
HYO = b"\x95\x5c"
CP932 = [
    SO + b"\x83\x74\x83\x67\\" + HYO + b".txt",       # new folder; file name with a 0x5C trail byte
    HYO + b"\\" + SO + b".txt",                      # folder name ending in a 0x5C trail byte
    SO + HYO + b"\\" + SO + HYO + b"\\" + HYO,       # two new levels; the name ends in a trail byte
    b"\xb6\xc5\\" + SO + b".txt",                    # single-byte katakana folder
]

# The member-name table shared with the bootstrapper's unit tests and the
# build check's tests.
MEMBER_NAMES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "member_names.tsv")
VERDICTS = ("safe", "empty", "end", "device", "character")
NAME_ESCAPE = re.compile(r"(\\x[0-9a-fA-F]{2}|\\\\)")


def member_names():
    """The table's rows as (code page, verdict, variant or None, name bytes)."""
    rows = []
    with open(MEMBER_NAMES, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t", 3)
            parts = NAME_ESCAPE.split(fields[-1])
            if len(fields) != 4 or fields[1] not in VERDICTS or any("\\" in part for part in parts[::2]):
                raise ValueError(f"{MEMBER_NAMES}:{number}: not a row: {line!r}")
            code_page, verdict, variant, _ = fields
            name = b"".join(part.encode("ascii") if i % 2 == 0 else
                            b"\\" if part == "\\\\" else bytes([int(part[2:], 16)])
                            for i, part in enumerate(parts))
            rows.append((int(code_page), verdict, None if variant == "-" else variant, name))
    return rows


# The table's names that have a variant of their own: each in a cabinet of
# its own, after the installer, with the reason the bootstrapper gives for
# refusing it.
STOP_REASONS = {
    "empty": "(the name has an empty component)",
    "end": "(a name component ends in a dot or a space)",
    "device": "(a name component is a device name)",
    "character": "(the name has a character no Windows file name can hold: a colon, a slash, one of <>\"|?* "
                 "or a control character)",
}
UNSAFE = {}
for _, verdict, variant, name in member_names():
    if variant:
        if f"extract_{variant}" in UNSAFE:
            raise ValueError(f"{MEMBER_NAMES}: variant {variant} is given twice")
        UNSAFE[f"extract_{variant}"] = (name, STOP_REASONS[verdict])

# 4 * 51 + 44 = 248 bytes: with any work folder path of Wine's
# "C:\users\<name>\Temp\{GUID}\" form the target exceeds 259 bytes.
LONG_NAME = ("d" * 50 + "\\") * 4 + "e" * 40 + ".txt"

BIG = "InstData\\big.dat"
BIG_SIZE = 200 * 1024


def installer(context):
    with open(context.demo_installer, "rb") as f:
        return Member(INSTALLER, f.read())


def members(context, names):
    return [installer(context)] + [Member(n, content(n)) for n in names]


def gcab(path, items):
    """An MSZIP cabinet from (name, bytes) pairs, in the given order."""
    with tempfile.TemporaryDirectory() as stage:
        rel_names = []
        for m in items:
            rel = m.name.decode("ascii").replace("\\", "/")
            target = os.path.join(stage, rel)
            os.makedirs(os.path.dirname(target) or stage, exist_ok=True)
            with open(target, "wb") as f:
                f.write(m.data)
            os.utime(target, (1577836800, 1577836800))
            rel_names.append(rel)
        subprocess.run(["gcab", "-c", "-z", os.path.abspath(path)] + rel_names,
                       cwd=stage, env=dict(os.environ, TZ="UTC"), check=True, stdout=subprocess.DEVNULL)


def with_big(context):
    return [installer(context), Member(BIG, content(BIG, BIG_SIZE)), Member("after.txt", content("after.txt"))]


def mszip_with_big(context, path):
    gcab(path, with_big(context))


def damaged_mszip(context, path, damage):
    mszip_with_big(context, path)
    with open(path, "rb") as f:
        data = f.read()
    cabwriter.write(path, damage(data))


def flip_byte_at(data, at):
    return data[:at] + bytes([data[at] ^ 0xFF]) + data[at + 1:]


def flip_inside_big(context, data):
    """Inverts the middle byte of the first data block that holds nothing
    but big.dat, leaving the block's checksum as it was: a reader that checks
    the checksums the cabinet carries must refuse that block, wherever the
    installer before it ends."""
    first = -(-len(installer(context).data) // cabwriter.BLOCK_SIZE)
    block = read_cabinet(data).folders[0].blocks[first]
    assert block.checksum != 0
    return flip_byte_at(data, block.data_start + block.size // 2)


def next_cabinet_set(context):
    """(first, second) cabinets of a set; the big member spans the two."""
    return cabwriter.build_set(with_big(context), split_block=3, names=(PAYLOAD_FILE.encode(), b"CDInst2.cab"))


def _unsafe(name):
    return lambda context, path: cabwriter.write(
        path, cabwriter.build([installer(context), Member(name, b"must not be written\r\n")]))


CABINETS = {
    "extract_deep": lambda c, p: gcab(p, members(c, DEEP)),
    "extract_odd_names": lambda c, p: gcab(p, members(c, ODD)),
    "extract_cp932": lambda c, p: cabwriter.write(p, cabwriter.build(members(c, CP932))),
    "extract_stored": lambda c, p: cabwriter.write(p, cabwriter.build(with_big(c))),
    "extract_empty": lambda c, p: cabwriter.write(p, b""),
    "extract_not_a_cabinet": lambda c, p: cabwriter.write(p, b"This is a text file, not a cabinet.\r\n" * 8),
    "extract_truncated": lambda c, p: damaged_mszip(c, p, lambda d: d[:len(d) * 3 // 4]),
    "extract_corrupt_mszip": lambda c, p: damaged_mszip(c, p, lambda d: flip_inside_big(c, d)),
    "extract_corrupt_stored": lambda c, p: cabwriter.write(
        p, cabwriter.build(with_big(c), flip_data_byte=(3, 100))),
    "extract_bad_checksum": lambda c, p: cabwriter.write(p, cabwriter.build(with_big(c), bad_checksum_block=3)),
    "extract_long_name": _unsafe(LONG_NAME.encode("ascii")),
    "extract_next_cabinet": lambda c, p: cabwriter.write(p, next_cabinet_set(c)[0]),
}
CABINETS.update({name: _unsafe(member) for name, (member, _) in UNSAFE.items()})
