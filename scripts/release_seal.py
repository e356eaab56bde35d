"""The release seal that the release scripts share: where setup.exe carries the
SHA-256 of the release's list, found through a small reading of its PE headers.

    import release_seal    (from scripts/seal_release.py, sign_release.py, check_release.py)

setup.exe holds the 32 bytes MARKER, then the 32 bytes of the digest, all zero
until scripts/seal_release.py puts there the SHA-256 of the list LIST_NAME that
it writes into the distribution's root. setup.exe reads the digest from its
loaded image, so the marker must stand, once, in a section that Windows loads.
Every function here raises SealError for a file that is not this project's build
(and check_unsealed() and sealed() for one already sealed or signed).
"""

import struct

MARKER = b"Mendrel2 release list SHA-256:\0\0"
DIGEST_SIZE = 32
LIST_NAME = "Mendrel2.sha256"

PE32, PE32_PLUS = 0x10B, 0x20B  # the optional header's magic: 32-bit and 64-bit programs
SECURITY_DIRECTORY = 4  # the data directory of the certificate table, which signing fills
DISCARDABLE = 0x02000000  # IMAGE_SCN_MEM_DISCARDABLE: not kept once the program is loaded
NOT_OURS = "not this project's build"


class SealError(Exception):
    """The file is not a build of this project, or not one that can take a seal:
    a message to follow "FILE is "."""


def headers(image):
    """(the certificate table's (offset, size), [(raw start, raw size, virtual size,
    characteristics)] of each section), or SealError when image is no PE file."""
    try:
        if image[:2] != b"MZ":
            raise SealError(f"{NOT_OURS}: no PE headers")
        pe = struct.unpack_from("<I", image, 0x3C)[0]
        if image[pe:pe + 4] != b"PE\0\0":
            raise SealError(f"{NOT_OURS}: no PE headers")
        count, optional_size = struct.unpack_from("<2xH12xH", image, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", image, optional)[0]
        if magic not in (PE32, PE32_PLUS):
            raise SealError(f"{NOT_OURS}: its optional header has the unknown magic {magic:#x}")
        # The data directories follow the count of them, 16 bytes further in PE32+.
        directories = optional + (96 if magic == PE32 else 112)
        directory_count = struct.unpack_from("<I", image, directories - 4)[0]
        security = (0, 0)
        entry = directories + 8 * SECURITY_DIRECTORY
        if directory_count > SECURITY_DIRECTORY and entry + 8 <= optional + optional_size:
            security = struct.unpack_from("<II", image, entry)
        table = optional + optional_size
        sections = [struct.unpack_from("<8xI4xII12xI", image, table + 40 * i) for i in range(count)]
    except struct.error:
        raise SealError(f"{NOT_OURS}: headers cut short") from None
    # Each section as (raw start, raw size, virtual size, characteristics).
    return security, [(start, raw, virtual, flags) for virtual, raw, start, flags in sections]


def seal_offset(image):
    """Where the digest stands: right after the one marker, which must lie, with the
    digest, inside the raw data of a section that Windows loads and keeps."""
    _, sections = headers(image)
    count = image.count(MARKER)
    if count != 1:
        raise SealError(f"{NOT_OURS}: its release seal's marker occurs {count} times, not once")
    at = image.find(MARKER)
    end = at + len(MARKER) + DIGEST_SIZE
    # Bytes past the virtual size are not loaded, and those past the raw size read as zero.
    if not any(start <= at and end <= start + min(raw, virtual) and not flags & DISCARDABLE
               for start, raw, virtual, flags in sections if start):
        raise SealError(f"{NOT_OURS}: its release seal's marker lies outside the sections that "
                        "Windows loads")
    return at + len(MARKER)


def digest(image):
    """The digest that image carries: all zero when it is not sealed."""
    at = seal_offset(image)
    return bytes(image[at:at + DIGEST_SIZE])


def is_signed(image):
    """True when the certificate table is there, as signing leaves it."""
    return headers(image)[0] != (0, 0)


def check_unsealed(image):
    """Where the digest stands in image, an unsealed and unsigned build; else SealError."""
    if is_signed(image):
        # Signing covers the digest: one put in after it would break the signature.
        raise SealError("signed already: give the unsigned build, and sign the one sealed")
    if any(digest(image)):
        raise SealError("sealed already: give the unsealed build")
    return seal_offset(image)


def sealed(image, list_digest):
    """A copy of image, an unsealed and unsigned build, that carries list_digest."""
    if len(list_digest) != DIGEST_SIZE:
        raise ValueError("a SHA-256 digest has 32 bytes")
    at = check_unsealed(image)
    return bytes(image[:at]) + bytes(list_digest) + bytes(image[at + DIGEST_SIZE:])
