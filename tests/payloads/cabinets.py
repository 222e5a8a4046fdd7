#!/usr/bin/env python3
"""The test cabinets that bootstrapper variants are built around.

Every module payloads/set_*.py beside this file contributes a dict CABINETS
of name -> function(context, path) that writes the cabinet to `path`.
  cabinets.py --list                      names, one a line
  cabinets.py --out DIR --helpers BIN --demo-installer EXE
                                          writes DIR/<name>/payload/payload.cab
"""
import argparse
import glob
import importlib.util
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)


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
    def __init__(self, helpers, demo_installer):
        self.helpers = helpers
        self.demo_installer = demo_installer

    def helper(self, name):
        return os.path.join(self.helpers, name + ".exe")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--out")
    parser.add_argument("--helpers")
    parser.add_argument("--demo-installer")
    args = parser.parse_args()
    cabinets = load_sets()
    if args.list:
        for name in sorted(cabinets):
            print(name)
        return
    context = Context(args.helpers, args.demo_installer)
    for name, build in sorted(cabinets.items()):
        target = os.path.join(args.out, name, "payload", "payload.cab")
        os.makedirs(os.path.dirname(target), exist_ok=True)
        build(context, target)


if __name__ == "__main__":
    main()
