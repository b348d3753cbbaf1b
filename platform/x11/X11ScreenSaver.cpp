#include "platform/x11/X11ScreenSaver.h"

#include "platform/Watchdog.h"
#include "platform/x11/X11Connection.h"

#include <QGuiApplication>
#include <X11/Xlib.h>

namespace platform {

X11ScreenSaver::X11ScreenSaver() : ofQt_(true)
{
    IsActive();
}

X11ScreenSaver::X11ScreenSaver(Display *display) : display_(display)
{
    IsActive();
}

Display *X11ScreenSaver::connection() const
{
    return ofQt_ ? QtDisplay() : display_;
}

bool X11ScreenSaver::IsActive()
{
    Display *display = connection();
    if (!display)
        return false;
    int timeout = 0, interval = 0, blanking = 0, exposures = 0;
    XGetScreenSaver(display, &timeout, &interval, &blanking, &exposures);
    if (timeout > 0)
        knownTimeout_ = timeout;
    return timeout > 0;
}

bool X11ScreenSaver::SetActive(bool active)
{
    Display *display = connection();
    if (!display)
        return false;
    int timeout = 0, interval = 0, blanking = 0, exposures = 0;
    XGetScreenSaver(display, &timeout, &interval, &blanking, &exposures);
    if (timeout > 0)
        knownTimeout_ = timeout;
    // A timeout is only ever given back, never made up: a user who runs without the X
    // screen saver (a desktop whose own idle service blanks, or `xset s off`) keeps it off.
    if (active && knownTimeout_ <= 0)
        return false;
    const int wanted = active ? knownTimeout_ : 0;
    // The watchdog learns of the switch-off before it happens, and of the switch-on once it
    // has: at no moment is a timeout of ours left on the server unknown to it.
    if (!active && timeout > 0)
        Watchdog::ScreenSaverTimeoutToRestore(timeout, QByteArray(DisplayString(display)));
    XSetScreenSaver(display, wanted, interval, blanking, exposures);
    XSync(display, False);
    if (active)
        Watchdog::ScreenSaverRestored();
    return true;
}

} // namespace platform
