// The movie's commands that end the program, open the strategy guide, or ask for full
// screen or window mode.
#include "MovieCommandsFixture.h"

using fakes::Call;
using fakes::InOrder;
using fakes::Marker;
using fakes::ModeText;

namespace {

// --- Ending the program -------------------------------------------------------------------

class EndingTest : public MovieCommandsTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        screenSaver.active = GetParam();
        MovieCommandsTest::SetUp();
    }
    QStringList screenSaverOn() const
    {
        return GetParam() ? QStringList{"screensaver.SetActive true", "inhibit.Release"}
                          : QStringList{};
    }
};

TEST_P(EndingTest, QuitGivesTheDesktopModeBackAndEnds)
{
    command("quit", "ignored");
    EXPECT_EQ(log.events,
              QStringList{ModeText(1920, 1080, 32, 60)} + screenSaverOn() +
                  QStringList({"inhibit.Flush", "process.EndNow"}));
    // The window is left as it was.
    EXPECT_TRUE(window->fullScreen);
    EXPECT_FALSE(hasTitleBar());
}

TEST_P(EndingTest, QuitOnASmallDesktopOnlyEnds)
{
    screenSaver.active = GetParam();
    restartOn(800, 600);
    command("quit");
    EXPECT_EQ(log.events, screenSaverOn() + QStringList({"inhibit.Flush", "process.EndNow"}));
}

TEST_P(EndingTest, ShowSurveyGivesTheDesktopModeBackAndEnds)
{
    command("ShowSurvey");
    EXPECT_EQ(log.events, QStringList{ModeText(1920, 1080, 32, 60)} + screenSaverOn() +
                              QStringList({"inhibit.Flush", "process.EndNow"}));
}

TEST_P(EndingTest, SurveyLinkOpensNothingAndGoesOn)
{
    command("SurveyLinkClick");
    EXPECT_EQ(log.events, screenSaverOn());
}

INSTANTIATE_TEST_SUITE_P(ScreenSaver, EndingTest, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "WasActive" : "WasOff"; });

// --- The strategy guide -------------------------------------------------------------------

struct GuideCase {
    const char *label;
    friend void PrintTo(const GuideCase &c, std::ostream *os) { *os << c.label; }
    const char *address;
    const char *opened;
};

class StrategyGuide : public WindowTest, public ::testing::WithParamInterface<GuideCase> {};

TEST_P(StrategyGuide, OpensTheAddressWithAScheme)
{
    setLinkInfo(QByteArray("https://survey.example/\r\n") + GetParam().address + "\r\n");
    start();
    emit player->FSCommand("StrategyGuideClick", "ignored");
    EXPECT_EQ(log.starting("url."), QStringList{QString("url.Open ") + GetParam().opened});
    EXPECT_EQ(process.ends, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, StrategyGuide,
    ::testing::Values(GuideCase{"Bare", "www.example.com/guide", "http://www.example.com/guide"},
                      GuideCase{"Http", "http://example.com/g", "http://example.com/g"},
                      GuideCase{"UpperHttps", "HTTPS://Example.com/G", "HTTPS://Example.com/G"}),
    fakes::ByLabel);

// --- game_fullscrn ------------------------------------------------------------------------

struct ModeRequestCase {
    const char *label;
    friend void PrintTo(const ModeRequestCase &c, std::ostream *os) { *os << c.label; }
    bool fromWindowMode;
    const char *argument;
};

class ModeRequestIgnored : public MovieCommandsTest,
                           public ::testing::WithParamInterface<ModeRequestCase> {};

TEST_P(ModeRequestIgnored, ChangesNothingAndSendsNoMarker)
{
    if (GetParam().fromWindowMode) {
        command("game_fullscrn", "false");
        ASSERT_FALSE(window->fullScreen);
    }
    const bool before = window->fullScreen;
    const uint32_t styleBefore = style();
    log.clear();
    command("game_fullscrn", GetParam().argument);
    EXPECT_TRUE(log.events.isEmpty()) << log.dump();
    EXPECT_EQ(window->fullScreen, before);
    EXPECT_EQ(style(), styleBefore);
}

INSTANTIATE_TEST_SUITE_P(Arguments, ModeRequestIgnored,
                         ::testing::Values(ModeRequestCase{"TrueInFullScreen", false, "true"},
                                           ModeRequestCase{"FalseInWindow", true, "false"},
                                           ModeRequestCase{"CapitalTrueInWindow", true, "True"},
                                           ModeRequestCase{"OneInWindow", true, "1"},
                                           ModeRequestCase{"CapitalFalseInFullScreen", false,
                                                           "False"},
                                           ModeRequestCase{"ZeroInFullScreen", false, "0"},
                                           ModeRequestCase{"EmptyInFullScreen", false, ""}),
                         fakes::ByLabel);

TEST_F(MovieCommandsTest, ModeRequestsOnAPortraitDesktopDoNothing)
{
    restartOn(1080, 1920);
    ASSERT_FALSE(window->fullScreen); // it plays in its window from the start
    const uint32_t before = style();
    log.clear();
    command("game_fullscrn", "true");
    command("game_fullscrn", "false");
    EXPECT_TRUE(log.events.isEmpty()) << log.dump();
    EXPECT_FALSE(window->fullScreen);
    EXPECT_EQ(style(), before);
}

TEST_F(MovieCommandsTest, ModeRequestsSwitchBothWays)
{
    restartOn(1280, 1024);

    command("game_fullscrn", "false");
    EXPECT_FALSE(window->fullScreen);
    EXPECT_TRUE(hasTitleBar());
    EXPECT_EQ(display.size(), QSize(1280, 1024));
    EXPECT_EQ(log.starting("player.call"), QStringList{Marker(false)});
    EXPECT_TRUE(
        InOrder(log, {ModeText(1280, 1024, 32, 60), "window.SetStyle 0x16cf0000", Marker(false)}));

    window->move(30, 40);
    log.clear();
    command("game_fullscrn", "true");
    EXPECT_TRUE(window->fullScreen);
    EXPECT_FALSE(hasTitleBar());
    EXPECT_EQ(display.size(), QSize(800, 600));
    EXPECT_EQ(window->pos(), QPoint(0, 0));
    EXPECT_EQ(log.starting("player.call"), QStringList{Marker(true)});
    EXPECT_TRUE(ui.errors.isEmpty());
}

} // namespace
