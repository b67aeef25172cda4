#!/usr/bin/env python3
"""The layer check on a copy of the tree's sources: the copy passes, and each
include planted against the rule fails it, naming the file and line.

Run: python3 tests/scripts/check_layers_test.py [TREE]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TREE = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else
                       os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(TREE, "scripts", "check_layers.py")


def only_sources(folder, names):
    """What a copy leaves out: every file but C++ sources and headers."""
    return [n for n in names
            if os.path.isfile(os.path.join(folder, n)) and not n.endswith((".cpp", ".h"))]


def run_check(tree):
    result = subprocess.run([sys.executable, SCRIPT, tree], capture_output=True, text=True)
    return result.returncode, result.stdout


class LayerCheckTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.copy = tempfile.mkdtemp(prefix="layers-")
        for folder in ("platform", "link", "secure", "plain", "poll", "report", "app", "sim",
                       "bench", "fuzz", "tests"):
            shutil.copytree(os.path.join(TREE, folder), os.path.join(cls.copy, folder),
                            ignore=only_sources)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.copy)

    def plant(self, path, include):
        """Adds a file, or a line at the top of an existing one, that
        includes `include`, until the test ends; returns the start of the
        line that names it."""
        full = os.path.join(self.copy, path)
        if os.path.exists(full):
            text = open(full).read()
            self.addCleanup(lambda: open(full, "w").write(text))
        else:
            text = ""
            self.addCleanup(os.remove, full)
        with open(full, "w") as f:
            f.write(f'#include "{include}"\n' + text)
        return f"{path}:1: includes "

    def assert_refused(self, path, include, reason):
        where = self.plant(path, include)
        code, out = run_check(self.copy)
        self.assertEqual(code, 1, out)
        self.assertEqual(len(out.splitlines()), 1, out)
        self.assertTrue(out.startswith(where), out)
        self.assertIn(reason, out)

    def test_the_tree_as_it_is_passes(self):
        self.assertEqual(run_check(self.copy), (0, ""))

    def test_a_layer_including_one_above_fails(self):
        self.assert_refused("link/cmd.cpp", "poll/settings.h", "poll/ is a layer above link/")

    def test_an_include_beside_the_file_is_resolved_there(self):
        # "settings.h" from link/ would be link/settings.h, which is not there:
        # the tree's poll/settings.h is not what it names.
        self.plant("link/cmd.cpp", "settings.h")
        self.assertEqual(run_check(self.copy), (0, ""))
        self.assert_refused("link/frame.cpp", "../poll/settings.h", "a layer above link/")

    def test_secure_and_plain_do_not_include_each_other(self):
        self.assert_refused("plain/des_card.cpp", "secure/des_cipher.h", "side by side")

    def test_a_layer_does_not_include_a_consumer(self):
        self.assert_refused("platform/shared_rules.cpp", "fuzz/fuzz_support.h",
                            "fuzz/ is a consumer")

    def test_a_program_is_included_by_itself_and_its_tests_only(self):
        self.plant("tests/app/rwreport/more_test.cpp", "app/rwreport/file_io.h")
        self.assertEqual(run_check(self.copy), (0, ""))
        for path in ("fuzz/new_fuzz.cpp", "tests/report/new_test.cpp", "report/series.cpp",
                     "app/rwstation/view.cpp", "tests/app/rwstation/new_test.cpp"):
            with self.subTest(path=path):
                self.assert_refused(path, "app/rwreport/file_io.h",
                                    "app/rwreport/ is the program's own")
                self.doCleanups()

    def test_consumers_include_any_layer_and_each_other(self):
        self.plant("fuzz/new_fuzz.cpp", "report/series.h")
        self.plant("tests/report/new_test.cpp", "fuzz/fuzz_support.h")
        self.plant("sim/new.cpp", "poll/settings.h")
        self.assertEqual(run_check(self.copy), (0, ""))


if __name__ == "__main__":
    unittest.main()
