#!/usr/bin/env python3
"""The test cabinets that bootstrapper variants are built around.

Every module payloads/set_*.py beside this file contributes a dict CABINETS
of name -> function(context, path) that writes the cabinet to `path`. The
installer's digest goes beside it, as the product build makes it; a function
may return other bytes to embed as the digest instead.
  cabinets.py --list                      names, one a line
  cabinets.py --out DIR --helpers BIN --demo-installer EXE --demo-installer-64 EXE
                                          writes DIR/<name>/payload/payload.cab
                                          and installer.sha256 beside it
"""
import argparse
import glob
import importlib.util
import os
import sys

import installer_digest

HERE = os.path.dirname(os.path.abspath(__file__))

# Embedded where a cabinet has no installer to extract: no file has it.
NO_INSTALLER = bytes(32)


def load_sets():
    cabinets = {}
    for path in sorted(glob.glob(os.path.join(HERE, "set_*.py"))):
        name = os.path.splitext(os.path.basename(path))[0]
        module_spec = importlib.util.spec_from_file_location(name, path)
        module = importlib.util.module_from_spec(module_spec)
        module_spec.loader.exec_module(module)
        for key, build in module.CABINETS.items():
            if key in cabinets:
                sys.exit(f"cabinets.py: {key} is defined twice")
            cabinets[key] = build
    return cabinets


class Context:
    def __init__(self, helpers, demo_installer, demo_installer_64):
        self.helpers = helpers
        self.demo_installer = demo_installer
        self.demo_installer_64 = demo_installer_64

    def helper(self, name):
        return os.path.join(self.helpers, name + ".exe")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--out")
    parser.add_argument("--helpers")
    parser.add_argument("--demo-installer")
    parser.add_argument("--demo-installer-64")
    args = parser.parse_args()
    cabinets = load_sets()
    if args.list:
        for name in sorted(cabinets):
            print(name)
        return
    context = Context(args.helpers, args.demo_installer, args.demo_installer_64)
    for name, build in sorted(cabinets.items()):
        target = os.path.join(args.out, name, "payload", "payload.cab")
        os.makedirs(os.path.dirname(target), exist_ok=True)
        digest = build(context, target)
        if digest is None:
            installer = installer_digest.installer_bytes(target)
            digest = NO_INSTALLER if installer is None else installer_digest.digest(installer)
        with open(os.path.join(os.path.dirname(target), "installer.sha256"), "wb") as f:
            f.write(digest)


if __name__ == "__main__":
    main()
