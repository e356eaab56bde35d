#!/usr/bin/env python3
"""Checks a signed setup.exe: does its signature verify, who signed it and when,
and is it, with the signature removed, the program that this source builds,
sealed with the release's list.

    scripts/check_release.py SIGNED [--build EXE] [--sums LIST] [--ca FILE]

--build is the local, unsigned and unsealed build (build/windows/setup.exe by
default; the build is reproducible, so anyone can make it from the published
source). --sums is the list shipped with SIGNED, DIST\\Mendrel2.sha256: the
build, sealed here with the SHA-256 of its bytes as scripts/seal_release.py
seals it, is what SIGNED must be. A sealed SIGNED without --sums fails. --ca
names the certificates to verify against, by default the system's, and also
serves for the timestamp's signer. With the signature removed by osslsigncode
the file must equal the (sealed) build byte for byte, except the PE checksum,
which signing rewrites, and up to 7 zero bytes at the end, with which signing
pads a file to the 8-byte boundary of the certificate table.
Exit status: 0 verified and the same program; 1 not, or sealed and no --sums
given; 2 wrong use: a file missing, or a --build that cannot be sealed with --sums.
"""

import argparse
import hashlib
import subprocess
import sys
import tempfile
from pathlib import Path

import release_seal

ROOT = Path(__file__).resolve().parents[1]


def verify(signed, ca):
    """(verified, signer, description, timestamp) as osslsigncode's verify reports them."""
    command = ["osslsigncode", "verify", "-in", str(signed)]
    command += ["-CAfile", ca, "-TSA-CAfile", ca] if ca else []
    result = subprocess.run(command, capture_output=True, text=True)
    lines = [line.strip() for line in (result.stdout + result.stderr).splitlines()]

    def first(prefix):
        return next((line[len(prefix):].strip() for line in lines if line.startswith(prefix)), None)

    verified = result.returncode == 0 and "Signature verification: ok" in lines
    return verified, first("Subject:"), first("Text description:"), first("Timestamp time:")


def checksum_offset(image):
    """Where the PE header's checksum stands."""
    return int.from_bytes(image[0x3C:0x40], "little") + 0x58


def first_difference(stripped, build):
    """None when stripped is build, apart from the checksum and the padding; else the offset."""
    if len(stripped) < len(build) or len(stripped) - len(build) > 7 or any(stripped[len(build):]):
        return min(len(stripped), len(build))
    at = checksum_offset(build)
    masked = [bytearray(stripped[:len(build)]), bytearray(build)]
    for image in masked:
        image[at:at + 4] = bytes(4)
    return next((i for i, (a, b) in enumerate(zip(*masked)) if a != b), None)


def carries_seal(image):
    """True when image, setup.exe or not, carries a release seal that is not all zero."""
    try:
        return any(release_seal.digest(image))
    except release_seal.SealError:
        return False


def only_seal_differs(stripped, build, seal):
    """True when stripped is build but for the digest at seal: the program, another list."""
    end = seal + release_seal.DIGEST_SIZE
    return first_difference(stripped[:seal] + build[seal:end] + stripped[end:], build) is None


def strip(signed, work):
    unsigned = Path(work) / "unsigned.exe"
    result = subprocess.run(["osslsigncode", "remove-signature", "-in", str(signed),
                             "-out", str(unsigned)], capture_output=True, text=True)
    return unsigned.read_bytes() if result.returncode == 0 and unsigned.is_file() else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("signed")
    parser.add_argument("--build", default=str(ROOT / "build/windows/setup.exe"))
    parser.add_argument("--sums", metavar="LIST",
                        help=f"the list shipped with SIGNED, DIST\\{release_seal.LIST_NAME}")
    parser.add_argument("--ca", help="certificates to verify against (PEM)")
    options = parser.parse_args()
    for path in filter(None, (options.signed, options.build, options.sums)):
        if not Path(path).is_file():
            print(f"check_release: no file at {path}", file=sys.stderr)
            return 2
    build, seal = Path(options.build).read_bytes(), None
    if options.sums:
        list_digest = hashlib.sha256(Path(options.sums).read_bytes()).digest()
        try:
            seal = release_seal.check_unsealed(build)
            build = release_seal.sealed(build, list_digest)
        except release_seal.SealError as error:
            print(f"check_release: the local build {options.build} cannot be sealed: it is {error}",
                  file=sys.stderr)
            return 2

    verified, signer, description, timestamp = verify(options.signed, options.ca)
    print(f"signature: {'verified' if verified else 'NOT verified'}")
    print(f"signer: {signer or 'none'}")
    print(f"description: {description or 'none'}")
    print(f"timestamp: {timestamp or 'none'}")
    with tempfile.TemporaryDirectory() as work:
        stripped = strip(options.signed, work)
    if stripped is None:
        print("same as the local build: no, its signature could not be removed")
        return 1
    if seal is not None:
        print(f"sealed with: {list_digest.hex()} ({options.sums})")
    elif carries_seal(stripped):
        print("same as the local build: cannot tell, it is sealed: add --sums "
              f"DIST\\{release_seal.LIST_NAME}, the list shipped with it")
        return 1
    difference = first_difference(stripped, build)
    if difference is None:
        print("same as the local build: yes")
    elif seal is not None and only_seal_differs(stripped, build, seal):
        carried = stripped[seal:seal + release_seal.DIGEST_SIZE]
        print("same as the local build: no, " + (f"it was sealed with another list, of SHA-256 "
              f"{carried.hex()}" if any(carried) else "it is not sealed"))
    else:
        print(f"same as the local build: no, they differ from byte {difference}")
    return 0 if verified and difference is None else 1


if __name__ == "__main__":
    sys.exit(main())
