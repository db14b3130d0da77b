#!/usr/bin/env python3
"""Updater when things go wrong, run directly with its command line against the local HTTPS patch server:
a cut launcher is refused and one that cannot start is swapped back for the old one (exit 4); a kill at
random moments of the swap always leaves a launcher that starts, and the next Updater or launcher tidies
what the kill left; a hanging installer ends with Cancel or with the window's close; Updater waits for
its own live launcher (then asks to close it, and goes on after Retry), but not for another program
that got the launcher's process id."""
import os
import random
import re
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import harness  # noqa: E402
from test_updater import INSTALLER_PATH, LAUNCHER_PATH, LEFTOVERS, UpdaterCase, base_url  # noqa: E402

UPDATER_TITLE = "Norvane Updater"
CURRENT_MANIFEST = "[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10005\n"  # neither build hands off under it
KILL_ROUNDS = 8
EXIT_CANCELLED = 3
EXIT_NOT_STARTED = 4


class UpdaterFaultTests(UpdaterCase):
    def setUp(self):
        super().setUp()
        self.original = self.build_file("VYRLauncher.exe")
        self.new = self.build_file("tests", "VYRLauncher_next.exe")

    def run_updater(self, s, kind, pid, version):
        updater = subprocess.Popen(["wine", "Updater.exe", kind, str(pid), version, base_url()], cwd=s.folder,
                                   env=s.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        s.started.append(updater.pid)
        return updater

    def wait_until(self, condition, timeout, what):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if condition():
                return
            time.sleep(0.05)
        self.fail("timed out waiting for " + what)

    def end_programs(self, s, name):
        """SIGKILL of the Wine processes of this session that run name."""
        for pid in s._session_pids():
            if name.lower() in harness._process_name(pid).lower():
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass

    def windows_pid(self, s, image):
        """The Windows process id of the one running program with this image name."""
        out = subprocess.run(["wine", "wmic", "process", "get", "name,processid"], env=s.env, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL).stdout.decode("utf-16", errors="replace")
        pids = [int(m.group(1)) for m in re.finditer(r"(?im)^\s*%s\s+(\d+)" % re.escape(image), out)]
        self.assertEqual(len(pids), 1, out)
        return pids[0]

    def launcher_gets(self):
        return len(re.findall(r'"GET /%s/%s ' % (harness.PATCH_PATH, LAUNCHER_PATH), self.server_log()))

    # ---- cases ----------------------------------------------------------------------------------
    def test_a_cut_launcher_is_refused_and_one_that_cannot_start_is_swapped_back(self):
        s = self.session()
        with self.subTest("cut by its last byte"):
            self.serve(LAUNCHER_PATH, self.new[:-1])
            updater = self.run_updater(s, "Launcher", 0, "0.0.0.6")
            self.assert_refused(s, r"(?i)cut short or damaged", self.original)
            self.assertEqual(updater.wait(30), 1)
        with self.subTest("whole, but a DLL it needs is missing"):
            # The same build importing a DLL nobody has: the version resource and the image are fine,
            # but Windows cannot start it.
            unstartable, count = re.subn(rb"(?i)wininet(\.dll)", rb"WININEX\1", self.new)
            self.assertGreater(count, 0, "the launcher no longer imports WinINet")
            self.serve(LAUNCHER_PATH, unstartable)
            updater = self.run_updater(s, "Launcher", 0, "0.0.0.6")
            self.assert_refused(s, r"(?is)new launcher could not be started.*put back", self.original)
            self.assertEqual(updater.wait(30), EXIT_NOT_STARTED)

    def test_a_kill_during_the_swap_always_leaves_a_launcher_that_starts(self):
        self.serve(LAUNCHER_PATH, self.new)
        self.serve_manifest(CURRENT_MANIFEST)
        s = self.session()
        with self.subTest("only the backup left by an older Updater cut between its two renames"):
            os.remove(s.path("VYRLauncher.exe"))
            s.write_file("VYRLauncher.old.exe", self.original)
            s.write_file("VYRLauncher.download.exe", self.new[:4096])
            os.remove(os.path.join(self.patch_dir, *LAUNCHER_PATH.split("/")))  # answered with 404
            updater = self.run_updater(s, "Launcher", 0, "0.0.0.6")
            self.assert_refused(s, r"(?i)could not be downloaded.*404", self.original)
            self.assertEqual(updater.wait(30), 1)
            self.serve(LAUNCHER_PATH, self.new)
        with self.subTest("the launcher's start tidies what a kill after the swap left"):
            s.write_file("VYRLauncher.exe", self.new)
            s.write_file("VYRLauncher.old.exe", self.original)
            s.write_file("VYRLauncher.download.exe", self.new[:4096])
            s.launch()
            s.wait_window()
            self.assert_no_leftovers(s)
            self.end_programs(s, "VYRLauncher.exe")
            s.wait_exit(10)
        seed = int(os.environ.get("VYR_KILL_SEED", random.randrange(1 << 30)))
        rng = random.Random(seed)
        outcomes = []
        for round_ in range(KILL_ROUNDS):
            with self.subTest(round=round_, seed=seed):
                s.write_file("VYRLauncher.exe", self.original)
                updater = self.run_updater(s, "Launcher", 0, "0.0.0.6")
                # From the download's first bytes to the new launcher's start takes a few hundred
                # milliseconds here, the flushes, the backup copy and the rename among them.
                self.wait_until(lambda: updater.poll() is not None or s.exists("VYRLauncher.download.exe"), 60,
                                "the download")
                time.sleep(rng.uniform(0, 0.5))
                updater.send_signal(signal.SIGKILL)
                updater.wait(10)
                self.end_programs(s, "VYRLauncher.exe")  # one Updater started before the kill
                on_disk = s.read_file("VYRLauncher.exe")
                self.assertIn(on_disk, (self.original, self.new), "VYRLauncher.exe is neither build")
                outcomes.append("new" if on_disk == self.new else "old")
                s.launch()
                s.wait_window()  # it starts, whatever the kill left
                self.assert_no_leftovers(s)
                self.end_programs(s, "VYRLauncher.exe")
                s.wait_exit(10)
        print("kill seed %d: %s" % (seed, " ".join(outcomes)), file=sys.stderr)

    def test_cancel_and_close_end_a_hanging_installer(self):
        self.serve(INSTALLER_PATH, self.build_file("tools", "stub_installer.exe"))
        for how in ("Cancel", "close"):
            with self.subTest(how):
                s = self.session(env={"VYR_STUB_INSTALLER_HANG": "1"})
                updater = self.run_updater(s, "Installer", 0, "1.0.0.4")
                window = s.wait_window(title=UPDATER_TITLE)
                self.wait_until(lambda: any("norvanesetup" in harness._process_name(pid).lower()
                                            for pid in s._session_pids()), 60, "the installer to run")
                if how == "Cancel":
                    x, y, width, height = s.geometry(window)
                    border = (width - 380) // 2  # the client area is 380 wide; Cancel sits in its corner
                    s._xdotool("mousemove", "--sync", x + width - border - 12 - 44, y + height - border - 12 - 13)
                    s._xdotool("click", "1")
                else:
                    s.key("alt+F4", window)
                self.assertEqual(updater.wait(20), EXIT_CANCELLED)
                self.wait_until(lambda: not any("norvanesetup" in harness._process_name(pid).lower()
                                                for pid in s._session_pids()), 10, "the installer to end")
                self.assertEqual(s.windows("Error"), [])
                self.assertEqual(s.windows(), [], "a launcher was started after a cancelled installer")
                self.assertEqual([name for name in LEFTOVERS if s.exists(name)], [])
                self.assertEqual(self.installed_installer(s), "1.0.0.3")
                self.end_session(s)

    def test_updater_waits_for_its_own_launcher_only(self):
        self.serve(LAUNCHER_PATH, self.new)
        self.serve_manifest(CURRENT_MANIFEST)
        s = self.session()
        with self.subTest("another program holds the id"):
            # A launcher of another folder is not this folder's launcher, whatever its id.
            os.mkdir(s.path("elsewhere"))
            s.write_file(os.path.join("elsewhere", "VYRLauncher.exe"), self.original)
            other = subprocess.Popen(["wine", "VYRLauncher.exe"], cwd=s.path("elsewhere"), env=s.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            s.started.append(other.pid)
            s.wait_window()
            updater = self.run_updater(s, "Launcher", self.windows_pid(s, "VYRLauncher.exe"), "0.0.0.6")
            try:
                code = updater.wait(40)  # far below the 60 s it would wait for a live launcher
            except subprocess.TimeoutExpired:
                code = None
            self.assertEqual(code, 0, "Updater waited for a program that is not its launcher")
            self.assertEqual(s.read_file("VYRLauncher.exe"), self.new)
            self.end_programs(s, "VYRLauncher.exe")
            other.wait(10)
        with self.subTest("its own launcher runs: wait, ask, and go on after Retry"):
            s.write_file("VYRLauncher.exe", self.original)
            s.launch()
            s.wait_window()
            gets = self.launcher_gets()
            updater = self.run_updater(s, "Launcher", self.windows_pid(s, "VYRLauncher.exe"), "0.0.0.6")
            main = s.wait_window(title=UPDATER_TITLE)
            self.wait_until(lambda: len(s.windows(UPDATER_TITLE)) > 1, 90, "the Retry prompt")
            self.assertIsNone(updater.poll())
            self.assertEqual(self.launcher_gets(), gets, "Updater fetched while the launcher still ran")
            prompt = [w for w in s.windows(UPDATER_TITLE) if w != main][0]
            self.assertRegex(s.read_dialog(prompt), r"(?i)still\s+running")
            self.end_programs(s, "VYRLauncher.exe")
            s.wait_exit(10)
            s.dismiss_dialog(prompt)  # Retry is the default button
            self.assertEqual(updater.wait(60), 0)
            self.assertEqual(s.read_file("VYRLauncher.exe"), self.new)
            s.proc = None  # the window to wait for is the new launcher's, started by Updater
            s.wait_window()
            self.assert_no_leftovers(s)


if __name__ == "__main__":
    harness.main()
