"""Sealing and signing a release and checking it against the reproducible build,
with a throwaway CA and code-signing certificate made here; no key is kept."""

import hashlib
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from wine_fixture import (EMULATED_I386, LEVEL_2, SAMPLE_PAYLOAD, SECONDS, SETUP_EXE, SETUP_EXE_32,
                          UPDATED_INSTALLATION, VIEW, BenchTest, make_tree, tree)

ROOT = Path(__file__).resolve().parents[2]
SIGNER = "/CN=Kestrade_Release_Test/O=Kestrade"

# A throwaway CA, and sign.p12 (password "secret"): a code-signing certificate that it issued.
CERTIFICATES = [
    "req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj /CN=Test_CA"
    " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign",
    f"req -newkey rsa:2048 -nodes -keyout sign.key -out sign.csr -subj {SIGNER}",
    "x509 -req -in sign.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile sign.ext"
    " -out sign.crt",
    "pkcs12 -export -in sign.crt -inkey sign.key -out sign.p12 -passout pass:secret",
]


def build_changed_source(folder):
    """setup.exe built from this source with one message changed."""
    source = folder / "source"
    shutil.copytree(ROOT, source, ignore=shutil.ignore_patterns("build", ".git"))
    payload = source / "installer/messages.h"
    payload.write_text(payload.read_text().replace("Failed to copy", "Could not copy"))
    toolchain = source / "cmake/i686-w64-mingw32.cmake"
    for step in (["-S", source, "-B", source / "build", f"-DCMAKE_TOOLCHAIN_FILE={toolchain}",
                  "-DCMAKE_BUILD_TYPE=Release"], ["--build", source / "build", "--target", "setup"]):
        subprocess.run(["cmake", *map(str, step)], check=True, capture_output=True)
    return source / "build/setup.exe"


def script(name, *args):
    result = subprocess.run([sys.executable, str(ROOT / "scripts" / name), *map(str, args)],
                            capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr


class Release(BenchTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.work = work = Path(tempfile.mkdtemp(prefix="release-", dir=SETUP_EXE_32.parent))
        (work / "sign.ext").write_text("keyUsage=digitalSignature\nextendedKeyUsage=codeSigning\n")
        for command in CERTIFICATES:
            subprocess.run(["openssl", *command.split()], cwd=work, check=True, capture_output=True)
        # Sealed with the list of the sample payload, which the run's distribution holds.
        cls.sums = make_tree(work / "dist", SAMPLE_PAYLOAD) / "Mendrel2.sha256"
        cls.sealed, cls.signed = work / "setup-sealed.exe", work / "setup-signed.exe"
        cls.seal_and_sign(SETUP_EXE_32, cls.sealed, cls.signed)
        # Where 32-bit code is emulated, the signed 64-bit build of the same sources runs.
        cls.signed_run = work / "setup64-signed.exe" if EMULATED_I386 else cls.signed
        if EMULATED_I386:
            cls.seal_and_sign(SETUP_EXE, work / "setup64-sealed.exe", cls.signed_run)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)
        super().tearDownClass()

    @classmethod
    def seal_and_sign(cls, build, sealed, signed):
        status, output = script("seal_release.py", cls.sums.parent, "--in", build, "--out", sealed)
        assert status == 0, output
        status, output = cls.sign(signed, "secret", sealed)
        assert status == 0, output

    @classmethod
    def sign(cls, out, password, build=None):
        (cls.work / "password").write_text(password + "\n")
        return script("sign_release.py", "--pkcs12", cls.work / "sign.p12", "--in",
                      build or cls.sealed, "--out", out, "--password-file", cls.work / "password")

    def check(self, signed, build=SETUP_EXE_32, sums=True):
        return script("check_release.py", signed, "--build", build, "--ca", self.work / "ca.crt",
                      *(["--sums", self.sums] if sums else []))

    def test_signed_release_is_the_build_plus_a_signature(self):
        status, output = self.check(self.signed)
        self.assertEqual(status, 0, output)
        self.assertIn(f"signature: verified\nsigner: {SIGNER}\n"
                      "description: Lumeric Server 4.5 Mendrel2, sealed release\n", output)
        self.assertIn(f"sealed with: {hashlib.sha256(self.sums.read_bytes()).hexdigest()}", output)
        status, output = self.check(self.signed, sums=False)
        self.assertEqual(status, 1, output)
        self.assertIn("add --sums DIST\\Mendrel2.sha256", output)
        tampered = bytearray(self.signed.read_bytes())
        tampered[0x600] ^= 0xFF  # a byte of code
        (self.work / "tampered.exe").write_bytes(tampered)
        status, output = self.check(self.work / "tampered.exe")
        self.assertEqual((status, output.splitlines()[0]), (1, "signature: NOT verified"))
        status, output = self.check(self.signed, build_changed_source(self.work))
        self.assertEqual(status, 1, output)
        self.assertIn("signature: verified", output)
        self.assertIn("same as the local build: no", output)

    def test_wrong_password_no_certificate_or_no_seal_leaves_nothing(self):
        before = sorted(self.work.iterdir())
        status, output = self.sign(self.work / "wrong.exe", "not the password")
        self.assertEqual(status, 1)
        self.assertIn("the password is wrong", output)
        self.assertEqual(sorted(self.work.iterdir()), before)
        status, output = script("sign_release.py", "--pkcs12", self.work / "none.p12", "--in",
                                self.sealed, "--out", self.work / "none.exe", "--password-file",
                                self.work / "password")
        self.assertEqual((status, sorted(self.work.iterdir())), (1, before), output)
        status, output = self.sign(self.work / "unsealed.exe", "secret", SETUP_EXE_32)
        self.assertEqual((status, sorted(self.work.iterdir())), (1, before), output)
        self.assertIn("seal it first with scripts/seal_release.py DIST", output)

    def test_signed_setup_updates_as_the_unsigned_one_does(self):
        """The program as shipped, a 32-bit one whose key is in the 32-bit view; where
        32-bit code is emulated, the 64-bit build, sealed and signed the same way. Its
        distribution holds the payload that was sealed, and the list."""
        self.bench.register(view=VIEW)
        dist, install = self.bench.distribution(), self.bench.installation()
        shutil.copy(self.sums, dist)
        run = self.bench.start_setup(cwd=dist, exe=self.signed_run, QDXCOMP="MSVC", COPYCMD="/Y")
        self.assertEqual(run.wait(timeout=SECONDS * 3), 0, run.output())
        self.assertEqual(tree(install), UPDATED_INSTALLATION)
        self.assertEqual(self.bench.value("ServiceLevel", view=VIEW), LEVEL_2)


if __name__ == "__main__":
    unittest.main()
