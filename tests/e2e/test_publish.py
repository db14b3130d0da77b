#!/usr/bin/env python3
"""Releases made by vyr-publish, end to end: game builds A, B and C are generated, vyr-publish makes two
release steps and places the launcher, the served folder verifies, and the launcher under Wine patches a
folder holding A until it equals C byte for byte (the launcher's own files aside).

With a launcher built with VYR_PATCH_PUBLIC_KEY the index is signed with the matching private key, named
by the cache variable or environment variable VYR_PATCH_PRIVATE_KEY_FILE, else the build's test key
test-patch-key.pem; without one a key made here signs it, and the launcher fetches no index."""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

FIRST_STEP = 30001  # apart from the step numbers other tests serve
LARGE_FILE_COUNT = 65600  # beyond the 65,535 entries a classic zip end record can count
LARGE_RELEASE_SECONDS = 120
SCREEN_FILES = re.compile(r"^(shot-\d+\.png|ocr-crop\.png)$")
LAUNCHER_OWN = {"VYRLauncher.exe", "config", "update.dat", "VYRLauncher.log", "verify.dat"}


def noise(seed, size):
    return random.Random(seed).randbytes(size)


def text(seed, lines):
    rng = random.Random(seed)
    return "".join("item %d: %s\n" % (i, rng.choice(["sword", "shield", "potion", "scroll"])) for i in range(lines))


def build_a():
    return {
        "Data/Tables/items.txt": text(1, 20000),
        "Data/Tables/skills.txt": text(2, 5000),
        "Data/Maps/World 1/region 1.map": noise(3, 1500000),
        "Data/Maps/World 1/Caves/cave.map": noise(4, 500000),
        "Sounds/theme.ogg": noise(5, 1000000),
        "Movies/Old Intro/intro.dat": noise(6, 800000),
        "Bin/game.dll": noise(7, 100000) * 3,
        "readme.txt": "Norvane, build A\n",
    }


def build_b():
    files = build_a()
    region = bytearray(files["Data/Maps/World 1/region 1.map"])
    region[1000:1010] = b"0123456789"
    files.update({"Data/Tables/items.txt": text(11, 20000), "Data/Maps/World 1/region 1.map": bytes(region),
                  "Movies/New Intro/intro 2.dat": noise(12, 900000),
                  "Data/Maps/World 2/Deep/er/and/deeper/map.bin": noise(13, 200000),
                  "readme.txt": "Norvane, build B\n", "Empty Dir": None,
                  # Names beyond ASCII, shipped flagged UTF-8 and retired again by build C's delete list.
                  "Data/\u00c4rger.dat": noise(14, 3000),
                  "\u041a\u0430\u0440\u0442\u0430/\u4e16\u754c.map": noise(15, 3000), "Sounds/caf\u00e9.ogg": noise(16, 3000)})
    del files["Movies/Old Intro/intro.dat"]
    return files


def build_c():
    files = build_b()
    del files["Sounds/theme.ogg"]
    del files["Data/Tables/skills.txt"]
    del files["Data/\u00c4rger.dat"]
    del files["\u041a\u0430\u0440\u0442\u0430/\u4e16\u754c.map"]
    files.update({"Sounds/Theme v2.ogg": noise(21, 700000), "Bin/game.dll": noise(22, 100000) * 3,
                  "Data/Long Names/" + "a long file name " * 8 + ".txt": "long\n", "readme.txt": "Norvane, build C\n"})
    return files


def write_tree(root, files):
    for name, data in files.items():
        path = os.path.join(root, *name.split("/"))
        if data is None:
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)


def cache_value(build_dir, name):
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return ""


class PublishTests(harness.TestCase):
    def setUp(self):
        super().setUp()
        sys.path.insert(0, os.path.join(self.source_dir, "tools"))
        import make_demo_patches
        self.enciphered_config = make_demo_patches.enciphered_config
        self.read_config_version = make_demo_patches.read_config_version
        self.work = tempfile.mkdtemp(prefix="vyr-e2e-publish-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.tool = self.build_tool()

    def build_tool(self):
        """vyr-publish is a host program: built here with the host preset, whatever this build is."""
        for step in (["cmake", "--preset", "host"], ["cmake", "--build", "--preset", "host"]):
            subprocess.run(step, cwd=self.source_dir, check=True, stdout=subprocess.DEVNULL)
        return os.path.join(self.source_dir, "build", "host", "vyr-publish")

    def publish(self, *args):
        result = subprocess.run([self.tool] + list(args), capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, "%s: %s" % (args, result.stderr))
        return result.stdout.strip()

    def signing_key(self):
        """(private key file, public key hex or "" when the launcher checks none)."""
        public = cache_value(self.build_dir, "VYR_PATCH_PUBLIC_KEY")
        self.launcher_build = "VYRLauncher.exe"
        signed_build = os.path.join(self.build_dir, "VYRLauncher_signed.exe")
        if not public and os.path.exists(signed_build):
            # The build's launcher that carries the test key: the release is signed with that key.
            key = os.path.join(self.build_dir, "test-patch-key.pem")
            self.launcher_build = "VYRLauncher_signed.exe"
            return key, self.publish("pubkey", "--private", key)
        if not public:
            key = os.path.join(self.work, "key.pem")
            self.publish("keygen", "--private", key)
            return key, ""
        key = (os.environ.get("VYR_PATCH_PRIVATE_KEY_FILE") or cache_value(self.build_dir, "VYR_PATCH_PRIVATE_KEY_FILE")
               or os.path.join(self.build_dir, "test-patch-key.pem"))
        self.assertTrue(os.path.exists(key), "the launcher checks signatures: VYR_PATCH_PRIVATE_KEY_FILE must name its key")
        self.assertEqual(self.publish("pubkey", "--private", key), public, "the key does not match the launcher's")
        return key, public

    def publish_releases(self, builds, first_step=FIRST_STEP):
        www = os.path.join(self.work, "www")
        key, public = self.signing_key()
        for step, (old, new) in enumerate(zip(builds, builds[1:]), start=first_step + 1):
            self.publish("release", "--www", www, "--from", old, "--to", new, "--version", str(step), "--private", key)
        self.publish("launcher", "--www", www, "--file", os.path.join(self.build_dir, "VYRLauncher.exe"),
                     "--version", cache_value(self.build_dir, "VYR_LAUNCHER_VERSION"), "--private", key)
        # Served where the launcher looks, then checked there as a player would get it.
        shutil.copytree(www, self.patch_dir, dirs_exist_ok=True)
        for folder, _, names in os.walk(www):
            for name in names:
                served = os.path.join(self.patch_dir, os.path.relpath(os.path.join(folder, name), www))
                self.addCleanup(os.remove, served)
        self.publish("verify", "--www", self.patch_dir, *(["--public", public] if public else []))

    def game_files(self, root):
        found = {}
        for folder, _, names in os.walk(root):
            for name in names:
                relative = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
                if relative in LAUNCHER_OWN or SCREEN_FILES.match(relative):
                    continue
                with open(os.path.join(folder, name), "rb") as f:
                    found[relative] = f.read()
        return found

    def test_a_folder_holding_build_a_is_patched_to_build_c_byte_for_byte(self):
        roots = []
        for name, files in (("A", build_a()), ("B", build_b()), ("C", build_c())):
            roots.append(os.path.join(self.work, name))
            write_tree(roots[-1], files)
        self.publish_releases(roots)
        with harness.Session(launcher_build=self.launcher_build) as s:
            write_tree(s.folder, build_a())
            s.write_file("config", self.enciphered_config(FIRST_STEP))
            s.launch()
            s.wait_window()
            status = s.wait_status("Ready to start the game", timeout=120)
            self.assertIn(str(FIRST_STEP + 2), status)
            self.assertEqual(self.read_config_version(s.path("config")), FIRST_STEP + 2)
            got, want = self.game_files(s.folder), self.game_files(roots[2])
            self.assertEqual(sorted(got), sorted(want))
            for name in want:
                self.assertTrue(got[name] == want[name], "%s differs from build C" % name)
            self.assertTrue(os.path.isdir(s.path("Empty Dir")))

    def test_a_release_of_65600_new_files_is_applied_in_full_with_its_delete_list(self):
        a = {"readme.txt": "Norvane, small build\n", "Old/retired.dat": "gone after the step\n"}
        b = {"readme.txt": "Norvane, large build\n"}
        b.update({"Many/d%02d/f%05d.txt" % (i // 1000, i): "file %d\n" % i for i in range(LARGE_FILE_COUNT)})
        roots = []
        for name, files in (("A", a), ("B", b)):
            roots.append(os.path.join(self.work, name))
            write_tree(roots[-1], files)
        self.publish_releases(roots)
        with harness.Session(launcher_build=self.launcher_build) as s:
            write_tree(s.folder, a)
            s.write_file("config", self.enciphered_config(FIRST_STEP))
            started = time.monotonic()
            s.launch()
            s.wait_window()
            status = s.wait_status("Ready to start the game", timeout=LARGE_RELEASE_SECONDS)
            elapsed = time.monotonic() - started
            print("%d files patched in %.1f s" % (LARGE_FILE_COUNT, elapsed))
            self.assertIn(str(FIRST_STEP + 1), status)
            self.assertLess(elapsed, LARGE_RELEASE_SECONDS)
            self.assertEqual(self.read_config_version(s.path("config")), FIRST_STEP + 1)
            got, want = self.game_files(s.folder), self.game_files(roots[1])
            self.assertEqual(len(got), LARGE_FILE_COUNT + 1)  # the last entries and the readme arrived
            self.assertEqual(got, want)  # and the delete list, packed last, retired the old file
            self.assertFalse(s.exists("delete.txt"))


if __name__ == "__main__":
    harness.main()
