#pragma once
// Small helpers for the window manager's hints (EWMH, and Motif's decoration hint) and for
// the window's place as the X server has it. Each works on the connection it is given.
//
// Include after Qt's widget headers: Xlib's macros clash with them.
#include <QList>
#include <QMargins>
#include <QRect>

#include <X11/Xlib.h>

#include <optional>
#include <vector>

namespace platform::ewmh {

// `count` 32-bit items of a property (Xlib hands them over as longs); none when the
// property is missing, shorter or of another type.
std::optional<std::vector<long>> ReadLongs(Display *d, Window w, const char *name, Atom type,
                                            long count);
// Up to `most` 32-bit items of a property of any length (none when it is missing or of
// another type).
std::optional<std::vector<long>> ReadLongsUpTo(Display *d, Window w, const char *name,
                                                Atom type, long most);
// The atoms of a list property such as _NET_SUPPORTED or _NET_WM_STATE.
QList<Atom> ReadAtoms(Display *d, Window w, const char *name);

// What the running window manager tells about itself, read in one go.
struct WindowManager {
    bool runs = false;         // one that follows EWMH runs (its check window names itself)
    QList<Atom> supported;     // _NET_SUPPORTED
    // It lists the hint in _NET_SUPPORTED.
    bool Supports(Display *d, const char *hint) const;
};
WindowManager ReadWindowManager(Display *d);

// _NET_FRAME_EXTENTS as the window manager last set it (it may be stale: see the callers).
std::optional<QMargins> FrameExtentsProperty(Display *d, Window w);
// Asks the window manager to set _NET_FRAME_EXTENTS on a window not yet mapped.
void RequestFrameExtents(Display *d, Window w);
// _NET_WM_STATE holds the state (e.g. "_NET_WM_STATE_FULLSCREEN").
bool HasState(Display *d, Window w, const char *state);
// Asks the window manager to add a state to _NET_WM_STATE or to remove it.
void RequestState(Display *d, Window w, bool add, const char *state);
// Asks the window manager to show a full-screen window across this monitor only
// (_NET_WM_FULLSCREEN_MONITORS; the index counts monitors as Xinerama does).
void RequestFullScreenMonitor(Display *d, Window w, int monitor);
// Takes _NET_WM_SYNC_REQUEST out of WM_PROTOCOLS: the window manager then applies a new
// size without waiting for the client to have drawn it (a client that waits for the window
// manager would otherwise wait for itself).
void DropSyncRequests(Display *d, Window w);
// _NET_WM_BYPASS_COMPOSITOR: 1 asks a compositing manager to leave the window alone (a
// full-screen game), the property removed leaves it to the compositor.
void SetBypassCompositor(Display *d, Window w, bool bypass);
// The decorations of _MOTIF_WM_HINTS, keeping what the toolkit put into its other fields.
void SetDecorations(Display *d, Window w, bool decorated);

// _NET_WORKAREA of the current desktop: the root window less the panels' struts. Empty when
// the window manager sets none.
QRect WorkArea(Display *d);
// The window manager's _NET_DESKTOP_GEOMETRY is the screen's size (or a whole multiple of it:
// viewports), or it sets none: it has seen the screen's latest size.
bool DesktopGeometryFollowsScreen(Display *d);
// The monitor's index in the order Xinerama (and so _NET_WM_FULLSCREEN_MONITORS) counts
// them, for the monitor with exactly this rectangle; -1 when none has it.
int MonitorIndex(Display *d, const QRect &rect);

bool Viewable(Display *d, Window w);
// The client area in root coordinates; none when the window is gone.
std::optional<QRect> ClientRect(Display *d, Window w);
// The window gravity of WM_NORMAL_HINTS (north-west when not given).
int WinGravity(Display *d, Window w);

} // namespace platform::ewmh
