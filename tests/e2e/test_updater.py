#!/usr/bin/env python3
"""Updater end to end, against the local HTTPS patch server: the launcher 0.0.0.5 hands off to the real
Updater.exe, which replaces it by the served 0.0.0.6 build and starts it; a missing file, a build that is
still 0.0.0.5 and (with the signed Updater) a tampered build leave the old launcher in place with a
message and start nothing; an installer hand-off runs the served installer and checks what it recorded;
a bad command line is refused with exit code 2 before any request."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "support"))
import harness  # noqa: E402
import openssl_sign  # noqa: E402

LAUNCHER_PATH = "Launcher/VYRLauncher.exe"
INSTALLER_PATH = "Installer/NorvaneSetup.exe"
LEFTOVERS = ("VYRLauncher.download.exe", "VYRLauncher.old.exe", "NorvaneSetup.download.exe",
             "PatchIndex.download.txt")
READY = "Ready to start the game"
NEW_LAUNCHER_MANIFEST = "[LAUNCHER]\n0.0.0.6\n[PLAYER]\n10005\n"
UPDATER_EXIT_SECONDS = 30


def programs_on_display(session, exe_name):
    """Pids of the Wine processes on the session's display that run exe_name. Wine shows a program's
    command line, whose program word may lack ".exe" (Updater is started as "Updater Launcher ..."), or
    passes the program to its loader as a later word."""
    names = (exe_name.lower(), os.path.splitext(exe_name)[0].lower())
    pids = []
    for pid in harness._all_pids():
        words = harness._process_name(pid).replace("\\", "/").split()
        if any(word.split("/")[-1].lower() in names for word in words):
            env = harness._process_environ(pid)
            if env and env.get("DISPLAY") == session.display:
                pids.append(pid)
    return pids


def base_url():
    return "https://127.0.0.1:%s/%s" % (os.environ["VYR_TEST_PORT"], harness.PATCH_PATH)


class UpdaterCase(harness.TestCase):
    """The served files, the game folder and what Updater showed; the cases are in the subclasses."""

    def setUp(self):
        super().setUp()
        self.addCleanup(self.remove_served)
        self.remove_served()
        self.log = os.path.join(self.build_dir, "patch_server.log")
        self.log_start = os.path.getsize(self.log) if os.path.exists(self.log) else 0

    # ---- the server -----------------------------------------------------------------------------
    def remove_served(self):
        for name in ("Launcher", "Installer"):
            shutil.rmtree(os.path.join(self.patch_dir, name), ignore_errors=True)
        for name in ("PatchIndex.txt",):
            if os.path.exists(os.path.join(self.patch_dir, name)):
                os.remove(os.path.join(self.patch_dir, name))
        self.serve_manifest("")

    def serve(self, url_path, data):
        path = os.path.join(self.patch_dir, *url_path.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def serve_signed_index(self, key_path, files):
        body = openssl_sign.index_body(b"", files)
        self.serve("PatchIndex.txt", openssl_sign.signed_index(key_path, body).encode("ascii"))

    def server_log(self):
        with open(self.log, "rb") as f:
            f.seek(self.log_start)
            return f.read().decode(errors="replace")

    def server_requests(self):
        return len(re.findall(r'"(?:GET|HEAD) ', self.server_log()))

    def launcher_fetches(self):
        """GETs of the launcher file since the test began, whatever the answer: one per Updater run."""
        return len(re.findall(r'"GET /%s/%s ' % (harness.PATCH_PATH, LAUNCHER_PATH), self.server_log()))

    def build_file(self, *parts):
        with open(os.path.join(self.build_dir, *parts), "rb") as f:
            return f.read()

    # ---- the game folder ------------------------------------------------------------------------
    def session(self, updater=("Updater.exe",), installed_installer="1.0.0.3", env=None, folder_parent=None):
        s = harness.Session(env=env, folder_parent=folder_parent).__enter__()
        self.addCleanup(self.end_session, s)
        shutil.copy(os.path.join(self.build_dir, *updater), s.path("Updater.exe"))
        with open(os.path.join(self.source_dir, "tests", "data", "config_fixture_10005.bin"), "rb") as f:
            s.write_file("config", f.read())
        self.set_installed_installer(s, installed_installer)
        return s

    def installed_installer(self, s):
        out = subprocess.run(["wine", "reg", "query", harness.INSTALLER_KEY, "/v", "InstallerVersion"], env=s.env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode(errors="replace")
        match = re.search(r"InstallerVersion\s+REG_SZ\s+(\S+)", out)
        return match.group(1) if match else None

    def hand_off(self, s):
        """Starts the old launcher and waits for it to hand over and end."""
        s.launch()
        self.assertEqual(s.wait_exit(60), 0, "the old launcher did not end after its hand-off")
        s.proc = None  # from here on the windows belong to Updater and what it starts

    def assert_ready_new_launcher(self, s, served):
        s.wait_window(timeout=90)
        s.wait_status(READY, timeout=60)
        self.assertEqual(s.read_file("VYRLauncher.exe"), served, "the launcher on disk is not the served file")
        self.assert_no_leftovers(s)

    def assert_refused(self, s, reason, original):
        """An error box that gives the reason; the old launcher stays and no launcher is started. Answers
        the box's text."""
        box = s.wait_dialog("Error", timeout=90)
        self.assertIsNotNone(box, "Updater showed no message")
        text = s.read_dialog(box)
        deadline = time.time() + 10
        while not re.search(reason, text) and time.time() < deadline:  # the box may not be painted yet
            time.sleep(0.5)
            text = s.read_dialog(box)
        self.assertRegex(text, reason)
        s.dismiss_dialog(box)
        # Updater starts the new launcher before it ends, or never: its end decides.
        deadline = time.monotonic() + UPDATER_EXIT_SECONDS
        while programs_on_display(s, "Updater.exe") and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertEqual(programs_on_display(s, "Updater.exe"), [], "Updater did not end after its message")
        self.assertEqual(programs_on_display(s, "VYRLauncher.exe"), [], "a launcher was started after a refused update")
        self.assertEqual(s.windows(), [], "a launcher was started after a refused update")
        self.assertEqual(s.read_file("VYRLauncher.exe"), original, "the old launcher was not kept")
        self.assert_no_leftovers(s)
        return text

    def assert_no_leftovers(self, s):
        self.assertEqual([name for name in LEFTOVERS if s.exists(name)], [])


class UpdaterTests(UpdaterCase):
    def test_refused_launchers_keep_the_old_one_then_the_new_one_replaces_it_and_starts_ready(self):
        original = self.build_file("VYRLauncher.exe")
        new = self.build_file("tests", "VYRLauncher_next.exe")
        self.serve_manifest(NEW_LAUNCHER_MANIFEST)
        s = self.session()
        with self.subTest("404"):
            self.hand_off(s)
            self.assert_refused(s, r"(?i)could not be downloaded.*404", original)
        with self.subTest("still 0.0.0.5"):
            self.serve(LAUNCHER_PATH, original)
            self.hand_off(s)
            self.assert_refused(s, r"(?s)version\s*0\.0\.0\.5.*0\.0\.0\.6", original)
        with self.subTest("0.0.0.6"):
            self.serve(LAUNCHER_PATH, new)
            self.hand_off(s)
            self.assert_ready_new_launcher(s, new)
        # One request per hand-off, the 404 included: nothing went round again.
        self.assertEqual(self.launcher_fetches(), 3)

    def test_signed_updater_refuses_a_tampered_launcher_and_takes_the_signed_one(self):
        original = self.build_file("VYRLauncher.exe")
        new = self.build_file("tests", "VYRLauncher_next.exe")
        tampered = bytearray(new)
        tampered[len(tampered) // 2] ^= 0x01
        key = os.path.join(self.build_dir, "test-patch-key.pem")
        self.serve_signed_index(key, {LAUNCHER_PATH: new})
        self.serve_manifest(NEW_LAUNCHER_MANIFEST)
        s = self.session(updater=("tests", "Updater_signed.exe"))
        with self.subTest("tampered"):
            self.serve(LAUNCHER_PATH, bytes(tampered))
            self.hand_off(s)
            self.assert_refused(s, r"(?i)does not match the signed patch.*SHA-256", original)
        with self.subTest("signed"):
            self.serve(LAUNCHER_PATH, new)
            self.hand_off(s)
            self.assert_ready_new_launcher(s, new)

    def assert_bad_command_line_downloads_nothing(self, s):
        requests = self.server_requests()
        updater = subprocess.Popen(["wine", "Updater.exe", "Installer", "0", "1.0.0.4x", base_url()], cwd=s.folder,
                                   env=s.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        s.started.append(updater.pid)
        box = s.wait_dialog("Error", timeout=60)
        self.assertIsNotNone(box, "no message for a bad command line")
        self.assertIn("Updater Installer 0", s.read_dialog(box))
        s.dismiss_dialog(box)
        self.assertEqual(updater.wait(30), 2)
        self.assertEqual(self.server_requests(), requests)

    def test_installer_hand_off_runs_the_installer_and_checks_the_version_it_records(self):
        self.serve(INSTALLER_PATH, self.build_file("tools", "stub_installer.exe"))
        self.serve_manifest("[INSTALLER]\n1.0.0.4\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10005\n")
        original = self.build_file("VYRLauncher.exe")
        refused = (({"VYR_STUB_INSTALLER_EXIT": "1"}, r"(?i)installer ended with code 1"),
                   ({"VYR_STUB_INSTALLER_VERSION": "1.0.0.3"}, r"(?s)1\.0\.0\.3.*older.*1\.0\.0\.4"))
        for env, reason in refused:
            with self.subTest(env=env):
                s = self.session(env=env)
                if "VYR_STUB_INSTALLER_EXIT" in env:
                    self.assert_bad_command_line_downloads_nothing(s)
                self.hand_off(s)
                text = self.assert_refused(s, reason, original)
                # The player waited for the game's installer: the box speaks of it, not of the launcher.
                self.assertRegex(text, r"(?i)installation\s+was\s+not\s+updated")
                self.assertNotRegex(text, r"(?i)launcher\s+was\s+kept")
                self.assertEqual(self.installed_installer(s), "1.0.0.3")
                self.end_session(s)
        with self.subTest("installs 1.0.0.4"):
            s = self.session(env={"VYR_STUB_INSTALLER_VERSION": "1.0.0.4"})
            self.hand_off(s)
            self.assert_ready_new_launcher(s, original)
            self.assertEqual(self.installed_installer(s), "1.0.0.4")


if __name__ == "__main__":
    harness.main()
