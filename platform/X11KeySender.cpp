#include "platform/X11KeySender.h"
#include "platform/X11Connection.h"

#include <QGuiApplication>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace platform {

bool X11KeySender::SendSpaceAndBackspace()
{
    Display *display = QtDisplay();
    if (!display)
        return false;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor))
        return false;
    bool sent = true;
    for (KeySym sym : {KeySym(XK_space), KeySym(XK_BackSpace)}) {
        const KeyCode code = XKeysymToKeycode(display, sym);
        if (code == 0) {
            sent = false;
            continue;
        }
        sent = XTestFakeKeyEvent(display, code, True, CurrentTime) && sent;
        sent = XTestFakeKeyEvent(display, code, False, CurrentTime) && sent;
    }
    // Returns once the server has processed the keys.
    XSync(display, False);
    return sent;
}

} // namespace platform
