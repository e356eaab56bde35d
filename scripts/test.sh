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
ctest --preset windows
