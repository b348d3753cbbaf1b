// The input filters and focus with synthetic Qt events: what the player filter consumes and
// what it triggers, the search for the player's window and the focus steps driven by
// application activation.
#include "InputTestFixture.h"

#include "shell/Screenshot.h"

using fakes::Call;
using fakes::InOrder;
using fakes::Marker;
using fakes::ModeText;
using namespace input_test;

namespace {

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
    quint32 keysym = 0; // the native key, as the X server gives it
    bool autoRepeat = false;
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

    send(r.type, r.code, r.mods, nullptr, r.keysym, r.autoRepeat);

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
        FilterRow{"CtrlReturnRepeated", KeyDown, Qt::Key_Return, Ctrl, true, Passed, true, 0,
                  true},
        FilterRow{"CtrlReturnUp", KeyUp, Qt::Key_Return, Ctrl, true, Passed, true},
        FilterRow{"CtrlSpace", KeyDown, Qt::Key_Space, Ctrl, true, Passed, true},
        // Qt calls both the Windows keys and Shift+Alt (Meta_L) Key_Meta.
        FilterRow{"WindowsKeyAsMeta", KeyDown, Qt::Key_Meta, None, false, LosesFocus, false,
                  XK_Super_L},
        FilterRow{"ShiftAltAsMeta", KeyDown, Qt::Key_Meta, Qt::ShiftModifier | Qt::AltModifier,
                  false, Passed, false, XK_Meta_L},
        FilterRow{"SuperLeft", KeyDown, Qt::Key_Super_L, None, false, LosesFocus, false},
        FilterRow{"SuperRight", KeyDown, Qt::Key_Super_R, None, false, LosesFocus, false},
        FilterRow{"MetaUp", KeyUp, Qt::Key_Meta, None, false, Passed, false},
        FilterRow{"Space", KeyDown, Qt::Key_Space, None, false, Passed, false},
        FilterRow{"Backspace", KeyDown, Qt::Key_Backspace, None, false, Passed, false}),
    fakes::ByLabel);

TEST_F(InputTest, CtrlReleasedElsewhereLeavesEnterAloneAPlainKey)
{
    startWithInput();
    QWidget elsewhere(window.get());
    send(KeyDown, Qt::Key_Control, Ctrl);
    send(KeyUp, Qt::Key_Control, None, &elsewhere);
    EXPECT_TRUE(RightClickModule2::CtrlDown());

    send(KeyDown, Qt::Key_Enter);
    expectPlaying(true);
    send(KeyDown, Qt::Key_Return, Ctrl); // held again, its key-down gone elsewhere
    expectPlaying(false);

    // A Ctrl key-up that reaches the player ends it.
    send(KeyUp, Qt::Key_Control);
    log.clear();
    send(KeyDown, Qt::Key_Return, Ctrl);
    EXPECT_EQ(log.events, QStringList{Reached});
    expectPlaying(false);
}

TEST_F(InputTest, HeldCtrlEnterTogglesOnceThoughQtMissesARepeat)
{
    startWithInput();
    send(KeyDown, Qt::Key_Control, Ctrl);
    // The X server repeats a held key as a release and a press of one time stamp.
    const std::pair<QEvent::Type, int> keys[] = {{KeyDown, 1000}, {KeyUp, 1660}, {KeyDown, 1660}};
    for (const auto &[type, time] : keys) {
        QKeyEvent e(type, Qt::Key_Return, Ctrl, 36, 0xff0d, 0x4);
        e.setTimestamp(time);
        QCoreApplication::sendEvent(input, &e);
    }
    expectPlaying(false);
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

TEST_F(InputTest, FailingFocusCallsStillMoveTheGameAndAreReportedOnce)
{
    screenSaver.active = true;
    startWithInput();
    player->failFor << "notifyGame";
    application(QEvent::ApplicationDeactivate);
    expectSuspended();
    EXPECT_TRUE(screenSaver.active);
    // Back and away again (the Windows key, then the deactivation): no new report.
    window->SetWindowState(0);
    application(QEvent::ApplicationActivate);
    EXPECT_EQ(display.size(), Stage);
    send(KeyDown, Qt::Key_Meta, None, nullptr, XK_Super_L);
    application(QEvent::ApplicationDeactivate);
    expectSuspended();
    EXPECT_EQ(ui.errors.size(), 1);
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
    send(KeyDown, Qt::Key_Meta, None, nullptr, XK_Super_L);
    application(QEvent::ApplicationDeactivate);
    EXPECT_EQ(log.starting("player.call"), QStringList({LostFocus, LostFocus}));
    EXPECT_EQ(log.count(Reached), 1);
    expectSuspended();

    window->SetWindowState(0);
    application(QEvent::ApplicationActivate);
    EXPECT_EQ(log.count(Marker(true)), 1);
    expectPlaying(true);
}

// --- F12: a screenshot ------------------------------------------------------------------

TEST_F(InputTest, F12SavesTheStageAtItsOwnSizeOncePerPressAndTheMovieGetsTheKey)
{
    fullScreenKind = DisplayOptions::FullScreen::Desktop; // the stage shown at 1440x1080
    startWithInput();
    send(KeyDown, Qt::Key_F12);
    QKeyEvent repeated(KeyDown, Qt::Key_F12, None, QString(), true);
    QCoreApplication::sendEvent(input, &repeated);
    send(KeyDown, Qt::Key_F12);
    EXPECT_EQ(log.count(Reached), 2);
    QDir folder(data.filePath("Pictures/Lanternfall"));
    const QStringList files = folder.entryList(QDir::Files);
    ASSERT_EQ(files.size(), 2);
    for (const QString &name : files)
        EXPECT_EQ(QImage(folder.filePath(name)).size(), Stage);
    // No folder for the pictures: a note, and the game goes on.
    folder.removeRecursively();
    writeFile(folder.path(), "a file where the folder would be");
    send(KeyDown, Qt::Key_F12);
    EXPECT_EQ(log.count(Reached), 3);
    EXPECT_TRUE(ui.errors.isEmpty());
}

TEST_F(InputTest, ScreenshotsAreNamedAfterTheSecondAndNeverWrittenOverAFile)
{
    const QString folder = data.filePath("Pictures/Lanternfall");
    const QDateTime when(QDate(2026, 12, 9), QTime(23, 5, 7));
    const QString taken = folder + "/Lanternfall-2026-12-09-230507-2.png";
    writeFile(taken, "another program's file");
    const QImage picture(Stage, QImage::Format_RGB32);
    EXPECT_EQ(Screenshot::Save(picture, folder, when), folder + "/Lanternfall-2026-12-09-230507.png");
    EXPECT_EQ(Screenshot::Save(picture, folder, when), folder + "/Lanternfall-2026-12-09-230507-3.png");
    EXPECT_EQ(readFile(taken), "another program's file");
}

} // namespace
