#!/usr/bin/env python3
"""The signed launcher checks the game folder against a signed whole-build list at every start and
repairs it file by file. One served release (made here with openssl and the zstd command line), one
game folder through its life: a step is applied while the list is not yet served, with nothing checked;
then the folder, emptied, becomes the whole build; size changes, a deleted
file and a removed folder are restored by the next start, a same-size corruption only by "/repair";
the server sees requests for exactly those payloads; a save the list does not name is never touched;
an older list served after this one is refused with the server message; a kill during a repair leaves
no part file in a game file's place and the next start finishes; the system menu's "Verify game files"
repairs what only a full check finds."""
import hashlib
import io
import os
import re
import shutil
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
from test_window import START  # noqa: E402

VERSION = 10005
SERIAL = 7
SERVED = "Player/e2e-repair/Files"  # this test's payload store
MANIFEST = "[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n%d e2e-repair/Patch%d.zip\n" % (VERSION, VERSION)
SAVE = "Saves/slot1.sav"
BIG = "Data/big.pak"
BIG_SIZE = 96 << 20  # large enough that fetching and unpacking it takes a moment a kill can land in
SERVER_MESSAGE = "Unable to"  # "... retrieve information from the server.", whose middle OCR misreads
WORK_SUFFIXES = (".vyr-part", ".vyr-delta", ".download", ".download.validator")


def sha(data):
    return hashlib.sha256(data).hexdigest()


def build_files():
    import random
    rng = random.Random(20)
    files = {
        "readme.txt": b"Norvane\n" * 40,
        "Data/a.bin": rng.randbytes(70000),
        "Data/b.bin": rng.randbytes(5000),
        "Data/c.bin": b"\x07" * 30000,
        "Data/d.bin": rng.randbytes(1234),
        "Data/keep.bin": rng.randbytes(3000),
        "Maps/\u00dcn\u00efcode Zone/m1.dat": rng.randbytes(9000),
        "Maps/\u00dcn\u00efcode Zone/m2.dat": b"",
    }
    files[BIG] = rng.randbytes(BIG_SIZE)
    return files


def zstd_frame(data, level):
    with tempfile.TemporaryDirectory() as scratch:
        source, out = os.path.join(scratch, "in"), os.path.join(scratch, "out")
        with open(source, "wb") as f:
            f.write(data)
        subprocess.run(["zstd", "-q", "-f", "-%d" % level, source, "-o", out], check=True)
        with open(out, "rb") as f:
            return f.read()


class RepairTests(harness.TestCase):
    def setUp(self):
        super().setUp()
        self.launcher = os.path.join(self.build_dir, "VYRLauncher_signed.exe")
        self.key = os.path.join(self.build_dir, "test-patch-key.pem")
        if not (os.path.exists(self.launcher) and os.path.exists(self.key)):
            self.skipTest("needs the build's signed launcher and its test key")
        sys.path.insert(0, os.path.join(self.source_dir, "tools"))
        import make_demo_patches
        self.config_before = make_demo_patches.enciphered_config(VERSION - 1)
        self.files = build_files()
        self.payloads = {}  # game path -> served payload path
        self.served = []
        self.addCleanup(self.remove_served)
        self.log = os.path.join(self.build_dir, "patch_server.log")

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

    def serve_list(self, serial):
        lines = ["VYR-PATCH-BUILD 1", "release %d %d" % (serial, VERSION)]
        for path in sorted(self.files, key=lambda p: p.encode()):
            data, payload_path = self.files[path], self.payloads[path]
            with open(os.path.join(self.patch_dir, *payload_path.split("/")), "rb") as f:
                payload = f.read()
            lines.append("file %s %d %s %d %s %s" % (sha(data), len(data), sha(payload), len(payload), payload_path, path))
        body = ("\n".join(lines) + "\n").encode()
        self.write_served("PatchBuild.txt", body + b"signature %s\n" % openssl_sign.sign(self.key, body).hex().encode())

    def serve_release(self, with_list=True):
        """The payload store, and a step archive holding the readme only; the whole-build list unless
        the publisher is one from before it."""
        for path, data in self.files.items():
            # Random bytes do not shrink: the big file is framed fast.
            payload = zstd_frame(data, 1 if path == BIG else 19)
            self.payloads[path] = "%s/%s.zst" % (SERVED, sha(data))
            self.write_served(self.payloads[path], payload)
        buffer = io.BytesIO()
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("readme.txt", self.files["readme.txt"])
        archive = {"Player/e2e-repair/Patch%d.zip" % VERSION: buffer.getvalue()}
        self.write_served(*next(iter(archive.items())))
        manifest = MANIFEST.encode("ascii")
        self.write_served("PatchIndex.txt",
                          openssl_sign.signed_index(self.key, openssl_sign.index_body(manifest, archive)).encode())
        if with_list:
            self.serve_list(SERIAL)
        self.serve_manifest(MANIFEST)

    def log_size(self):
        return os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def payloads_requested_since(self, start):
        with open(self.log, "rb") as f:
            f.seek(start)
            log = f.read().decode(errors="replace")
        requested = set(re.findall(r'"GET /%s/(%s/[0-9a-f]+\.zst)' % (harness.PATCH_PATH, SERVED), log))
        return {path for path, served in self.payloads.items() if served in requested}

    def start(self, s, args="", expect="Ready to start the game", then_play=False):
        """One start to its end state, ended by a kill or by Start; answers the game files whose payloads
        it requested."""
        log_start = self.log_size()
        s.launch(args)
        s.wait_window()
        status = s.wait_status(expect, timeout=180)
        if expect.startswith("Ready"):
            self.assertIn(str(VERSION), status)
            self.assertFalse(self.leftovers(s), "work files left behind")
        if then_play:
            s.click(*START)
            self.assertEqual(s.wait_exit(10), 0)
        else:
            kill_launcher(s)
        return self.payloads_requested_since(log_start)

    def leftovers(self, s):
        found = []
        for folder, _, names in os.walk(s.folder):
            found += [os.path.join(folder, n) for n in names if n.endswith(WORK_SUFFIXES)]
        return found

    def assert_whole_build(self, s, except_paths=()):
        for path, data in self.files.items():
            if path in except_paths:
                continue
            with open(s.path(path), "rb") as f:
                self.assertTrue(f.read() == data, "%s is not the build's" % path)

    def test_a_game_folder_is_built_checked_repaired_and_kept_from_rollback(self):
        self.serve_release(with_list=False)
        with harness.Session(launcher_build="VYRLauncher_signed.exe", stub_game=True) as s:
            # A publisher from before the whole-build list: the pending step is applied from its archive
            # and the game shown ready, nothing checked, fetched or recorded.
            s.write_file("config", self.config_before)
            s.write_file(SAVE, b"my progress")
            self.assertEqual(self.start(s), set())
            with open(s.path("readme.txt"), "rb") as f:
                self.assertEqual(f.read(), self.files["readme.txt"])
            self.assertFalse(s.exists("verify.dat"))

            # Once the list is served, a folder of only the launcher, config and a save: the next start
            # fetches the whole build.
            os.remove(s.path("readme.txt"))
            self.serve_list(SERIAL)
            self.assertEqual(self.start(s), set(self.files))
            self.assert_whole_build(s)

            # Size changes, a deleted file and a removed folder: the next start restores those only.
            # The same-size change keeps its last-write time (a disk error, not a write) and stays.
            with open(s.path("Data/a.bin"), "ab") as f:
                f.write(b"tail")
            with open(s.path("Data/b.bin"), "r+b") as f:
                f.truncate(100)
            self.corrupt_keeping_time(s, "Data/c.bin")
            os.remove(s.path("Data/d.bin"))
            shutil.rmtree(s.path("Maps/\u00dcn\u00efcode Zone"))
            repaired = {"Data/a.bin", "Data/b.bin", "Data/d.bin", "Maps/\u00dcn\u00efcode Zone/m1.dat",
                        "Maps/\u00dcn\u00efcode Zone/m2.dat"}
            self.assertEqual(self.start(s), repaired)
            self.assert_whole_build(s, except_paths={"Data/c.bin"})
            with open(s.path("Data/c.bin"), "rb") as f:
                self.assertNotEqual(f.read(), self.files["Data/c.bin"])

            # A full verification hashes everything and finds the same-size change; the switch is the
            # launcher's own: the game gets the rest of the command line only.
            self.assertEqual(self.start(s, "-windowed /repair", then_play=True), {"Data/c.bin"})
            self.assert_whole_build(s)
            with open(s.path("VYRLauncher.log"), encoding="utf-8") as f:
                repair_lines = [line for line in f if " repair name=" in line]
            self.assertTrue(any('"Data/c.bin"' in line and "repaired" in line for line in repair_lines), repair_lines)
            self.assertTrue(any("full check of %d listed files" % len(self.files) in line for line in repair_lines),
                            repair_lines)
            recorded = s.recorded_args("Norvane.exe")
            self.assertIsNotNone(recorded, "the game was not started")
            self.assertEqual(recorded[recorded.lower().find("norvane.exe") + len("norvane.exe"):].strip(' "'),
                             "-windowed")

            # A stale mirror serves an older release's list: refused, record untouched, nothing fetched.
            with open(s.path("verify.dat"), "rb") as f:
                record = f.read()
            self.serve_list(SERIAL - 1)
            self.assertEqual(self.start(s, expect=SERVER_MESSAGE), set())
            with open(s.path("verify.dat"), "rb") as f:
                self.assertEqual(f.read(), record)
            self.serve_list(SERIAL)

            # A kill while the big file is repaired: never a part file in its place, and the next start
            # finishes the repair.
            os.remove(s.path(BIG))
            s.launch()
            s.wait_window()
            deadline = time.monotonic() + 120
            while not self.leftovers(s) and time.monotonic() < deadline:
                time.sleep(0.02)
            self.assertTrue(self.leftovers(s), "the repair of the big file never began")
            time.sleep(0.3)
            kill_launcher(s)
            if os.path.exists(s.path(BIG)):
                with open(s.path(BIG), "rb") as f:
                    self.assertTrue(f.read() == self.files[BIG], "a part file stands in the big file's place")
            self.start(s)
            self.assert_whole_build(s)

            # The system menu's "Verify game files" (the last item) on a ready launcher finds a same-size
            # change as /repair does.
            self.corrupt_keeping_time(s, "Data/c.bin")
            log_start = self.log_size()
            s.launch()
            s.wait_window()
            s.wait_status("Ready to start the game", timeout=60)
            s.key("alt+space")
            s.key("Up")
            s.key("Return")
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and self.payloads_requested_since(log_start) != {"Data/c.bin"}:
                time.sleep(0.2)
            s.wait_status("Ready to start the game", timeout=60)
            self.assertEqual(self.payloads_requested_since(log_start), {"Data/c.bin"})
            self.assert_whole_build(s)
            kill_launcher(s)

            with open(s.path(SAVE), "rb") as f:
                self.assertEqual(f.read(), b"my progress")

    def test_a_failed_repair_keeps_every_file_found_right(self):
        """A repair that fails on the first listed file still records the others as verified: the next
        start, with the payload back, hashes none of them again and fetches only the missing one."""
        del self.files[BIG]
        self.serve_release()
        first = min(self.files, key=lambda p: p.encode())
        with harness.Session(launcher_build="VYRLauncher_signed.exe", stub_game=True) as s:
            s.write_file("config", self.config_before)
            self.start(s)
            payload = os.path.join(self.patch_dir, *self.payloads[first].split("/"))
            os.rename(payload, payload + ".away")
            self.served.append(payload + ".away")
            os.remove(s.path(first))
            self.start(s, expect="Downloading failed")
            os.rename(payload + ".away", payload)
            self.assertEqual(self.start(s), {first})
            self.assert_whole_build(s)
            with open(s.path("VYRLauncher.log"), encoding="utf-8") as f:
                checks = re.findall(r"quick check of \d+ listed files \(serial \d+\): (\d+) to hash, (\d+) missing",
                                    f.read())
            self.assertEqual(checks[-1], ("0", "1"), checks)

    def corrupt_keeping_time(self, s, path):
        same = os.stat(s.path(path))
        with open(s.path(path), "r+b") as f:
            f.write(b"\xff" * 64)
        os.utime(s.path(path), ns=(same.st_atime_ns, same.st_mtime_ns))


if __name__ == "__main__":
    harness.main()
