// The input filters and focus with synthetic Qt events: what the player filter consumes and
// what it triggers, the search for the player's window, the focus steps driven by
// application activation, the screen saver at each mode switch and link, the keep-awake
// timer and the link operations.
#include "WindowTestFixture.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>

using fakes::Call;
using fakes::InOrder;
using fakes::Marker;
using fakes::ModeText;

namespace {

const QString Reached = QStringLiteral("input.reached");
const QString LostFocus = Call(QStringLiteral("notifyGame"), QStringLiteral("lostFocus"));
const QString GainedFocus = Call(QStringLiteral("notifyGame"), QStringLiteral("gainedFocus"));
const QString Keys = QStringLiteral("keys.SpaceAndBackspace");
const QSize Desktop(1920, 1080);
const QSize Stage(800, 600);

// The player's input window: logs the one event a test is watching when it gets past the
// filters to the window itself.
class PlayerInput : public QWidget {
public:
    PlayerInput(fakes::EventLog &log, QWidget *parent) : QWidget(parent), log_(log) {}
    const QEvent *watch = nullptr;

protected:
    bool event(QEvent *e) override
    {
        if (e == watch)
            log_.add(Reached);
        return QWidget::event(e);
    }

private:
    fakes::EventLog &log_;
};

// An event filter given as a function.
class Filter : public QObject {
public:
    explicit Filter(std::function<bool(QObject *, QEvent *)> f) : f_(std::move(f)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *e) override { return f_(watched, e); }

private:
    std::function<bool(QObject *, QEvent *)> f_;
};

std::unique_ptr<QEvent> MakeEvent(QEvent::Type type, int code, Qt::KeyboardModifiers mods = {})
{
    const QPoint at(5, 5);
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return std::make_unique<QKeyEvent>(type, code, mods);
    case QEvent::ContextMenu:
        return std::make_unique<QContextMenuEvent>(QContextMenuEvent::Reason(code), at, at,
                                                   mods);
    default:
        return std::make_unique<QMouseEvent>(
            type, QPointF(at), QPointF(at), Qt::MouseButton(code),
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(code), mods);
    }
}

class InputTest : public WindowTest {
protected:
    // Starts on a 1920x1080 desktop (full screen) with the player's input window of the
    // given name; the log then starts empty.
    void startWithInput(const QString &name = "MacromediaFlashPlayerActiveX")
    {
        build();
        input = new PlayerInput(log, player->widget());
        input->setObjectName(name);
        player->input = input;
        window->Form_Load();
        log.clear();
    }
    // Sends one event to `target` (the player's input window by default).
    void send(QEvent::Type type, int code, Qt::KeyboardModifiers mods = {},
              QWidget *target = nullptr)
    {
        const auto e = MakeEvent(type, code, mods);
        input->watch = e.get();
        QCoreApplication::sendEvent(target ? target : input, e.get());
        input->watch = nullptr;
    }
    static void application(QEvent::Type type)
    {
        QEvent e(type);
        QCoreApplication::sendEvent(qApp, &e);
    }
    void expectPlaying(bool full)
    {
        EXPECT_EQ(window->fullScreen, full);
        EXPECT_EQ(window->WindowState(), 0);
        EXPECT_EQ(display.size(), full ? Stage : Desktop);
        EXPECT_TRUE(FocusControls::AppActive);
        EXPECT_FALSE(FocusControls::ReturnToFullScreen);
        EXPECT_TRUE(ui.errors.isEmpty()) << ui.errors.join("; ").toStdString();
    }
    void expectSuspended()
    {
        EXPECT_TRUE(window->fullScreen);
        EXPECT_EQ(window->WindowState(), 1);
        EXPECT_EQ(display.size(), Desktop);
        EXPECT_FALSE(FocusControls::AppActive);
        EXPECT_TRUE(FocusControls::ReturnToFullScreen);
    }

    PlayerInput *input = nullptr; // owned by the player's control
};

// --- The player filter, row by row --------------------------------------------------------

// What becomes of the event: consumed, or passed on to the player after an action.
enum Outcome { Consumed, Passed, Toggles, LosesFocus };

struct FilterRow {
    const char *label;
    friend void PrintTo(const FilterRow &r, std::ostream *os) { *os << r.label; }
    QEvent::Type type;
    int code; // key, mouse button or context-menu reason
    Qt::KeyboardModifiers mods;
    bool ctrlDownBefore;
    Outcome outcome;
    bool ctrlDownAfter;
};

class PlayerFilter : public InputTest, public ::testing::WithParamInterface<FilterRow> {};

TEST_P(PlayerFilter, ConsumesOrPassesOnAfterItsAction)
{
    const FilterRow &r = GetParam();
    startWithInput();
    ASSERT_EQ(RightClickModule2::PlayerHwnd(), input);
    if (r.ctrlDownBefore)
        send(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
    ASSERT_EQ(RightClickModule2::CtrlDown(), r.ctrlDownBefore);
    log.clear();

    send(r.type, r.code, r.mods);

    EXPECT_EQ(log.count(Reached), r.outcome == Consumed ? 0 : 1) << log.dump();
    EXPECT_EQ(RightClickModule2::CtrlDown(), r.ctrlDownAfter);
    switch (r.outcome) {
    case Consumed:
    case Passed:
        EXPECT_EQ(log.events, r.outcome == Passed ? QStringList{Reached} : QStringList{});
        expectPlaying(true);
        break;
    case Toggles:
        // The action runs before the key goes on to the player.
        EXPECT_TRUE(InOrder(log, {ModeText(1920, 1080, 32, 60), Marker(false), Reached}));
        EXPECT_EQ(log.count("player.call notifyGame"), 0);
        expectPlaying(false);
        break;
    case LosesFocus:
        EXPECT_TRUE(InOrder(log, {LostFocus, ModeText(1920, 1080, 32, 60), Reached}));
        EXPECT_EQ(log.starting("player.call"), QStringList{LostFocus});
        expectSuspended();
        break;
    }
}

constexpr auto Press = QEvent::MouseButtonPress;
constexpr auto Release = QEvent::MouseButtonRelease;
constexpr auto KeyDown = QEvent::KeyPress;
constexpr auto KeyUp = QEvent::KeyRelease;
constexpr auto DoubleClick = QEvent::MouseButtonDblClick;
constexpr auto Menu = QEvent::ContextMenu;
constexpr Qt::KeyboardModifiers None = Qt::NoModifier;
constexpr Qt::KeyboardModifiers Ctrl = Qt::ControlModifier;

INSTANTIATE_TEST_SUITE_P(
    Rows, PlayerFilter,
    ::testing::Values(
        FilterRow{"RightPress", Press, Qt::RightButton, None, false, Consumed, false},
        FilterRow{"RightRelease", Release, Qt::RightButton, None, false, Consumed, false},
        FilterRow{"RightDoubleClick", DoubleClick, Qt::RightButton, None, false, Consumed, false},
        FilterRow{"ShiftRightPress", Press, Qt::RightButton, Qt::ShiftModifier, false, Consumed,
                  false},
        FilterRow{"LeftPress", Press, Qt::LeftButton, None, false, Passed, false},
        FilterRow{"LeftRelease", Release, Qt::LeftButton, None, false, Passed, false},
        FilterRow{"MenuByMouse", Menu, QContextMenuEvent::Mouse, None, false, Consumed, false},
        FilterRow{"MenuByKey", Menu, QContextMenuEvent::Keyboard, None, false, Consumed, false},
        FilterRow{"MenuKeyDown", KeyDown, Qt::Key_Menu, None, false, Consumed, false},
        FilterRow{"MenuKeyUp", KeyUp, Qt::Key_Menu, None, false, Passed, false},
        FilterRow{"CtrlDown", KeyDown, Qt::Key_Control, Ctrl, false, Consumed, true},
        FilterRow{"CtrlUp", KeyUp, Qt::Key_Control, None, true, Consumed, false},
        FilterRow{"CtrlReturn", KeyDown, Qt::Key_Return, Ctrl, true, Toggles, true},
        FilterRow{"CtrlEnter", KeyDown, Qt::Key_Enter, Ctrl, true, Toggles, true},
        FilterRow{"ReturnAlone", KeyDown, Qt::Key_Return, None, false, Passed, false},
        // The modifier alone does not count: only a Ctrl key-down that reached the player.
        FilterRow{"ReturnWithUnseenCtrl", KeyDown, Qt::Key_Return, Ctrl, false, Passed, false},
        FilterRow{"CtrlReturnUp", KeyUp, Qt::Key_Return, Ctrl, true, Passed, true},
        FilterRow{"CtrlSpace", KeyDown, Qt::Key_Space, Ctrl, true, Passed, true},
        FilterRow{"Meta", KeyDown, Qt::Key_Meta, None, false, LosesFocus, false},
        FilterRow{"SuperLeft", KeyDown, Qt::Key_Super_L, None, false, LosesFocus, false},
        FilterRow{"SuperRight", KeyDown, Qt::Key_Super_R, None, false, LosesFocus, false},
        FilterRow{"MetaUp", KeyUp, Qt::Key_Meta, None, false, Passed, false},
        FilterRow{"Space", KeyDown, Qt::Key_Space, None, false, Passed, false},
        FilterRow{"Backspace", KeyDown, Qt::Key_Backspace, None, false, Passed, false}),
    fakes::ByLabel);

TEST_F(InputTest, CtrlReleasedElsewhereLeavesEnterAloneToggling)
{
    startWithInput();
    QWidget elsewhere(window.get());
    send(KeyDown, Qt::Key_Control, Ctrl);
    send(KeyUp, Qt::Key_Control, None, &elsewhere);
    EXPECT_TRUE(RightClickModule2::CtrlDown());

    send(KeyDown, Qt::Key_Enter);
    expectPlaying(false);
    send(KeyDown, Qt::Key_Return);
    expectPlaying(true);

    // A Ctrl key-up that reaches the player ends it.
    send(KeyUp, Qt::Key_Control);
    log.clear();
    send(KeyDown, Qt::Key_Return);
    EXPECT_EQ(log.events, QStringList{Reached});
    expectPlaying(true);
}

TEST_F(InputTest, WithoutAPlayerWindowEverythingReachesThePlayer)
{
    startWithInput("QQuickWidget");
    EXPECT_EQ(RightClickModule2::PlayerHwnd(), nullptr);
    send(Press, Qt::RightButton);
    send(Menu, QContextMenuEvent::Mouse);
    send(Release, Qt::RightButton);
    send(KeyDown, Qt::Key_Menu);
    send(KeyDown, Qt::Key_Control, Ctrl);
    send(KeyDown, Qt::Key_Return, Ctrl);
    EXPECT_EQ(log.events, QStringList(6, Reached));
    EXPECT_FALSE(RightClickModule2::CtrlDown());
    expectPlaying(true);
}

// --- The search for the player's window ---------------------------------------------------

struct SearchCase {
    const char *label;
    friend void PrintTo(const SearchCase &c, std::ostream *os) { *os << c.label; }
    std::vector<std::pair<int, const char *>> windows; // parent index (-1: the window), name
    int found;                                          // index, -1: none
};

class PlayerWindowSearch : public InputTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(PlayerWindowSearch, TakesTheFirstMatchInCreationOrder)
{
    build();
    std::vector<QWidget *> made;
    for (const auto &[parent, name] : GetParam().windows) {
        made.push_back(new QWidget(parent < 0 ? window.get() : made[size_t(parent)]));
        made.back()->setObjectName(name);
    }
    window->Form_Load();
    EXPECT_EQ(RightClickModule2::PlayerHwnd(),
              GetParam().found < 0 ? nullptr : made[size_t(GetParam().found)]);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, PlayerWindowSearch,
    ::testing::Values(
        SearchCase{"PlayerName", {{-1, "Stage"}, {-1, "MacromediaFlashPlayerActiveX"}}, 1},
        SearchCase{"AtlFirst", {{-1, "ATL:00F3A2"}, {-1, "MacromediaFlashPlayerActiveX"}}, 0},
        SearchCase{"PlayerFirst", {{-1, "MacromediaFlashPlayerActiveX"}, {-1, "ATL:1"}}, 0},
        SearchCase{"BareAtlPrefix", {{-1, "ATL:"}}, 0},
        SearchCase{"Grandchild", {{-1, "Host"}, {0, "Frame"}, {1, "ATL:Shell"}}, 2},
        SearchCase{"NearMisses",
                   {{-1, "macromediaflashplayeractivex"}, {-1, "MacromediaFlashPlayerActiveX2"},
                    {-1, "atl:x"}, {-1, "ATL"}, {-1, "xATL:"}, {-1, " ATL:"}},
                   -1}),
    fakes::ByLabel);

// --- Focus through application activation ------------------------------------------------

enum class Step {
    Restore,
    Activate,
    QuietRestore,
    // The other one arrives while the first is inside its call into the movie.
    RestoreActivatedInside,
    ActivateResizedInside,
};

struct ReturnCase {
    const char *label;
    friend void PrintTo(const ReturnCase &c, std::ostream *os) { *os << c.label; }
    std::vector<Step> steps;
    bool gainedFirst; // the movie hears of the activation before the return's marker
};

class ReturnToFullScreen : public InputTest, public ::testing::WithParamInterface<ReturnCase> {};

TEST_P(ReturnToFullScreen, SuspendedThenBackExactlyOnce)
{
    startWithInput();
    // Minimising must already see the return flag set.
    QList<bool> flagWhenMinimised;
    log.tap = [&](const QString &) {
        if (window->isMinimized())
            flagWhenMinimised << FocusControls::ReturnToFullScreen;
    };
    application(QEvent::ApplicationDeactivate);
    log.tap = nullptr;
    EXPECT_EQ(log.events.first(), LostFocus);
    EXPECT_FALSE(flagWhenMinimised.isEmpty());
    EXPECT_FALSE(flagWhenMinimised.contains(false));
    expectSuspended();
    EXPECT_EQ(log.count("screensaver"), 0);

    for (Step step : GetParam().steps) {
        bool inside = false;
        const auto whileTellingTheMovie = [&](const std::function<void()> &other) {
            log.tap = [&, other](const QString &e) {
                if (e == Marker(true) && !std::exchange(inside, true))
                    other();
            };
        };
        if (step == Step::Activate) {
            application(QEvent::ApplicationActivate);
        } else if (step == Step::Restore) {
            window->SetWindowState(0);
        } else if (step == Step::RestoreActivatedInside) {
            whileTellingTheMovie([] { application(QEvent::ApplicationActivate); });
            window->SetWindowState(0);
        } else if (step == Step::ActivateResizedInside) {
            whileTellingTheMovie([&] { window->Form_Resize(); });
            application(QEvent::ApplicationActivate);
        } else {
            // The window becomes normal without its own handling noticing.
            Filter quiet([](QObject *, QEvent *e) {
                return e->type() == QEvent::WindowStateChange || e->type() == QEvent::Resize;
            });
            window->installEventFilter(&quiet);
            window->SetWindowState(0);
            window->removeEventFilter(&quiet);
            ASSERT_EQ(window->WindowState(), 0);
            ASSERT_TRUE(FocusControls::ReturnToFullScreen);
        }
        log.tap = nullptr;
        EXPECT_EQ(inside, step >= Step::RestoreActivatedInside);
    }
    EXPECT_FALSE(FocusControls::ReturnToFullScreen);
    window->Form_Resize(); // a late resize finds nothing more to do
    EXPECT_EQ(log.starting("player.call"),
              GetParam().gainedFirst ? QStringList({LostFocus, GainedFocus, Marker(true)})
                                     : QStringList({LostFocus, Marker(true), GainedFocus}))
        << log.dump();
    EXPECT_EQ(log.starting("display.Change"),
              QStringList({ModeText(1920, 1080, 32, 60), ModeText(800, 600, 32, 60)}));
    expectPlaying(true);
    EXPECT_FALSE(hasTitleBar());
}

INSTANTIATE_TEST_SUITE_P(
    Orders, ReturnToFullScreen,
    ::testing::Values(
        ReturnCase{"RestoredThenActivated", {Step::Restore, Step::Activate}, false},
        ReturnCase{"ActivatedWhileMinimised", {Step::Activate, Step::Restore}, true},
        ReturnCase{"ActivatedOnceNormal", {Step::QuietRestore, Step::Activate}, true},
        ReturnCase{"ActivatedDuringTheReturn", {Step::RestoreActivatedInside}, false},
        ReturnCase{"ResizedDuringTheReturn", {Step::QuietRestore, Step::ActivateResizedInside},
                   true}),
    fakes::ByLabel);

TEST_F(InputTest, FailedReturnIsTriedAgainOnTheNextOccasion)
{
    startWithInput();
    application(QEvent::ApplicationDeactivate);
    player->failNext = 2; // the marker fails, and once more on the second attempt
    window->SetWindowState(0);
    EXPECT_EQ(ui.errors.size(), 1);
    EXPECT_TRUE(FocusControls::ReturnToFullScreen);

    ui.errors.clear();
    application(QEvent::ApplicationActivate);
    EXPECT_EQ(log.starting("player.call").mid(3), QStringList({GainedFocus, Marker(true)}));
    expectPlaying(true);
}

TEST_F(InputTest, WindowModeAwayAndBackOnlyTellsTheMovie)
{
    startWithInput();
    window->GoWindowMode(false);
    log.clear();
    application(QEvent::ApplicationDeactivate);
    EXPECT_FALSE(FocusControls::AppActive);
    EXPECT_FALSE(FocusControls::ReturnToFullScreen);
    application(QEvent::ApplicationActivate);
    EXPECT_EQ(log.events, QStringList({LostFocus, GainedFocus}));
    expectPlaying(false);
    EXPECT_TRUE(hasTitleBar());
}

TEST_F(InputTest, MovieIsToldBeforeEarlierHandlersSeeTheActivation)
{
    // Stands for the handling that was in place before the main filter.
    Filter earlier([this](QObject *watched, QEvent *e) {
        if (watched == qApp && e->type() == QEvent::ApplicationActivate)
            log.add("app.Activate");
        if (watched == qApp && e->type() == QEvent::ApplicationDeactivate)
            log.add("app.Deactivate");
        return false;
    });
    qApp->installEventFilter(&earlier);
    start();
    application(QEvent::ApplicationDeactivate);
    application(QEvent::ApplicationActivate);
    EXPECT_TRUE(InOrder(log, {LostFocus, "app.Deactivate", GainedFocus, "app.Activate"}));
    EXPECT_EQ(log.count("app."), 2); // the main filter consumes nothing
}

TEST_F(InputTest, WindowsKeyThenDeactivationTellsLostFocusTwice)
{
    startWithInput();
    send(KeyDown, Qt::Key_Meta);
    application(QEvent::ApplicationDeactivate);
    EXPECT_EQ(log.starting("player.call"), QStringList({LostFocus, LostFocus}));
    EXPECT_EQ(log.count(Reached), 1);
    expectSuspended();

    window->SetWindowState(0);
    application(QEvent::ApplicationActivate);
    EXPECT_EQ(log.count(Marker(true)), 1);
    expectPlaying(true);
}

// --- The screen saver ----------------------------------------------------------------------

class ScreenSaverTest : public InputTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ScreenSaverTest, OffInFullScreenOnInWindowModeOnLinksAndAtTheEnd)
{
    const bool wasActive = GetParam();
    screenSaver.active = wasActive;
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
        EXPECT_EQ(screenSaver.active, wasActive && onWhenWasActive) << label;
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

INSTANTIATE_TEST_SUITE_P(AtStart, ScreenSaverTest, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "WasActive" : "WasOff"; });

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
    const auto activate = [](QWidget *w) {
        w->show();
        QApplication::setActiveWindow(w);
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
