#include "platform/X11ScreenSaver.h"

#include <QGuiApplication>
#include <X11/Xlib.h>

namespace platform {
namespace {

Display *XDisplay()
{
    if (auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                            : nullptr)
        return x11->display();
    return nullptr;
}

constexpr int DefaultTimeout = 600;

} // namespace

X11ScreenSaver::X11ScreenSaver()
{
    IsActive();
}

bool X11ScreenSaver::IsActive()
{
    Display *display = XDisplay();
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
    Display *display = XDisplay();
    if (!display)
        return false;
    int timeout = 0, interval = 0, blanking = 0, exposures = 0;
    XGetScreenSaver(display, &timeout, &interval, &blanking, &exposures);
    if (timeout > 0)
        knownTimeout_ = timeout;
    const int wanted = active ? (knownTimeout_ > 0 ? knownTimeout_ : DefaultTimeout) : 0;
    XSetScreenSaver(display, wanted, interval, blanking, exposures);
    XSync(display, False);
    return true;
}

} // namespace platform
