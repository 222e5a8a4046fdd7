#!/usr/bin/env python3
"""Checks the list of defences in docs/security.md by removal. For each row,
the row's patch (tests/defences/<row>.patch, which removes or weakens that one
defence) is applied to a scratch copy of the source tree, the copy is built,
and only the row's tests are run: they must fail. One line per row, then a
summary; the exit status is 1 when a row was missed.

    tests/defences/check.py [--row ROW]... [--scratch DIR] [--arch i686|x86_64] [--no-baseline]
    tests/defences/check.py --check-patches

The scratch copy and its build tree stay in DIR (build/defences by default),
so that the next run builds only what changed. The tree is built for i686
and its tests run natively where the kernel runs 32-bit processes, in both
host configurations; elsewhere the x86-64 stand-in runs them under wine64.
First every row's tests run once without any patch (the baseline): a test
that fails then cannot catch anything.

A row's tests are `ctest-name: case`: a GoogleTest filter for unit_tests, a
test method (Class.method) for the end-to-end files, cells for e2e_matrix
(run with MATRIX_CELLS). A row whose tests name a CTest test this tree does
not have is pending; a row without tests is one nothing here can catch.

--check-patches only reads: every row with tests has a patch, every patch
has a row, and each patch applies to the tree as it is (git apply --check,
which changes nothing and reads the files, not git's index). It takes a
second and runs in the suite (tools_defence_patches).
"""
import argparse
import collections
import json
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
PATCHES = os.path.join(ROOT, "tests", "defences")
TABLE = re.compile(r"<!-- defences -->\n(.*?)<!-- /defences -->", re.S)
# A row: "- `id`: defence", then the fields "  - code: ", "  - tests: ",
# "  - how: ", each continued on lines indented further.
ROW = re.compile(r"^- `([\w-]+)`: ", re.M)
FIELD = re.compile(r"^  - (code|tests|how): ?", re.M)
TEST = re.compile(r"`(\w+): ([^`]+)`")
PYTHON = "/usr/bin/python3"
SECURITY = os.path.join("docs", "security.md")

Row = collections.namedtuple("Row", "id defence code tests condition")


def read_table():
    with open(os.path.join(ROOT, SECURITY), encoding="utf-8") as f:
        found = TABLE.search(f.read())
    if not found:
        sys.exit(f"check: {SECURITY} has no list between <!-- defences --> and <!-- /defences -->")
    text = found.group(1)
    starts = [match.start() for match in ROW.finditer(text)]
    if not starts or text[:starts[0]].strip():
        sys.exit(f"check: {SECURITY}: the list does not start with a row: {text[:80]!r}")
    rows = []
    for start, end in zip(starts, starts[1:] + [len(text)]):
        item = text[start:end]
        parts = FIELD.split(item)
        labels = parts[1::2]
        if labels != ["code", "tests", "how"]:
            sys.exit(f"check: {SECURITY}: a row needs code, tests and how, in turn: {item.splitlines()[0]}")
        row_id = ROW.match(item).group(1)
        defence, code, tests, condition = (" ".join(part.split()) for part in
                                           [parts[0][ROW.match(item).end():]] + parts[2::2])
        rows.append(Row(row_id, defence, code, TEST.findall(tests), condition))
    return rows


def run(command, **kwargs):
    return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, **kwargs)


def sync_source(source):
    """Makes `source` a copy of the tree's files as they are now, tracked or
    not yet added; a file whose bytes did not change keeps its time, so
    that the build after it stays incremental."""
    listed = run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=ROOT, check=True)
    names = {name for name in listed.stdout.split("\0") if name and os.path.isfile(os.path.join(ROOT, name))}
    for name in names:
        origin, copy = os.path.join(ROOT, name), os.path.join(source, name)
        with open(origin, "rb") as f:
            data = f.read()
        if os.path.isfile(copy):
            with open(copy, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        with open(copy, "wb") as f:
            f.write(data)
        shutil.copymode(origin, copy)
    for base, _, files in os.walk(source):
        for name in files:
            path = os.path.join(base, name)
            if os.path.relpath(path, source) not in names:
                os.remove(path)


def kernel_runs_i386():
    script = f"source '{ROOT}/scripts/lib.sh' && can_run_win32"
    return run(["bash", "-c", script]).returncode == 0


class Tree:
    """The scratch copy, its build tree and its CTest tests."""

    def __init__(self, scratch, arch):
        self.source = os.path.join(scratch, "src")
        self.build_dir = os.path.join(scratch, arch)
        self.logs = os.path.join(scratch, "logs")
        self.configs = ["win64"] if arch == "x86_64" else ["win32", "wow64"]
        self.toolchain = f"toolchain-{arch}-w64-mingw32.cmake"
        os.makedirs(self.source, exist_ok=True)
        shutil.rmtree(self.logs, ignore_errors=True)
        os.makedirs(self.logs)
        self.tests = {}

    def configure(self):
        command = ["cmake", "-S", self.source, "-B", self.build_dir,
                   f"-DCMAKE_TOOLCHAIN_FILE={self.source}/cmake/{self.toolchain}",
                   "-DWEB_INSTALLER_BUILD_TESTS=ON", f"-DPython3_EXECUTABLE={PYTHON}"]
        if shutil.which("ninja") and not os.path.exists(os.path.join(self.build_dir, "CMakeCache.txt")):
            command += ["-G", "Ninja"]
        configured = run(command)
        if configured.returncode != 0:
            sys.exit(f"check: the scratch tree does not configure:\n{configured.stdout}{configured.stderr}")
        listed = run(["ctest", "--test-dir", self.build_dir, "--show-only=json-v1"], check=True)
        for test in json.loads(listed.stdout)["tests"]:
            properties = {p["name"]: p["value"] for p in test.get("properties", [])}
            self.tests[test["name"]] = (test["command"], properties)

    def build(self, targets, log):
        command = ["cmake", "--build", self.build_dir, f"-j{os.cpu_count()}"]
        for target in targets:
            command += ["--target", target]
        built = run(command)
        with open(log, "w") as f:
            f.write(built.stdout + built.stderr)
        return built.returncode == 0

    def patch(self, patch, reverse=False):
        """git apply's complaint, or None once the patch is applied."""
        command = ["git", "apply"] + (["-R"] if reverse else [])
        # The copy may lie inside the tree's own repository, where git would
        # skip every path outside the folder it runs in.
        environment = dict(os.environ, GIT_CEILING_DIRECTORIES=os.path.dirname(self.source))
        checked = run(command + ["--check", patch], cwd=self.source, env=environment)
        if checked.returncode != 0:
            return "; ".join((checked.stderr or checked.stdout).strip().splitlines())
        run(command + [patch], cwd=self.source, env=environment, check=True)
        return None

    def make_templates(self):
        for config in self.configs:
            command, properties = self.tests[f"wine_prefix_template_{config}"]
            environment = dict(os.environ, **dict(v.split("=", 1) for v in properties["ENVIRONMENT"]))
            if not os.path.exists(os.path.join(environment["WINE_TEMPLATE"], "system.reg")):
                run(command, env=environment, check=True)

    def run_test(self, name, case, config, log):
        """"passed", "failed", "skipped", "no such case", or "pending" when
        the tree has no such CTest test."""
        found = self.tests.get(f"{name}_{config}") or self.tests.get(name)
        if found is None:
            return "pending"
        command, properties = found
        environment = dict(os.environ, **dict(v.split("=", 1) for v in properties.get("ENVIRONMENT", [])))
        if name == "unit_tests":
            command = command + [f"--gtest_filter={case}"]
        elif name == "e2e_matrix":
            environment["MATRIX_CELLS"] = case
        else:
            command = command + [case]
        started = time.monotonic()
        try:
            result = run(command, env=environment, cwd=properties.get("WORKING_DIRECTORY"),
                         timeout=properties.get("TIMEOUT", 1500))
            output, status = result.stdout + result.stderr, result.returncode
        except subprocess.TimeoutExpired as timeout:
            output, status = f"{timeout.stdout or ''}{timeout.stderr or ''}\ntimed out", 1
        with open(log, "a") as f:
            f.write(f"=== {name}_{config}: {case} ({time.monotonic() - started:.0f} s, exit {status})\n{output}\n")
        if name == "unit_tests" and re.search(r"Running 0 tests", output):
            return "no such case"
        if status == 0 and re.search(r"\.\.\. skipped|\[  SKIPPED \]", output):
            return "skipped"
        return "passed" if status == 0 else "failed"


def targets_for(row):
    return ["unit_tests"] if all(name == "unit_tests" for name, _ in row.tests) else []


def check_row(tree, row, baseline):
    """(verdict, detail) for one row."""
    if not row.tests:
        return "not testable", row.condition
    patch = os.path.join(PATCHES, row.id + ".patch")
    if not os.path.exists(patch):
        return "MISSED", f"no patch {os.path.relpath(patch, ROOT)}"
    complaint = tree.patch(patch)
    if complaint:
        return "MISSED", f"the patch no longer applies: {complaint}"
    try:
        log = os.path.join(tree.logs, row.id + ".log")
        if not tree.build(targets_for(row), log):
            return "MISSED", f"the tree does not build with the patch (see {log})"
        caught, pending, other = [], [], []
        for config in tree.configs:
            outcomes = {}
            for name, case in row.tests:
                before = baseline.get((name, case, config), "passed")
                outcomes[(name, case)] = tree.run_test(name, case, config, log) if before == "passed" else before
            caught.append([f"{name}: {case}" for (name, case), o in outcomes.items() if o == "failed"])
            pending += [f"{name}: {case}" for (name, case), o in outcomes.items() if o == "pending"]
            other += [f"{name}: {case} {o}" for (name, case), o in outcomes.items() if o not in ("failed", "pending")]
        if all(caught):
            return "caught", "by " + "; ".join(sorted(set(sum(caught, []))))
        if pending:
            return "pending", "needs " + "; ".join(sorted(set(pending)))
        return "MISSED", "; ".join(sorted(set(other)))
    finally:
        complaint = tree.patch(patch, reverse=True)
        if complaint:
            sys.exit(f"check: {row.id}: the patch does not come off the scratch tree again: {complaint}")


def check_patches(rows):
    """What is wrong with the patches, one line each: a row with tests but
    no patch, a patch of no row, a patch that does not apply to the tree as
    it is. Reads only: git apply --check changes nothing, and compares with
    the files, not with git's index."""
    problems = []
    environment = dict(os.environ, GIT_CEILING_DIRECTORIES=os.path.dirname(ROOT))
    for row in rows:
        patch = os.path.join(PATCHES, row.id + ".patch")
        if not row.tests:
            continue
        if not os.path.exists(patch):
            problems.append(f"{row.id}: no patch {os.path.relpath(patch, ROOT)}")
            continue
        # Verbose, so that a path git would skip (a tree inside another
        # checkout) shows as a complaint instead of passing unchecked.
        checked = run(["git", "apply", "--check", "-v", patch], cwd=ROOT, env=environment)
        output = (checked.stderr + checked.stdout).strip()
        if checked.returncode != 0 or "Skipped patch" in output:
            reasons = [line for line in output.splitlines() if not line.startswith("Checking patch")]
            problems.append(f"{row.id}: the patch no longer applies: {'; '.join(reasons)}")
    ids = {row.id for row in rows}
    for name in sorted(os.listdir(PATCHES)):
        if name.endswith(".patch") and name[:-len(".patch")] not in ids:
            problems.append(f"{name}: no row of {SECURITY} has this name")
    return problems


def main():
    parser = argparse.ArgumentParser(description=f"Checks the list of defences in {SECURITY} by removal.")
    parser.add_argument("--row", action="append", help="check only this row (repeatable)")
    parser.add_argument("--scratch", default=os.path.join(ROOT, "build", "defences"))
    parser.add_argument("--arch", choices=("i686", "x86_64"))
    parser.add_argument("--no-baseline", action="store_true", help="skip the run of every row's tests unpatched")
    parser.add_argument("--check-patches", action="store_true",
                        help="only check that every row's patch exists and applies; build and run nothing")
    args = parser.parse_args()
    started = time.monotonic()
    rows = read_table()
    if args.check_patches:
        problems = check_patches(rows)
        for problem in problems:
            print(f"check: {problem}")
        print(f"check: {len(rows)} rows, {len(problems)} problems with their patches")
        sys.exit(1 if problems else 0)
    if args.row:
        unknown = set(args.row) - {row.id for row in rows}
        if unknown:
            sys.exit(f"check: no such row: {', '.join(sorted(unknown))}")
        rows = [row for row in rows if row.id in args.row]
    arch = args.arch or ("i686" if kernel_runs_i386() else "x86_64")
    tree = Tree(os.path.abspath(args.scratch), arch)
    print(f"check: {len(rows)} of the table's rows; scratch tree {tree.build_dir} ({arch}, {', '.join(tree.configs)})", flush=True)
    sync_source(tree.source)
    tree.configure()
    if not tree.build([], os.path.join(tree.logs, "baseline.log")):
        sys.exit(f"check: the scratch tree does not build without patches (see {tree.logs}/baseline.log)")
    tree.make_templates()

    baseline = {}
    if not args.no_baseline:
        cases = sorted({test for row in rows for test in row.tests})
        for config in tree.configs:
            for name, case in cases:
                outcome = tree.run_test(name, case, config, os.path.join(tree.logs, "baseline.log"))
                baseline[(name, case, config)] = outcome
                if outcome not in ("passed", "pending"):
                    print(f"check: baseline: {name}: {case} ({config}) {outcome} without any patch", flush=True)

    verdicts = collections.Counter()
    for row in rows:
        verdict, detail = check_row(tree, row, baseline)
        verdicts[verdict] += 1
        print(f"{row.id}: {verdict} ({detail})", flush=True)
    minutes, seconds = divmod(int(time.monotonic() - started), 60)
    print(f"rows: {len(rows)}, caught: {verdicts['caught']}, missed: {verdicts['MISSED']}, "
          f"pending: {verdicts['pending']}, not testable: {verdicts['not testable']}; {minutes} min {seconds} s")
    sys.exit(1 if verdicts["MISSED"] else 0)


if __name__ == "__main__":
    main()
