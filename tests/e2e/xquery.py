"""What the X server says about a desktop and its windows, through the X11 tools (xrandr,
xprop, xwininfo, xdpyinfo) and, where no tool does it, Xlib through ctypes."""

import ctypes
import ctypes.util
import os
import re

from harness import idle_ms


def send_client_message(env, wid, message_type, data):
    """Sends a 32-bit ClientMessage to the window on env's display; names in data are
    interned as atoms."""
    xlib = ctypes.CDLL(ctypes.util.find_library("X11"))
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    xlib.XInternAtom.restype = ctypes.c_ulong
    xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    xlib.XFlush.argtypes = xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                    ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                    ("l", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]  # XEvent's size

    display = x_open(xlib, env)
    try:
        atom = lambda v: xlib.XInternAtom(display, v.encode(), 0) if isinstance(v, str) else v
        event = ClientMessage(type=33, display=display, window=wid,  # 33: ClientMessage
                              message_type=atom(message_type), format=32)
        for i, value in enumerate(data):
            event.l[i] = atom(value)
        xlib.XSendEvent(display, wid, 0, 0, ctypes.byref(event))
        xlib.XFlush(display)
    finally:
        xlib.XCloseDisplay(display)


def x_open(xlib, env):
    """An Xlib connection to env's display, with env's X authority."""
    saved = os.environ.get("XAUTHORITY")
    os.environ["XAUTHORITY"] = env.get("XAUTHORITY", "")
    try:
        display = xlib.XOpenDisplay(env["DISPLAY"].encode())
    finally:
        if saved is None:
            del os.environ["XAUTHORITY"]
        else:
            os.environ["XAUTHORITY"] = saved
    if not display:
        raise AssertionError("cannot open the X display %s" % env["DISPLAY"])
    return display


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

    def docks(self):
        return [w for w in self.stacking() if "DOCK" in self.window_type(w)]

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
        send_client_message(self.env, wid, "WM_PROTOCOLS", ["WM_DELETE_WINDOW", 0])
