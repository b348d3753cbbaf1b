#pragma once
// Xwayland's emulation of a client's mode change, as far as a full-screen window needs it.
//
// On Xwayland a RandR mode change is an emulation for the client that asks: the output keeps
// its real mode, the client reads the new one, and Xwayland scales a window of that client
// to the whole output when the window is full screen at exactly the emulated size. The
// window manager learns that size from `_XWAYLAND_RANDR_EMU_MONITOR_RECTS` (x, y, width,
// height per output), which Xwayland puts on the client's top-level windows when the client
// changes the mode. Two gaps, measured with mutter 43 and Xwayland 22.1:
// - a window that was not yet mapped (and framed) at the mode change never gets the
//   property;
// - the window manager reads it only when it fits a window into the full-screen state, not
//   when it changes: a window already full screen keeps the size it had (the real output).
//
// Include after Qt's widget headers: Xlib's macros clash with them.
#include <QRect>

#include <X11/Xlib.h>

namespace platform::xwayland {

// The server is Xwayland.
bool IsXwayland(Display *d);

// The size Xwayland emulates for the window's client on the output at `origin`, as the
// property on the window tells it; empty when the property names none there.
QSize EmulatedSize(Display *d, Window w, const QPoint &origin);

// Sets the mode the client on `d` already has (its emulated one) once more on the output
// at `origin`, so that Xwayland puts the property on the client's windows as they are now.
// True when the request went through.
bool AnnounceModeAgain(Display *d, const QPoint &origin);

} // namespace platform::xwayland
