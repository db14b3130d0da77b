#!/usr/bin/env python3
"""A signed launcher killed (SIGKILL of its Wine process) while it rebuilds a large file from a delta
payload: the installed file is still the old one byte for byte, "config" still names the old version,
and the next start finishes from the payload alone (the server never sees a request for the archive),
leaving the new file byte for byte and none of its own files behind. The release is signed here by
openssl with the build's test key; the payload is made by the zstd command line."""
import hashlib
import io
import os
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
import harness  # noqa: E402
import openssl_sign  # noqa: E402
from test_kill_restart import kill_launcher  # noqa: E402

SERVED = "e2e-delta"  # this test's folder below Player/
TARGET = "Data/big.dat"
BIG_SIZE = 192 << 20  # large enough that applying it takes a moment a kill can land in
KILL_TRIES = 4
MANIFEST = "[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10006 %s/Patch10006.zip\n" % SERVED


def sha(data):
    return hashlib.sha256(data).hexdigest()


def builds(seed):
    """The old and new big file: the new one differs in scattered spans and grows a little."""
    import random
    rng = random.Random(seed)
    old = rng.randbytes(BIG_SIZE)
    new = bytearray(old)
    for _ in range(64):
        at = rng.randrange(len(new) - 4096)
        new[at:at + 4096] = rng.randbytes(4096)
    return old, bytes(new) + rng.randbytes(8192)


def patch_from(old, new):
    """One zstd frame of `new` with `old` as its reference. Level 3: level 19 takes a minute per 128 MiB
    here, and the frame reads the same to the launcher."""
    with tempfile.TemporaryDirectory() as scratch:
        old_path, new_path, out = (os.path.join(scratch, n) for n in ("old", "new", "out"))
        for path, data in ((old_path, old), (new_path, new)):
            with open(path, "wb") as f:
                f.write(data)
        subprocess.run(["zstd", "-q", "-f", "-3", "--long=31", "--patch-from=" + old_path, new_path, "-o", out],
                       check=True, stderr=subprocess.PIPE)
        with open(out, "rb") as f:
            return f.read()


class DeltaKillTests(harness.TestCase):
    def setUp(self):
        super().setUp()
        self.launcher = os.path.join(self.build_dir, "VYRLauncher_signed.exe")
        self.key = os.path.join(self.build_dir, "test-patch-key.pem")
        if not (os.path.exists(self.launcher) and os.path.exists(self.key)):
            self.skipTest("needs the build's signed launcher and its test key")
        sys.path.insert(0, os.path.join(self.source_dir, "tools"))
        import make_demo_patches
        self.read_version = make_demo_patches.read_config_version
        self.served = []
        self.addCleanup(self.remove_served)

    def write_served(self, relative, data):
        path = os.path.join(self.patch_dir, *relative.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        self.served.append(path)

    def remove_served(self):
        for path in self.served:
            if os.path.exists(path):
                os.remove(path)

    def serve_release(self, old, new):
        """Manifest, signed index, archive, payload and signed delta list; answers the payload's path."""
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_STORED) as z:
            z.writestr(TARGET, new)
        archive = buffer.getvalue()
        payload = patch_from(old, new)
        payload_path = "Player/%s/Deltas/10006/%s.zst" % (SERVED, sha(payload))
        archive_path = "Player/%s/Patch10006.zip" % SERVED
        self.assertLess(len(payload) * 10, len(archive))
        manifest = MANIFEST.encode("ascii")
        index = openssl_sign.signed_index(self.key, openssl_sign.index_body(manifest, {archive_path: archive}))
        body = ("VYR-PATCH-DELTAS 1\nstep 10006 %s %s/Patch10006.zip\ndelta %s %s %d %s %d %s %s\n" %
                (sha(archive), SERVED, sha(old), sha(new), len(new), sha(payload), len(payload), payload_path, TARGET))
        deltas = body + "signature %s\n" % openssl_sign.sign(self.key, body.encode("ascii")).hex()
        self.write_served(archive_path, archive)
        self.write_served(payload_path, payload)
        self.write_served("PatchIndex.txt", index.encode("ascii"))
        self.write_served("PatchDeltas.txt", deltas.encode("ascii"))
        self.serve_manifest(MANIFEST)
        return payload_path

    def server_log(self):
        with open(os.path.join(self.build_dir, "patch_server.log"), errors="replace") as f:
            return f.read()

    def install(self, session, old):
        with open(os.path.join(self.source_dir, "tests", "data", "config_fixture_10005.bin"), "rb") as f:
            session.write_file("config", f.read())
        session.write_file(TARGET, old)

    def installed_hash(self, session):
        with open(session.path(TARGET), "rb") as f:
            return sha(f.read())

    def kill_while_applying(self, session, old_hash, new_hash):
        """Starts the launcher and kills it as soon as the part file appears; True when the kill landed
        while the part file was still there (so before its rename)."""
        part = session.path(TARGET + ".vyr-part")
        session.launch()
        deadline = time.monotonic() + 120
        while not os.path.exists(part) and time.monotonic() < deadline and session.running():
            time.sleep(0.01)
        self.assertTrue(os.path.exists(part), "the launcher never began applying the payload")
        kill_launcher(session)
        landed = os.path.exists(part)
        installed = self.installed_hash(session)
        self.assertIn(installed, (old_hash, new_hash), "a killed apply left a file that is neither build")
        if landed:
            self.assertEqual(installed, old_hash, "the file was replaced while its part file was unfinished")
            self.assertEqual(self.read_version(session.path("config")), 10005)
        return landed

    def test_a_kill_while_applying_keeps_the_old_file_and_the_next_start_finishes(self):
        old, new = builds(10006)
        payload_path = self.serve_release(old, new)
        old_hash, new_hash = sha(old), sha(new)
        archives_before = self.server_log().count("%s/Patch10006.zip" % SERVED)
        with harness.Session(launcher_build="VYRLauncher_signed.exe") as s:
            tries = 0
            landed = False
            while not landed and tries < KILL_TRIES:
                tries += 1
                self.install(s, old)
                landed = self.kill_while_applying(s, old_hash, new_hash)
            self.assertTrue(landed, "no kill landed while the payload was applied")
            print("\nkilled while applying at try %d" % tries, flush=True)
            s.launch()
            s.wait_window()
            self.assertIn("10006", s.wait_status("Ready to start the game", timeout=180))
            kill_launcher(s)
            self.assertEqual(self.installed_hash(s), new_hash)
            self.assertEqual(self.read_version(s.path("config")), 10006)
            for leftover in (".vyr-part", ".vyr-delta", ".vyr-delta.download", ".vyr-delta.download.validator"):
                self.assertFalse(s.exists(TARGET + leftover), leftover)
            self.assertFalse(s.exists("update.dlt"))
        self.assertEqual(self.server_log().count("%s/Patch10006.zip" % SERVED), archives_before, "the archive was fetched")
        self.assertIn(payload_path, self.server_log())


if __name__ == "__main__":
    harness.main()
