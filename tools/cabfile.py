"""Reads the Microsoft Cabinet format (header, folders, files, data blocks)
and rewrites the file table of a cabinet. Shared by the packing and checking
tools."""
import struct

SIGNATURE = b"MSCF"
VERSION = (1, 3)
PREV_CABINET = 0x1
NEXT_CABINET = 0x2
RESERVE_PRESENT = 0x4
ATTR_ARCHIVE = 0x20
NAME_IS_UTF = 0x80
# The most bytes a data block expands to.
BLOCK_SIZE = 0x8000
# LZX with a window of 2^15 bytes.
COMPRESSION_LZX = 0x0F03
# Folder indexes a member takes when its data spans into another cabinet.
CONTINUED_FROM_PREV = 0xFFFD
CONTINUED_TO_NEXT = 0xFFFE
CONTINUED_PREV_AND_NEXT = 0xFFFF
CONTINUED = {CONTINUED_FROM_PREV: "continued from the previous cabinet",
             CONTINUED_TO_NEXT: "continued in the next cabinet",
             CONTINUED_PREV_AND_NEXT: "continued from the previous and in the next cabinet"}

HEADER = struct.Struct("<4sIIIIIBBHHHHH")
FOLDER = struct.Struct("<IHH")
FILE = struct.Struct("<IIHHHH")
DATA = struct.Struct("<IHH")


class CabinetError(Exception):
    """A fault that stops reading: `rule` names what is broken."""

    def __init__(self, rule, message):
        super().__init__(f"{rule}: {message}")
        self.rule = rule
        self.message = message


class Folder:
    def __init__(self, index, entry_offset, data_offset, block_count, compression):
        self.index = index
        self.entry_offset = entry_offset
        self.data_offset = data_offset
        self.block_count = block_count
        self.compression = compression
        self.blocks = []


class Block:
    def __init__(self, offset, checksum, size, uncompressed, data_start):
        self.offset = offset
        self.checksum = checksum
        self.size = size
        self.uncompressed = uncompressed
        self.data_start = data_start


class Member:
    def __init__(self, entry_offset, size, folder_offset, folder, date, time, attribs, name):
        self.entry_offset = entry_offset
        self.size = size
        self.folder_offset = folder_offset
        self.folder = folder
        self.date = date
        self.time = time
        self.attribs = attribs
        self.name = name


class Cabinet:
    def __init__(self, data):
        self.data = data
        self.folders = []
        self.members = []


def _unpack(layout, data, offset, what):
    if offset + layout.size > len(data):
        raise CabinetError("readable to the end", f"{what} at offset {offset} runs past the end of the file")
    return layout.unpack_from(data, offset)


def _string(data, offset, what):
    end = data.find(b"\0", offset)
    if end < 0:
        raise CabinetError("readable to the end", f"{what} at offset {offset} has no terminating NUL")
    return data[offset:end], end + 1


def read(data):
    """Parses the header, the folder and file tables and every data block's
    header. Raises CabinetError on a fault that leaves nothing to read."""
    if len(data) < HEADER.size or data[:4] != SIGNATURE:
        raise CabinetError("cabinet format", "not a cabinet (no MSCF signature)")
    (_, _, declared_size, _, files_offset, _, minor, major, folder_count, file_count, flags,
     set_id, cabinet_index) = HEADER.unpack_from(data, 0)
    cabinet = Cabinet(data)
    cabinet.declared_size = declared_size
    cabinet.version = (major, minor)
    cabinet.flags = flags
    cabinet.set_id = set_id
    cabinet.cabinet_index = cabinet_index
    offset = HEADER.size
    header_reserve = folder_reserve = data_reserve = 0
    if flags & RESERVE_PRESENT:
        header_reserve, folder_reserve, data_reserve = _unpack(struct.Struct("<HBB"), data, offset,
                                                               "reserve sizes")
        offset += 4 + header_reserve
    cabinet.data_reserve = data_reserve
    for flag in (PREV_CABINET, NEXT_CABINET):
        if flags & flag:
            _, offset = _string(data, offset, "cabinet name")
            _, offset = _string(data, offset, "disk name")
    for index in range(folder_count):
        cabinet.folders.append(Folder(index, offset, *_unpack(FOLDER, data, offset, f"folder entry {index}")))
        offset += FOLDER.size + folder_reserve
    cabinet.folder_table_end = offset

    offset = files_offset
    for index in range(file_count):
        fields = _unpack(FILE, data, offset, f"file entry {index}")
        name, end = _string(data, offset + FILE.size, f"name of file entry {index}")
        cabinet.members.append(Member(offset, *fields, name))
        offset = end
    cabinet.files_offset = files_offset
    cabinet.file_table_end = offset

    for folder in cabinet.folders:
        offset = folder.data_offset
        for number in range(folder.block_count):
            where = f"data block {number} of folder {folder.index}"
            checksum, size, uncompressed = _unpack(DATA, data, offset, where)
            start = offset + DATA.size + data_reserve
            if start + size > len(data):
                raise CabinetError("readable to the end",
                                   f"{where} declares {size} bytes at offset {start}, "
                                   f"past the end of the file ({len(data)} bytes)")
            folder.blocks.append(Block(offset, checksum, size, uncompressed, start))
            offset = start + size
    return cabinet


def with_names(cabinet, renames):
    """The cabinet's bytes with member names and attributes replaced:
    `renames` maps a member index to (name bytes, attribs). The data blocks
    are moved, unchanged, behind the new file table."""
    if cabinet.files_offset != cabinet.folder_table_end or any(
            f.data_offset < cabinet.file_table_end for f in cabinet.folders):
        raise CabinetError("cabinet format", "the file table is not between the folder table and the data")
    table = bytearray()
    for index, member in enumerate(cabinet.members):
        name, attribs = renames.get(index, (member.name, member.attribs))
        table += FILE.pack(member.size, member.folder_offset, member.folder, member.date, member.time, attribs)
        table += name + b"\0"
    delta = cabinet.files_offset + len(table) - cabinet.file_table_end
    data = cabinet.data
    out = bytearray(data[:cabinet.files_offset])
    struct.pack_into("<I", out, 8, cabinet.declared_size + delta)
    for folder in cabinet.folders:
        struct.pack_into("<I", out, folder.entry_offset, folder.data_offset + delta)
    out += table
    out += data[cabinet.file_table_end:]
    return bytes(out)
