// The window-system services and the X11 services on Qt's own X connection, under a real
// window manager (openbox on a private Xvfb): title bar off (the full-screen state on the
// home output) and on, the frame it adds, the real size and position, and X errors on Qt's
// connection. Qt's xcb platform needs a process of its
// own, so the test runs this file's disabled test in a fresh copy of the test program.
#include <gtest/gtest.h>

#include "platform/x11/X11DisplayModes.h"
#include "platform/x11/X11ScreenSaver.h"
#include "platform/x11/X11WindowSystem.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>

#include <functional>
#include <memory>

#include "XvfbServer.h"

#include "platform/x11/X11Ewmh.h"

#include <X11/Xatom.h>

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

bool Mapped(Display *d, Window w)
{
    XWindowAttributes a{};
    return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
}

// Window mode waits for this before the decorated window is placed: a window manager still
// at the stage-sized screen would cut the window to it.
TEST(X11WindowSystemTest, TheWindowManagersDesktopGeometryIsTakenAsSeenOnlyAtTheScreensSize)
{
    if (!XvfbServer::Installed())
        GTEST_SKIP() << "Xvfb is not installed";
    XvfbServer server;
    ASSERT_TRUE(server.Start("1920x1080x24"));
    Display *d = XOpenDisplay(server.Name().constData());
    ASSERT_NE(d, nullptr);
    const Atom geometry = XInternAtom(d, "_NET_DESKTOP_GEOMETRY", False);
    auto announce = [&](long w, long h) {
        const long value[2] = {w, h};
        XChangeProperty(d, DefaultRootWindow(d), geometry, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(value), 2);
        XSync(d, False);
    };
    EXPECT_TRUE(platform::ewmh::DesktopGeometryFollowsScreen(d)) << "none announced";
    announce(800, 600);
    EXPECT_FALSE(platform::ewmh::DesktopGeometryFollowsScreen(d)) << "the stage's screen";
    announce(1920, 1080);
    EXPECT_TRUE(platform::ewmh::DesktopGeometryFollowsScreen(d));
    announce(3840, 2160);
    EXPECT_TRUE(platform::ewmh::DesktopGeometryFollowsScreen(d)) << "four viewports";
    XCloseDisplay(d);
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

    auto xprop = [w](const QByteArray &properties) {
        return RunCommand(qgetenv("DISPLAY"),
                          "xprop -id " + QByteArray::number(qulonglong(w)) + ' ' + properties);
    };

    auto decorationsHint = [&] { // the third field of the Motif hints, -1 if unset
        const Atom motif = XInternAtom(d, "_MOTIF_WM_HINTS", False);
        const auto hints = platform::ewmh::ReadLongs(d, w, "_MOTIF_WM_HINTS", motif, 5);
        return hints ? (*hints)[2] : -1L;
    };

    // --- Title bar off: the window covers its home output in the full-screen state ------
    const QRect screen(0, 0, 1920, 1080);
    ws.SetHomeOutput(&window, screen);
    const uint32_t style = ws.GetWindowStyle(&window);
    ws.SetWindowStyle(&window, style & 0xFF3FFFFFu);
    EXPECT_EQ(ws.GetWindowStyle(&window), 0x140E0000u);
    ws.FrameChanged(&window); // returns once the window manager has answered
    EXPECT_TRUE(ws.HeldByWindowManager(&window));
    EXPECT_EQ(ws.ClientGeometry(&window), screen);
    EXPECT_TRUE(ws.FrameExtents(&window).isNull());
    EXPECT_TRUE(Mapped(d, w));
    const QByteArray states = xprop("_NET_WM_STATE _NET_WM_BYPASS_COMPOSITOR");
    EXPECT_TRUE(states.contains("_NET_WM_STATE_FULLSCREEN")) << states.constData();
    EXPECT_TRUE(states.contains("_NET_WM_BYPASS_COMPOSITOR(CARDINAL) = 1")) << states.constData();
    // The decorations hint stays: the state draws no frame, and the frame comes back with
    // the title bar without the window manager having to read the hint again.
    EXPECT_EQ(decorationsHint(), 1);
    EXPECT_EQ(ws.DecoratedFrameExtents(&window), decorated); // what comes back with it
    ws.ResizeClient(&window, QSize(300, 200)); // the window manager holds it: nothing happens
    ws.MoveTo(&window, 40, 40);
    EXPECT_EQ(ws.ClientGeometry(&window), screen);
    EXPECT_TRUE(Pump([&] { return window.windowState() == Qt::WindowFullScreen; }, 2000));

    // --- Title bar on again: out of the full-screen state, the same frame ---------------
    ws.SetWindowStyle(&window, style);
    ws.FrameChanged(&window);
    EXPECT_FALSE(ws.HeldByWindowManager(&window));
    EXPECT_EQ(ws.FrameExtents(&window), decorated);
    EXPECT_FALSE(xprop("_NET_WM_STATE").contains("FULLSCREEN"));
    ws.ResizeClient(&window, QSize(800, 600));
    ws.MoveTo(&window, 50, 40);
    // At once, with no event processed since: both waited for the server.
    EXPECT_EQ(ws.ClientGeometry(&window),
              QRect(50 + decorated.left(), 40 + decorated.top(), 800, 600));
    EXPECT_EQ(ws.OuterPosition(&window), QPoint(50, 40));
    EXPECT_TRUE(Pump([&] { return window.geometry().size() == QSize(800, 600); }, 2000))
        << "Qt does not learn the window's size";

    // --- A window manager without the full-screen state: the frame itself goes ----------
    const Atom supported = XInternAtom(d, "_NET_SUPPORTED", False);
    const auto atoms = platform::ewmh::ReadAtoms(d, DefaultRootWindow(d), "_NET_SUPPORTED");
    std::vector<long> withoutFullScreen;
    for (const Atom atom : atoms)
        if (atom != XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False))
            withoutFullScreen.push_back(long(atom));
    XChangeProperty(d, DefaultRootWindow(d), supported, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(withoutFullScreen.data()),
                    int(withoutFullScreen.size()));
    ws.SetWindowStyle(&window, style & 0xFF3FFFFFu);
    ws.FrameChanged(&window);
    EXPECT_FALSE(ws.HeldByWindowManager(&window));
    EXPECT_EQ(decorationsHint(), 0);
    EXPECT_TRUE(Pump([&] { return platform::ewmh::FrameExtentsProperty(d, w) == QMargins(); }, 2000))
        << "the frame stays";
    ws.SetWindowStyle(&window, style);
    ws.FrameChanged(&window);
    EXPECT_EQ(ws.FrameExtents(&window), decorated);
    XChangeProperty(d, DefaultRootWindow(d), supported, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(atoms.data()), int(atoms.size()));

    // The window's own scale on this desktop, and the work area openbox gives.
    EXPECT_EQ(ws.ScaleAt(QPoint(10, 10)), 1.0);
    EXPECT_EQ(ws.WorkArea(), screen);

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
