// Start-up of the window with fakes: the order of its steps, the single-copy rule, the
// link-info file, the save folder, the portrait refusal, and the close request.
#include "WindowTestFixture.h"

#include <QApplication>

using fakes::InOrder;
using fakes::Marker;
using fakes::ModeText;

namespace {

class StartupTest : public WindowTest {};

TEST_F(StartupTest, StepsRunInTheirOrder)
{
    build();
    window->move(40, 70);
    const QString save = expectedSaveFolder();
    const QString movie = "player.setMovie " + program.filePath("morrow.swf");
    QStringList snapshots; // what the other steps had done when a service was asked
    log.tap = [&](const QString &event) {
        snapshots << QStringLiteral("%1 | links=%2 save=%3 shown=%4")
                         .arg(event, window->ExitSurveyUrl().isEmpty() ? "no" : "yes",
                              QDir(save).exists() ? "yes" : "no",
                              window->isVisible() ? "yes" : "no");
    };
    window->Form_Load();
    log.tap = nullptr;

    EXPECT_TRUE(
        InOrder(log,
                {"screensaver.IsActive", "display.Enum", "lock.AnotherCopyRuns", "env APPDATA",
                 movie, "player.setAllowFullScreen False", "display.Enum",
                 ModeText(800, 600, 32, 60), "window.SetStyle 0x160f0000",
                 "player.setContainerRect 0,0 800x600", Marker(true), "window.MoveTo 0,0"}));
    EXPECT_TRUE(snapshots.contains("display.Enum | links=no save=no shown=no"));
    EXPECT_TRUE(snapshots.contains("lock.AnotherCopyRuns | links=yes save=no shown=no"));
    EXPECT_TRUE(snapshots.contains(movie + " | links=yes save=yes shown=no"));
    EXPECT_EQ(log.count("display.Change"), 1);
    EXPECT_EQ(log.count("player.call"), 1);
    EXPECT_EQ(log.events.last(), "player.setContainerRect 0,0 800x600");

    EXPECT_TRUE(window->fullScreen);
    EXPECT_FALSE(hasTitleBar());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->pos(), QPoint(0, 0));
    EXPECT_EQ(window->windowTitle(), "Lanternfall");
    EXPECT_EQ(GameSettings::MainHwnd, window.get());
    EXPECT_EQ(player->containerRect(), QRect(0, 0, 800, 600));
    EXPECT_EQ(window->FrameExtraWidth(), 8);
    EXPECT_EQ(window->FrameExtraHeight(), 30);
    EXPECT_EQ(window->SavePath(), save);
    EXPECT_EQ(process.ends, 0);
    EXPECT_TRUE(ui.errors.isEmpty());
}

TEST_F(StartupTest, ScreenSaverStateIsRecordedAndSwitchedOffForFullScreen)
{
    screenSaver.active = true;
    build().Form_Load();
    EXPECT_TRUE(window->ScreenSaverWasActive());
    EXPECT_TRUE(InOrder(log, {"screensaver.SetActive false", Marker(true)}));
}

TEST_F(StartupTest, SecondCopyEndsBeforeShowingLoadingOrSaving)
{
    lock.otherCopy = true;
    build().Form_Load();
    EXPECT_EQ(process.ends, 1);
    EXPECT_EQ(log.events.last(), "process.EndNow");
    EXPECT_EQ(window->windowTitle(), "Lanternfall");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(log.count("player."), 0);
    EXPECT_EQ(log.count("env "), 0);
    EXPECT_EQ(log.count("display.Change"), 0);
    EXPECT_FALSE(QDir(env["APPDATA"]).exists());
}

TEST_F(StartupTest, NarrowPortraitDesktopIsRefusedBeforeAnythingElse)
{
    display.setDesktop(600, 800, 32, 60);
    build().Form_Load();
    EXPECT_EQ(log.events,
              QStringList({"screensaver.IsActive", "display.Select screen", "display.Enum",
                           "ui.ShowMessage Resolution Issue|This game does not support "
                           "portrait mode resolutions. Please set your monitor to "
                           "Landscape mode and restart the game.",
                           "inhibit.Flush", "process.EndNow"}));
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(QDir(expectedSaveFolder()).exists());
}

TEST_F(StartupTest, WidePortraitDesktopStartsWithoutFullScreen)
{
    display.setDesktop(1080, 1920, 32, 60);
    build().Form_Load();
    EXPECT_TRUE(GameSettings::PortraitDisplay);
    EXPECT_EQ(log.count("ui."), 0);
    EXPECT_EQ(log.count("display.Change"), 0);
    EXPECT_EQ(log.count("player.call"), 0);
    EXPECT_TRUE(hasTitleBar());
    EXPECT_FALSE(window->fullScreen); // the game plays in its window, and the flag says so
    EXPECT_TRUE(window->isVisible());
    // So a change of focus leaves the window where it is.
    QEvent deactivate(QEvent::ApplicationDeactivate);
    QApplication::sendEvent(qApp, &deactivate);
    EXPECT_EQ(window->WindowState(), 0);
}

TEST_F(StartupTest, ExistingSavesStayAndOnlyOurLeftoverTemporaryFilesGo)
{
    const QString save = expectedSaveFolder();
    writeFile(save + "/Anna.xml", "<level>3</level>\r\n");
    // What saves killed half-way leave behind: our prefix, a base-36 number, our suffix.
    writeFile(save + "/.lanternfall-save-3kz9q01x7m2a.tmp", "<lev");
    writeFile(save + "/.lanternfall-save-0.tmp", "");
    // Names that only look like ours, and a folder and a link with our kind of name.
    const QStringList kept{".lanternfall-save-.tmp",      ".lanternfall-save-ABC.tmp",
                           ".lanternfall-save-abc.tmp.xml", ".lanternfall-save-abc.tmpx",
                           "lanternfall-save-abc.tmp",    ".lanternfall-save-0123456789abcd.tmp",
                           ".lanternfall-save-a b.tmp",   "notes.tmp"};
    for (const QString &name : kept)
        writeFile(save + "/" + name, "keep");
    ASSERT_TRUE(QDir(save).mkdir(".lanternfall-save-dir.tmp"));
    writeFile(data.filePath("outside.txt"), "keep");
    ASSERT_TRUE(QFile::link(data.filePath("outside.txt"), save + "/.lanternfall-save-link.tmp"));

    start();

    EXPECT_EQ(readFile(save + "/Anna.xml"), "<level>3</level>\r\n");
    QStringList expected = kept + QStringList{"Anna.xml", ".lanternfall-save-dir.tmp",
                                              ".lanternfall-save-link.tmp"};
    expected.sort();
    QStringList found = QDir(save).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                             QDir::Hidden | QDir::System);
    found.sort();
    EXPECT_EQ(found, expected);
    EXPECT_EQ(readFile(data.filePath("outside.txt")), "keep");
}

// --- The link-info file -----------------------------------------------------------------

struct LinkInfoCase {
    const char *label;
    friend void PrintTo(const LinkInfoCase &c, std::ostream *os) { *os << c.label; }
    const char *content; // nullptr: no file
    const char *exitSurvey, *strategyGuide;
};

class LinkInfoTest : public WindowTest, public ::testing::WithParamInterface<LinkInfoCase> {};

TEST_P(LinkInfoTest, TwoLinesWithoutTerminatorsAndTheHostStartsAnyway)
{
    const LinkInfoCase &c = GetParam();
    if (c.content)
        setLinkInfo(c.content);
    else
        ASSERT_TRUE(QFile::remove(linkInfoPath()));
    build().Form_Load();
    EXPECT_EQ(window->ExitSurveyUrl(), c.exitSurvey);
    EXPECT_EQ(window->StrategyGuideUrl(), c.strategyGuide);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(log.count("player.setMovie"), 1);
    EXPECT_EQ(process.ends, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LinkInfoTest,
    ::testing::Values(
        LinkInfoCase{"CrLf", "http://a/s\r\nhttp://b/g\r\n", "http://a/s", "http://b/g"},
        LinkInfoCase{"BareLf", "http://a/s\nhttp://b/g\n", "http://a/s", "http://b/g"},
        LinkInfoCase{"NoFinalBreak", "a\r\nb", "a", "b"},
        LinkInfoCase{"ThreeLines", "one\r\ntwo\r\nthree\r\n", "one", "two"},
        LinkInfoCase{"EmptyFirstLine", "\r\ntwo\r\n", "", "two"},
        LinkInfoCase{"OneLine", "only\r\n", "only", ""}, LinkInfoCase{"EmptyFile", "", "", ""},
        LinkInfoCase{"Missing", nullptr, "", ""}),
    fakes::ByLabel);

// --- The save folder ----------------------------------------------------------------------

struct SaveFolderCase {
    const char *label;
    friend void PrintTo(const SaveFolderCase &c, std::ostream *os) { *os << c.label; }
    const char *appData, *xdgDataHome; // nullptr: unset; absolute ones lie in the data folder
    const char *expected;              // in the data folder
};

class SaveFolderTest : public WindowTest, public ::testing::WithParamInterface<SaveFolderCase> {};

TEST_P(SaveFolderTest, IsBuiltFromTheEnvironmentAndCreated)
{
    const SaveFolderCase &c = GetParam();
    auto value = [this](const char *v) {
        return QString(v).startsWith('/') ? data.path() + v : QString(v);
    };
    env.remove("APPDATA");
    if (c.appData)
        env["APPDATA"] = value(c.appData);
    if (c.xdgDataHome)
        env["XDG_DATA_HOME"] = value(c.xdgDataHome);
    start();
    EXPECT_EQ(window->SavePath(), data.path() + c.expected);
    EXPECT_TRUE(QFileInfo(data.path() + c.expected).isDir());
}

INSTANTIATE_TEST_SUITE_P(
    Environment, SaveFolderTest,
    ::testing::Values(
        SaveFolderCase{"AppData", "/roaming", nullptr, "/roaming/Lanternfall"},
        SaveFolderCase{"AppDataTrailingSlash", "/roaming/", nullptr, "/roaming/Lanternfall"},
        SaveFolderCase{"AppDataWinsOverXdg", "/roaming", "/xdg", "/roaming/Lanternfall"},
        SaveFolderCase{"EmptyAppDataUsesXdg", "", "/xdg/data", "/xdg/data/Lanternfall"},
        SaveFolderCase{"UnsetAppDataUsesXdg", nullptr, "/xdg", "/xdg/Lanternfall"},
        SaveFolderCase{"RelativeXdgIsIgnored", nullptr, "rel/data",
                       "/home/.local/share/Lanternfall"},
        SaveFolderCase{"RelativeAppDataIsIgnored", "rel/roaming", "/xdg", "/xdg/Lanternfall"},
        SaveFolderCase{"NeitherSet", nullptr, nullptr, "/home/.local/share/Lanternfall"}),
    fakes::ByLabel);

TEST(SaveFolderPath, NeverAtTheRootWhenNothingIsSet)
{
    const QString path =
        HostPaths::SaveFolder("Lanternfall", [](const char *) { return QString(); });
    EXPECT_TRUE(QDir::isAbsolutePath(path));
    EXPECT_FALSE(path.startsWith("//"));
    EXPECT_TRUE(path.endsWith("/.local/share/Lanternfall")) << path.toStdString();
}

// --- The close request --------------------------------------------------------------------

TEST_F(StartupTest, AMovieThatCannotStartGivesTheDesktopBackTellsWhyAndEnds)
{
    screenSaver.active = true;
    start();
    ASSERT_EQ(display.size(), QSize(800, 600));
    ASSERT_FALSE(screenSaver.active);
    const QString why = "The movie \"/x/morrow.swf\" is not a Flash movie or is damaged: "
                        "the file is empty.";
    emit player->startFailed(why);

    EXPECT_EQ(log.events, (QStringList{fakes::ModeText(1920, 1080, 32, 60),
                                       "screensaver.SetActive true", "inhibit.Release",
                                       "ui.ShowMessage Lanternfall|" + why, "inhibit.Flush",
                                       "process.EndNow"}))
        << log.dump();
    EXPECT_EQ(process.exitCode, 1);
    EXPECT_FALSE(window->isVisible());
    // The program is ending: a change of focus does nothing any more (no call into the
    // movie, no return to full screen).
    log.clear();
    QEvent deactivate(QEvent::ApplicationDeactivate);
    QApplication::sendEvent(qApp, &deactivate);
    QEvent activate(QEvent::ApplicationActivate);
    QApplication::sendEvent(qApp, &activate);
    // Nor does a command the movie still raises: nothing is saved behind the message.
    emit player->FSCommand("SaveHighScores", "late");
    emit player->FSCommand("game_fullscrn", "true");
    EXPECT_TRUE(log.events.isEmpty()) << log.dump();
    EXPECT_FALSE(QFile::exists(window->SavePath() + "/hs.dat"));
    EXPECT_TRUE(ui.errors.isEmpty());
}

TEST_F(StartupTest, CloseIsHandedToTheMovieAndTheWindowStays)
{
    start();
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(log.events, QStringList{fakes::Call("CloseRequested", "")});
    EXPECT_EQ(player->requests.last(),
              "<invoke name=\"CloseRequested\" returntype=\"void\">"
              "<arguments><string></string></arguments></invoke>");
    EXPECT_EQ(process.ends, 0);
}

TEST_F(StartupTest, CloseGoesAheadWhenTheMovieCannotBeTold)
{
    start();
    player->failFor << "CloseRequested";
    // Raised while the host waited for the movie's answer: still saved on the way out.
    player->waiting = {{"SaveLevelData", "ANNA|kept"}};
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(log.count("player.call CloseRequested"), 1);
    EXPECT_EQ(readFile(window->SavePath() + "/ANNA.xml"), "kept\r\n");
    // Nothing after that.
    emit player->FSCommand("SaveHighScores", "late");
    EXPECT_FALSE(QFile::exists(window->SavePath() + "/hs.dat"));
}

} // namespace
