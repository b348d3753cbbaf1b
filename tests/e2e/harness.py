"""End-to-end harness: a private Xvfb with openbox, and the real host started from a copy
of the program folder with a chosen movie, its own home, runtime and save folders, and a
protocol trace. Every process started here is ended here; every wait has a deadline."""

import ctypes
import ctypes.util
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

PROGRAM_DIR = os.environ.get("LF_PROGRAM_DIR", os.path.join(os.path.dirname(__file__), "../../build/bin"))
TEST_MOVIES = os.environ.get("LF_TEST_MOVIES", os.path.join(os.path.dirname(__file__), "../../build/test-movies"))
PROBE = os.path.join(TEST_MOVIES, "probe.swf")

# A desktop mode with real timings (a stock Xvfb reports 0 Hz for its modes).
DESKTOP_MODES = {
    (1920, 1080): ("1920x1080_60.00", "173.00 1920 2048 2248 2576 1080 1083 1088 1120 -hsync +vsync"),
    (1280, 1024): ("1280x1024_60.00", "109.00 1280 1368 1496 1712 1024 1027 1034 1063 -hsync +vsync"),
    (1024, 600): ("1024x600_60.00", "49.00 1024 1064 1168 1312 600 603 613 624 -hsync +vsync"),
    (800, 600): ("800x600_60.00", "38.25 800 832 912 1024 600 603 607 624 -hsync +vsync"),
}


def wait_for(condition, timeout=20.0, interval=0.05, what="condition"):
    """Polls condition() until it returns a true value, which is returned; fails on timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def idle_ms(display_name):
    """The X server's idle time (MIT-SCREEN-SAVER), in milliseconds."""
    xlib = ctypes.CDLL(ctypes.util.find_library("X11"))
    xss = ctypes.CDLL(ctypes.util.find_library("Xss"))

    class Info(ctypes.Structure):
        _fields_ = [("window", ctypes.c_ulong), ("state", ctypes.c_int), ("kind", ctypes.c_int),
                    ("til_or_since", ctypes.c_ulong), ("idle", ctypes.c_ulong),
                    ("eventMask", ctypes.c_ulong)]

    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    xlib.XDefaultRootWindow.restype = ctypes.c_ulong
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xss.XScreenSaverAllocInfo.restype = ctypes.POINTER(Info)
    xss.XScreenSaverQueryInfo.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(Info)]
    display = xlib.XOpenDisplay(display_name.encode())
    try:
        info = xss.XScreenSaverAllocInfo()
        xss.XScreenSaverQueryInfo(display, xlib.XDefaultRootWindow(display), info)
        return info.contents.idle
    finally:
        xlib.XCloseDisplay(display)


class SessionBus:
    """A private D-Bus session bus (dbus-daemon with a configuration of its own and no service
    files, so nothing is started on demand). Without one, every X client that asks for the
    session bus would have libdbus start a bus for the display, which outlives the test."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="lf-bus-")
        config = os.path.join(self.dir, "bus.conf")
        with open(config, "w") as f:
            f.write('<busconfig><type>session</type><listen>unix:dir=%s</listen>'
                    '<auth>EXTERNAL</auth><policy context="default">'
                    '<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>'
                    '<allow own="*"/></policy></busconfig>'
                    % self.dir)
        self.proc = subprocess.Popen(
            ["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, start_new_session=True)
        self.address = self.proc.stdout.readline().strip()
        if not self.address:
            self.close()
            raise RuntimeError("dbus-daemon did not start")

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(5)
        self.proc.stdout.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class Display:
    """A private X server (Xvfb -noreset) with openbox, given a desktop mode with real timings,
    and a private session bus."""

    def __init__(self, width=1920, height=1080, window_manager=True):
        self.width, self.height = width, height
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "%dx%dx24" % (width, height),
             "-noreset", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.xvfb.kill()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number.decode().strip()
        self.bus = SessionBus()
        self.env = dict(os.environ, DISPLAY=self.name, DBUS_SESSION_BUS_ADDRESS=self.bus.address)
        self.env.pop("WAYLAND_DISPLAY", None)
        mode = DESKTOP_MODES.get((width, height))
        if mode:
            self.xrandr("--newmode", mode[0], *mode[1].split())
            self.xrandr("--addmode", "screen", mode[0])
            self.xrandr("--output", "screen", "--mode", mode[0])
        self.wm = None
        self.clients = []
        if window_manager:
            self.wm = subprocess.Popen(["openbox"], env=self.env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, start_new_session=True)
            wait_for(lambda: "_NET_SUPPORTING_WM_CHECK" in self.run("xprop", "-root"), 10,
                     what="openbox")

    def run(self, *args, check=False):
        result = subprocess.run(list(args), env=self.env, capture_output=True, text=True,
                                timeout=20)
        if check and result.returncode != 0:
            raise AssertionError("%s failed: %s" % (" ".join(args), result.stderr))
        return result.stdout

    def spawn(self, args):
        """Another X client on this display; the caller ends it."""
        proc = subprocess.Popen(args, env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        self.clients.append(proc)
        return proc

    def xrandr(self, *args):
        return self.run("xrandr", *args, check=True)

    def screen_size(self):
        """The current screen size as the X server reports it."""
        for line in self.run("xrandr").splitlines():
            if "current" in line:
                part = line.split("current")[1].split(",")[0]
                w, h = part.replace(" ", "").split("x")
                return int(w), int(h)
        return None

    def windows(self, name):
        """The viewable client windows whose name matches the regular expression. A frame
        that carries its client's name is left out: mutter 44 and later draw frames in a
        client of their own (mutter-x11-frames), whose window holds the client's."""
        found = []
        pattern = r'\s*(0x[0-9a-f]+) "(.*)": \('
        for line in self.run("xwininfo", "-root", "-tree").splitlines():
            match = re.match(pattern, line)
            if match and re.search(name, match.group(2)):
                wid = int(match.group(1), 16)
                if "IsViewable" not in self.run("xwininfo", "-id", str(wid)):
                    continue
                children = self.run("xwininfo", "-children", "-id", str(wid)).splitlines()
                if not any((m := re.match(pattern, c)) and m.group(2) == match.group(2)
                           for c in children):
                    found.append(wid)
        return found

    def window_type(self, wid):
        out = self.run("xprop", "-id", str(wid), "_NET_WM_WINDOW_TYPE")
        return out.split("=")[1].strip() if "=" in out else ""

    def dialogs(self):
        """The visible message boxes and other dialogs."""
        return [w for w in self.windows(".") if "DIALOG" in self.window_type(w)]

    def screensaver_timeout(self):
        for line in self.run("xset", "q").splitlines():
            if "timeout:" in line:
                return int(line.split("timeout:")[1].split()[0])
        return None

    def close(self):
        for proc in self.clients + [self.wm, self.xvfb]:
            if proc and proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait(5)
        self.bus.close()


class Host:
    """The real host, run from a private copy of the program folder."""

    def __init__(self, display, movie=PROBE, config=None, files=None, home=None,
                 link_info="https://example.org/survey\r\nexample.org/guide\r\n", extra_env=None):
        self.display = display
        self.root = tempfile.mkdtemp(prefix="lf-e2e-")
        self.program = os.path.join(self.root, "program")
        # Hard links keep the copy cheap; the executable is a real file there, so its folder
        # is the program folder.
        shutil.copytree(PROGRAM_DIR, self.program, copy_function=os.link)
        os.unlink(os.path.join(self.program, "morrow.swf"))
        if movie:
            shutil.copy(movie, os.path.join(self.program, "morrow.swf"))
        link_path = os.path.join(self.program, "Survey_StrategyGuide", "Survey_StrategyGuideLinkInfo.txt")
        os.unlink(link_path)
        if link_info is not None:
            with open(link_path, "w", newline="") as f:
                f.write(link_info)
        self.home = home or os.path.join(self.root, "home")
        self.runtime = os.path.join(self.home, "run")
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        self.save = os.path.join(self.home, ".local", "share", "Lanternfall")
        os.makedirs(self.save, exist_ok=True)
        if config is not None:
            with open(os.path.join(self.save, "config.dat"), "wb") as f:
                f.write(config.encode("utf-8"))
        for name, content in (files or {}).items():
            with open(os.path.join(self.save, name), "wb") as f:
                f.write(content if isinstance(content, bytes) else content.encode("utf-8"))
        self.trace_path = os.path.join(self.root, "trace.jsonl")
        self.env = dict(display.env, HOME=self.home, XDG_RUNTIME_DIR=self.runtime,
                        LANTERNFALL_TRACE=self.trace_path)
        for key in ("APPDATA", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"):
            self.env.pop(key, None)
        self.env.update(extra_env or {})
        self.procs = []
        self.proc = None

    def start(self, extra_env=None, args=()):
        env = dict(self.env, **(extra_env or {}))
        stderr = open(os.path.join(self.root, "stderr-%d.txt" % len(self.procs)), "w+")
        proc = subprocess.Popen([os.path.join(self.program, "lanternfall"), *args], env=env,
                                stdout=subprocess.DEVNULL, stderr=stderr, start_new_session=True)
        proc.stderr_file = stderr
        self.procs.append(proc)
        if self.proc is None:
            self.proc = proc
        return proc

    @staticmethod
    def stderr_of(proc):
        proc.stderr_file.flush()
        with open(proc.stderr_file.name) as f:
            return f.read()

    @classmethod
    def reports(cls, proc):
        """The host's own lines on stderr ("lanternfall: ..."), without the note that no
        desktop idle service took the screen saver inhibit (expected on a test display
        without one)."""
        return [line for line in cls.stderr_of(proc).splitlines()
                if line.startswith("lanternfall:") and "take the inhibit" not in line]

    def trace(self):
        """The complete lines of the trace (a line the host is still writing is left out)."""
        try:
            with open(self.trace_path, encoding="utf-8") as f:
                return [json.loads(line) for line in f if line.endswith("\n") and line.strip()]
        except FileNotFoundError:
            return []

    def calls(self, name=None):
        return [t for t in self.trace() if t["dir"] == "call" and (name is None or t["name"] == name)]

    def commands(self, name=None):
        """The commands the host has handled, each with its outcome ("ok" or "error: ...")."""
        return [t for t in self.trace() if t["dir"] == "command" and t["outcome"] != "received"
                and (name is None or t["name"] == name)]

    def received(self, name=None):
        """The commands as they reached the host (also those that ended the program)."""
        return [t for t in self.trace() if t["dir"] == "command" and t["outcome"] == "received"
                and (name is None or t["name"] == name)]

    def acks(self):
        """What the probe movie acknowledged: (callback name, argument) pairs."""
        out = []
        for t in self.commands("probe_ack"):
            name, _, arg = t["arg"].partition(":")
            out.append((name, arg))
        return out

    def wait_command(self, name, arg=None, count=1, timeout=30):
        return wait_for(
            lambda: len([t for t in self.commands(name) if arg is None or t["arg"] == arg]) >= count,
            timeout, what="command %s %r x%d in the trace" % (name, arg, count))

    def wait_ack(self, name, arg=None, count=1, timeout=30):
        return wait_for(
            lambda: len([a for a in self.acks() if a[0] == name and (arg is None or a[1] == arg)]) >= count,
            timeout, what="the movie's acknowledgement of %s %r" % (name, arg))

    def wait_ready(self, timeout=60):
        """The probe movie has started and received its first answer."""
        self.wait_command("probe_hello", timeout=timeout)
        self.wait_ack("ConfigDataReadComplete", timeout=timeout)

    def window(self, timeout=20):
        """The host's main window (not one of its message boxes)."""
        return wait_for(lambda: [w for w in self.display.windows("^Lanternfall$")
                                 if "DIALOG" not in self.display.window_type(w)], timeout,
                        what="the host's window")[0]

    def window_geometry(self, wid):
        """(x, y, width, height) of the window's client area as the X server reports it."""
        out = self.display.run("xwininfo", "-id", str(wid))
        values = {}
        for line in out.splitlines():
            line = line.strip()
            for key in ("Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:"):
                if line.startswith(key):
                    values[key] = int(line.split(":")[1])
        return (values["Absolute upper-left X:"], values["Absolute upper-left Y:"],
                values["Width:"], values["Height:"])

    def stop(self):
        """Kills the host; its guardian then gives the desktop back and ends by itself.
        Whatever is left of the process group after a few seconds is killed too."""
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
                proc.wait(10)
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline:
                try:
                    os.killpg(proc.pid, 0)
                except ProcessLookupError:
                    break
                time.sleep(0.05)
            else:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            proc.stderr_file.close()
        self.procs = []

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)


def probe_script(*lines):
    """A configuration text that makes the probe movie run these lines (tab-separated)."""
    return "#probe\n" + "\n".join("\t".join(line) for line in lines) + "\n"


class HostTestCase(unittest.TestCase):
    """One display per test class; hosts made with make_host are ended after each test."""

    display_size = (1920, 1080)

    @classmethod
    def setUpClass(cls):
        if not all(shutil.which(p) for p in ("Xvfb", "openbox", "dbus-daemon")):
            raise unittest.SkipTest("Xvfb, openbox and dbus-daemon are needed")
        cls.display = Display(*cls.display_size)

    @classmethod
    def tearDownClass(cls):
        cls.display.close()

    def make_host(self, **kwargs):
        host = Host(self.display, **kwargs)
        self.addCleanup(host.cleanup)
        return host
