"""Signing a release and checking it against the reproducible build, with a
throwaway CA and code-signing certificate made here; no key is kept."""

import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from wine_fixture import LEVEL_2, SECONDS, SETUP_EXE_32, UPDATED_INSTALLATION, BenchTest, tree

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
        cls.signed = work / "setup-signed.exe"
        assert cls.sign(cls.signed, "secret")[0] == 0

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)
        super().tearDownClass()

    @classmethod
    def sign(cls, out, password):
        (cls.work / "password").write_text(password + "\n")
        return script("sign_release.py", "--pkcs12", cls.work / "sign.p12", "--out", out,
                      "--password-file", cls.work / "password")

    def check(self, signed, build=SETUP_EXE_32):
        return script("check_release.py", signed, "--build", build, "--ca", self.work / "ca.crt")

    def test_signed_release_is_the_build_plus_a_signature(self):
        status, output = self.check(self.signed)
        self.assertEqual(status, 0, output)
        self.assertIn(f"signature: verified\nsigner: {SIGNER}\n"
                      "description: Lumeric Server 4.5 Mendrel2\n", output)
        tampered = bytearray(self.signed.read_bytes())
        tampered[0x600] ^= 0xFF  # a byte of code
        (self.work / "tampered.exe").write_bytes(tampered)
        status, output = self.check(self.work / "tampered.exe")
        self.assertEqual((status, output.splitlines()[0]), (1, "signature: NOT verified"))
        status, output = self.check(self.signed, build_changed_source(self.work))
        self.assertEqual(status, 1, output)
        self.assertIn("signature: verified", output)
        self.assertIn("same as the local build: no", output)

    def test_wrong_password_or_no_certificate_leaves_nothing(self):
        before = sorted(self.work.iterdir())
        status, output = self.sign(self.work / "wrong.exe", "not the password")
        self.assertEqual(status, 1)
        self.assertIn("the password is wrong", output)
        self.assertEqual(sorted(self.work.iterdir()), before)
        status, output = script("sign_release.py", "--pkcs12", self.work / "none.p12", "--out",
                                self.work / "none.exe", "--password-file", self.work / "password")
        self.assertEqual((status, sorted(self.work.iterdir())), (1, before), output)

    def test_signed_setup_updates_as_the_unsigned_one_does(self):
        """The program as shipped, a 32-bit one: its key is in the 32-bit view."""
        self.bench.register(view="32")
        dist, install = self.bench.distribution(), self.bench.installation()
        run = self.bench.start_setup(cwd=dist, exe=self.signed, QDXCOMP="MSVC", COPYCMD="/Y")
        # Its copies start the 32-bit cmd.exe and xcopy, emulated where setup.exe is.
        self.assertEqual(run.wait(timeout=SECONDS * 3), 0, run.output())
        self.assertEqual(tree(install), UPDATED_INSTALLATION)
        self.assertEqual(self.bench.value("ServiceLevel", view="32"), LEVEL_2)


if __name__ == "__main__":
    unittest.main()
