#!/usr/bin/env python3
"""Signs the sealed setup.exe with Authenticode (SHA-256) into a separate file, with osslsigncode.

    scripts/sign_release.py --pkcs12 FILE [--password-file FILE] [--timestamp URL]
                            [--url URL] [--description TEXT] [--in EXE] [--out SIGNED]

The certificate's password comes from --password-file or from the environment
variable SETUP_SIGNING_PASSWORD, never from the command line, where other users
of the machine could read it in the process list; it reaches osslsigncode on its
standard input. --timestamp names an RFC 3161 server. --in is the program that
scripts/seal_release.py DIST sealed (build/windows/setup-sealed.exe by default):
an unsealed one is refused, since the signature covers the seal, which must be
there before. The signed file appears only when signing succeeded: nothing
half-written is ever left at --out.
Exit status: 0 signed; 1 not signed, with a message and no file written (STATUSES
says when); 2 a wrong command line, as argparse reports it.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import release_seal

ROOT = Path(__file__).resolve().parents[1]
PASSWORD_VARIABLE = "SETUP_SIGNING_PASSWORD"
DESCRIPTION = "Lumeric Server 4.5 Mendrel2, sealed release"

STATUSES = """exit status: 0 signed; 1 not signed, with a message on standard error and
no file written (no program to sign, one not sealed or not this project's build, no
certificate, no password or one that cannot be read, a wrong certificate or password,
a timestamp server that does not answer, no osslsigncode); 2 a wrong command line, with
the usage message."""


def stop(message):
    print(f"sign_release: {message}", file=sys.stderr)
    sys.exit(1)


def read_password(options):
    if options.password_file:
        try:
            return Path(options.password_file).read_text().rstrip("\r\n")
        except OSError as error:
            stop(f"cannot read the password file: {error.strerror}")
    if PASSWORD_VARIABLE in os.environ:
        return os.environ[PASSWORD_VARIABLE]
    stop(f"no password: give --password-file or set {PASSWORD_VARIABLE}")


def why_it_failed(output, options):
    if "PKCS#12" in output or "Wrong password" in output:
        return (f"cannot read the certificate {options.pkcs12}: the password is wrong, "
                "or the file is not a PKCS#12 certificate with its key")
    if options.timestamp and "timestamp" in output.lower():
        return f"the timestamp server {options.timestamp} could not be reached or refused to answer"
    return "osslsigncode failed:\n" + output.strip()


def check_sealed(source):
    """Stops unless source carries a seal: signed unsealed, it could never be sealed."""
    try:
        sealed = any(release_seal.digest(source.read_bytes()))
    except OSError as error:
        stop(f"cannot read the program {source}: {error.strerror}")
    except release_seal.SealError as error:
        stop(f"{source} cannot be signed: it is {error}; build setup.exe, then seal it first "
             "with scripts/seal_release.py DIST")
    if not sealed:
        stop(f"{source} is not sealed: seal it first with scripts/seal_release.py DIST, "
             "then sign the sealed program it writes")


def sign(options, password):
    source, target = Path(options.input), Path(options.out)
    if not source.is_file():
        stop(f"no program to sign at {source}: build it, then seal it with "
             "scripts/seal_release.py DIST")
    check_sealed(source)
    if not Path(options.pkcs12).is_file():
        stop(f"no certificate at {options.pkcs12}")
    if shutil.which("osslsigncode") is None:
        stop("osslsigncode is not installed (scripts/install-deps.sh installs it)")
    target.parent.mkdir(parents=True, exist_ok=True)
    # osslsigncode writes a new file only; it lands at target once it is whole.
    with tempfile.TemporaryDirectory(dir=target.parent) as work:
        signed = Path(work) / target.name
        command = ["osslsigncode", "sign", "-pkcs12", options.pkcs12, "-readpass", "/dev/stdin",
                   "-h", "sha256", "-n", options.description]
        command += ["-i", options.url] if options.url else []
        command += ["-ts", options.timestamp] if options.timestamp else []
        result = subprocess.run(command + ["-in", str(source), "-out", str(signed)],
                                input=password, text=True, capture_output=True)
        if result.returncode != 0 or not signed.is_file():
            stop(why_it_failed(result.stdout + result.stderr, options))
        os.replace(signed, target)
    print(f"signed: {target}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0], epilog=STATUSES)
    parser.add_argument("--pkcs12", required=True, help="the code-signing certificate and its key")
    parser.add_argument("--password-file", help=f"else the variable {PASSWORD_VARIABLE}")
    parser.add_argument("--timestamp", help="an RFC 3161 timestamp server's URL")
    parser.add_argument("--url", help="a URL shown with the signature")
    parser.add_argument("--description", default=DESCRIPTION)
    parser.add_argument("--in", dest="input", default=str(ROOT / "build/windows/setup-sealed.exe"),
                        help="the sealed program")
    parser.add_argument("--out", default=str(ROOT / "build/windows/setup-signed.exe"))
    options = parser.parse_args()
    sign(options, read_password(options))


if __name__ == "__main__":
    main()
