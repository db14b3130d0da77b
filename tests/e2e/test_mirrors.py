#!/usr/bin/env python3
"""The manifest's mirrors, end to end: a release made by vyr-publish whose patch files the compiled-in
base URL does not serve (it serves the manifest and the signed lists only), and whose manifest lists a
dead mirror (a port nobody listens on), then a mirror whose every file has one byte flipped, then a
healthy one. The launcher that carries the test key patches build A to build B byte for byte, and the
servers' request logs show who served what: the base and the bad mirror are asked once each and then
passed over, and the healthy mirror serves the rest: delta payloads, and the archive once the delta list
is gone."""
import os
import shutil
import socket
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import test_publish  # noqa: E402  (as a module: its cases must not run here)
from test_publish import noise, write_tree  # noqa: E402

FIRST_STEP = 41001  # apart from the step numbers other tests serve
MIRROR_PORT_OFFSET = 10  # the mirror server's three ports lie past the patch server's


def build_a():
    return {"Data/table.txt": "item 1\n" * 3000, "Data/world.map": noise(41, 400000), "Bin/game.dll": noise(42, 300000),
            "readme.txt": "build A\n"}


def build_b():
    files = build_a()
    files.update({"Data/table.txt": "item 2\n" * 3000, "Data/new.map": noise(43, 200000), "readme.txt": "build B\n"})
    world = bytearray(files["Data/world.map"])
    world[5000:5010] = b"0123456789"
    files["Data/world.map"] = bytes(world)
    return files


def free_port():
    """A port that was free a moment ago and that nobody listens on."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def player_requests(log_text, prefix):
    return [line for line in log_text.splitlines() if '"GET %sPlayer/' % prefix in line]


class MirrorTests(harness.TestCase):
    def setUp(self):
        super().setUp()
        sys.path.insert(0, os.path.join(self.source_dir, "tools"))
        import make_demo_patches
        self.enciphered_config = make_demo_patches.enciphered_config
        self.read_config_version = make_demo_patches.read_config_version
        if not os.path.exists(os.path.join(self.build_dir, "VYRLauncher_signed.exe")):
            self.skipTest("no launcher built with the test key")
        self.work = tempfile.mkdtemp(prefix="vyr-e2e-mirrors-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.key = os.path.join(self.build_dir, "test-patch-key.pem")
        self.tool = self.build_tool()

    build_tool = test_publish.PublishTests.build_tool
    game_files = test_publish.PublishTests.game_files

    def publish(self, *args):
        result = subprocess.run([self.tool] + list(args), capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, "%s: %s" % (args, result.stderr))

    def start_mirror_server(self, root):
        port = int(os.environ.get("VYR_TEST_PORT", "47443")) + MIRROR_PORT_OFFSET
        pid_file, log = os.path.join(self.work, "mirror.pid"), os.path.join(self.work, "mirror.log")
        server = os.path.join(self.source_dir, "tools", "patch_server.py")
        subprocess.run([sys.executable, server, "--root", root, "--port", str(port), "--certs",
                        os.path.join(self.build_dir, "test-certs"), "--daemon", "--pid-file", pid_file, "--log", log],
                       check=True)
        self.addCleanup(subprocess.run, [sys.executable, server, "--stop", "--pid-file", pid_file])
        return port, log

    def serve_on_base_without_player(self, www):
        """The release as the base URL serves it: everything but the patch files."""
        for folder, _, names in os.walk(www):
            relative = os.path.relpath(folder, www)
            if relative.split(os.sep)[0] == "Player":
                continue
            for name in names:
                served = os.path.join(self.patch_dir, relative, name)
                os.makedirs(os.path.dirname(served), exist_ok=True)
                shutil.copy(os.path.join(folder, name), served)
                self.addCleanup(lambda path=served: os.path.exists(path) and os.remove(path))

    def serve_on_mirrors(self, www, mirrors):
        good, bad = os.path.join(mirrors, "good", "Player"), os.path.join(mirrors, "bad", "Player")
        shutil.copytree(os.path.join(www, "Player"), good)
        shutil.copytree(os.path.join(www, "Player"), bad)
        for folder, _, names in os.walk(bad):
            for name in names:
                with open(os.path.join(folder, name), "r+b") as f:
                    f.seek(os.path.getsize(f.name) // 2)
                    byte = f.read(1)
                    f.seek(-1, os.SEEK_CUR)
                    f.write(bytes([byte[0] ^ 0x01]))

    def test_patch_files_come_from_the_first_mirror_that_serves_them_whole(self):
        a, b, www, mirrors = (os.path.join(self.work, n) for n in ("A", "B", "www", "mirrors"))
        write_tree(a, build_a())
        write_tree(b, build_b())
        self.build_b = b
        self.publish("release", "--www", www, "--from", a, "--to", b, "--version", str(FIRST_STEP + 1),
                     "--private", self.key)
        port, mirror_log = self.start_mirror_server(mirrors)
        dead = "https://127.0.0.1:%d/dead/" % free_port()
        self.publish("mirrors", "--www", www, "--private", self.key, dead, "https://127.0.0.1:%d/bad/" % port,
                     "https://127.0.0.1:%d/good/" % port)
        self.assertFalse(os.path.exists(os.path.join(self.patch_dir, "Player", "Patch%d.zip" % (FIRST_STEP + 1))))
        self.serve_on_base_without_player(www)
        self.serve_on_mirrors(www, mirrors)
        # Once with the delta list (payloads fetched as verified files), once without it (the archive).
        self.patch_and_check(mirror_log, "Player/Deltas/", dead)
        os.remove(os.path.join(self.patch_dir, "PatchDeltas.txt"))
        self.patch_and_check(mirror_log, "Player/Patch%d.zip" % (FIRST_STEP + 1), dead)

    def patch_and_check(self, mirror_log, expected_path, dead):
        base_log = os.path.join(self.build_dir, "patch_server.log")
        base_log_start, mirror_log_start = (os.path.getsize(p) if os.path.exists(p) else 0 for p in (base_log, mirror_log))
        with harness.Session(launcher_build="VYRLauncher_signed.exe") as s:
            write_tree(s.folder, build_a())
            s.write_file("config", self.enciphered_config(FIRST_STEP))
            s.launch()
            s.wait_window()
            status = s.wait_status("Ready to start the game", timeout=60)
            self.assertIn(str(FIRST_STEP + 1), status)
            self.assertEqual(self.read_config_version(s.path("config")), FIRST_STEP + 1)
            got, want = self.game_files(s.folder), self.game_files(self.build_b)
            self.assertEqual(sorted(got), sorted(want))
            for name in want:
                self.assertTrue(got[name] == want[name], "%s differs from build B" % name)
            # The support log names each server given up on: the dead mirror, the base's 404, the spoilt copy.
            with open(s.path("VYRLauncher.log"), encoding="utf-8", errors="replace") as f:
                passed_over = [line for line in f if " mirror url=" in line]
            for server in (dead, "/%s/Player/" % harness.PATCH_PATH, "/bad/Player/"):
                self.assertTrue(any(server in line for line in passed_over), (server, passed_over))

        def requests(log, start, prefix):
            with open(log, encoding="utf-8", errors="replace") as f:
                f.seek(start)
                return player_requests(f.read(), prefix)
        from_base = requests(base_log, base_log_start, "/%s/" % harness.PATCH_PATH)
        from_bad = requests(mirror_log, mirror_log_start, "/bad/")
        from_good = requests(mirror_log, mirror_log_start, "/good/")
        print("base: %s\nbad mirror: %s\ngood mirror: %s" % (from_base, from_bad, from_good))
        # Asked for the first file only: the one refusal, then passed over once another server served it.
        self.assertEqual(len(from_base), 1, from_base)
        self.assertIn('" 404 ', from_base[0])
        self.assertEqual(len(from_bad), 1, from_bad)
        self.assertTrue(from_good and all('" 200 ' in line for line in from_good), from_good)
        self.assertEqual(from_good[0].split('"GET ')[1].split()[0].replace("/good/", "/bad/"),
                         from_bad[0].split('"GET ')[1].split()[0])  # the file the bad mirror spoilt
        self.assertTrue(any("/good/" + expected_path in line for line in from_good), from_good)


if __name__ == "__main__":
    harness.main()
