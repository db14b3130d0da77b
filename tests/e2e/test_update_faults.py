#!/usr/bin/env python3
"""Hostile runs of the game update end to end, against the local HTTPS patch server's fault modes: a
connection dropped at the first, a middle and the last byte, a stalled server, a server that refuses
HEAD, a manifest with a bad step line between good ones, an error page or empty step table in place of
the manifest, a full disk, and an Updater that only a search
of the system folder would find. Whatever fails, the status line says so, the old game file stays whole,
the recorded version never passes the last step whose files are all on disk, and the launcher keeps
running with Start disabled."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

START = (70, 398)
SERVED = "e2e-faults"  # this test's folder below Player/; plain files land under the same name in the game
INSTALLED = 10005
OLD_TABLE = b"table of the installed build\n" * 1000
UNREACHABLE = "Unable to"  # "... retrieve information from the server.", whose middle OCR misreads
# The receive time-out is 30 s, and a time-out is tried once more within the 40 s retry window.
STALL_LIMIT_SECONDS = 100
FAILURE_WAIT_SECONDS = 30
# Status lines a run ends on without a failure of the update; seeing one, the case has already failed.
FINAL_STATUSES = ("Ready to start the game", "Please download the installer client again", UNREACHABLE)
# The files a launcher run itself keeps in its folder; everything else there is game content.
LAUNCHER_FILES = {"VYRLauncher.exe", "config", "update.dat", "Norvane.exe", "Norvane.exe.args.txt",
                  "VYRLauncher.log"}


def game_files(folder):
    """Relative paths ("/" separated) of every file below folder."""
    found = set()
    for root, _, files in os.walk(folder):
        for name in files:
            found.add(os.path.relpath(os.path.join(root, name), folder).replace(os.sep, "/"))
    return found


class UpdateFaultTests(harness.TestCase):
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

    # ---- served files ---------------------------------------------------------------------------
    def serve(self, name, data, fault=None):
        """Serves data as Player/<SERVED>/<name>; answers the name the manifest gives it."""
        path = os.path.join(self.player_dir, name)
        with open(path, "wb") as f:
            f.write(data)
        if fault:
            with open(path + ".fault", "w") as f:
                f.write(fault + "\n")
        return "%s/%s" % (SERVED, name)

    def manifest_text(self, player_lines, installed_line="10004 old.zip"):
        return "[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n" + \
            "".join(line + "\n" for line in [installed_line] + player_lines)

    # ---- runs ---------------------------------------------------------------------------------
    def installed_config(self):
        with open(os.path.join(self.source_dir, "tests", "data", "config_fixture_%d.bin" % INSTALLED), "rb") as f:
            return f.read()

    def seed_installed(self, session, manifest_text=None):
        """The game at 10005 with the old table; "update.dat" holds manifest_text when given."""
        session.write_file("config", self.installed_config())
        session.write_file(SERVED + "/table.dat", OLD_TABLE)
        if manifest_text is not None:
            session.write_file("update.dat", manifest_text)

    def start_installed(self, session):
        self.seed_installed(session)
        session.launch()
        session.wait_window()

    def wait_failure(self, s, statuses, timeout):
        """Polls the status line until it shows one of statuses (one text or several); a final status
        other than those fails at once."""
        statuses = (statuses,) if isinstance(statuses, str) else statuses
        deadline = time.monotonic() + timeout
        shown = ""
        while time.monotonic() < deadline:
            shown = s.status_text()
            squeezed = "".join(shown.lower().split())
            if any("".join(status.lower().split()) in squeezed for status in statuses):
                return shown
            if any("".join(final.lower().split()) in squeezed for final in FINAL_STATUSES):
                break
            time.sleep(0.5)
        self.fail("status line never showed %r; last read %r" % (statuses, shown))

    def assert_failure_kept_the_game(self, s, statuses, recorded, present=(), timeout=FAILURE_WAIT_SECONDS):
        """The run has stopped on a failure: status on the line, the old table whole, the version at the
        last complete step, no partial or temporary file left, Start disabled, the launcher alive."""
        shown = self.wait_failure(s, statuses, timeout)
        self.assertEqual(s.read_file(SERVED + "/table.dat"), OLD_TABLE, "the old game file was changed")
        self.assertEqual(self.read_config_version(s.path("config")), recorded, shown)
        content = game_files(s.folder) - LAUNCHER_FILES
        self.assertEqual(content, {SERVED + "/table.dat"} | set(present), "unexpected files in the game folder")
        s.click(*START)
        self.assertIsNone(s.recorded_args("Norvane.exe", timeout=2), "Start ran the game after a failure")
        self.assertTrue(s.running(), "the launcher ended with code %s" % s.proc.poll())
        self.assertTrue(s.windows(), "the launcher window is gone")
        return shown

    # ---- cases --------------------------------------------------------------------------------
    def test_a_dropped_connection_keeps_the_old_file(self):
        size = 300000
        for sent in (0, size // 2, size - 1):
            with self.subTest(sent=sent):
                with harness.Session(stub_game=True) as s:
                    first = self.serve("first.dat", self.sample_bytes(60, 100000))
                    table = self.serve("table.dat", self.sample_bytes(61, size), "drop-at:%d" % sent)
                    self.serve_manifest(self.manifest_text(["10006 " + first, "10007 " + table]))
                    self.start_installed(s)
                    self.assert_failure_kept_the_game(s, "Downloading failed - read", 10006, present=[first])

    def test_a_stalled_server_fails_the_download_in_bounded_time(self):
        first = self.serve("first.dat", self.sample_bytes(60, 100000))
        table = self.serve("table.dat", self.sample_bytes(61, 300000), "stall")
        self.serve_manifest(self.manifest_text(["10006 " + first, "10007 " + table]))
        with harness.Session(stub_game=True) as s:
            self.start_installed(s)
            self.assert_failure_kept_the_game(s, "Downloading failed - read", 10006, present=[first],
                                              timeout=STALL_LIMIT_SECONDS)

    def test_a_server_refusing_head_still_serves_the_manifest_by_its_get_length(self):
        first = self.serve("first.dat", self.sample_bytes(60, 100000))
        table_data = self.sample_bytes(61, 300000)
        table = self.serve("table.dat", table_data)
        manifest = self.manifest_text(["10006 " + first, "10007 " + table])
        with self.subTest("whole manifest"):
            self.serve_manifest(manifest, fault="no-head")
            with harness.Session(stub_game=True) as s:
                self.start_installed(s)
                self.assertIn("10007", s.wait_status("Ready to start the game", timeout=FAILURE_WAIT_SECONDS))
                self.assertEqual(self.read_config_version(s.path("config")), 10007)
                self.assertEqual(s.read_file(SERVED + "/table.dat"), table_data)
        with self.subTest("manifest cut short of its GET length"):
            self.serve_manifest(manifest, fault="no-head drop-at:%d" % (len(manifest) - 20))
            with harness.Session(stub_game=True) as s:
                self.start_installed(s)
                self.assert_failure_kept_the_game(s, UNREACHABLE, INSTALLED)

    def test_a_bad_step_line_ends_the_table_after_the_good_steps_before_it(self):
        first = self.serve("first.dat", self.sample_bytes(60, 100000))
        second = self.serve("second.dat", b"second step")
        third = self.serve("third.dat", b"third step")
        # The NUL byte before the line feed of an installed step must not take the next line with it.
        cases = {"name of 200 characters": ("10004 old.zip", "10007 %s %s/%s" % (second, SERVED, "n" * 200)),
                 "version beyond 32 bits": ("10004 old.zip", "%d %s" % (2 ** 32 + 10007, second)),
                 "NUL byte": ("10004 old.zip\0", "10007 %s\0" % second)}
        for case, (installed_line, bad_line) in cases.items():
            with self.subTest(case):
                self.serve_manifest(self.manifest_text(["10006 " + first, bad_line, "10008 " + third],
                                                       installed_line))
                with harness.Session(stub_game=True) as s:
                    self.start_installed(s)
                    self.assert_failure_kept_the_game(s, UNREACHABLE, 10006, present=[first])

    def test_only_a_step_table_of_another_major_version_asks_for_a_reinstall(self):
        """An error page, a text without "[PLAYER]" or a step table naming no version tells an installed
        10005 that the server could not be read, never to reinstall; a table at 20001 does."""
        cases = (("error page", self.manifest_text(["10006 x.dat"]), "status503", UNREACHABLE),
                 ("no player section", "[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n", None, UNREACHABLE),
                 ("no step", "[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n", None, UNREACHABLE),
                 ("another major version", self.manifest_text(["20001 x.dat"]), None,
                  "Please download the installer client again"))
        for case, text, fault, expected in cases:
            with self.subTest(case):
                self.serve_manifest(text, fault=fault)
                with harness.Session(stub_game=True) as s:
                    self.start_installed(s)
                    s.wait_status(expected, timeout=FAILURE_WAIT_SECONDS)
                    self.assertEqual(self.read_config_version(s.path("config")), INSTALLED)
                    s.click(*START)
                    self.assertIsNone(s.recorded_args("Norvane.exe", timeout=2), "Start ran the game")

    def test_a_full_disk_fails_the_download_and_keeps_the_old_file(self):
        if os.geteuid() != 0:
            self.skipTest("mounting the small tmpfs for the game folder needs root")
        launcher_size = os.path.getsize(os.path.join(self.build_dir, "VYRLauncher.exe"))
        mount_point = tempfile.mkdtemp(prefix="vyr-e2e-disk-")
        self.addCleanup(os.rmdir, mount_point)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dk" % (launcher_size // 1024 + 2048), "vyr-e2e-disk",
                        mount_point], check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", mount_point])
        table = SERVED + "/table.dat"
        manifest = self.manifest_text(["10006 " + table])
        self.serve_manifest(manifest)
        # Far past the free space a write itself fails; a few bytes past it only the file's last write
        # finds the disk full, and with a buffered writer that write happens when the file is closed.
        for case, overshoot in (("far past the free space", 1 << 20), ("just past the free space", 2048)):
            with self.subTest(case):
                with harness.Session(stub_game=True, folder_parent=mount_point) as s:
                    # With "update.dat" seeded, the run takes no new space before the download, so the
                    # space free now is the space the download finds.
                    self.seed_installed(s, manifest)
                    disk = os.statvfs(mount_point)
                    self.serve("table.dat", self.sample_bytes(62, disk.f_bavail * disk.f_frsize + overshoot))
                    s.launch()
                    s.wait_window()
                    self.assert_failure_kept_the_game(s, ("Creating file failed", "Not enough free disk space"),
                                                      INSTALLED)

    def test_an_updater_in_the_system_folder_is_never_started(self):
        planted = os.path.join(harness.wine_prefix(), "drive_c", "windows", "system32", "Updater.exe")
        record = planted + ".args.txt"
        self.addCleanup(lambda: [os.remove(p) for p in (planted, record) if os.path.exists(p)])
        if os.path.exists(record):
            os.remove(record)
        shutil.copy(os.path.join(self.build_dir, "tools", "stub_recorder.exe"), planted)
        self.serve_manifest("[LAUNCHER]\n0.0.0.6\n[PLAYER]\n%d\n" % INSTALLED)
        with harness.Session() as s:
            s.write_file("config", self.installed_config())
            s.launch()
            box = None
            deadline = time.monotonic() + 60
            while box is None and not os.path.exists(record) and time.monotonic() < deadline:
                box = s.wait_dialog("Error", timeout=1)
            self.assertFalse(os.path.exists(record), "the launcher started " + planted)
            self.assertIsNotNone(box, "no error for the missing Updater")
            self.assertIn("Error code: 2", s.read_dialog(box))
            s.dismiss_dialog(box)
            self.assertEqual(s.wait_exit(20), 0)
            self.assertFalse(os.path.exists(record), "the launcher started " + planted)


if __name__ == "__main__":
    harness.main()
