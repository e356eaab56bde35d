"""The whole update with the real cmd.exe and xcopy: what lands where, what the
registry holds afterwards, and how a failed copy is told."""

import unittest

from wine_fixture import (COPY_FAILED, LEVEL_2, NO_COMPILER, REG_SZ, SAME_LEVEL,
                          UPDATED_INSTALLATION, BenchTest, tree)

GA = (REG_SZ, b"GA\0")


class Payload(BenchTest):
    def prepare(self):
        self.bench.register(install_dir=r"C:\Lumeric", nlv="EN", level="GA")
        self.dist = self.bench.distribution()
        self.install = self.bench.installation()

    def start(self, **variables):
        return self.bench.start_setup(cwd=self.dist, COPYCMD="/Y", **variables)

    def test_update_over_an_existing_installation(self):
        # Windows finds the variable whatever the case of its name.
        for variable in ("QDXCOMP", "qdxcomp"):
            with self.subTest(variable=variable):
                self.prepare()
                run = self.start(**{variable: "MSVC"})
                self.assertEqual(run.wait(), 0, run.output())
                self.assertEqual(tree(self.install), UPDATED_INSTALLATION)
                self.assertEqual(self.bench.value("ServiceLevel"), LEVEL_2)
                self.assertEqual(run.output().count("copied"), 3, run.output())

        run = self.start(QDXCOMP="MSVC")
        self.expect_box(SAME_LEVEL, buttons=("OK", "Cancel"))
        self.bench.press("Escape")
        self.assertEqual(run.wait(), 1)

    def test_failed_copy_is_reported_and_the_level_kept(self):
        for compiler in ("BCC", "MS 60"):
            with self.subTest(compiler=compiler):
                self.prepare()
                run = self.start(QDXCOMP=compiler)
                self.bench.click(self.expect_box(COPY_FAILED), "OK")
                self.assertEqual(run.wait(), 2)
                self.assertEqual(self.bench.value("ServiceLevel"), GA)
                landed = tree(self.install)
                self.assertEqual(landed["server.cfg"], b"common 2\r\n", "the common copy ran")
                self.assertEqual(landed["messages.txt"], b"english 2", "the language copy ran")

    def test_unset_compiler_copies_nothing(self):
        self.prepare()
        before = tree(self.install)
        run = self.start()
        self.expect_box(NO_COMPILER)
        self.bench.press("Return")
        self.assertEqual(run.wait(), 1)
        self.assertEqual(tree(self.install), before)
        self.assertEqual(self.bench.value("ServiceLevel"), GA)


if __name__ == "__main__":
    unittest.main()
