#!/usr/bin/env python3
"""Updater keeps to the player's download speed limit: with 2 MB/s in the Windows user's speed file, the
launcher's self-update brings the new launcher no faster than that, and it still ends whole and ready."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import test_updater  # noqa: E402  (its UpdaterCase only: the module's own cases stay in its script)
from test_download_pause import SPEED_FILE  # noqa: E402

MB = 1000000
LIMIT = 2 * MB
DOWNLOAD = "VYRLauncher.download.exe"


class UpdaterSpeedTests(test_updater.UpdaterCase):
    def setUp(self):
        super().setUp()
        self.speed_file = os.path.join(harness.wine_prefix(), *SPEED_FILE)
        os.makedirs(os.path.dirname(self.speed_file), exist_ok=True)
        self.addCleanup(os.remove, self.speed_file)
        with open(self.speed_file, "wb") as f:
            f.write(b"download_limit_bytes_per_second=%d\n" % LIMIT)

    def test_the_self_update_keeps_to_the_users_limit(self):
        new = self.build_file("tests", "VYRLauncher_next.exe")
        self.serve(test_updater.LAUNCHER_PATH, new)
        self.serve_manifest(test_updater.NEW_LAUNCHER_MANIFEST)
        s = self.session()
        s.launch()
        started = finished = None
        deadline = time.monotonic() + 120
        while finished is None and time.monotonic() < deadline:
            size = os.path.getsize(s.path(DOWNLOAD)) if s.exists(DOWNLOAD) else -1
            if started is None and size >= 0:
                started = time.monotonic()
            if started is not None and (size >= len(new) or size < 0):
                finished = time.monotonic()
            time.sleep(0.05)
        self.assertIsNotNone(started, "Updater never began its download")
        self.assertIsNotNone(finished, "Updater's download never completed")
        self.assertEqual(s.wait_exit(60), 0, "the old launcher did not end after its hand-off")
        s.proc = None
        self.assert_ready_new_launcher(s, new)
        expected = len(new) / LIMIT
        self.assertGreater(finished - started, 0.85 * expected, "Updater went past the limit")


if __name__ == "__main__":
    harness.main()
