#!/usr/bin/env python3
"""The manifest decisions end to end, against the local HTTPS patch server: a current game is ready to
start, a newer launcher or installer in the manifest hands the run to Updater with its command line, and
a manifest that cannot be fetched leaves the game-version decision to the installed version alone."""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

START = (70, 398)


def base_url():
    return "https://127.0.0.1:%s/%s" % (os.environ["VYR_TEST_PORT"], harness.PATCH_PATH)


class HandOffTests(harness.TestCase):
    def setUp(self):
        super().setUp()
        self.manifest = os.path.join(self.patch_dir, "LauncherPatchInfo.txt")
        self.addCleanup(self.serve_manifest, "")

    def session(self, installed_installer=None, **options):
        """A harness session whose registry holds the given installer version (none: no value),
        cleared again when the session ends."""
        s = harness.Session(**options).__enter__()
        self.addCleanup(self.end_session, s)
        self.set_installed_installer(s, installed_installer)
        return s

    def installed_config(self, version):
        with open(os.path.join(self.source_dir, "tests", "data", "config_fixture_%d.bin" % version), "rb") as f:
            return f.read()

    # ---- cases ----------------------------------------------------------------------------------
    def test_a_current_game_is_ready_and_start_runs_it(self):
        self.serve_manifest("[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10004 a.zip\n10005 b.zip\n")
        s = self.session("1.0.0.3", stub_game=True, stub_updater=True)
        s.write_file("config", self.installed_config(10005))
        s.launch()
        s.wait_window()
        status = s.wait_status("Ready to start the game")
        self.assertIn("10005", status)
        s.click(*START)
        self.assertIsNotNone(s.recorded_args("Norvane.exe"), "Start did not run the game")
        self.assertEqual(s.wait_exit(10), 0)
        self.assertFalse(s.exists("Updater.exe.args.txt"))
        with open(self.manifest, "rb") as served:
            self.assertEqual(s.read_file("update.dat").replace(b"\r\n", b"\n"), served.read())

    def test_a_launcher_at_a_drive_root_keeps_its_files_in_that_root(self):
        # "R:" alone names the drive's current directory, not its root: started from another folder of
        # the same drive (as an elevated start sits in C:\Windows\System32), the launcher must still read
        # and write "config" and "update.dat" in R:\ itself.
        self.serve_manifest("[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10005\n")
        s = self.session("1.0.0.3")
        s.write_file("config", self.installed_config(10005))
        drive = os.path.join(s.env["WINEPREFIX"], "dosdevices", "r:")
        if os.path.lexists(drive):
            os.remove(drive)
        os.symlink(s.folder, drive)
        self.addCleanup(os.remove, drive)
        elsewhere = os.path.join(s.folder, "elsewhere")  # R:\elsewhere
        os.mkdir(elsewhere)
        s.proc = subprocess.Popen(["wine", "r:\\VYRLauncher.exe"], cwd=elsewhere, env=s.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        s.started.append(s.proc.pid)
        s.wait_window()
        self.assertIn("10005", s.wait_status("Ready to start the game"))  # the config in R:\ was read
        self.assertTrue(s.exists("update.dat"), "the manifest was not stored in the drive's root")
        self.assertEqual(os.listdir(elsewhere), [])

    def hand_off(self, manifest, installed_installer=None):
        """Runs the launcher to its hand-off; answers the command line Updater was given."""
        self.serve_manifest(manifest)
        s = self.session(installed_installer, stub_updater=True)
        s.write_file("config", self.installed_config(10005))
        s.launch()
        recorded = s.recorded_args("Updater.exe", timeout=60)
        self.assertIsNotNone(recorded, "Updater was not started")
        self.assertEqual(s.wait_exit(20), 0)
        return recorded

    def test_a_newer_launcher_hands_over_with_the_process_id(self):
        recorded = self.hand_off("[LAUNCHER]\n0.0.0.6\n[PLAYER]\n10005\n")
        match = re.fullmatch(r"\s*(\S+)\s+Launcher (\d+) 0\.0\.0\.6 (\S+)\s*", recorded)
        self.assertIsNotNone(match, recorded)
        self.assertTrue(match.group(1).strip('"').lower().endswith("updater"), recorded)
        self.assertGreater(int(match.group(2)), 0)
        self.assertEqual(match.group(3), base_url())

    def test_a_newer_installer_hands_over_first(self):
        recorded = self.hand_off("[INSTALLER]\n1.0.0.4\n[LAUNCHER]\n0.0.0.6\n[PLAYER]\n10005\n",
                                 installed_installer="1.0.0.3")
        self.assertRegex(recorded, r"^\s*\S*Updater\S*\s+Installer 0 1\.0\.0\.4 %s\s*$" % re.escape(base_url()))

    def test_a_missing_updater_is_reported_with_its_error_code_and_the_launcher_ends(self):
        self.serve_manifest("[LAUNCHER]\n0.0.0.6\n[PLAYER]\n10005\n")
        s = self.session(None)
        s.write_file("config", self.installed_config(10005))
        s.launch()
        box = s.wait_dialog("Error", timeout=60)
        self.assertIn("Error code: 2", s.read_dialog(box))
        s.dismiss_dialog(box)
        self.assertEqual(s.wait_exit(20), 0)

    def test_an_unfetchable_manifest_leaves_the_decision_to_the_installed_version(self):
        # The connection drops mid-manifest, so the fetch fails: no hand-off, and the server's version
        # stays 0. An installed 10005 is blocked with the server's message (not told to reinstall the
        # game because the server is down); an installed 7 finishes as ready.
        manifest = "[INSTALLER]\n9.0.0.0\n[LAUNCHER]\n9.0.0.0\n[PLAYER]\n10005\n" + "# padding\n" * 50
        for installed, expected in ((10005, "Unable to"),
                                    (7, "Ready to start the game")):
            with self.subTest(installed=installed):
                self.serve_manifest(manifest, fault="drop-half")
                s = self.session("1.0.0.0", stub_updater=True)
                s.write_file("config", self.installed_config(installed))
                s.launch()
                s.wait_window()
                s.wait_status(expected)
                self.assertTrue(s.running())
                self.assertFalse(s.exists("Updater.exe.args.txt"))
                self.end_session(s)


if __name__ == "__main__":
    harness.main()
