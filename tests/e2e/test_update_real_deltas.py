#!/usr/bin/env python3
"""Delta patches on a real release nobody here built: two consecutive versions of a public Windows
package (the bench's first pair, fetched by scripts/install-deps with npm). vyr-publish releases one to the other, signed with
the test key; the signed launcher patches a folder holding the old version until it equals the new one
byte for byte, fetching payloads only (no archive); a launcher built before delta lists patches the same
served folder through the archive and ends byte for byte right too."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import earlier_launcher  # noqa: E402

STEP = 32001  # apart from the step numbers other tests serve
LAUNCHER_OWN = {"VYRLauncher.exe", "config", "update.dat", "VYRLauncher.log", "verify.dat"}


def game_files(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            relative = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            if relative in LAUNCHER_OWN or relative.startswith("shot-"):
                continue
            with open(os.path.join(folder, name), "rb") as f:
                found[relative] = f.read()
    return found


def files_read_since_change(root):
    """Per game file: read since its last change (relatime moves the access time past the change time at
    the first read after a write or a rename)."""
    read = {}
    for folder, _, names in os.walk(root):
        for name in names:
            relative = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            if relative not in LAUNCHER_OWN:
                facts = os.stat(os.path.join(folder, name))
                read[relative] = facts.st_atime_ns > facts.st_ctime_ns
    return read


class RealDeltaTests(harness.TestCase):
    def setUp(self):
        super().setUp()
        sys.path.insert(0, os.path.join(self.source_dir, "tools"))
        sys.path.insert(0, os.path.join(self.source_dir, "scripts"))
        import make_demo_patches
        import bench_deltas
        self.enciphered_config = make_demo_patches.enciphered_config
        self.read_config_version = make_demo_patches.read_config_version
        cache = os.path.join(self.source_dir, ".deps", "bench-pairs")
        os.makedirs(cache, exist_ok=True)
        package, old, new = bench_deltas.PAIRS[0]  # fetched by scripts/install-deps
        self.old = bench_deltas.fetch_release(cache, package, old)
        self.new = bench_deltas.fetch_release(cache, package, new)
        self.work = tempfile.mkdtemp(prefix="vyr-e2e-real-deltas-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.log = os.path.join(self.build_dir, "patch_server.log")

    def publish(self, *args):
        tool = os.path.join(self.source_dir, "build", "host", "vyr-publish")
        result = subprocess.run([tool] + list(args), capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, "%s: %s" % (args, result.stderr))
        return result.stdout.strip()

    def serve_release(self):
        for step in (["cmake", "--preset", "host"], ["cmake", "--build", "--preset", "host"]):
            subprocess.run(step, cwd=self.source_dir, check=True, stdout=subprocess.DEVNULL)
        www = os.path.join(self.work, "www")
        key = os.path.join(self.build_dir, "test-patch-key.pem")
        self.publish("release", "--www", www, "--from", self.old, "--to", self.new, "--version", str(STEP),
                     "--private", key)
        version = earlier_launcher.cache_value(self.build_dir, "VYR_LAUNCHER_VERSION")
        self.publish("launcher", "--www", www, "--file", os.path.join(self.build_dir, "VYRLauncher.exe"),
                     "--version", version, "--private", key)
        shutil.copytree(www, self.patch_dir, dirs_exist_ok=True)
        for folder, _, names in os.walk(www):
            for name in names:
                served = os.path.join(self.patch_dir, os.path.relpath(os.path.join(folder, name), www))
                self.addCleanup(os.remove, served)
        self.publish("verify", "--www", self.patch_dir, "--public", self.publish("pubkey", "--private", key))

    def patch_old_folder(self, launcher):
        """GET paths below Player/ that one run of `launcher` asked for, after it ended ready with the
        new version, which it must."""
        log_start = os.path.getsize(self.log) if os.path.exists(self.log) else 0
        with harness.Session(launcher_build=launcher) as s:
            shutil.copytree(self.old, s.folder, dirs_exist_ok=True)
            s.write_file("config", self.enciphered_config(STEP - 1))
            s.launch()
            s.wait_window()
            status = s.wait_status("Ready to start the game", timeout=180)
            self.assertIn(str(STEP), status)
            self.assertEqual(self.read_config_version(s.path("config")), STEP)
            self.read_since_change = files_read_since_change(s.folder)  # before this test reads them
            got, want = game_files(s.folder), game_files(self.new)
            self.assertEqual(sorted(got), sorted(want))
            for name in want:
                self.assertTrue(got[name] == want[name], "%s differs from the new release" % name)
        with open(self.log, "rb") as f:
            f.seek(log_start)
            log = f.read().decode(errors="replace")
        return re.findall(r'"GET /%s/((?:Player/|PatchDeltas)[^ ?]*)' % harness.PATCH_PATH, log)

    def test_a_real_release_travels_as_deltas_and_an_earlier_launcher_still_takes_the_archive(self):
        self.serve_release()
        fetched = self.patch_old_folder("VYRLauncher_signed.exe")
        payloads = [p for p in fetched if p.startswith(("Player/Deltas/", "Player/Files/"))]
        self.assertIn("PatchDeltas.txt", fetched)
        self.assertTrue(any(p.startswith("Player/Deltas/") for p in payloads), fetched)
        self.assertEqual([p for p in fetched if p not in payloads and p != "PatchDeltas.txt"], [],
                         "the signed launcher fetched more than payloads")
        downloaded = sum(os.path.getsize(os.path.join(self.patch_dir, *p.split("/"))) for p in set(payloads))
        archive = os.path.getsize(os.path.join(self.patch_dir, "Player", "Patch%d.zip" % STEP))
        print("payloads %d bytes against the archive's %d" % (downloaded, archive))
        self.assertLess(downloaded, archive / 2)
        # The check after the step reads the files it has to hash, and not the ones the step rebuilt and
        # hashed itself just before renaming them into place.
        old, new = game_files(self.old), game_files(self.new)
        rebuilt = {name for name in new if old.get(name) != new[name]}
        kept = set(new) - rebuilt
        if not kept or not any(self.read_since_change[name] for name in kept):
            self.skipTest("this file system does not record reads (noatime), or the release changes every file")
        self.assertEqual({name for name in rebuilt if self.read_since_change[name]}, set(),
                         "files the delta step had just hashed were read again")

        earlier = earlier_launcher.build_signed_launcher(self.source_dir, self.build_dir)
        fetched = self.patch_old_folder(earlier)
        self.assertEqual(fetched, ["Player/Patch%d.zip" % STEP])


if __name__ == "__main__":
    harness.main()
