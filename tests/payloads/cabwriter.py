"""A minimal Microsoft Cabinet writer for the test cabinets that gcab cannot
make: member names given as raw bytes (any code page, unsafe paths, over-long
names), damaged checksums or data, and cabinets that belong to a set.

Data is stored uncompressed (compression type 0) in one folder, in blocks of
at most 32 KiB, each with its checksum; or, up to 32 KiB, as one LZX frame
made of one uncompressed LZX block. Names are written as they are given,
without the UTF-8 name attribute, so the reader sees the raw bytes."""
import os
import struct

from cabfile import (ATTR_ARCHIVE, BLOCK_SIZE, COMPRESSION_LZX, CONTINUED_FROM_PREV, CONTINUED_TO_NEXT,
                     DATA, FILE, FOLDER, HEADER, NEXT_CABINET, PREV_CABINET, SIGNATURE, VERSION)

# 2020-01-01 00:00:00 as a DOS date and time.
DOS_DATE = ((2020 - 1980) << 9) | (1 << 5) | 1
DOS_TIME = 0


def checksum(data, seed=0):
    """The cabinet checksum: the XOR of the little-endian 32-bit words, with
    the one to three bytes left over taken most significant first."""
    whole = len(data) & ~3
    value = int.from_bytes(data[:whole], "little")
    bits = whole * 8
    # Fold the number onto itself at word boundaries until one word is left.
    while bits > 32:
        half = (bits // 64 + (bits // 32) % 2) * 32
        value = (value >> half) ^ (value & ((1 << half) - 1))
        bits = half
    tail = 0
    for byte in data[whole:]:
        tail = (tail << 8) | byte
    return seed ^ value ^ tail


def block_checksum(payload, uncompressed_size):
    return checksum(struct.pack("<HH", len(payload), uncompressed_size), checksum(payload))


class Member:
    def __init__(self, name, data):
        self.name = name if isinstance(name, bytes) else name.encode("ascii")
        self.data = data


def _blocks(data):
    return [data[i:i + BLOCK_SIZE] for i in range(0, len(data), BLOCK_SIZE)] or [b""]


def lzx_block(data):
    """One LZX frame holding `data` uncompressed, as (bytes, size). The bit
    stream is 16-bit little-endian words, most significant bit first: no
    E8 translation (1 bit), block type 3 (3 bits), the length (24 bits),
    padding to the word; then R0 to R2 and the bytes, evened out."""
    assert 0 < len(data) <= BLOCK_SIZE
    bits = "0" + "011" + format(len(data), "024b") + "0000"
    words = struct.pack("<HH", int(bits[:16], 2), int(bits[16:], 2))
    return words + struct.pack("<III", 1, 1, 1) + data + b"\0" * (len(data) % 2), len(data)


def build(members, *, set_id=0x1234, index=0, previous=None, following=None, first_offset=0,
          continued_from_prev=0, continued_to_next=0, blocks=None, bad_checksum_block=None,
          flip_data_byte=None, lzx=False):
    """The bytes of one cabinet.

    members: the Member records whose CFFILE entries this cabinet lists.
    previous/following: (cabinet name, disk name) of the neighbours in a set.
    continued_from_prev / continued_to_next: how many members at the start /
    end of `members` span into this cabinet from the previous one / out of it
    into the next one.
    blocks: the folder's data blocks as (bytes, uncompressed size), by
    default the members' bytes in order; size 0 marks the first part of a
    block that the next cabinet completes.
    bad_checksum_block: index of a block whose checksum is stored wrong.
    flip_data_byte: (block, offset) of a data byte inverted after its checksum
    was taken.
    lzx: the members' bytes as one LZX frame."""
    if lzx:
        blocks = [lzx_block(b"".join(m.data for m in members))]
    if blocks is None:
        blocks = [(b, len(b)) for b in _blocks(b"".join(m.data for m in members))]
    flags = (PREV_CABINET if previous else 0) | (NEXT_CABINET if following else 0)
    links = b""
    for pair in (previous, following):
        if pair:
            links += pair[0] + b"\0" + pair[1] + b"\0"

    files = b""
    offset = first_offset
    for i, m in enumerate(members):
        folder = 0
        if i < continued_from_prev:
            folder = CONTINUED_FROM_PREV
        elif i >= len(members) - continued_to_next:
            folder = CONTINUED_TO_NEXT
        files += FILE.pack(len(m.data), offset, folder, DOS_DATE, DOS_TIME, ATTR_ARCHIVE)
        files += m.name + b"\0"
        offset += len(m.data)

    files_offset = HEADER.size + len(links) + FOLDER.size
    data_offset = files_offset + len(files)
    data = b""
    for i, (payload, size) in enumerate(blocks):
        csum = block_checksum(payload, size)
        if i == bad_checksum_block:
            csum ^= 0x00010000
        if flip_data_byte and flip_data_byte[0] == i:
            at = flip_data_byte[1]
            payload = payload[:at] + bytes([payload[at] ^ 0xFF]) + payload[at + 1:]
        data += DATA.pack(csum, len(payload), size) + payload

    total = data_offset + len(data)
    header = HEADER.pack(SIGNATURE, 0, total, 0, files_offset, 0, VERSION[1], VERSION[0],
                         1, len(members), flags, set_id, index)
    folder = FOLDER.pack(data_offset, len(blocks), COMPRESSION_LZX if lzx else 0)
    return header + links + folder + files + data


def build_set(members, split_block, names=(b"payload.cab", b"payload2.cab"), disks=(b"disk1", b"disk2")):
    """Two cabinets of one set holding `members` in one folder. Data block
    `split_block` is cut in two, its first part ending the first cabinet and
    the rest starting the second; exactly one member may overlap that block.
    Returns (first, second)."""
    blocks = _blocks(b"".join(m.data for m in members))
    block_start = split_block * BLOCK_SIZE
    block_end = block_start + len(blocks[split_block])
    first, second, spanning = [], [], []
    start = 0
    for m in members:
        end = start + len(m.data)
        if end <= block_start:
            first.append(m)
        elif start >= block_end:
            second.append(m)
        else:
            spanning.append(m)
        start = end
    if len(spanning) != 1:
        raise ValueError("exactly one member must overlap the split block")
    cut = blocks[split_block]
    half = len(cut) // 2
    head_blocks = [(b, len(b)) for b in blocks[:split_block]] + [(cut[:half], 0)]
    tail_blocks = [(cut[half:], len(cut))] + [(b, len(b)) for b in blocks[split_block + 1:]]
    head = build(first + spanning, following=(names[1], disks[1]), continued_to_next=1, blocks=head_blocks)
    tail = build(spanning + second, index=1, previous=(names[0], disks[0]), continued_from_prev=1,
                 first_offset=sum(len(m.data) for m in first), blocks=tail_blocks)
    return head, tail


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
