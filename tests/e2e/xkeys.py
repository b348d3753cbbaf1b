"""Another application for the tests: an X client with a window of its own, named "keys",
that prints "ready" once the window is mapped and then one line per key press it receives
("press KEYCODE")."""

import ctypes
import ctypes.util
import sys

KEY_PRESS, MAP_NOTIFY = 2, 19
KEY_PRESS_MASK, STRUCTURE_NOTIFY_MASK = 1 << 0, 1 << 17


class XKeyEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("root", ctypes.c_ulong),
                ("subwindow", ctypes.c_ulong), ("time", ctypes.c_ulong), ("x", ctypes.c_int),
                ("y", ctypes.c_int), ("x_root", ctypes.c_int), ("y_root", ctypes.c_int),
                ("state", ctypes.c_uint), ("keycode", ctypes.c_uint), ("same_screen", ctypes.c_int)]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xkey", XKeyEvent), ("pad", ctypes.c_long * 24)]


class XClassHint(ctypes.Structure):
    _fields_ = [("res_name", ctypes.c_char_p), ("res_class", ctypes.c_char_p)]


def main():
    x = ctypes.CDLL(ctypes.util.find_library("X11"))
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
        [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
    x.XCreateSimpleWindow.restype = ctypes.c_ulong
    x.XStoreName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_char_p]
    x.XSetClassHint.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(XClassHint)]
    x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
    x.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]

    display = x.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the display")
    window = x.XCreateSimpleWindow(display, x.XDefaultRootWindow(display), 0, 0, 200, 100, 0, 0,
                                   0xFFFFFF)
    x.XStoreName(display, window, b"keys")
    x.XSetClassHint(display, window, ctypes.byref(XClassHint(b"keys", b"Keys")))
    x.XSelectInput(display, window, KEY_PRESS_MASK | STRUCTURE_NOTIFY_MASK)
    x.XMapWindow(display, window)
    event = XEvent()
    ready = False
    while True:
        x.XNextEvent(display, ctypes.byref(event))
        if event.type == MAP_NOTIFY and not ready:
            ready = True
            print("ready", flush=True)
        elif event.type == KEY_PRESS:
            print("press %d" % event.xkey.keycode, flush=True)


if __name__ == "__main__":
    main()
