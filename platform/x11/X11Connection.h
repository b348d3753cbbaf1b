#pragma once
// Qt's own connection to the X server, for the X11 services that work on the windows and
// the display Qt shows; null when Qt does not run on X11.
// Xlib itself is left to the including file: its macros clash with Qt's widget headers
// when it comes first.
#include <QGuiApplication>

typedef struct _XDisplay Display;

namespace platform {

inline Display *QtDisplay()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

} // namespace platform
