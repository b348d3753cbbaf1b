// What the movie and its page can reach: through the web channel only the command entry
// (the real channel and the real bridge, with a transport that plays the page's part),
// through player names only files inside the save folder; and what anyone on this machine
// gets from the page server: the page's own files, for this run's key, and nothing else.
#include "WindowTestFixture.h"

#include "shell/player/PageBridge.h"
#include "shell/player/PageServer.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QTemporaryDir>
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

// --- The page server ------------------------------------------------------------------

class PageServerSecurityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(dir.path()).mkpath("program/ruffle"));
        write("program/ruffle/ruffle.js", "player");
        write("program/morrow.swf", "FWS movie");
        write("secret.txt", "not for the page");
        ASSERT_TRUE(QFile::link(dir.path() + "/secret.txt", dir.path() + "/program/ruffle/out.js"));
        ASSERT_TRUE(server.start());
        server.setMovie(dir.path() + "/program/morrow.swf");
        server.setConfig("{\"x\":1}");
    }
    void write(const QString &name, const QByteArray &data)
    {
        QFile file(dir.path() + '/' + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }
    // What the page's engine sends: the method, our address and this run's key.
    QByteArray request(const QByteArray &target, const QByteArray &method = "GET",
                       const QByteArray &key = {}) const
    {
        return method + ' ' + target + " HTTP/1.1\r\nHost: lanternfall.invalid\r\n" +
               PageServer::KeyHeader + ": " + (key.isNull() ? server.key() : key) + "\r\n";
    }
    QByteArray root() const { return server.root().toLatin1(); }
    // Whatever the answer carries: its head, and the body or the file's content.
    QByteArray served(const QByteArray &head) const
    {
        const PageServer::Answer answer = server.answer(head);
        QFile file(answer.file);
        const bool content = !answer.file.isEmpty() && file.open(QIODevice::ReadOnly);
        return answer.head + answer.body + (content ? file.readAll() : QByteArray());
    }

    QTemporaryDir dir;
    PageServer server{dir.path() + "/program/ruffle"};
};

TEST_F(PageServerSecurityTest, ServesThePagesOwnFilesForThisRunsKeyOnly)
{
    EXPECT_TRUE(served(request(root() + "/ruffle/ruffle.js")).startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(served(request(root() + "/ruffle/ruffle.js")).endsWith("\r\n\r\nplayer"));
    EXPECT_TRUE(served(request(root() + "/ruffle/ruffle.js")).contains("immutable"));
    EXPECT_TRUE(served(request(root() + "/movie.swf")).endsWith("no-store\r\nX-Content-Type-"
                                                               "Options: nosniff\r\nConnection: "
                                                               "close\r\n\r\nFWS movie"));
    EXPECT_TRUE(served(request(root() + "/config.json")).endsWith("{\"x\":1}"));
    EXPECT_TRUE(served(request(root() + "/index.html")).contains("host.js"));

    const QByteArray refused =
        "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    const QByteArray other = QByteArray(server.key()).replace(0, 1, server.key()[0] == 'a' ? "b" : "a");
    for (const QByteArray &head : {
             request(root() + "/ruffle/ruffle.js", "GET", ""),           // no key
             request(root() + "/ruffle/ruffle.js", "GET", other),        // another run's
             request(root() + "/ruffle/ruffle.js", "GET", server.key() + "0"),
             QByteArray("GET " + root() + "/ruffle/ruffle.js HTTP/1.1\r\n"),
             request(root() + "/ruffle/ruffle.js", "POST"), request(root() + "/movie.swf", "HEAD"),
             request(root() + "/config.json", "PUT"), request(root() + "/movie.swf", "get"),
             request(root() + "/ruffle/../../secret.txt"), request(root() + "/../secret.txt"),
             request(root() + "/ruffle/%2e%2e%2f..%2fsecret.txt"),
             request(root() + "/ruffle/..%2F..%2Fsecret.txt"), request(root() + "/ruffle/out.js"),
             request(root() + "/ruffle/"), request(root() + "/ruffle/missing.js"),
             request(root() + "/ruffle//ruffle.js"), request(root() + "/index.html?x=1"),
             request(root() + "/morrow.swf"), request("/ruffle/ruffle.js"),
             request("/0000000000000000/ruffle/ruffle.js"),
             request("http://lanternfall.invalid" + root() + "/ruffle/ruffle.js"),
             request(root() + "/ruffle/ruffle.js").replace(" HTTP/1.1", " HTTP/2.0"),
             request(dir.path().toUtf8() + "/secret.txt")}) {
        EXPECT_EQ(served(head), refused) << head.constData();
    }
}

TEST_F(PageServerSecurityTest, AnswersOnTheLoopbackOnlyAndClosesEveryConnection)
{
    const auto fetch = [this](const QByteArray &head) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        if (!socket.waitForConnected(5000))
            return QByteArray("no connection");
        socket.write(head + "\r\n");
        QByteArray got;
        while (socket.waitForReadyRead(5000))
            got += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState ? got : "left open";
    };
    EXPECT_TRUE(fetch(request(root() + "/ruffle/ruffle.js")).endsWith("\r\n\r\nplayer"));
    EXPECT_TRUE(fetch(request(root() + "/ruffle/out.js")).startsWith("HTTP/1.1 404"));
    EXPECT_TRUE(fetch(QByteArray(20000, 'x')).startsWith("HTTP/1.1 404")); // no end of head

    QTcpSocket outside; // the machine's other addresses reach nothing
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.isLoopback())
            continue;
        outside.connectToHost(address, server.port());
        EXPECT_FALSE(outside.waitForConnected(2000)) << qPrintable(address.toString());
        outside.abort();
    }
}

} // namespace
