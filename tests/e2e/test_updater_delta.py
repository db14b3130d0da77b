#!/usr/bin/env python3
"""Updater takes the launcher through a delta: the signed Updater, the signed index naming the served
0.0.0.6 launcher, and a signed delta list (written and signed here with openssl, independently of the
programs' own code) whose launcher line carries a payload made by the zstd command line from the
installed 0.0.0.5. The launcher is rebuilt from the payload alone (the server's log shows the payload and
no fetch of the whole launcher); a line from another base, or a payload made from another base under the
installed launcher's hash, ends in the whole download, and each time the new launcher runs, ready. A game
folder named beyond ASCII takes its delta as well."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))
import harness  # noqa: E402
import openssl_sign  # noqa: E402
from test_updater import LAUNCHER_PATH, NEW_LAUNCHER_MANIFEST, UpdaterCase  # noqa: E402

DELTA_LIST = "PatchDeltas.txt"
DELTA_LEFTOVERS = ("VYRLauncher.exe.vyr-delta", "PatchDeltas.download.txt")


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class UpdaterDeltaTests(UpdaterCase):
    def setUp(self):
        if shutil.which("zstd") is None:
            self.skipTest("the zstd command line is not installed (scripts/install-deps)")
        super().setUp()
        self.key = os.path.join(self.build_dir, "test-patch-key.pem")
        self.original = self.build_file("VYRLauncher.exe")
        self.new = self.build_file("tests", "VYRLauncher_next.exe")
        self.work = os.path.join(self.build_dir, "updater-delta")
        os.makedirs(self.work, exist_ok=True)

    def remove_served(self):
        super().remove_served()
        path = os.path.join(self.patch_dir, DELTA_LIST)
        if os.path.exists(path):
            os.remove(path)

    def payload_from(self, base):
        paths = [os.path.join(self.work, name) for name in ("base.exe", "target.exe", "payload.zst")]
        for path, data in zip(paths, (base, self.new)):
            with open(path, "wb") as f:
                f.write(data)
        subprocess.run(["zstd", "-q", "-f", "-19", "--long=31", "--patch-from=" + paths[0], paths[1], "-o", paths[2]],
                       check=True, stderr=subprocess.DEVNULL)
        with open(paths[2], "rb") as f:
            return f.read()

    def serve_delta(self, listed_base, payload):
        """Serves the payload and a signed list with one launcher line from listed_base to the new launcher;
        answers the payload's URL path."""
        url_path = "Launcher/Deltas/%s.zst" % sha256(payload)
        self.serve(url_path, payload)
        body = "VYR-PATCH-DELTAS 1\nlauncher %s %s %d %s %d %s\n" % (
            sha256(listed_base), sha256(self.new), len(self.new), sha256(payload), len(payload), url_path)
        self.serve(DELTA_LIST, openssl_sign.signed_index(self.key, body).encode("ascii"))
        return url_path

    def gets(self, url_path):
        return len(re.findall(r'"GET /%s/%s[ ?]' % (harness.PATCH_PATH, re.escape(url_path)), self.server_log()))

    def update_once(self, folder_parent=None):
        s = self.session(updater=("tests", "Updater_signed.exe"), folder_parent=folder_parent)
        self.hand_off(s)
        self.assert_ready_new_launcher(s, self.new)
        self.assertEqual([name for name in DELTA_LEFTOVERS if s.exists(name)], [])
        self.end_session(s)  # one launcher at a time: the next would hand the focus to this one and end

    def test_the_launcher_comes_through_its_delta_and_whole_when_the_delta_does_not_fit(self):
        self.serve_manifest(NEW_LAUNCHER_MANIFEST)
        self.serve(LAUNCHER_PATH, self.new)
        self.serve_signed_index(self.key, {LAUNCHER_PATH: self.new})
        payload = self.payload_from(self.original)
        self.assertLess(len(payload), len(self.new) // 4, "the payload does not use its base")

        with self.subTest("a delta from the installed launcher"):
            url_path = self.serve_delta(self.original, payload)
            self.update_once()
            self.assertEqual(self.gets(url_path), 1)
            self.assertEqual(self.gets(LAUNCHER_PATH), 0, "the whole launcher was fetched beside its delta")

        # Updater finds its folder through the ANSI code page; the payload's base must still be found.
        with self.subTest("a delta in a folder named beyond ASCII"):
            self.log_start = os.path.getsize(self.log)
            parent = tempfile.mkdtemp(prefix="vyr-Spiele-\u00e9-")
            self.addCleanup(shutil.rmtree, parent, True)
            self.update_once(folder_parent=parent)
            self.assertEqual(self.gets(url_path), 1)
            self.assertEqual(self.gets(LAUNCHER_PATH), 0, "the whole launcher was fetched beside its delta")

        # A base with more bytes at its end: a distance back from the end of the base reaches other bytes.
        modded = self.original + b"\0" * 4096
        with self.subTest("a delta from another launcher"):
            self.log_start = os.path.getsize(self.log)
            url_path = self.serve_delta(modded, self.payload_from(modded))
            self.update_once()
            self.assertEqual(self.gets(url_path), 0, "a payload for another base was fetched")
            self.assertEqual(self.gets(LAUNCHER_PATH), 1)

        with self.subTest("a payload of another base under the installed launcher's hash"):
            self.log_start = os.path.getsize(self.log)
            url_path = self.serve_delta(self.original, self.payload_from(modded))
            self.update_once()
            self.assertEqual(self.gets(url_path), 1)
            self.assertEqual(self.gets(LAUNCHER_PATH), 1)


if __name__ == "__main__":
    harness.main()
