"""What the X server says about a desktop and its windows, through the X11 tools (xrandr,
xprop, xwininfo, xdpyinfo), and through Xlib (ctypes) where no tool does it or where a tool
started per question would be too slow to time with."""

import ctypes
import ctypes.util
import os
import re

from harness import idle_ms


_xlib = None


def xlib():
    """libX11, libXrandr and libXtst through ctypes, with the signatures used here."""
    global _xlib
    if _xlib:
        return _xlib
    x = ctypes.CDLL(ctypes.util.find_library("X11"))
    rr = ctypes.CDLL(ctypes.util.find_library("Xrandr"))
    xt = ctypes.CDLL(ctypes.util.find_library("Xtst"))
    P, U, I = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int
    pi, pu = ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_uint)
    sig = {
        (x, "XOpenDisplay"): ([ctypes.c_char_p], P), (x, "XCloseDisplay"): ([P], I),
        (x, "XDefaultRootWindow"): ([P], U), (x, "XSync"): ([P, I], I), (x, "XFlush"): ([P], I),
        (x, "XInternAtom"): ([P, ctypes.c_char_p, I], U), (x, "XGetAtomName"): ([P, U], ctypes.c_char_p),
        (x, "XGetGeometry"): ([P, U, ctypes.POINTER(U), pi, pi, pu, pu, pu, pu], I),
        (x, "XTranslateCoordinates"): ([P, U, U, I, I, pi, pi, ctypes.POINTER(U)], I),
        (x, "XSendEvent"): ([P, U, I, ctypes.c_long, P], I),
        (x, "XStringToKeysym"): ([ctypes.c_char_p], U), (x, "XKeysymToKeycode"): ([P, U], ctypes.c_ubyte),
        (x, "XSetErrorHandler"): ([P], P), (x, "XGetInputFocus"): ([P, ctypes.POINTER(U), pi], I),
        (rr, "XRRGetMonitors"): ([P, U, I, pi], ctypes.POINTER(Monitor)), (rr, "XRRFreeMonitors"): ([P], None),
        (xt, "XTestFakeKeyEvent"): ([P, ctypes.c_uint, I, U], I),
    }
    for (lib, name), (args, res) in sig.items():
        getattr(lib, name).argtypes, getattr(lib, name).restype = args, res
    _xlib = (x, rr, xt)
    return _xlib


class Monitor(ctypes.Structure):
    _fields_ = [("name", ctypes.c_ulong), ("primary", ctypes.c_int), ("automatic", ctypes.c_int),
                ("noutput", ctypes.c_int), ("x", ctypes.c_int), ("y", ctypes.c_int),
                ("width", ctypes.c_int), ("height", ctypes.c_int), ("mwidth", ctypes.c_int),
                ("mheight", ctypes.c_int), ("outputs", ctypes.c_void_p)]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("l", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]  # XEvent's size


# An X error (a window that is gone) must not end the test: Xlib's default handler exits.
_ignore_errors = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)


class XConnection:
    """One Xlib connection kept open, for what is asked often and must be quick: the time
    to full screen is measured with it, not with a tool started per question."""

    def __init__(self, env):
        self.x, self.rr, self.xt = xlib()
        self.x.XSetErrorHandler(_ignore_errors)
        saved = os.environ.get("XAUTHORITY")
        os.environ["XAUTHORITY"] = env.get("XAUTHORITY", "")
        try:
            self.display = self.x.XOpenDisplay(env["DISPLAY"].encode())
        finally:
            if saved is None:
                del os.environ["XAUTHORITY"]
            else:
                os.environ["XAUTHORITY"] = saved
        if not self.display:
            raise AssertionError("cannot open the X display %s" % env["DISPLAY"])
        self.root = self.x.XDefaultRootWindow(self.display)

    def close(self):
        if self.display:
            self.x.XCloseDisplay(self.display)
            self.display = None

    def atom(self, value):
        return self.x.XInternAtom(self.display, value.encode(), 0) if isinstance(value, str) else value

    def geometry(self, wid):
        """(x, y, width, height) of the window, absolute; None when it is gone."""
        root, child = ctypes.c_ulong(), ctypes.c_ulong()
        x, y, ax, ay = (ctypes.c_int() for _ in range(4))
        w, h, border, depth = (ctypes.c_uint() for _ in range(4))
        if not self.x.XGetGeometry(self.display, wid, ctypes.byref(root), ctypes.byref(x), ctypes.byref(y),
                                   ctypes.byref(w), ctypes.byref(h), ctypes.byref(border), ctypes.byref(depth)):
            return None
        if not self.x.XTranslateCoordinates(self.display, wid, self.root, 0, 0, ctypes.byref(ax),
                                            ctypes.byref(ay), ctypes.byref(child)):
            return None
        return (ax.value, ay.value, w.value, h.value)

    def input_focus(self):
        """The window that holds the X input focus (0: none, 1: pointer root)."""
        focus, revert = ctypes.c_ulong(), ctypes.c_int()
        self.x.XGetInputFocus(self.display, ctypes.byref(focus), ctypes.byref(revert))
        return focus.value

    def monitors(self):
        """The active RandR monitors (one per output in use): name -> (x, y, width, height)."""
        count = ctypes.c_int()
        found = self.rr.XRRGetMonitors(self.display, self.root, 1, ctypes.byref(count))
        try:
            return {self.x.XGetAtomName(self.display, found[i].name).decode():
                    (found[i].x, found[i].y, found[i].width, found[i].height) for i in range(count.value)}
        finally:
            if found:
                self.rr.XRRFreeMonitors(found)

    def key(self, *names):
        """Presses the keys in order and releases them in reverse (XTest), as one chord."""
        codes = [self.x.XKeysymToKeycode(self.display, self.x.XStringToKeysym(n.encode())) for n in names]
        for code in codes:
            self.xt.XTestFakeKeyEvent(self.display, code, 1, 0)
        for code in reversed(codes):
            self.xt.XTestFakeKeyEvent(self.display, code, 0, 0)
        self.x.XSync(self.display, 0)

    def send(self, wid, message_type, data, to_root=False):
        """A 32-bit ClientMessage about the window: to the window itself, or to the root
        for the window manager (EWMH requests). Names in data are interned as atoms."""
        event = ClientMessage(type=33, display=self.display, window=wid,  # 33: ClientMessage
                              message_type=self.atom(message_type), format=32)
        for i, value in enumerate(data):
            event.l[i] = self.atom(value)
        mask = (1 << 19) | (1 << 20) if to_root else 0  # SubstructureNotify | SubstructureRedirect
        self.x.XSendEvent(self.display, self.root if to_root else wid, 0, mask, ctypes.byref(event))
        self.x.XSync(self.display, 0)


def parse_cardinals(text):
    return [int(v) for v in re.findall(r"-?\d+", text.split("=", 1)[1])] if "=" in text else []


class XQueries:
    """Queries of the X server of self.env (self.run runs a tool there): a part of
    desktops.Desktop."""

    _idle = None  # whether the server has MIT-SCREEN-SAVER, once asked

    def outputs(self):
        """The active outputs: name -> dict(x, y, w, h, rate, primary)."""
        found = {}
        current = None
        for line in self.run("xrandr", "--query").splitlines():
            m = re.match(r"(\S+) connected (primary )?(\d+)x(\d+)\+(\d+)\+(\d+)", line)
            if m:
                current = m.group(1)
                found[current] = dict(w=int(m.group(3)), h=int(m.group(4)), x=int(m.group(5)),
                                      y=int(m.group(6)), primary=bool(m.group(2)), rate=None)
            elif re.match(r"\S", line):
                current = None
            elif current and "*" in line:
                rate = re.search(r"([\d.]+)\*", line)
                found[current]["rate"] = float(rate.group(1)) if rate else None
        return found

    def game_output(self, outputs=None):
        """The output that holds the game: the primary one, else the first."""
        outputs = outputs or self.outputs()
        for name, out in outputs.items():
            if out["primary"]:
                return name
        return sorted(outputs)[0]

    def prop(self, name, wid=None):
        where = ["-root"] if wid is None else ["-id", str(wid)]
        return self.run("xprop", *where, name)

    def atoms(self, name, wid=None):
        text = self.prop(name, wid)
        return [a.strip() for a in text.split("=", 1)[1].split(",") if a.strip()] if "=" in text else []

    def work_area(self):
        values = parse_cardinals(self.prop("_NET_WORKAREA"))
        desktop = (parse_cardinals(self.prop("_NET_CURRENT_DESKTOP")) or [0])[0]
        return tuple(values[4 * desktop:4 * desktop + 4]) if len(values) >= 4 * desktop + 4 else None

    def stacking(self):
        """Managed client windows from bottom to top."""
        return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", self.prop("_NET_CLIENT_LIST_STACKING"))]

    def active_window(self):
        found = re.findall(r"0x[0-9a-f]+", self.prop("_NET_ACTIVE_WINDOW"))
        return int(found[0], 16) if found else None

    def frame_extents(self, wid):
        """(left, right, top, bottom) as the window manager announces them, or None."""
        values = parse_cardinals(self.prop("_NET_FRAME_EXTENTS", wid))
        return tuple(values) if len(values) == 4 else None

    def frame_window(self, wid):
        """The top-level window that holds the client: its frame, or itself."""
        while True:
            out = self.run("xwininfo", "-children", "-id", str(wid))
            m_root = re.search(r"Root window id: (0x[0-9a-f]+)", out)
            m_parent = re.search(r"Parent window id: (0x[0-9a-f]+)", out)
            if not m_root or not m_parent:
                return wid
            root = int(m_root.group(1), 16)
            parent = int(m_parent.group(1), 16)
            if parent == root:
                return wid
            wid = parent

    def geometry(self, wid):
        """(x, y, width, height) of a window, absolute, as the X server has it."""
        out = self.run("xwininfo", "-id", str(wid))
        if "Width:" not in out:
            raise AssertionError("the window 0x%x is gone" % wid)
        get = lambda key: int(re.search(key + r":\s+(-?\d+)", out).group(1))
        return (get("Absolute upper-left X"), get("Absolute upper-left Y"), get("Width"), get("Height"))

    def map_state(self, wid):
        m = re.search(r"Map State: (\w+)", self.run("xwininfo", "-id", str(wid)))
        return m.group(1) if m else None

    def iconic(self, wid):
        return "Iconic" in self.prop("WM_STATE", wid) or "_NET_WM_STATE_HIDDEN" in self.atoms("_NET_WM_STATE", wid)

    def idle_seconds(self):
        """The X server's idle time (MIT-SCREEN-SAVER), or None where it has none."""
        if self._idle is None:
            self._idle = "MIT-SCREEN-SAVER" in self.run("xdpyinfo", "-queryExtensions")
        return idle_ms(self.name) / 1000.0 if self._idle else None

    def request_close(self, wid):
        """Asks the window to close, as a window manager's close button does
        (WM_PROTOCOLS / WM_DELETE_WINDOW): no pointer and no key needed."""
        self.xconn().send(wid, "WM_PROTOCOLS", ["WM_DELETE_WINDOW", 0])

    def xconn(self):
        """This desktop's XConnection, opened once."""
        if getattr(self, "_xconn", None) is None:
            self._xconn = XConnection(self.env)
        return self._xconn
