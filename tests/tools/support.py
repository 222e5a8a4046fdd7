"""Shared by the release tests: building the bootstrapper in a private tree
and reading a PE file's headers and resources (with pefile)."""
import os
import shutil
import subprocess

import pefile

from product_names import PAYLOAD_LANGUAGE, PAYLOAD_RESOURCE as PAYLOAD_NAME, RESOURCE_TYPE

SOURCE_DIR = os.path.abspath(os.environ.get("SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..")))
PAYLOAD_RESOURCE = (RESOURCE_TYPE, PAYLOAD_NAME, PAYLOAD_LANGUAGE)
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


def read_pe(path, *directories):
    """`path` parsed by pefile: its headers, and the data directories named
    (IMAGE_DIRECTORY_ENTRY_ left off)."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY[f"IMAGE_DIRECTORY_ENTRY_{d}"] for d in directories])
    return pe


def certificate_table(path):
    """(file offset, size) of the Authenticode signature; (0, 0) when unsigned."""
    table = read_pe(path).OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    return table.VirtualAddress, table.Size


def resources(path):
    """{(type, name, language): bytes} of a PE file's resources, each level
    given by its number, or by its name where it has one."""
    pe = read_pe(path, "RESOURCE")

    def key(entry):
        return entry.id if entry.name is None else str(entry.name)

    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found[(key(kind), key(name), key(language))] = pe.get_data(data.OffsetToData, data.Size)
    return found


def version_info(path):
    """(file version, product version, {string name: value}) from the
    version resource: versions as tuples of four numbers."""
    pe = read_pe(path, "RESOURCE")
    fixed = pe.VS_FIXEDFILEINFO[0]
    assert fixed.Signature == 0xFEEF04BD
    strings = {key.decode("utf-8"): value.decode("utf-8")
               for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
               for table in info.StringTable for key, value in table.entries.items()}

    def version(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    return (version(fixed.FileVersionMS, fixed.FileVersionLS),
            version(fixed.ProductVersionMS, fixed.ProductVersionLS), strings)
