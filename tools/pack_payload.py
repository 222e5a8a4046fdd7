#!/usr/bin/env python3
"""Packs a folder into the payload cabinet: one MSZIP cabinet, backslash-
separated relative names, the installer first and the rest in byte order,
every file time fixed, so that the same folder always gives the same bytes.

gcab stores a name outside ASCII as UTF-8 and marks it so; the bootstrapper
hands names to the system as bytes of the target's ANSI code page, so such
names are rewritten in that code page."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cabfile  # noqa: E402
import product_names  # noqa: E402
from product_names import INSTALLER  # noqa: E402

# 2020-01-01 00:00:00 UTC unless the build says otherwise.
DEFAULT_EPOCH = 1577836800


def collect(folder):
    names = []
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for f in files:
            rel = os.path.relpath(os.path.join(root, f), folder)
            names.append(rel)
    return names


def in_code_page(cabinet_bytes, code_page):
    cabinet = cabfile.read(cabinet_bytes)
    codec = product_names.codec_for(code_page)
    renames = {}
    for index, member in enumerate(cabinet.members):
        if not member.attribs & cabfile.NAME_IS_UTF:
            continue
        name = member.name.decode("utf-8")
        try:
            encoded = name.encode(codec)
        except UnicodeEncodeError as e:
            sys.exit(f"pack_payload: {name}: {name[e.start:e.end]!r} cannot be written in code page {code_page}")
        renames[index] = (encoded, member.attribs & ~cabfile.NAME_IS_UTF)
    return cabfile.with_names(cabinet, renames) if renames else cabinet_bytes


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("folder", help="folder whose whole tree becomes the cabinet")
    parser.add_argument("--installer", help="file to place at the root as " + INSTALLER)
    parser.add_argument("--out", required=True, help="cabinet to write")
    parser.add_argument("--code-page", type=int, default=product_names.DEFAULT_CODE_PAGE,
                        help="ANSI code page of the target Windows")
    args = parser.parse_args()

    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", DEFAULT_EPOCH))
    with tempfile.TemporaryDirectory() as stage:
        tree = os.path.join(stage, "tree")
        shutil.copytree(args.folder, tree, symlinks=False)
        if args.installer:
            shutil.copyfile(args.installer, os.path.join(tree, INSTALLER))
        names = collect(tree)
        if INSTALLER not in names:
            sys.exit(f"pack_payload: {INSTALLER} is missing at the root of {args.folder}")
        names.remove(INSTALLER)
        names.sort(key=lambda n: n.replace(os.sep, "\\").encode("utf-8"))
        names.insert(0, INSTALLER)
        for n in names:
            os.utime(os.path.join(tree, n), (epoch, epoch))
        out = os.path.abspath(args.out)
        os.makedirs(os.path.dirname(out), exist_ok=True)
        tmp_out = out + ".tmp"
        env = dict(os.environ, TZ="UTC")
        subprocess.run(["gcab", "-c", "-z", tmp_out] + names, cwd=tree, env=env, check=True)
        with open(tmp_out, "rb") as f:
            packed = in_code_page(f.read(), args.code_page)
        with open(tmp_out, "wb") as f:
            f.write(packed)
        os.replace(tmp_out, out)


if __name__ == "__main__":
    main()
