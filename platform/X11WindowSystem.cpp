#include "platform/X11WindowSystem.h"
#include "platform/X11Connection.h"

#include "platform/X11DisplayModes.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QVariant>
#include <QWidget>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <optional>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

constexpr char StyleProperty[] = "lanternfallWindowStyle";
constexpr char DecoratedFrameProperty[] = "lanternfallDecoratedFrame";

// _MOTIF_WM_HINTS: flags, functions, decorations, input mode, status.
constexpr long MwmHintsDecorations = 1L << 1;
constexpr long MwmDecorAll = 1L << 0;

// How long the window manager gets to answer a change: it answers in a few milliseconds;
// the bound only keeps a window manager that ignores the request from stalling the host.
constexpr int WindowManagerWaitMs = 500;
constexpr int MoveTries = 3; // the window manager may answer with a frame change between

template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (condition())
            return true;
        if (timer.elapsed() >= timeoutMs)
            return false;
        ::usleep(5000);
    }
}

std::optional<std::vector<long>> ReadLongs(Display *d, Window w, const char *name, Atom type,
                                            long count)
{
    const Atom atom = XInternAtom(d, name, True);
    if (atom == None)
        return std::nullopt;
    Atom actualType = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    X11ErrorTrap trap(d);
    const int status = XGetWindowProperty(d, w, atom, 0, count, False, type, &actualType,
                                          &format, &items, &after, &data);
    std::optional<std::vector<long>> result;
    if (status == Success && !trap.Failed() && data && format == 32
        && items >= (unsigned long)count) {
        const long *values = reinterpret_cast<const long *>(data); // Xlib widens format 32
        result.emplace(values, values + count);
    }
    if (data)
        XFree(data);
    return result;
}

std::optional<QMargins> NetFrameExtents(Display *d, Window w)
{
    const auto v = ReadLongs(d, w, "_NET_FRAME_EXTENTS", XA_CARDINAL, 4);
    if (!v)
        return std::nullopt;
    return QMargins(int((*v)[0]), int((*v)[2]), int((*v)[1]), int((*v)[3])); // l, t, r, b
}

bool WindowManagerRuns(Display *d)
{
    return ReadLongs(d, DefaultRootWindow(d), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, 1)
        .has_value();
}

bool Viewable(Display *d, Window w)
{
    XWindowAttributes attributes{};
    X11ErrorTrap trap(d);
    return XGetWindowAttributes(d, w, &attributes) && !trap.Failed()
           && attributes.map_state == IsViewable;
}

// The outer top-left corner (the window manager's frame included) as the server has it.
std::optional<QPoint> OuterTopLeft(Display *d, Window w)
{
    int x = 0, y = 0;
    Window child = None;
    X11ErrorTrap trap(d);
    if (!XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x, &y, &child)
        || trap.Failed())
        return std::nullopt;
    const QMargins frame = NetFrameExtents(d, w).value_or(QMargins());
    return QPoint(x - frame.left(), y - frame.top());
}

int WinGravity(Display *d, Window w)
{
    XSizeHints hints{};
    long supplied = 0;
    if (XGetWMNormalHints(d, w, &hints, &supplied) && (hints.flags & PWinGravity))
        return hints.win_gravity;
    return NorthWestGravity;
}

bool Decorated(uint32_t style)
{
    return (style & X11WindowSystem::CaptionBits) == X11WindowSystem::CaptionBits;
}

void RememberDecoratedFrame(QWidget *window, const QMargins &frame)
{
    if (!frame.isNull())
        window->setProperty(DecoratedFrameProperty, QVariant::fromValue(frame));
}

} // namespace

uint32_t X11WindowSystem::GetWindowStyle(QWidget *window)
{
    const QVariant style = window->property(StyleProperty);
    return style.isValid() ? style.toUInt() : InitialStyle;
}

void X11WindowSystem::SetWindowStyle(QWidget *window, uint32_t style)
{
    window->setProperty(StyleProperty, QVariant::fromValue(style));
}

void X11WindowSystem::FrameChanged(QWidget *window)
{
    Display *d = QtDisplay();
    if (!d)
        return;
    const Window w = Window(window->winId());
    const bool decorated = Decorated(GetWindowStyle(window));
    // Where the outer corner is now, while the window is shown.
    const auto corner = Viewable(d, w) ? OuterTopLeft(d, w) : std::nullopt;
    const bool shown = corner.has_value();
    const QPoint outerBefore = corner.value_or(QPoint());
    if (!decorated) // the frame about to go is the one to come back with the title bar
        RememberDecoratedFrame(window, NetFrameExtents(d, w).value_or(QMargins()));

    const Atom hintsAtom = XInternAtom(d, "_MOTIF_WM_HINTS", False);
    // Keep what Qt put into the other fields (the functions the window manager offers).
    std::vector<long> hints =
        ReadLongs(d, w, "_MOTIF_WM_HINTS", hintsAtom, 5).value_or(std::vector<long>(5, 0));
    hints[0] |= MwmHintsDecorations;
    hints[2] = decorated ? MwmDecorAll : 0;
    {
        X11ErrorTrap trap(d);
        XChangeProperty(d, w, hintsAtom, hintsAtom, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(hints.data()), 5);
    }

    // A mapped window under a window manager that keeps _NET_FRAME_EXTENTS is re-framed
    // asynchronously; wait for it so that the size and place set next use the new frame.
    if (!Viewable(d, w) || !WindowManagerRuns(d) || !NetFrameExtents(d, w))
        return;
    WaitFor(
        [&] {
            const QMargins frame = NetFrameExtents(d, w).value_or(QMargins());
            return decorated ? !frame.isNull() : frame.isNull();
        },
        WindowManagerWaitMs);
    if (decorated)
        RememberDecoratedFrame(window, NetFrameExtents(d, w).value_or(QMargins()));
    // A frame change keeps the window's outer corner where it was (the client area moves
    // inside it); the window manager, going by the client's static gravity, would instead
    // grow the frame out around the client, off the screen's edge at 0,0.
    if (shown && OuterTopLeft(d, w) != outerBefore)
        MoveTo(window, outerBefore.x(), outerBefore.y());
}

QMargins X11WindowSystem::FrameExtents(QWidget *window)
{
    Display *d = QtDisplay();
    if (!d || !window->internalWinId())
        return {};
    return NetFrameExtents(d, Window(window->internalWinId())).value_or(QMargins());
}

QMargins X11WindowSystem::DecoratedFrameExtents(QWidget *window)
{
    Display *d = QtDisplay();
    if (!d)
        return {};
    const Window w = Window(window->winId());
    if (Decorated(GetWindowStyle(window)))
        RememberDecoratedFrame(window, NetFrameExtents(d, w).value_or(QMargins()));
    const QVariant known = window->property(DecoratedFrameProperty);
    if (known.isValid())
        return known.value<QMargins>();
    if (Viewable(d, w) || !Decorated(GetWindowStyle(window)) || !WindowManagerRuns(d))
        return {};

    // Not mapped yet: ask the window manager what it would add (EWMH).
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = w;
    request.xclient.message_type = XInternAtom(d, "_NET_REQUEST_FRAME_EXTENTS", False);
    request.xclient.format = 32;
    XSendEvent(d, DefaultRootWindow(d), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &request);
    XFlush(d);
    QMargins frame;
    WaitFor(
        [&] {
            frame = NetFrameExtents(d, w).value_or(QMargins());
            return !frame.isNull();
        },
        WindowManagerWaitMs);
    RememberDecoratedFrame(window, frame);
    return frame;
}

QPoint X11WindowSystem::OuterPosition(QWidget *window)
{
    Display *d = QtDisplay();
    if (!d || !window->internalWinId() || !Viewable(d, Window(window->internalWinId())))
        return window->frameGeometry().topLeft();
    return OuterTopLeft(d, Window(window->internalWinId())).value_or(window->frameGeometry().topLeft());
}

void X11WindowSystem::MoveTo(QWidget *window, int x, int y)
{
    window->move(x, y); // Qt's own idea of the position follows
    Display *d = QtDisplay();
    if (!d)
        return;
    const Window w = Window(window->winId());
    XSync(d, False);
    if (!Viewable(d, w))
        return; // the window manager places it when it is mapped, from Qt's position
    // Qt's move lands wrong after a frame change (it offsets by the frame it knew before)
    // and is skipped when Qt believes the window is there already. So the client window is
    // moved once more, after Qt's request: the window manager reads the position through
    // the window's gravity (static, as Qt sets it: the client's own corner; north-west: the
    // frame's corner).
    const QPoint wanted(x, y);
    for (int attempt = 0; attempt < MoveTries; ++attempt) {
        const QMargins frame = NetFrameExtents(d, w).value_or(QMargins());
        const QPoint client = WinGravity(d, w) == StaticGravity
                                  ? wanted + QPoint(frame.left(), frame.top())
                                  : wanted;
        {
            X11ErrorTrap trap(d);
            XMoveWindow(d, w, client.x(), client.y());
        }
        if (WaitFor([&] { return OuterTopLeft(d, w) == wanted; }, WindowManagerWaitMs)) {
            // Let Qt learn where the window now is: its next resize request carries the
            // position it believes in, and would otherwise move the window back.
            QElapsedTimer clock;
            clock.start();
            while (window->geometry().topLeft() != client && clock.elapsed() < WindowManagerWaitMs)
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
            return;
        }
    }
}

} // namespace platform
