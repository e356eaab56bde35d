"""The whole update with the real cmd.exe and xcopy: what lands where, what the
registry holds afterwards, what is refused before the first copy, and how a
copy that fails without saying so is found."""

import contextlib
import os
import shutil
import subprocess
import sys
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

from wine_fixture import (CANNOT_ASK, CANNOT_REPLACE, EMULATED_I386, FILE_AND_FOLDER, LEVEL_2, LINK,
                          NO_COMPILER, NO_SOURCE, NOT_COPIED, OPEN_TO_USERS, PLANTED, PROBE_EXE,
                          PROTECTED, REG_SZ, ROOT, SAME_LEVEL, SAMPLE_PAYLOAD, SEAL_CHANGED, SEAL_EXTRA,
                          SEAL_MISSING, SECONDS, SETUP_EXE, UNANSWERED,
                          UPDATED_INSTALLATION, BenchTest, japanese_locale, make_tree, run_bounded,
                          tree, windows_path, wine_for)

GA = (REG_SZ, b"GA\0")


class Payload(BenchTest):
    def prepare(self, payload=None, level="GA"):
        self.bench.register(install_dir=r"C:\Lumeric", nlv="EN", level=level)
        self.dist = self.bench.distribution(payload)
        self.install = self.bench.installation()
        self.before = (self.bench.values(), tree(self.install))

    def start(self, cwd=None, **variables):
        return self.bench.start_setup(cwd=cwd or self.dist, COPYCMD="/Y", **variables)

    def assert_unchanged(self):
        self.assertEqual((self.bench.values(), tree(self.install)), self.before)

    def test_update_over_an_existing_installation(self):
        # A copy that waits (xcopy asking, with nobody to answer, before it replaces a
        # file) ends with setup.exe, as when a deployment tool ends it at its time limit.
        self.prepare()
        run = self.bench.start_setup(cwd=self.dist, QDXCOMP="MSVC")
        self.assertTrue(wait_for(lambda: self.bench.processes("xcopy /E /I")), "no copy started")
        run.kill()
        self.assertTrue(wait_for(lambda: not self.bench.processes("/E /I")), "a copy outlived setup.exe")

        # Windows finds the variable whatever the case of its name. An xcopy.bat in a
        # folder on PATH before the system's would leave a trace if it ran.
        on_path = make_tree(self.bench.scratch / "on path", {"xcopy.bat": b"@echo planted> C:\\planted.txt\r\n"})
        for variable, path in (("QDXCOMP", {}), ("qdxcomp", {"WINEPATH": windows_path(on_path)})):
            with self.subTest(variable=variable, **path):
                self.prepare()
                run = self.start(**{variable: "MSVC"}, **path)
                self.assertEqual(run.wait(), 0, run.output())
                self.assertFalse((self.bench.drive_c / "planted.txt").exists())
                self.assertEqual(tree(self.install), UPDATED_INSTALLATION)
                self.assertEqual(self.bench.value("ServiceLevel"), LEVEL_2)
                if not EMULATED_I386:  # the 64-bit cmd.exe writes to a console of its own
                    self.assertEqual(run.output().count("copied"), 3, run.output())

        run = self.start(QDXCOMP="MSVC")
        self.expect_box(SAME_LEVEL, buttons=("OK", "Cancel"))
        self.bench.press("Escape")
        self.assertEqual(run.wait(), 1)

    def test_refusal_before_the_first_copy_changes_nothing(self):
        dll = r"C:\Lumeric\bin\lumeric.dll"
        # Run in place of xcopy, it would leave a trace.
        planted = {"xcopy.bat": b"@echo planted> C:\\planted.txt\r\n"}
        clash = {"Common/MS60": b"a file with the compiler folder's name"}
        rows = [
            ("the compiler's payload missing", "BCC", None, None, NO_SOURCE.format("BCC")),
            ("an xcopy.bat planted in the distribution", "MSVC", None, planted,
             PLANTED.format(windows_path(self.bench.scratch / "dist/xcopy.bat"))),
            ("a file in Common where the compiler's folder goes", "MSVC", None, clash,
             FILE_AND_FOLDER.format(r"C:\Lumeric\MS60")),
            ("started from the wrong folder", "MSVC", "scratch", None, NO_SOURCE.format("Common")),
            ("a destination held open by another process", "MSVC", None, "hold",
             CANNOT_REPLACE.format(dll)),
            ("a hidden destination, which Windows' copy does not replace", "MSVC", None, "hide",
             PROTECTED.format(dll)),
            ("a symbolic link to a folder outside, where the compiler's folder goes", "MSVC", None,
             "symlink", LINK.format(r"C:\Lumeric\MS60")),
            ("a hard link to a file outside, which a copy would replace", "MSVC", None, "hardlink",
             LINK.format(r"C:\Lumeric\server.cfg")),
            ("a distribution file that others may write", "MSVC", None, "o+w",
             OPEN_TO_USERS.format(windows_path(self.bench.scratch / "dist/Common/bin/lumeric.dll"),
                                  "its permissions let S-1-1-0 change it")),
        ]
        for name, compiler, cwd, how, message in rows:
            with self.subTest(name):
                self.prepare(dict(SAMPLE_PAYLOAD, **how) if isinstance(how, dict) else None)
                holder = self.bench.hold(dll) if how == "hold" else None
                if how == "hide":
                    self.bench.hide(dll)
                if how == "o+w":
                    (self.dist / "Common/bin/lumeric.dll").chmod(0o646)
                outside = self.link_outside(how) if how in ("symlink", "hardlink") else None
                run = self.start(cwd=self.bench.scratch if cwd else None, QDXCOMP=compiler)
                self.expect_box(message)
                self.bench.press("Return")
                self.assertEqual(run.wait(), 1)
                if holder:
                    holder.kill()
                self.assert_unchanged()
                self.assertFalse((self.bench.drive_c / "planted.txt").exists())
                if outside:
                    self.assertEqual(tree(outside), {"server.cfg": b"outside\r\n"})

    def link_outside(self, how):
        """A Unix link from the installation to a folder outside it, which Wine shows as a
        reparse point (0x410), or to a file outside, which Wine shows as a file of two names."""
        outside = make_tree(self.bench.scratch / "outside", {"server.cfg": b"outside\r\n"})
        if how == "symlink":
            (self.install / "MS60").symlink_to(outside, target_is_directory=True)
        else:
            (self.install / "server.cfg").unlink()
            os.link(outside / "server.cfg", self.install / "server.cfg")
        self.before = (self.bench.values(), tree(self.install))
        return outside

    def test_session_without_a_screen_ends_without_waiting(self):
        """As a deployment tool running as SYSTEM starts it: no box, the text on standard error."""
        self.prepare(level="2")
        self.assertEqual(self.bench.run_unseen(self.dist, QDXCOMP="MSVC", COPYCMD="/Y"),
                         ("1", SAME_LEVEL + "\r\n" + UNANSWERED))
        self.assert_unchanged()

        self.prepare()
        self.assertEqual(self.bench.run_unseen(self.dist, QDXCOMP="MSVC"),
                         ("1", CANNOT_ASK + "\r\n"), "xcopy's question would wait unseen")
        self.assert_unchanged()

        # xcopy would ask before the language's file replaces the one Common just wrote.
        self.prepare(dict(SAMPLE_PAYLOAD, **{"EN/server.cfg": b"english cfg"}))
        self.install = self.bench.installation({})
        self.before = (self.bench.values(), tree(self.install))
        self.assertEqual(self.bench.run_unseen(self.dist, QDXCOMP="MSVC"),
                         ("1", CANNOT_ASK + "\r\n"), "two trees give one file")
        self.assert_unchanged()

        self.prepare()
        status, output = self.bench.run_unseen(self.dist, QDXCOMP="MSVC", COPYCMD="/Y")
        self.assertEqual(status, "0", output)
        self.assertEqual(tree(self.install), UPDATED_INSTALLATION)
        self.assertEqual(self.bench.value("ServiceLevel"), LEVEL_2)

    def test_sealed_release_installs_only_the_released_bytes(self):
        """Sealed as a release is, with setup.exe in the distribution's root."""
        rows = [
            ("one changed byte", "Common/bin/lumeric.dll", lambda f: f.write_bytes(b"dll 3"), SEAL_CHANGED),
            ("a missing file", "EN/messages.txt", lambda f: f.unlink(), SEAL_MISSING),
            ("an added file", "MS60/extra.lib", lambda f: f.write_bytes(b"x"), SEAL_EXTRA),
            ("the released bytes", "Common/server.cfg", lambda f: None, None),
        ]
        for name, path, change, message in rows:
            with self.subTest(name):
                self.prepare()
                sealed = self.dist / "setup.exe"
                subprocess.run([sys.executable, str(ROOT / "scripts/seal_release.py"), str(self.dist),
                                "--in", str(SETUP_EXE), "--out", str(sealed)], check=True, capture_output=True)
                change(self.dist / path)
                status, output = self.bench.run_unseen(self.dist, exe=sealed, QDXCOMP="MSVC", COPYCMD="/Y")
                if message:
                    self.assertEqual((status, output), ("1", message.format(windows_path(self.dist / path)) + "\r\n"))
                    self.assert_unchanged()
                else:
                    self.assertEqual(status, "0", output)
                    self.assertEqual(tree(self.install), UPDATED_INSTALLATION)

    def test_copy_that_fails_without_saying_so_is_named(self):
        """Wine's xcopy reports a file it cannot write in a subfolder and still ends with 0."""
        self.prepare(dict(SAMPLE_PAYLOAD, **{"Common/logs/new.log": b"log 2"}))
        logs = self.install / "logs"
        logs.mkdir()
        with read_only(logs):
            run = self.start(QDXCOMP="MSVC")
            self.bench.click(self.expect_box(NOT_COPIED.format(r"C:\Lumeric\logs\new.log")), "OK")
            self.assertEqual(run.wait(), 2)
        self.assertEqual(self.bench.value("ServiceLevel"), GA)
        self.assertEqual(tree(self.install)["server.cfg"], b"common 2\r\n", "the copies ran")

    def test_unset_compiler_copies_nothing(self):
        self.prepare()
        run = self.start()
        self.expect_box(NO_COMPILER)
        self.bench.press("Return")
        self.assertEqual(run.wait(), 1)
        self.assert_unchanged()

    def install_cmd(self, log, from_dist=False, call="call ", setup=SETUP_EXE, **variables):
        """deploy/install.cmd with setup beside it as setup.exe, started as the guide says, call and
        all: by its full path, or as .\\install.cmd from the distribution, whose path needs no quoting."""
        shutil.copy(setup, self.dist / "setup.exe")
        shutil.copy(ROOT / "deploy/install.cmd", self.dist)
        script = r".\install.cmd" if from_dist else windows_path(self.dist / "install.cmd")
        compiler = variables.pop("QDXCOMP", None)
        command = (f"set QDXCOMP={compiler}&& " if compiler else "") + call + script
        return ([wine_for(SETUP_EXE), "cmd", "/d", "/c", command],
                self.bench.env(MENDREL2_LOG=windows_path(log), **variables),
                self.dist if from_dist else None, SECONDS * 2)

    def test_install_cmd_waits_logs_and_ends_with_the_status(self):
        self.prepare()
        log = self.bench.scratch / "no compiler.log"
        with ThreadPoolExecutor(1) as pool:
            run = pool.submit(run_bounded, *self.install_cmd(log))
            self.expect_box(NO_COMPILER)
            self.bench.press("Return")
            self.assertEqual(run.result()[0], 1)
        self.assert_unchanged()
        first, _, rest = log.read_bytes().decode().partition("\r\n")
        self.assertIn(f': Mendrel2 from "{windows_path(self.dist)}\\"', first)
        self.assertEqual(rest, NO_COMPILER + "\r\nsetup.exe ended with status 1\r\n")

        self.prepare()  # COPYCMD unset: wine_environment leaves it out
        log = self.bench.scratch / "update.log"
        self.assertEqual(run_bounded(*self.install_cmd(log, QDXCOMP="MSVC"))[0], 0)
        self.assertEqual(tree(self.install), UPDATED_INSTALLATION)
        self.assertEqual(self.bench.value("ServiceLevel"), LEVEL_2)
        self.assertTrue(log.read_text().endswith("setup.exe ended with status 0\n"))

        # A log that cannot be written does not stop the update, nor hide its status;
        # the distribution's path holds what cmd.exe would take for its own (but %,
        # which Wine's cmd drops from %~dp0).
        self.prepare()
        self.dist = self.dist.rename(self.bench.scratch / "Mendrel2 & (x) !")
        fallback = self.bench.drive_c / "windows/logs/Mendrel2-setup.log"  # only admins make files there
        fallback.parent.mkdir(exist_ok=True)
        missing = self.bench.scratch / "no folder" / "update.log"
        self.assertEqual(run_bounded(*self.install_cmd(missing, True, QDXCOMP="MSVC"))[0], 0)
        self.assertEqual(tree(self.install), UPDATED_INSTALLATION)
        self.assertTrue(fallback.read_text().endswith("setup.exe ended with status 0\n"))

        # A crash's status gives 2, and the log keeps it. Without call, which in Wine 8 gives 1.
        run = self.install_cmd(log, True, "", PROBE_EXE, PROBE_STATUS="0xC0000005")
        self.assertEqual(run_bounded(*run)[0], 2)
        self.assertIn("status -1073741819, which is none of its own;", log.read_text().splitlines()[-1])

    def test_names_on_code_page_932(self):
        """表 is 95 5C and ポ is 83 7C: neither trail byte is a backslash or a bar."""
        self.bench.locale = japanese_locale()
        self.bench.new_session()  # begun in that locale, as a user's would be
        try:
            self.assertEqual(self.bench.probe("acp"), "932", "the Japanese locale gives code page 932")
            self.bench.register(install_dir="C:\\Lum表", nlv="ポ", encoding="cp932")
            payload = {k: v for k, v in SAMPLE_PAYLOAD.items() if not k.startswith("EN/")}
            self.dist = self.bench.distribution(dict(payload, **{"ポ/messages.txt": b"english 2"}))
            install = self.bench.installation(name="Lum表")
            run = self.start(QDXCOMP="MSVC")
            self.assertEqual(run.wait(), 0, run.output())
            self.assertEqual(tree(install), UPDATED_INSTALLATION)
            self.assertFalse((self.bench.drive_c / "Lum表MS60").exists())
            self.assertEqual(self.bench.value("ServiceLevel"), LEVEL_2)
        finally:
            self.bench.locale = {}
            self.bench.new_session()


def wait_for(condition, seconds=SECONDS):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.2)
    return condition()


@contextlib.contextmanager
def read_only(folder):
    """folder, mounted read-only over itself, for as long as the block runs."""
    if subprocess.run(["mount", "--bind", str(folder), str(folder)], capture_output=True).returncode:
        raise unittest.SkipTest("this machine does not allow a bind mount")
    try:
        subprocess.run(["mount", "-o", "remount,ro,bind", str(folder)], check=True)
        yield
    finally:
        subprocess.run(["umount", str(folder)], check=True)


if __name__ == "__main__":
    unittest.main()
