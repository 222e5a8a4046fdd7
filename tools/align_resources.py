#!/usr/bin/env python3
"""Moves the resource section of a linked image to a page boundary in the
file, in place.

The image is linked with the usual file alignment of 0x200, which keeps the
code and data sections small. A loader can map a section straight from the
file only when its raw data starts on a page boundary; Wine reads any other
section into private memory when the image loads. The resource section holds
the payload cabinet, of any size, so it alone must start on a page boundary:
zeros (at most 0xE00 bytes) go before it, and it and the sections after it
move by as much. The zeros become part of the section before it, whose raw
size grows over them, so that every byte of the file stays inside the
headers or a section, which an Authenticode hash covers. The checksum in the
optional header is computed again. The same input gives the same output.

Without a resource section, or when it already starts on a page boundary,
only the checksum is written. When the image cannot be aligned so, it is
deleted, so that the next build links it again instead of taking the
unaligned file for finished."""
import argparse
import array
import os
import shutil
import struct
import sys

PAGE = 0x1000
SECTION = struct.Struct("<8sIIIIIIHHI")


def checksum(image, field):
    """The PE image checksum: 16-bit words summed with end-around carry,
    the checksum field itself counting as zero, plus the file's length."""
    even = len(image) & ~1
    words = array.array("H")
    words.frombytes(memoryview(image)[:even])
    if sys.byteorder != "little":
        words.byteswap()
    total = sum(words) - sum(struct.unpack_from("<HH", image, field))
    if even != len(image):
        total += image[-1]
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(image)


def name(section):
    return section[0].rstrip(b"\0").decode("ascii", "replace")


def align(image):
    """The bytearray `image` (changed, or a new one) with its resource
    section on a page boundary; ValueError says why that cannot be done."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[:2] != b"MZ" or image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    count, _, _, _, optional_size = struct.unpack_from("<HIIIH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    section_alignment = struct.unpack_from("<I", image, optional + 32)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    table = optional + optional_size
    sections = [list(SECTION.unpack_from(image, table + i * SECTION.size)) for i in range(count)]
    # Name, VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData, ...
    resources = [s for s in sections if name(s) == ".rsrc"]
    pad = (-resources[0][4]) % PAGE if resources and resources[0][3] else 0
    if pad:
        start = resources[0][4]
        for index, what in ((4, "certificate table"), (6, "debug directory")):
            if struct.unpack_from("<II", image, directories + 8 * index) != (0, 0):
                raise ValueError(f"the image has a {what}, whose file offsets would need moving too")
        before = max((s for s in sections if s[3] and s[4] < start), key=lambda s: s[4])
        if before[4] + before[3] != start:
            raise ValueError(f"section {name(before)} does not end where the resources start")
        pages = -(-before[1] // section_alignment) * section_alignment
        if before[3] + pad > pages:
            raise ValueError(f"{pad} bytes of padding do not fit in the pages of section "
                             f"{name(before)} (raw size {before[3]}, virtual {before[1]})")
        before[3] += pad
        for s in sections:
            if s[4] >= start:
                s[4] += pad
        image = image[:start] + bytes(pad) + image[start:]
        for i, s in enumerate(sections):
            SECTION.pack_into(image, table + i * SECTION.size, *s)
    field = optional + 64
    struct.pack_into("<I", image, field, checksum(image, field))
    return image


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("exe")
    args = parser.parse_args()
    with open(args.exe, "rb") as f:
        image = f.read()
    try:
        aligned = align(bytearray(image))
    except (ValueError, struct.error, IndexError) as e:
        os.remove(args.exe)
        sys.exit(f"align_resources: {args.exe}: {e}; the file was removed")
    if aligned != image:
        staged = args.exe + ".aligned"
        with open(staged, "wb") as f:
            f.write(aligned)
        shutil.copymode(args.exe, staged)
        os.replace(staged, args.exe)


if __name__ == "__main__":
    main()
