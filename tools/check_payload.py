#!/usr/bin/env python3
"""Checks a payload cabinet before it is embedded in the bootstrapper, which
writes it into its work folder on the user's machine, expands every member
there with SetupIterateCabinetA and launches the installer at the root.
Every fault is reported on one line naming the member and the rule broken;
the exit status is 1 when there is any. The data of every member is expanded,
without being written, by cabextract -t (libmspack), which checks every data
block's checksum and reads every compression type; the check stops when
cabextract is not installed.

With --digest, the SHA-256 of the installer is written to a file, for the
bootstrapper to embed and check before it launches the installer. An
installer open to DLL planting gets a warning: it imports a DLL that is not a
KnownDLL, nor bound by its manifest to an assembly of Windows, and does not
restrict its imports to the system folder; or it embeds no manifest, so that
one planted beside it is read.

Member names reach the system as bytes of the target's ANSI code page. A name
stored with the UTF-8 attribute (0x80) is only accepted when it is plain
ASCII, where both readings agree; any other name must be valid in the code
page.
"""
import argparse
import codecs
import os
import re
import shutil
import subprocess
import sys
from xml.etree import ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cabfile  # noqa: E402
import installer_digest  # noqa: E402
import product_names  # noqa: E402

INSTALLER = product_names.INSTALLER
WORK_FOLDER = product_names.GUID
MAX_TARGET = 259
# The temporary folder of a user whose name has 20 characters.
DEFAULT_TEMP_FOLDER = "C:\\Users\\" + "U" * 20 + "\\AppData\\Local\\Temp\\"
# Margins below this are reported as a warning: a longer user name breaks it.
SMALL_MARGIN = 16
FORBIDDEN = set('<>"|?*')
# Names Windows maps to devices, with any extension. The superscript digits
# count as port numbers too, where the code page has them.
DEVICES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"} | {
    f"{port}{n}" for port in ("COM", "LPT") for n in list("0123456789") + ["\u00b9", "\u00b2", "\u00b3"]}


# The DLLs Windows 10 and 11 always load from the system folder, whatever the
# search order; the API sets are resolved by the loader itself.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll", "gdi32.dll",
    "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "kernelbase.dll", "msctf.dll", "msvcrt.dll",
    "normaliz.dll", "nsi.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll",
    "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll"}
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
RT_MANIFEST = 24
CREATEPROCESS_MANIFEST = 1
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
MICROSOFT_PUBLIC_KEY = "6595b64144ccf1df"
# Assemblies of Windows, which the loader takes from WinSxS for a program
# whose manifest names them, and the DLLs they carry.
SYSTEM_ASSEMBLIES = {"Microsoft.Windows.Common-Controls": {"comctl32.dll"}}


class Report:
    def __init__(self, cabinet_name):
        self.cabinet_name = cabinet_name
        self.faults = []

    def fault(self, rule, message, member=None):
        where = f'member "{member}": ' if member is not None else ""
        self.faults.append(f"{self.cabinet_name}: {where}{rule}: {message}")


def codec_for(code_page):
    try:
        return codecs.lookup(product_names.codec_for(code_page)).name
    except LookupError:
        sys.exit(f"check_payload: code page {code_page} is not known")


def display_name(member, codec):
    """The name for a fault line, with the bytes the code page cannot read
    and the control characters as \\xNN, so that each fault keeps to its line."""
    encoding = "utf-8" if member.attribs & cabfile.NAME_IS_UTF else codec
    text = member.name.decode(encoding, errors="backslashreplace")
    return "".join(f"\\x{ord(c):02x}" if ord(c) < 32 else c for c in text)


def decode_name(member, codec, code_page, report, shown):
    """The name as the target system reads it, or None when it cannot."""
    if member.attribs & cabfile.NAME_IS_UTF:
        if member.name.isascii():
            return member.name.decode("ascii")
        report.fault("code page", f"name is stored as UTF-8, but the bootstrapper hands names to the system "
                     f"as code page {code_page} bytes; store it in the code page "
                     f"(tools/pack_payload.py does)", shown)
        return None
    try:
        return member.name.decode(codec)
    except UnicodeDecodeError as e:
        report.fault("code page", f"byte 0x{member.name[e.start]:02X} at {e.start} is not valid "
                     f"in code page {code_page}", shown)
        return None


def name_fault(name):
    """The rule `name` breaks, as (reason, message), or None when the member
    lands inside the work folder under that name. The reason is one of
    "empty" (the name or a component, also a rooted or UNC name), "end" (a
    component ends in a dot or a space, "." and ".." too), "device", and
    "character" (a colon, a drive too, a forward slash, one of <>"|?* or a
    control character)."""
    if name == "":
        return "empty", "name is empty"
    if len(name) >= 2 and name[1] == ":" and name[0].isalpha():
        return "character", "name starts with a drive"
    if name.startswith("\\"):
        return "empty", "name starts with a backslash (absolute path)"
    if ":" in name:
        return "character", "name contains a colon"
    if "/" in name:
        return "character", "name contains a forward slash; the separator is the backslash"
    bad = sorted({c for c in name if c in FORBIDDEN or ord(c) < 32})
    if bad:
        return "character", "name contains characters Windows file names cannot hold: " + ", ".join(
            repr(c) for c in bad)
    components = name.split("\\")
    if "" in components:
        return "empty", "name has an empty component"
    if ".." in components:
        return "end", 'name has a ".." component and leaves the work folder'
    if "." in components:
        return "end", 'name has a "." component'
    stripped = [c for c in components if c.endswith((".", " "))]
    if stripped:
        return "end", f'"{stripped[0]}" ends in a dot or a space, which Windows strips: the member would land elsewhere'
    devices = [c for c in components if c.split(".")[0].rstrip(" ").upper() in DEVICES]
    if devices:
        return "device", f'"{devices[0]}" names a device, not a file'
    return None


def check_structure(cabinet, size, report):
    if cabinet.version != cabfile.VERSION:
        report.fault("cabinet format", "format version %d.%d, expected %d.%d" % (cabinet.version + cabfile.VERSION))
    if cabinet.declared_size != size:
        report.fault("readable to the end",
                     f"header declares {cabinet.declared_size} bytes, the file has {size}")
    if cabinet.flags & (cabfile.PREV_CABINET | cabfile.NEXT_CABINET):
        which = [w for f, w in ((cabfile.PREV_CABINET, "a previous"), (cabfile.NEXT_CABINET, "a next"))
                 if cabinet.flags & f]
        report.fault("single cabinet", f"header names {' and '.join(which)} cabinet: part of a set")
    if not cabinet.folders:
        report.fault("cabinet format", "no folder")
    if not cabinet.members:
        report.fault("cabinet format", "no member")


def check_blocks(cabinet, report):
    """What the data blocks declare, where cabextract -t lets it pass: a
    checksum (libmspack, like the system, skips a zero one), an expanded size
    of 1 to 32768 bytes, and for a stored block as many bytes as it holds.
    Returns the number of bytes each folder expands to, by those sizes."""
    expanded = []
    for folder in cabinet.folders:
        for number, block in enumerate(folder.blocks):
            where = f"folder {folder.index}, data block {number}"
            if block.checksum == 0:
                report.fault("data checksum", f"{where} carries no checksum; "
                             "the system would expand a corrupted block silently")
            if block.uncompressed > cabfile.BLOCK_SIZE or block.uncompressed == 0:
                report.fault("readable to the end",
                             f"{where} declares {block.uncompressed} expanded bytes (1 to {cabfile.BLOCK_SIZE})")
            elif folder.compression & 0xF == 0 and block.size != block.uncompressed:
                report.fault("readable to the end", f"{where} is stored but declares "
                             f"{block.size} bytes in and {block.uncompressed} out")
        expanded.append(sum(block.uncompressed for block in folder.blocks))
    return expanded


def check_data(path, cabinet, codec, report):
    """Every data block's checksum and data, as libmspack reads them:
    cabextract -t expands each member without writing it, whatever the
    compression."""
    result = subprocess.run(["cabextract", "-t", path], stdin=subprocess.DEVNULL, capture_output=True)
    if result.returncode == 0:
        return
    # A line for each member, in the cabinet's order, ending in OK and the
    # MD5 of its data or in why it fails. The names are rewritten as
    # cabextract would write them, so they are matched by their order.
    ends = re.findall(rb"  (?:OK +[0-9a-f]{32}|failed \(([^()\n]*)\))$", result.stdout, re.M)
    failed = [(member, why.decode(errors="replace")) for member, why in zip(cabinet.members, ends) if why]
    if len(ends) == len(cabinet.members) and failed:
        for member, why in failed:
            report.fault("readable to the end", f"cabextract -t cannot expand it: {why}", display_name(member, codec))
        return
    told = [line.decode(errors="replace").removeprefix(f"{path}: ") for line in result.stderr.splitlines()]
    told += sorted({why for _, why in failed})
    report.fault("readable to the end",
                 "cabextract -t fails: " + ("; ".join(told) or f"exit status {result.returncode}"))


def check_members(cabinet, expanded, codec, code_page, temp_length, report):
    seen = {}
    folders_of = {}
    longest = None
    for member in cabinet.members:
        shown = display_name(member, codec)
        if member.folder in cabfile.CONTINUED:
            report.fault("single cabinet", cabfile.CONTINUED[member.folder], shown)
        elif member.folder >= len(cabinet.folders):
            report.fault("readable to the end", f"names folder {member.folder}, "
                         f"the cabinet has {len(cabinet.folders)}", shown)
        elif member.folder_offset + member.size > expanded[member.folder]:
            report.fault("readable to the end", f"bytes {member.folder_offset} to "
                         f"{member.folder_offset + member.size} lie past the end of folder {member.folder} "
                         f"({expanded[member.folder]} bytes)", shown)

        name = decode_name(member, codec, code_page, report, shown)
        if name is None:
            continue
        fault = name_fault(name)
        if fault:
            report.fault("relative name", fault[1], shown)
            continue
        key = name.upper()
        if key in seen:
            report.fault("unique name", f'same file as member "{seen[key]}" (names ignore case)', shown)
        seen.setdefault(key, name)
        parts = key.split("\\")
        for depth in range(1, len(parts)):
            folders_of.setdefault("\\".join(parts[:depth]), name)

        length = temp_length + len(WORK_FOLDER) + 1 + len(member.name)
        if length > MAX_TARGET:
            report.fault("path length", f"target path is {length} bytes with a temporary folder of "
                         f"{temp_length} bytes; at most {MAX_TARGET} fit", shown)
        elif longest is None or length > longest[0]:
            longest = (length, shown)

    for key, name in seen.items():
        if key in folders_of:
            report.fault("unique name", f'is also the folder of member "{folders_of[key]}"', name)
    if not any(key == INSTALLER.upper() for key in seen):
        report.fault("installer at the root", f"no member {INSTALLER} at the root; the bootstrapper launches it")
    return longest


def embedded_manifest(pe):
    """The manifest Windows makes the process's activation context from
    (RT_MANIFEST, ID 1), or None."""
    for kind in getattr(getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None), "entries", []):
        if kind.id != RT_MANIFEST:
            continue
        for name in kind.directory.entries:
            if name.id == CREATEPROCESS_MANIFEST and name.directory.entries:
                data = name.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    return None


def bound_dlls(manifest):
    """The DLLs that `manifest` binds to system assemblies. Raises ValueError
    when it is not a manifest Windows can read."""
    if manifest.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        try:
            manifest = manifest.decode("utf-16")
        except UnicodeDecodeError as e:
            raise ValueError(e)
        blank = " \t\r\n\0"
    else:
        manifest = manifest.removeprefix(codecs.BOM_UTF8)
        blank = b" \t\r\n\0"
    try:
        root = ElementTree.fromstring(manifest.strip(blank))
    except ElementTree.ParseError as e:
        raise ValueError(e)
    if root.tag != ASM_V1 + "assembly":
        raise ValueError(f"the root element is {root.tag}, not assembly in namespace {ASM_V1[1:-1]}")
    dlls = set()
    # Without Microsoft's key the assembly is a private one, looked for in
    # the program's folder.
    for identity in root.iterfind(f"{ASM_V1}dependency/{ASM_V1}dependentAssembly/{ASM_V1}assemblyIdentity"):
        if identity.get("publicKeyToken", "").lower() == MICROSOFT_PUBLIC_KEY:
            name = identity.get("name", "").lower()
            dlls.update(*(provided for assembly, provided in SYSTEM_ASSEMBLIES.items() if assembly.lower() == name))
    return dlls


def planting_warnings(installer):
    """Warnings about the ways files planted beside the installer get
    loaded by it: a manifest read from its folder, and static imports."""
    try:
        import pefile
    except ImportError:
        return ["python3-pefile is not installed: the installer's imports and manifest were not checked"]
    try:
        pe = pefile.PE(data=installer, fast_load=True)
        pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
                                               pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"],
                                               pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
        manifest = embedded_manifest(pe)
    except pefile.PEFormatError as e:
        return [f"{INSTALLER} is not a Windows program ({e})"]
    warnings = []
    bound = set()
    if manifest is None:
        warnings.append(f"{INSTALLER} embeds no manifest, so Windows reads {INSTALLER}.manifest from the installer's "
                        f"folder; anyone who can write there can plant one that redirects its DLLs. Embed a manifest "
                        f"(resource type 24, ID 1)")
    else:
        try:
            bound = bound_dlls(manifest)
        except ValueError as e:
            warnings.append(f"{INSTALLER}'s embedded manifest does not parse ({e}): Windows does not start a program "
                            f"whose manifest it cannot read, and no DLL was taken as bound to a system assembly")
    dlls = sorted({entry.dll.decode("ascii", "replace").lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])})
    exposed = [d for d in dlls
               if d not in KNOWN_DLLS and d not in bound and not d.startswith(("api-ms-win-", "ext-ms-"))]
    config = getattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None)
    # Older pefile releases call the field by its former name.
    flags = getattr(config.struct, "DependentLoadFlags", getattr(config.struct, "Reserved1", 0)) if config else 0
    if exposed and not flags & LOAD_LIBRARY_SEARCH_SYSTEM32:
        hint = "".join(f"; {', '.join(sorted(provided & set(exposed)))} comes from the system too when its manifest "
                       f"depends on the assembly {assembly}"
                       for assembly, provided in SYSTEM_ASSEMBLIES.items() if provided & set(exposed))
        warnings.append(f"{INSTALLER} imports {', '.join(exposed)}, which Windows looks for in the installer's folder "
                        f"first; anyone who can write there can plant them. Link it with /DEPENDENTLOADFLAG:0x800 so "
                        f"that its imports come from the system folder only, and delay-load or fully qualify "
                        f"everything else{hint}")
    return warnings


def check(path, code_page, temp_length):
    """(faults, longest target path as (bytes, member name) or None)."""
    with open(path, "rb") as f:
        data = f.read()
    report = Report(os.path.basename(path))
    codec = codec_for(code_page)
    try:
        cabinet = cabfile.read(data)
    except cabfile.CabinetError as e:
        report.fault(e.rule, e.message)
        return report.faults, None
    check_structure(cabinet, len(data), report)
    expanded = check_blocks(cabinet, report)
    check_data(path, cabinet, codec, report)
    longest = check_members(cabinet, expanded, codec, code_page, temp_length, report)
    return report.faults, longest


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("cabinet")
    parser.add_argument("--code-page", type=int, default=product_names.DEFAULT_CODE_PAGE,
                        help="ANSI code page of the target Windows")
    parser.add_argument("--temp-folder-length", type=int, default=len(DEFAULT_TEMP_FOLDER),
                        help="bytes of the temporary folder path, trailing backslash included "
                             f"(default {len(DEFAULT_TEMP_FOLDER)}: {DEFAULT_TEMP_FOLDER})")
    parser.add_argument("--stamp", help="file to touch when the cabinet passes")
    parser.add_argument("--digest", help="file to write the installer's SHA-256 to")
    args = parser.parse_args()
    if shutil.which("cabextract") is None:
        sys.exit("check_payload: error: cabextract (Debian's cabextract) is not installed: without it the cabinet's "
                 "data and its installer cannot be checked")

    faults, longest = check(args.cabinet, args.code_page, args.temp_folder_length)
    installer = installer_digest.installer_bytes(args.cabinet) if not faults else None
    if not faults and installer is None:
        faults.append(f"{os.path.basename(args.cabinet)}: installer at the root: cabextract cannot extract {INSTALLER}")
    for fault in faults:
        print(f"check_payload: error: {fault}", file=sys.stderr)
    if faults:
        sys.exit(1)
    if longest:
        length, name = longest
        margin = MAX_TARGET - length
        level = "warning: " if margin < SMALL_MARGIN else ""
        print(f"check_payload: {level}longest target path is {length} bytes, for \"{name}\" with a temporary "
              f"folder of {args.temp_folder_length} bytes: {margin} bytes to spare of {MAX_TARGET}")
    if installer is not None:
        for warning in planting_warnings(installer):
            print(f"check_payload: warning: {warning}")
    if args.digest:
        with open(args.digest, "wb") as f:
            f.write(installer_digest.digest(installer))
    if args.stamp:
        with open(args.stamp, "w") as f:
            f.write("checked\n")


if __name__ == "__main__":
    main()
