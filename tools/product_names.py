#!/usr/bin/env python3
"""The product's names, read from their one table
(installer/module/Web_Installer/product_names.toml). The build's tools and
the tests import them from here; the build and the shell scripts ask it:

  product_names.py get NAME      prints one value of this module, e.g. GUID
  product_names.py header OUT    writes the C header with the names, which the
                                 bootstrapper's code and its .rc include
"""
import os
import sys

try:
    import tomllib
except ImportError:
    sys.exit(f"product_names: {sys.executable} is Python {sys.version.split()[0]}; reading the names takes 3.11 or later")

TABLE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                     "installer", "module", "Web_Installer", "product_names.toml")

with open(TABLE, "rb") as _f:
    _names = tomllib.load(_f)

GUID = _names["guid"]
MUTEX_LOCAL = _names["mutex"]["name"] + GUID
MUTEX_GLOBAL = _names["mutex"]["global_prefix"] + MUTEX_LOCAL
RUNONCE_SUBKEY = _names["cleanup"]["runonce_key"]
CLEANUP_VALUE = _names["cleanup"]["value_name"]
CLEANUP_COMMAND_NT = _names["cleanup"]["command_nt"]
CLEANUP_COMMAND_9X = _names["cleanup"]["command_9x"]
PAYLOAD_FILE = _names["work_folder"]["payload_file"]
INSTALLER = _names["work_folder"]["installer_file"]
RESOURCE_TYPE = _names["resources"]["type"]
PAYLOAD_RESOURCE = _names["resources"]["payload"]
PAYLOAD_LANGUAGE = _names["resources"]["payload_language"]
DIGEST_RESOURCE = _names["resources"]["installer_digest"]
DEFAULT_CODE_PAGE = _names["code_page"]["default"]
_CODECS = {int(page): codec for page, codec in _names["code_page"]["codecs"].items()}


def codec_for(code_page):
    """The name of Python's codec for a Windows code page."""
    return _CODECS.get(code_page, f"cp{code_page}")


DEFAULT_CODEC = codec_for(DEFAULT_CODE_PAGE)


def _c_string(text):
    if any(not " " <= c <= "~" for c in text):
        sys.exit(f"product_names: {text!r} is not printable ASCII")
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def header():
    """The C header: string literals for the code, numbers that windres reads
    too (the .rc takes the language as its primary and sublanguage ids)."""
    strings = (("PRODUCT_GUID", GUID), ("MUTEX_NAME_LOCAL", MUTEX_LOCAL), ("MUTEX_NAME_GLOBAL", MUTEX_GLOBAL),
               ("RUNONCE_KEY", RUNONCE_SUBKEY), ("CLEANUP_VALUE_NAME", CLEANUP_VALUE),
               ("CLEANUP_COMMAND_NT", CLEANUP_COMMAND_NT), ("CLEANUP_COMMAND_9X", CLEANUP_COMMAND_9X),
               ("PAYLOAD_FILE_NAME", PAYLOAD_FILE), ("INSTALLER_FILE_NAME", INSTALLER))
    numbers = (("PAYLOAD_RESOURCE_TYPE", RESOURCE_TYPE), ("PAYLOAD_RESOURCE_NAME", PAYLOAD_RESOURCE),
               ("PAYLOAD_RESOURCE_PRIMARY_LANGUAGE", f"0x{PAYLOAD_LANGUAGE & 0x3FF:02X}"),
               ("PAYLOAD_RESOURCE_SUBLANGUAGE", f"0x{PAYLOAD_LANGUAGE >> 10:02X}"),
               ("INSTALLER_DIGEST_RESOURCE_NAME", DIGEST_RESOURCE))
    lines = ["// Made by tools/product_names.py from product_names.toml.", "#pragma once", ""]
    lines += [f"#define {name} {_c_string(value)}" for name, value in strings]
    lines += [f"#define {name} {value}" for name, value in numbers]
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "get" and sys.argv[2].isupper() and sys.argv[2] in globals():
        print(globals()[sys.argv[2]])
    elif len(sys.argv) == 3 and sys.argv[1] == "header":
        os.makedirs(os.path.dirname(os.path.abspath(sys.argv[2])), exist_ok=True)
        with open(sys.argv[2], "w", newline="\n") as f:
            f.write(header())
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
