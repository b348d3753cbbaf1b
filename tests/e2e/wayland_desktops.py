"""Wayland sessions for the end-to-end matrix: a compositor with Xwayland, the host an X11
client of it told what a Wayland session tells programs (desktops.Desktop does the rest)."""

import os
import re
import shutil
import subprocess

from desktops import START_TIMEOUT, X11, Desktop
from checks import log
from harness import wait_for


class Weston(Desktop):
    """A Wayland session: weston 10 (desktop shell with its panel, pixman renderer) with
    Xwayland. weston runs on its X11 backend, as a window filling a private Xvfb: that
    gives it a seat with a keyboard, so windows get the focus and keys reach them (the
    headless backend has no seat: no window is ever activated and no key is delivered).
    Input goes through the outer Xvfb; pictures are of weston's output there."""

    label = "Wayland: weston + Xwayland"
    programs = ("Xvfb", "weston", "Xwayland")
    wayland = True
    emulated_modes = False  # weston 10 sizes a full-screen X window to its real output
    frame_shadow = 32  # the theme's margin around the frames it draws for X windows
    iconifies = False  # its X window manager ignores a client's request to minimise

    def start(self):
        self.start_xvfb()
        self.outer = dict(self.env)
        # weston draws the pointer into its output: keep it clear of every stage corner.
        subprocess.run(["xdotool", "mousemove", str(self.size[0] - 1), str(self.size[1] // 2)],
                       env=self.outer, timeout=20, check=True)
        self.launch(["weston", "--backend=x11-backend.so", "--use-pixman", "--xwayland", "--socket=wayland-lf", "--width=%d" % self.size[0],
                     "--height=%d" % self.size[1], "--idle-time=0"], env=self.outer)
        # weston takes the first free X display for Xwayland; it names it in its log.
        number = wait_for(lambda: re.search(r"xserver listening on display (:\d+)", self.log("weston")),
                          START_TIMEOUT, 0.1, what="weston's X display").group(1)
        socket = os.path.join(self.runtime, "wayland-lf")
        # What a Wayland session tells its programs; Qt would pick its Wayland platform.
        self.host_env = {"WAYLAND_DISPLAY": socket, "XDG_SESSION_TYPE": "wayland"}
        self.use_display(number)
        self.env["WAYLAND_DISPLAY"] = socket
        wait_for(self.has_wm, START_TIMEOUT, 0.1, what="weston's X window manager")

    def activate(self, wid):
        """weston's X window manager ignores _NET_ACTIVE_WINDOW (a taskbar's request): the
        player clicks the window instead, once it is on the screen, through weston's own
        input (the outer display), at the middle of its right edge, where neither a report's
        buttons nor another window lie; and again if weston did not take the click (a loaded
        machine). The pointer then goes back to its place clear of the stage's corners."""
        wait_for(lambda: self.map_state(wid) == "IsViewable", START_TIMEOUT, 0.1,
                 what="the window 0x%x on the screen" % wid)
        park = [str(self.size[0] - 1), str(self.size[1] // 2)]
        for _ in range(3):
            x, y, w, h = self.geometry(wid)
            subprocess.run(["xdotool", "mousemove", str(x + w - 3), str(y + h // 2), "click", "1",
                            "mousemove"] + park, env=self.outer, timeout=20, check=True)
            try:
                return wait_for(lambda: self.active_window() == wid, 3, 0.05)
            except AssertionError:
                pass

    def screenshot(self):
        return subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=self.outer,
                              capture_output=True, timeout=30, check=True).stdout


class MutterWayland(Desktop):
    """GNOME's own compositor as a Wayland session: mutter --wayland --headless with a
    virtual monitor and Xwayland. Mutter alone offers no screenshot (that is
    gnome-shell's), so the pixels checked are those of the host's own X window."""

    label = "Wayland: mutter --headless + Xwayland"
    programs = ("mutter", "Xwayland")
    wayland = True

    def start(self):
        self.start_dbus()  # mutter needs it from the start
        self.launch(["mutter", "--wayland", "--headless", "--sm-disable", "--virtual-monitor", "%dx%d" % self.size, "--wayland-display=wayland-lf"],
                    env=self.env)
        number = wait_for(lambda: re.search(r"Using public X11 display (:\d+)", self.log("mutter")),
                          START_TIMEOUT, 0.1, what="mutter's X display").group(1)
        # Mutter's Xwayland admits only clients with the cookie it wrote.
        auth = wait_for(lambda: [f for f in os.listdir(self.runtime) if f.startswith(".mutter-Xwaylandauth")],
                        START_TIMEOUT, 0.1, what="mutter's Xauthority file")[0]
        socket = os.path.join(self.runtime, "wayland-lf")
        self.base_env["XAUTHORITY"] = os.path.join(self.runtime, auth)
        self.use_display(number)
        self.env["WAYLAND_DISPLAY"] = socket
        # A session that asks Qt for its Wayland platform by name, as some desktops do.
        self.host_env = {"WAYLAND_DISPLAY": socket, "XDG_SESSION_TYPE": "wayland",
                         "QT_QPA_PLATFORM": "wayland"}
        wait_for(self.has_wm, START_TIMEOUT, 0.1, what="mutter's X window manager")
        # mutter names its primary monitor to Xwayland a moment after its window manager is
        # up (mutter 48 on a loaded machine: after the scenario had read the desktop's outputs).
        wait_for(lambda: any(o["primary"] for o in self.outputs().values()), START_TIMEOUT, 0.1,
                 what="mutter's primary output on Xwayland")

    screenshot = None


class KWinWayland(Desktop):
    """Plasma 6's default session: kwin_wayland on its virtual (headless) backend with
    Xwayland. Its seat has a keyboard, so windows are activated and XTest keys reach them.
    The pixels checked are those of the host's own X window."""

    label = "Wayland: kwin_wayland --virtual + Xwayland"
    programs = ("kwin_wayland", "Xwayland")
    wayland = True
    emulated_modes = False  # kwin sizes a full-screen X window to its real output
    screenshot = None

    def start(self):
        self.start_dbus()
        # kwin starts Xwayland itself and tells the display only to the programs of its
        # session: its one program writes its environment down and waits.
        told = os.path.join(self.root, "session.env")
        args = ["--virtual", "--xwayland", "--no-lockscreen", "--no-global-shortcuts",
                "--width", str(self.size[0]), "--height", str(self.size[1]), "--socket", "wayland-lf",
                "--exit-with-session",
                "sh -c 'env >%s.part && mv %s.part %s && exec sleep 100000'" % (told, told, told)]
        program = shutil.which("kwin_wayland")
        try:
            self.launch([program] + args, env=self.env)
        except PermissionError:
            # The program carries a file capability (Debian 12: cap_sys_resource, 13:
            # cap_sys_nice, for its own limits and priority); where the machine's bounding set
            # lacks it (a container) exec fails. A copy carries none.
            log("%s: %s cannot be run here with its file capability; running a copy without it"
                % (self.label, program))
            copy = os.path.join(self.root, "kwin_wayland")
            shutil.copy(program, copy)
            self.launch([copy] + args, env=self.env)

        wait_for(lambda: os.path.exists(told), START_TIMEOUT, 0.1, what="kwin_wayland's session")
        with open(told) as f:
            session = dict(line.split("=", 1) for line in f.read().splitlines() if "=" in line)
        if session.get("XAUTHORITY"):
            self.base_env["XAUTHORITY"] = session["XAUTHORITY"]
        socket = os.path.join(self.runtime, "wayland-lf")
        self.use_display(session["DISPLAY"])
        self.env["WAYLAND_DISPLAY"] = socket
        self.host_env = {"WAYLAND_DISPLAY": socket, "XDG_SESSION_TYPE": "wayland"}
        wait_for(self.has_wm, START_TIMEOUT, 0.1, what="kwin's X window manager")


ALL = dict(X11, weston=Weston, mutter_wayland=MutterWayland, kwin_wayland=KWinWayland)
for _key, _desktop in ALL.items():
    _desktop.key = _key  # its name in the matrix: tests, screenshots, known faults
