// Full-screen mode and window mode with a fake display and window system: the switches and
// their refusals, the title-bar bits, the player's place, the return from a minimised
// window, and the error traps around the movie's marker call.
#include "WindowTestFixture.h"

using fakes::InOrder;
using fakes::Marker;
using fakes::ModeText;

namespace {

const QString Refusal =
    QStringLiteral("Your current screen resolution does not support windowed mode gameplay.");
const QString Layout = QStringLiteral("player.setContainerRect 0,0 800x600");

using fakes::FakeWindowSystem;
QString SetStyle(uint32_t style)
{
    return FakeWindowSystem::styleText(style);
}

class WindowModesTest : public WindowTest {};

// --- The title bar ----------------------------------------------------------------------

class TitleBar : public WindowModesTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(TitleBar, OnlyTheCaptionBitsChange)
{
    startOn(1920, 1080);
    windowSystem.styles[window.get()] = GetParam();
    const uint32_t without = GetParam() & ~FakeWindowSystem::Caption;
    const uint32_t with = without | FakeWindowSystem::Caption;

    window->Form_RemoveTitleBar(window.get(), false);
    EXPECT_EQ(style(), without);
    window->Form_RemoveTitleBar(window.get(), true);
    EXPECT_EQ(style(), with);
    EXPECT_EQ(log.events,
              QStringList({"window.GetStyle", SetStyle(without), "window.FrameChanged",
                           "window.GetStyle", SetStyle(with), "window.FrameChanged"}));
}

INSTANTIATE_TEST_SUITE_P(Styles, TitleBar,
                         ::testing::Values(0x16CF0000u, 0x00C00000u, 0xFFFFFFFFu, 0x00800000u,
                                           0x00400000u, 0x00000000u, 0x84080000u));

// --- The player's place ---------------------------------------------------------------------

TEST_F(WindowModesTest, PlayerAlwaysCoversTheStageAtTheTopLeft)
{
    startOn(1920, 1080);
    const std::vector<std::pair<const char *, std::function<void()>>> steps = {
        {"full screen", [] {}},
        {"window mode", [this] { window->GoWindowMode(false); }},
        {"odd size", [this] { window->resize(317, 211); }},
        {"minimised", [this] { window->SetWindowState(1); }},
        {"normal", [this] { window->SetWindowState(0); }},
        {"full screen again", [this] { window->GoFullScreen(); }},
        {"exiting", [this] { window->GoWindowMode(true); }},
    };
    for (const auto &[label, step] : steps) {
        step();
        window->LayoutFlashPlayer();
        EXPECT_EQ(player->containerRect(), QRect(0, 0, 800, 600)) << label;
    }
    // Every placement on the way, from every caller, was the same rectangle.
    for (const QString &e : log.starting("player.setContainerRect"))
        EXPECT_EQ(e, Layout);
}

TEST_F(WindowModesTest, WindowModeShowsTheWholeStageInTheClientArea)
{
    startOn(1920, 1080);
    window->GoWindowMode(false);
    EXPECT_EQ(window->size(), QSize(800, 600));
    // Without its title bar the window has no frame, and none is added to its size.
    window->GoFullScreen();
    EXPECT_EQ(window->size(), QSize(800, 600));
}

// --- Form_Resize --------------------------------------------------------------------------

struct ResizeCase {
    const char *label;
    friend void PrintTo(const ResizeCase &c, std::ostream *os) { *os << c.label; }
    bool minimised;
    bool returnToFullScreen;
};

class ResizeOnlyLaysOut : public WindowModesTest,
                          public ::testing::WithParamInterface<ResizeCase> {};

TEST_P(ResizeOnlyLaysOut, WhenMinimisedOrNotReturning)
{
    startOn(1920, 1080);
    window->GoWindowMode(true); // the desktop mode back, as when the focus is lost
    if (GetParam().minimised)
        window->SetWindowState(1);
    FocusControls::ReturnToFullScreen = GetParam().returnToFullScreen;
    log.clear();
    window->Form_Resize();
    EXPECT_EQ(log.events, QStringList{Layout});
    EXPECT_EQ(FocusControls::ReturnToFullScreen, GetParam().returnToFullScreen);
}

INSTANTIATE_TEST_SUITE_P(States, ResizeOnlyLaysOut,
                         ::testing::Values(ResizeCase{"MinimisedReturning", true, true},
                                           ResizeCase{"MinimisedNotReturning", true, false},
                                           ResizeCase{"NormalNotReturning", false, false}),
                         fakes::ByLabel);

TEST_F(WindowModesTest, ResizeInNormalStateReturnsToFullScreenOnce)
{
    startOn(1920, 1080);
    // From the window-mode geometry, so that the switch itself raises resizes on the way.
    window->GoWindowMode(false);
    FocusControls::ReturnToFullScreen = true;
    log.clear();
    window->Form_Resize();
    EXPECT_GT(log.count(Layout), 1);
    EXPECT_EQ(log.count("player.call"), 1);
    EXPECT_EQ(log.starting("display.Change"), QStringList{ModeText(800, 600, 32, 60)});
    EXPECT_FALSE(FocusControls::ReturnToFullScreen);
    EXPECT_EQ(log.events.last(), Layout);
}

TEST_F(WindowModesTest, SuspendedWindowReturnsToFullScreenWhenRestored)
{
    startOn(1920, 1080);
    // What a loss of focus in full-screen mode does.
    window->GoWindowMode(true);
    EXPECT_EQ(display.size(), QSize(1920, 1080));
    FocusControls::ReturnToFullScreen = true;
    window->SetWindowState(1);
    EXPECT_EQ(log.count("player.call"), 0);
    EXPECT_TRUE(FocusControls::ReturnToFullScreen);

    log.clear();
    window->SetWindowState(0);
    EXPECT_EQ(log.starting("player.call"), QStringList{Marker(true)});
    EXPECT_EQ(log.starting("display.Change"), QStringList{ModeText(800, 600, 32, 60)});
    EXPECT_FALSE(FocusControls::ReturnToFullScreen);
    EXPECT_TRUE(window->fullScreen);
    EXPECT_FALSE(hasTitleBar());
    EXPECT_EQ(window->WindowState(), 0);
    EXPECT_TRUE(ui.errors.isEmpty());
}

// --- Switching and refusing ---------------------------------------------------------------

TEST_F(WindowModesTest, ToggleRoundTripKeepsTheStepOrder)
{
    screenSaver.active = true;
    startOn(1280, 1024);

    window->ToggleFullScreen();
    EXPECT_FALSE(window->fullScreen);
    EXPECT_TRUE(hasTitleBar());
    EXPECT_EQ(display.size(), QSize(1280, 1024));
    // Window mode moves the window only into the work area: its title bar, back at the
    // full-screen corner, would be above the screen's edge.
    EXPECT_EQ(log.starting("window.MoveTo"), QStringList{"window.MoveTo 0,0"});
    // Window mode tells the movie before the screen saver is switched back on.
    EXPECT_TRUE(InOrder(log,
                        {ModeText(1280, 1024, 32, 60), SetStyle(0x16CF0000), Layout, Marker(false),
                         "screensaver.SetActive true"}));
    EXPECT_EQ(log.events.mid(log.events.size() - 2),
              QStringList({"screensaver.SetActive true", "inhibit.Release"}));

    window->move(25, 35);
    log.clear();
    window->ToggleFullScreen();
    EXPECT_TRUE(window->fullScreen);
    EXPECT_FALSE(hasTitleBar());
    EXPECT_EQ(display.size(), QSize(800, 600));
    EXPECT_EQ(window->pos(), QPoint(0, 0));
    // Full-screen mode switches the screen saver off before telling the movie.
    EXPECT_TRUE(InOrder(log,
                        {"display.Enum", ModeText(800, 600, 32, 60), SetStyle(0x160F0000), Layout,
                         "screensaver.SetActive false", Marker(true)}));
    EXPECT_EQ(log.events.last(), Marker(true));
}

struct SmallDesktop {
    const char *label;
    friend void PrintTo(const SmallDesktop &c, std::ostream *os) { *os << c.label; }
    int w, h;
};

class RefusedWindowMode : public WindowModesTest,
                          public ::testing::WithParamInterface<SmallDesktop> {};

TEST_P(RefusedWindowMode, SmallDesktopKeepsFullScreen)
{
    startOn(GetParam().w, GetParam().h);
    window->ToggleFullScreen();
    EXPECT_EQ(log.events, QStringList({"ui.ShowMessage |" + Refusal, Marker(true)}));
    EXPECT_TRUE(window->fullScreen);
    EXPECT_FALSE(hasTitleBar());
    EXPECT_EQ(display.size(), QSize(800, 600));
}

TEST_P(RefusedWindowMode, FailingMarkerAfterRefusalReachesTheCaller)
{
    startOn(GetParam().w, GetParam().h);
    player->failNext = 1;
    EXPECT_THROW(window->GoWindowMode(false), HostError);
    EXPECT_TRUE(window->fullScreen);
}

INSTANTIATE_TEST_SUITE_P(Desktops, RefusedWindowMode,
                         ::testing::Values(SmallDesktop{"Stage", 800, 600},
                                           SmallDesktop{"Wide600", 1024, 600},
                                           SmallDesktop{"Vga", 640, 480},
                                           SmallDesktop{"Tall600", 1280, 600}),
                         fakes::ByLabel);

struct ExitingCase {
    const char *label;
    friend void PrintTo(const ExitingCase &c, std::ostream *os) { *os << c.label; }
    QSize desktop;
    bool fromWindowMode;
};

class ExitingOnlyGivesTheDisplayBack : public WindowModesTest,
                                       public ::testing::WithParamInterface<ExitingCase> {};

TEST_P(ExitingOnlyGivesTheDisplayBack, AndChangesNothingElse)
{
    const ExitingCase &c = GetParam();
    screenSaver.active = true;
    startOn(c.desktop.width(), c.desktop.height());
    if (c.fromWindowMode)
        window->GoWindowMode(false);
    const bool mode = window->fullScreen;
    const uint32_t styleBefore = style();
    const QRect geometry = window->geometry();
    log.clear();

    window->GoWindowMode(true);

    const bool larger = c.desktop.width() > 800 && c.desktop.height() > 600;
    EXPECT_EQ(log.events,
              larger ? QStringList{ModeText(c.desktop.width(), c.desktop.height(), 32, 60)}
                     : QStringList{});
    EXPECT_EQ(window->fullScreen, mode);
    EXPECT_EQ(style(), styleBefore);
    EXPECT_EQ(window->geometry(), geometry);
}

INSTANTIATE_TEST_SUITE_P(States, ExitingOnlyGivesTheDisplayBack,
                         ::testing::Values(ExitingCase{"FullScreen", QSize(1920, 1080), false},
                                           ExitingCase{"WindowMode", QSize(1920, 1080), true},
                                           ExitingCase{"SmallDesktop", QSize(800, 600), false}),
                         fakes::ByLabel);

TEST_F(WindowModesTest, PortraitDisplayMakesFullScreenANoOp)
{
    startOn(1080, 1920);
    window->GoWindowMode(false);
    ASSERT_FALSE(window->fullScreen);
    log.clear();
    window->GoFullScreen();
    window->ToggleFullScreen();
    EXPECT_TRUE(log.events.isEmpty()) << log.dump();
    EXPECT_FALSE(window->fullScreen);
    EXPECT_TRUE(hasTitleBar());
}

TEST_F(WindowModesTest, ADesktopModeTheDisplayRefusesKeepsTheGameInFullScreen)
{
    startOn(1920, 1080);
    display.refuses = true;
    EXPECT_THROW(window->GoWindowMode(false), HostError);
    EXPECT_TRUE(window->fullScreen);
    EXPECT_FALSE(hasTitleBar());
    EXPECT_EQ(log.starting("player.call"), QStringList{Marker(true)});
    EXPECT_NO_THROW(window->GoWindowMode(true)); // leaving, it is only noted
}

// --- Error traps --------------------------------------------------------------------------

struct TrapCase {
    const char *label;
    friend void PrintTo(const TrapCase &c, std::ostream *os) { *os << c.label; }
    bool minimised;     // a minimised window refuses the size and position steps
    int markerFailures; // failures of the movie's marker call in a row
    bool reachesCaller;
    int markerCalls;
};

class FullScreenTrap : public WindowModesTest, public ::testing::WithParamInterface<TrapCase> {};

TEST_P(FullScreenTrap, FinishingStepsRunAtMostTwice)
{
    const TrapCase &c = GetParam();
    startOn(1920, 1080);
    window->GoWindowMode(false);
    if (c.minimised)
        window->SetWindowState(1);
    player->failNext = c.markerFailures;
    log.clear();

    if (c.reachesCaller)
        EXPECT_THROW(window->GoFullScreen(), HostError);
    else
        EXPECT_NO_THROW(window->GoFullScreen());

    EXPECT_EQ(log.count(Marker(true)), c.markerCalls);
    EXPECT_EQ(log.count("player.call"), c.markerCalls);
    EXPECT_TRUE(window->fullScreen);
    EXPECT_FALSE(hasTitleBar());
    EXPECT_EQ(log.starting("display.Change"), QStringList{ModeText(800, 600, 32, 60)});
    EXPECT_EQ(log.count("window.MoveTo"), c.minimised ? 0 : 2);
}

INSTANTIATE_TEST_SUITE_P(Failures, FullScreenTrap,
                         ::testing::Values(TrapCase{"MarkerFailsOnce", false, 1, false, 2},
                                           TrapCase{"MarkerFailsTwice", false, 2, true, 2},
                                           TrapCase{"MinimisedSkipsGeometry", true, 0, false, 1},
                                           TrapCase{"MinimisedThenMarkerFails", true, 1, true, 1}),
                         fakes::ByLabel);

TEST_F(WindowModesTest, WindowModeEndsSilentlyWhenTheMarkerFailsWithTheScreenSaverBack)
{
    screenSaver.active = true;
    startOn(1920, 1080);
    player->failNext = 1;
    EXPECT_NO_THROW(window->GoWindowMode(false));
    EXPECT_FALSE(window->fullScreen);
    EXPECT_TRUE(hasTitleBar());
    EXPECT_EQ(log.count("player.call"), 1);
    EXPECT_TRUE(screenSaver.active); // the step after the marker runs all the same
    EXPECT_TRUE(ui.errors.isEmpty());
}

} // namespace
