"""The shared bench of the end-to-end tests: one Wine prefix for the test run,
an X display per test module, and the means to drive the real setup.exe in them
as a person would: register the product, start the program from a distribution
directory, read its message box off the screen and answer it.

Every wait is bounded and every process started here is ended by its id.
For a closer look at a failure: E2E_WINEDEBUG sets WINEDEBUG for every Wine
process (for instance +msgbox,+relay), and E2E_KEEP keeps the runs' logs.
Wine's first process of a session starts Wine's services, which inherit its
output, so no Wine process ever writes into a pipe: output goes to files.
"""

import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

KEY = r"Software\Kestrade\Lumeric Server\4.5"
RUN_NAME = r"Global\Lumeric Server 4.5 Mendrel2"
CAPTION = "Lumeric Server 4.5 Mendrel2"
REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 1, 2, 3, 4

# Where the kernel runs no 32-bit code, Wine's 32-bit side runs under qemu-i386
# and each 32-bit process takes about a minute to start. There the runs use the
# 64-bit build of the same sources (the windows64 preset), which Wine runs
# natively and which reads the product's key in the 64-bit view; only what a
# 32-bit program alone shows runs SETUP_EXE_32, whose copies then run in the
# emulated 32-bit cmd.exe. The probe is a 64-bit program everywhere.
QEMU_I386 = Path("/proc/sys/fs/binfmt_misc/qemu-i386")
EMULATED_I386 = QEMU_I386.exists() and QEMU_I386.read_text().startswith("enabled")
WINE64 = "/usr/lib/wine/wine64" if Path("/usr/lib/wine/wine64").exists() else "wine"
SECONDS = 300 if EMULATED_I386 else 60  # bound of one wait for setup.exe

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("SETUP_BUILD_DIR", ROOT / "build/windows"))
BUILD_UNDER_TEST = ROOT / "build/windows64" if EMULATED_I386 else BUILD
SETUP_EXE_32 = BUILD / "setup.exe"  # the program as shipped
SETUP_EXE = BUILD_UNDER_TEST / "setup.exe"  # the program that most runs start
VIEW = "64" if EMULATED_I386 else "32"  # the registry view that SETUP_EXE reads
PROBE_EXE = BUILD / "tests/e2e/probe.exe"
MARKER_DLL = BUILD_UNDER_TEST / "tests/e2e/marker.dll"  # a DLL that must never be loaded
PREFIX = Path(os.environ.get("WINE_TEST_PREFIX", BUILD / "e2e/prefix"))

SAMPLE_PAYLOAD = {
    "Common/server.cfg": b"common 2\r\n",
    "Common/bin/lumeric.dll": b"dll 2",
    "Common/empty": None,
    "MS60/runtime.lib": b"ms60 2",
    "EN/messages.txt": b"english 2",
}
OLD_INSTALLATION = {
    "server.cfg": b"common 1\r\n",
    "bin/lumeric.dll": b"dll 1",
    "data/keep.dat": b"untouched",
}
UPDATED_INSTALLATION = {
    "server.cfg": b"common 2\r\n",
    "bin": None,
    "bin/lumeric.dll": b"dll 2",
    "data": None,
    "data/keep.dat": b"untouched",
    "empty": None,
    "MS60": None,
    "MS60/runtime.lib": b"ms60 2",
    "messages.txt": b"english 2",
}
LEVEL_2 = (REG_SZ, b"2\0\0\0")

# The texts of the boxes, as the user must read them.
CANNOT_CONTINUE = "\n\nMendrel2 installation cannot continue."
NOT_INSTALLED = "You have not installed Lumeric Server 4.5." + CANNOT_CONTINUE
INSTALL_DIR_FAILED = "Failed to retrieve Install Directory information from Registry." + CANNOT_CONTINUE
LANGUAGE_FAILED = "Failed to retrieve National Language information from Registry." + CANNOT_CONTINUE
LEVEL_FAILED = "Failed to retrieve Service Level information from Registry." + CANNOT_CONTINUE
NO_COMPILER = ("The QDXCOMP environment variable, which names the compiler in use, is not set."
               + CANNOT_CONTINUE)
COPY_FAILED = ("Failed to copy the Mendrel2 files into the installation directory.\n\n"
               "The Service Level has not been changed. Mendrel2 installation did not complete.")
CANNOT_REPLACE = ('The file "{}" cannot be replaced: it is in use or read-only. Stop Lumeric Server 4.5 '
                  'and every program that uses its files, then start setup.exe again.' + CANNOT_CONTINUE)
NO_SOURCE = ('The folder "{}" of the Mendrel2 distribution is not in the current directory. Start '
             'setup.exe from the root of a complete Mendrel2 distribution.' + CANNOT_CONTINUE)
CANNOT_ASK = ("The copies would ask before replacing files, and nobody can answer them here. Set "
              "COPYCMD=/Y in the environment that starts setup.exe, then start it again." + CANNOT_CONTINUE)
PROTECTED = ('The file "{}" cannot be replaced: it is read-only, hidden or a system file. Clear those '
             'attributes (attrib -r -h -s), then start setup.exe again.' + CANNOT_CONTINUE)
PLANTED = ('The file "{}" would run in place of Windows\' xcopy. Delete it from the Mendrel2 '
           'distribution, or use a fresh copy of the distribution, then start setup.exe again.'
           + CANNOT_CONTINUE)
FILE_AND_FOLDER = ('The Mendrel2 distribution holds both a file and a folder for "{}". Check that the '
                   'distribution is complete and unchanged, then start setup.exe again.' + CANNOT_CONTINUE)
PERCENT_SIGNS = ('The installation directory "{}" holds two percent signs, which the command '
                 'interpreter would read as a variable and change. Reinstall Lumeric Server 4.5 in a '
                 'folder whose name holds at most one percent sign, then start setup.exe again.'
                 + CANNOT_CONTINUE)
LINK = ('The installation holds a link at "{}": a symbolic link, junction or hard link, through which '
        'a copy would change files outside the installation. Replace it with a plain folder or file, '
        'then start setup.exe again.' + CANNOT_CONTINUE)
OPEN_TO_USERS = ('Users who are not administrators can change "{}" in the Mendrel2 distribution ({}), '
                 'so setup.exe could install files that no administrator put there. Copy the distribution '
                 'into a new folder that only administrators can change, then start setup.exe from there.'
                 + CANNOT_CONTINUE)
FRESH_COPY = " Replace the distribution with a fresh copy of the release, then start setup.exe again."
SEAL_CHANGED = 'The file "{}" in the Mendrel2 distribution differs from the released one.' + FRESH_COPY + CANNOT_CONTINUE
SEAL_MISSING = 'The file "{}" of the released Mendrel2 distribution is missing.' + FRESH_COPY + CANNOT_CONTINUE
SEAL_EXTRA = ('The file "{}" in the Mendrel2 distribution was not released with it. Delete it, or replace '
              'the distribution with a fresh copy of the release, then start setup.exe again.' + CANNOT_CONTINUE)
UNANSWERED = "Nobody can answer this question here, so setup.exe took it as Cancel.\r\n"
ANOTHER_RUN = ("Another Mendrel2 installation is running on this computer. Wait until it has ended, "
               "then start setup.exe again." + CANNOT_CONTINUE)
NOT_COPIED = ('The Mendrel2 file "{}" was not copied into the installation.\n\n'
              "The Service Level has not been changed. Mendrel2 installation did not complete.")
SAME_LEVEL = ("The existing Lumeric Server installation level is already Mendrel2.\n\n"
              "Click cancel to exit or OK to continue.")
HIGHER_LEVEL = (
    "The existing Lumeric Server installation level is higher than Mendrel2.\n\n"
    "If you are intending to backlevel to Mendrel2 of version 4.5, please do so by uninstalling "
    "Lumeric Server 4.5 and reinstalling 4.5 + Mendrel2.\n\n"
    "If you continue with this installation, your product may become unstable due to mismatched "
    "levels of code.\n\nClick cancel to exit or OK to continue.")


def wine_environment(display=None):
    """The environment of every Wine process here: our prefix, no debug noise,
    no Mono or Gecko installer, and nothing of the caller's that setup.exe reads."""
    env = {k: v for k, v in os.environ.items()
           if k.upper() not in ("QDXCOMP", "COPYCMD", "DISPLAY", "WINEPREFIX", "WINEARCH")}
    env.update(WINEPREFIX=str(PREFIX), WINEARCH="win64", WINEDEBUG=os.environ.get("E2E_WINEDEBUG", "-all"),
               WINEDLLOVERRIDES="mscoree,mshtml=")
    if display:
        env["DISPLAY"] = display
    return env


def wine_for(exe):
    """Wine's loader for exe: the 64-bit one for a 64-bit program, which then starts
    without the 32-bit loader even where that one is emulated."""
    head = Path(exe).read_bytes()[:1024]
    machine = struct.unpack_from("<H", head, struct.unpack_from("<I", head, 0x3C)[0] + 4)[0]
    return WINE64 if machine == 0x8664 else "wine"


def run_bounded(argv, env, cwd=None, timeout=60, output=None):
    """Runs argv to its end with its output in a file; gives (status, output)."""
    with tempfile.TemporaryFile() if output is None else open(output, "w+b") as out:
        proc = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=subprocess.STDOUT)
        try:
            status = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise AssertionError(f"{argv[:2]} did not end within {timeout} s")
        out.seek(0)
        return status, out.read().decode("latin-1")


def create_prefix():
    """A fresh 64-bit prefix for this test run, under the build folder."""
    shutil.rmtree(PREFIX, ignore_errors=True)
    PREFIX.parent.mkdir(parents=True, exist_ok=True)
    env = wine_environment()
    # Through the 64-bit loader, as the demo does: /usr/bin/wineboot would start the
    # 32-bit one first, which takes minutes where 32-bit code is emulated.
    status, output = run_bounded([WINE64, "wineboot", "-i"], env, timeout=1500,
                                 output=PREFIX.parent / "wineboot.log")
    run_bounded(["wineserver", "-w"], env, timeout=120)
    if status != 0 or not (PREFIX / "system.reg").exists():
        raise SystemExit(f"wineboot failed ({status}):\n{output}")
    print(f"Wine prefix ready: {PREFIX}")


def japanese_locale():
    """The environment of a process in a Japanese locale, whose ANSI code page under
    Wine is 932: a private locale made under the build folder, nothing installed."""
    folder = PREFIX.parent / "locale"
    if not (folder / "ja_JP.UTF-8").exists():
        folder.mkdir(parents=True, exist_ok=True)
        status, output = run_bounded(["localedef", "-i", "ja_JP", "-f", "UTF-8", str(folder / "ja_JP.UTF-8")],
                                     os.environ, timeout=120)
        if status not in (0, 1):  # 1: made, with warnings
            raise AssertionError(f"localedef failed ({status}): {output}")
    return {"LOCPATH": str(folder), "LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8"}


class Display:
    """An Xvfb server of our own, on the first display number from 100 on
    that has neither a lock file nor a socket."""

    def __init__(self):
        for number in range(100, 200):
            if Path(f"/tmp/.X{number}-lock").exists() or Path(f"/tmp/.X11-unix/X{number}").exists():
                continue
            self.proc = subprocess.Popen(
                ["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if self._listening(number):
                self.name = f":{number}"
                return
            self.close()
        raise AssertionError("no X display could be started")

    def _listening(self, number, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.proc.poll() is None:
            if Path(f"/tmp/.X11-unix/X{number}").exists():
                return True
            time.sleep(0.05)
        return False

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Run:
    """setup.exe running in the background."""

    def __init__(self, proc, output_path):
        self.proc, self.output_path = proc, output_path

    def wait(self, timeout=SECONDS * 2):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError(f"setup.exe did not end within {timeout} s")

    def output(self):
        return Path(self.output_path).read_text(encoding="latin-1")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


class Bench:
    """The prefix, a display and a scratch folder, with the test's verbs."""

    def __init__(self):
        if not (PREFIX / "system.reg").exists():
            raise AssertionError(f"no Wine prefix at {PREFIX}: the e2e_prefix test makes it")
        self.display = Display()
        self.scratch = Path(tempfile.mkdtemp(prefix="run-", dir=PREFIX.parent))
        self.runs = []
        self.drive_c = PREFIX / "drive_c"
        self.locale = {}  # variables of the locale that every Wine process here runs in
        self.new_session()

    def close(self):
        for run in self.runs:
            run.kill()
        self.end_session()
        self.display.close()
        if "E2E_KEEP" not in os.environ:
            shutil.rmtree(self.scratch, ignore_errors=True)

    def end_session(self):
        """Ends every process of the prefix, and its server."""
        run_bounded(["wineserver", "-k"], wine_environment(), timeout=30)
        run_bounded(["wineserver", "-w"], wine_environment(), timeout=60)

    def new_session(self):
        """Ends every process of the prefix and begins a session that lasts until the
        next. Debian's wineserver shuts down as soon as its last process ends, and a
        process that starts meanwhile can fail without a word. A session also keeps
        the display of the process that began it: a run without one needs its own."""
        self.end_session()
        status, output = run_bounded(["wineserver", "-p"], wine_environment(), timeout=30)
        if status != 0:
            raise AssertionError(f"wineserver -p failed ({status}): {output}")

    def env(self, display=True, **variables):
        env = wine_environment(self.display.name if display else None)
        env.update(self.locale, **variables)
        return env

    # The registry, through the probe, as setup.exe's ANSI calls see it.

    def probe(self, *args, timeout=60):
        status, output = run_bounded([WINE64, str(PROBE_EXE), *args], self.env(), timeout=timeout)
        if status != 0:
            raise AssertionError(f"probe {args[0]} failed ({status}): {output}")
        return output.strip().splitlines()[-1] if output.strip() else ""

    def set_value(self, name, data, kind=REG_SZ, view=VIEW, key=KEY):
        self.probe("set", view, key, name, str(kind), data.hex())

    def value(self, name, view=VIEW):
        """(type, bytes) of the value, or None when it cannot be read."""
        line = self.probe("get", view, KEY, name)
        if line.startswith("missing="):
            return None
        fields = dict(part.split("=", 1) for part in line.split())
        data = bytes.fromhex(fields["hex"])
        assert int(fields["size"]) == len(data), line
        return int(fields["type"]), data

    def values(self, view=VIEW):
        return {name: self.value(name, view) for name in ("InstallDir", "Installed NLV", "ServiceLevel")}

    def drop_key(self):
        for view in ("32", "64"):
            self.probe("drop", view, KEY)

    def register(self, install_dir=r"C:\Lumeric", nlv="EN", level="GA", view=VIEW, encoding="latin-1"):
        self.drop_key()
        for name, text in (("InstallDir", install_dir), ("Installed NLV", nlv), ("ServiceLevel", level)):
            if text is not None:
                self.set_value(name, text.encode(encoding) + b"\0", view=view)

    # The distribution and the installation on disk.

    def distribution(self, entries=None):
        """A fresh distribution directory; by default the sample payload."""
        return make_tree(self.scratch / "dist", SAMPLE_PAYLOAD if entries is None else entries)

    def installation(self, entries=None, name="Lumeric"):
        """A fresh C:\\Lumeric; by default one with a few older files."""
        return make_tree(self.drive_c / name, OLD_INSTALLATION if entries is None else entries)

    def hold(self, path, verb="hold"):
        """Another process of the prefix holds the file open without sharing writing
        (or, with verb "event", an event under the name path)."""
        output = self.scratch / f"hold-{len(self.runs)}.log"
        with open(output, "wb") as out:
            proc = subprocess.Popen([WINE64, str(PROBE_EXE), verb, path, "600000"], env=self.env(),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        run = Run(proc, output)
        self.runs.append(run)
        deadline = time.monotonic() + 60
        while "held" not in run.output():
            if proc.poll() is not None or time.monotonic() > deadline:
                raise AssertionError(f"the probe could not hold {path}: {run.output()}")
            time.sleep(0.1)
        return run

    def processes(self, text):
        """The ids of this prefix's processes whose command line holds text."""
        mark = f"\0WINEPREFIX={PREFIX}\0".encode()
        return [int(p.name) for p in Path("/proc").glob("[0-9]*")
                if text.encode() in read_or_empty(p / "cmdline").replace(b"\0", b" ")
                and mark in b"\0" + read_or_empty(p / "environ") + b"\0"]

    def hide(self, path):
        status, output = run_bounded([WINE64, "attrib", "+h", path], self.env(), timeout=60)
        if status != 0:
            raise AssertionError(f"attrib +h {path} failed ({status}): {output}")

    # The program and its boxes.

    def run_unseen(self, cwd, exe=SETUP_EXE, **variables):
        """setup.exe as a service starts it, on a window station that nobody sees:
        (its status, or "timeout", and what it wrote to standard error)."""
        exe = windows_path(exe)
        status, output = run_bounded([WINE64, str(PROBE_EXE), "unseen", str(SECONDS * 1000), exe],
                                     self.env(**variables), cwd=cwd, timeout=SECONDS + 60)
        # Wine says on the same output when it cannot read the label of the Unix root's volume.
        output = "".join(line for line in output.splitlines(True) if not line.startswith("wine: "))
        text, _, last = output.rstrip("\r\n").rpartition("\n")
        if status != 0 or not last.startswith("status="):
            raise AssertionError(f"probe unseen failed ({status}): {output}")
        return last.strip()[len("status="):], text + "\n" if text else ""

    def start_setup(self, cwd=None, args=(), display=True, exe=SETUP_EXE, **variables):
        output = self.scratch / f"setup-{len(self.runs)}.log"
        out = open(output, "wb")
        proc = subprocess.Popen([wine_for(exe), str(exe), *args], env=self.env(display, **variables),
                                cwd=cwd or self.scratch, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT)
        out.close()
        run = Run(proc, output)
        self.runs.append(run)
        return run

    def read_box(self, timeout_ms=SECONDS * 1000):
        """The box on the screen: its text and its buttons, or None when none came."""
        box = json.loads(self.probe("box", CAPTION, str(timeout_ms), timeout=timeout_ms / 1000 + 60))
        if not box["found"]:
            return None
        controls = [c for c in box["controls"] if c]
        texts = [c["text"] for c in controls if c["kind"] == "static" and not c["icon"]]
        buttons = [c for c in controls if c["kind"] == "button"]
        return {
            "text": "".join(texts),
            "icon": any(c["kind"] == "static" and c["icon"] for c in controls),
            "buttons": [b["text"] for b in buttons],
            "focus": [b["text"] for b in buttons if b["focus"]],
            "default": [b["text"] for b in buttons if b["default"]],
            "centres": {b["text"]: (b["x"], b["y"]) for b in buttons},
        }

    def xdotool(self, *args):
        status, output = run_bounded(["xdotool", *args], self.env(), timeout=30)
        return status, output

    def press(self, key):
        """Presses key (Return, Escape) in the box."""
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            status, output = self.xdotool("search", "--name", CAPTION)
            windows = output.split()
            if status == 0 and windows:
                self.xdotool("key", "--window", windows[-1], key)
                return
            time.sleep(0.2)
        raise AssertionError("no box to press a key in")

    def click(self, box, button):
        """Clicks the box's button with the mouse."""
        x, y = box["centres"][button]
        self.xdotool("mousemove", "--sync", str(x), str(y))
        time.sleep(0.3)
        self.xdotool("click", "1")

    def screenshot(self, path):
        run_bounded(["import", "-display", self.display.name, "-window", "root", str(path)],
                    self.env(), timeout=30)


def read_or_empty(path):
    """The bytes of a file of a process that may have ended meanwhile."""
    try:
        return path.read_bytes()
    except OSError:
        return b""


def windows_path(path):
    """path as Wine's programs name it: on the drive Z:, which is the Unix root."""
    return "Z:" + str(path).replace("/", "\\")


def tree(root):
    """Every file and directory below root, with each file's content."""
    root = Path(root)
    return {str(p.relative_to(root)).replace(os.sep, "/"): (p.read_bytes() if p.is_file() else None)
            for p in sorted(root.rglob("*"))}


def make_tree(root, entries):
    """Makes root afresh with files (name: bytes) and empty directories (name: None),
    writable by their owner alone whatever the umask: Wine gives Everyone the rights
    of a mode's others, and setup.exe refuses a distribution that others may change."""
    shutil.rmtree(root, ignore_errors=True)
    Path(root).mkdir(parents=True)
    for name, content in entries.items():
        path = Path(root) / name
        if content is None:
            path.mkdir(parents=True, exist_ok=True)
        else:
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(content)
    for path in [Path(root), *Path(root).rglob("*")]:
        path.chmod(0o755 if path.is_dir() else 0o644)
    return Path(root)


if __name__ == "__main__":
    if sys.argv[1:] == ["--create-prefix"]:
        create_prefix()
    else:
        raise SystemExit("usage: wine_fixture.py --create-prefix")


class BenchTest(unittest.TestCase):
    """A test module's share of the bench: one display, the shared prefix."""

    @classmethod
    def setUpClass(cls):
        cls.bench = Bench()

    @classmethod
    def tearDownClass(cls):
        cls.bench.close()

    def expect_box(self, text, buttons=("OK",)):
        box = self.bench.read_box()
        self.assertIsNotNone(box, f"no box appeared; expected {text!r}")
        self.assertEqual(box["text"], text)
        self.assertEqual(box["buttons"], list(buttons))
        self.assertTrue(box["icon"])
        return box
