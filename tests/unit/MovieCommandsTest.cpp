// The movie's commands, raised through the fake player's FSCommand event, against a real
// temporary save folder: the files they leave, the answers the movie gets, and the failures
// that are reported while the program goes on.
#include "MovieCommandsFixture.h"

#include "bridge/core/ProtocolTrace.h"
#include "bridge/core/SaveFiles.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using fakes::Call;
using fakes::InOrder;
using fakes::Marker;
using fakes::ModeText;

namespace {

const QString DefaultHighScores = QStringLiteral(
    "<highscores><users><0>Mr.Morrow</0></users><times><0>360000</0></times></highscores>");

// --- Recognition --------------------------------------------------------------------------

TEST_F(MovieCommandsTest, UnknownCommandsAndDebugDataDoNothing)
{
    writeFile(path("Anna.xml"), "keep\r\n");
    const QStringList before = everything();
    for (const char *name : {"getplayerlist", "GETPLAYERLIST", "GetPlayerList ", " GetPlayerList",
                             "Quit", "QUIT", "quit ", "showsurvey", "Game_fullscrn", "createplayer",
                             "SaveLevelData ", "readhighscores", "", "DebugData"}) {
        command(name, "Bob|data");
        command(name, "");
    }
    EXPECT_TRUE(log.events.isEmpty()) << log.dump();
    EXPECT_EQ(everything(), before);
    EXPECT_EQ(readFile(path("Anna.xml")), "keep\r\n");
}

TEST_F(MovieCommandsTest, FlashCallFunctionReturnsEmptyWhateverTheMovieAnswers)
{
    EXPECT_EQ(window->FlashCallFunction("notifyGame", "gainedFocus"), QString());
    EXPECT_EQ(player->requests.last(), InvokeRequest::Build("notifyGame", "gainedFocus"));
}

// --- The player list ----------------------------------------------------------------------

TEST_F(MovieCommandsTest, EmptyOrMissingFolderGivesAnEmptyList)
{
    command("GetPlayerList", "ignored");
    ASSERT_TRUE(QDir(save).removeRecursively());
    command("GetPlayerList");
    EXPECT_EQ(log.events, QStringList(2, Call("PlayerLoadComplete", "")));
}

struct OrderCase {
    const char *label;
    friend void PrintTo(const OrderCase &c, std::ostream *os) { *os << c.label; }
    qint64 anna, bob, carl; // write times; 0 = cannot be read
    const char *expected;
};

class PlayerListOrder : public MovieCommandsTest,
                        public ::testing::WithParamInterface<OrderCase> {};

TEST_P(PlayerListOrder, NewestIsSwappedToTheFront)
{
    const OrderCase &c = GetParam();
    const qint64 base = 1'600'000'000;
    profile("anna.xml", c.anna ? base + c.anna : 0);
    profile("Bob.xml", c.bob ? base + c.bob : 0);
    profile("carl.XML", c.carl ? base + c.carl : 0);
    profile("notes.txt", base + 999); // not a profile
    command("GetPlayerList");
    EXPECT_EQ(player->answers("PlayerLoadComplete"), QStringList{c.expected});
}

INSTANTIATE_TEST_SUITE_P(
    Times, PlayerListOrder,
    ::testing::Values(OrderCase{"CarlNewest", 1, 2, 3, "CARL,BOB,ANNA"},
                      OrderCase{"BobNewest", 1, 3, 2, "BOB,ANNA,CARL"},
                      OrderCase{"AnnaNewest", 3, 1, 2, "ANNA,BOB,CARL"},
                      OrderCase{"BobAndCarlEquallyNewest", 1, 3, 3, "BOB,ANNA,CARL"},
                      OrderCase{"AnnaAndCarlEquallyNewest", 3, 1, 3, "ANNA,BOB,CARL"},
                      OrderCase{"UnreadableFirstStaysBehind", 0, 1, 2, "CARL,BOB,ANNA"},
                      OrderCase{"UnreadableNeverMovesUp", 1, 0, 1, "ANNA,BOB,CARL"},
                      OrderCase{"OnlyOneReadable", 0, 0, 1, "CARL,BOB,ANNA"},
                      OrderCase{"NoneReadableKeepsOrder", 0, 0, 0, "ANNA,BOB,CARL"}),
    fakes::ByLabel);

// --- Profiles -----------------------------------------------------------------------------

TEST_F(MovieCommandsTest, ProfileIsAddressedWithoutRegardToCase)
{
    command("LoadLevelData", "Anna"); // no file yet
    command("CreatePlayer", "Anna");
    EXPECT_EQ(readFile(path("Anna.xml")), "");
    command("LoadLevelData", "Anna");
    command("GetPlayerList");
    command("SaveLevelData", "ANNA|abc|def");
    EXPECT_EQ(readFile(path("Anna.xml")), "abc|def\r\n"); // the data keeps its own "|"
    command("LoadLevelData", "ANNA");
    command("SaveLevelData", "anna|");
    EXPECT_EQ(readFile(path("Anna.xml")), "\r\n");
    EXPECT_EQ(QDir(save).entryList(QDir::Files | QDir::Hidden), QStringList{"Anna.xml"});
    command("DeletePlayer", "ANNA");
    command("GetPlayerList");

    EXPECT_EQ(player->answers("LevelLoadComplete"), QStringList({"", "", "abc|def\r\n"}));
    EXPECT_EQ(player->answers("PlayerLoadComplete"), QStringList({"ANNA", ""}));
    EXPECT_TRUE(QDir(save).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_TRUE(ui.errors.isEmpty()) << ui.errors.join('\n').toStdString();
}

// --- High scores and configuration ----------------------------------------------------

struct StoredTextCase {
    const char *label;
    friend void PrintTo(const StoredTextCase &c, std::ostream *os) { *os << c.label; }
    bool highScores;  // else the configuration
    const char *text; // stored before reading; nullptr: no file
    QString expected;
};

class StoredText : public MovieCommandsTest,
                   public ::testing::WithParamInterface<StoredTextCase> {};

TEST_P(StoredText, ShortTextsGiveTheDefault)
{
    const StoredTextCase &c = GetParam();
    const QStringList names = c.highScores
        ? QStringList{"SaveHighScores", "hs.dat", "ReadHighScores", "HSReadComplete"}
        : QStringList{"WriteConfigData", "config.dat", "ReadConfigData", "ConfigDataReadComplete"};
    if (c.text) {
        command(names[0], c.text);
        EXPECT_EQ(readFile(path(names[1])), QByteArray(c.text) + "\r\n");
    }
    command(names[2], "ignored");
    EXPECT_EQ(log.events, QStringList{Call(names[3], c.expected)});
}

INSTANTIATE_TEST_SUITE_P(
    Files, StoredText,
    ::testing::Values(StoredTextCase{"NoHighScores", true, nullptr, DefaultHighScores},
                      StoredTextCase{"HighScoresOf8", true, "12345678", "12345678\r\n"},
                      StoredTextCase{"HighScoresOf7", true, "1234567", DefaultHighScores},
                      StoredTextCase{"NoConfig", false, nullptr, "testdata"},
                      StoredTextCase{"ConfigOf2", false, "ab", "testdata"},
                      StoredTextCase{"ConfigOf3", false, "abc", "abc\r\n"}),
    fakes::ByLabel);

// --- Failures are reported and the program goes on --------------------------------------

struct RefusedCase {
    const char *label;
    friend void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.label; }
    const char *command;
    QString argument;
    const char *mentioned; // what the report names
};

class RefusedCommand : public MovieCommandsTest,
                       public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedCommand, IsReportedAndTouchesNothing)
{
    const RefusedCase &c = GetParam();
    writeFile(path("Anna.xml"), "<old/>\r\n");
    writeFile(save + "/../keep.xml", "outside\r\n");
    const QStringList before = everything();

    command(c.command, c.argument);

    ASSERT_EQ(ui.errors.size(), 1) << log.dump();
    EXPECT_TRUE(ui.errors[0].contains(c.mentioned)) << ui.errors[0].toStdString();
    EXPECT_EQ(log.count("player.call"), 0);
    EXPECT_EQ(everything(), before);
    EXPECT_EQ(readFile(path("Anna.xml")), "<old/>\r\n");
    EXPECT_EQ(readFile(save + "/../keep.xml"), "outside\r\n");
    EXPECT_EQ(process.ends, 0);

    command("GetPlayerList"); // the program goes on
    EXPECT_EQ(player->answers("PlayerLoadComplete"), QStringList{"ANNA"});
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, RefusedCommand,
    ::testing::Values(RefusedCase{"SaveWithoutBar", "SaveLevelData", "Anna", "Anna"},
                      RefusedCase{"SaveEmpty", "SaveLevelData", "", "SaveLevelData"},
                      RefusedCase{"DeleteMissing", "DeletePlayer", "Bob", "Bob.xml"},
                      RefusedCase{"CreateOutside", "CreatePlayer", "../escape", "../escape"},
                      RefusedCase{"SaveOutside", "SaveLevelData", "../keep|overwritten", "../keep"},
                      RefusedCase{"DeleteOutside", "DeletePlayer", "../keep", "../keep"},
                      RefusedCase{"Backslash", "CreatePlayer", "sub\\name", "sub\\name"},
                      RefusedCase{"Nul", "CreatePlayer", QString("an") + QChar(0) + "na",
                                  "an\\0na"}),
    fakes::ByLabel);

// Reads never fail: a name that cannot be a profile loads nothing, and the movie, which
// waits for its answer, gets one.
TEST_F(MovieCommandsTest, ARefusedNameLoadsNothingAndIsStillAnswered)
{
    writeFile(save + "/../keep.xml", "outside\r\n");
    const QStringList before = everything();
    for (const QString &name : {QString("../keep"), QString("a\\b"), QString("/"),
                                QString("an") + QChar(0) + "na"})
        command("LoadLevelData", name);
    EXPECT_EQ(player->answers("LevelLoadComplete"), QStringList(4, QString()));
    EXPECT_TRUE(ui.errors.isEmpty()) << ui.errors.join('\n').toStdString();
    EXPECT_EQ(everything(), before);
}

// The player list upper-cases names by the full Unicode mapping; every name it lists must
// find the very file it was listed for, for loading, saving and deleting, and never make
// a second file. Names whose upper case is no one-to-one letter map: sharp s, dotless and
// dotted i, ligatures, Greek final sigma; and two names that differ only in case.
TEST_F(MovieCommandsTest, EveryListedNameFindsItsOwnFile)
{
    const QStringList files{"Straße.xml", "ıpek.xml", "İnci.xml", "ﬂour.xml",
                            "Οδός.xml",   "anna.xml", "ANNA.xml"};
    for (const QString &file : files)
        writeFile(path(file), file.toUtf8() + "\r\n");
    command("GetPlayerList");
    ASSERT_EQ(player->answers("PlayerLoadComplete").size(), 1);
    const QStringList listed = player->answers("PlayerLoadComplete")[0].split(u',');
    EXPECT_EQ(QSet<QString>(listed.begin(), listed.end()),
              (QSet<QString>{"STRASSE", "IPEK", "İNCI", "FLOUR", "ΟΔΌΣ", "ANNA"}));
    ASSERT_EQ(listed.size(), files.size());

    for (const QString &name : listed) {
        player->requests.clear();
        command("LoadLevelData", name);
        const QString text = player->answers("LevelLoadComplete").value(0);
        EXPECT_EQ(SaveFiles::ListedName(text.chopped(2)), name) << name.toStdString();
    }
    for (const QString &name : listed)
        command("SaveLevelData", name + "|saved");
    EXPECT_EQ(QDir(save).entryList(QDir::Files).size(), files.size()) << everything().join(' ').toStdString();
    for (const QString &name : listed)
        command("DeletePlayer", name);
    EXPECT_TRUE(ui.errors.isEmpty()) << ui.errors.join('\n').toStdString();
    EXPECT_TRUE(QDir(save).entryList(QDir::Files).isEmpty()) << everything().join(' ').toStdString();
}

// The trace has each command as it is received, so also a command that ends the program,
// and the command's outcome once it is done.
TEST_F(MovieCommandsTest, TheTraceHasEveryCommandWhenReceivedAndItsOutcome)
{
    QTemporaryDir traceDir;
    const QString tracePath = traceDir.filePath("trace.jsonl");
    ProtocolTrace::SetFileForTesting(tracePath);
    auto lines = [&] {
        QStringList found;
        QFile file(tracePath);
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray &line : file.readAll().split('\n'))
                if (!line.isEmpty()) {
                    const QJsonObject o = QJsonDocument::fromJson(line).object();
                    found << o["dir"].toString() + " " + o["name"].toString() + " " +
                                 o["outcome"].toString().section(':', 0, 0);
                }
        return found;
    };
    // The last line of the trace whenever the process is told to end.
    QStringList lastAtEnd;
    log.tap = [&](const QString &event) {
        if (event == "process.EndNow")
            lastAtEnd << lines().value(lines().size() - 1);
    };
    command("ReadConfigData");
    command("SaveLevelData", "no bar");
    command("quit");
    // The fake process returns: the program has decided to end, and runs no more commands.
    command("ReadConfigData");
    restartOn(1920, 1080);
    command("ShowSurvey");
    ProtocolTrace::SetFileForTesting(QString());

    EXPECT_EQ(lastAtEnd, (QStringList{"command quit received", "command ShowSurvey received"}));
    // The fake process returns, so the two that end the program get an outcome here too.
    EXPECT_EQ(lines(), (QStringList{"command ReadConfigData received", "command ReadConfigData ok",
                                    "command SaveLevelData received", "command SaveLevelData error",
                                    "command quit received", "command quit ok",
                                    "command ReadConfigData not run",
                                    "command ShowSurvey received", "command ShowSurvey ok"}));
}

TEST_F(MovieCommandsTest, ReadOnlyProfileIsNotOverwritten)
{
    writeFile(path("Anna.xml"), "<old/>\r\n");
    ASSERT_EQ(chmod(QFile::encodeName(path("Anna.xml")).constData(), 0444), 0);
    command("SaveLevelData", "ANNA|<new/>");
    command("CreatePlayer", "anna");

    ASSERT_EQ(ui.errors.size(), 2);
    for (const QString &error : ui.errors)
        EXPECT_TRUE(error.contains(path("Anna.xml"))) << error.toStdString();
    EXPECT_EQ(readFile(path("Anna.xml")), "<old/>\r\n");
    EXPECT_EQ(process.ends, 0);
    command("LoadLevelData", "Anna");
    EXPECT_EQ(player->answers("LevelLoadComplete"), QStringList{"<old/>\r\n"});
}

TEST_F(MovieCommandsTest, FailingAnswerIsReportedAndTheProgramGoesOn)
{
    player->failFor << "PlayerLoadComplete";
    command("GetPlayerList");
    ASSERT_EQ(ui.errors.size(), 1);
    EXPECT_TRUE(ui.errors[0].contains("GetPlayerList")) << ui.errors[0].toStdString();
    EXPECT_TRUE(ui.errors[0].contains("PlayerLoadComplete")) << ui.errors[0].toStdString();
    command("ReadConfigData");
    EXPECT_EQ(player->answers("ConfigDataReadComplete"), QStringList{"testdata"});
    EXPECT_EQ(process.ends, 0);
}

} // namespace
