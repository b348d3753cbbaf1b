// The screen saver at each mode switch, focus change and link, the keep-awake timer and the
// link operations, with the window and fakes.
#include "InputTestFixture.h"

#include <QDeadlineTimer>

using fakes::Call;
using fakes::InOrder;
using fakes::Marker;
using fakes::ModeText;
using namespace input_test;

namespace {

// --- The screen saver ----------------------------------------------------------------------

// Which screen saver runs at start: none, the X server's, or only the desktop's own idle
// service (GNOME and XFCE set the X timeout to 0 and blank by themselves).
enum class AtStart { None, XServer, DesktopOnly };

class ScreenSaverTest : public InputTest, public ::testing::WithParamInterface<AtStart> {};

TEST_P(ScreenSaverTest, OffInFullScreenOnInWindowModeOnLinksAndAtTheEnd)
{
    const bool wasActive = GetParam() != AtStart::None;
    screenSaver.active = GetParam() == AtStart::XServer;
    inhibit.desktopRuns = GetParam() == AtStart::DesktopOnly;
    build().Form_Load();
    EXPECT_EQ(window->ScreenSaverWasActive(), wasActive);
    EXPECT_FALSE(screenSaver.active) << "after start-up";

    const std::vector<std::tuple<const char *, std::function<void()>, bool>> steps = {
        {"window mode", [&] { window->GoWindowMode(false); }, true},
        {"full screen", [&] { window->GoFullScreen(); }, false},
        {"survey link", [&] { window->OpenBrowser("x", true); }, true},
        {"full screen", [&] { window->GoFullScreen(); }, false},
        {"strategy guide", [&] { window->OpenBrowserForStrategy("x"); }, true},
        {"full screen", [&] { window->GoFullScreen(); }, false},
        {"focus lost", [&] { application(QEvent::ApplicationDeactivate); }, true},
        {"focus back", [&] { window->SetWindowState(0); }, false},
        {"quit", [&] { emit player->FSCommand("quit", ""); }, true},
    };
    for (const auto &[label, step, onWhenWasActive] : steps) {
        step();
        if (GetParam() != AtStart::DesktopOnly) { // the X server's own refusal is not faked
            EXPECT_EQ(screenSaver.active, wasActive && onWhenWasActive) << label;
        }
        // The desktop's own screen saver is held off exactly while the X one is off.
        EXPECT_EQ(inhibit.held, wasActive && !onWhenWasActive) << label;
    }
    EXPECT_EQ(process.ends, 1);
    if (!wasActive) {
        EXPECT_EQ(log.count("screensaver.SetActive"), 0) << log.dump();
        EXPECT_EQ(log.count("inhibit.Hold") + log.count("inhibit.Release"), 0) << log.dump();
    }
}

TEST_F(InputTest, FocusLossGivesTheScreenSaverBackBeforeMinimisingAndTheEndFlushesTheRelease)
{
    screenSaver.active = true;
    startWithInput();
    EXPECT_TRUE(inhibit.held);
    QMap<QString, bool> minimisedAt;
    log.tap = [&](const QString &e) { minimisedAt[e] = window->isMinimized(); };
    application(QEvent::ApplicationDeactivate);
    log.tap = nullptr;
    EXPECT_TRUE(InOrder(log, {LostFocus, ModeText(1920, 1080, 32, 60),
                              "screensaver.SetActive true", "inhibit.Release"}));
    EXPECT_EQ(minimisedAt.value("inhibit.Release", true), false);
    expectSuspended();
    // The movie hears nothing new about the screen saver.
    EXPECT_EQ(log.starting("player.call"), QStringList{LostFocus});

    log.clear();
    window->SetWindowState(0);
    EXPECT_TRUE(InOrder(log, {ModeText(800, 600, 32, 60), "screensaver.SetActive false",
                              "inhibit.Hold Playing in full screen", Marker(true)}));
    log.clear();
    emit player->FSCommand("quit", "");
    EXPECT_EQ(log.events.mid(log.events.size() - 4),
              QStringList({"screensaver.SetActive true", "inhibit.Release", "inhibit.Flush",
                           "process.EndNow"}));
}

INSTANTIATE_TEST_SUITE_P(AtStart, ScreenSaverTest,
                         ::testing::Values(AtStart::None, AtStart::XServer, AtStart::DesktopOnly),
                         [](const auto &info) {
                             return info.param == AtStart::None      ? "WasOff"
                                    : info.param == AtStart::XServer ? "WasActive"
                                                                     : "OnlyTheDesktopsWasActive";
                         });

TEST_F(InputTest, PortraitDesktopLeavesTheScreenSaverOn)
{
    screenSaver.active = true;
    startOn(1080, 1920);
    EXPECT_TRUE(screenSaver.active);
    EXPECT_EQ(log.count("screensaver"), 0);
}

// --- Keep-awake ----------------------------------------------------------------------------

TEST_F(InputTest, KeepAwakeTypesOnlyWhileTheGameIsActive)
{
    build();
    QTimer &timer = window->tmrDisableSleep();
    EXPECT_EQ(timer.interval(), 10000);
    EXPECT_TRUE(timer.isActive());
    EXPECT_FALSE(timer.isSingleShot());

    // Another window of ours: a report waiting to be read, or a modal box.
    QWidget report;
    report.setWindowTitle("report");
    QWidget modal;
    modal.setWindowModality(Qt::ApplicationModal);
    // The platform activates a window through its event queue; while a modal box is open
    // Qt keeps the box active instead.
    const auto activate = [](QWidget *w) {
        w->show();
        w->activateWindow();
        QDeadlineTimer deadline(5000);
        while (QApplication::activeWindow() != w && !QApplication::activeModalWidget() &&
               !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_TRUE(QApplication::activeWindow() == w || QApplication::activeModalWidget());
    };
    const std::vector<std::tuple<const char *, std::function<void()>, bool>> steps = {
        {"before the main filter", [] {}, false},
        {"started", [&] { window->Form_Load(), activate(window.get()); }, true},
        {"deactivated", [] { application(QEvent::ApplicationDeactivate); }, false},
        {"restored while inactive", [&] { window->SetWindowState(0); }, false},
        {"activated", [&] { application(QEvent::ApplicationActivate); }, true},
        {"window mode", [&] { window->GoWindowMode(false); }, true},
        {"a report of ours is active", [&] { activate(&report); }, false},
        {"the game is active again", [&] { activate(window.get()); }, true},
        {"a modal box of ours is open", [&] { activate(&modal), activate(window.get()); }, false},
        {"the modal box is closed", [&] { modal.hide(), activate(window.get()); }, true},
        {"focus lost in window mode", [&] { window->FocusLossSteps(); }, false},
    };
    for (const auto &[label, step, types] : steps) {
        step();
        log.clear();
        keySender.windows.clear();
        ASSERT_TRUE(QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection));
        EXPECT_EQ(log.events, types ? QStringList{Keys} : QStringList{}) << label;
        // Typed into the game's window, never anywhere else.
        EXPECT_EQ(keySender.windows, types ? QList<QWidget *>{window.get()} : QList<QWidget *>{})
            << label;
    }
}

// --- Web links -----------------------------------------------------------------------------

TEST_F(InputTest, SurveyLinkOpensNothing)
{
    start();
    for (const char *url : {"https://survey.example/exit", "", "www.example.com"})
        for (bool force : {false, true})
            EXPECT_FALSE(window->OpenBrowser(url, force)) << url << force;
    EXPECT_EQ(log.count("url."), 0);
}

struct GuideRow {
    const char *label;
    friend void PrintTo(const GuideRow &r, std::ostream *os) { *os << r.label; }
    const char *url;
    const char *opened;
};

class StrategyAddress : public InputTest,
                        public ::testing::WithParamInterface<std::tuple<GuideRow, bool>> {};

TEST_P(StrategyAddress, GetsTheSchemeOnlyWhenItDoesNotStartWithHttp)
{
    const auto &[row, accepts] = GetParam();
    start();
    urlOpener.accepts = accepts;
    EXPECT_EQ(window->OpenBrowserForStrategy(row.url), accepts);
    EXPECT_EQ(log.starting("url."), QStringList{QString("url.Open ") + row.opened});
}

INSTANTIATE_TEST_SUITE_P(
    Rule, StrategyAddress,
    ::testing::Combine(
        ::testing::Values(GuideRow{"UpperHttp", "HTTP://x", "HTTP://x"},
                          GuideRow{"Https", "https://x", "https://x"},
                          GuideRow{"MixedCase", "hTtP://x/G", "hTtP://x/G"},
                          GuideRow{"HttpWord", "httpbin.org", "httpbin.org"},
                          GuideRow{"BareHost", "example.org", "http://example.org"},
                          GuideRow{"HttpInside", "www.http.org", "http://www.http.org"},
                          GuideRow{"LeadingSpace", " http://x", "http:// http://x"},
                          GuideRow{"OtherScheme", "ftp://x", "http://ftp://x"},
                          GuideRow{"Empty", "", "http://"}),
        ::testing::Bool()),
    [](const auto &info) {
        return std::string(std::get<0>(info.param).label) +
               (std::get<1>(info.param) ? "Accepted" : "Refused");
    });

TEST_F(InputTest, MovieLinksLeaveThePlayerOnlyForWebAndMail)
{
    start();
    const std::vector<std::pair<const char *, const char *>> links = {
        {"http://example.org/a", "http://example.org/a"},
        {"HTTPS://example.org/a b", "https://example.org/a%20b"},
        {"mailto:someone@example.org", "mailto:someone@example.org"},
        {"file:///etc/passwd", nullptr},
        {"javascript:alert(1)", nullptr},
        {"ftp://example.org/", nullptr},
        {"page.html", nullptr},
    };
    for (const auto &[link, opened] : links) {
        log.clear();
        emit player->externalLinkRequested(QUrl(link));
        EXPECT_EQ(log.events, opened ? QStringList{QString("url.Open ") + opened} : QStringList{})
            << link;
    }
}

} // namespace
