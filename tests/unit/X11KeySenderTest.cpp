// The keep-awake keys on a private Xvfb: typed into our window only while it is the active
// window and holds the input focus, and never while another client holds the keyboard.
#include <gtest/gtest.h>

#include "platform/x11/X11KeySender.h"

#include "XvfbServer.h"

#include <X11/Xatom.h>
#include <functional>
#include <X11/keysym.h>

using namespace testing_x11;

namespace {

// The key presses that reached a connection's windows since the last look.
QList<KeySym> Presses(Display *d)
{
    XSync(d, False);
    QList<KeySym> keys;
    XEvent e;
    while (XCheckTypedEvent(d, KeyPress, &e))
        keys << XLookupKeysym(&e.xkey, 0);
    return keys;
}

Window MappedWindow(Display *d, Window parent)
{
    const Window w = XCreateSimpleWindow(d, parent, 0, 0, 100, 100, 0, 0, 0);
    XSelectInput(d, w, KeyPressMask);
    XMapWindow(d, w);
    XSync(d, False);
    return w;
}

void SetActiveWindow(Display *d, Window w)
{
    const Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    XChangeProperty(d, DefaultRootWindow(d), active, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(&w), 1);
    XSync(d, False);
}

TEST(X11KeySender, TypesOnlyIntoTheActiveFocusedWindowAndNeverPastAnotherClientsGrab)
{
    if (!XvfbServer::Installed())
        GTEST_SKIP() << "Xvfb is not installed";
    XvfbServer server;
    ASSERT_TRUE(server.Start("640x480x24"));
    Display *ours = XOpenDisplay(server.Name().constData());
    Display *other = XOpenDisplay(server.Name().constData());
    ASSERT_TRUE(ours && other);
    const Window game = MappedWindow(ours, DefaultRootWindow(ours));
    const Window inside = MappedWindow(ours, game);
    const Window elsewhere = MappedWindow(other, DefaultRootWindow(other));
    platform::X11KeySender sender(ours);
    const QList<KeySym> typed{XK_space, XK_BackSpace};

    const auto focus = [&](Window w) {
        XSetInputFocus(other, w, RevertToParent, CurrentTime);
        XSync(other, False);
    };
    struct Step {
        const char *label;
        std::function<void()> make;
        bool types;
    };
    const std::vector<Step> steps = {
        {"focused, no window manager", [&] { focus(game); }, true},
        {"focused, another window active", [&] { SetActiveWindow(other, elsewhere); }, false},
        {"focused, the window manager names no active window",
         [&] { SetActiveWindow(other, None); }, true},
        {"active and focused", [&] { SetActiveWindow(other, game); }, true},
        {"focus inside the window", [&] { focus(inside); }, true},
        {"active, focus elsewhere", [&] { focus(elsewhere); }, false},
        {"another client holds the keyboard",
         [&] {
             focus(game);
             ASSERT_EQ(XGrabKeyboard(other, DefaultRootWindow(other), False, GrabModeAsync,
                                     GrabModeAsync, CurrentTime),
                       GrabSuccess);
         },
         false},
        {"it let go", [&] { XUngrabKeyboard(other, CurrentTime), XSync(other, False); }, true},
    };
    for (const Step &step : steps) {
        step.make();
        Presses(ours), Presses(other);
        EXPECT_EQ(sender.SendSpaceAndBackspaceTo(game), step.types) << step.label;
        EXPECT_EQ(Presses(ours), step.types ? typed : QList<KeySym>{}) << step.label;
        EXPECT_EQ(Presses(other), QList<KeySym>{}) << step.label;
    }
    XCloseDisplay(other);
    XCloseDisplay(ours);
}

} // namespace
