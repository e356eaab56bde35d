"""Signing a release and checking it against the reproducible build, with a
throwaway CA and code-signing certificate made here; no key is kept."""

import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from wine_fixture import LEVEL_2, SETUP_EXE, UPDATED_INSTALLATION, BenchTest, tree

ROOT = Path(__file__).resolve().parents[2]
SIGNER = "/CN=Kestrade Release Test/O=Kestrade"


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_certificates(folder):
    """ca.crt, and sign.p12 (password "secret"): a code-signing certificate that the CA issued."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt",
            "-days", "2", "-subj", "/CN=Release Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "sign.key", "-out", "sign.csr",
            "-subj", SIGNER, cwd=folder)
    (folder / "sign.ext").write_text("keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    openssl("x509", "-req", "-in", "sign.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
            "-days", "2", "-extfile", "sign.ext", "-out", "sign.crt", cwd=folder)
    openssl("pkcs12", "-export", "-in", "sign.crt", "-inkey", "sign.key", "-out", "sign.p12",
            "-passout", "pass:secret", cwd=folder)


def build_changed_source(folder):
    """setup.exe built from this source with one message changed."""
    source = folder / "source"
    shutil.copytree(ROOT, source, ignore=shutil.ignore_patterns("build", ".git"))
    payload = source / "installer/payload.cpp"
    payload.write_text(payload.read_text().replace("Failed to copy", "Could not copy"))
    toolchain = source / "cmake/i686-w64-mingw32.cmake"
    for step in (["-S", source, "-B", source / "build", f"-DCMAKE_TOOLCHAIN_FILE={toolchain}",
                  "-DCMAKE_BUILD_TYPE=Release"], ["--build", source / "build", "--target", "setup"]):
        subprocess.run(["cmake", *map(str, step)], check=True, capture_output=True)
    return source / "build/setup.exe"


class Release(BenchTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.work = Path(tempfile.mkdtemp(prefix="release-", dir=SETUP_EXE.parent))
        make_certificates(cls.work)
        cls.signed = cls.work / "setup-signed.exe"
        status, output = cls.sign(cls.signed, "secret\n")
        assert status == 0, output

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)
        super().tearDownClass()

    @classmethod
    def sign(cls, out, password):
        (cls.work / "password").write_text(password)
        result = subprocess.run([sys.executable, str(ROOT / "scripts/sign_release.py"),
                                 "--pkcs12", str(cls.work / "sign.p12"),
                                 "--password-file", str(cls.work / "password"), "--out", str(out)],
                                capture_output=True, text=True)
        return result.returncode, result.stdout + result.stderr

    def check(self, signed, build=SETUP_EXE):
        result = subprocess.run([sys.executable, str(ROOT / "scripts/check_release.py"), str(signed),
                                 "--build", str(build), "--ca", str(self.work / "ca.crt")],
                                capture_output=True, text=True)
        return result.returncode, result.stdout

    def test_signed_release_is_the_build_plus_a_signature(self):
        status, output = self.check(self.signed)
        self.assertEqual(status, 0, output)
        self.assertIn(f"signer: {SIGNER}\ndescription: Lumeric Server 4.5 Mendrel2\n", output)
        self.assertIn("same as the local build: yes", output)

        tampered = self.work / "tampered.exe"
        image = bytearray(self.signed.read_bytes())
        image[0x600] ^= 0xFF  # a byte of code
        tampered.write_bytes(image)
        status, output = self.check(tampered)
        self.assertEqual(status, 1, output)
        self.assertIn("signature: NOT verified", output)

        status, output = self.check(self.signed, build_changed_source(self.work))
        self.assertEqual(status, 1, output)
        self.assertIn("signature: verified", output)
        self.assertIn("same as the local build: no", output)

    def test_wrong_password_leaves_nothing(self):
        before = sorted(self.work.iterdir())
        status, output = self.sign(self.work / "wrong.exe", "not the password\n")
        self.assertEqual(status, 1)
        self.assertIn("the password is wrong", output)
        self.assertEqual(sorted(self.work.iterdir()), before)

    def test_signed_setup_updates_as_the_unsigned_one_does(self):
        self.bench.register()
        dist = self.bench.distribution()
        install = self.bench.installation()
        run = self.bench.start_setup(cwd=dist, exe=self.signed, QDXCOMP="MSVC", COPYCMD="/Y")
        self.assertEqual(run.wait(), 0, run.output())
        self.assertEqual(tree(install), UPDATED_INSTALLATION)
        self.assertEqual(self.bench.value("ServiceLevel"), LEVEL_2)


if __name__ == "__main__":
    unittest.main()
