// The main window in the window manager's full-screen state: covering its home output, and
// under Xwayland fitted to the mode emulated for the game. A part of X11WindowSystem.
#include "platform/x11/X11WindowSystem.h"
#include "platform/x11/X11Connection.h"

#include <QWidget>

#include "platform/x11/X11Ewmh.h"
#include "platform/x11/X11WindowWatch.h"
#include "platform/x11/XwaylandModes.h"

namespace platform {

void X11WindowSystem::CoverHomeOutput(QWidget *window, X11WindowWatch *watch)
{
    Display *d = watch->display();
    const Window w = watch->watched();
    const int monitor = home_.isEmpty() || !fullScreenMonitors_ ? -1 : ewmh::MonitorIndex(d, home_);
    if (monitor >= 0)
        ewmh::RequestFullScreenMonitor(d, w, monitor);
    if (!(window->windowState() & Qt::WindowFullScreen))
        window->setWindowState(window->windowState() | Qt::WindowFullScreen);
    else if (!ewmh::HasState(d, w, FullScreenState))
        ewmh::RequestState(d, w, true, FullScreenState);
    XSync(QtDisplay(), False);
    XFlush(d);
    if (watch->WaitUntil([&] { return CoversHomeOutput(window, watch); }, WindowManagerWaitMs))
        FitEmulatedMode(window, watch);
}

void X11WindowSystem::FitEmulatedMode(QWidget *window, X11WindowWatch *watch)
{
    // Full screen on the real output, larger than the mode this client was given: on
    // Xwayland, the window manager missed the emulated size (see XwaylandModes.h). It is
    // told the size, and the window is fitted into the full-screen state once more, as a
    // switch from window mode would. A window manager that still keeps the real size after
    // two tries ignores the emulation: it is not asked again. weston's, which lists no more
    // than the full-screen state (no monitors hint), is not asked at all: each trip through
    // its full-screen state moves the window by its shadow margin.
    Display *d = watch->display();
    const Window w = watch->watched();
    Display *qt = QtDisplay();
    const std::optional<QRect> client = ewmh::ClientRect(d, w);
    if (failedFits_ >= 2 || !fullScreenMonitors_ || !qt || home_.isEmpty() || !client
        || client->topLeft() != home_.topLeft() || client->size() == home_.size())
        return;
    if (!OnXwayland(watch))
        return;
    if (xwayland::EmulatedSize(d, w, home_.topLeft()) != home_.size()) {
        xwayland::AnnounceModeAgain(qt, home_.topLeft());
        XSync(qt, False);
        if (xwayland::EmulatedSize(d, w, home_.topLeft()) != home_.size())
            return;
    }
    ewmh::RequestState(d, w, false, FullScreenState);
    XFlush(d);
    watch->WaitUntil([&] { return !ewmh::HasState(d, w, FullScreenState); }, WindowManagerWaitMs);
    ewmh::RequestState(d, w, true, FullScreenState);
    XFlush(d);
    watch->WaitUntil([&] { return CoversHomeOutput(window, watch); }, WindowManagerWaitMs);
    // Twice in a row still the real size: the window manager ignores the emulation. Once
    // may be a window manager slower than the wait (a loaded machine).
    const std::optional<QRect> fitted = ewmh::ClientRect(d, w);
    const bool ignored = fitted && ewmh::HasState(d, w, FullScreenState)
                         && fitted->size() != home_.size();
    failedFits_ = ignored ? failedFits_ + 1 : 0;
}

bool X11WindowSystem::CoversHomeOutput(QWidget *, X11WindowWatch *watch)
{
    Display *d = watch->display();
    const Window w = watch->watched();
    if (!ewmh::HasState(d, w, FullScreenState))
        return false;
    const std::optional<QRect> client = ewmh::ClientRect(d, w);
    if (!client)
        return false;
    if (home_.isEmpty())
        return true;
    if (client->topLeft() != home_.topLeft())
        return false;
    if (client->size() == home_.size())
        return true;
    // Larger than the output: under Xwayland's emulation of a mode change, the output as the
    // window manager sees it, larger than the mode this client was given. Anywhere else the
    // window manager has not fitted the window yet: openbox sets the state before it sizes
    // the window, which meanwhile stands at the output's corner as large as in window mode,
    // and kwin first fits it to the screen as it was before the mode change.
    return client->width() >= home_.width() && client->height() >= home_.height()
           && OnXwayland(watch);
}

bool X11WindowSystem::OnXwayland(X11WindowWatch *watch)
{
    if (!xwayland_)
        xwayland_ = xwayland::IsXwayland(watch->display());
    return *xwayland_;
}

} // namespace platform
