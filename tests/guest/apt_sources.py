#!/usr/bin/env python3
"""Reads the Debian package sources this machine's apt uses, so that the guest
image is unpacked from the same mirror and the project never names one.

  apt_sources.py mirrors RELEASE   one-line entries for mmdebstrap: the enabled
                                   "deb" sources of RELEASE, RELEASE-updates
                                   and RELEASE-security with component main
  apt_sources.py hosts             every host named in apt's source files,
                                   disabled entries and comments included

Reads sources.list and sources.list.d/*.list (one-line format) and
sources.list.d/*.sources (deb822) under $WEB_INSTALLER_APT_DIR (default
/etc/apt); apt ignores files with other names, and so does this.
"""
import glob
import os
import re
import sys


def source_files(apt_dir):
    files = [os.path.join(apt_dir, "sources.list")]
    files += sorted(glob.glob(os.path.join(apt_dir, "sources.list.d", "*.list")) +
                    glob.glob(os.path.join(apt_dir, "sources.list.d", "*.sources")))
    return [f for f in files if os.path.isfile(f)]


def one_line_entries(text):
    """(types, uris, suites, components, enabled) of each entry of a .list file."""
    for line in text.splitlines():
        line = line.split("#", 1)[0]
        line = re.sub(r"\[[^\]]*\]", " ", line)  # options: [arch=... signed-by=...]
        words = line.split()
        if len(words) >= 3:
            yield [words[0]], [words[1]], [words[2]], words[3:], True


def deb822_entries(text):
    """The same for each stanza of a .sources file."""
    for stanza in re.split(r"\n[ \t]*\n", text):
        fields, name = {}, None
        for line in stanza.splitlines():
            if line.startswith("#"):
                continue
            if line[:1] in (" ", "\t") and name:
                fields[name] += " " + line.strip()
            elif ":" in line:
                name, value = line.split(":", 1)
                name = name.strip().lower()
                fields[name] = value.strip()
        if "types" in fields:
            enabled = fields.get("enabled", "yes").lower() != "no"
            yield (fields["types"].split(), fields.get("uris", "").split(), fields.get("suites", "").split(),
                   fields.get("components", "").split(), enabled)


def entries(apt_dir):
    for path in source_files(apt_dir):
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        yield from (deb822_entries(text) if path.endswith(".sources") else one_line_entries(text))


def mirrors(apt_dir, release):
    """One "deb URI SUITE main" line per mirror and suite, main suite first."""
    wanted = [release, release + "-updates", release + "-security"]
    found = []
    for types, uris, suites, components, enabled in entries(apt_dir):
        if not enabled or "deb" not in types or "main" not in components:
            continue
        for suite in suites:
            for uri in uris:
                if suite in wanted and (uri, suite) not in found:
                    found.append((uri, suite))
    found.sort(key=lambda entry: wanted.index(entry[1]))
    return [f"deb {uri} {suite} main" for uri, suite in found]


def hosts(apt_dir):
    """Host names in any URI of the source files, whatever the entry's state."""
    names = set()
    for path in source_files(apt_dir):
        with open(path, encoding="utf-8", errors="replace") as f:
            names.update(re.findall(r"[a-z][a-z0-9+.-]*://(?:[^@/\s\]]*@)?([^:/\s\]]+)", f.read(), re.I))
    return sorted(names)


if __name__ == "__main__":
    apt_dir = os.environ.get("WEB_INSTALLER_APT_DIR", "/etc/apt")
    if sys.argv[1:2] == ["mirrors"] and len(sys.argv) == 3:
        lines = mirrors(apt_dir, sys.argv[2])
    elif sys.argv[1:] == ["hosts"]:
        lines = hosts(apt_dir)
    else:
        sys.exit(__doc__)
    for line in lines:
        print(line)
