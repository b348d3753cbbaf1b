#pragma once
// Waiting for the window manager without putting the user-interface thread to sleep.
//
// Qt reads the events of its own X connection on a thread of its own, so a wait on that
// connection could never see them. A watch opens a second connection to the same server and
// selects, on it, the structure and property events of one window and the property events
// of the root window (each client has its own event mask: Qt's are untouched). A wait tests
// its condition against the server, then blocks in poll() on this connection until the next
// event arrives, and tests again, up to a deadline: it returns as soon as the window manager
// has answered, and never later than the bound.
//
// Include after Qt's widget headers: Xlib's macros clash with them.
#include <QByteArray>
#include <QList>
#include <QSize>

#include <X11/Xlib.h>

#include <functional>

namespace platform {

class X11WindowWatch {
public:
    // Connects to the named display; display() is null when that fails.
    explicit X11WindowWatch(const QByteArray &displayName);
    ~X11WindowWatch();
    X11WindowWatch(const X11WindowWatch &) = delete;
    X11WindowWatch &operator=(const X11WindowWatch &) = delete;

    Display *display() const { return display_; }
    // Watches this window from now on (and no longer the one before); true when it is
    // another window than before.
    bool Watch(Window window);
    Window watched() const { return window_; }

    // Forgets the property changes seen so far.
    void Mark();
    // The property (of the watched window or the root) changed since the last Mark().
    bool Changed(const char *property);
    // The size the watched window was last configured to (a ConfigureNotify) since the last
    // Mark(); empty when it was not.
    QSize Configured();

    // Waits until condition() holds, testing it now and after each event, for at most
    // timeoutMs. True when it held.
    bool WaitUntil(const std::function<bool()> &condition, int timeoutMs);

private:
    void Drain();

    Display *display_ = nullptr;
    Window window_ = 0;
    QList<Atom> changed_;
    QSize configured_;
};

} // namespace platform
