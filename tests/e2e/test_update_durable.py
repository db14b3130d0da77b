#!/usr/bin/env python3
"""A power cut must never leave "config" naming a version whose files the disk may not hold yet. Watched
under Wine with strace, on the launcher and on the Wine server that performs its renames: every game
file a step puts in place, downloaded or unpacked from an archive, has been fsync'ed before the next
rename of "config.tmp" over "config", the one that records the step. What this shows is the order in
which the kernel was asked to make things durable; that an fsync'ed file survives a power cut is the
file system's own promise."""
import os
import re
import shutil
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

SERVED = "e2e-durable"
INSTALLED = 10005
FLUSHES = ("fsync", "fdatasync")
RENAMES = ("rename", "renameat", "renameat2")
# "1234 fsync(13</path/a.dat.download>) = 0", possibly cut in two by another process's call.
CALL = re.compile(r"^(\d+)\s+(\w+)\((.*)$")
RESUMED = re.compile(r"^(\d+)\s+<\.\.\. (\w+) resumed>(.*)$")
FD_PATH = re.compile(r"^\d+<(.*?)>")
QUOTED = re.compile(r'"((?:[^"\\]|\\.)*)"')
TEMP_SUFFIXES = (".download", ".vyr-part")
MANY_ENTRIES = 80  # with the others, past the 64 entries from which two threads unpack an archive


def prefix_wineserver(env):
    """The pid of the Wine server already running for env's prefix, or None (the launcher's wine then
    starts one, which strace follows as its descendant)."""
    prefix = os.path.realpath(env["WINEPREFIX"])
    for pid in harness._all_pids():
        if "wineserver" not in harness._process_name(pid):
            continue
        server_env = harness._process_environ(pid) or {}
        if os.path.realpath(server_env.get("WINEPREFIX", os.path.expanduser("~/.wine"))) == prefix:
            return pid
    return None


def parse_trace(lines):
    """The trace as events in the order strace saw them: ("flush", path) when an fsync returned 0,
    ("rename", old, new) when a rename was entered. Paths are resolved through Wine's drive links."""
    events, pending = [], {}
    for line in lines:
        resumed = RESUMED.match(line)
        if resumed:
            pid, name, rest = resumed.groups()
            call = pending.pop((pid, name), None)
            if call is not None and rest.rstrip().endswith("= 0"):
                events.append(("flush", call))
            continue
        match = CALL.match(line)
        if not match:
            continue
        pid, name, rest = match.groups()
        if name in FLUSHES:
            path = FD_PATH.match(rest)
            if not path:
                continue
            if rest.rstrip().endswith("<unfinished ...>"):
                pending[(pid, name)] = os.path.realpath(path.group(1))
            elif rest.rstrip().endswith("= 0"):
                events.append(("flush", os.path.realpath(path.group(1))))
        elif name in RENAMES:
            paths = QUOTED.findall(rest)
            if len(paths) >= 2:
                events.append(("rename", os.path.realpath(paths[-2]), os.path.realpath(paths[-1])))
    return events


class DurableUpdateTests(harness.TestCase):
    def setUp(self):
        super().setUp()
        if shutil.which("strace") is None:
            self.skipTest("strace is not installed")
        sys.path.insert(0, os.path.join(self.source_dir, "tools"))
        import make_demo_patches
        self.read_config_version = make_demo_patches.read_config_version
        self.write_zip = make_demo_patches.write_zip
        self.player_dir = os.path.join(self.patch_dir, "Player", SERVED)
        shutil.rmtree(self.player_dir, ignore_errors=True)
        os.makedirs(self.player_dir)
        self.addCleanup(self.serve_manifest, "")

    def serve(self, name, data):
        with open(os.path.join(self.player_dir, name), "wb") as f:
            f.write(data)
        return "%s/%s" % (SERVED, name)

    def traced_launch(self, s, trace):
        """The launcher under strace, together with the prefix's Wine server when one runs already."""
        command = ["strace", "-I1", "-f", "-qq", "-y", "-e", "signal=none", "-e",
                   "trace=" + ",".join(FLUSHES + RENAMES), "-o", trace]
        server = prefix_wineserver(s.env)
        if server is not None:
            command += ["-p", str(server)]
        s.proc = subprocess.Popen(command + ["wine", s.exe_name], cwd=s.folder, env=s.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        s.started.append(s.proc.pid)

    def test_every_file_of_a_step_is_flushed_before_config_records_it(self):
        plain = self.serve("plain.dat", os.urandom(200000))
        # Enough entries that the archive is unpacked by more than one thread: each must flush its own.
        many = ["Durable/Many/m%03d.dat" % i for i in range(MANY_ENTRIES)]
        self.write_zip(os.path.join(self.player_dir, "Pack10006.zip"),
                       [("Durable/", None), ("Durable/one.dat", b"one" * 30000),
                        ("Durable/Deep/two.dat", b"two" * 20)] + [(name, name.encode() * 50) for name in many])
        later = self.serve("later.dat", b"the second step")
        self.serve_manifest("[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10004 old.zip\n"
                            "10006 %s %s/Pack10006.zip\n10007 %s\n" % (plain, SERVED, later))
        with harness.Session() as s:
            with open(os.path.join(self.source_dir, "tests", "data", "config_fixture_%d.bin" % INSTALLED),
                      "rb") as f:
                s.write_file("config", f.read())
            trace = os.path.join(s.scratch, "strace.log")
            self.traced_launch(s, trace)
            s.wait_window(timeout=90)
            s.wait_status("Ready to start the game", timeout=90)
            self.assertEqual(self.read_config_version(s.path("config")), 10007)
            s.proc.send_signal(signal.SIGTERM)  # strace detaches (-I1: it does not block the signal)
            s.proc.wait(20)
            with open(trace, errors="replace") as f:
                events = parse_trace(f)

        folder = os.path.realpath(s.folder)
        config = os.path.join(folder, "config")
        records = [i for i, event in enumerate(events) if event[0] == "rename" and event[2] == config]
        self.assertTrue(records, "no rename of config.tmp over config was seen: the trace missed the server")
        placed = {}
        for i, event in enumerate(events):
            if event[0] == "rename" and event[1].endswith(TEMP_SUFFIXES) and event[2].startswith(folder + os.sep):
                placed[os.path.relpath(event[2], folder).replace(os.sep, "/")] = (i, event[1])
        expected = {plain, later, "Durable/one.dat", "Durable/Deep/two.dat"} | set(many)
        self.assertEqual(set(placed) & expected, expected, "game files put in place unseen by the trace")
        for name in sorted(expected):
            index, temp = placed[name]
            record = next((r for r in records if r > index), None)
            self.assertIsNotNone(record, "%s was put in place after the last version was recorded" % name)
            target = os.path.join(folder, name)
            flushed = any(event[0] == "flush" and event[1] in (temp, target) for event in events[:record])
            self.assertTrue(flushed, "%s was not flushed before config recorded its step" % name)


if __name__ == "__main__":
    harness.main()
