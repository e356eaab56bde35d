#!/usr/bin/env python3
"""Times setup.exe against the copies it makes, under Wine.

Makes a payload of about 3,000 files and 30 MB across Common, MS60 and EN and an
installation registered at GA, then in alternating runs times (a) setup.exe
doing the whole update and (b) the same three xcopy command lines run by one
cmd.exe from a batch file, resetting the installation before each run. Prints
each median, the ratio a/b, and the peak memory of setup.exe.

    bench/run.py [--runs N]      (N runs of each, 7 by default)

Needs a built build/windows/setup.exe and probe.exe (scripts/test.sh, or the
windows preset). Works in build/bench, with a Wine prefix of its own.
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
TREES = {"Common": 1800, "MS60": 700, "EN": 500}
MEAN_FILE_SIZE = 10_000


def make_payload(dist):
    """A few deep trees per source, some empty directories, files of 1 to 19 KB."""
    shutil.rmtree(dist, ignore_errors=True)
    rng = random.Random(2)
    total_files = total_bytes = 0
    for source, count in TREES.items():
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    runs = max(5, parser.parse_args().runs)

    WORK.mkdir(parents=True, exist_ok=True)
    dist = WORK / "dist"
    files, size = make_payload(dist)
    (dist / "copies.bat").write_text("@echo off\r\n" + "\r\n".join(COMMANDS) + "\r\n")
    print(f"payload: {files} files, {size / 1e6:.1f} MB")

    wine_fixture.create_prefix()
    bench = wine_fixture.Bench()
    env = bench.env(QDXCOMP="MSVC", COPYCMD="/Y")
    subprocess.run(["wineserver", "-p"], env=env, check=True)  # no server start-up in any timing
    setup = ["wine", str(wine_fixture.SETUP_EXE)]
    batch = ["wine", "cmd.exe", "/c", "copies.bat"]
    times = {"setup": [], "batch": []}
    peaks = []
    try:
        for _ in range(runs):
            for name, argv in (("setup", setup), ("batch", batch)):
                bench.register(level="GA")
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
    print(f"runs of each: {runs}")
    print(f"(a) setup.exe, whole update:     median {a:.3f} s  " + " ".join(f"{t:.2f}" for t in times["setup"]))
    print(f"(b) one cmd.exe, three xcopies:  median {b:.3f} s  " + " ".join(f"{t:.2f}" for t in times["batch"]))
    print(f"ratio a/b: {a / b:.3f}")
    print(f"peak memory of setup.exe (VmHWM): {max(peaks) / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
