#!/usr/bin/env bash
# Installs, with apt, whatever the build, the tests, the demo and the benchmark need and
# this machine lacks. Safe to run again: it installs nothing that is already there.
set -euo pipefail

packages=(cmake g++ make libgtest-dev python3 locales
          g++-mingw-w64-i686 gcc-mingw-w64-i686 gcc-mingw-w64-x86-64 g++-mingw-w64-x86-64
          wine wine64 wine32:i386 fonts-wine xvfb xdotool imagemagick osslsigncode openssl
          clang clang-tidy clang-format libclang-rt-14-dev)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  echo "Installing: ${missing[*]}"
  # A mirror caught mid-sync fails one index, say the security suite's i386 one.
  # Its amd64 twins then come from that suite and the i386 ones do not, and a
  # Multi-Arch: same pair refuses to install: the base release has both.
  update_failed=""
  apt-get update -qq || update_failed=1
  install=(apt-get install -y -qq --no-install-recommends)
  if ! "${install[@]}" "${missing[@]}" >/dev/null; then
    [ -n "$update_failed" ] || exit 1
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "apt-get update reported errors: installing again from $codename alone"
    if ! "${install[@]}" -t "$codename" "${missing[@]}" >/dev/null; then
      echo "Cannot install ${missing[*]}: apt-get update failed and $codename alone lacks them." >&2
      echo "The mirror may be mid-sync: run scripts/install-deps.sh again later." >&2
      exit 1
    fi
  fi
fi

# Some hosts run 64-bit user code only (the kernel refuses 32-bit ELF programs).
# There Wine's loader for 32-bit Windows programs runs under qemu's user-mode
# emulator, registered for 32-bit x86 programs with binfmt_misc.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "This host cannot run 32-bit programs: running them through qemu-i386"
  dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "install ok installed" ||
    apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt
  [ -e $binfmt/qemu-i386 ] || printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' >$binfmt/register
  /usr/lib/wine/wine --version >/dev/null
fi
