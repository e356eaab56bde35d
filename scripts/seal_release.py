#!/usr/bin/env python3
"""Seals a release: lists its payload files' SHA-256, and gives setup.exe the list's SHA-256.

    scripts/seal_release.py DIST [--in EXE] [--out SEALED]

DIST is the distribution's root; the list is DIST/Mendrel2.sha256, in which
every file below DIST's folders (Common, the compiler folders such as MS60, the
language folders such as EN) gets a line: its SHA-256 in lower-case hex, two
spaces, its path below DIST with backslashes, CR LF; the lines sorted by their
paths in upper case. The root's own files (setup.exe, install.cmd, the list)
are not listed. setup.exe checks the list against the digest it carries, then
every payload file against the list; names that Windows would read otherwise,
and links, are refused here.
EXE (build/windows/setup.exe by default, 32- or 64-bit) is copied to SEALED
(build/windows/setup-sealed.exe) with the list's SHA-256 in its release seal
and no other byte changed; scripts/sign_release.py then signs SEALED.
Exit status: 0 sealed; 1 not sealed, with a message and nothing written, neither
list nor program (STATUSES says when); 2 a wrong command line, as argparse reports it.
"""

import argparse
import hashlib
import os
import stat
import sys
from pathlib import Path

import release_seal

ROOT = Path(__file__).resolve().parents[1]
# Names that Windows reads as devices, in any case and with any extension (nul.txt).
DEVICES = {"CON", "PRN", "AUX", "NUL", *(port + n for port in ("COM", "LPT") for n in "123456789")}
RESERVED = set('<>:"|?*\\')

STATUSES = """exit status: 0 sealed; 1 not sealed, with a message on standard error and
nothing written (no folder DIST, no file below its folders, a name that Windows would
read otherwise, two names that differ only in case, a link or other non-file below
its folders, a file that cannot be read, a program that is not this project's build
or is sealed or signed already, a file that cannot be written); 2 a wrong command
line, with the usage message."""


def stop(message):
    print(f"seal_release: {message}", file=sys.stderr)
    sys.exit(1)


def shown(relative):
    """relative (a tuple of names) as Windows would name it, with any byte that is no
    printable ASCII escaped, so that a message shows what is wrong with it."""
    return "\\".join(os.fsencode(name).decode("ascii", "backslashreplace") for name in relative)


def refusal(name):
    """Why Windows would not read name as it stands here, or None."""
    if any(not " " <= c <= "~" for c in name):
        # setup.exe reads names in each machine's ANSI code page, which differ beyond ASCII.
        return "holds a character that is not printable ASCII"
    if RESERVED & set(name):
        return 'holds one of the characters <>:"|?*\\, which Windows forbids in names'
    if name.endswith((".", " ")):
        return "ends in a dot or a space, which Windows drops"
    if name.split(".")[0].rstrip(" ").upper() in DEVICES:
        return "is a device's name in Windows, with or without an extension"
    if name == ".DS_Store" or name.startswith("._"):
        return "is a file that a Mac adds, not one of the release"
    return None


def payload_files(dist):
    """[(relative path as a tuple of names, absolute path)] of every file below the
    folders of dist, each name checked; stops at the first that setup.exe would refuse."""
    files = []

    def walk(folder, relative):
        try:
            entries = sorted(os.scandir(folder), key=lambda entry: entry.name)
        except OSError as error:
            stop(f'cannot read the folder "{shown(relative) or "."}" in {dist}: {error.strerror}')
        seen = {}
        for entry in entries:
            path = relative + (entry.name,)
            if not relative and not entry.is_dir():
                continue  # the root's own files ship beside the payload, unlisted
            if why := refusal(entry.name):
                stop(f'"{shown(path)}" in {dist} {why}: rename or remove it')
            # Windows's names ignore case: two of them here would be one file there.
            if (twin := seen.setdefault(entry.name.upper(), entry.name)) != entry.name:
                stop(f'"{shown(relative + (twin,))}" and "{shown(path)}" in {dist} are one '
                     "name for Windows, which ignores case: keep one of them")
            mode = entry.stat(follow_symlinks=False).st_mode
            if stat.S_ISLNK(mode):
                # setup.exe refuses links: through one a copy reads whatever it points to.
                stop(f'"{shown(path)}" in {dist} is a symbolic link, which setup.exe refuses: '
                     "put the file or folder itself there")
            if stat.S_ISDIR(mode):
                walk(entry.path, path)
            elif stat.S_ISREG(mode):
                files.append((path, entry.path))
            else:
                stop(f'"{shown(path)}" in {dist} is neither a file nor a folder: remove it')

    walk(dist, ())
    if not files:
        stop(f"no files below the folders of {dist}: is it the distribution's root?")
    return files


def release_list(dist):
    """The list's bytes and its number of lines."""
    lines = []
    for relative, path in payload_files(dist):
        try:
            with open(path, "rb") as file:
                digest = hashlib.file_digest(file, "sha256").hexdigest()
        except OSError as error:
            stop(f'cannot read "{shown(relative)}" in {dist}: {error.strerror}')
        lines.append((shown(relative), digest))
    # Sorted as setup.exe compares names: upper case, byte by byte (names are ASCII here).
    lines.sort(key=lambda line: line[0].upper().encode("ascii"))
    return "".join(f"{digest}  {name}\r\n" for name, digest in lines).encode("ascii"), len(lines)


def unsealed_program(source):
    """source's bytes, once found to be an unsealed, unsigned build of this project."""
    try:
        image = source.read_bytes()
    except OSError as error:
        stop(f"cannot read the program {source}: {error.strerror}; build it first")
    try:
        release_seal.check_unsealed(image)
    except release_seal.SealError as error:
        stop(f"{source} cannot be sealed: it is {error}")
    return image


def temporary_beside(target, data, mode):
    """A whole copy of data in target's folder, to be renamed onto target; mode set
    outright, whatever the umask: a list others may change would seal nothing."""
    temporary = target.with_name(f".{target.name}.{os.getpid()}.tmp")
    with open(temporary, "wb") as file:
        file.write(data)
    os.chmod(temporary, mode)
    return temporary


def write_both(outputs):
    """Writes each (target, data, mode) whole, or none of them."""
    for target, _, _ in outputs:
        if target.is_dir():  # else os.replace would fail only once the first file is in place
            stop(f"cannot write {target}: it is a folder")
    written = []
    try:
        for target, data, mode in outputs:
            target.parent.mkdir(parents=True, exist_ok=True)
            written.append((temporary_beside(target, data, mode), target))
        for temporary, target in written:
            os.replace(temporary, target)
    except OSError as error:
        for temporary, _ in written:
            temporary.unlink(missing_ok=True)
        stop(f"cannot write {target}: {error.strerror} ({error.filename})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0], epilog=STATUSES)
    parser.add_argument("dist", metavar="DIST", help="the distribution's root")
    parser.add_argument("--in", dest="input", metavar="EXE", help="the unsealed, unsigned build",
                        default=str(ROOT / "build/windows/setup.exe"))
    parser.add_argument("--out", metavar="SEALED", help="the sealed program, to be signed",
                        default=str(ROOT / "build/windows/setup-sealed.exe"))
    options = parser.parse_args()
    dist, source, target = Path(options.dist), Path(options.input), Path(options.out)
    if target.resolve() == source.resolve():
        parser.error("--out must differ from --in: check_release.py needs the unsealed build")
    if not dist.is_dir():
        stop(f"no folder {dist}")

    # Every check first, the program's before the long hashing: nothing is written until all pass.
    image = unsealed_program(source)
    listing, count = release_list(dist)
    list_digest = hashlib.sha256(listing).digest()
    program = release_seal.sealed(image, list_digest)
    list_path = dist / release_seal.LIST_NAME
    write_both([(list_path, listing, 0o644), (target, program, 0o755)])
    print(f"list: {list_path} ({count} files)")
    print(f"list SHA-256: {list_digest.hex()}")
    print(f"sealed: {target}")


if __name__ == "__main__":
    main()
