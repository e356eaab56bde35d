#!/usr/bin/env bash
# Runs every test: the unit tests and static checks on Linux, a bounded fuzzing
# run, then the checks of setup.exe itself and its end-to-end runs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake --preset host
cmake --build --preset host
ctest --preset host

cmake --preset fuzz
cmake --build --preset fuzz
ctest --preset fuzz

cmake --preset windows
cmake --build --preset windows
# Where 32-bit code is emulated, most end-to-end runs start the 64-bit build.
if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
  cmake --preset windows64
  cmake --build --preset windows64
fi
ctest --preset windows
