// The window-system services and the X11 services on Qt's own X connection, under a real
// window manager (openbox on a private Xvfb): title bar off and on, the frame it adds, the
// real position, and X errors on Qt's connection. Qt's xcb platform needs a process of its
// own, so the test runs this file's disabled test in a fresh copy of the test program.
#include <gtest/gtest.h>

#include "platform/X11DisplayModes.h"
#include "platform/X11ScreenSaver.h"
#include "platform/X11WindowSystem.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

#include <functional>
#include <memory>

#include "XvfbServer.h"

using namespace testing_x11;
using platform::X11WindowSystem;

namespace {

constexpr char ChildMarker[] = "LF_X11_WINDOW_SYSTEM_CHILD";

Display *QtDisplay()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

bool Pump(const std::function<bool()> &condition, int timeoutMs)
{
    return WaitUntil(
        [&] {
            QCoreApplication::processEvents();
            return condition();
        },
        timeoutMs);
}

// The client window's top-left as the X server has it.
QPoint ClientOnScreen(Display *d, Window w)
{
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x, &y, &child);
    return QPoint(x, y);
}

bool Mapped(Display *d, Window w)
{
    XWindowAttributes a{};
    return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
}

TEST(X11WindowSystemTest, TitleBarFrameAndPlacementUnderAWindowManager)
{
    if (!XvfbServer::Installed() || !OnPath("openbox") || !OnPath("xprop"))
        GTEST_SKIP() << "Xvfb, xrandr, openbox or xprop is not installed";
    XvfbServer server;
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.GiveRealTimedDesktop());
    const pid_t wm = StartProgram({"openbox", "--sm-disable"}, {"DISPLAY=" + server.Name()});
    const bool wmUp = WaitUntil(
        [&] {
            return RunCommand(server.Name(), "xprop -root _NET_SUPPORTING_WM_CHECK")
                .contains("window id");
        },
        10000);

    int status = -1;
    if (wmUp) {
        char self[4096] = {};
        ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
        const pid_t child = StartProgram(
            // "-platform xcb" for a test program whose main() makes its QApplication with
            // another platform; the environment for one that leaves it to the test.
            {self, "-platform", "xcb", "--gtest_filter=X11WindowSystemInQt.DISABLED_*",
             "--gtest_also_run_disabled_tests"},
            {"DISPLAY=" + server.Name(), "QT_QPA_PLATFORM=xcb", QByteArray(ChildMarker) + "=1"});
        if (!WaitUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 60000)) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
        }
    }
    EndProgram(wm);
    ASSERT_TRUE(wmUp) << "openbox did not come up";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the checks in Qt's xcb process failed (see their output above), status " << status;
}

// Runs only in the copy of the program that the test above starts.
TEST(X11WindowSystemInQt, DISABLED_OnQtsConnection)
{
    if (qEnvironmentVariableIsEmpty(ChildMarker))
        GTEST_SKIP() << "only inside X11WindowSystemTest";
    std::unique_ptr<QApplication> ownApp;
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "x11-window-system-test";
        static char *argv[] = {name, nullptr};
        ownApp = std::make_unique<QApplication>(argc, argv);
    }
    ASSERT_TRUE(qobject_cast<QApplication *>(QCoreApplication::instance()));
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    Display *d = QtDisplay();
    ASSERT_NE(d, nullptr);

    X11WindowSystem ws;
    QWidget window;
    window.resize(400, 300);
    window.move(100, 100);
    EXPECT_EQ(ws.GetWindowStyle(&window), X11WindowSystem::InitialStyle);

    // Before the window is shown, the window manager estimates the frame it will add.
    const QMargins estimated = ws.DecoratedFrameExtents(&window);
    EXPECT_GT(estimated.top(), 0);

    window.show();
    const Window w = Window(window.winId());
    ASSERT_TRUE(Pump([&] { return Mapped(d, w) && !ws.FrameExtents(&window).isNull(); }, 5000));
    const QMargins decorated = ws.FrameExtents(&window);
    EXPECT_GT(decorated.top(), decorated.left()); // a title bar above, thin borders around
    EXPECT_EQ(decorated, estimated);

    // --- Title bar off: the window stays mapped, the frame goes -----------------------
    const uint32_t style = ws.GetWindowStyle(&window);
    ws.SetWindowStyle(&window, style & 0xFF3FFFFFu);
    EXPECT_EQ(ws.GetWindowStyle(&window), 0x140E0000u);
    ws.FrameChanged(&window);
    EXPECT_TRUE(ws.FrameExtents(&window).isNull()); // FrameChanged waited for the WM
    EXPECT_TRUE(Mapped(d, w));
    EXPECT_EQ(ws.DecoratedFrameExtents(&window), decorated); // what comes back with it

    ws.MoveTo(&window, 0, 0);
    EXPECT_EQ(ClientOnScreen(d, w), QPoint(0, 0));
    Pump([] { return false; }, 100); // Qt learns where it is; a second move must hold too
    ws.MoveTo(&window, 0, 0);
    EXPECT_EQ(ClientOnScreen(d, w), QPoint(0, 0));

    // --- Title bar on again: the same frame --------------------------------------------
    ws.SetWindowStyle(&window, style);
    ws.FrameChanged(&window);
    EXPECT_EQ(ws.FrameExtents(&window), decorated);
    EXPECT_TRUE(Mapped(d, w));
    ws.MoveTo(&window, 50, 40);
    EXPECT_EQ(ClientOnScreen(d, w), QPoint(50 + decorated.left(), 40 + decorated.top()));
    EXPECT_EQ(ws.OuterPosition(&window), QPoint(50, 40)); // with no event processed since

    // Taking the title bar off where the window stands, then placing it at 0,0: the case in
    // which Qt believes the window already is where it is asked to go.
    ws.MoveTo(&window, 0, 0);
    ws.SetWindowStyle(&window, style & 0xFF3FFFFFu);
    ws.FrameChanged(&window);
    ws.MoveTo(&window, 0, 0);
    EXPECT_EQ(ClientOnScreen(d, w), QPoint(0, 0));
    EXPECT_EQ(ws.OuterPosition(&window), QPoint(0, 0));
    EXPECT_TRUE(Pump([&] { return window.frameGeometry().topLeft() == QPoint(0, 0); }, 2000))
        << "Qt does not learn where the window is";

    // --- X errors on Qt's connection are caught, not fatal ------------------------------
    {
        platform::X11ErrorTrap trap(d);
        XMoveWindow(d, Window(0x7ffffff), 1, 1); // no such window
        EXPECT_TRUE(trap.Failed());
    }
    {
        platform::X11ErrorTrap trap(d);
        XMoveWindow(d, w, 0, 0);
        EXPECT_FALSE(trap.Failed());
    }

    // --- Display modes and the screen saver on Qt's connection ----------------------
    platform::X11DisplayModes modes;
    platform::DisplayModeRecord desktop;
    ASSERT_TRUE(modes.EnumCurrent(desktop));
    EXPECT_EQ(desktop.dmPelsWidth, 1920u);
    platform::DisplayModeRecord stage = desktop;
    stage.dmPelsWidth = 800;
    stage.dmPelsHeight = 600;
    auto rootSize = [&] {
        Window root = 0;
        int x = 0, y = 0;
        unsigned width = 0, height = 0, border = 0, depth = 0;
        XGetGeometry(d, DefaultRootWindow(d), &root, &x, &y, &width, &height, &border, &depth);
        return QSize(int(width), int(height));
    };
    EXPECT_TRUE(modes.ChangeTemporarily(stage));
    EXPECT_EQ(rootSize(), QSize(800, 600));
    EXPECT_TRUE(Pump([] { return QGuiApplication::primaryScreen()->size() == QSize(800, 600); },
                     2000)); // Qt follows the change
    EXPECT_TRUE(modes.ChangeTemporarily(desktop));
    EXPECT_EQ(rootSize(), QSize(1920, 1080));

    XSetScreenSaver(d, 300, 0, DefaultBlanking, DefaultExposures);
    platform::X11ScreenSaver saver;
    EXPECT_TRUE(saver.IsActive());
    EXPECT_TRUE(saver.SetActive(false));
    EXPECT_EQ(ScreenSaverTimeout(d), 0);
    EXPECT_TRUE(saver.SetActive(true));
    EXPECT_EQ(ScreenSaverTimeout(d), 300);
}

} // namespace
