"""Every seam of a run against every move another local user could make
there (tests/seams/Attacker.cpp), each allowed only where the objects' DACLs
let a standard user make it: whatever the move, nothing outside the work
folder is written, removed or given other permissions; the run exits 0 and
either launches the very installer that was packed or stops on a line that
names a defence; and a rerun without the attacker goes through. Every run
starts from a work folder an earlier run left, open to everyone.

MATRIX_CELLS chooses the cells: unset, the suite's subset below; "all", the
whole matrix; or a list such as
"launching:overwrite-installer,member-extracted:truncate-installer"."""
import hashlib
import os
import re
import shutil
import stat
import subprocess
import unittest

from winehost import DEMO_MARKER, GUID, INSTALLER, Prefix, bootstrapper, env, read

# The seams, in the order a run passes them.
POINTS = ("temp-held", "emptying", "emptied", "work-held", "payload-creating", "payload-created", "payload-written",
          "member-offered", "member-extracted", "expanded", "digest-checked", "granted-expanded", "launching", "installer-running")

# Each move, with the first seam at which what it acts on is there, and why
# it is left out before. A link is planted where nothing stands yet, but
# needs the folder it goes in. From the first seam on, a work folder stands
# (the earlier run's, then the new one).
NO_WORK_FOLDER = ("temp-held", None)
NO_CABINET = ("payload-written", "CDInst.cab is not written yet")
NO_MEMBER_FOLDER = ("member-offered", "InstData is not made yet")
NOT_WRITTEN = ("member-extracted", "the member is not written yet")
MOVES = {
    "link-work": ("temp-held", None),
    "rename-work": NO_WORK_FOLDER,
    "link-folder": NO_WORK_FOLDER,
    "link-installer": NO_WORK_FOLDER,
    "hardlink-installer": NO_WORK_FOLDER,
    "link-member": NO_MEMBER_FOLDER,
    "hardlink-member": NO_MEMBER_FOLDER,
    "plant-beside": NO_WORK_FOLDER,
    "plant-member-folder": NO_MEMBER_FOLDER,
    "replace-member": NOT_WRITTEN,
    "overwrite-installer": NOT_WRITTEN,
    "truncate-installer": NOT_WRITTEN,
    "delete-installer": NOT_WRITTEN,
    "hold-installer": NOT_WRITTEN,
    "overwrite-member": NOT_WRITTEN,
    "truncate-member": NOT_WRITTEN,
    "delete-member": NOT_WRITTEN,
    "hold-member": NOT_WRITTEN,
    "mount-work": NO_WORK_FOLDER,
    "swap-cabinet": NO_CABINET,
}

# Moves Wine cannot show, and why.
NOT_SHOWN = {
    "a mount point on a member folder while it is empty":
        "Wine makes no reparse points (FSCTL_SET_REPARSE_POINT fails with error 50); mount-work shows the work "
        "folder's as a link made in place, which no sharing of the program's sees either",
    "an object-manager link reached through such a mount point": "it needs the mount point",
    "a hard link to another account's file, or a new owner or DACL on the work folder":
        "under Wine every file belongs to the one Unix user, and no security descriptor is stored",
}

# Cells that break an invariant today, reported and not mended: none.
OPEN_FAULTS = {}

# The suite's cells: each kind of move at the seams where a defence decides.
SUITE_CELLS = (
    "temp-held:link-work",
    "emptying:mount-work",
    "payload-written:swap-cabinet",
    "member-offered:link-folder",
    "member-offered:hardlink-member",
    "member-extracted:link-member",
    "member-extracted:truncate-installer",
    "member-extracted:overwrite-installer",
    "member-extracted:hold-installer",
    "member-extracted:delete-member",
    "expanded:mount-work",
    "granted-expanded:mount-work",
    "granted-expanded:overwrite-installer",
    "launching:rename-work",
    "launching:link-installer",
    "launching:truncate-installer",
    "launching:plant-beside",
    "granted-expanded:plant-member-folder",
    "launching:replace-member",
    "installer-running:plant-beside",
    "installer-running:plant-member-folder",
    "installer-running:replace-member",
    "installer-running:overwrite-member",
    "installer-running:link-installer",
)

# Stop lines of the checks that end a run (docs/troubleshooting.md).
DEFENCES = re.compile(r"refused; stopped before the grant|in the work folder cannot be removed|cannot be moved aside|"
                      r'payload file ".*" (cannot be created|is not as written)|not expanded: error|'
                      r"bytes on disk, the cabinet says|not launched: error")
SEAM = re.compile(r'OutputDebugStringA "seam: (\S+) (done|absent|blocked: (?:error \d+|denied by its DACL))')
LAUNCHED = re.compile(r"^installer started \(process \d+\); it ended with exit code 0$")
MARKER_TEXT = b"the demo installer ran\r\n"
RUN_TIMEOUT = 180


def left_out(cell):
    point, move = cell.split(":")
    first, why = MOVES[move]
    return why if POINTS.index(point) < POINTS.index(first) else None


def chosen_cells(setting):
    every = [f"{point}:{move}" for point in POINTS for move in MOVES]
    if setting is None:
        return list(SUITE_CELLS)
    if setting == "all":
        return every
    cells = [cell.strip() for cell in setting.split(",") if cell.strip()]
    unknown = [cell for cell in cells if cell not in every]
    if unknown:
        raise ValueError(f"MATRIX_CELLS names no such cell: {', '.join(unknown)}")
    return cells


def digest(path):
    return hashlib.sha256(read(path)).hexdigest()


def snapshot(roots):
    """Everything about the files below `roots` that a write, a removal or
    a new descriptor would change: kind, mode, size, time, content and the
    extended attributes in which Wine keeps what it stores of a file."""
    found = {}
    for root in roots:
        for base, dirs, files in os.walk(root):
            for path in [base] + [os.path.join(base, n) for n in dirs + files]:
                info = os.lstat(path)
                attributes = {name: os.getxattr(path, name, follow_symlinks=False)
                              for name in os.listxattr(path, follow_symlinks=False)}
                content = digest(path) if stat.S_ISREG(info.st_mode) else None
                found[path] = (stat.S_IFMT(info.st_mode), stat.S_IMODE(info.st_mode), info.st_size,
                               info.st_mtime_ns, content, attributes)
    return found


def changes(before, after):
    return sorted(os.path.basename(path) for path in set(before) | set(after) if before.get(path) != after.get(path))


class Attacked:
    """One prefix in which one seam's cells run, each from a fresh work folder
    and fresh sentinels outside it: beside the temporary folder, where the
    links lead, and in the temporary folder itself."""

    def __init__(self, prefix):
        self.prefix = prefix
        self.outside = os.path.join(prefix.user_dir, "outside")
        self.beside = os.path.join(prefix.temp_dir, "beside")
        self.packed = digest(env("DEMO_INSTALLER"))

    def reset(self):
        os.makedirs(self.prefix.temp_dir, exist_ok=True)
        for name in os.listdir(self.prefix.temp_dir):
            path = os.path.join(self.prefix.temp_dir, name)
            if name.startswith(GUID) and (os.path.islink(path) or not os.path.isdir(path)):
                os.remove(path)
            elif name.startswith(GUID):
                shutil.rmtree(path)
        # What an earlier run left, open to everyone as it was then.
        os.makedirs(os.path.join(self.prefix.work_folder, "InstData"))
        with open(os.path.join(self.prefix.work_folder, "InstData", "left-by-an-earlier-run.txt"), "wb") as f:
            f.write(b"earlier\r\n")
        for folder in (self.prefix.work_folder, os.path.join(self.prefix.work_folder, "InstData")):
            os.chmod(folder, 0o777)
        for root in (self.outside, self.beside):
            shutil.rmtree(root, ignore_errors=True)
            os.makedirs(os.path.join(root, "sub"))
            for name in ("kept.txt", os.path.join("sub", "deep.txt")):
                with open(os.path.join(root, name), "wb") as f:
                    f.write(b"not the bootstrapper's\r\n")
                os.chmod(os.path.join(root, name), 0o644)
            os.chmod(root, 0o755)
        return snapshot((self.outside, self.beside))

    def run(self, seam=None):
        """The run's result, from a fresh work folder, and what it broke."""
        before = self.reset()
        if seam:
            self.prefix.env["WEB_INSTALLER_TEST_SEAM"] = seam
        process = self.prefix.start(bootstrapper("seams"))
        self.prefix.env.pop("WEB_INSTALLER_TEST_SEAM", None)
        try:
            result = self.prefix.finish(process, timeout=RUN_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            return None, [f"still running after {RUN_TIMEOUT} s"]
        broken = []
        if result.returncode != 0:
            broken.append(f"exit code {result.returncode}")
        moved = changes(before, snapshot((self.outside, self.beside)))
        if moved:
            broken.append(f"changed outside the work folder: {', '.join(moved)}")
        work = self.prefix.work_folder
        marker = os.path.join(work, DEMO_MARKER)
        if LAUNCHED.match(result.stop):
            installer = os.path.join(work, INSTALLER)
            if os.path.islink(installer) or not os.path.isfile(installer) or digest(installer) != self.packed:
                broken.append("launched an installer other than the one packed")
            if not os.path.isfile(marker) or read(marker) != MARKER_TEXT:
                broken.append("the installer left no marker")
            if sum("installer started" in line for line in result.reports) != 1:
                broken.append("launched more than once")
        elif not DEFENCES.search(result.stop):
            broken.append(f"stopped on a line that names no defence: {result.stop!r}")
        elif os.path.exists(marker):
            broken.append("an installer ran, though the run says it launched none")
        return result, broken

    def attack(self, cell):
        """The cell's line, and what it broke: the attacked run's invariants,
        then a rerun without the attacker."""
        result, broken = self.run(cell)
        seam = SEAM.search(result.output) if result else None
        if result and (seam is None or seam.group(1) != cell or seam.group(2) == "absent"):
            broken.append(f"the seam said {seam.group(0) if seam else 'nothing'}")
        rerun, rerun_broken = self.run()
        if rerun is None or rerun_broken or not LAUNCHED.match(rerun.stop):
            broken.append(f"the rerun: {'; '.join(rerun_broken) or rerun.stop}")
        if broken:
            return f"broken ({'; '.join(broken)})", broken
        if seam.group(2).startswith("blocked"):
            return f"held (move refused: {seam.group(2)[len('blocked: '):]})", []
        if LAUNCHED.match(result.stop):
            return "launched-intact", []
        return f"held (stopped: {result.stop})", []


class Matrix(unittest.TestCase):
    def test_every_move_at_every_seam_keeps_the_invariants(self):
        cells = chosen_cells(os.environ.get("MATRIX_CELLS"))
        outcomes = {}
        for point in POINTS:
            here = [cell for cell in cells if cell.startswith(point + ":")]
            for cell in here:
                why = left_out(cell)
                if why:
                    outcomes[cell] = (f"left out ({why})", [])
            run = [cell for cell in here if cell not in outcomes]
            if not run:
                continue
            with Prefix("matrix-" + point) as prefix:
                attacked = Attacked(prefix)
                for cell in run:
                    outcomes[cell] = attacked.attack(cell)
        for cell in cells:
            print(f"{cell.replace(':', ' × ')}: {outcomes[cell][0]}")

        broken = {cell: what for cell, (_, what) in outcomes.items() if what}
        unexpected = {cell: what for cell, what in broken.items()
                      if cell not in OPEN_FAULTS or not all(w.startswith("changed outside") for w in what)}
        mended = [cell for cell in cells if cell in OPEN_FAULTS and cell not in broken]
        reasons = {}
        for line, _ in outcomes.values():
            if line.startswith("left out"):
                reasons[line] = reasons.get(line, 0) + 1
        run_count = len(cells) - sum(reasons.values())
        held = sum(line.startswith("held") for line, _ in outcomes.values())
        print(f"matrix: {len(POINTS)} seams × {len(MOVES)} moves = {len(POINTS) * len(MOVES)} cells; "
              f"{len(cells)} chosen, {run_count} run: {held} held, "
              f"{run_count - held - len(broken)} launched intact, {len(broken)} broken "
              f"({len(broken) - len(unexpected)} of them open faults, reported)")
        for line, count in sorted(reasons.items()):
            print(f"  {count} {line}")
        for cell in sorted(set(broken) - set(unexpected)):
            print(f"  open fault {cell}: {OPEN_FAULTS[cell]}")
        for move, why in NOT_SHOWN.items():
            print(f"  not shown by Wine: {move}: {why}")
        self.assertEqual({}, unexpected)
        self.assertEqual([], mended, "these cells hold now: take them out of OPEN_FAULTS")


if __name__ == "__main__":
    unittest.main(verbosity=2)
