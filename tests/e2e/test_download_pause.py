#!/usr/bin/env python3
"""The system menu's download items, end to end in one run: "Pause download" during a slow download
stops it (status "Paused", no byte more arrives, the part file stays), a speed of 1 MB/s chosen meanwhile
is kept in the Windows user's application-data folder, not the game folder, "Resume download" finishes
the same file with exactly one Range request for the rest, and the next file arrives no faster than the
limit allows. Both files end byte for byte as served, and the game is ready at the new version."""
import os
import pwd
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

SERVED = "e2e-pause"
INSTALLED = 10005
MB = 1000000  # the launcher's megabyte
SLOW_SIZE = 4 * MB
SLOW_SECONDS = 8  # the server sends the slow file (or what a Range asks of it) in 20 pieces over this
LIMITED_SIZE = 3 * MB
LIMIT = 1 * MB
PAUSE_AFTER_BYTES = 1 * MB
SPEED_ITEM_DOWNS = 5  # "1 MB/s" is the sixth choice under "Download speed", after Unlimited
# %APPDATA% of the Wine prefix: Wine names the Windows user after the Unix one.
SPEED_FILE = ("drive_c", "users", pwd.getpwuid(os.getuid()).pw_name, "AppData", "Roaming", "VYRLauncher",
              "download-speed.txt")


class DownloadPauseTests(harness.TestCase):
    def setUp(self):
        super().setUp()
        sys.path.insert(0, os.path.join(self.source_dir, "tools"))
        import make_demo_patches
        self.read_config_version = make_demo_patches.read_config_version
        self.sample_bytes = make_demo_patches.sample_bytes
        self.player_dir = os.path.join(self.patch_dir, "Player", SERVED)
        shutil.rmtree(self.player_dir, ignore_errors=True)
        os.makedirs(self.player_dir)
        self.addCleanup(self.serve_manifest, "")
        self.speed_file = os.path.join(harness.wine_prefix(), *SPEED_FILE)
        # A limit left in the shared prefix would slow every later test's downloads.
        self.remove_speed_file()
        self.addCleanup(self.remove_speed_file)
        self.log = os.path.join(self.build_dir, "patch_server.log")
        self.log_start = os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def remove_speed_file(self):
        if os.path.exists(self.speed_file):
            os.remove(self.speed_file)

    def serve(self, name, data, fault):
        path = os.path.join(self.player_dir, name)
        with open(path, "wb") as f:
            f.write(data)
        with open(path + ".fault", "w") as f:
            f.write(fault + "\n")
        return "%s/%s" % (SERVED, name)

    def gets_of(self, served_name):
        """(status, ...) of every GET of the served file since the case began."""
        with open(self.log, "rb") as f:
            f.seek(self.log_start)
            text = f.read().decode(errors="replace")
        pattern = r'"GET /%s/Player/%s HTTP/1\.1" (\d+)' % (harness.PATCH_PATH, re.escape(served_name))
        return re.findall(pattern, text)

    def wait_for(self, condition, timeout, what):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if condition():
                return time.monotonic()
            time.sleep(0.05)
        self.fail("timed out waiting for " + what)

    def size_of(self, s, name):
        return os.path.getsize(s.path(name)) if s.exists(name) else -1

    def menu(self, s, *keys):
        s.key("alt+space")
        for key in keys:
            s.key(key)

    def test_pause_resume_and_a_speed_limit_from_the_system_menu(self):
        slow_data = self.sample_bytes(70, SLOW_SIZE)
        limited_data = self.sample_bytes(71, LIMITED_SIZE)
        slow = self.serve("slow.bin", slow_data, "etag slow:%d" % SLOW_SECONDS)
        limited = self.serve("limited.bin", limited_data, "etag")
        self.serve_manifest("[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10004 old.zip\n10006 %s %s\n"
                            % (slow, limited))
        part = slow + ".download"
        with harness.Session(stub_game=True) as s:
            with open(os.path.join(self.source_dir, "tests", "data", "config_fixture_%d.bin" % INSTALLED), "rb") as f:
                s.write_file("config", f.read())
            s.launch()
            s.wait_window()
            self.wait_for(lambda: self.size_of(s, part) >= PAUSE_AFTER_BYTES, 30, "the slow download to start")

            self.menu(s, "p")
            s.wait_status("Paused", timeout=10)
            held = self.size_of(s, part)
            time.sleep(2.5)
            self.assertEqual(self.size_of(s, part), held, "bytes arrived while paused")
            self.assertGreater(held, 0)
            self.assertLess(held, SLOW_SIZE)
            self.assertTrue(s.exists(slow + ".download.validator"), "the part's validator was dropped")
            self.assertIn("Paused", s.status_text())

            self.menu(s, "d", *(["Down"] * SPEED_ITEM_DOWNS), "Return")
            self.wait_for(lambda: os.path.exists(self.speed_file), 10, "the per-user speed file")
            with open(self.speed_file, "rb") as f:
                self.assertEqual(f.read(), b"download_limit_bytes_per_second=%d\n" % LIMIT)
            self.assertFalse(any("speed" in name for name in os.listdir(s.folder)), "the limit went to the game folder")

            self.menu(s, "u")
            slow_done = self.wait_for(lambda: s.exists(slow), 60, "the paused file to finish")
            limited_done = self.wait_for(lambda: s.exists(limited), 30, "the limited file")
            s.wait_status("Ready to start the game", timeout=30)

            self.assertEqual(s.read_file(slow), slow_data)
            self.assertEqual(s.read_file(limited), limited_data)
            self.assertEqual(self.read_config_version(s.path("config")), 10006)
            # One request before the pause, and exactly one Range request (answered 206) for the rest.
            self.assertEqual(self.gets_of(slow), ["200", "206"])
            self.assertEqual(self.gets_of(limited), ["200"])
            # 3 MB at 1 MB/s take 3 s (the bucket starts empty); unlimited they come in a fraction of it.
            took = limited_done - slow_done
            self.assertGreater(took, 0.85 * LIMITED_SIZE / LIMIT, "the limit did not hold")
            self.assertLess(took, 3 * LIMITED_SIZE / LIMIT)


if __name__ == "__main__":
    harness.main()
