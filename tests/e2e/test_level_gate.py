"""The question asked before an installation of the same or a higher level is
changed, as the user sees and answers it."""

import shutil
import unittest

from wine_fixture import (ANOTHER_RUN, HIGHER_LEVEL, LEVEL_2, MARKER_DLL, RUN_NAME, SAME_LEVEL,
                          SETUP_EXE, BenchTest, tree)


class LevelGate(BenchTest):
    def prepare(self, level):
        self.bench.register(level=level)
        self.dist = self.bench.distribution()
        self.install = self.bench.installation()
        self.before = (self.bench.values(), tree(self.install))

    def start(self, display=True):
        return self.bench.start_setup(cwd=self.dist, display=display, QDXCOMP="MSVC", COPYCMD="/Y")

    def assert_unchanged(self):
        self.assertEqual((self.bench.values(), tree(self.install)), self.before)

    def test_no_dll_is_loaded_from_the_distribution(self):
        """As shipped, setup.exe lies in the distribution root, where Windows looks first for a
        DLL. Wine's own user32 imports version.dll at start and Windows' does not, so that name,
        which would load before setup.exe runs a line of its own, is left out."""
        self.prepare("2")
        exe = self.dist / "setup.exe"
        shutil.copy(SETUP_EXE, exe)
        for name in ("uxtheme.dll", "dwmapi.dll"):
            shutil.copy(MARKER_DLL, self.dist / name)
        run = self.bench.start_setup(cwd=self.dist, exe=exe, QDXCOMP="MSVC", WINEDEBUG="+loaddll",
                                     WINEDLLOVERRIDES="mscoree,mshtml=;uxtheme,dwmapi=n,b")
        self.expect_box(SAME_LEVEL, buttons=("OK", "Cancel"))
        self.bench.press("Escape")
        self.assertEqual(run.wait(), 1)
        loaded = [line for line in run.output().splitlines() if "Loaded" in line]
        self.assertTrue([line for line in loaded if "uxtheme.dll" in line], "the box looked for it")
        self.assertEqual([line for line in loaded if "dist" in line and ".dll" in line], [])

    def test_refusal_by_keyboard_changes_nothing(self):
        for level, question, key in [("2", SAME_LEVEL, "Return"), ("3", HIGHER_LEVEL, "Escape"),
                                     ("999", HIGHER_LEVEL, "Return"), ("02", SAME_LEVEL, "Escape")]:
            with self.subTest(level=level, key=key):
                self.prepare(level)
                run = self.start()
                box = self.expect_box(question, buttons=("OK", "Cancel"))
                self.assertEqual(box["focus"], ["Cancel"])
                self.assertEqual(box["default"], ["Cancel"])
                self.bench.press(key)
                self.assertEqual(run.wait(), 1)
                self.assertIsNone(self.bench.read_box(timeout_ms=500), "nothing follows a Cancel")
                self.assert_unchanged()

    def test_ok_goes_on_as_if_nothing_was_asked(self):
        for level, question in [("2", SAME_LEVEL), ("10", HIGHER_LEVEL)]:
            with self.subTest(level=level):
                self.prepare(level)
                run = self.start()
                self.bench.click(self.expect_box(question, buttons=("OK", "Cancel")), "OK")
                self.assertEqual(run.wait(), 0)
                self.assertEqual(self.bench.value("ServiceLevel"), LEVEL_2)

    def test_second_run_stops_while_the_first_asks(self):
        """As a retrying deployment tool would start it: unseen, while the user decides."""
        self.prepare("2")
        run = self.start()
        self.expect_box(SAME_LEVEL, buttons=("OK", "Cancel"))
        self.assertEqual(self.bench.run_unseen(self.dist, QDXCOMP="MSVC", COPYCMD="/Y"),
                         ("1618", ANOTHER_RUN + "\r\n"))
        self.bench.press("Escape")
        self.assertEqual(run.wait(), 1)
        self.assert_unchanged()

    def test_another_kind_of_object_under_the_run_name_is_another_run(self):
        """1618, whose low byte a Linux parent sees."""
        self.prepare("GA")
        holder = self.bench.hold(RUN_NAME, verb="event")
        self.addCleanup(holder.kill)
        run = self.start()
        self.expect_box(ANOTHER_RUN)
        self.bench.press("Return")
        self.assertEqual(run.wait(), 1618 & 0xFF)
        self.assert_unchanged()

    def test_question_that_cannot_be_shown_is_no_consent(self):
        self.prepare("2")
        self.bench.new_session()
        self.addCleanup(self.bench.new_session)
        self.assertEqual(self.start(display=False).wait(), 1)
        self.assert_unchanged()


if __name__ == "__main__":
    unittest.main()
