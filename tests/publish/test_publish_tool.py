#!/usr/bin/env python3
"""vyr-publish run on generated builds: what a release carries (compared by content, stored or deflated,
the delete list, the launcher's own files left out), the manifest and the index it keeps, a signature
openssl accepts, verify catching a tampered archive, a missing file and a wrong key, the launcher version
check on real PE files, and every name the formats cannot carry refused with nothing published."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from signature_der import der_signature, split_index  # noqa: E402

TOOL = None


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def read(path):
    with open(path, "rb") as f:
        return f.read()


class PublishToolTests(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vyr-publish-test-")
        self.www = os.path.join(self.dir, "www")
        self.key = os.path.join(self.dir, "key.pem")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_tool(self, *args, expect=0):
        result = subprocess.run([TOOL] + list(args), capture_output=True, text=True)
        if expect is not None:
            self.assertEqual(result.returncode, expect, "%s\n%s%s" % (args, result.stdout, result.stderr))
        return result

    def build(self, name, files):
        root = os.path.join(self.dir, name)
        os.makedirs(root, exist_ok=True)
        for path, data in files.items():
            if data is None:
                os.makedirs(os.path.join(root, path), exist_ok=True)
            else:
                write(os.path.join(root, path), data)
        return root

    def release(self, old, new, version, expect=0, signed=True):
        args = ["release", "--www", self.www, "--from", old, "--to", new, "--version", str(version)]
        return self.run_tool(*(args + (["--private", self.key] if signed else [])), expect=expect)

    def test_release_chain_signature_and_verify(self):
        public = self.run_tool("keygen", "--private", self.key).stdout.strip()
        self.assertRegex(public, "^[0-9a-f]{128}$")
        self.assertEqual(self.run_tool("pubkey", "--private", self.key).stdout.strip(), public)
        self.run_tool("keygen", "--private", self.key, expect=1)  # never over an existing key

        noise = os.urandom(300000)
        long_name = "Deep/" + "n" * 120 + " with spaces " + "m" * 100 + ".dat"
        a = self.build("A", {"Data/table.txt": "v1\n" * 1000, "Data/Sub/noise.bin": noise, "same.txt": "same",
                             "Old Folder/gone.dat": "retired", "abcd": "four", "Renamed.TXT": "case",
                             "config": "launcher's own", "update.dat": "manifest copy"})
        b = self.build("B", {"Data/table.txt": "v2\n" * 1000, "Data/Sub/noise.bin": noise, "same.txt": "same",
                             "New Folder/text file.txt": "t" * 100000, long_name: os.urandom(5000),
                             "renamed.txt": "case", "Empty Folder": None, "config": "other",
                             "VYRLauncher.exe": "not shipped", "big.dat.download": "partial",
                             "VYRLauncher.old.exe": "Updater's backup"})
        out = self.release(a, b, 10002).stdout
        self.assertIn("Player/Patch10002.zip", out)
        with zipfile.ZipFile(os.path.join(self.www, "Player", "Patch10002.zip")) as z:
            infos = {i.filename: i for i in z.infolist()}
            self.assertEqual(sorted(infos), sorted(["Data/table.txt", "New Folder/text file.txt", long_name,
                                                    "renamed.txt", "Empty Folder/", "delete.txt"]))
            for name in ("Data/table.txt", "New Folder/text file.txt", long_name):
                self.assertEqual(z.read(name), read(os.path.join(b, name)), name)
            self.assertEqual(infos["New Folder/text file.txt"].compress_type, zipfile.ZIP_DEFLATED)
            self.assertEqual(infos[long_name].compress_type, zipfile.ZIP_STORED)  # random bytes do not shrink
            # Renamed only in case: the same file on Windows, so it is shipped and never deleted.
            self.assertEqual(z.read("delete.txt"), b"Old Folder/gone.dat\nabcd\n")
            self.assertIsNone(z.testzip())

        self.release(b, b, 10003)  # an unchanged build: a step without files
        self.release(b, b, 10003, expect=1)
        manifest = read(os.path.join(self.www, "LauncherPatchInfo.txt")).decode()
        self.assertEqual(manifest, "[INSTALLER]\n[LAUNCHER]\n[PLAYER]\n10002 Patch10002.zip\n10003\n")
        self.assertFalse(os.path.exists(os.path.join(self.www, "Player", "Patch10003.zip")))
        self.run_tool("verify", "--www", self.www, "--public", public)

        index = read(os.path.join(self.www, "PatchIndex.txt"))
        body, raw = split_index(index)
        write(os.path.join(self.dir, "body"), body)
        write(os.path.join(self.dir, "sig.der"), der_signature(raw))
        subprocess.run(["openssl", "pkey", "-in", self.key, "-pubout", "-out", os.path.join(self.dir, "pub.pem")],
                       check=True)
        check = subprocess.run(["openssl", "dgst", "-sha256", "-verify", os.path.join(self.dir, "pub.pem"),
                                "-signature", os.path.join(self.dir, "sig.der"), os.path.join(self.dir, "body")],
                               capture_output=True, text=True)
        self.assertEqual(check.stdout.strip(), "Verified OK", check.stderr)

        archive = os.path.join(self.www, "Player", "Patch10002.zip")
        good = read(archive)
        write(archive, good[:1000] + bytes([good[1000] ^ 1]) + good[1001:])
        self.assertIn("Player/Patch10002.zip", self.run_tool("verify", "--www", self.www, expect=1).stderr)
        os.remove(archive)
        self.assertIn("missing", self.run_tool("verify", "--www", self.www, expect=1).stderr)
        write(archive, good)
        # A key made by openssl alone (SEC1 PEM) reads with the public key openssl gives for it.
        other = os.path.join(self.dir, "other.pem")
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", other], check=True)
        der = subprocess.run(["openssl", "ec", "-in", other, "-pubout", "-outform", "DER"], check=True,
                             capture_output=True).stdout
        other_public = self.run_tool("pubkey", "--private", other).stdout.strip()
        self.assertEqual(other_public, der[-64:].hex())
        self.assertIn("signature", self.run_tool("verify", "--www", self.www, "--public", other_public,
                                                 expect=1).stderr)
        # Unsigned, the folder verifies only without a key.
        self.release(b, b, 10004, signed=False)
        self.run_tool("verify", "--www", self.www)
        self.assertIn("not signed", self.run_tool("verify", "--www", self.www, "--public", public, expect=1).stderr)

    def test_names_the_formats_cannot_carry_are_refused_and_nothing_is_published(self):
        self.run_tool("keygen", "--private", self.key)
        base = {"keep/file.bin": "k", "abc": "three", "thing": "file"}
        a = self.build("A", base)
        self.release(self.build("Empty", {}), a, 10001)
        before = {name: read(os.path.join(self.www, name)) for name in ("LauncherPatchInfo.txt", "PatchIndex.txt")}
        deep = "/".join("d%d" % i for i in range(17)) + "/f.dat"
        cases = {
            "aux.dat": {"aux.dat": "device"},
            "trailing.": {"trailing.": "dot"},
            "caf\u00e9.txt": {"caf\u00e9.txt": "not ASCII"},
            "back\\slash.txt": {"back\\slash.txt": "a folder on Windows"},
            deep: {deep: "too deep"},
            "delete.txt": {"delete.txt": "a game file"},
            "Patch10002.zip": {"Patch10002.zip": "named like the archive"},
            "File.txt": {"file.txt": "one", "File.txt": "two"},
            "thing": {"thing/inside.dat": "a folder where a file was"},
        }
        for name, extra in cases.items():
            with self.subTest(name=name):
                files = dict(base, **extra)
                if name == "thing":
                    del files["thing"]
                b = self.build("B-%d" % len(os.listdir(self.dir)), files)
                self.assertIn(name, self.release(a, b, 10002, expect=1).stderr)
        # "abc" removed: a delete-list line of 4 characters with its line feed would end the list.
        b = self.build("B-short", {"keep/file.bin": "k", "thing": "file"})
        self.assertIn("abc", self.release(a, b, 10002, expect=1).stderr)
        for name, data in before.items():
            self.assertEqual(read(os.path.join(self.www, name)), data, name)
        self.assertEqual(os.listdir(os.path.join(self.www, "Player")), ["Patch10001.zip"])
        self.release(a, a, 0, expect=1)
        self.release(a, a, "1e5", expect=1)

    def test_launcher_and_installer_placement_checks_the_version_resource(self):
        compilers = [c for c in ("x86_64-w64-mingw32", "i686-w64-mingw32") if shutil.which(c + "-windres")]
        if not compilers:
            self.skipTest("no mingw-w64 windres")
        write(os.path.join(self.dir, "main.c"), "int main(void) { return 0; }\n")
        write(os.path.join(self.dir, "version.rc"),
              "1 VERSIONINFO\nFILEVERSION 1,2,3,4\nPRODUCTVERSION 9,9,9,9\nBEGIN\nEND\n")
        for prefix in compilers:  # a 64-bit (PE32+) and a 32-bit (PE32) image
            exe = os.path.join(self.dir, prefix + ".exe")
            res = os.path.join(self.dir, prefix + ".res.o")
            subprocess.run([prefix + "-windres", os.path.join(self.dir, "version.rc"), "-o", res], check=True)
            subprocess.run([prefix + "-gcc", os.path.join(self.dir, "main.c"), res, "-o", exe], check=True)
            self.assertIn("1.2.3.4", self.run_tool("launcher", "--www", self.www, "--file", exe, "--version",
                                                   "1.2.3.5", expect=1).stderr)
            self.run_tool("launcher", "--www", self.www, "--file", exe, "--version", "1.2.3.4")
            self.assertEqual(read(os.path.join(self.www, "Launcher", "VYRLauncher.exe")), read(exe))
            # Cut short anywhere, even by its last byte, the image is refused, by both commands, and never
            # read past its end (the native build runs ASan); what was placed stays.
            image = read(exe)
            cut = os.path.join(self.dir, "cut.exe")
            for length in (64, 512, len(image) // 3, len(image) // 2, len(image) - 1):
                write(cut, image[:length])
                for command in ("launcher", "installer"):
                    result = self.run_tool(command, "--www", self.www, "--file", cut, "--version", "1.2.3.4",
                                           expect=1)
                    self.assertNotIn("Sanitizer", result.stderr)
                    self.assertIn("not a whole Windows executable", result.stderr, (command, length))
            self.assertEqual(read(os.path.join(self.www, "Launcher", "VYRLauncher.exe")), image)
            self.assertFalse(os.path.exists(os.path.join(self.www, "Installer", "NorvaneSetup.exe")))
        for command in ("launcher", "installer"):  # not an executable at all
            self.run_tool(command, "--www", self.www, "--file", os.path.join(self.dir, "main.c"), "--version",
                          "1.2.3.4", expect=1)
        self.run_tool("installer", "--www", self.www, "--file", exe, "--version", "7.0", expect=1)
        self.run_tool("installer", "--www", self.www, "--file", exe, "--version", "7.0.0.1")
        manifest = read(os.path.join(self.www, "LauncherPatchInfo.txt")).decode()
        self.assertEqual(manifest, "[INSTALLER]\n7.0.0.1\n[LAUNCHER]\n1.2.3.4\n[PLAYER]\n")
        index = read(os.path.join(self.www, "PatchIndex.txt")).decode()
        self.assertIn(" Installer/NorvaneSetup.exe\n", index)
        self.assertIn(" Launcher/VYRLauncher.exe\n", index)
        self.run_tool("verify", "--www", self.www)
        os.remove(os.path.join(self.www, "Installer", "NorvaneSetup.exe"))
        self.assertIn("Installer/NorvaneSetup.exe", self.run_tool("verify", "--www", self.www, expect=1).stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    known, rest = parser.parse_known_args()
    TOOL = os.path.abspath(known.tool)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
