#!/usr/bin/env bash
# Installs, with apt, whatever the build, the tests and the demo need and this
# machine lacks. Safe to run again: it installs nothing that is already there.
set -euo pipefail

packages=(cmake g++ make libgtest-dev python3 g++-mingw-w64-i686 gcc-mingw-w64-i686
          wine wine64 wine32:i386 xvfb xdotool imagemagick clang clang-tidy clang-format
          libclang-rt-14-dev)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && [ -z "${need_update:-}" ] && exit 0

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
