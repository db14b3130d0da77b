#!/usr/bin/env python3
"""The game update end to end, against the local HTTPS patch server: a game at 10005 is patched to 10007
with plain files and archives (nested folders, a mixed-case ".ZIP", a delete list) and ends ready, and
Start runs the game; a missing file on the second step stops the update with the first step kept. Both
runs leave a support log beside the launcher that names each fetch, its status and bytes, the unpacking,
the versions recorded and the failure shown, and no query string."""
import os
import re
import stat
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

START = (70, 398)
CANCEL = (382, 383)
SERVED = "e2e-update"  # this test's folder below Player/, apart from other tests' files
LOG_LINE = re.compile(r'^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (VYRLauncher|Updater)\[\d+\] '
                      r'(manifest|index|file|archive|delta|repair|step|failure)( |$)')


class UpdateTests(harness.TestCase):
    def setUp(self):
        super().setUp()
        sys.path.insert(0, os.path.join(self.source_dir, "tools"))
        import make_demo_patches
        self.read_config_version = make_demo_patches.read_config_version
        self.write_zip = make_demo_patches.write_zip
        self.player_dir = os.path.join(self.patch_dir, "Player", SERVED)
        os.makedirs(self.player_dir, exist_ok=True)
        for name in os.listdir(self.player_dir):
            path = os.path.join(self.player_dir, name)
            if os.path.isfile(path):
                os.remove(path)

    def serve(self, name, data):
        path = os.path.join(self.player_dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def serve_zip(self, name, entries):
        self.write_zip(os.path.join(self.player_dir, name), entries)

    def serve_player_lines(self, player_lines):
        self.serve_manifest("[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n" +
                            "".join(line + "\n" for line in player_lines))

    def support_log(self, session):
        """The launcher's log as lines, each checked whole; URLs keep neither query nor credentials."""
        text = session.read_file("VYRLauncher.log").decode("latin-1")
        self.assertTrue(text.endswith("\n"), "the log ends inside a line")
        lines = text.split("\n")[:-1]
        for line in lines:
            self.assertRegex(line, LOG_LINE)
            for url in re.findall(r'url="([^"]*)"', line):
                self.assertNotRegex(url, r"[?#@]|tick", line)
        return lines

    def find_line(self, lines, *parts):
        for line in lines:
            if all(part in line for part in parts):
                return line
        self.fail("no log line with %r in:\n%s" % (parts, "\n".join(lines)))

    def start_at_10005(self, session):
        with open(os.path.join(self.source_dir, "tests", "data", "config_fixture_10005.bin"), "rb") as f:
            session.write_file("config", f.read())
        session.write_file("Movies/old_intro.dat", b"retired by 10007")
        session.launch()
        session.wait_window()

    def test_patches_from_10005_to_10007_and_starts_the_game(self):
        self.serve("Data/table.dat", os.urandom(600000))
        self.serve_zip("Patch10006.zip", [("Maps/World/Caves/cave1.map", b"cave" * 50000),
                                          ("Maps/region.map", b"region")])
        self.serve_zip("Patch10007.ZIP", [("Movies/", None), ("Movies/New/", None),
                                          ("Movies/New/intro.dat", b"intro" * 40000),
                                          ("delete.txt", b"Movies/old_intro.dat\n")])
        table = open(os.path.join(self.player_dir, "Data", "table.dat"), "rb").read()
        self.serve_player_lines(["10004 old.zip",
                             "10006 %s/Data/table.dat %s/Patch10006.zip" % (SERVED, SERVED),
                             "10007 %s/Patch10007.ZIP" % SERVED])
        with harness.Session(stub_game=True) as s:
            self.start_at_10005(s)
            status = s.wait_status("Ready to start the game", timeout=90)
            self.assertIn("10007", status)
            self.assertEqual(self.read_config_version(s.path("config")), 10007)
            self.assertEqual(s.read_file(SERVED + "/Data/table.dat"), table)
            self.assertEqual(s.read_file("Maps/World/Caves/cave1.map"), b"cave" * 50000)
            self.assertEqual(s.read_file("Movies/New/intro.dat"), b"intro" * 40000)
            for gone in ("Movies/old_intro.dat", "delete.txt", SERVED + "/Patch10006.zip",
                         SERVED + "/Patch10007.ZIP"):
                self.assertFalse(s.exists(gone), gone)
            # The worker keeps the game executable read-only after every file.
            self.assertFalse(os.stat(s.path("Norvane.exe")).st_mode & stat.S_IWUSR)
            s.click(*START)
            self.assertIsNotNone(s.recorded_args("Norvane.exe"), "Start did not run the game")
            self.assertEqual(s.wait_exit(10), 0)
            log = self.support_log(s)
            self.find_line(log, "VYRLauncher[", "manifest", "/LauncherPatchInfo.txt\"", "status=200", "message=\"done\"")
            self.find_line(log, "file", "/Player/%s/Data/table.dat\"" % SERVED, "status=200", "bytes=600000")
            self.find_line(log, "file", "/Player/%s/Patch10007.ZIP\"" % SERVED, "status=200")
            self.find_line(log, "archive", "name=\"%s/Patch10006.zip\"" % SERVED, "unpacked")
            self.find_line(log, "step", "version 10007 recorded")
            self.assertNotIn("failure", " ".join(line.split()[3] for line in log))

    def test_missing_file_on_the_second_step_keeps_the_first(self):
        self.serve("first.dat", b"first step")
        self.serve_player_lines(["10006 %s/first.dat" % SERVED, "10007 %s/missing.dat" % SERVED])
        with harness.Session(stub_game=True) as s:
            self.start_at_10005(s)
            status = s.wait_status("Downloading failed", timeout=60)
            self.assertIn("404", status)
            self.assertEqual(s.read_file(SERVED + "/first.dat"), b"first step")
            self.assertEqual(self.read_config_version(s.path("config")), 10006)
            s.click(*START)  # disabled after the failure
            self.assertIsNone(s.recorded_args("Norvane.exe", timeout=2))
            self.assertTrue(s.running(), "the launcher ended with code %s" % s.proc.poll())
            s.click(*CANCEL)
            self.assertEqual(s.wait_exit(10), 0)
            log = self.support_log(s)
            self.find_line(log, "file", "/Player/%s/first.dat\"" % SERVED, "status=200", "bytes=10")
            self.find_line(log, "step", "version 10006 recorded")
            self.find_line(log, "file", "/Player/%s/missing.dat\"" % SERVED, "status=404")
            self.find_line(log, "failure", 'message="Downloading failed [404] (%s/missing.dat)"' % SERVED)


if __name__ == "__main__":
    harness.main()
