// The geometry that depends on the desktop, with fakes: which output holds the game, the
// stage's scale in a window, the work area, and the window's size and place across many
// switches on desktops with panels, high-DPI scales, several outputs and window managers
// with or without a full-screen state.
#include "WindowTestFixture.h"

#include "display/StageGeometry.h"

#include <QtMath>

using fakes::Marker;

namespace {

const QSize Stage(800, 600);

platform::Output OutputAt(const char *name, QRect geometry, bool primary, bool pointer)
{
    return {name, geometry, primary, pointer};
}

TEST(StageGeometry, OutputScaleAndPlace)
{
    using namespace StageGeometry;
    const QList<platform::Output> outputs = {
        OutputAt("LEFT", QRect(0, 0, 1920, 1080), false, true),
        OutputAt("RIGHT", QRect(1920, 0, 1280, 1024), true, false)};
    EXPECT_EQ(GameOutput(outputs, QRect()), 1);                       // the primary
    EXPECT_EQ(GameOutput(outputs, QRect(1500, 100, 808, 630)), 0);    // most of the window
    EXPECT_EQ(GameOutput(outputs, QRect(1800, 100, 808, 630)), 1);
    QList<platform::Output> noPrimary = outputs;
    noPrimary[1].primary = false;
    EXPECT_EQ(GameOutput(noPrimary, QRect()), 0); // the pointer's
    EXPECT_EQ(GameOutput({}, QRect()), -1);

    const QMargins frame(1, 20, 1, 5);
    // The desktop's scale when it fits; else the largest that fits, frame and panel included.
    EXPECT_DOUBLE_EQ(WindowScale(Stage, frame, QRect(0, 27, 1920, 1053), 1.0), 1.0);
    EXPECT_DOUBLE_EQ(WindowScale(Stage, frame, QRect(0, 27, 1920, 1053), 1.25), 1.25);
    const double tight = WindowScale(Stage, frame, QRect(0, 27, 1920, 1053), 2.0);
    EXPECT_EQ(ScaledStage(Stage, tight), QSize(1371, 1028)); // (1053 - 25) / 600 of the stage
    EXPECT_LE(ScaledStage(Stage, tight).height() + 25, 1053);
    EXPECT_EQ(ScaledStage(Stage, WindowScale(Stage, frame, QRect(0, 0, 1024, 620), 1.0)).height(),
              595); // smaller than the stage, never cut
    EXPECT_EQ(ScaledStage(Stage, 2.0), QSize(1600, 1200));
    // At two screen pixels per logical pixel, whole logical pixels: 695x521 of them.
    const QSizeF whole = WholeLogicalPixels(Stage, 1.7383, 2.0);
    EXPECT_EQ(QSize(ScaledStage(QSize(800, 1), whole.width()).width(),
                    ScaledStage(QSize(1, 600), whole.height()).height()),
              QSize(1390, 1042));
    EXPECT_EQ(WholeLogicalPixels(Stage, 1.25, 1.25), QSizeF(1.25, 1.25));
    EXPECT_EQ(ScaledStage(Stage, 1.5), QSize(1200, 900));

    // Moved only as far as it takes; a window larger than the area keeps its corner inside.
    const QRect area(0, 27, 1920, 1053);
    EXPECT_EQ(Inside(QRect(0, 0, 802, 625), area), QPoint(0, 27));
    EXPECT_EQ(Inside(QRect(300, 200, 802, 625), area), QPoint(300, 200));
    EXPECT_EQ(Inside(QRect(1500, 900, 802, 625), area), QPoint(1118, 455));
    EXPECT_EQ(Inside(QRect(50, 50, 3000, 2000), area), QPoint(0, 27));
}

// --- The whole window on a desktop ------------------------------------------------------------

struct Desktop {
    const char *label;
    friend void PrintTo(const Desktop &c, std::ostream *os) { *os << c.label; }
    bool fullScreenWm;  // the window manager has a full-screen state (EWMH)
    bool tellsFrame;    // it sets _NET_FRAME_EXTENTS
    qreal scale;        // screen pixels per logical pixel
    QRect workArea;     // empty: the window manager sets none
    QSize windowStage;  // the stage's size on the screen in window mode
    QRect ownModeStage = {}; // set: full screen on the desktop's own mode, the player there
};

class OnDesktop : public WindowTest, public ::testing::WithParamInterface<Desktop> {};

TEST_P(OnDesktop, FullScreenCoversTheOutputAndWindowModeHoldsItsPlaceAcrossToggles)
{
    const Desktop &desk = GetParam();
    windowSystem.fullScreenWm = desk.fullScreenWm;
    windowSystem.tellsFrame = desk.tellsFrame;
    windowSystem.scale = desk.scale;
    windowSystem.workArea = desk.workArea;
    const bool own = !desk.ownModeStage.isEmpty();
    if (own)
        fullScreenKind = DisplayOptions::FullScreen::Desktop;
    start();
    const QMargins frame = windowSystem.decorated;
    const QSize logicalStage(qCeil(800 / desk.scale), qCeil(600 / desk.scale));

    QRect windowModeClient;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        // Full screen: the whole stage on the 800x600 output in screen pixels, no frame
        // added, at the output's corner; on the desktop's own mode, the window covers the
        // output and the stage is scaled to fit between bars.
        EXPECT_TRUE(window->fullScreen);
        EXPECT_EQ(display.size(), own ? QSize(1920, 1080) : QSize(800, 600));
        EXPECT_EQ(windowSystem.ClientGeometry(window.get()), QRect(QPoint(0, 0), display.size()));
        EXPECT_EQ(player->containerRect(),
                  own ? desk.ownModeStage : QRect(QPoint(0, 0), logicalStage));
        EXPECT_EQ(windowSystem.HeldByWindowManager(window.get()), desk.fullScreenWm);

        window->ToggleFullScreen();
        ASSERT_FALSE(window->fullScreen);
        EXPECT_EQ(display.size(), QSize(1920, 1080));
        const QRect client = windowSystem.ClientGeometry(window.get());
        EXPECT_EQ(client.size(), desk.windowStage);
        // The whole stage shows: the player fills the client area exactly.
        EXPECT_EQ(player->containerRect().size() * desk.scale, desk.windowStage);
        const QRect outer = client.marginsAdded(desk.tellsFrame ? frame : QMargins());
        const QRect area = desk.workArea.isEmpty() ? QRect(0, 0, 1920, 1080) : desk.workArea;
        EXPECT_TRUE(area.contains(outer)) << "outside the work area";
        if (round == 0)
            windowModeClient = client;
        EXPECT_EQ(client, windowModeClient) << "the window drifted or changed its size";
        window->ToggleFullScreen();
    }
    EXPECT_EQ(player->answers("SwitchFullscreenMarker").size(), 13);
    EXPECT_TRUE(ui.errors.isEmpty());
    EXPECT_EQ(display.changes.empty(), own);
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, OnDesktop,
    ::testing::Values(
        Desktop{"FullScreenStateNoPanel", true, true, 1.0, QRect(0, 0, 1920, 1080), {800, 600}},
        Desktop{"TopPanel", true, true, 1.0, QRect(0, 27, 1920, 1053), {800, 600}},
        Desktop{"NoFullScreenState", false, true, 1.0, QRect(0, 0, 1920, 1050), {800, 600}},
        Desktop{"FrameNotTold", true, false, 1.0, QRect(), {800, 600}},
        Desktop{"Scale125", true, true, 1.25, QRect(0, 27, 1920, 1053), {1000, 750}},
        // 1600x1200 does not fit: the largest scale that does, (1050 - 30) / 600.
        Desktop{"Scale2", true, true, 2.0, QRect(0, 0, 1920, 1050), {1360, 1020}},
        Desktop{"OwnMode", true, true, 1.0, QRect(0, 27, 1920, 1053), {800, 600}, {240, 0, 1440, 1080}},
        Desktop{"OwnModeNoFullScreenState", false, true, 1.0, QRect(0, 0, 1920, 1050), {800, 600},
                {240, 0, 1440, 1080}},
        // 960x540 logical pixels, the stage 720x540 of them.
        Desktop{"OwnModeScale2", true, true, 2.0, QRect(0, 0, 1920, 1050), {1360, 1020},
                {120, 0, 720, 540}}),
    fakes::ByLabel);

TEST_F(WindowTest, TheGameGoesToThePrimaryOutputAndFollowsTheWindow)
{
    // Two outputs, the primary on the right, the pointer on the left.
    display.outputs = {OutputAt("DUMMY1", QRect(0, 0, 1920, 1080), false, true),
                       OutputAt("DUMMY0", QRect(1920, 0, 1920, 1080), true, false)};
    windowSystem.fullScreenWm = true;
    windowSystem.workArea = QRect(0, 0, 3840, 1050);
    start();
    EXPECT_EQ(display.selected, "DUMMY0");
    EXPECT_EQ(display.outputs[1].geometry, QRect(1920, 0, 800, 600));
    EXPECT_EQ(display.outputs[0].geometry, QRect(0, 0, 1920, 1080)); // the other keeps its mode
    EXPECT_EQ(windowSystem.ClientGeometry(window.get()), QRect(1920, 0, 800, 600));

    window->ToggleFullScreen();
    const QRect client = windowSystem.ClientGeometry(window.get());
    EXPECT_TRUE(QRect(1920, 0, 1920, 1050).contains(client.marginsAdded(windowSystem.decorated)));

    // The player drags the window onto the other output: full screen goes there.
    windowSystem.MoveTo(window.get(), 200, 300);
    window->ToggleFullScreen();
    EXPECT_EQ(display.selected, "DUMMY1");
    EXPECT_EQ(windowSystem.ClientGeometry(window.get()), QRect(0, 0, 800, 600));
    EXPECT_EQ(display.outputs[1].geometry, QRect(1920, 0, 1920, 1080));
    window->ToggleFullScreen();
    EXPECT_EQ(windowSystem.ClientGeometry(window.get()).topLeft(), QPoint(204, 326));
    EXPECT_EQ(player->answers("SwitchFullscreenMarker"),
              QStringList({"true", "false", "true", "false"}));
}

TEST_F(WindowTest, AFullScreenSizeAppliedAfterTheLayoutLaysTheStageOutAgain)
{
    // The window manager sets the full-screen state at once and sizes the window later,
    // after the host has laid the stage out for the window-mode size it still read; the
    // toolkit reports no resize for it.
    windowSystem.fullScreenWm = true;
    windowSystem.scale = 2.0;
    windowSystem.workArea = QRect(0, 0, 1920, 1050);
    start();
    window->ToggleFullScreen();
    ASSERT_EQ(windowSystem.ClientGeometry(window.get()).size(), QSize(1360, 1020));
    windowSystem.fitsLate = true;
    window->ToggleFullScreen();
    ASSERT_EQ(player->containerRect(), QRect(0, 0, 680, 510)); // laid out for window mode
    windowSystem.fitLate();
    EXPECT_EQ(windowSystem.ClientGeometry(window.get()), QRect(0, 0, 800, 600));
    EXPECT_EQ(player->containerRect(), QRect(0, 0, 400, 300));
    EXPECT_EQ(player->answers("SwitchFullscreenMarker"), QStringList({"true", "false", "true"}));
}

TEST_F(WindowTest, AWindowManagersLateChangesAfterWindowModeAreUndoneForAMoment)
{
    // kwin answers the switch to window mode, then re-places the window (after it has
    // followed the screen's new size) or sets the frame only later.
    windowSystem.fullScreenWm = true;
    windowSystem.workArea = QRect(0, 0, 1920, 1050);
    start();
    window->ToggleFullScreen();
    windowSystem.MoveTo(window.get(), 200, 300); // the player's place
    window->ToggleFullScreen();
    window->ToggleFullScreen();
    const QRect placed = windowSystem.ClientGeometry(window.get());
    ASSERT_EQ(placed, QRect(204, 326, 800, 600));
    windowSystem.moveOnItsOwn(window.get(), QRect(204, 26, 800, 1024));
    EXPECT_EQ(windowSystem.ClientGeometry(window.get()), placed);
    windowSystem.moveOnItsOwn(window.get(), QRect(564, 266, 800, 600));
    EXPECT_EQ(windowSystem.ClientGeometry(window.get()), placed);
    // Twice at most: a window manager that insists keeps its place.
    windowSystem.moveOnItsOwn(window.get(), QRect(10, 40, 800, 600));
    EXPECT_EQ(windowSystem.ClientGeometry(window.get()).topLeft(), QPoint(10, 40));

    // The frame not yet told when window mode places the window: put back once it is.
    window->ToggleFullScreen();
    windowSystem.tellsFrame = false;
    window->ToggleFullScreen();
    windowSystem.tellsFrame = true;
    windowSystem.moveOnItsOwn(window.get(), QRect(564, 266, 800, 600));
    EXPECT_EQ(windowSystem.ClientGeometry(window.get()).topLeft(), QPoint(10, 40));

    // Slow to leave full screen: the window still covers the screen when window mode
    // places it, and the window manager then puts it where it likes.
    windowSystem.coversRealOutput = QRect(0, 0, 1920, 1080);
    window->ToggleFullScreen();
    windowSystem.leavesLate = true;
    window->ToggleFullScreen();
    ASSERT_EQ(windowSystem.ClientGeometry(window.get()), QRect(0, 0, 1920, 1080));
    windowSystem.moveOnItsOwn(window.get(), QRect(564, 266, 800, 600));
    EXPECT_EQ(windowSystem.ClientGeometry(window.get()), QRect(10, 40, 800, 600));

    // In full screen the window manager's fitting is its own.
    window->ToggleFullScreen();
    windowSystem.moveOnItsOwn(window.get(), QRect(0, 0, 1920, 1080));
    EXPECT_EQ(windowSystem.ClientGeometry(window.get()), QRect(0, 0, 1920, 1080));
    EXPECT_EQ(player->answers("SwitchFullscreenMarker"),
              QStringList({"true", "false", "true", "false", "true", "false", "true", "false",
                           "true"}));
}

TEST_F(WindowTest, AMinimisingInFlightIsNotTakenForTheWindowComingBack)
{
    windowSystem.fullScreenWm = true;
    start();
    windowSystem.slowToMinimise = true;
    window->FocusLossSteps(); // the desktop's mode back, the window to be minimised
    ASSERT_EQ(display.size(), QSize(1920, 1080));
    // Qt reports the window normal again before the window manager has minimised it.
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    EXPECT_EQ(display.size(), QSize(1920, 1080)) << "full screen entered while minimising";
    // The window manager has minimised it, and Qt still believes the state it had before.
    windowSystem.iconicBeforeQtKnows = true;
    window->showMinimized();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    EXPECT_EQ(display.size(), QSize(1920, 1080)) << "full screen entered while minimised";
    windowSystem.iconicBeforeQtKnows = false;
    // Minimised by the window manager, then brought back by the player: full screen, once.
    windowSystem.slowToMinimise = false;
    window->showMinimized();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    EXPECT_EQ(display.size(), QSize(800, 600));
    EXPECT_EQ(player->answers("SwitchFullscreenMarker"), QStringList({"true", "true"}));
    EXPECT_EQ(windowSystem.ClientGeometry(window.get()), QRect(0, 0, 800, 600));
}

TEST_F(WindowTest, WestonCentresTheStageAndNeverMinimisingKeepsTheFocusStepsWhole)
{
    windowSystem.fullScreenWm = true;
    windowSystem.neverMinimises = true;
    screenSaver.active = true;
    start();
    // weston holds a full-screen window at its output's real size: the stage centred in it.
    windowSystem.coversRealOutput = QRect(0, 0, 1920, 1080);
    window->ToggleFullScreen();
    window->ToggleFullScreen();
    EXPECT_EQ(windowSystem.ClientGeometry(window.get()), QRect(0, 0, 1920, 1080));
    EXPECT_EQ(player->containerRect(), QRect(240, 0, 1440, 1080));
    window->FocusLossSteps();
    // The window stays mapped and Qt keeps believing it minimised; the desktop is back.
    EXPECT_EQ(display.size(), QSize(1920, 1080));
    EXPECT_TRUE(screenSaver.active);
    window->setWindowState(window->windowState() | Qt::WindowActive);
    EXPECT_EQ(display.size(), QSize(1920, 1080)) << "full screen entered while inactive";
    // The player clicks the game: it hears so, and full screen returns once.
    window->FocusGainSteps();
    window->FocusGainSteps();
    EXPECT_EQ(display.size(), QSize(800, 600));
    EXPECT_FALSE(screenSaver.active);
    EXPECT_FALSE(window->isMinimized());
    EXPECT_EQ(player->answers("notifyGame"), QStringList({"lostFocus", "gainedFocus", "gainedFocus"}));
    EXPECT_EQ(player->answers("SwitchFullscreenMarker"),
              QStringList({"true", "false", "true", "true"}));
    EXPECT_EQ(player->containerRect(), QRect(240, 0, 1440, 1080));
}

} // namespace
