#!/usr/bin/env python3
"""Times setup.exe against the copies it makes, under Wine.

Makes a payload of about 3,000 files and 30 MB (or --files) across Common, MS60
and EN and an installation registered at GA, then in alternating runs times (a)
setup.exe doing the whole update and (b) the same three xcopy command lines run
by one cmd.exe from a batch file, resetting the installation before each run.
Prints each median, the ratio a/b, and the peak memory of setup.exe.

The checks before the copies are timed on their own by two more runs that copy
nothing: (c) setup.exe refused for want of room, with the installation on a
tmpfs too small for the payload, which it says after listing the payload and
checking every destination, less (d) setup.exe refused at once for a missing
compiler folder. The check after the copies reads the same metadata once more.

    bench/run.py [--runs N] [--files F] [--bits 64] [--exe PATH]     (N runs of each, 7 by default)

Needs a built build/windows/setup.exe and probe.exe (scripts/test.sh, or the
windows preset). Works in build/bench, with a Wine prefix of its own, made on the
first run and kept.

Where the kernel runs no 32-bit code, the 32-bit setup.exe runs under qemu-i386
and its minute-long emulated start hides what is timed here. --bits 64 times
the same sources built for 64-bit Windows instead (cmake --preset windows64;
cmake --build --preset windows64), which Wine runs natively; it reads the
product's key in the 64-bit view and starts the 64-bit cmd.exe.
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--files", type=int, default=3000)
    parser.add_argument("--bits", type=int, choices=(32, 64), default=32)
    parser.add_argument("--exe", type=Path, help="another build of that many bits, say of an earlier commit")
    options = parser.parse_args()
    runs = max(5, options.runs)
    view = str(options.bits)
    if options.bits == 64:
        setup = [wine_fixture.WINE64, str(options.exe or ROOT / "build/windows64/setup.exe")]
    else:
        setup = ["wine", str(options.exe or wine_fixture.SETUP_EXE_32)]

    WORK.mkdir(parents=True, exist_ok=True)
    dist = WORK / "dist"
    files, size = make_payload(dist, options.files)
    (dist / "copies.bat").write_text("@echo off\r\n" + "\r\n".join(COMMANDS) + "\r\n")
    print(f"payload: {files} files, {size / 1e6:.1f} MB")

    if not (wine_fixture.PREFIX / "system.reg").exists():  # kept between runs: minutes to make here
        wine_fixture.create_prefix()
    bench = wine_fixture.Bench()
    env = bench.env(QDXCOMP="MSVC", COPYCMD="/Y")
    batch = [wine_fixture.WINE64, "cmd.exe", "/c", "copies.bat"]
    times = {"setup": [], "batch": [], "checked": [], "refused": []}
    peaks = []
    try:
        # The copies run in the 64-bit cmd.exe, except from a 32-bit setup.exe where
        # 32-bit code is not emulated. A 64-bit process has no sysnative folder.
        emulated = options.bits == 32 and wine_fixture.EMULATED_I386
        wine_fixture.set_comspec("sysnative" if emulated else "system32", env)
        time_checks(bench, setup, dist, runs, times, view)
        for _ in range(runs):
            for name, argv in (("setup", setup), ("batch", batch)):
                bench.register(level="GA", view=view)
                bench.installation({})
                seconds, status, peak = timed(argv, env, dist)
                landed = sum(1 for p in (bench.drive_c / "Lumeric").rglob("*") if p.is_file())
                if status != 0 or landed != files:
                    raise SystemExit(f"{name}: status {status}, {landed} of {files} files landed")
                times[name].append(seconds)
                if name == "setup":
                    peaks.append(peak)
    finally:
        bench.close()

    a, b = statistics.median(times["setup"]), statistics.median(times["batch"])
    print(f"setup.exe: {options.bits}-bit; runs of each: {runs}")
    if times["checked"]:
        c, d = statistics.median(times["checked"]), statistics.median(times["refused"])
        print(f"(c) setup.exe, checks then no room: median {c:.3f} s")
        print(f"(d) setup.exe, refused at once:     median {d:.3f} s")
        print(f"checks before the copies (c - d):   {c - d:.3f} s")
    print(f"(a) setup.exe, whole update:     median {a:.3f} s  " + " ".join(f"{t:.2f}" for t in times["setup"]))
    print(f"(b) one cmd.exe, three xcopies:  median {b:.3f} s  " + " ".join(f"{t:.2f}" for t in times["batch"]))
    print(f"ratio a/b: {a / b:.3f}")
    print(f"peak memory of setup.exe (VmHWM): {max(peaks) / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
