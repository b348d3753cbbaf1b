// X11DisplayModes against a private Xvfb: what the server really shows after each change
// (asked through xrandr), the modes added and removed again, the choice among rates, and
// the refusals. Skipped where Xvfb is not installed.
#include <gtest/gtest.h>

#include "platform/x11/X11DisplayModes.h"

#include <memory>
#include <tuple>

#include "XvfbServer.h"

#include <X11/extensions/Xrandr.h>

using platform::DisplayModeRecord;
using platform::X11DisplayModes;
using namespace testing_x11;

namespace {

constexpr uint32_t AllFields = 0x005C0000;
constexpr uint32_t SizeAndRateFields = 0x00580000; // DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY

DisplayModeRecord Asking(uint32_t width, uint32_t height, uint32_t depth, uint32_t rate,
                         uint32_t fields = AllFields)
{
    DisplayModeRecord r;
    r.dmPelsWidth = width;
    r.dmPelsHeight = height;
    r.dmBitsPerPel = depth;
    r.dmDisplayFrequency = rate;
    r.dmFields = fields;
    return r;
}

class X11DisplayModesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!XvfbServer::Installed())
            GTEST_SKIP() << "Xvfb and xrandr are not installed";
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(server.GiveRealTimedDesktop());
        display = XOpenDisplay(server.Name().constData());
        ASSERT_NE(display, nullptr);
    }

    void TearDown() override
    {
        if (display)
            XCloseDisplay(display);
    }

    DisplayModeRecord Desktop(X11DisplayModes &modes)
    {
        DisplayModeRecord desktop;
        EXPECT_TRUE(modes.EnumCurrent(desktop));
        return desktop;
    }

    XvfbServer server;
    Display *display = nullptr;
};

// --- Reading the mode in force -------------------------------------------------------------

TEST_F(X11DisplayModesTest, ReadsTheDesktopWithItsRateFromTheTimingsAndTrueColourAs32Bits)
{
    X11DisplayModes modes(display);
    DisplayModeRecord r = Desktop(modes);
    EXPECT_EQ(r.dmPelsWidth, 1920u);
    EXPECT_EQ(r.dmPelsHeight, 1080u);
    EXPECT_EQ(r.dmBitsPerPel, 32u); // 24-bit true colour, as Windows reports it
    EXPECT_EQ(r.dmDisplayFrequency, 60u); // 173 MHz / (2576 * 1120) = 59.96 Hz
    EXPECT_EQ(r.dmFields, AllFields);
    EXPECT_FALSE(r.platformData.isEmpty());
    EXPECT_EQ(platform::DisplayNameOf(r.platformData), server.Name());
}

TEST_F(X11DisplayModesTest, AModeWithoutTimingsReadsAsRateZero)
{
    server.Xrandr("--output screen --mode 1920x1080"); // Xvfb's own mode: all timings 0
    ASSERT_EQ(server.ModeInForce(), "1920x1080");
    X11DisplayModes modes(display);
    DisplayModeRecord r = Desktop(modes);
    EXPECT_EQ(r.dmPelsWidth, 1920u);
    EXPECT_EQ(r.dmDisplayFrequency, 0u);
}

TEST_F(X11DisplayModesTest, AFailedReadLeavesTheRecordAsItWas)
{
    XvfbServer plain;
    ASSERT_TRUE(plain.Start("1024x768x24", {"-extension", "RANDR"}));
    Display *noRandR = XOpenDisplay(plain.Name().constData());
    ASSERT_NE(noRandR, nullptr);
    {
        X11DisplayModes modes(noRandR);
        DisplayModeRecord r = Asking(1, 2, 3, 4, 5);
        r.platformData = "kept";
        EXPECT_FALSE(modes.EnumCurrent(r));
        EXPECT_EQ(r.dmPelsWidth, 1u);
        EXPECT_EQ(r.dmFields, 5u);
        EXPECT_EQ(r.platformData, "kept");
        EXPECT_FALSE(modes.ChangeTemporarily(Asking(800, 600, 32, 60)));
    }
    XCloseDisplay(noRandR);
}

// --- Switching to the stage size and back ----------------------------------------------------

TEST_F(X11DisplayModesTest, SwitchesTo800x600ByAddingAModeAndBackToTheExactDesktopMode)
{
    auto modesOwner = std::make_unique<X11DisplayModes>(display);
    X11DisplayModes &modes = *modesOwner;
    const DisplayModeRecord desktop = Desktop(modes);
    const QSize desktopMm = ScreenMillimetres(server.Name());

    ASSERT_TRUE(modes.ChangeTemporarily(Asking(800, 600, 32, 60)));
    EXPECT_EQ(server.ScreenSize(), "800x600");
    EXPECT_EQ(server.ModeInForce(), QByteArray("800x600_60") + platform::OwnModeSuffix);
    DisplayModeRecord now;
    ASSERT_TRUE(modes.EnumCurrent(now));
    EXPECT_EQ(now.dmPelsWidth, 800u);
    EXPECT_EQ(now.dmPelsHeight, 600u);
    EXPECT_EQ(now.dmDisplayFrequency, 60u); // the timings we made give the rate asked for
    // The resolution stays what it was: the millimetres shrink with the pixels.
    const QSize smallMm = ScreenMillimetres(server.Name());
    EXPECT_NEAR(smallMm.width(), desktopMm.width() * 800.0 / 1920, 1);
    EXPECT_NEAR(smallMm.height(), desktopMm.height() * 600.0 / 1080, 1);

    ASSERT_TRUE(modes.ChangeTemporarily(desktop));
    EXPECT_EQ(server.ScreenSize(), "1920x1080");
    EXPECT_EQ(server.ModeInForce(), "1920x1080_60.00"); // not the timing-less mode of that size
    EXPECT_EQ(ScreenMillimetres(server.Name()), desktopMm);
    // The added mode stays on the output while the program runs, and goes with it.
    EXPECT_EQ(server.ModesNamed(platform::OwnModeSuffix).size(), 1);
    modesOwner.reset();
    EXPECT_TRUE(server.ModesNamed(platform::OwnModeSuffix).isEmpty());
}

TEST_F(X11DisplayModesTest, TheScreensResolutionInDotsPerInchOutlivesTheSwitches)
{
    int status = -1;
    server.Xrandr("--dpi 200", &status); // 1920x1080 at 200 dpi: 244x137 mm
    ASSERT_EQ(status, 0);
    const QSize desktopMm = ScreenMillimetres(server.Name());
    ASSERT_NEAR(desktopMm.width(), 244, 1);
    Display *fresh = XOpenDisplay(server.Name().constData());
    ASSERT_NE(fresh, nullptr);
    {
        X11DisplayModes modes(fresh);
        const DisplayModeRecord desktop = Desktop(modes);
        ASSERT_TRUE(modes.ChangeTemporarily(Asking(800, 600, 32, 60)));
        const QSize smallMm = ScreenMillimetres(server.Name()); // still 200 dpi
        EXPECT_NEAR(smallMm.width(), 800 * 25.4 / 200, 1);
        EXPECT_NEAR(smallMm.height(), 600 * 25.4 / 200, 1);
        ASSERT_TRUE(modes.ChangeTemporarily(desktop));
        EXPECT_EQ(ScreenMillimetres(server.Name()), desktopMm);
    }
    XCloseDisplay(fresh);
}

// A desktop that manages the outputs (mutter) resets them all when an output's mode list is
// newer than the last mode setting (a monitor plugged in): after each switch the mode
// setting must be the newest change, and after the first the mode list must not change.
TEST_F(X11DisplayModesTest, SwitchesBackAndForthChangeNoModeListAfterTheFirst)
{
    auto timestamps = [this] {
        XRRScreenResources *res = XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
        const std::pair<Time, Time> t{res->timestamp, res->configTimestamp};
        XRRFreeScreenResources(res);
        return t;
    };
    {
        X11DisplayModes modes(display);
        const DisplayModeRecord desktop = Desktop(modes);
        Time firstConfig = 0;
        for (int round = 0; round < 3; ++round) {
            ASSERT_TRUE(modes.ChangeTemporarily(Asking(800, 600, 32, 60)));
            ASSERT_EQ(server.ScreenSize(), "800x600");
            auto [set, config] = timestamps();
            EXPECT_GE(set, config) << "round " << round;
            if (round == 0)
                firstConfig = config;
            EXPECT_EQ(config, firstConfig) << "round " << round;
            ASSERT_TRUE(modes.ChangeTemporarily(desktop));
            ASSERT_EQ(server.ModeInForce(), "1920x1080_60.00");
            std::tie(set, config) = timestamps();
            EXPECT_GE(set, config) << "round " << round;
            EXPECT_EQ(config, firstConfig) << "round " << round;
            EXPECT_EQ(server.ModesNamed(platform::OwnModeSuffix).size(), 1);
        }
    }
    EXPECT_TRUE(server.ModesNamed(platform::OwnModeSuffix).isEmpty());
}

TEST_F(X11DisplayModesTest, TheRecordOfTheModeInForceChangesNothing)
{
    // A desktop whose rate reads 0: the record is handed back as the enumeration filled it.
    server.Xrandr("--output screen --mode 1920x1080");
    X11DisplayModes modes(display);
    const DisplayModeRecord desktop = Desktop(modes);
    EXPECT_TRUE(modes.ChangeTemporarily(desktop));
    EXPECT_EQ(server.ModeInForce(), "1920x1080");
    EXPECT_TRUE(server.ModesNamed(platform::OwnModeSuffix).isEmpty());
}

TEST_F(X11DisplayModesTest, FieldsLeftOutOfTheRecordKeepWhatTheDisplayShows)
{
    X11DisplayModes modes(display);
    // Only the width: the height stays 1080, so 800x1080 is asked for.
    ASSERT_TRUE(modes.ChangeTemporarily(Asking(800, 0, 0, 0, 0x00080000)));
    EXPECT_EQ(server.ScreenSize(), "800x1080");
}

TEST_F(X11DisplayModesTest, ASizeTheScreenCannotHoldFailsAndLeavesNoModeBehind)
{
    X11DisplayModes modes(display);
    EXPECT_FALSE(modes.ChangeTemporarily(Asking(2560, 1440, 32, 60)));
    EXPECT_EQ(server.ModeInForce(), "1920x1080_60.00");
    EXPECT_TRUE(server.ModesNamed(platform::OwnModeSuffix).isEmpty());
}

// --- Choosing among the output's modes -------------------------------------------------------

TEST_F(X11DisplayModesTest, TakesTheOutputsModeWithTheClosestRateNotTheFirstOfThatSize)
{
    // VESA timings: 56.25 Hz, 72.19 Hz and 85.06 Hz.
    for (const char *mode : {"800x600_56 36.00 800 824 896 1024 600 601 603 625 +hsync +vsync",
                             "800x600_72 50.00 800 856 976 1040 600 637 643 666 +hsync +vsync",
                             "800x600_85 56.25 800 832 896 1048 600 601 604 631 +hsync +vsync"}) {
        int status = -1;
        server.Xrandr(QByteArray("--newmode ") + mode, &status);
        ASSERT_EQ(status, 0);
        server.Xrandr("--addmode screen " + QByteArray(mode).split(' ').first(), &status);
        ASSERT_EQ(status, 0);
    }
    X11DisplayModes modes(display);
    const struct {
        uint32_t asked;
        const char *taken;
    } cases[] = {{75, "800x600_72"}, {80, "800x600_85"}, {60, "800x600_56"},
                 {56, "800x600_56"}, {100, "800x600_85"}};
    for (const auto &c : cases) {
        ASSERT_TRUE(modes.ChangeTemporarily(Asking(800, 600, 32, c.asked))) << c.asked;
        EXPECT_EQ(server.ModeInForce(), c.taken) << "asked for " << c.asked << " Hz";
    }
    // An existing mode of the size is always used: none of ours is added.
    EXPECT_TRUE(server.ModesNamed(platform::OwnModeSuffix).isEmpty());
}

TEST_F(X11DisplayModesTest, RateZeroKeepsTheModeInForceAmongThoseOfItsSize)
{
    X11DisplayModes modes(display);
    // Both 1920x1080 modes are on the output; the one in force is the timed one.
    EXPECT_TRUE(modes.ChangeTemporarily(Asking(1920, 1080, 32, 0)));
    EXPECT_EQ(server.ModeInForce(), "1920x1080_60.00");
}

TEST_F(X11DisplayModesTest, AModeLeftByAnEarlierRunIsTakenUpAndRemovedAfterwards)
{
    const QByteArray leftover = QByteArray("800x600_60") + platform::OwnModeSuffix;
    int status = -1;
    server.Xrandr("--newmode " + leftover + " 35.597 800 848 880 960 600 603 607 618 +hsync -vsync",
                  &status);
    ASSERT_EQ(status, 0);
    {
        X11DisplayModes modes(display);
        const DisplayModeRecord desktop = Desktop(modes);
        ASSERT_TRUE(modes.ChangeTemporarily(Asking(800, 600, 32, 60)));
        EXPECT_EQ(server.ModeInForce(), leftover);
        ASSERT_TRUE(modes.ChangeTemporarily(desktop));
    }
    EXPECT_TRUE(server.ModesNamed(platform::OwnModeSuffix).isEmpty());
}

// --- Colour depth --------------------------------------------------------------------------

TEST_F(X11DisplayModesTest, ADepthOtherThanTheScreensIsAFailedChange)
{
    X11DisplayModes modes(display);
    EXPECT_FALSE(modes.ChangeTemporarily(Asking(800, 600, 16, 60)));
    EXPECT_FALSE(modes.ChangeTemporarily(Asking(800, 600, 8, 60)));
    EXPECT_EQ(server.ScreenSize(), "1920x1080");
    EXPECT_TRUE(server.ModesNamed(platform::OwnModeSuffix).isEmpty());
}

TEST_F(X11DisplayModesTest, TrueColourIsTakenAs32OrAs24Bits)
{
    X11DisplayModes modes(display);
    EXPECT_TRUE(modes.ChangeTemporarily(Asking(800, 600, 24, 60)));
    EXPECT_EQ(server.ScreenSize(), "800x600");
    EXPECT_TRUE(modes.ChangeTemporarily(Asking(1024, 768, 32, 60)));
    EXPECT_EQ(server.ScreenSize(), "1024x768");
}

// --- Giving the desktop back without the object that changed it -----------------------------

TEST_F(X11DisplayModesTest, RestoreDataAloneGivesTheDesktopBackOnAnotherConnection)
{
    QByteArray restoreData;
    {
        X11DisplayModes modes(display);
        restoreData = Desktop(modes).platformData;
        ASSERT_TRUE(modes.ChangeTemporarily(Asking(800, 600, 32, 60)));
    }
    // The mode in use outlives the object that added it.
    ASSERT_EQ(server.ModesNamed(platform::OwnModeSuffix).size(), 1);

    Display *other = XOpenDisplay(server.Name().constData());
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(platform::RestoreDisplayMode(other, restoreData));
    XCloseDisplay(other);
    EXPECT_EQ(server.ModeInForce(), "1920x1080_60.00");
    EXPECT_EQ(server.ScreenSize(), "1920x1080");
    EXPECT_TRUE(server.ModesNamed(platform::OwnModeSuffix).isEmpty());
}

TEST_F(X11DisplayModesTest, RemovingAddedModesSparesTheUsersModesAndTheOneInUse)
{
    int status = -1;
    server.Xrandr("--newmode users_mode 35.597 800 848 880 960 600 603 607 618 +hsync -vsync",
                  &status);
    ASSERT_EQ(status, 0);
    X11DisplayModes modes(display);
    ASSERT_TRUE(modes.ChangeTemporarily(Asking(640, 480, 32, 60)));
    server.Xrandr("--newmode 1024x768_60" + QByteArray(platform::OwnModeSuffix)
                  + " 56.0 1024 1072 1104 1184 768 771 775 790 +hsync -vsync");
    ASSERT_EQ(server.ModesNamed(platform::OwnModeSuffix).size(), 2);

    EXPECT_EQ(platform::RemoveAddedModes(display), 1); // not the 640x480 one in use
    EXPECT_EQ(server.ModesNamed(platform::OwnModeSuffix),
              QList<QByteArray>{QByteArray("640x480_60") + platform::OwnModeSuffix});
    EXPECT_EQ(server.ModesNamed("users_mode").size(), 1);
}

TEST_F(X11DisplayModesTest, RestoreDataThatIsNotOursIsRefused)
{
    for (const QByteArray &junk : {QByteArray(), QByteArray("randr1"), QByteArray("garbage"),
                                   QByteArray("randr1 display=:0 output=x mode=1")}) {
        EXPECT_FALSE(platform::RestoreDisplayMode(display, junk)) << junk.constData();
        EXPECT_TRUE(platform::DisplayNameOf(junk).isEmpty());
    }
    EXPECT_EQ(server.ModeInForce(), "1920x1080_60.00");
}

} // namespace
