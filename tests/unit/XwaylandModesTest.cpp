// The Xwayland helpers against a private Xvfb (not Xwayland, so nothing is emulated): the
// emulated sizes read from the property Xwayland sets, and the mode set once more leaving
// the display as it was.
#include <gtest/gtest.h>

#include "platform/x11/X11DisplayModes.h" // Qt's headers before Xlib's macros

#include "XvfbServer.h"

#include "platform/x11/XwaylandModes.h"

#include <X11/Xatom.h>

using namespace testing_x11;
namespace xwayland = platform::xwayland;

TEST(XwaylandModesTest, ReadsTheEmulatedSizePerOutputAndSetsTheSameModeAgain)
{
    if (!XvfbServer::Installed())
        GTEST_SKIP() << "Xvfb and xrandr are not installed";
    XvfbServer server;
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.GiveRealTimedDesktop());
    Display *d = XOpenDisplay(server.Name().constData());
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(xwayland::IsXwayland(d));

    const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
    const Atom rects = XInternAtom(d, "_XWAYLAND_RANDR_EMU_MONITOR_RECTS", False);
    EXPECT_EQ(xwayland::EmulatedSize(d, w, QPoint(0, 0)), QSize()); // no property
    // Two outputs, as Xwayland writes them: x, y, width, height each (longs for format 32).
    const long values[] = {1920, 0, 640, 480, 0, 0, 800, 600};
    XChangeProperty(d, w, rects, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(values), 8);
    EXPECT_EQ(xwayland::EmulatedSize(d, w, QPoint(0, 0)), QSize(800, 600));
    EXPECT_EQ(xwayland::EmulatedSize(d, w, QPoint(1920, 0)), QSize(640, 480));
    EXPECT_EQ(xwayland::EmulatedSize(d, w, QPoint(0, 600)), QSize());
    // Another type is not Xwayland's word.
    XChangeProperty(d, w, rects, XA_INTEGER, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(values), 8);
    EXPECT_EQ(xwayland::EmulatedSize(d, w, QPoint(0, 0)), QSize());

    const QByteArray before = server.ModeInForce();
    EXPECT_TRUE(xwayland::AnnounceModeAgain(d, QPoint(0, 0)));
    EXPECT_FALSE(xwayland::AnnounceModeAgain(d, QPoint(5, 5))); // no output there
    EXPECT_EQ(server.ModeInForce(), before);
    XCloseDisplay(d);
}
