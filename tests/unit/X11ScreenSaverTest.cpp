// The X server's screen saver on a private Xvfb: a timeout is switched off and given back,
// and a server that had none is never given one.
#include <gtest/gtest.h>

#include "platform/x11/X11ScreenSaver.h"

#include "XvfbServer.h"

using namespace testing_x11;

namespace {

TEST(X11ScreenSaver, GivesBackTheTimeoutItFoundAndNeverMakesOneUp)
{
    if (!XvfbServer::Installed())
        GTEST_SKIP() << "Xvfb is not installed";
    XvfbServer server;
    ASSERT_TRUE(server.Start("640x480x24"));
    Display *d = XOpenDisplay(server.Name().constData());
    ASSERT_TRUE(d);

    // Off at start (as GNOME's and XFCE's idle services leave it, or `xset s off`).
    XSetScreenSaver(d, 0, 0, DefaultBlanking, DefaultExposures);
    {
        platform::X11ScreenSaver saver(d);
        EXPECT_FALSE(saver.IsActive());
        saver.SetActive(false);
        saver.SetActive(true);
        EXPECT_EQ(ScreenSaverTimeout(d), 0) << "a screen saver the user had off was switched on";
    }

    // On at start: off, then the same timeout back.
    XSetScreenSaver(d, 420, 0, DefaultBlanking, DefaultExposures);
    platform::X11ScreenSaver saver(d);
    EXPECT_TRUE(saver.IsActive());
    EXPECT_TRUE(saver.SetActive(false));
    EXPECT_EQ(ScreenSaverTimeout(d), 0);
    EXPECT_TRUE(saver.SetActive(true));
    EXPECT_EQ(ScreenSaverTimeout(d), 420);
    XCloseDisplay(d);
}

} // namespace
