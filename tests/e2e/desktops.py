"""Real desktops for the end-to-end matrix, each on private servers: a window manager (and
panel) on Xvfb, two outputs on Xorg with the dummy driver, or a Wayland compositor with
Xwayland. A desktop is a harness.Display, so harness.Host runs on it unchanged.

Every process a desktop starts carries a tag in its environment; close() ends them all,
those that daemonised themselves (D-Bus services, Xwayland) included, and only those."""

import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import uuid

from harness import DESKTOP_MODES, Display, wait_for
from xquery import XQueries

TAG = "LF_DESKTOP_TAG"
START_TIMEOUT = 30  # a desktop's own start-up, on a loaded machine


class Desktop(XQueries, Display):
    """Xvfb at 1920x1080 (a 60 Hz desktop mode) with openbox: the reference desktop."""

    label = "openbox"
    programs = ("Xvfb", "openbox")
    size = (1920, 1080)
    scale = 1.0        # the desktop's scale as Qt applies it to the host
    wayland = False    # the host reaches the X server through Xwayland
    emulated_modes = True  # on Xwayland: the window manager sizes a full-screen window to the
                           # mode Xwayland emulates for its client (_XWAYLAND_RANDR_EMU_MONITOR_RECTS)
    frame_shadow = 0   # invisible margin around a frame window where no _NET_FRAME_EXTENTS tells
    host_env = {}
    host_args = ()     # the host's command line
    own_mode = False   # full screen on the desktop's own mode (--fullscreen=desktop)
    iconifies = True   # the window manager minimises a window when its client asks

    def __init__(self):
        missing = [p for p in self.programs + ("dbus-daemon",) if not shutil.which(p)]
        if missing:
            raise unittest.SkipTest("%s: not installed: %s" % (self.label, " ".join(missing)))
        self.root = tempfile.mkdtemp(prefix="lf-desktop-")
        self.home = os.path.join(self.root, "home")
        self.runtime = os.path.join(self.root, "run")
        os.makedirs(os.path.join(self.home, ".config"))
        os.makedirs(self.runtime, mode=0o700)
        self.key = type(self).__dict__.get("key", type(self).__name__)
        self.tag = uuid.uuid4().hex
        self.base_env = dict(os.environ, HOME=self.home, XDG_RUNTIME_DIR=self.runtime,
                             NO_AT_BRIDGE="1", **{TAG: self.tag})
        for key in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME",
                    "XDG_DATA_HOME", "XDG_CACHE_HOME", "XAUTHORITY", "SESSION_MANAGER"):
            self.base_env.pop(key, None)
        self.procs, self.clients, self.wm, self.xvfb = [], [], None, None
        self.env = dict(self.base_env)
        try:
            self.start()
        except BaseException:
            self.close()
            raise

    # --- Start-up ------------------------------------------------------------------

    def start(self):
        self.start_xvfb()
        self.start_wm(["openbox"])

    def launch(self, args, env=None, log=None, **kwargs):
        """A process of the desktop, in its own session, logging to a file in the root."""
        out = open(os.path.join(self.root, (log or os.path.basename(args[0])) + ".log"), "ab")
        proc = subprocess.Popen(args, env=env or self.env, stdout=kwargs.pop("stdout", out),
                                stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                start_new_session=True, cwd=self.root, **kwargs)
        out.close()
        self.procs.append(proc)
        return proc

    def log(self, name):
        try:
            with open(os.path.join(self.root, name + ".log"), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def use_display(self, name):
        self.name = name
        self.env = dict(self.base_env, DISPLAY=name)
        wait_for(lambda: subprocess.run(["xdpyinfo"], env=self.env, capture_output=True,
                                        timeout=20).returncode == 0,
                 START_TIMEOUT, 0.1, what="the X server %s of %s" % (name, self.label))
        if "DBUS_SESSION_BUS_ADDRESS" not in self.base_env:
            # A private session bus for everything on this desktop, the host included; the
            # services it starts on demand get the display.
            self.start_dbus()

    def start_xvfb(self):
        read_fd, write_fd = os.pipe()
        self.xvfb = self.launch(["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                                 "%dx%dx24" % self.size, "-noreset", "-nolisten", "tcp"],
                                env=self.base_env, pass_fds=(write_fd,))
        os.close(write_fd)
        with os.fdopen(read_fd, "rb") as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start: " + self.log("Xvfb"))
        self.use_display(":" + number.decode())
        name, timings = DESKTOP_MODES[self.size]
        self.xrandr("--newmode", name, *timings.split())
        self.xrandr("--addmode", "screen", name)
        self.xrandr("--output", "screen", "--mode", name)

    def start_dbus(self):
        bus = self.launch(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                          stdout=subprocess.PIPE)
        address = bus.stdout.readline().decode().strip()
        if not address:
            raise RuntimeError("dbus-daemon did not start: " + self.log("dbus-daemon"))
        self.base_env["DBUS_SESSION_BUS_ADDRESS"] = self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def start_wm(self, args, ready=None):
        self.wm = self.launch(args)
        log = lambda: self.log(os.path.basename(args[0]))[-600:]

        def started():
            if self.wm.poll() is not None:
                raise RuntimeError("%s ended with status %s: %s" % (args[0], self.wm.returncode, log()))
            return (ready or self.has_wm)()
        try:
            wait_for(started, START_TIMEOUT, 0.1, what="%s ready" % self.label)
        except AssertionError as e:
            raise AssertionError("%s (log: %s)" % (e, log())) from None

    def activate(self, wid):
        """Asks the window manager to activate the window, as a taskbar does."""
        self.xconn().send(wid, "_NET_ACTIVE_WINDOW", [2, 0, 0], to_root=True)

    def has_wm(self):
        return "window id" in self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK")

    def panel_reserved(self):
        """The work area is smaller than the screen: a panel has reserved its strut."""
        area = self.work_area()
        return self.has_wm() and area is not None and area[2:] != self.screen_size()

    def screenshot(self):
        """The whole screen as the user sees it, as a PPM image (bytes)."""
        return self.run_binary("import", "-window", "root", "-depth", "8", "ppm:-")

    def run_binary(self, *args):
        return subprocess.run(list(args), env=self.env, capture_output=True, timeout=30,
                              check=True).stdout

    def spawn_logged(self, args, out):
        """Another X client whose output goes to the open file out; ended by close()."""
        proc = subprocess.Popen(args, env=self.env, stdout=out, stderr=subprocess.STDOUT,
                                start_new_session=True)
        self.clients.append(proc)
        return proc

    # --- End -------------------------------------------------------------------------

    def tagged(self):
        found = []
        needle = ("%s=%s" % (TAG, self.tag)).encode()
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if needle in f.read().split(b"\0"):
                        found.append(int(entry))
            except OSError:
                pass
        return found

    def close(self):
        if getattr(self, "_xconn", None):
            self._xconn.close()
        for proc in reversed(self.clients + self.procs):
            if proc.poll() is None:
                proc.terminate()
        for proc in self.clients + self.procs:
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(5)
            if proc.stdout:
                proc.stdout.close()
        # What the desktop's processes started by themselves and left behind.
        for sig in (signal.SIGTERM, signal.SIGKILL):
            left = self.tagged()
            for pid in left:
                try:
                    os.kill(pid, sig)
                except ProcessLookupError:
                    pass
            deadline = time.monotonic() + 3
            while left and time.monotonic() < deadline:
                time.sleep(0.05)
                left = self.tagged()
            if not left:
                break
        if not os.environ.get("LF_KEEP_DESKTOP"):
            shutil.rmtree(self.root, ignore_errors=True)


class Xfce(Desktop):
    """xfwm4 with xfce4-panel: the default panel at the top reserves its strut."""

    label = "xfwm4 + xfce4-panel (top)"
    programs = ("Xvfb", "xfwm4", "xfce4-panel")

    def start(self):
        self.start_xvfb()
        self.launch(["xfce4-panel"])
        self.start_wm(["xfwm4"], ready=self.panel_reserved)


class XfceOwnMode(Xfce):
    """xfwm4 with its top panel, the host in full screen on the desktop's own mode: the
    window covers the output (and the panel) with the stage scaled to fit between bars."""

    label = "xfwm4 + xfce4-panel, --fullscreen=desktop"
    host_args = ("--fullscreen=desktop",)
    own_mode = True


class Tint2(Desktop):
    """openbox with tint2's default panel at the bottom (kept above other windows)."""

    label = "openbox + tint2 (bottom)"
    programs = ("Xvfb", "openbox", "tint2")

    def start(self):
        self.start_xvfb()
        self.start_wm(["openbox"])
        self.launch(["tint2"])
        wait_for(self.panel_reserved, START_TIMEOUT, 0.1, what="tint2's strut")


class KWin(Desktop):
    """KDE's window manager with its Breeze decorations."""

    label = "kwin_x11 + Breeze"
    programs = ("Xvfb", "kwin_x11")

    def start(self):
        self.start_xvfb()
        self.start_wm(["kwin_x11", "--replace"])


MONITORS_XML = """<monitors version="2">
  <configuration>
    <logicalmonitor>
      <x>0</x><y>0</y><scale>1</scale><primary>yes</primary>
      <monitor>
        <monitorspec><connector>screen</connector><vendor>unknown</vendor>
          <product>unknown</product><serial>unknown</serial></monitorspec>
        <mode><width>%d</width><height>%d</height><rate>%s</rate></mode>
      </monitor>
    </logicalmonitor>
  </configuration>
</monitors>
"""


class MutterX11(Desktop):
    """GNOME's window manager on X11. It keeps the 60 Hz desktop mode only when the
    user's monitors.xml names it (without it mutter resets Xvfb to its 0 Hz mode)."""

    label = "mutter --x11"
    programs = ("Xvfb", "mutter")

    def start(self):
        self.start_xvfb()
        # The rate exactly as mutter computes it from the mode's timings.
        clock, *timings = DESKTOP_MODES[self.size][1].split()
        rate = float(clock) * 1e6 / (int(timings[3]) * int(timings[7]))
        with open(os.path.join(self.home, ".config", "monitors.xml"), "w") as f:
            f.write(MONITORS_XML % (self.size[0], self.size[1], "%.12f" % rate))
        self.start_wm(["mutter", "--x11", "--replace", "--sm-disable"])


class HiDpiXft(Desktop):
    """openbox with the X resources of a 200 % desktop (Xft.dpi 192)."""

    label = "HiDPI Xft.dpi 192"
    programs = ("Xvfb", "openbox", "xrdb")
    scale = 2.0

    def start(self):
        self.start_xvfb()
        subprocess.run(["xrdb", "-merge"], input=b"Xft.dpi: 192\n", env=self.env, check=True,
                       timeout=20)
        self.start_wm(["openbox"])


class HiDpiQt(Desktop):
    """openbox, the host told to scale by 125 % (QT_SCALE_FACTOR)."""

    label = "HiDPI QT_SCALE_FACTOR 1.25"
    scale = 1.25
    host_env = {"QT_SCALE_FACTOR": "1.25"}


XORG_CONF = """Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 131072
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0 - 1000.0
  VertRefresh 5.0 - 200.0
%(modelines)s
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual %(virtual)s
    Modes "%(first)s"
  EndSubSection
EndSection
"""


class TwoOutputs(Desktop):
    """Xorg with the dummy driver and two outputs: the primary (1920x1080) on the right of
    a 1280x1024 one, so the primary's origin is not the root's 0,0. openbox."""

    label = "two outputs, primary on the right"
    programs = ("Xorg", "openbox")
    layout = (("DUMMY1", (1280, 1024)), ("DUMMY0", (1920, 1080)))  # left to right
    primary = "DUMMY0"

    def start(self):
        if not os.path.exists("/usr/lib/xorg/modules/drivers/dummy_drv.so"):
            raise unittest.SkipTest("%s: xserver-xorg-video-dummy is not installed" % self.label)
        modes = [DESKTOP_MODES[size] for _, size in self.layout]
        conf = os.path.join(self.root, "xorg.conf")
        with open(conf, "w") as f:
            f.write(XORG_CONF % dict(
                modelines="\n".join('  Modeline "%s" %s' % m for m in modes),
                virtual="%d %d" % (sum(s[0] for _, s in self.layout), max(s[1] for _, s in self.layout)),
                first=DESKTOP_MODES[dict(self.layout)[self.primary]][0]))
        read_fd, write_fd = os.pipe()
        self.xvfb = self.launch(["Xorg", "-config", conf, "-configdir", os.path.join(self.root, "none"),
                                 "-noreset", "-nolisten", "tcp", "-novtswitch", "-sharevts",
                                 "-logfile", os.path.join(self.root, "xorg-server.log"),
                                 "-displayfd", str(write_fd)], env=self.base_env, pass_fds=(write_fd,))
        os.close(write_fd)
        with os.fdopen(read_fd, "rb") as pipe:
            number = pipe.readline().strip()
        if not number:
            raise unittest.SkipTest("%s: Xorg with the dummy driver does not start here: %s"
                                    % (self.label, self.log("Xorg")[-300:]))
        self.use_display(":" + number.decode())
        x = 0
        for name, size in self.layout:
            mode = DESKTOP_MODES[size][0]
            if name != self.primary:
                self.xrandr("--addmode", name, mode)
            self.xrandr("--output", name, "--mode", mode, "--pos", "%dx0" % x)
            x += size[0]
        self.xrandr("--output", self.primary, "--primary")
        self.start_wm(["openbox"])


X11 = {
    "openbox": Desktop, "xfce": Xfce, "xfce_own_mode": XfceOwnMode, "tint2": Tint2, "kwin": KWin, "mutter_x11": MutterX11,
    "hidpi_xft": HiDpiXft, "hidpi_qt": HiDpiQt, "two_outputs": TwoOutputs,
}
