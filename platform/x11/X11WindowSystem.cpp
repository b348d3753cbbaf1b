#include "platform/x11/X11WindowSystem.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11SizeFollower.h"

#include <QScreen>
#include <QVariant>
#include <QWidget>

#include "platform/x11/X11DisplayModes.h"
#include "platform/x11/QtScreenPixels.h"
#include "platform/x11/X11Ewmh.h"
#include "platform/x11/X11WindowWatch.h"

#include <X11/Xutil.h>

namespace platform {
namespace {

using pixels::ScreenAt;
using pixels::ToDevice;
using pixels::ToLogical;

constexpr char StyleProperty[] = "lanternfallWindowStyle";
constexpr char DecoratedFrameProperty[] = "lanternfallDecoratedFrame";
constexpr char DecorationsProperty[] = "lanternfallDecorations"; // as last applied

// A new window is mapped after the window manager has framed it; the first map of a
// session can take longer.
constexpr int MapWaitMs = 1500;

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

X11WindowSystem::X11WindowSystem() = default;
X11WindowSystem::~X11WindowSystem() = default;

X11SizeFollower *X11WindowSystem::Follower(QWidget *window)
{
    Display *d = QtDisplay();
    if (!d)
        return nullptr;
    if (!sizeFollower_)
        sizeFollower_ = std::make_unique<X11SizeFollower>(
            window, uint32_t(XInternAtom(d, "_NET_FRAME_EXTENTS", False)));
    return sizeFollower_.get();
}

void X11WindowSystem::FollowClientSize(QWidget *window, std::function<void()> changed)
{
    if (X11SizeFollower *follower = Follower(window))
        follower->OnSizeChanged(std::move(changed));
}

void X11WindowSystem::FollowFrame(QWidget *window, std::function<void()> changed)
{
    if (X11SizeFollower *follower = Follower(window))
        follower->OnFrameChanged(std::move(changed));
}

uint32_t X11WindowSystem::GetWindowStyle(QWidget *window)
{
    const QVariant style = window->property(StyleProperty);
    return style.isValid() ? style.toUInt() : InitialStyle;
}

void X11WindowSystem::SetWindowStyle(QWidget *window, uint32_t style)
{
    window->setProperty(StyleProperty, QVariant::fromValue(style));
}

void X11WindowSystem::SetHomeOutput(QWidget *, const QRect &output)
{
    home_ = output;
}

X11WindowWatch *X11WindowSystem::Watch(QWidget *window)
{
    Display *qt = QtDisplay();
    if (!qt)
        return nullptr;
    if (!watch_) {
        watch_ = std::make_unique<X11WindowWatch>(QByteArray(DisplayString(qt)));
        if (!watch_->display()) {
            watch_.reset();
            return nullptr;
        }
    }
    XSync(qt, False); // what Qt asked for (a map, a state change) reaches the server first
    // The waits below block this thread, so the window cannot answer the window manager's
    // requests to synchronise a resize meanwhile; a window manager that waits for that
    // answer would hold every change until it gives up.
    if (watch_->Watch(Window(window->winId())))
        ewmh::DropSyncRequests(watch_->display(), watch_->watched());
    return watch_.get();
}

void X11WindowSystem::FrameChanged(QWidget *window)
{
    X11WindowWatch *watch = Watch(window);
    if (!watch)
        return;
    Display *d = watch->display();
    const Window w = watch->watched();
    const bool decorated = Decorated(GetWindowStyle(window));
    const bool mapped = ewmh::Viewable(d, w);
    const ewmh::WindowManager wm = ewmh::ReadWindowManager(d);
    fullScreenWm_ = wm.Supports(d, FullScreenState);
    fullScreenMonitors_ = wm.Supports(d, "_NET_WM_FULLSCREEN_MONITORS");
    const bool extentsKept = wm.Supports(d, "_NET_FRAME_EXTENTS");
    const bool fullScreenNow = window->windowState() & Qt::WindowFullScreen;
    if (!decorated && mapped && !fullScreenNow) // the frame about to go is the one to come back
        RememberDecoratedFrame(window, FrameExtents(window, true));

    // Decorations go only where there is no full-screen state: in it, every window manager
    // measured draws none, and keeping the hint spares the window a reframing (mutter
    // unframes an undecorated window, and then Xwayland no longer tells it the size of a mode
    // change it emulates for the game) and a title bar missing on the way back (weston reads
    // the hint again only after it has framed the window for window mode).
    const bool decorations = decorated || fullScreenWm_;
    const QVariant applied = window->property(DecorationsProperty);
    const bool hadDecorations = !applied.isValid() || applied.toBool();
    watch->Mark();
    if (decorations != hadDecorations || !applied.isValid()) {
        ewmh::SetDecorations(d, w, decorations);
        window->setProperty(DecorationsProperty, decorations);
    }
    const bool frameChanges =
        mapped && wm.runs && extentsKept && (decorations != hadDecorations || fullScreenNow);

    if (decorated) {
        ewmh::SetBypassCompositor(d, w, false);
        // A window manager that has not yet seen the desktop's mode come back fits the
        // decorated window to the stage-sized screen it still believes in (kwin: 800x559).
        if (mapped && wm.runs)
            watch->WaitUntil([&] { return ewmh::DesktopGeometryFollowsScreen(d); },
                             WindowManagerWaitMs);
        // Out of the full-screen state, and out of a maximised state that a window manager
        // may have given a window as large as the screen it was mapped on.
        const Qt::WindowStates states = window->windowState();
        if (states & (Qt::WindowFullScreen | Qt::WindowMaximized))
            window->setWindowState(states & ~(Qt::WindowFullScreen | Qt::WindowMaximized));
        XSync(QtDisplay(), False);
        if (!mapped || !wm.runs)
            return;
        // The frame is back when the window manager has set its extents again (they are
        // zero in the full-screen state).
        watch->WaitUntil(
            [&] {
                return !ewmh::HasState(d, w, FullScreenState)
                       && !ewmh::HasState(d, w, "_NET_WM_STATE_MAXIMIZED_VERT")
                       && !ewmh::HasState(d, w, "_NET_WM_STATE_MAXIMIZED_HORZ")
                       && (!frameChanges || watch->Changed("_NET_FRAME_EXTENTS"));
            },
            WindowManagerWaitMs);
        if (watch->Changed("_NET_FRAME_EXTENTS"))
            RememberDecoratedFrame(window, FrameExtents(window));
        return;
    }
    if (fullScreenWm_) {
        ewmh::SetBypassCompositor(d, w, true);
        if (mapped) {
            CoverHomeOutput(window, watch);
        } else {
            // The window manager maps the window in its full-screen state, on the monitor
            // that holds the window's geometry: on the output, but not as large as it (a
            // window manager takes a window mapped at the size of the screen for a
            // maximised one, and gives it that size back later).
            if (!home_.isEmpty())
                window->setGeometry(ToLogical(QRect(home_.topLeft(), home_.size() / 2)));
            window->setWindowState(window->windowState() | Qt::WindowFullScreen);
        }
        return;
    }
    // No full-screen state: the frame goes, and the host places the window itself.
    XSync(QtDisplay(), False);
    if (frameChanges)
        watch->WaitUntil([&] { return watch->Changed("_NET_FRAME_EXTENTS"); },
                         WindowManagerWaitMs);
}

bool X11WindowSystem::WaitUntilMapped(QWidget *window, X11WindowWatch *watch)
{
    if (!window->isVisible())
        return false;
    return watch->WaitUntil([&] { return ewmh::Viewable(watch->display(), watch->watched()); },
                            MapWaitMs);
}

QMargins X11WindowSystem::FrameExtents(QWidget *window)
{
    return FrameExtents(window, false);
}

QMargins X11WindowSystem::FrameExtents(QWidget *window, bool beforeStyleChange)
{
    Display *d = QtDisplay();
    if (!d || !window->internalWinId() || HeldByWindowManager(window)
        || (!beforeStyleChange && !Decorated(GetWindowStyle(window))))
        return {};
    return ewmh::FrameExtentsProperty(d, Window(window->internalWinId())).value_or(QMargins());
}

QMargins X11WindowSystem::DecoratedFrameExtents(QWidget *window)
{
    X11WindowWatch *watch = Watch(window);
    if (!watch)
        return {};
    Display *d = watch->display();
    const Window w = watch->watched();
    const bool mapped = ewmh::Viewable(d, w);
    if (mapped)
        RememberDecoratedFrame(window, FrameExtents(window));
    const QVariant known = window->property(DecoratedFrameProperty);
    if (known.isValid())
        return known.value<QMargins>();
    if (mapped || !Decorated(GetWindowStyle(window))
        || !ewmh::ReadWindowManager(d).Supports(d, "_NET_REQUEST_FRAME_EXTENTS"))
        return {};

    // Not mapped yet: ask the window manager what it would add (EWMH).
    watch->Mark();
    ewmh::RequestFrameExtents(d, w);
    XFlush(d);
    watch->WaitUntil([&] { return watch->Changed("_NET_FRAME_EXTENTS"); }, WindowManagerWaitMs);
    const QMargins frame = ewmh::FrameExtentsProperty(d, w).value_or(QMargins());
    RememberDecoratedFrame(window, frame);
    return frame;
}

bool X11WindowSystem::HeldByWindowManager(QWidget *window)
{
    return fullScreenWm_ && !Decorated(GetWindowStyle(window))
           && (window->windowState() & Qt::WindowFullScreen);
}

bool X11WindowSystem::Iconic(QWidget *window)
{
    Display *d = QtDisplay();
    if (!d || !window->internalWinId())
        return window->isMinimized();
    const Atom wmState = XInternAtom(d, "WM_STATE", False);
    const auto state = ewmh::ReadLongs(d, Window(window->internalWinId()), "WM_STATE", wmState, 1);
    return state && (*state)[0] == IconicState;
}

QRect X11WindowSystem::ClientGeometry(QWidget *window)
{
    Display *d = QtDisplay();
    if (d && window->internalWinId()) {
        const Window w = Window(window->internalWinId());
        if (ewmh::Viewable(d, w))
            if (const auto client = ewmh::ClientRect(d, w))
                return *client;
    }
    return ToDevice(window->geometry());
}

void X11WindowSystem::ResizeClient(QWidget *window, const QSize &size)
{
    if (HeldByWindowManager(window))
        return;
    X11WindowWatch *watch = Watch(window);
    if (!watch || !ewmh::Viewable(watch->display(), watch->watched())) {
        window->resize(ToLogical(QRect(ClientGeometry(window).topLeft(), size)).size());
        return;
    }
    Display *d = watch->display();
    const Window w = watch->watched();
    const QSize before = ClientGeometry(window).size();
    watch->Mark();
    {
        X11ErrorTrap trap(d);
        XResizeWindow(d, w, unsigned(qMax(1, size.width())), unsigned(qMax(1, size.height())));
    }
    // The size asked for, or another new size of the window manager's choosing (it may
    // round the size to the steps the toolkit asks for at a high scale).
    watch->WaitUntil(
        [&] {
            const auto client = ewmh::ClientRect(d, w);
            const QSize answer = watch->Configured();
            return (client && client->size() == size) || (answer.isValid() && answer != before);
        },
        WindowManagerWaitMs);
}

void X11WindowSystem::MoveTo(QWidget *window, int x, int y)
{
    X11WindowWatch *watch = Watch(window);
    if (!watch) {
        window->move(ToLogical(QRect(x, y, 1, 1)).topLeft());
        return;
    }
    Display *d = watch->display();
    const Window w = watch->watched();
    if (HeldByWindowManager(window)) {
        // Shown a moment ago, or brought back: mapped by now, and on its home output.
        if (!ewmh::Viewable(d, w) && !WaitUntilMapped(window, watch))
            return;
        if (watch->WaitUntil([&] { return CoversHomeOutput(window, watch); },
                             WindowManagerWaitMs))
            FitEmulatedMode(window, watch);
        else
            CoverHomeOutput(window, watch);
        return;
    }
    if (!ewmh::Viewable(d, w)) {
        // The window manager places it when it is mapped, from Qt's position.
        window->move(ToLogical(QRect(x, y, 1, 1)).topLeft());
        return;
    }
    const QPoint wanted(x, y);
    RequestMove(window, watch, wanted);
    watch->WaitUntil([&] { return OuterPosition(window) == wanted; }, WindowManagerWaitMs);
}

void X11WindowSystem::AskToMove(QWidget *window, int x, int y)
{
    X11WindowWatch *watch = Watch(window);
    if (watch && !HeldByWindowManager(window) && ewmh::Viewable(watch->display(), watch->watched()))
        RequestMove(window, watch, QPoint(x, y));
}

void X11WindowSystem::RequestMove(QWidget *window, X11WindowWatch *watch, const QPoint &outer)
{
    // The window manager reads the position through the window's gravity (static, as Qt
    // sets it: the client's own corner; north-west: the frame's corner).
    Display *d = watch->display();
    const Window w = watch->watched();
    const QMargins frame = FrameExtents(window);
    const QPoint client = ewmh::WinGravity(d, w) == StaticGravity
                              ? outer + QPoint(frame.left(), frame.top())
                              : outer;
    X11ErrorTrap trap(d);
    XMoveWindow(d, w, client.x(), client.y());
}

QRect X11WindowSystem::WorkArea()
{
    Display *d = QtDisplay();
    return d ? ewmh::WorkArea(d) : QRect();
}

qreal X11WindowSystem::ScaleAt(const QPoint &point)
{
    const QScreen *screen = ScreenAt(point);
    return screen ? screen->devicePixelRatio() : 1.0;
}

QPoint X11WindowSystem::OuterPosition(QWidget *window)
{
    const QRect client = ClientGeometry(window);
    const QMargins frame = FrameExtents(window);
    return client.topLeft() - QPoint(frame.left(), frame.top());
}

} // namespace platform
