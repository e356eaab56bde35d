#!/usr/bin/env python3
"""Times setup.exe against the copies it makes, under Wine.

Makes a payload of about 3,000 files and 30 MB (or --files) across Common, MS60
and EN and an installation registered at GA, then in alternating runs times (a)
setup.exe doing the whole update and (b) the same three xcopy command lines run
by one cmd.exe from a batch file, resetting the installation before each run.
Prints each median, the ratio a/b, and the peak memory of setup.exe.

An update replaces files that are already there, and the checks do most of their
work per replaced file: (a') and (b') are (a) and (b) on an installation that
holds an older version of every payload file and folder (other bytes, a tenth
smaller, a year older). The checks before the copies on that update are timed
by two runs started as (e) and (f) are (below), on that installation: (c')
without COPYCMD, refused by the last check before the copies, less (d') refused
at once for a missing compiler folder. Each round runs (c'), (d'), (a), (b),
(a') and (b'), in that order, with the sealed build's (c') and (d') beside its
(c') and (d'), then the floor, and its (a') beside its (a') (below).

The checks before the copies are timed on their own by two more runs that copy
nothing: (c) setup.exe refused for want of room, with the installation on a
tmpfs too small for the payload, which it says after listing the payload and
checking every destination, less (d) setup.exe refused at once for a missing
compiler folder.

The check after the copies is timed on its own on the installation that the
last run (b) updated, registered at GA again, by two runs that setup.exe starts
on a window station that nobody sees, as a service would (the probe's unseen
mode): (e) without COPYCMD, refused by the last check before the copies,
because xcopy would ask before replacing files, and (f) with COPYCMD=/Y and the
copies' cmd.exe in the bench's own prefix moved aside, so that no copy can
start, the check after the copies finds every file in place and setup.exe ends
with 2. Both do the same up to the end of the checks before the copies, so
(f) - (e) is the check after the copies, plus three failed process creations.

The floor for a/b is what no build can go below: setup.exe runs each xcopy in a
cmd.exe of its own where the batch file needs one, and starts itself, so
(a) >= (b) + 2 cmd.exe starts + (d). The bench times a cmd.exe start under Wine
(cmd.exe /c exit, the copies' cmd.exe, started from Linux) and prints
((b) + 2 cmd.exe starts + (d)) / (b).

A release ships sealed: the bench seals its payload as scripts/seal_release.py
seals a release (the list Mendrel2.sha256 in the payload's root, and a copy of
setup.exe that carries the list's SHA-256, build/bench/setup-sealed.exe) and
times that copy beside setup.exe on the update: (a'), (c') and (d'), and (e) and
(f). Each sealed run goes in the same round as its unsealed twin, the two first
in turn from round to round, so that both meet the same load of the host. The
sealed build hashes every payload file before the copies and every installed
file after them: its (f) - (e) gives the check after the copies in MB/s of
payload. The bench prints sealed (a') / unsealed (a').

The floor of the checks before the copies on the update is what Wine charges
for the calls that no build checking what it installs can leave out: the
probe's floor mode, in each round on the update's installation after (c') and
(d'), reads each folder of the three trees once, opens each file once for its
owner, DACL and SHA-256 (CryptoAPI, blocks of 64 KiB), and opens each replaced
file for writing once; it times itself, from before it acquires CryptoAPI's
provider to its last handle closed. The bench prints the sealed build's
(c') - (d') / that floor.

    bench/run.py [--runs N] [--files F] [--bits 64] [--exe PATH]     (N runs of each, 7 by default)

Builds what it needs with the cmake presets when their outputs are missing: the
windows preset for the 32-bit setup.exe and the probe, or with --bits 64 the
windows64 preset's setup.exe and probe. Works in build/bench, with a Wine prefix
of its own, made on the first run and kept.

Where the kernel runs no 32-bit code, the 32-bit setup.exe runs under qemu-i386
and its minute-long emulated start hides what is timed here. --bits 64 times
the same sources built for 64-bit Windows instead (cmake --preset windows64;
cmake --build --preset windows64), which Wine runs natively; it reads the
product's key in the 64-bit view and starts the 64-bit cmd.exe of its system folder.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
WORK = ROOT / "build/bench"
os.environ["WINE_TEST_PREFIX"] = str(WORK / "prefix")
sys.path.insert(0, str(ROOT / "tests/e2e"))
import wine_fixture  # noqa: E402

COMMANDS = [r'xcopy /E /I Common "C:\Lumeric\"',
            r'xcopy /E /I MS60 "C:\Lumeric\MS60"',
            r'xcopy /E /I EN "C:\Lumeric\"']
# The same three trees for the probe's floor mode: each source and where it lands below C:\Lumeric.
FLOOR_TREES = ["Common=", "MS60=MS60", "EN="]
SEALED = WORK / "setup-sealed.exe"
SHARES = {"Common": 0.6, "MS60": 0.7 / 3, "EN": 0.5 / 3}
MEAN_FILE_SIZE = 10_000


def make_payload(dist, files):
    """A few deep trees per source, some empty directories, files of 1 to 19 KB."""
    shutil.rmtree(dist, ignore_errors=True)
    rng = random.Random(2)
    total_files = total_bytes = 0
    for source, share in SHARES.items():
        count = round(files * share)
        for i in range(count):
            depth = i % 6
            folder = dist / source / Path(*[f"level{d}_{i % (d + 3)}" for d in range(depth)])
            folder.mkdir(parents=True, exist_ok=True)
            size = rng.randint(MEAN_FILE_SIZE // 10, MEAN_FILE_SIZE * 19 // 10)
            (folder / f"{source.lower()}{i:04}.dat").write_bytes(rng.randbytes(size))
            total_files += 1
            total_bytes += size
        for j in range(5):
            (dist / source / f"empty{j}" / "inner").mkdir(parents=True, exist_ok=True)
    return total_files, total_bytes


def make_older(dist, older):
    """An older version of every payload file at its destination (other bytes, a tenth
    smaller, a year older), and every payload folder."""
    shutil.rmtree(older, ignore_errors=True)
    rng = random.Random(3)
    year_ago = time.time() - 365 * 24 * 3600
    for source, target in (("Common", older), ("MS60", older / "MS60"), ("EN", older)):
        for path in sorted((dist / source).rglob("*")):
            destination = target / path.relative_to(dist / source)
            if path.is_dir():
                destination.mkdir(parents=True, exist_ok=True)
            else:
                destination.parent.mkdir(parents=True, exist_ok=True)
                destination.write_bytes(rng.randbytes(path.stat().st_size * 9 // 10))
                os.utime(destination, (year_ago, year_ago))


def sizes(root):
    """Every file's size and every folder (None) below root."""
    return {p: (p.stat().st_size if p.is_file() else None) for p in Path(root).rglob("*")}


def peak_memory_kib(pid, proc):
    """Samples the process's high-water mark of resident memory until it ends."""
    peak = 0
    while proc.poll() is None:
        try:
            for line in Path(f"/proc/{pid}/status").read_text().splitlines():
                if line.startswith("VmHWM:"):
                    peak = max(peak, int(line.split()[1]))
        except (FileNotFoundError, ProcessLookupError):
            break
        time.sleep(0.005)
    return peak


def timed(argv, env, cwd):
    start = time.perf_counter()
    proc = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = peak_memory_kib(proc.pid, proc)
    try:
        status = proc.wait(timeout=600)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        raise SystemExit(f"{argv[1]} did not end within 600 s")
    return time.perf_counter() - start, status, peak


def built(preset, outputs, targets=()):
    """Configures and builds the cmake preset where one of outputs is missing (a fresh checkout)."""
    if all(path.exists() for path in outputs):
        return
    print(f"building with the {preset} preset", flush=True)
    for command in (["cmake", "--preset", preset], ["cmake", "--build", "--preset", preset, *targets]):
        subprocess.run(command, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def probe_is_current(preset, targets):
    """Rebuilds the probe where probe.c changed since it was built: an older probe lacks
    the floor mode."""
    probe_c = ROOT / "tests/e2e/probe.c"
    if wine_fixture.PROBE_EXE.stat().st_mtime < probe_c.stat().st_mtime:
        print(f"building the probe with the {preset} preset", flush=True)
        subprocess.run(["cmake", "--build", "--preset", preset, *targets], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)


def seal(exe, dist):
    """A copy of exe sealed with the list of dist's payload, as a release is sealed, or
    None where exe cannot take a seal (a build from before the seal, say)."""
    done = subprocess.run([sys.executable, str(ROOT / "scripts/seal_release.py"), str(dist),
                           "--in", str(exe), "--out", str(SEALED)],
                          capture_output=True, text=True)
    if done.returncode != 0:
        print(f"sealed build not timed: {done.stderr.strip()}")
        return None
    return SEALED


def in_turn(builds, round_number):
    """The builds, the unsealed one first in even rounds and the sealed one in odd ones:
    neither always meets the host's cache or load just after the other."""
    return builds if round_number % 2 == 0 else builds[::-1]


def timed_unseen(bench, exe, dist, **variables):
    """setup.exe started by the probe on a window station that nobody sees:
    (seconds, its status, what it wrote to standard error)."""
    argv = [wine_fixture.WINE64, str(wine_fixture.PROBE_EXE), "unseen", "600000",
            wine_fixture.windows_path(exe)]
    start = time.perf_counter()
    _, output = wine_fixture.run_bounded(argv, bench.env(**variables), cwd=dist, timeout=660)
    # Wine says on the same output when it cannot read the label of the Unix root's volume.
    output = "".join(line for line in output.splitlines(True) if not line.startswith("wine: "))
    text, _, status = output.rpartition("status=")
    return time.perf_counter() - start, status.strip(), text


def print_difference(times, longer, shorter, label, shorter_first=False):
    """The medians of two kinds of run, each (key, label), and what separates them: the
    one piece of work that the longer run does and the shorter does not. Nothing where
    the longer was not timed."""
    if not times[longer[0]]:
        return
    medians = {key: statistics.median(times[key]) for key, _ in (longer, shorter)}
    for key, name in (shorter, longer) if shorter_first else (longer, shorter):
        print(f"{name}median {medians[key]:.3f} s")
    print(f"{label}{medians[longer[0]] - medians[shorter[0]]:.3f} s")


def print_speed(times, kind, size):
    """The check after the copies of the build kind in MB/s of payload, where it was timed."""
    if not times[kind + "after"]:
        return
    seconds = statistics.median(times[kind + "after"]) - statistics.median(times[kind + "before"])
    label = kind.replace("_", " ")
    print(f"{label}check after the copies: {size / 1e6 / seconds:.1f} MB/s (payload / (f - e))" if seconds > 0
          else f"{label}check after the copies: no MB/s, (f) - (e) is not above zero")


def time_check_after(bench, builds, dist, runs, times, view, copies_cmd):
    """(e) and (f) of each build (kind, exe), on the installation as the copies left it:
    see the docstring."""
    aside = copies_cmd.with_name("cmd.exe.aside")
    copies_cmd.rename(aside)
    try:
        for round_number in range(runs):
            for kind, exe in in_turn(builds, round_number):
                if round_number and not times[kind + "after"]:
                    continue  # not timed in an earlier round
                for name, variables, expected in (
                        ("before", {}, ("1", wine_fixture.CANNOT_ASK)),
                        ("after", {"COPYCMD": "/Y"}, ("2", wine_fixture.COPY_FAILED))):
                    bench.register(level="GA", view=view)
                    seconds, status, text = timed_unseen(bench, exe, dist, QDXCOMP="MSVC", **variables)
                    if (status, text.rstrip("\r\n")) != expected:
                        print(f"{kind.replace('_', ' ')}(e) and (f) not timed: {name}, setup.exe ended"
                              f" with {status}: {text.strip()}")
                        times[kind + "after"].clear()
                        break  # a build without these checks, or a file not in place
                    times[kind + name].append(seconds)
    finally:
        aside.rename(copies_cmd)


def time_checks(bench, setup, dist, runs, times, view):
    """(c) and (d): runs refused before the first copy, with no box to answer."""
    install = bench.drive_c / "Lumeric"
    bench.installation({})
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(install)], check=True)
    try:
        env = bench.env(display=False, COPYCMD="/Y")
        for _ in range(runs):
            for name, compiler in (("checked", "MSVC"), ("refused", "NONE")):
                bench.register(level="GA", view=view)
                seconds, status, _ = timed(setup, dict(env, QDXCOMP=compiler), dist)
                if status != 1 or any(install.iterdir()):
                    print(f"(c) and (d) not timed: {name}, setup.exe ended with {status} or copied onto a full volume")
                    times["checked"].clear()
                    return  # a build without the checks copies before it finds no room
                times[name].append(seconds)
    finally:
        subprocess.run(["umount", str(install)], check=True)


def time_update_checks(bench, exe, dist, older, times, view, kind=""):
    """One (c') and one (d') of the build kind ("" or "sealed_"), started as (e) is,
    on the installation that holds older: (c') without COPYCMD, refused by the last
    check before the copies, and (d') refused at once. False, with no (c') kept,
    where one does not end so."""
    install = bench.installation({})
    shutil.copytree(older, install, dirs_exist_ok=True)
    before = sizes(install)
    for name, compiler in (("update_checked", "MSVC"), ("update_refused", "NONE")):
        bench.register(level="GA", view=view)
        seconds, status, text = timed_unseen(bench, exe, dist, QDXCOMP=compiler)
        if (status != "1" or sizes(install) != before
                or (name == "update_checked") != (text.rstrip("\r\n") == wine_fixture.CANNOT_ASK)):
            print(f"{kind.replace('_', ' ')}(c') and (d') not timed: {name}, setup.exe ended with"
                  f" {status}: {text.strip()}")
            times[kind + "update_checked"].clear()
            return False
        times[kind + name].append(seconds)
    return True


def time_floor(bench, dist, files, times):
    """The probe's floor mode on the installation that holds the older version of every
    file, as (c') left it: False, with no floor kept, where it did not read every payload
    file and open every one's destination."""
    argv = [wine_fixture.WINE64, str(wine_fixture.PROBE_EXE), "floor", r"C:\Lumeric", *FLOOR_TREES]
    status, output = wine_fixture.run_bounded(argv, bench.env(), cwd=dist, timeout=600)
    line = output.strip().splitlines()[-1] if output.strip() else ""
    fields = dict(part.split("=", 1) for part in line.split() if "=" in part)
    if status != 0 or fields.get("files") != str(files) or fields.get("replaced") != str(files):
        print(f"floor not timed: the probe ended with {status}: {output.strip()}")
        times["floor"].clear()
        return False
    times["floor"].append(float(fields["seconds"]))
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--files", type=int, default=3000)
    parser.add_argument("--bits", type=int, choices=(32, 64), default=32)
    parser.add_argument("--exe", type=Path, help="another build of that many bits, say of an earlier commit")
    options = parser.parse_args()
    runs = max(5, options.runs)
    view = str(options.bits)
    build = ROOT / ("build/windows64" if options.bits == 64 else "build/windows")
    exe = (options.exe or build / "setup.exe").resolve()
    wine_fixture.PROBE_EXE = build / "tests/e2e/probe.exe"
    preset = "windows64" if options.bits == 64 else "windows"
    built(preset, [exe, wine_fixture.PROBE_EXE], ["--target", "setup", "probe64"] if options.bits == 64 else [])
    probe_is_current(preset, ["--target", "probe64"])
    setup = [wine_fixture.WINE64 if options.bits == 64 else "wine", str(exe)]

    WORK.mkdir(parents=True, exist_ok=True)
    dist = WORK / "dist"
    files, size = make_payload(dist, options.files)
    (dist / "copies.bat").write_text("@echo off\r\n" + "\r\n".join(COMMANDS) + "\r\n")
    print(f"payload: {files} files, {size / 1e6:.1f} MB")
    older = WORK / "older"
    make_older(dist, older)
    sealed = seal(exe, dist)  # its list stands in the payload's root, where the unsealed build never looks
    builds = [("", exe)] + ([("sealed_", sealed)] if sealed else [])

    if not (wine_fixture.PREFIX / "system.reg").exists():  # kept between runs: minutes to make here
        wine_fixture.create_prefix()
    bench = wine_fixture.Bench()
    env = bench.env(QDXCOMP="MSVC", COPYCMD="/Y")
    batch = [wine_fixture.WINE64, "cmd.exe", "/c", "copies.bat"]
    times = {"setup": [], "batch": [], "checked": [], "refused": [], "cmd": [], "before": [], "after": [],
             "update_setup": [], "update_batch": [], "update_checked": [], "update_refused": [],
             "sealed_update_setup": [], "sealed_update_checked": [], "sealed_update_refused": [],
             "sealed_before": [], "sealed_after": [], "floor": []}
    peaks = {"": [], "sealed_": []}
    try:
        # The copies run in the cmd.exe of setup.exe's own system folder.
        cmd_folder = "system32" if options.bits == 64 else "syswow64"
        copies_cmd = (batch[:2] if options.bits == 64
                      else ["wine", rf"C:\windows\{cmd_folder}\cmd.exe"])
        time_checks(bench, setup, dist, runs, times, view)
        for _ in range(runs):
            seconds, status, _ = timed(copies_cmd + ["/c", "exit"], env, dist)
            if status != 0:
                raise SystemExit(f"cmd.exe /c exit ended with {status}")
            times["cmd"].append(seconds)
        update_checks = {kind: True for kind, _ in builds}
        floor = True
        for round_number in range(runs):  # the last run (b') leaves every file in place for (e) and (f)
            for kind, program in in_turn(builds, round_number):
                update_checks[kind] = update_checks[kind] and time_update_checks(
                    bench, program, dist, older, times, view, kind)
            floor = floor and time_floor(bench, dist, files, times)
            update_setups = [(kind + "update_setup", [setup[0], str(program)])
                             for kind, program in in_turn(builds, round_number)]
            for name, argv in (("setup", setup), ("batch", batch),
                               *update_setups, ("update_batch", batch)):
                bench.register(level="GA", view=view)
                bench.installation({})
                if "update" in name:
                    shutil.copytree(older, bench.drive_c / "Lumeric", dirs_exist_ok=True)
                seconds, status, peak = timed(argv, env, dist)
                landed = [s for s in sizes(bench.drive_c / "Lumeric").values() if s is not None]
                if status != 0 or (len(landed), sum(landed)) != (files, size):
                    raise SystemExit(f"{name}: status {status}, {len(landed)} files of {sum(landed)} bytes"
                                     f" where {files} of {size} should be")
                times[name].append(seconds)
                if name.endswith("setup"):
                    peaks["sealed_" if name.startswith("sealed_") else ""].append(peak)
        time_check_after(bench, builds, dist, runs, times, view,
                         bench.drive_c / "windows" / cmd_folder / "cmd.exe")
    finally:
        bench.close()

    a, b = statistics.median(times["setup"]), statistics.median(times["batch"])
    print(f"setup.exe: {options.bits}-bit; runs of each: {runs}")
    print_difference(times, ("checked", "(c) setup.exe, checks then no room: "),
                     ("refused", "(d) setup.exe, refused at once:     "),
                     "checks before the copies (c - d):   ")
    print(f"(a) setup.exe, whole update:     median {a:.3f} s  " + " ".join(f"{t:.2f}" for t in times["setup"]))
    print(f"(b) one cmd.exe, three xcopies:  median {b:.3f} s  " + " ".join(f"{t:.2f}" for t in times["batch"]))
    print(f"ratio a/b: {a / b:.3f}")
    print("on an installation that holds an older version of every file:")
    a2, b2 = statistics.median(times["update_setup"]), statistics.median(times["update_batch"])
    print(f"(a') setup.exe, whole update:    median {a2:.3f} s  " + " ".join(f"{t:.2f}" for t in times["update_setup"]))
    if times["sealed_update_setup"]:
        sealed_a2 = statistics.median(times["sealed_update_setup"])
        print(f"(a') sealed setup.exe, whole update: median {sealed_a2:.3f} s  "
              + " ".join(f"{t:.2f}" for t in times["sealed_update_setup"]))
    print(f"(b') one cmd.exe, three xcopies: median {b2:.3f} s  " + " ".join(f"{t:.2f}" for t in times["update_batch"]))
    print(f"ratio a'/b': {a2 / b2:.3f}")
    if times["sealed_update_setup"]:
        print(f"sealed (a') / unsealed (a'): {sealed_a2 / a2:.2f}")
    print_difference(times, ("update_checked", "(c') setup.exe unseen, refused after the checks before the copies: "),
                     ("update_refused", "(d') setup.exe unseen, refused at once:                          "),
                     "checks before the copies on the update (c' - d'): ", shorter_first=True)
    if times["update_checked"]:
        checks = statistics.median(times["update_checked"]) - statistics.median(times["update_refused"])
        print(f"(c' - d') / (b'): {checks / b2:.3f}")
    print_difference(times, ("sealed_update_checked", "(c') sealed setup.exe unseen, refused after the checks before the copies: "),
                     ("sealed_update_refused", "(d') sealed setup.exe unseen, refused at once:                          "),
                     "sealed checks before the copies on the update (c' - d'): ", shorter_first=True)
    if times["floor"]:
        print("floor of the checks before the copies on the update (probe floor): "
              f"median {statistics.median(times['floor']):.3f} s  " + " ".join(f"{t:.2f}" for t in times["floor"]))
    if times["floor"] and times["sealed_update_checked"]:
        sealed_checks = (statistics.median(times["sealed_update_checked"])
                         - statistics.median(times["sealed_update_refused"]))
        print(f"checks before the copies on the update / their floor: "
              f"{sealed_checks / statistics.median(times['floor']):.2f}")
    start = statistics.median(times["cmd"])
    print(f"cmd.exe start under Wine:        median {start:.3f} s")
    if times["refused"]:
        floor = (b + 2 * start + statistics.median(times["refused"])) / b
        print(f"floor for a/b, ((b) + 2 cmd.exe starts + (d)) / (b): {floor:.3f}")
    print_difference(times, ("after", "(f) the same going on, copies that start nothing, check after:    "),
                     ("before", "(e) setup.exe unseen, refused after the checks before the copies: "),
                     "check after the copies (f - e):     ", shorter_first=True)
    print_speed(times, "", size)
    print_difference(times, ("sealed_after", "(f) sealed, the same going on, copies that start nothing, check after: "),
                     ("sealed_before", "(e) sealed setup.exe unseen, refused after the checks before the copies: "),
                     "sealed check after the copies (f - e):     ", shorter_first=True)
    print_speed(times, "sealed_", size)
    print(f"peak memory of setup.exe (VmHWM): {max(peaks['']) / 1024:.1f} MiB")
    if peaks["sealed_"]:
        print(f"peak memory of the sealed setup.exe (VmHWM): {max(peaks['sealed_']) / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
