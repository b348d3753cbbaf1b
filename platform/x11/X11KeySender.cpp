#include "platform/x11/X11KeySender.h"
#include "platform/x11/X11Connection.h"

#include <QWidget>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <optional>

namespace platform {
namespace {

// True when `inner` is `outer` or lies inside it.
bool WithinWindow(Display *display, Window inner, Window outer)
{
    while (inner != None && inner != PointerRoot) {
        if (inner == outer)
            return true;
        Window root = None, parent = None, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, inner, &root, &parent, &children, &count))
            return false;
        if (children)
            XFree(children);
        if (parent == root)
            return false;
        inner = parent;
    }
    return false;
}

// The window manager's active window; nullopt when it keeps none (no EWMH window manager).
std::optional<Window> ActiveWindow(Display *display)
{
    const Atom property = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    const int status = XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 1,
                                          False, XA_WINDOW, &type, &format, &count, &after, &data);
    std::optional<Window> active;
    if (status == Success && type == XA_WINDOW && format == 32 && count == 1)
        active = *reinterpret_cast<Window *>(data);
    if (data)
        XFree(data);
    return active;
}

// Ignores the errors of the calls made here (a window that went away meanwhile).
int IgnoreErrors(Display *, XErrorEvent *)
{
    return 0;
}

} // namespace

bool X11KeySender::SendSpaceAndBackspace(QWidget *window)
{
    return window && SendSpaceAndBackspaceTo(window->winId());
}

bool X11KeySender::SendSpaceAndBackspaceTo(unsigned long target)
{
    Display *display = display_ ? display_ : QtDisplay();
    if (!display || target == None)
        return false;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor))
        return false;

    XSync(display, False);
    auto *previous = XSetErrorHandler(IgnoreErrors);
    bool sent = false;
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    const std::optional<Window> active = ActiveWindow(display);
    // The grab takes the keyboard for the window alone (events not reported to the focus):
    // the keys reach it even if the focus moves between the check and the typing.
    // A window manager that names no active window (None) does not contradict the focus:
    // kwin now and then leaves it at None after a full-screen switch while the game keeps
    // the focus. Another window named active means the focus is about to move: no keys.
    const Window claimed = active.value_or(target);
    if (WithinWindow(display, focus, target) && (claimed == target || claimed == None) &&
        XGrabKeyboard(display, target, False, GrabModeAsync, GrabModeAsync, CurrentTime) ==
            GrabSuccess) {
        sent = true;
        for (KeySym sym : {KeySym(XK_space), KeySym(XK_BackSpace)}) {
            const KeyCode code = XKeysymToKeycode(display, sym);
            if (code == 0) {
                sent = false;
                continue;
            }
            sent = XTestFakeKeyEvent(display, code, True, CurrentTime) && sent;
            sent = XTestFakeKeyEvent(display, code, False, CurrentTime) && sent;
        }
        XUngrabKeyboard(display, CurrentTime);
    }
    // Returns once the server has processed the keys.
    XSync(display, False);
    XSetErrorHandler(previous);
    return sent;
}

} // namespace platform
