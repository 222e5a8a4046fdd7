"""The benchmark keeps working: its payload generator gives the product's shape
every time, and a scaled-down run of bench/run succeeds and reports every
figure."""
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

import payload

SOURCE_DIR = os.environ["SOURCE_DIR"]


def digest_tree(folder):
    found = {}
    for base, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = hashlib.sha256(f.read()).hexdigest()
    return found


class PayloadTree(unittest.TestCase):
    def test_generated_twice_gives_the_same_product_shaped_tree(self):
        with tempfile.TemporaryDirectory() as work:
            trees = [os.path.join(work, name) for name in ("a", "b")]
            for tree in trees:
                payload.generate(tree, 0.001, os.environ["DEMO_INSTALLER"])
            first, second = (digest_tree(tree) for tree in trees)
        self.assertEqual(first, second)

        self.assertEqual(76, len(first))
        self.assertIn(payload.INSTALLER, first)
        tops = [name.split(os.sep)[0] for name in first if os.sep in name]
        self.assertEqual((41, 34), (tops.count("InstData"), tops.count("language")))
        self.assertLessEqual(max(name.count(os.sep) for name in first), 3)
        # The cabinet's order must never ask the bootstrapper for more than one
        # new folder level per member.
        order = sorted((n.replace(os.sep, "\\") for n in first if n != payload.INSTALLER), key=str.encode)
        self.assertLessEqual(max(payload.new_folder_levels([payload.INSTALLER] + order)), 1)

    def test_many_member_shape_is_small_members_over_folders_one_new_level_at_a_time(self):
        with tempfile.TemporaryDirectory() as work:
            trees = [os.path.join(work, name) for name in ("a", "b")]
            for tree in trees:
                payload.generate_many(tree, os.environ["DEMO_INSTALLER"], 200, 20)
            first, second = (digest_tree(tree) for tree in trees)
            sizes = [os.path.getsize(os.path.join(trees[0], n)) for n in first if n != payload.INSTALLER]
        self.assertEqual(first, second)
        self.assertEqual(201, len(first))
        self.assertEqual(20, len({os.path.dirname(n) for n in first if n != payload.INSTALLER}))
        self.assertTrue(all(1024 <= size <= 4096 for size in sizes))
        order = sorted((n.replace(os.sep, "\\") for n in first if n != payload.INSTALLER), key=str.encode)
        self.assertLessEqual(max(payload.new_folder_levels([payload.INSTALLER] + order)), 1)
        full = payload.many_members()
        self.assertEqual((10000, 100), (len(full), len({name.rsplit("/", 1)[0] for name, _, _ in full})))
        self.assertAlmostEqual(26e6, sum(size for _, _, size in full), delta=1e6)

    def test_full_scale_mix_is_mostly_already_compressed(self):
        sizes = payload.members(1.0)
        total = sum(size for _, _, size in sizes)
        packed = sum(size for _, kind, size in sizes if kind == "packed")
        self.assertAlmostEqual(0.6, packed / total, delta=0.02)
        self.assertEqual({"packed", "code", "text"}, {kind for _, kind, _ in sizes})


class SmokeRun(unittest.TestCase):
    def test_scaled_down_run_succeeds_and_reports_every_figure(self):
        out = os.path.join(os.environ["TEST_WORK"], "bench-smoke")
        os.makedirs(out, exist_ok=True)
        log_path = os.path.join(out, "output.txt")
        # Output to a file: Wine's background processes would hold a pipe.
        with open(log_path, "wb") as log:
            returncode = subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "bench", "run"), "--smoke",
                                         "--out", out], stdin=subprocess.DEVNULL, stdout=log,
                                        stderr=subprocess.STDOUT, timeout=900).returncode
        with open(log_path, encoding="utf-8", errors="replace") as log:
            output = log.read()
        self.assertEqual(0, returncode, output)
        for figure in ("76 members (1 at the root, 41 under InstData, 34 under language)", "median",
                       "boot/extrac32", "peak private memory (RssAnon)", "peak resident memory (VmHWM)",
                       "exe size minus payload", "with the payload", "301 members (1 at the root, 300 of ",
                       "boot/floor", "many, bootstrapper: median ratio to the floor"):
            self.assertIn(figure, output)


if __name__ == "__main__":
    unittest.main()
