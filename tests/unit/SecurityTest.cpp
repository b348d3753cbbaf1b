// What the movie and its page can reach: through the web channel only the command entry
// (the real channel and the real bridge, with a transport that plays the page's part), and
// through player names only files inside the save folder.
#include "WindowTestFixture.h"

#include "shell/player/PageBridge.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QWebChannel>
#include <QWebChannelAbstractTransport>

#include <map>
#include <set>

namespace {

// --- The web channel ---------------------------------------------------------------------

// The page's end of the channel: what it sends and what it gets, as JSON messages.
class PageTransport : public QWebChannelAbstractTransport {
public:
    void sendMessage(const QJsonObject &message) override { received << message; }
    QJsonObject send(const QJsonObject &message)
    {
        received.clear();
        emit messageReceived(message, this);
        return received.isEmpty() ? QJsonObject() : received.last();
    }
    QList<QJsonObject> received;
};

enum Message { Init = 3, InvokeMethod = 6, SetProperty = 9 };

class WebChannelSecurityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        channel.registerObject(QStringLiteral("host"), bridge);
        channel.connectTo(&page);
    }
    void TearDown() override { delete bridge; }

    QJsonObject invoke(int method, const QJsonArray &args = {})
    {
        return page.send({{"type", InvokeMethod}, {"object", "host"}, {"method", method},
                          {"args", args}, {"id", 2}});
    }
    int indexOf(const char *signature) const
    {
        return PageBridge::staticMetaObject.indexOfMethod(signature);
    }

    QStringList commands;
    QPointer<PageBridge> bridge = new PageBridge(
        [this](const QString &c, const QString &a) { commands << c + '|' + a; },
        [this](const QString &s, const QString &d) { commands << "state " + s + '|' + d; },
        nullptr);
    QWebChannel channel;
    PageTransport page;
};

TEST_F(WebChannelSecurityTest, PublishesOnlyTheCommandEntryAndQObjectsOwnMembers)
{
    const QJsonObject objects = page.send({{"type", Init}, {"id", 1}})["data"].toObject();
    ASSERT_EQ(objects.keys(), QStringList{"host"});
    const QJsonObject host = objects["host"].toObject();
    auto names = [&](const char *kind, int at) {
        std::set<QString> found;
        for (const QJsonValue &entry : host[QLatin1String(kind)].toArray())
            if (const QString name = entry.toArray()[at].toString(); !name.contains(u'('))
                found.insert(name);
        return found;
    };
    EXPECT_EQ(names("methods", 0), (std::set<QString>{"fsCommand", "playerState", "deleteLater"}));
    EXPECT_EQ(names("signals", 0), std::set<QString>{"destroyed"});
    EXPECT_EQ(names("properties", 1), std::set<QString>{"objectName"});
}

TEST_F(WebChannelSecurityTest, NothingElseThePageInvokesRemovesOrSilencesTheBridge)
{
    page.send({{"type", Init}, {"id", 1}});
    const QMetaObject &meta = PageBridge::staticMetaObject;
    for (int i = -1; i <= meta.methodCount(); ++i)
        if (i != indexOf("fsCommand(QString,QString)") && i != indexOf("playerState(QString,QString)"))
            invoke(i, {"quit", ""});
    page.send({{"type", SetProperty}, {"object", "host"}, {"property", 0}, {"value", "x"}});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    ASSERT_FALSE(bridge.isNull()) << "the page deleted the bridge";
    EXPECT_EQ(commands, QStringList());

    // The command entry still works, and a command runs from the event loop, not inside
    // the channel's own dispatch.
    invoke(indexOf("fsCommand(QString,QString)"), {"GetPlayerList", "after"});
    EXPECT_EQ(commands, QStringList());
    QCoreApplication::processEvents();
    EXPECT_EQ(commands, QStringList{"GetPlayerList|after"});
}

// --- Player names ------------------------------------------------------------------------

// Every entry of the test's data tree outside the save folder, with its size and time.
std::map<QString, QString> Outside(const QString &root, const QString &save)
{
    std::map<QString, QString> found;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path != save && !path.startsWith(save + '/'))
            found[path] = QString::number(it.fileInfo().size()) + ' ' +
                          QString::number(it.fileInfo().lastModified().toMSecsSinceEpoch());
    }
    return found;
}

struct NameCase {
    const char *label;
    friend void PrintTo(const NameCase &c, std::ostream *os) { *os << c.label; }
    QString name;
    bool refused; // otherwise the profile is NAME.xml in the save folder itself
};

class PlayerNameSecurityTest : public WindowTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(PlayerNameSecurityTest, NeverReachesOutsideTheSaveFolder)
{
    start();
    const QString save = window->SavePath();
    // Decoys where a name that escaped would land, and a folder to climb out through.
    ASSERT_TRUE(QDir(save).mkdir("a"));
    for (const QString &folder : {data.path(), data.filePath("AppData"),
                                  data.filePath("AppData/Roaming"), save})
        writeFile(folder + "/x.xml", "decoy\r\n");
    const auto outside = Outside(data.path(), save);
    const QStringList inside = QDir(save).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const QString &name = GetParam().name;
    auto run = [&](const char *command, const QString &argument) {
        ui.errors.clear();
        emit player->FSCommand(command, argument);
        return ui.errors.size();
    };

    const int refused = GetParam().refused ? 1 : 0;
    EXPECT_EQ(run("CreatePlayer", name), refused);
    EXPECT_TRUE(refused || QFile::exists(save + '/' + name + ".xml"));
    EXPECT_EQ(run("SaveLevelData", name + "|<level>9</level>"), refused);
    run("LoadLevelData", name); // a refused name is reported or reads nothing
    const QStringList read = player->answers("LevelLoadComplete");
    EXPECT_EQ(refused ? read.join(QString()) : read.join('|'), refused ? "" : "<level>9</level>\r\n");
    EXPECT_EQ(run("DeletePlayer", name), refused);

    EXPECT_EQ(Outside(data.path(), save), outside);
    EXPECT_EQ(QDir(save).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), inside);
    EXPECT_EQ(readFile(save + "/x.xml"), "decoy\r\n");
    EXPECT_FALSE(QFile::exists("/etc/x.xml"));
}

const QString Long = QString(300, u'n');

INSTANTIATE_TEST_SUITE_P(
    Names, PlayerNameSecurityTest,
    ::testing::Values(NameCase{"BackslashUp", "..\\x", true}, NameCase{"Absolute", "/etc/x", true},
                      NameCase{"DownAndUp", "a/../../x", true},
                      NameCase{"DownAndUpTwice", "a/../a/../../../x", true},
                      NameCase{"TrailingSlash", "x/", true},
                      NameCase{"TooLong", Long, true},
                      NameCase{"LongWithSlash", Long + "/../../x", true},
                      NameCase{"DotDot", "..", false}, NameCase{"Dot", ".", false},
                      NameCase{"Empty", "", false},
                      NameCase{"DivisionSlash", QString::fromUtf8("..\u2215..\u2215x"), false},
                      NameCase{"FullwidthSolidus", QString::fromUtf8("\uff0e\uff0e\uff0fx"), false},
                      NameCase{"FullwidthBackslash", QString::fromUtf8("..\uff3cx"), false},
                      NameCase{"FractionSlash", QString::fromUtf8("..\u2044x"), false}),
    fakes::ByLabel);

// --- Links ---------------------------------------------------------------------------------

class LinkSecurityTest : public WindowTest {};

TEST_F(LinkSecurityTest, ReachesTheBrowserWithoutThePlayersEmptyQuery)
{
    start();
    emit player->externalLinkRequested(QUrl("http://127.0.0.1:8/self?"));
    emit player->externalLinkRequested(QUrl("http://127.0.0.1:8/a?b=1"));
    EXPECT_EQ(log.starting("url.Open"),
              (QStringList{"url.Open http://127.0.0.1:8/self", "url.Open http://127.0.0.1:8/a?b=1"}));
}

} // namespace
