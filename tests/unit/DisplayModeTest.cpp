// The display-mode module with a fake display: what is recorded, what is asked for on
// entering and leaving full-screen mode, the memory of the last request, and the start-up
// check of a portrait desktop.
#include "Fakes.h"

#include "display/modChangeRes.h"
#include "shell/GameSettings.h"

using fakes::ModeText;

namespace {

class DisplayModeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        modChangeRes::Reset();
        modChangeRes::SetServices(&display, &ui, &process);
        GameSettings::GameWidth = 800;
        GameSettings::GameHeight = 600;
        GameSettings::PortraitDisplay = false;
    }
    void TearDown() override { modChangeRes::SetServices(nullptr, nullptr, nullptr); }

    static QString last(const modChangeRes::State &s)
    {
        return QStringLiteral("%1x%2@%3/%4")
            .arg(s.LastWidth)
            .arg(s.LastHeight)
            .arg(s.LastColorDepth)
            .arg(s.LastFrequency);
    }
    const modChangeRes::State &state() const { return modChangeRes::CurrentState(); }

    fakes::EventLog log;
    fakes::FakeDisplayModes display{log};
    fakes::FakeUserInterface ui{log};
    fakes::FakeProcess process{log};
};

// --- Entering and leaving -------------------------------------------------------------

struct DesktopCase {
    const char *label;
    friend void PrintTo(const DesktopCase &c, std::ostream *os) { *os << c.label; }
    int w, h;
    bool restores;
};

class EnterAndLeave : public DisplayModeTest, public ::testing::WithParamInterface<DesktopCase> {};

TEST_P(EnterAndLeave, StageSizeAtTheDesktopsDepthAndRateThenBackWhenLarger)
{
    const DesktopCase &c = GetParam();
    display.setDesktop(c.w, c.h, 32, 60);
    modChangeRes::CheckDesktopDisplay();
    modChangeRes::SetGameDisplayMode();
    EXPECT_EQ(log.events,
              QStringList({"display.Enum", "display.Enum", ModeText(800, 600, 32, 60)}));
    EXPECT_EQ(display.changes.back().platformData, "desktop-mode");

    log.clear();
    EXPECT_EQ(modChangeRes::RestoreDesktopDisplayMode(), c.restores);
    EXPECT_EQ(log.events, c.restores ? QStringList{ModeText(c.w, c.h, 32, 60)} : QStringList{});
    EXPECT_EQ(display.size(), c.restores ? QSize(c.w, c.h) : QSize(800, 600));
}

INSTANTIATE_TEST_SUITE_P(Desktops, EnterAndLeave,
                         ::testing::Values(DesktopCase{"FullHd", 1920, 1080, true},
                                           DesktopCase{"Sxga", 1280, 1024, true},
                                           DesktopCase{"Stage", 800, 600, false},
                                           DesktopCase{"Vga", 640, 480, false},
                                           DesktopCase{"Wide600", 1024, 600, false},
                                           DesktopCase{"Tall800", 800, 601, false},
                                           DesktopCase{"JustLarger", 801, 601, true}),
                         fakes::ByLabel);

TEST_F(DisplayModeTest, EachEntryRecordsTheModeThenInForce)
{
    display.setDesktop(1920, 1080, 32, 60);
    modChangeRes::CheckDesktopDisplay();
    display.setDesktop(1600, 900, 24, 75); // the user changed the desktop meanwhile
    modChangeRes::SetGameDisplayMode();
    log.clear();
    EXPECT_TRUE(modChangeRes::RestoreDesktopDisplayMode());
    EXPECT_EQ(log.events, QStringList{ModeText(1600, 900, 24, 75)});
}

TEST_F(DisplayModeTest, ZeroRefreshRateHandsTheDesktopRecordBackUnchanged)
{
    display.setDesktop(1920, 1080, 32, 0);
    modChangeRes::SetGameDisplayMode();
    ASSERT_EQ(display.changes.size(), 1u);
    const platform::DisplayModeRecord &r = display.changes[0];
    EXPECT_EQ(r.dmPelsWidth, 1920u);
    EXPECT_EQ(r.dmPelsHeight, 1080u);
    EXPECT_EQ(r.dmBitsPerPel, 32u);
    EXPECT_EQ(r.dmDisplayFrequency, 0u);
    EXPECT_EQ(r.dmFields, 0x005C0000u);
    EXPECT_EQ(r.platformData, "desktop-mode");
    EXPECT_EQ(last(state()), "0x0@0/0");
}

// --- ChangeDisplayMode and its memory -----------------------------------------------------

struct ChangeCase {
    const char *label;
    friend void PrintTo(const ChangeCase &c, std::ostream *os) { *os << c.label; }
    int16_t w, h, depth, freq;
    bool called;
    const char *record; // what the platform was given
    const char *memory; // the Last values afterwards
};

class ChangeAfterChangeAll : public DisplayModeTest,
                             public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ChangeAfterChangeAll, ZeroArgumentsKeepTheLastRequest)
{
    const ChangeCase &c = GetParam();
    display.setDesktop(1920, 1080, 32, 60);
    modChangeRes::CheckDesktopDisplay(); // fills the record with the desktop mode
    ASSERT_TRUE(modChangeRes::ChangeDisplayMode(800, 600, 32, 60));
    log.clear();
    display.changes.clear();

    EXPECT_EQ(modChangeRes::ChangeDisplayMode(c.w, c.h, c.depth, c.freq), c.called);
    if (c.called) {
        ASSERT_EQ(display.changes.size(), 1u);
        const auto &r = display.changes[0];
        EXPECT_EQ(ModeText(int(r.dmPelsWidth), int(r.dmPelsHeight), int(r.dmBitsPerPel),
                           int(r.dmDisplayFrequency)),
                  QString("display.Change ") + c.record);
        EXPECT_EQ(r.dmFields, 0x005C0000u);
        EXPECT_EQ(r.platformData, "desktop-mode");
    } else {
        EXPECT_TRUE(log.events.isEmpty());
    }
    EXPECT_EQ(last(state()), c.memory);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, ChangeAfterChangeAll,
    ::testing::Values(
        ChangeCase{"Resol", 1024, 768, 0, 0, true, "1024x768@32/60", "1024x768@32/60"},
        ChangeCase{"Color", 0, 0, 16, 0, true, "800x600@16/60", "800x600@16/60"},
        ChangeCase{"Freq", 0, 0, 0, 75, true, "800x600@32/75", "800x600@32/75"},
        ChangeCase{"All", 1280, 1024, 24, 85, true, "1280x1024@24/85", "1280x1024@24/85"},
        ChangeCase{"AllZero", 0, 0, 0, 0, false, "", "800x600@32/60"},
        ChangeCase{"WidthOnly", 1024, 0, 0, 0, true, "800x600@32/60", "800x600@32/60"},
        ChangeCase{"SizeAndDepth", 1024, 768, 16, 0, true, "800x600@32/60", "800x600@32/60"}),
    fakes::ByLabel);

TEST_F(DisplayModeTest, AllZerosFromTheStartCallsNothing)
{
    EXPECT_FALSE(modChangeRes::ChangeDisplayMode(0, 0, 0, 0));
    EXPECT_TRUE(log.events.isEmpty());
    EXPECT_EQ(last(state()), "0x0@0/0");
    EXPECT_EQ(state().DisplayModeRecord.dmFields, 0u);
}

// --- The start-up check -------------------------------------------------------------------

struct CheckCase {
    const char *label;
    friend void PrintTo(const CheckCase &c, std::ostream *os) { *os << c.label; }
    int w, h;
    bool portrait;
    bool refused;
};

class DesktopCheck : public DisplayModeTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(DesktopCheck, PortraitIsMarkedOrRefused)
{
    const CheckCase &c = GetParam();
    display.setDesktop(c.w, c.h, 32, 60);
    modChangeRes::CheckDesktopDisplay();

    QStringList expected{"display.Enum"};
    if (c.refused)
        expected << "ui.ShowMessage Resolution Issue|This game does not support portrait mode "
                    "resolutions. Please set your monitor to Landscape mode and restart the game."
                 << "process.EndNow";
    EXPECT_EQ(log.events, expected);
    EXPECT_EQ(GameSettings::PortraitDisplay, c.portrait);
    EXPECT_EQ(state().SavedWidth, c.w);
    EXPECT_EQ(state().SavedHeight, c.h);
    EXPECT_EQ(state().SavedColorDepth, 32);
    EXPECT_EQ(state().SavedFrequency, 60);
}

INSTANTIATE_TEST_SUITE_P(Desktops, DesktopCheck,
                         ::testing::Values(CheckCase{"Landscape", 1920, 1080, false, false},
                                           CheckCase{"Square", 1024, 1024, false, false},
                                           CheckCase{"WidePortrait", 1080, 1920, true, false},
                                           CheckCase{"PortraitAsWideAsTheStage", 800, 1280, true,
                                                     false},
                                           CheckCase{"NarrowPortrait", 600, 800, false, true},
                                           CheckCase{"JustNarrower", 799, 1280, false, true}),
                         fakes::ByLabel);

TEST_F(DisplayModeTest, FailedEnumerationKeepsTheLastRecord)
{
    display.setDesktop(1920, 1080, 32, 60);
    modChangeRes::CheckDesktopDisplay();
    display.enumFails = true;
    display.setDesktop(1024, 768, 16, 70);
    modChangeRes::SetGameDisplayMode();
    EXPECT_EQ(log.events.last(), ModeText(800, 600, 32, 60));
    EXPECT_EQ(state().SavedWidth, 1920);
}

} // namespace
