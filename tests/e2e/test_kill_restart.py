#!/usr/bin/env python3
"""The power-cord promise end to end: the real launcher patches a game from 10005 to 10008 (archives of many
entries, plain files, replaced and retired files) from the local HTTPS patch server and is killed (SIGKILL
of its Wine process) at random moments of the update, then started again, again and again. However the
kills fall, the next start finishes the job: the game folder ends byte for byte the target build, "config"
holds the last version, and no temporary file is left. The seed of the kill moments is printed; set
VYR_KILL_SEED to replay one."""
import os
import random
import shutil
import signal
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

SERVED = "e2e-kill"  # this test's folder below Player/; plain files land under the same name in the game
BASE_VERSION = 10005
TARGET_VERSION = 10008
KILLS = 10
MAX_RUNS = 3 * KILLS
KILL_DELAY_SECONDS = (0.2, 5.0)  # after the window shows; an uninterrupted update takes about 12 s
FINISH_SECONDS = 120
LAUNCHER_FILES = {"VYRLauncher.exe", "config", "update.dat", "VYRLauncher.log"}
KIB = 1024


def game_tree(folder):
    """{relative path with "/": content} of every file below folder except the launcher's own."""
    tree = {}
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder).replace(os.sep, "/")
            if relative not in LAUNCHER_FILES:
                with open(path, "rb") as f:
                    tree[relative] = f.read()
    return tree


def launcher_pids(session):
    """The Wine processes running this session's VYRLauncher.exe (Wine may show the program as its first
    word or pass it to its loader as a later one)."""
    pids = []
    for pid in harness._all_pids():
        words = harness._process_name(pid).split()
        if not any(word.replace("\\", "/").split("/")[-1].lower() == session.exe_name.lower() for word in words):
            continue
        env = harness._process_environ(pid)
        if env and env.get("DISPLAY") == session.display:
            pids.append(pid)
    return pids


def kill_launcher(session, timeout=20):
    """SIGKILL, the power cord: no handler of the launcher runs. Returns when the process and its
    window are gone, so that the next start does not find the old window and defer to it."""
    for pid in launcher_pids(session):
        os.kill(pid, signal.SIGKILL)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if session.proc.poll() is not None and not launcher_pids(session) and not session.windows():
            time.sleep(0.3)
            return
        time.sleep(0.1)
    raise AssertionError("the killed launcher did not go away")


class KillRestartTests(harness.TestCase):
    def setUp(self):
        super().setUp()
        sys.path.insert(0, os.path.join(self.source_dir, "tools"))
        import make_demo_patches
        self.make_demo_patches = make_demo_patches
        self.player_dir = os.path.join(self.patch_dir, "Player", SERVED)
        shutil.rmtree(self.player_dir, ignore_errors=True)
        os.makedirs(self.player_dir)
        self.addCleanup(self.serve_manifest, "")

    def serve(self, name, data):
        """Serves data slowly, so that kills land mid-transfer too; answers the manifest's name for it."""
        path = os.path.join(self.player_dir, name)
        self.make_demo_patches.write(path, data)
        self.make_demo_patches.write(path + ".fault", b"slow\n")
        return "%s/%s" % (SERVED, name)

    def serve_zip(self, name, entries, slow=True):
        """Serves an archive, slowly or (so that kills land during unpacking too) at full speed."""
        path = os.path.join(self.player_dir, name)
        self.make_demo_patches.write_zip(path, entries)
        if slow:
            self.make_demo_patches.write(path + ".fault", b"slow\n")
        return "%s/%s" % (SERVED, name)

    def make_patch_set(self):
        """Serves three steps; answers (installed tree, target tree). The target is worked out here from
        what is served, independently of the launcher."""
        data = self.make_demo_patches.sample_bytes
        base = {SERVED + "/Data/table.dat": b"table of 10005\n" * 100,
                "Maps/World/r000.map": b"region 0 of 10005\n",
                "Movies/old_intro.dat": data(70, 300 * KIB),
                "readme.txt": b"kept by every step\n"}
        regions = [("Maps/World/r%03d.map" % i, data(100 + i, (16 + i % 48) * KIB)) for i in range(120)]
        regions_again = [(name, data(300 + i, 40 * KIB)) for i, (name, _) in enumerate(regions[:80])]
        sounds = [("Sounds/s%03d.ogg" % i, data(700 + i, 8 * KIB)) for i in range(200)]
        items = [("Data/Items/i%02d/item%03d.dat" % (i % 8, i), data(500 + i, 24 * KIB)) for i in range(200)]
        steps = [
            (10006, [self.serve("Data/table.dat", data(71, 3 * KIB * KIB)), self.serve_zip("Patch10006.zip", regions)]),
            (10007, [self.serve_zip("Patch10007.zip", [("Movies/", None), ("Movies/New/", None),
                                                       ("Movies/New/intro.dat", data(72, 2 * KIB * KIB))]
                                    + regions_again + sounds + [("delete.txt", b"Movies/old_intro.dat\n")],
                                    slow=False)]),
            (10008, [self.serve_zip("Patch10008.zip", items, slow=False),
                     self.serve("readme_10008.txt", b"Norvane 10008\n")]),
        ]
        target = dict(base)
        lines = []
        for version, names in steps:
            lines.append(" ".join([str(version)] + names))
            for name in names:
                self.apply_served_file(target, name)
        self.serve_manifest("[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10004 old.zip\n" +
                            "".join(line + "\n" for line in lines))
        return base, target

    def apply_served_file(self, tree, name):
        """What one patch file does to the game: a plain file replaces its namesake, an archive puts its
        entries in place and then retires the files its delete list names."""
        served = os.path.join(self.player_dir, *name.split("/")[1:])
        if not name.lower().endswith(".zip"):
            with open(served, "rb") as f:
                tree[name] = f.read()
            return
        with zipfile.ZipFile(served) as archive:
            for entry in archive.infolist():
                if not entry.is_dir():
                    tree[entry.filename] = archive.read(entry)
        retired = tree.pop("delete.txt", b"").decode().split("\n")
        for gone in retired:
            tree.pop(gone, None)

    def install(self, session, base):
        """Puts the installed build (and nothing else besides the launcher) in the game folder."""
        for name in os.listdir(session.folder):
            if name != session.exe_name:
                path = session.path(name)
                shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
        with open(os.path.join(self.source_dir, "tests", "data", "config_fixture_%d.bin" % BASE_VERSION), "rb") as f:
            session.write_file("config", f.read())
        for name, content in base.items():
            session.write_file(name, content)

    def assert_target_build(self, session, target):
        tree = game_tree(session.folder)
        self.assertEqual(sorted(set(tree) - set(target)), [], "files left over in the game folder")
        self.assertEqual(sorted(set(target) - set(tree)), [], "files missing from the game folder")
        differing = sorted(name for name in target if tree[name] != target[name])
        self.assertEqual(differing, [], "files that differ from the target build")
        self.assertEqual(self.make_demo_patches.read_config_version(session.path("config")), TARGET_VERSION)

    def test_killed_at_random_moments_the_next_start_finishes_the_update(self):
        base, target = self.make_patch_set()
        seed = int(os.environ.get("VYR_KILL_SEED") or time.time_ns() % (1 << 32))
        print("\nkill-and-restart seed %d (VYR_KILL_SEED replays it)" % seed, flush=True)
        rng = random.Random(seed)
        read_version = self.make_demo_patches.read_config_version
        with harness.Session() as s:
            self.install(s, base)
            kills = runs = 0
            while kills < KILLS:
                runs += 1
                self.assertLessEqual(runs, MAX_RUNS, "too few kills landed during the update")
                s.launch()
                s.wait_window()
                time.sleep(rng.uniform(*KILL_DELAY_SECONDS))
                before = read_version(s.path("config"))
                if before == TARGET_VERSION:
                    # This run finished before its kill: check the build, then install the old one again
                    # so that the remaining kills fall during an update too.
                    s.wait_status("Ready to start the game", timeout=30)
                    kill_launcher(s)
                    self.assert_target_build(s, target)
                    print("run %d finished the update; starting again from %d" % (runs, BASE_VERSION), flush=True)
                    self.install(s, base)
                    continue
                seen = s.status_text()
                kill_launcher(s)
                kills += 1
                print("run %d killed at version %d, now %d: %s" % (runs, before, read_version(s.path("config")),
                                                                   seen), flush=True)
            s.launch()
            s.wait_window()
            self.assertIn(str(TARGET_VERSION), s.wait_status("Ready to start the game", timeout=FINISH_SECONDS))
            kill_launcher(s)
            self.assert_target_build(s, target)


if __name__ == "__main__":
    harness.main()
