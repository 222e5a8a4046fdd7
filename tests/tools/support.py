"""Shared by the release tests: building the bootstrapper in a private tree
and reading resources out of a PE file."""
import os
import shutil
import struct
import subprocess

SOURCE_DIR = os.path.abspath(os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..")))
PAYLOAD_RESOURCE = (5428, 137, 1041)
RT_VERSION = 16
# What a build of the product needs; the tests and the scripts are left out.
SOURCE_PARTS = ("CMakeLists.txt", "cmake", "installer", "tools")


class BuildError(Exception):
    pass


def copy_sources(target):
    os.makedirs(target, exist_ok=True)
    for part in SOURCE_PARTS:
        source = os.path.join(SOURCE_DIR, part)
        if os.path.isdir(source):
            shutil.copytree(source, os.path.join(target, part))
        else:
            shutil.copy2(source, os.path.join(target, part))


def build(source, tree, arch="i686", definitions=(), env=None, target="WebInstaller"):
    """Configures `tree` from `source` and builds `target` only. Returns the
    path of WebInstaller.exe; raises BuildError with the output on failure."""
    toolchain = os.path.join(source, "cmake", f"toolchain-{arch}-w64-mingw32.cmake")
    configure = ["cmake", "-S", source, "-B", tree, f"-DCMAKE_TOOLCHAIN_FILE={toolchain}",
                 "-DWEB_INSTALLER_BUILD_TESTS=OFF"] + [f"-D{d}" for d in definitions]
    for command in (configure, ["cmake", "--build", tree, "--target", target, "-j2"]):
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                env=dict(os.environ, **(env or {})))
        if result.returncode != 0:
            raise BuildError(f"{' '.join(command)} failed:\n{result.stdout}")
    return os.path.join(tree, "bin", "WebInstaller.exe")


def certificate_table(path):
    """(file offset, size) of the Authenticode signature; (0, 0) when unsigned."""
    with open(path, "rb") as f:
        data = f.read(4096)
    optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
    directories = optional + (96 if struct.unpack_from("<H", data, optional)[0] == 0x10B else 112)
    return struct.unpack_from("<II", data, directories + 4 * 8)


def resources(path):
    """{(type, name, language): bytes} of the numeric resources of a PE file."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    section_count, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    sections = []
    for i in range(section_count):
        vsize, rva, raw_size, raw_ptr = struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8)
        sections.append((rva, max(vsize, raw_size), raw_ptr))

    def offset(rva):
        for start, size, raw in sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(hex(rva))

    base = offset(resource_rva)

    def entries(table):
        named, ids = struct.unpack_from("<HH", data, table + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", data, table + 16 + 8 * i)

    found = {}
    for rtype, t1 in entries(base):
        for rname, t2 in entries(base + (t1 & 0x7FFFFFFF)):
            for lang, t3 in entries(base + (t2 & 0x7FFFFFFF)):
                rva, size = struct.unpack_from("<II", data, base + t3)
                found[(rtype, rname, lang)] = data[offset(rva):offset(rva) + size]
    return found


def version_info(path):
    """(file version, product version, {string name: value}) from the
    version resource: versions as tuples of four numbers."""
    blob = next(value for key, value in resources(path).items() if key[0] == RT_VERSION)
    strings = {}
    fixed = []

    def node(at):
        length, value_length, kind = struct.unpack_from("<HHH", blob, at)
        end_key = at + 6
        while blob[end_key:end_key + 2] != b"\0\0":
            end_key += 2
        key = blob[at + 6:end_key].decode("utf-16-le")
        value_at = (end_key + 2 + 3) & ~3
        if key == "VS_VERSION_INFO":
            fixed.extend(struct.unpack_from("<13I", blob, value_at))
        elif kind == 1 and value_length:
            strings[key] = blob[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
        child = (value_at + value_length * (2 if kind == 1 else 1) + 3) & ~3
        while child < at + length:
            child = node(child)
        return (at + length + 3) & ~3

    node(0)
    assert fixed[0] == 0xFEEF04BD

    def version(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    return version(fixed[2], fixed[3]), version(fixed[4], fixed[5]), strings
