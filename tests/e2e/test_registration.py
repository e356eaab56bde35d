"""setup.exe against the real registry: what it finds, what it refuses, and
that a refusal leaves everything as it was."""

import unittest

from wine_fixture import (INSTALL_DIR_FAILED, PERCENT_SIGNS, LANGUAGE_FAILED, LEVEL_FAILED, NO_COMPILER,
                          NOT_INSTALLED, REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_SZ, SETUP_EXE,
                          SETUP_EXE_32, BenchTest)


class Registration(BenchTest):
    def run_and_answer(self, message, answer="Return", args=(), exe=SETUP_EXE):
        run = self.bench.start_setup(args=args, exe=exe)
        box = self.expect_box(message)
        if answer == "OK":
            self.bench.click(box, "OK")
        else:
            self.bench.press(answer)
        return run.wait()

    def test_product_not_installed(self):
        rows = [
            ("no key", lambda: self.bench.drop_key(), "Return", (), SETUP_EXE),
            ("a 32-bit program: key only in the 64-bit view", lambda: self.bench.register(view="64"),
             "Escape", (), SETUP_EXE_32),
            ("arguments change nothing", lambda: self.bench.drop_key(), "OK", ("/S", "-level", "GA"),
             SETUP_EXE),
        ]
        for name, prepare, answer, args, exe in rows:
            with self.subTest(name):
                prepare()
                self.assertEqual(self.run_and_answer(NOT_INSTALLED, answer, args, exe), 1)

    def register_with(self, changes, **registration):
        """Registers the product, then stores each changed value as (type, bytes) or bytes."""
        self.bench.register(**registration)
        for value, data in changes.items():
            kind, data = data if isinstance(data, tuple) else (REG_SZ, data)
            self.bench.set_value(value, data, kind)

    def test_unreadable_value_is_named_and_nothing_changes(self):
        rows = [
            ("directory of 260 characters", {"InstallDir": ("a" * 260).encode() + b"\0"}, {},
             INSTALL_DIR_FAILED),
            ("directory with a double quote", {"InstallDir": b'C:\\L" & x\0'}, {}, INSTALL_DIR_FAILED),
            ("directory naming a set variable", {"InstallDir": b"C:\\L %OS%\0"}, {},
             PERCENT_SIGNS.format("C:\\L %OS%\\")),
            ("directory naming %CD%, which cmd.exe fills in", {"InstallDir": b"C:\\L%CD%x\0"}, {},
             PERCENT_SIGNS.format("C:\\L%CD%x\\")),
            ("language missing", {}, {"nlv": None}, LANGUAGE_FAILED),
            ("language with a command character", {"Installed NLV": b"EN&calc\0"}, {},
             LANGUAGE_FAILED),
            ("level of four characters", {"ServiceLevel": b"1234\0"}, {}, LEVEL_FAILED),
            ("level filling its buffer without a zero", {"ServiceLevel": (REG_BINARY, b"1234")}, {},
             LEVEL_FAILED),
        ]
        for name, changes, registration, message in rows:
            with self.subTest(name):
                self.register_with(changes, **registration)
                before = self.bench.values()
                self.assertEqual(self.run_and_answer(message), 1)
                self.assertEqual(self.bench.values(), before)

    def test_readable_values_reach_the_deployment(self):
        """Each is accepted, so the run goes on to ask for QDXCOMP, which is unset."""
        rows = [
            ("directory of 259 characters ending in a backslash",
             {"InstallDir": ("C:\\" + "a" * 255 + "\\").encode() + b"\0"}),
            ("expandable directory", {"InstallDir": (REG_EXPAND_SZ, b"C:\\100%\\L\0")}),
            ("level stored as a number", {"ServiceLevel": (REG_DWORD, b"\x02\0\0\0")}),
            ("three-digit level below 2", {"ServiceLevel": b"-99\0"}),
        ]
        for name, changes in rows:
            with self.subTest(name):
                self.register_with(changes)
                self.assertEqual(self.run_and_answer(NO_COMPILER), 1)


if __name__ == "__main__":
    unittest.main()
