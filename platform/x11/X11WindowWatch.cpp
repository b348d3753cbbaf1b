#include "platform/x11/X11DisplayModes.h"

#include <QElapsedTimer>

#include "platform/x11/X11WindowWatch.h"

#include <poll.h>

namespace platform {

X11WindowWatch::X11WindowWatch(const QByteArray &displayName)
    : display_(XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData()))
{
    if (display_)
        XSelectInput(display_, DefaultRootWindow(display_), PropertyChangeMask);
}

X11WindowWatch::~X11WindowWatch()
{
    if (display_)
        XCloseDisplay(display_);
}

bool X11WindowWatch::Watch(Window window)
{
    if (!display_ || window == window_)
        return false;
    X11ErrorTrap trap(display_);
    if (window_)
        XSelectInput(display_, window_, NoEventMask);
    window_ = window;
    XSelectInput(display_, window_, StructureNotifyMask | PropertyChangeMask);
    return true;
}

void X11WindowWatch::Mark()
{
    Drain();
    changed_.clear();
    configured_ = QSize();
}

QSize X11WindowWatch::Configured()
{
    Drain();
    return configured_;
}

bool X11WindowWatch::Changed(const char *property)
{
    Drain();
    const Atom atom = XInternAtom(display_, property, True);
    return atom != None && changed_.contains(atom);
}

void X11WindowWatch::Drain()
{
    if (!display_)
        return;
    while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == PropertyNotify && !changed_.contains(event.xproperty.atom))
            changed_ << event.xproperty.atom;
        else if (event.type == ConfigureNotify && event.xconfigure.window == window_)
            configured_ = QSize(event.xconfigure.width, event.xconfigure.height);
    }
}

bool X11WindowWatch::WaitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    if (!display_)
        return condition();
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        Drain(); // the events that came with the replies so far
        if (condition())
            return true;
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return false;
        if (QLength(display_) > 0)
            continue; // events read with the condition's replies: test again at once
        pollfd ready{ConnectionNumber(display_), POLLIN, 0};
        ::poll(&ready, 1, int(left));
    }
}

} // namespace platform
