#include "platform/x11/X11DisplayModes.h"

#include "platform/x11/X11Ewmh.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

namespace platform::ewmh {
namespace {

// _MOTIF_WM_HINTS: flags, functions, decorations, input mode, status.
constexpr long MwmHintsDecorations = 1L << 1;
constexpr long MwmDecorAll = 1L << 0;

constexpr long StateRemove = 0, StateAdd = 1;
constexpr long SourceApplication = 1;

void SendToRoot(Display *d, Window w, const char *message, std::initializer_list<long> data)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = XInternAtom(d, message, False);
    event.xclient.format = 32;
    int i = 0;
    for (long value : data)
        event.xclient.data.l[i++] = value;
    X11ErrorTrap trap(d);
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
}

} // namespace

std::optional<std::vector<long>> ReadLongsUpTo(Display *d, Window w, const char *name,
                                                Atom type, long most)
{
    const Atom atom = XInternAtom(d, name, True);
    if (atom == None)
        return std::nullopt;
    Atom actualType = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    X11ErrorTrap trap(d, X11ErrorTrap::Replies);
    const int status = XGetWindowProperty(d, w, atom, 0, most, False, type, &actualType,
                                          &format, &items, &after, &data);
    std::optional<std::vector<long>> result;
    if (status == Success && !trap.Failed() && data && format == 32
        && (type == AnyPropertyType || actualType == type)) {
        const long *values = reinterpret_cast<const long *>(data); // Xlib widens format 32
        result.emplace(values, values + items);
    }
    if (data)
        XFree(data);
    return result;
}

std::optional<std::vector<long>> ReadLongs(Display *d, Window w, const char *name, Atom type,
                                            long count)
{
    auto values = ReadLongsUpTo(d, w, name, type, count);
    if (!values || values->size() < size_t(count))
        return std::nullopt;
    return values;
}

QList<Atom> ReadAtoms(Display *d, Window w, const char *name)
{
    QList<Atom> atoms;
    const Atom atom = XInternAtom(d, name, True);
    if (atom == None)
        return atoms;
    Atom actualType = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    X11ErrorTrap trap(d, X11ErrorTrap::Replies);
    if (XGetWindowProperty(d, w, atom, 0, 4096, False, XA_ATOM, &actualType, &format, &items,
                           &after, &data) == Success
        && !trap.Failed() && data && format == 32) {
        const long *values = reinterpret_cast<const long *>(data);
        for (unsigned long i = 0; i < items; ++i)
            atoms << Atom(values[i]);
    }
    if (data)
        XFree(data);
    return atoms;
}

WindowManager ReadWindowManager(Display *d)
{
    WindowManager wm;
    const auto check = ReadLongs(d, DefaultRootWindow(d), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1);
    if (!check)
        return wm;
    // A window manager that died leaves its property on the root window: the check window
    // must exist and name itself.
    const auto self = ReadLongs(d, Window((*check)[0]), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1);
    wm.runs = self && (*self)[0] == (*check)[0];
    if (wm.runs)
        wm.supported = ReadAtoms(d, DefaultRootWindow(d), "_NET_SUPPORTED");
    return wm;
}

bool WindowManager::Supports(Display *d, const char *hint) const
{
    const Atom atom = XInternAtom(d, hint, True);
    return runs && atom != None && supported.contains(atom);
}

std::optional<QMargins> FrameExtentsProperty(Display *d, Window w)
{
    const auto v = ReadLongs(d, w, "_NET_FRAME_EXTENTS", XA_CARDINAL, 4);
    if (!v)
        return std::nullopt;
    return QMargins(int((*v)[0]), int((*v)[2]), int((*v)[1]), int((*v)[3])); // l, t, r, b
}

void RequestFrameExtents(Display *d, Window w)
{
    SendToRoot(d, w, "_NET_REQUEST_FRAME_EXTENTS", {});
}

bool HasState(Display *d, Window w, const char *state)
{
    const Atom atom = XInternAtom(d, state, True);
    return atom != None && ReadAtoms(d, w, "_NET_WM_STATE").contains(atom);
}

void RequestState(Display *d, Window w, bool add, const char *state)
{
    SendToRoot(d, w, "_NET_WM_STATE",
               {add ? StateAdd : StateRemove, long(XInternAtom(d, state, False)), 0,
                SourceApplication});
}

void RequestFullScreenMonitor(Display *d, Window w, int monitor)
{
    SendToRoot(d, w, "_NET_WM_FULLSCREEN_MONITORS",
               {monitor, monitor, monitor, monitor, SourceApplication});
}

void DropSyncRequests(Display *d, Window w)
{
    const Atom sync = XInternAtom(d, "_NET_WM_SYNC_REQUEST", True);
    QList<Atom> protocols = ReadAtoms(d, w, "WM_PROTOCOLS");
    if (sync == None || !protocols.removeAll(sync))
        return;
    X11ErrorTrap trap(d);
    XSetWMProtocols(d, w, protocols.data(), int(protocols.size()));
}

void SetBypassCompositor(Display *d, Window w, bool bypass)
{
    const Atom atom = XInternAtom(d, "_NET_WM_BYPASS_COMPOSITOR", False);
    X11ErrorTrap trap(d);
    if (bypass) {
        const long on = 1;
        XChangeProperty(d, w, atom, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(&on), 1);
    } else {
        XDeleteProperty(d, w, atom);
    }
}

void SetDecorations(Display *d, Window w, bool decorated)
{
    const Atom atom = XInternAtom(d, "_MOTIF_WM_HINTS", False);
    std::vector<long> hints =
        ReadLongs(d, w, "_MOTIF_WM_HINTS", atom, 5).value_or(std::vector<long>(5, 0));
    hints[0] |= MwmHintsDecorations;
    hints[2] = decorated ? MwmDecorAll : 0;
    X11ErrorTrap trap(d);
    XChangeProperty(d, w, atom, atom, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(hints.data()), 5);
}

QRect WorkArea(Display *d)
{
    const Window root = DefaultRootWindow(d);
    const auto desktop = ReadLongs(d, root, "_NET_CURRENT_DESKTOP", XA_CARDINAL, 1);
    const long index = desktop ? (*desktop)[0] : 0;
    const auto areas = ReadLongs(d, root, "_NET_WORKAREA", XA_CARDINAL, 4 * (index + 1));
    if (!areas)
        return {};
    const long *a = areas->data() + 4 * index;
    return QRect(int(a[0]), int(a[1]), int(a[2]), int(a[3]));
}

bool DesktopGeometryFollowsScreen(Display *d)
{
    const auto geometry = ReadLongs(d, DefaultRootWindow(d), "_NET_DESKTOP_GEOMETRY",
                                    XA_CARDINAL, 2);
    XWindowAttributes root{};
    if (!geometry || !XGetWindowAttributes(d, DefaultRootWindow(d), &root) || root.width <= 0
        || root.height <= 0)
        return true;
    const long w = (*geometry)[0], h = (*geometry)[1];
    return w >= root.width && h >= root.height && w % root.width == 0 && h % root.height == 0;
}

int MonitorIndex(Display *d, const QRect &rect)
{
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(d, &event, &error) || !XRRQueryVersion(d, &major, &minor)
        || (major == 1 && minor < 5))
        return -1;
    int count = 0;
    X11ErrorTrap trap(d, X11ErrorTrap::Replies);
    XRRMonitorInfo *monitors = XRRGetMonitors(d, DefaultRootWindow(d), True, &count);
    int found = -1;
    for (int i = 0; monitors && i < count && found < 0; ++i)
        if (QRect(monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height) == rect)
            found = i;
    if (monitors)
        XRRFreeMonitors(monitors);
    return found;
}

bool Viewable(Display *d, Window w)
{
    XWindowAttributes attributes{};
    X11ErrorTrap trap(d, X11ErrorTrap::Replies);
    return XGetWindowAttributes(d, w, &attributes) && !trap.Failed()
           && attributes.map_state == IsViewable;
}

std::optional<QRect> ClientRect(Display *d, Window w)
{
    XWindowAttributes attributes{};
    int x = 0, y = 0;
    Window child = None;
    X11ErrorTrap trap(d, X11ErrorTrap::Replies);
    if (!XGetWindowAttributes(d, w, &attributes)
        || !XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x, &y, &child)
        || trap.Failed())
        return std::nullopt;
    return QRect(x, y, attributes.width, attributes.height);
}

int WinGravity(Display *d, Window w)
{
    XSizeHints hints{};
    long supplied = 0;
    X11ErrorTrap trap(d, X11ErrorTrap::Replies);
    if (XGetWMNormalHints(d, w, &hints, &supplied) && (hints.flags & PWinGravity))
        return hints.win_gravity;
    return NorthWestGravity;
}

} // namespace platform::ewmh
