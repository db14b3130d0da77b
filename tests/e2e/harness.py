"""End-to-end harness: runs the real VYRLauncher.exe under Wine on a private Xvfb display.

Usage (each test script):

    import harness
    class WindowTests(harness.TestCase):          # unittest.TestCase with the build paths
        def test_something(self):
            with harness.Session(stub_game=True) as s:   # Xvfb + temp game folder
                s.write_file("config", b"...")           # optional: seed the folder
                s.launch("arg text")                     # wine VYRLauncher.exe, cwd = game folder
                s.wait_window()                          # window id of "VYR Launcher"
                s.wait_status("Ready to start")          # OCR of the status line until it matches
                s.click(70, 398)                         # window coordinates
                self.assertEqual(s.wait_exit(10), 0)     # exit code of the launcher
    if __name__ == "__main__":
        harness.main()                                # takes --build-dir/--source-dir, runs unittest

Session API (window coordinates are pixels from the launcher window's top-left corner):
  Session(build_dir=None, stub_game=False, stub_updater=False, root_colour=ROOT_COLOUR, env=None,
          folder_parent=None)                      # folder_parent: where the game folder is made
  .folder / .path(name) / .write_file(name, data) / .read_file(name) / .exists(name)
  .launch(args="") -> Popen; .run_second(args="", timeout) -> exit code of another instance
  .wait_window(timeout) -> X window id; .windows(title) -> ids; .geometry() -> (x, y, w, h)
  .move(x, y) / .click(x, y) / .press(x, y) / .release(x, y) / .drag((x0, y0), (x1, y1)) / .key("alt+F4")
  .screenshot(path=None) -> Shot (.pixel(x, y) screen coordinates, .path); .pixel(x, y) -> (r, g, b) in window
  .read_text((x, y, w, h)) -> OCR text of a window region; .status_text(); .wait_status(substring, timeout)
  .wait_dialog(title="Error", timeout) -> window id; .read_dialog(id) -> OCR text; .dismiss_dialog(id)
  .wait_exit(timeout) -> exit code (None on timeout); .recorded_args(exe_name, timeout) -> text or None
  .running() -> bool
Cleanup ends the processes this session started (by pid, and the game-folder programs running on its
display), stops its Xvfb, and shuts the Wine server down only when no other process uses the prefix.
Needs: Xvfb, xdotool, xsetroot, ImageMagick (import, convert), tesseract, wine.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

ROOT_COLOUR = (255, 0, 255)
WINDOW_TITLE = "VYR Launcher"
STATUS_REGION = (130, 333, 510, 24)  # around the status line at (140, 340)
SCREEN = (1024, 768)
SKIPPED_EXIT_CODE = 77  # tests/CMakeLists.txt gives ctest the same number

BUILD_DIR = os.environ.get("VYR_BUILD_DIR", "")
SOURCE_DIR = os.environ.get("VYR_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


def main():
    """Takes --build-dir and --source-dir off the command line and runs the unittest cases."""
    global BUILD_DIR, SOURCE_DIR
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--build-dir")
    parser.add_argument("--source-dir")
    known, rest = parser.parse_known_args()
    BUILD_DIR = os.path.abspath(known.build_dir) if known.build_dir else BUILD_DIR
    SOURCE_DIR = os.path.abspath(known.source_dir) if known.source_dir else SOURCE_DIR
    if not BUILD_DIR:
        sys.exit("harness: --build-dir (or VYR_BUILD_DIR) is required")
    result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    # A case that could not run is no pass: ctest reports the script as skipped (SKIP_RETURN_CODE).
    if result.skipped:
        print("harness: %d case(s) skipped, the others passed" % len(result.skipped), file=sys.stderr)
        sys.exit(SKIPPED_EXIT_CODE)


PATCH_PATH = "Setup/live/StandaloneWindows64"


INSTALLER_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Norvane.exe\TH"


class TestCase(unittest.TestCase):
    """Every case starts from an empty manifest on the test server (a fresh game then ends ready with
    version 1), so that no case sees what an earlier one served."""

    def setUp(self):
        self.serve_manifest("")

    @property
    def build_dir(self):
        return BUILD_DIR

    @property
    def source_dir(self):
        return SOURCE_DIR

    @property
    def patch_dir(self):
        """The server's folder behind the compiled patch base URL."""
        path = os.path.join(BUILD_DIR, "www", *PATCH_PATH.split("/"))
        os.makedirs(path, exist_ok=True)
        return path

    def set_installed_installer(self, session, version):
        """Writes (or, with None, deletes) the installer's registry value in the test Wine prefix. It runs
        on the session's display: a Wine program started without one would leave the prefix's desktop
        without a display for the launcher that follows."""
        if version is None:
            command = ["wine", "reg", "delete", INSTALLER_KEY, "/f"]
        else:
            command = ["wine", "reg", "add", INSTALLER_KEY, "/v", "InstallerVersion", "/t", "REG_SZ", "/d",
                       version, "/f"]
        result = subprocess.run(command, env=session.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if version is not None:
            self.assertEqual(result.returncode, 0, "reg add failed")

    def end_session(self, session):
        """Ends a session opened with __enter__ and clears the installer's registry value it may have set."""
        if session.display:
            self.set_installed_installer(session, None)
            session.__exit__(None, None, None)
            session.display = None

    def serve_manifest(self, text, fault=None):
        """Serves text as the manifest; fault names one of the server's fault modes for it."""
        manifest = os.path.join(self.patch_dir, "LauncherPatchInfo.txt")
        with open(manifest, "w", newline="\n") as f:
            f.write(text)
        if fault:
            with open(manifest + ".fault", "w") as f:
                f.write(fault + "\n")
        elif os.path.exists(manifest + ".fault"):
            os.remove(manifest + ".fault")


def wine_prefix():
    return os.environ.get("WINEPREFIX") or os.path.join(os.path.expanduser("~"), ".wine")


def ensure_wine_prefix(env):
    """Creates the prefix once, the way scripts/wine-env does."""
    if os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
        return
    quiet = dict(env, DISPLAY="")
    subprocess.run(["wineboot", "-i"], env=quiet, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=quiet)


def _process_environ(pid):
    try:
        with open("/proc/%d/environ" % pid, "rb") as f:
            entries = f.read().split(b"\0")
    except OSError:
        return None
    env = {}
    for entry in entries:
        key, sep, value = entry.partition(b"=")
        if sep:
            env[key.decode(errors="replace")] = value.decode(errors="replace")
    return env


def _process_name(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace")
    except OSError:
        return ""


def _all_pids():
    return [int(d) for d in os.listdir("/proc") if d.isdigit() and int(d) != os.getpid()]


class Shot:
    """A screenshot: PNG file plus its raw RGB pixels."""

    def __init__(self, path):
        self.path = path
        raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True, stdout=subprocess.PIPE).stdout
        size = subprocess.run(["identify", "-format", "%w %h", path], check=True, stdout=subprocess.PIPE).stdout
        self.width, self.height = (int(v) for v in size.split())
        self.raw = raw

    def pixel(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise ValueError("pixel %d,%d outside the screen" % (x, y))
        i = (y * self.width + x) * 3
        return tuple(self.raw[i:i + 3])


class Session:
    def __init__(self, build_dir=None, stub_game=False, stub_updater=False, root_colour=ROOT_COLOUR, env=None,
                 exe_name="VYRLauncher.exe", launcher_build="VYRLauncher.exe", folder_parent=None):
        self.build_dir = build_dir or BUILD_DIR
        self.launcher_build = launcher_build
        self.folder_parent = folder_parent
        self.stub_game = stub_game
        self.stub_updater = stub_updater
        self.root_colour = root_colour
        self.extra_env = env or {}
        self.exe_name = exe_name
        self.display = None
        self.xvfb = None
        self.folder = None
        self.scratch = None
        self.proc = None
        self.started = []
        self.window = None
        self.shot_count = 0

    # ---- set-up and clean-up -------------------------------------------------------------------
    def __enter__(self):
        try:
            self._start_xvfb()
            self.env = self._make_env()
            ensure_wine_prefix(self.env)
            self.folder = tempfile.mkdtemp(prefix="vyr-e2e-", dir=self.folder_parent)
            # Screenshots and OCR crops stay out of the game folder, which tests compare file by file.
            self.scratch = tempfile.mkdtemp(prefix="vyr-e2e-shots-")
            shutil.copy(os.path.join(self.build_dir, self.launcher_build), os.path.join(self.folder, self.exe_name))
            stub = os.path.join(self.build_dir, "tools", "stub_recorder.exe")
            if self.stub_game:
                shutil.copy(stub, self.path("Norvane.exe"))
            if self.stub_updater:
                shutil.copy(stub, self.path("Updater.exe"))
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def __exit__(self, *exc):
        self._end_processes()
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
        if not os.environ.get("VYR_E2E_KEEP"):
            for folder in (self.folder, self.scratch):
                if folder:
                    shutil.rmtree(folder, ignore_errors=True)
        return False

    def _start_xvfb(self):
        for n in range(60, 100):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            # -noreset: the root colour set by xsetroot must survive xsetroot's own disconnect
            xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "%dx%dx24" % SCREEN, "-nolisten", "tcp",
                                     "-noreset"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.time() + 10
            while time.time() < deadline and xvfb.poll() is None:
                if os.path.exists("/tmp/.X11-unix/X%d" % n):
                    break
                time.sleep(0.05)
            if xvfb.poll() is None and os.path.exists("/tmp/.X11-unix/X%d" % n):
                self.xvfb, self.display = xvfb, ":%d" % n
                colour = "#%02x%02x%02x" % self.root_colour
                subprocess.run(["xsetroot", "-display", self.display, "-solid", colour], check=True)
                return
            xvfb.kill()
            xvfb.wait()
        raise RuntimeError("no free X display in :60-:99")

    def _make_env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env["WINEPREFIX"] = wine_prefix()
        env.setdefault("WINEDEBUG", "-all")
        env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        env.update(self.extra_env)
        return env

    def _session_pids(self):
        """Processes on this session's display that run programs from its game folder."""
        pids = []
        for pid in _all_pids():
            env = _process_environ(pid)
            if not env or env.get("DISPLAY") != self.display:
                continue
            name = _process_name(pid).lower()
            if "wineserver" in name:
                continue
            if pid in self.started or (self.folder and os.path.basename(self.folder).lower() in name) \
                    or any(exe.lower() in name for exe in (self.exe_name, "norvane.exe", "updater.exe")):
                pids.append(pid)
        return pids

    def _prefix_busy_elsewhere(self):
        """Whether a process of another display (or none) uses this session's Wine prefix."""
        prefix = os.path.realpath(self.env["WINEPREFIX"])
        default = os.path.realpath(os.path.join(os.path.expanduser("~"), ".wine"))
        for pid in _all_pids():
            env = _process_environ(pid)
            if env is None:
                continue
            name = _process_name(pid)
            if "wine" not in name.lower() and ".exe" not in name.lower():
                continue
            if "wineserver" in name:
                continue
            uses = os.path.realpath(env.get("WINEPREFIX", default)) == prefix
            if uses and env.get("DISPLAY") != self.display:
                return True
        return False

    def _end_processes(self):
        if not self.display:
            return
        for pid in self._session_pids():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if self.proc:
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                pass
        # Wine's own helper processes (explorer, services) that this session started are bound to its
        # display; shut them down with the server, but only if nobody else is using the prefix.
        if hasattr(self, "env") and not self._prefix_busy_elsewhere():
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    # ---- the game folder -----------------------------------------------------------------------
    def path(self, name):
        return os.path.join(self.folder, name)

    def write_file(self, name, data):
        full = self.path(name)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())

    def read_file(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def exists(self, name):
        return os.path.exists(self.path(name))

    def recorded_args(self, exe_name="Norvane.exe", timeout=10):
        """The raw command line the stub recorder saw, once it has written it."""
        record = self.path(exe_name + ".args.txt")
        deadline = time.time() + timeout
        while time.time() < deadline:
            if os.path.exists(record):
                time.sleep(0.2)
                return self.read_file(exe_name + ".args.txt").decode("latin-1")
            time.sleep(0.1)
        return None

    # ---- processes -----------------------------------------------------------------------------
    def _wine_command(self, args):
        command = ["wine", self.exe_name]
        if isinstance(args, str):
            command += args.split(" ") if args else []
        else:
            command += list(args)
        return command

    def launch(self, args=""):
        """Starts the launcher; args is a text split on single blanks, or a list of arguments."""
        self.proc = subprocess.Popen(self._wine_command(args), cwd=self.folder, env=self.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.started.append(self.proc.pid)
        return self.proc

    def run_second(self, args="", timeout=60):
        """Runs another launcher instance to its end; answers its exit code."""
        proc = subprocess.Popen(self._wine_command(args), cwd=self.folder, env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.started.append(proc.pid)
        try:
            return proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            return None

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def wait_exit(self, timeout=10):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    # ---- windows -------------------------------------------------------------------------------
    def _xdotool(self, *args, check=False):
        return subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, check=check).stdout.decode().strip()

    def windows(self, title=WINDOW_TITLE):
        out = self._xdotool("search", "--onlyvisible", "--name", "^%s$" % title)
        return [int(w) for w in out.split()] if out else []

    def wait_window(self, timeout=60, title=WINDOW_TITLE):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = self.windows(title)
            if found:
                time.sleep(0.5)  # let the first frame land; take the window that is there then
                found = self.windows(title) or found
                self.window = found[0]
                return self.window
            if self.proc is not None and self.proc.poll() is not None:
                raise RuntimeError("launcher ended with code %s before showing its window" % self.proc.returncode)
            time.sleep(0.2)
        raise RuntimeError("no window titled %r within %ss" % (title, timeout))

    def _window_geometry(self, window):
        out = self._xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        if "X" not in values:
            return None
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def geometry(self, window=None):
        """(x, y, width, height) on the screen. Wine may replace the launcher's X window while it
        starts, so a vanished id is looked up again by title."""
        if window:
            return self._window_geometry(window)
        for _ in range(20):
            found = self._window_geometry(self.window) if self.window else None
            if found:
                return found
            current = self.windows()
            self.window = current[0] if current else None
            time.sleep(0.1)
        raise RuntimeError("the launcher window is gone")

    def to_screen(self, x, y):
        wx, wy, _, _ = self.geometry()
        return wx + x, wy + y

    # ---- pointer and keys ----------------------------------------------------------------------
    def move(self, x, y, settle=0.15):
        sx, sy = self.to_screen(x, y)
        self._xdotool("mousemove", "--sync", sx, sy)
        time.sleep(settle)  # a few 50 ms timer ticks see the pointer

    def press(self, x, y):
        self.move(x, y)
        self._xdotool("mousedown", "1")
        time.sleep(0.15)

    def release(self, x=None, y=None):
        if x is not None:
            self.move(x, y)
        self._xdotool("mouseup", "1")
        time.sleep(0.15)

    def click(self, x, y):
        self.press(x, y)
        self.release()

    def drag(self, start, end, steps=10):
        """Press at start, move to end in steps, release; window coordinates taken before the drag."""
        sx, sy = self.to_screen(*start)
        ex, ey = sx + end[0] - start[0], sy + end[1] - start[1]
        self._xdotool("mousemove", "--sync", sx, sy)
        time.sleep(0.15)
        self._xdotool("mousedown", "1")
        time.sleep(0.3)
        for i in range(1, steps + 1):
            self._xdotool("mousemove", sx + (ex - sx) * i // steps, sy + (ey - sy) * i // steps)
            time.sleep(0.05)
        time.sleep(0.2)
        self._xdotool("mouseup", "1")
        time.sleep(0.3)

    def key(self, keys, window=None):
        target = window or self.window
        if target:
            self._xdotool("windowfocus", "--sync", target)
        self._xdotool("key", keys)
        time.sleep(0.15)

    # ---- pixels and text -----------------------------------------------------------------------
    def screenshot(self, path=None):
        if path is None:
            self.shot_count += 1
            path = os.path.join(self.scratch, "shot-%02d.png" % self.shot_count)
        subprocess.run(["import", "-display", self.display, "-window", "root", path], check=True, env=self.env)
        return Shot(path)

    def pixel(self, x, y, shot=None):
        """Colour of a window pixel as the screen shows it (transparent parts show the root colour)."""
        shot = shot or self.screenshot()
        sx, sy = self.to_screen(x, y)
        return shot.pixel(sx, sy)

    def _ocr_crop(self, shot, box, scale=4, invert=True, psm=7):
        x, y, w, h = box
        crop = os.path.join(self.scratch, "ocr-crop.png")
        args = ["convert", shot.path, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", "-colorspace", "Gray",
                "-resize", "%d%%" % (scale * 100)]
        if invert:
            args += ["-negate"]
        args += ["-normalize", crop]
        subprocess.run(args, check=True)
        out = subprocess.run(["tesseract", crop, "stdout", "--psm", str(psm)], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL).stdout
        return " ".join(out.decode(errors="replace").split())

    def read_text(self, region, shot=None, invert=True, psm=7):
        """OCR of a window region (x, y, w, h); light text on the dark skin by default."""
        shot = shot or self.screenshot()
        sx, sy = self.to_screen(region[0], region[1])
        return self._ocr_crop(shot, (sx, sy, region[2], region[3]), invert=invert, psm=psm)

    def status_text(self, shot=None):
        return self.read_text(STATUS_REGION, shot)

    def wait_status(self, substring, timeout=30):
        """Polls the status line until its OCR text holds substring (case and blanks ignored)."""
        want = "".join(substring.lower().split())
        deadline = time.time() + timeout
        seen = ""
        while time.time() < deadline:
            seen = self.status_text()
            if want in "".join(seen.lower().split()):
                return seen
            time.sleep(0.5)
        raise AssertionError("status line never showed %r; last read %r" % (substring, seen))

    # ---- message boxes -------------------------------------------------------------------------
    def wait_dialog(self, title="Error", timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = self.windows(title)
            if found:
                time.sleep(0.3)
                return found[0]
            time.sleep(0.2)
        return None

    def read_dialog(self, window):
        """OCR of a whole message box (dark text on a light face)."""
        shot = self.screenshot()
        box = self._window_geometry(window)
        if box is None:
            return ""
        return self._ocr_crop(shot, box, scale=3, invert=False, psm=6)

    def dismiss_dialog(self, window):
        self.key("Return", window)
